#pragma once
// Hidden message windows, window timers and the message pump, on the Qt event loop.
//
// A message window is a QObject with a handle and a handler. Posting a message queues a
// WinMessageEvent for it; timers deliver WM_TIMER through the same loop. The handle is the
// window object's address, so a peer that knows only the handle (the socket stand-in) can post to
// it with QCoreApplication::postEvent.
#include "platform/WinTypes.h"

#include <QObject>
#include <functional>
#include <map>

namespace platform {

class MessageWindow final : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;

    explicit MessageWindow(Handler handler, QObject *parent = nullptr);
    ~MessageWindow() override;
    MessageWindow(const MessageWindow &) = delete;
    MessageWindow &operator=(const MessageWindow &) = delete;

    HWND Handle() const { return reinterpret_cast<HWND>(this); }
    // The live window with this handle, or nullptr for a handle that is not (or no longer) one.
    static MessageWindow *FromHandle(HWND handle);

    // Runs the handler at once (SendMessage).
    LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam);

    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs);
    bool KillTimer(UINT_PTR id);
    bool HasTimer(UINT_PTR id) const { return m_timers.count(id) != 0; }

protected:
    bool event(QEvent *e) override;
    void timerEvent(QTimerEvent *e) override;

private:
    Handler m_handler;
    std::map<UINT_PTR, int> m_timers;  // window timer id -> Qt timer id
};

// The Win32-shaped calls the rest of the program uses.
BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// Returns the timer id, or 0 when no timer can be had.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs);
BOOL KillTimer(HWND window, UINT_PTR id);

// Runs every message that is pending now and returns; never waits.
void ProcessMessages();
// Sleeps until the next message arrives or maxWaitMs pass, then runs what is pending. Returns
// false when the bound passed with nothing to do. Costs no CPU while it sleeps.
bool WaitMessage(int maxWaitMs);

// How many window timers may exist at once in this process (a test hook: 0 refuses every timer,
// as an exhausted system would). Negative means no limit, the default.
void SetTimerLimit(int limit);
int ActiveTimerCount();
// Total number of SetTimer calls that succeeded (lets tests see a timer being set again).
long SetTimerCallCount();

}  // namespace platform
