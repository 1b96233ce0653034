#pragma once
// One-second tick counters for the socket time-outs. The ticks are window messages (WM_TIMER on
// a hidden window of the timer's own), so a counter advances only while the thread processes its
// messages, which every waiting loop of the sockets does. Besides the idle time-out that every
// received byte restarts, a counter holds two bounds that bytes do not lift: a deadline on the
// monotonic clock (a step that must end by then however its bytes trickle) and a minimum rate (a
// transfer that moves less than so many bytes over a window has stalled).
#include "framework/Classes.h"
#include "platform/MessageWindow.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace net {

class TmsTimer : public QObject {
public:
    TmsTimer();
    ~TmsTimer() override;
    TmsTimer(const TmsTimer &) = delete;
    TmsTimer &operator=(const TmsTimer &) = delete;

    std::uint32_t Interval() const { return m_interval; }
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool value);
    const fw::TNotifyEvent &OnTimer() const { return m_onTimer; }
    void SetOnTimer(fw::TNotifyEvent handler);
    platform::HWND WindowHandle() const { return m_window->Handle(); }

protected:
    virtual void Timer();

private:
    void UpdateTimer();
    platform::LRESULT WndProc(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam);

    std::uint32_t m_interval = 1000;
    bool m_enabled = true;
    fw::TNotifyEvent m_onTimer;
    std::unique_ptr<platform::MessageWindow> m_window;
};

// A transfer that moves less than this many bytes a second, measured over a window of this
// length, has stalled (a server that trickles a few bytes is not waited for until it ends).
inline constexpr std::int64_t kMinTransferBytesPerSecond = 1024;
inline constexpr std::chrono::milliseconds kStallWindow = std::chrono::seconds(30);

class TmsTimeCounter {
public:
    using Clock = std::chrono::steady_clock;

    TmsTimeCounter();
    ~TmsTimeCounter() = default;
    TmsTimeCounter(const TmsTimeCounter &) = delete;
    TmsTimeCounter &operator=(const TmsTimeCounter &) = delete;

    void Start();
    void Stop();
    void Restart();

    std::int32_t Remaining() const { return m_remaining; }
    std::int32_t Period() const { return m_period; }
    void SetPeriod(std::int32_t ticks) { m_period = ticks; }
    // True once the idle time-out ran out, the deadline passed or the rate watch found a stall.
    bool Expired() const;
    TmsTimer &Timer() { return *m_timer; }

    // The moment by which the running step must end, whatever Restart says; none by default.
    std::optional<Clock::time_point> Deadline() const { return m_deadline; }
    void SetDeadline(std::optional<Clock::time_point> deadline) { m_deadline = deadline; }

    // Watches the rate from now on: each window (checked on the ticks) must see at least
    // `bytesPerSecond` times its length in seconds of progress (NoteProgress), or the counter
    // has stalled until the next watch. A rate of 0 stops watching.
    void WatchRate(std::int64_t bytesPerSecond, std::chrono::milliseconds window);
    // The bytes moved so far in all, as the transfer counts them.
    void NoteProgress(std::int64_t totalBytes) { m_totalBytes = totalBytes; }
    bool Stalled() const { return m_stalled; }
    std::int64_t MinimumRate() const { return m_minRate; }
    std::chrono::milliseconds RateWindow() const { return m_rateWindow; }

private:
    void Tick(fw::TObject *sender);

    std::unique_ptr<TmsTimer> m_timer;
    std::int32_t m_remaining = 0;
    std::int32_t m_period = 60;
    bool m_expired = false;
    std::optional<Clock::time_point> m_deadline;
    std::int64_t m_minRate = 0;
    std::chrono::milliseconds m_rateWindow{0};
    Clock::time_point m_windowStart;
    std::int64_t m_windowStartBytes = 0;
    std::int64_t m_totalBytes = 0;
    bool m_stalled = false;
};

}  // namespace net
