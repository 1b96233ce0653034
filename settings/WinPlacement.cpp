#include "settings/WinPlacement.h"

#include <QGuiApplication>
#include <QPoint>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace settings::win {
namespace {

// Windows keeps these per window; Qt has no place for them, so they ride on the widget.
constexpr const char *kMinPositionProperty = "drovanelMinPosition";
constexpr const char *kMaxPositionProperty = "drovanelMaxPosition";

POINT storedPoint(const QWidget *window, const char *property)
{
    const QVariant value = window->property(property);
    if (!value.canConvert<QPoint>() || !value.isValid())
        return POINT{-1, -1};  // what Windows reports for a position never set
    const QPoint p = value.toPoint();
    return POINT{p.x(), p.y()};
}

// The normal rectangle including the window frame, also while the window is minimised or maximised.
QRect normalFrame(const QWidget *window)
{
    // A minimised window keeps its geometry; only maximised and full-screen ones keep their normal
    // rectangle aside.
    if (!(window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return window->frameGeometry();
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    const QRect normal = window->normalGeometry();
    return normal.adjusted(frame.left() - client.left(), frame.top() - client.top(), frame.right() - client.right(),
                           frame.bottom() - client.bottom());
}

// A rectangle that lies on no screen moves to the primary screen's usable area.
QRect keptOnScreen(const QRect &rect)
{
    const auto screens = QGuiApplication::screens();
    for (const QScreen *screen : screens) {
        if (screen->availableGeometry().intersects(rect))
            return rect;
    }
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return rect;
    QRect moved = rect;
    moved.moveTopLeft(primary->availableGeometry().topLeft());
    return moved;
}

}  // namespace

bool GetWindowPlacement(const QWidget *window, WINDOWPLACEMENT *placement)
{
    if (!window || !placement)
        return false;
    const Qt::WindowStates state = window->windowState();
    placement->flags = 0;
    if ((state & Qt::WindowMinimized) && (state & Qt::WindowMaximized))
        placement->flags |= WPF_RESTORETOMAXIMIZED;
    // As on Windows, a hidden window reports the state it would be shown in.
    if (state & Qt::WindowMinimized)
        placement->showCmd = SW_SHOWMINIMIZED;
    else if (state & Qt::WindowMaximized)
        placement->showCmd = SW_SHOWMAXIMIZED;
    else
        placement->showCmd = SW_SHOWNORMAL;
    placement->ptMinPosition = storedPoint(window, kMinPositionProperty);
    placement->ptMaxPosition = storedPoint(window, kMaxPositionProperty);
    const QRect frame = normalFrame(window);
    placement->rcNormalPosition =
        RECT{frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
    return true;
}

bool SetWindowPlacement(QWidget *window, const WINDOWPLACEMENT *placement)
{
    if (!window || !placement)
        return false;
    window->setProperty(kMinPositionProperty, QPoint(placement->ptMinPosition.x, placement->ptMinPosition.y));
    window->setProperty(kMaxPositionProperty, QPoint(placement->ptMaxPosition.x, placement->ptMaxPosition.y));

    const UINT cmd = placement->showCmd;
    const bool minimise = cmd == SW_SHOWMINIMIZED || cmd == 6 /*SW_MINIMIZE*/ || cmd == 7 /*SW_SHOWMINNOACTIVE*/;
    const bool maximise = cmd == SW_SHOWMAXIMIZED;
    if (cmd != SW_HIDE && !minimise && !maximise)
        window->setWindowState(window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));

    const RECT &r = placement->rcNormalPosition;
    // In 64 bits and within a range no screen reaches: any stored rectangle, however extreme,
    // gives a window rectangle without overflow, which is then brought onto a screen.
    static constexpr std::int64_t kFar = 1 << 20;
    const auto clamped = [](std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, -kFar, kFar)); };
    const QRect wanted = keptOnScreen(QRect(clamped(r.left), clamped(r.top), clamped(std::int64_t{r.right} - r.left),
                                            clamped(std::int64_t{r.bottom} - r.top)));
    const QRect frame = window->frameGeometry();
    if (wanted.size() != frame.size() && wanted.width() > 0 && wanted.height() > 0) {
        const QSize extra = frame.size() - window->geometry().size();
        window->resize(wanted.size() - extra);
    }
    window->move(wanted.topLeft());

    if (cmd == SW_HIDE) {
        if (window->isVisible())
            window->hide();
        return true;
    }
    if (minimise)
        window->setWindowState(window->windowState() | Qt::WindowMinimized);
    else if (maximise)
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    if (!window->isVisible())
        window->show();
    return true;
}

bool IsWindowVisible(const QWidget *window)
{
    return window && window->isVisible();
}

bool IsIconic(const QWidget *window)
{
    return window && window->isMinimized();
}

int GetSystemMetrics(int index)
{
    switch (index) {
    case SM_CXSCREEN:
    case SM_CYSCREEN: {
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen)
            return 0;
        return index == SM_CXSCREEN ? screen->geometry().width() : screen->geometry().height();
    }
    case SM_CXBORDER:
    case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME:
    case SM_CYFRAME: return 4;
    default: return 0;
    }
}

int ScreenPixelsPerInch()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchY())) : 96;
}

BorderStyle BorderStyleOf(const QWidget *window)
{
    const Qt::WindowFlags flags = window->windowFlags();
    if (flags & Qt::FramelessWindowHint)
        return BorderStyle::None;
    const Qt::WindowType type = window->windowType();
    if (type == Qt::Dialog || type == Qt::Sheet)
        return BorderStyle::Dialog;
    if (type == Qt::Tool || (flags & Qt::MSWindowsFixedSizeDialogHint) ||
        window->minimumSize() == window->maximumSize())
        return BorderStyle::Single;
    return BorderStyle::Sizeable;
}

}  // namespace settings::win
