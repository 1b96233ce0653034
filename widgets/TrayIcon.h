#pragma once
// The tray icon component: its published settings. Its place in the notification area, its
// animation worker and its mouse handling belong to the tray work and are not here yet.
#include "framework/Classes.h"

namespace fw {

class TRxTrayIcon : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Active MEMBER Active)
    Q_PROPERTY(QString Hint MEMBER Hint)
    Q_PROPERTY(bool Animated READ Animated WRITE SetAnimated)
    Q_PROPERTY(int Interval MEMBER Interval)
public:
    TRxTrayIcon(QObject *owner, std::string_view name) : TComponent(owner) { SetName(name); }

    bool Active = true;
    QString Hint;
    int Interval = 150;

    bool Animated() const { return m_animated; }
    void SetAnimated(bool animated) { m_animated = animated; }

private:
    bool m_animated = false;
};

}  // namespace fw
