#pragma once
// The main form in the notification area: the tray icon with its animation, tooltip and
// notification, the tray menu with its drawn strip, the application events, and hiding and
// showing the window and its taskbar entry.
#include "framework/Classes.h"

#include <QPainter>

class TFPral;

namespace shell {

class UpdateState;
class TDesktopNotifier;

class Tray {
public:
    // Builds the icon, the application events and the tray menu, and puts the icon into the
    // notification area; `form` owns the tray and outlives it.
    explicit Tray(TFPral &form);

    // A click on the icon, on the notification or a second start: the window comes forward.
    void Click();
    // "Descargar" of the tray menu brings the window up and forward.
    void Activate();
    // "Ocultar": into the tray, or minimised when no icon could take the window back.
    void HideWindow();
    // The application events.
    void ApplicationActivated();
    void ApplicationMinimized();
    void ApplicationRestored();
    // The program's entry in the taskbar. Where the window itself is the entry, hiding it puts the
    // minimised window away into the tray; that needs an icon in the notification area.
    void HideTaskbarEntry();
    void ShowTaskbarEntry();
    bool TaskbarEntryHidden() const { return m_putAway; }
    // The tray menu's strip: a green gradient with the program's name reading upwards.
    static void DrawMargin(fw::TObject *Sender, QPainter &Canvas, const QRect &Rect);
    // Shows the update state: the tooltip names a map that waits, and a newly waiting map is told
    // once a run in a desktop notification: the program's own where a notification server runs
    // (with or without a tray icon), else Qt's balloon where an icon can carry it. The
    // notification goes once the map is in place.
    void ShowUpdateState(UpdateState &state);
    // The program's own notification (shell/Notifications.h).
    TDesktopNotifier &Notifier() const { return *m_notifier; }

private:
    // "Descargar" on the notification: the window, and the download as the button starts it.
    void DownloadFromNotification();

    TFPral &m_form;
    TDesktopNotifier *m_notifier;
    bool m_putAway = false;  // minimised into the tray, see HideTaskbarEntry
};

}  // namespace shell
