#include "shell/Tray.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "shell/Desktop.h"
#include "shell/Notifications.h"
#include "shell/Pictures.h"
#include "shell/Pral.h"
#include "shell/RecheckSchedule.h"
#include "shell/Updates.h"

#include <QApplication>
#include <QScopeGuard>
#include <algorithm>

namespace shell {

Tray::Tray(TFPral &form) : m_form(form), m_notifier(new TDesktopNotifier(DesktopBus(), &form))
{
    auto *icon = new fw::TRxTrayIcon(&form, "RxTrayIcon1");
    m_form.RxTrayIcon1 = icon;
    icon->SetHint(QStringLiteral("Drovanel"));
    icon->SetIcon(fw::TrayIconIcon());
    QList<QIcon> frames;
    for (int frame = 0; frame < fw::kTrayFrameCount; ++frame)
        frames.append(fw::TrayIconIcon(frame));
    icon->SetIcons(frames);
    icon->SetInterval(150);
    icon->SetAnimated(true);  // as built; the start-up switches it off
    icon->OnClick = [&form](fw::TObject *sender, fw::TMouseButton button, fw::TShiftState shift, int x, int y) {
        form.RxTrayIcon1Click(sender, button, shift, x, y);
    };
    icon->OnDblClick = [&form](fw::TObject *sender) { form.RxTrayIcon1DblClick(sender); };
    // A click on the notification of a new map brings the window, as a click on the icon does.
    icon->OnBalloonClick = [this](fw::TObject *) { Click(); };
    m_notifier->OnDefaultAction = [this](fw::TObject *) { Click(); };
    m_notifier->OnDownloadAction = [this](fw::TObject *) { DownloadFromNotification(); };
    // A server that comes (or comes back) while a map waits untold hears of it.
    m_notifier->OnServerChanged = [this](fw::TObject *) {
        if (m_notifier->Available())
            ShowUpdateState(m_form.Estado);
    };
    // The same still image, drawn at build time: the window manager takes every size at once.
    form.setWindowIcon(WindowIcon());

    auto *events = new fw::TAppEvents(&form, "AppEvents");
    m_form.AppEvents = events;
    events->ShowMainForm = false;
    events->UpdateFormatSettings = false;
    events->HintPause = 400;
    events->OnActivate = [&form](fw::TObject *sender) { form.AppEventsActivate(sender); };
    events->OnMinimize = [&form](fw::TObject *sender) { form.AppEventsMinimize(sender); };
    events->OnRestore = [&form](fw::TObject *sender) { form.AppEventsRestore(sender); };
    events->Apply();

    auto *menu = new fw::TRxPopupMenu(&form, "PopupMenu");
    m_form.PopupMenu = menu;
    menu->SetLeftMargin(30);
    menu->OnDrawMargin = [&form](fw::TObject *sender, QPainter &canvas, const QRect &rect) {
        form.PopupMenuDrawMargin(sender, canvas, rect);
    };
    m_form.Activar1 = menu->Add("Activar1", "Descargar");
    m_form.Activar1->OnClick = [&form](fw::TObject *sender) { form.Activar1Click(sender); };
    m_form.Pausa1 = menu->Add("Pausa1", "Pausa");
    for (int i = 0; i < 4; ++i)
        menu->Add("", "");
    m_form.ComprobarAhora2 = menu->Add("ComprobarAhora2", "Comprobar ahora");
    m_form.ComprobarAhora2->OnClick = [&form](fw::TObject *sender) { form.ComprobarAhora1Click(sender); };
    m_form.N3 = menu->Add("N3", "-");
    m_form.RXWebSite1 = menu->Add("RXWebSite1", "Finalizar");
    m_form.RXWebSite1->OnClick = [&form](fw::TObject *sender) { form.RXWebSite1Click(sender); };
    icon->SetPopupMenu(menu);

    // Into the notification area now, before the creation handler decides about the window.
    icon->Loaded();
}

void Tray::Click()
{
    m_form.SetWindowStateNormal();
    ShowTaskbarEntry();
    m_form.Show();
    Activate();
}

void Tray::Activate()
{
    m_form.AppEvents->ShowMainForm = true;
    // A window minimised into the tray comes back minimised unless its state is put back first.
    m_form.SetWindowStateNormal();
    ShowTaskbarEntry();
    m_form.Show();
    // Shown is not enough when the window is behind others: the user asked for it.
    m_form.raise();
    m_form.activateWindow();
}

void Tray::HideWindow()
{
    if (m_form.RxTrayIcon1->Added()) {
        m_form.Hide();
        return;
    }
    // No icon in the notification area to come back through: the taskbar entry must stay.
    m_form.setWindowState(m_form.windowState() | Qt::WindowMinimized);
}

void Tray::ApplicationActivated()
{
    if (QWidget *active = QApplication::activeWindow())
        active->raise();
}

void Tray::ApplicationMinimized()
{
    HideTaskbarEntry();
}

void Tray::ApplicationRestored()
{
    ShowTaskbarEntry();
}

void Tray::HideTaskbarEntry()
{
    // On X11 and Wayland the taskbar lists the window itself. Putting the minimised window away
    // (unmapped) takes its entry off the taskbar; the tray icon brings it back. Without an icon
    // in the notification area the entry is the only way back, so it stays.
    if (m_putAway || !m_form.isVisible() || !m_form.RxTrayIcon1->Added())
        return;
    m_putAway = true;
    m_form.Hide();
}

void Tray::ShowTaskbarEntry()
{
    if (!m_putAway)
        return;
    m_putAway = false;
    // Coming back from the tray is a restore, not a new showing of the form: what the user had
    // in the controls stays, as it does for a window restored from the taskbar.
    settings::TFormStorage &storage = *m_form.FormStorage1;
    const bool storing = storage.Active();
    storage.SetActive(false);
    const auto restore = qScopeGuard([&storage, storing] { storage.SetActive(storing); });
    m_form.Show();
}

void Tray::ShowUpdateState(UpdateState &state)
{
    const bool waits = state.NewMapWaits();
    const std::string &name = state.Published();
    // The new map while one waits, else when the server was last reached.
    const std::optional<QDateTime> &lastCheck = m_form.FUltimaComprobacion;
    m_form.RxTrayIcon1->SetHint(waits       ? fw::FromAnsi(NewMapHint(name))
                                : lastCheck ? QString::fromStdString(LastCheckHint(*lastCheck))
                                            : QString::fromLatin1(kTrayTitle));
    if (!waits) {
        // The map it announced is in place: the notification has nothing more to say.
        m_notifier->Close();
        return;
    }
    if (state.Told(name))
        return;
    // Once a run for each published name (a newer one replaces it on the screen). Never both the
    // program's own and Qt's balloon: the balloon only where no notification server runs, and
    // only where an icon can carry it; without either the window's mark is all there is.
    const QString title = QString::fromLatin1(kTrayTitle);
    const QString text = fw::FromAnsi(NewMapText(name));
    if (m_notifier->Available() ? m_notifier->Notify(title, text) : m_form.RxTrayIcon1->ShowMessage(title, text))
        state.SetTold(name);
}

void Tray::DownloadFromNotification()
{
    Activate();
    // As the button would: not while a command (a check, a download) has the FTP client.
    if (!m_form.FtpBusy() && !m_form.Ending())
        m_form.cxButton1->Click();
}

void Tray::DrawMargin(fw::TObject *Sender, QPainter &Canvas, const QRect &Rect)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    font.setBold(true);
    Canvas.setFont(font);
    Canvas.setPen(Qt::white);

    // A vertical gradient of at most 32 solid bands of equal height, green to a quarter of it;
    // the rows that the bands leave at the bottom take the last colour.
    const QColor top(0, 255, 0);
    const QColor bottom(top.red() / 4, top.green() / 4, top.blue() / 4);
    const QRect fill(Rect.left(), Rect.top(), Rect.width() - 3, Rect.height());
    const int bands = std::min(32, fill.height());
    if (bands > 0 && fill.width() > 0) {
        const int bandHeight = fill.height() / bands;
        const auto step = [bands](int from, int to, int i) {
            return bands == 1 ? from : from + (to - from) * i / (bands - 1);
        };
        for (int i = 0; i < bands; ++i) {
            const QColor colour(step(top.red(), bottom.red(), i), step(top.green(), bottom.green(), i),
                                step(top.blue(), bottom.blue(), i));
            Canvas.fillRect(fill.left(), fill.top() + i * bandHeight, fill.width(), bandHeight, colour);
        }
        const int rest = fill.top() + bands * bandHeight;
        Canvas.fillRect(fill.left(), rest, fill.width(), fill.top() + fill.height() - rest, bottom);
    }
    const auto *widget = qobject_cast<const QWidget *>(Sender);
    const QPalette palette = widget ? widget->palette() : QApplication::palette();
    Canvas.fillRect(Rect.right() - 1, Rect.top(), 1, Rect.height(), palette.color(QPalette::Dark));
    Canvas.fillRect(Rect.right(), Rect.top(), 1, Rect.height(), palette.color(QPalette::Light));

    // The name reads upwards, its first letter 5 pixels above the bottom, the cell's top on the
    // strip's left edge.
    Canvas.save();
    Canvas.setClipRect(Rect);
    Canvas.translate(Rect.left(), Rect.top() + Rect.height() - 5);
    Canvas.rotate(-90);
    Canvas.drawText(QPoint(0, Canvas.fontMetrics().ascent()), QStringLiteral("Drovanel GPS"));
    Canvas.restore();
}

}  // namespace shell
