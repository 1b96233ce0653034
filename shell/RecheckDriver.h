#pragma once
// The re-checks of a resident program put in motion: a timer on the schedule (RecheckSchedule.h),
// woken by the machine watch (MachineWatch.h), that says when a check is due and may go out now,
// never while the network is down. The caller runs the check from OnCheckDue (or finds itself
// busy) and reports the outcome here; nothing here touches the network.
#include "framework/Classes.h"
#include "shell/MachineWatch.h"
#include "shell/RecheckSchedule.h"

#include <QObject>

class QTimer;

namespace shell {

class TRecheckDriver : public QObject {
    Q_OBJECT
public:
    // The longest the timer waits before it looks at the clock again: the schedule is on the wall
    // clock, the timer on one that stops while the machine sleeps and cannot wait a whole long
    // interval in one go.
    static constexpr int kLongestWaitMs = 60 * 60 * 1000;

    // Drives `schedule` (started by the caller), woken by `watch` when there is one (it takes the
    // watch's OnResumed and OnNetworkUp events). Both outlive the driver.
    TRecheckDriver(TRecheckSchedule &schedule, TMachineWatch *watch, QObject *parent = nullptr);
    ~TRecheckDriver() override;
    TRecheckDriver(const TRecheckDriver &) = delete;
    TRecheckDriver &operator=(const TRecheckDriver &) = delete;

    // Arms the timer for the schedule's next check; after a change made to the schedule directly
    // (a new interval, the start).
    void Rearm();
    // What became of the check OnCheckDue asked for (a check the program ran on its own, the
    // user's "Comprobar ahora", counts too): passed to the schedule, and the timer armed again.
    void Succeeded();
    void Failed();
    void Deferred();

    // A check is due but waits for the network; how often a due check was held back so.
    bool WaitingForNetwork() const { return m_waitingForNetwork; }
    // The timer, armed for the next look at the schedule.
    QTimer *Timer() const { return m_timer; }
    int HeldBack() const { return m_heldBack; }

    // A check is due and may go out now. A handler that reports nothing has deferred it.
    fw::TNotifyEvent OnCheckDue;

private:
    void timerFired();
    void woken();

    TRecheckSchedule &m_schedule;
    TMachineWatch *m_watch;
    QTimer *m_timer = nullptr;
    bool m_firing = false;  // OnCheckDue runs: the timer is armed once it returns
    bool m_waitingForNetwork = false;
    int m_heldBack = 0;
};

}  // namespace shell
