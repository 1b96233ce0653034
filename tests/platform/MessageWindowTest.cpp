// The message windows and timers that stand in for the Windows ones: posting and delivery order
// through the Qt event loop, dead handles, WM_TIMER, the timer limit, and waiting without spinning.
#include "common/CpuTime.h"
#include "platform/MessageWindow.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;

namespace {

struct Seen {
    UINT msg;
    WPARAM w;
    LPARAM l;
};

}  // namespace

TEST(MessageWindow, PostedMessageArrivesThroughTheLoopInOrder)
{
    std::vector<Seen> seen;
    MessageWindow window([&](UINT m, WPARAM w, LPARAM l) {
        seen.push_back({m, w, l});
        return LRESULT{0};
    });
    EXPECT_TRUE(PostMessage(window.Handle(), WM_USER + 1, 7, -3));
    EXPECT_TRUE(PostMessage(window.Handle(), WM_USER + 2, 8, 9));
    EXPECT_TRUE(seen.empty()) << "posting must not run the handler";
    ProcessMessages();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].msg, WM_USER + 1);
    EXPECT_EQ(seen[0].w, 7u);
    EXPECT_EQ(seen[0].l, -3);
    EXPECT_EQ(seen[1].msg, WM_USER + 2);
}

TEST(MessageWindow, DeadHandleIsRefusedAndDefaultResultIsZero)
{
    HWND handle = 0;
    {
        MessageWindow window(nullptr);
        handle = window.Handle();
        EXPECT_EQ(SendMessage(handle, WM_USER, 0, 0), 0);  // no handler: default handling
    }
    EXPECT_FALSE(PostMessage(handle, WM_USER, 0, 0));
    EXPECT_EQ(SetTimer(handle, 1, 10), 0u);
    EXPECT_EQ(MessageWindow::FromHandle(handle), nullptr);
}

TEST(MessageWindow, TimerDeliversWmTimerWithItsIdUntilKilled)
{
    int ticks = 0;
    MessageWindow window([&](UINT m, WPARAM w, LPARAM) {
        if (m == WM_TIMER && w == 5)
            ++ticks;
        return LRESULT{0};
    });
    ASSERT_EQ(SetTimer(window.Handle(), 5, 20), 5u);
    QElapsedTimer clock;
    clock.start();
    while (ticks < 3 && clock.elapsed() < 5000)
        WaitMessage(1000);
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(KillTimer(window.Handle(), 5));
    EXPECT_FALSE(KillTimer(window.Handle(), 5));
    const int before = ticks;
    WaitMessage(100);
    EXPECT_EQ(ticks, before);
}

TEST(MessageWindow, TimerLimitRefusesTimers)
{
    MessageWindow window(nullptr);
    SetTimerLimit(0);
    EXPECT_EQ(SetTimer(window.Handle(), 1, 1000), 0u);
    SetTimerLimit(-1);
    EXPECT_EQ(SetTimer(window.Handle(), 1, 1000), 1u);
    EXPECT_EQ(ActiveTimerCount(), 1);
}

TEST(MessageWindow, WaitReturnsWhenAMessageArrives)
{
    bool got = false;
    MessageWindow window([&](UINT, WPARAM, LPARAM) {
        got = true;
        return LRESULT{0};
    });
    QTimer::singleShot(50, [&] { PostMessage(window.Handle(), WM_USER, 0, 0); });
    QElapsedTimer clock;
    clock.start();
    while (!got && clock.elapsed() < 5000)
        WaitMessage(5000);
    EXPECT_TRUE(got);
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST(MessageWindow, WaitWithNothingToDoSleepsWithoutSpendingCpu)
{
    ProcessMessages();
    const auto cpuBefore = testutil::ProcessCpuTime();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1000)
        WaitMessage(static_cast<int>(1000 - clock.elapsed()));
    const auto cpu = testutil::ProcessCpuTime() - cpuBefore;
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_LT(cpu.count(), 50'000) << "a one-second wait used " << cpu.count() << " us of CPU";
}
