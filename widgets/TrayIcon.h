#pragma once
// The tray icon component: the program's icon in the notification area, with its tooltip, its
// animation during transfers, its mouse handling and its popup menu. The images are drawn here
// too, at whatever size the notification area asks for.
#include "framework/Classes.h"

#include <QIcon>
#include <QImage>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>
#include <string_view>

namespace fw {

enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TShiftState = Qt::KeyboardModifiers;
using TMouseEvent = std::function<void(TObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

// The program's tray images, drawn for a square of `size` pixels: frame -1 is the static image,
// frames 0 to kTrayFrameCount - 1 the animation. The static image doubles as the application icon.
inline constexpr int kTrayFrameCount = 3;
// The sizes the icons offer, as trays and window managers ask for them.
inline constexpr int kTrayIconSizes[] = {16, 22, 24, 32, 48, 64};
QImage TrayIconImage(int size, int frame = -1);
// The same image as an icon that draws itself afresh at every size asked of it, so it stays crisp
// in a 16, 22 or 48 pixel tray alike.
QIcon TrayIconIcon(int frame = -1);

class TRxTrayIcon : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(bool Animated READ Animated WRITE SetAnimated)
    Q_PROPERTY(int Interval READ Interval WRITE SetInterval)
public:
    TRxTrayIcon(QObject *owner, std::string_view name);
    ~TRxTrayIcon() override;

    bool Active() const { return m_active; }
    void SetActive(bool active);
    const QString &Hint() const { return m_hint; }
    void SetHint(const QString &hint);
    // What the notification area shows as tooltip: the hint up to a "|", at most 63 characters.
    QString TipText() const;
    int Interval() const { return m_interval; }
    void SetInterval(int ms);
    const QIcon &Icon() const { return m_icon; }
    void SetIcon(const QIcon &icon);
    const QList<QIcon> &Icons() const { return m_icons; }
    void SetIcons(const QList<QIcon> &icons);
    QMenu *PopupMenu() const { return m_popupMenu.data(); }
    // The menu of the right button. Also handed to the notification area, which shows it itself:
    // an XEmbed area by Qt at the pointer, a StatusNotifierItem host through its exported copy.
    void SetPopupMenu(QMenu *menu);

    bool Animated() const { return m_animated; }
    // On: from frame 0, shown at once, then one frame every Interval milliseconds (only when
    // Icons holds a frame). Off: back to frame 0 and the static Icon.
    void SetAnimated(bool animated);

    // The owner calls this once its window has been built: an active icon enters the area.
    void Loaded();
    // The icon is in the notification area.
    bool Added() const { return m_added; }
    int FrameIndex() const { return m_frame; }
    // The image in use: -1 for Icon, otherwise the frame of Icons.
    int ShownImage() const { return m_animated ? m_frame : -1; }
    QSystemTrayIcon *NativeIcon() const { return m_native.get(); }

    // A desktop notification from the icon: handed to the desktop's notification server where
    // the area takes StatusNotifierItems, drawn as a balloon by Qt on an XEmbed area. False (and
    // nothing shown) while the icon is not in an area.
    bool ShowMessage(const QString &title, const QString &text);

    // Whether a notification area is there to take an icon. Tests put their own answer here.
    static void SetTrayProbe(std::function<bool()> probe);

    TMouseEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnBalloonClick;  // a click on a notification of ShowMessage

signals:
    // Each time the notification area is given the icon's image (on adding and on every update).
    void ImageShown(int image);
    // Each notification that ShowMessage hands to the desktop.
    void MessageShown(const QString &title, const QString &text);

private:
    void update();
    void tryAdd();
    void nextFrame();
    void activated(QSystemTrayIcon::ActivationReason reason);
    const QIcon &currentIcon() const;

    std::unique_ptr<QSystemTrayIcon> m_native;
    QTimer m_frameTimer;
    QPointer<QMenu> m_popupMenu;
    QIcon m_icon;
    QList<QIcon> m_icons;
    QString m_hint;
    int m_interval = 150;
    int m_frame = 0;
    bool m_active = true;
    bool m_animated = false;
    bool m_loaded = false;
    bool m_added = false;
};

}  // namespace fw
