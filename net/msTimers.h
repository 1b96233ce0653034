#pragma once
// One-second tick counters for the socket time-outs. The ticks are window messages (WM_TIMER on
// a hidden window of the timer's own), so a counter advances only while the thread processes its
// messages, which every waiting loop of the sockets does.
#include "framework/Classes.h"
#include "platform/MessageWindow.h"

#include <cstdint>
#include <memory>

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
    platform::HWND WindowHandle() const { return m_window->handle(); }

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

class TmsTimeCounter {
public:
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
    bool Expired() const { return m_expired; }
    TmsTimer &Timer() { return *m_timer; }

private:
    void Tick(fw::TObject *sender);

    std::unique_ptr<TmsTimer> m_timer;
    std::int32_t m_remaining = 0;
    std::int32_t m_period = 60;
    bool m_expired = false;
};

}  // namespace net
