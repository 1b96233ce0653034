#pragma once
// The application object: title, message loop, message processing, termination and the central
// display of exceptions that leave event handlers.
#include "framework/Classes.h"

#include <exception>
#include <functional>
#include <string>

namespace fw {

class TApplication {
public:
    const std::string &Title() const { return m_title; }
    void SetTitle(std::string title) { m_title = std::move(title); }

    // Runs the message loop until Terminate. Returns at once when already terminated.
    void Run();
    // Runs every message pending now, then returns.
    void ProcessMessages();
    // Ends the message loop (at once when it runs, or before it starts).
    void Terminate();
    bool Terminated() const { return m_terminated; }
    // Clears the terminated state (for tests that run several loops in one process).
    void ResetTerminated() { m_terminated = false; }

    // Shows the exception being handled (call from a catch block) in the standard error report,
    // or hands it to OnException when assigned. Never throws.
    void HandleException(TObject *sender);
    void ShowException(const std::exception &e);

    std::function<void(TObject *Sender, const std::exception &E)> OnException;
    // Called once when Terminate ends the loop, before Run returns.
    TNotifyEvent OnTerminate;

private:
    std::string m_title = "Drovanel";
    bool m_terminated = false;
    bool m_running = false;
};

// The one application object of the process.
TApplication &Application();

// Runs a step from a signal or an event handler of the widget toolkit, a window message, a posted
// call or a destructor. No exception may cross Qt's event loop (or leave a destructor), so one that
// leaves the step goes to the standard error report, as from any other handler. Returns false when
// it did, for a caller whose next step depends on the step having finished (a close that must not
// happen).
template <typename Step> bool CallFromSignal(TObject *sender, Step &&step)
{
    try {
        std::forward<Step>(step)();
        return true;
    } catch (...) {
        Application().HandleException(sender);
        return false;
    }
}

// Fires an event the same way (CallFromSignal).
template <typename Event, typename... Args> bool FireFromSignal(TObject *sender, const Event &event, Args &&...args)
{
    return CallFromSignal(sender, [&] { Fire(event, std::forward<Args>(args)...); });
}

}  // namespace fw
