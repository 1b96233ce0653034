#include "shell/RecheckDriver.h"

#include "framework/Application.h"

#include <QScopedValueRollback>
#include <QTimer>
#include <algorithm>

namespace shell {

TRecheckDriver::TRecheckDriver(TRecheckSchedule &schedule, TMachineWatch *watch, QObject *parent)
    : QObject(parent), m_schedule(schedule), m_watch(watch)
{
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    // Checks minutes or a day apart need no precision: the system may gather wake-ups.
    m_timer->setTimerType(Qt::VeryCoarseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { fw::CallFromSignal(this, [this] { timerFired(); }); });
    if (m_watch) {
        m_watch->OnResumed = [this](fw::TObject *) { woken(); };
        m_watch->OnNetworkUp = [this](fw::TObject *) { woken(); };
    }
}

TRecheckDriver::~TRecheckDriver()
{
    if (m_watch) {
        m_watch->OnResumed = nullptr;
        m_watch->OnNetworkUp = nullptr;
    }
}

void TRecheckDriver::Rearm()
{
    if (m_firing)
        return;
    const qint64 wait = m_schedule.MsecsUntilDue();
    if (wait < 0) {
        m_timer->stop();
        m_waitingForNetwork = false;
        return;
    }
    // A timer of 0 ms: the check goes out from the event loop, never inside the caller's step.
    m_timer->start(static_cast<int>(std::min<qint64>(wait, kLongestWaitMs)));
}

void TRecheckDriver::Succeeded()
{
    m_schedule.Succeeded();
    Rearm();
}

void TRecheckDriver::Failed()
{
    m_schedule.Failed();
    Rearm();
}

void TRecheckDriver::Deferred()
{
    m_schedule.Deferred();
    Rearm();
}

void TRecheckDriver::woken()
{
    m_schedule.Woken();
    Rearm();
}

void TRecheckDriver::timerFired()
{
    if (m_schedule.MsecsUntilDue() != 0) {
        Rearm();  // not yet (a long wait in steps, or the clock moved)
        return;
    }
    // Never before the network is up: the watch's OnNetworkUp arms the timer again.
    m_waitingForNetwork = m_watch && !m_watch->MayCheck();
    if (m_waitingForNetwork) {
        ++m_heldBack;
        return;
    }
    {
        const QScopedValueRollback firing(m_firing, true);
        // A handler's failure is reported as any event's is, and the schedule goes on.
        fw::FireFromSignal(this, OnCheckDue, this);
    }
    // A handler that reported nothing (or failed) leaves the check due: a minute later, not at
    // once again.
    if (m_schedule.MsecsUntilDue() == 0)
        m_schedule.Deferred();
    Rearm();
}

}  // namespace shell
