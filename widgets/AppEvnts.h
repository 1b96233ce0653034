#pragma once
// The application-events component: applies application-wide settings once the main window has
// been built (automatic showing of the main form, reloading of locale formats, hint timing), and
// passes the application's activation, minimising and restoring on to its owner's handlers.
#include "framework/Classes.h"

namespace fw {

class TAppEvents : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool ShowMainForm MEMBER ShowMainForm)
    Q_PROPERTY(bool UpdateFormatSettings MEMBER UpdateFormatSettings)
    Q_PROPERTY(int HintPause MEMBER HintPause)
    Q_PROPERTY(int HintShortPause MEMBER HintShortPause)
    Q_PROPERTY(int HintHidePause MEMBER HintHidePause)
    Q_PROPERTY(bool ShowHint MEMBER ShowHint)
public:
    // The application is minimised when its main window (the owner, when it is a window) is.
    explicit TAppEvents(QObject *owner, std::string_view name);

    bool ShowMainForm = true;
    bool UpdateFormatSettings = true;
    int HintPause = 500;
    int HintShortPause = 50;
    int HintHidePause = 2500;
    bool ShowHint = true;

    // Hands the settings to the application.
    void Apply() const;

    // The application has become the active one.
    TNotifyEvent OnActivate;
    // The main window has been minimised.
    TNotifyEvent OnMinimize;
    // The main window has left the minimised state.
    TNotifyEvent OnRestore;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

}  // namespace fw
