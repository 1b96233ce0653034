// The main form in the notification area: the tray icon, the tray menu with its drawn strip, the
// application events, and hiding and showing the window and its taskbar entry.
#include "framework/Application.h"
#include "shell/Pictures.h"
#include "shell/Pral.h"

#include <QApplication>
#include <QPainter>
#include <QScopeGuard>
#include <algorithm>

void TFPral::buildTray()
{
    RxTrayIcon1 = new fw::TRxTrayIcon(this, "RxTrayIcon1");
    RxTrayIcon1->SetHint(QStringLiteral("Drovanel"));
    RxTrayIcon1->SetIcon(fw::TrayIconIcon());
    QList<QIcon> frames;
    for (int frame = 0; frame < fw::kTrayFrameCount; ++frame)
        frames.append(fw::TrayIconIcon(frame));
    RxTrayIcon1->SetIcons(frames);
    RxTrayIcon1->SetInterval(150);
    RxTrayIcon1->SetAnimated(true);  // as built; the start-up switches it off
    RxTrayIcon1->OnClick = [this](fw::TObject *sender, fw::TMouseButton button, fw::TShiftState shift, int x, int y) {
        RxTrayIcon1Click(sender, button, shift, x, y);
    };
    RxTrayIcon1->OnDblClick = [this](fw::TObject *sender) { RxTrayIcon1DblClick(sender); };
    // The same still image, drawn at build time: the window manager takes every size at once.
    setWindowIcon(shell::WindowIcon());

    AppEvents = new fw::TAppEvents(this, "AppEvents");
    AppEvents->ShowMainForm = false;
    AppEvents->UpdateFormatSettings = false;
    AppEvents->HintPause = 400;
    AppEvents->OnActivate = [this](fw::TObject *sender) { AppEventsActivate(sender); };
    AppEvents->OnMinimize = [this](fw::TObject *sender) { AppEventsMinimize(sender); };
    AppEvents->OnRestore = [this](fw::TObject *sender) { AppEventsRestore(sender); };
    AppEvents->Apply();

    PopupMenu = new fw::TRxPopupMenu(this, "PopupMenu");
    PopupMenu->SetLeftMargin(30);
    PopupMenu->OnDrawMargin = [this](fw::TObject *sender, QPainter &canvas, const QRect &rect) {
        PopupMenuDrawMargin(sender, canvas, rect);
    };
    Activar1 = PopupMenu->Add("Activar1", "Descargar");
    Activar1->OnClick = [this](fw::TObject *sender) { Activar1Click(sender); };
    Pausa1 = PopupMenu->Add("Pausa1", "Pausa");
    for (int i = 0; i < 4; ++i)
        PopupMenu->Add("", "");
    N3 = PopupMenu->Add("N3", "-");
    RXWebSite1 = PopupMenu->Add("RXWebSite1", "Finalizar");
    RXWebSite1->OnClick = [this](fw::TObject *sender) { RXWebSite1Click(sender); };
    RxTrayIcon1->SetPopupMenu(PopupMenu);

    // Into the notification area now, before the creation handler decides about the window.
    RxTrayIcon1->Loaded();
}

void TFPral::RxTrayIcon1Click(fw::TObject *Sender, fw::TMouseButton, fw::TShiftState, int, int)
{
    SetWindowStateNormal();
    ShowTaskbarEntry();
    Show();
    Activar1Click(Sender);
}

void TFPral::RxTrayIcon1DblClick(fw::TObject *) {}

void TFPral::Activar1Click(fw::TObject *)
{
    AppEvents->ShowMainForm = true;
    // A window minimised into the tray comes back minimised unless its state is put back first.
    SetWindowStateNormal();
    ShowTaskbarEntry();
    Show();
    // Shown is not enough when the window is behind others: the user asked for it.
    raise();
    activateWindow();
}

void TFPral::RXWebSite1Click(fw::TObject *)
{
    Close();
}

void TFPral::Ocultar1Click(fw::TObject *)
{
    if (RxTrayIcon1->Added()) {
        Hide();
        return;
    }
    // No icon in the notification area to come back through: the taskbar entry must stay.
    setWindowState(windowState() | Qt::WindowMinimized);
}

void TFPral::AppEventsActivate(fw::TObject *)
{
    if (QWidget *active = QApplication::activeWindow())
        active->raise();
}

void TFPral::AppEventsMinimize(fw::TObject *)
{
    HideTaskbarEntry();
}

void TFPral::AppEventsRestore(fw::TObject *)
{
    ShowTaskbarEntry();
}

void TFPral::HideTaskbarEntry()
{
    // On X11 and Wayland the taskbar lists the window itself. Putting the minimised window away
    // (unmapped) takes its entry off the taskbar; the tray icon brings it back. Without an icon
    // in the notification area the entry is the only way back, so it stays.
    if (m_putAway || !isVisible() || !RxTrayIcon1->Added())
        return;
    m_putAway = true;
    Hide();
}

void TFPral::ShowTaskbarEntry()
{
    if (!m_putAway)
        return;
    m_putAway = false;
    // Coming back from the tray is a restore, not a new showing of the form: what the user had
    // in the controls stays, as it does for a window restored from the taskbar.
    const bool storing = FormStorage1->Active();
    FormStorage1->SetActive(false);
    const auto restore = qScopeGuard([this, storing] { FormStorage1->SetActive(storing); });
    Show();
}

void TFPral::activateFromSecondStart()
{
    fw::CallFromSignal(this, [this] { RxTrayIcon1Click(RxTrayIcon1, fw::mbLeft, {}, 0, 0); });
}

void TFPral::PopupMenuDrawMargin(fw::TObject *Sender, QPainter &Canvas, const QRect &Rect)
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
