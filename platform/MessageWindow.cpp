#include "platform/MessageWindow.h"

#include "platform/WinMessage.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>
#include <QTimerEvent>
#include <unordered_set>

namespace platform {
namespace {

// Everything runs on the user-interface thread; these need no lock.
std::unordered_set<const MessageWindow *> &liveWindows()
{
    static std::unordered_set<const MessageWindow *> windows;
    return windows;
}
int g_timerLimit = -1;
int g_activeTimers = 0;
long g_setTimerCalls = 0;

}  // namespace

MessageWindow::MessageWindow(Handler handler, QObject *parent) : QObject(parent), m_handler(std::move(handler))
{
    liveWindows().insert(this);
}

MessageWindow::~MessageWindow()
{
    g_activeTimers -= static_cast<int>(m_timers.size());
    liveWindows().erase(this);
}

MessageWindow *MessageWindow::FromHandle(HWND handle)
{
    auto *w = reinterpret_cast<MessageWindow *>(handle);
    return liveWindows().count(w) ? w : nullptr;
}

LRESULT MessageWindow::Send(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return m_handler ? m_handler(msg, wParam, lParam) : DefWindowProc(Handle(), msg, wParam, lParam);
}

UINT_PTR MessageWindow::SetTimer(UINT_PTR id, UINT elapseMs)
{
    // Setting an existing timer again replaces it, as SetTimer does.
    if (auto it = m_timers.find(id); it != m_timers.end()) {
        QObject::killTimer(it->second);
        m_timers.erase(it);
        --g_activeTimers;
    }
    if (g_timerLimit >= 0 && g_activeTimers >= g_timerLimit)
        return 0;
    const int qtId = startTimer(static_cast<int>(elapseMs), Qt::CoarseTimer);
    if (qtId == 0)
        return 0;
    m_timers[id] = qtId;
    ++g_activeTimers;
    ++g_setTimerCalls;
    return id == 0 ? 1 : id;
}

bool MessageWindow::KillTimer(UINT_PTR id)
{
    auto it = m_timers.find(id);
    if (it == m_timers.end())
        return false;
    QObject::killTimer(it->second);
    m_timers.erase(it);
    --g_activeTimers;
    return true;
}

bool MessageWindow::event(QEvent *e)
{
    if (e->type() == WinMessageEventType) {
        const auto *m = static_cast<WinMessageEvent *>(e);
        m->Taken();  // the handler may want the poster to post again
        Send(m->message, m->wParam, m->lParam);
        return true;
    }
    return QObject::event(e);
}

void MessageWindow::timerEvent(QTimerEvent *e)
{
    for (const auto &[id, qtId] : m_timers) {
        if (qtId == e->timerId()) {
            const UINT_PTR timerId = id;  // the handler may kill the timer and invalidate the entry
            Send(WM_TIMER, timerId, 0);
            return;
        }
    }
}

BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    MessageWindow *w = MessageWindow::FromHandle(window);
    if (!w)
        return 0;
    QCoreApplication::postEvent(w, new WinMessageEvent(msg, wParam, lParam));
    return 1;
}

LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    MessageWindow *w = MessageWindow::FromHandle(window);
    return w ? w->Send(msg, wParam, lParam) : 0;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs)
{
    MessageWindow *w = MessageWindow::FromHandle(window);
    return w ? w->SetTimer(id, elapseMs) : 0;
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    MessageWindow *w = MessageWindow::FromHandle(window);
    return w && w->KillTimer(id) ? 1 : 0;
}

void ProcessMessages()
{
    // Posted events first (socket notices, posted messages), then whatever the dispatcher holds
    // (timers, socket notifiers, window-system input); repeated until nothing more is ready.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool WaitMessage(int maxWaitMs)
{
    auto *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) {
        ProcessMessages();
        return false;
    }
    bool expired = false;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [&expired] { expired = true; });
    bound.start(std::max(0, maxWaitMs));
    // Blocks in the dispatcher until something arrives: a posted event, a timer, a socket or input.
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::sendPostedEvents();
    return !expired;
}

void SetTimerLimit(int limit)
{
    g_timerLimit = limit;
}

int ActiveTimerCount()
{
    return g_activeTimers;
}

long SetTimerCallCount()
{
    return g_setTimerCalls;
}

}  // namespace platform
