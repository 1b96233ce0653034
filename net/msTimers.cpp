#include "net/msTimers.h"

#include "framework/Application.h"
#include "framework/Exceptions.h"

namespace net {
namespace {
constexpr platform::UINT_PTR kTimerId = 1;
}

TmsTimer::TmsTimer()
    : m_window(std::make_unique<platform::MessageWindow>(
          [this](platform::UINT msg, platform::WPARAM w, platform::LPARAM l) { return WndProc(msg, w, l); }))
{
}

TmsTimer::~TmsTimer()
{
    m_enabled = false;
    try {
        UpdateTimer();
    } catch (...) {
        // Disabling never asks for a timer, so nothing can be refused here.
    }
}

void TmsTimer::SetEnabled(bool value)
{
    if (value == m_enabled)
        return;
    m_enabled = value;
    UpdateTimer();
}

void TmsTimer::SetOnTimer(fw::TNotifyEvent handler)
{
    m_onTimer = std::move(handler);
    UpdateTimer();
}

void TmsTimer::UpdateTimer()
{
    platform::KillTimer(m_window->Handle(), kTimerId);
    if (m_interval != 0 && m_enabled && m_onTimer) {
        if (platform::SetTimer(m_window->Handle(), kTimerId, m_interval) == 0)
            throw fw::EOutOfResources("Not enough timers");
    }
}

void TmsTimer::Timer()
{
    fw::Fire(m_onTimer, this);
}

platform::LRESULT TmsTimer::WndProc(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (msg != platform::WM_TIMER)
        return platform::DefWindowProc(m_window->Handle(), msg, wParam, lParam);
    fw::CallFromSignal(this, [this] { Timer(); });
    return 0;
}

TmsTimeCounter::TmsTimeCounter() : m_timer(std::make_unique<TmsTimer>())
{
    m_timer->SetEnabled(false);
    m_timer->SetOnTimer([this](fw::TObject *sender) { Tick(sender); });
}

void TmsTimeCounter::Start()
{
    m_remaining = m_period;
    m_timer->SetEnabled(true);
}

void TmsTimeCounter::Stop()
{
    m_timer->SetEnabled(false);
}

void TmsTimeCounter::Restart()
{
    m_remaining = m_period;
    m_expired = false;
    if (!m_timer->Enabled())
        m_timer->SetEnabled(true);
}

bool TmsTimeCounter::Expired() const
{
    return m_expired || m_stalled || (m_deadline && Clock::now() >= *m_deadline);
}

void TmsTimeCounter::WatchRate(std::int64_t bytesPerSecond, std::chrono::milliseconds window)
{
    m_minRate = bytesPerSecond;
    m_rateWindow = window;
    m_windowStart = Clock::now();
    m_windowStartBytes = m_totalBytes;
    m_stalled = false;
}

void TmsTimeCounter::Tick(fw::TObject *)
{
    --m_remaining;
    if (m_remaining <= 0)
        m_expired = true;
    if (m_minRate <= 0 || m_stalled)
        return;
    // The clock, not the ticks, measures the window: ticks come only while a wait runs.
    const auto now = Clock::now();
    if (now - m_windowStart < m_rateWindow)
        return;
    const auto windowMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_windowStart).count();
    if ((m_totalBytes - m_windowStartBytes) * 1000 < m_minRate * windowMs) {
        m_stalled = true;
        return;
    }
    m_windowStart = now;
    m_windowStartBytes = m_totalBytes;
}

}  // namespace net
