// The one-second time-out counter of the sockets, ticking through the real message loop: its
// period, start, stop and restart, a refused platform timer, and a failing tick handler.
#include "common/ScriptedDialogs.h"
#include "framework/Exceptions.h"
#include "net/msTimers.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <thread>

namespace {

using net::TmsTimeCounter;

// Processes messages until the counter has seen `ticks` ticks since `from` (bounded).
void pumpTicks(TmsTimeCounter &counter, int from, int ticks)
{
    QElapsedTimer clock;
    clock.start();
    while (from - counter.Remaining() < ticks && clock.elapsed() < 10'000)
        platform::WaitMessage(2000);
}

struct TimerLimitGuard {
    explicit TimerLimitGuard(int limit) { platform::SetTimerLimit(limit); }
    ~TimerLimitGuard() { platform::SetTimerLimit(-1); }
};

TEST(TimeCounter, StartsIdleWithPeriodSixty)
{
    const int before = platform::ActiveTimerCount();
    TmsTimeCounter counter;
    EXPECT_EQ(counter.Period(), 60);
    EXPECT_EQ(counter.Remaining(), 0);
    EXPECT_FALSE(counter.Expired());
    EXPECT_FALSE(counter.Timer().Enabled());
    EXPECT_EQ(counter.Timer().Interval(), 1000u);
    EXPECT_EQ(platform::ActiveTimerCount(), before);
}

TEST(TimeCounter, PeriodZeroExpiresOnTheFirstTickAndKeepsFalling)
{
    TmsTimeCounter counter;
    counter.SetPeriod(0);
    counter.Start();
    EXPECT_FALSE(counter.Expired());
    pumpTicks(counter, 0, 1);
    EXPECT_TRUE(counter.Expired());
    EXPECT_EQ(counter.Remaining(), -1);
    EXPECT_TRUE(counter.Timer().Enabled()) << "the timer keeps running after expiry";
}

TEST(TimeCounter, StartAfterExpiryLeavesItExpiredUntilRestart)
{
    TmsTimeCounter counter;
    counter.SetPeriod(1);
    counter.Start();
    pumpTicks(counter, 1, 1);
    ASSERT_TRUE(counter.Expired());
    counter.Stop();
    counter.SetPeriod(5);
    counter.Start();
    EXPECT_EQ(counter.Remaining(), 5);
    EXPECT_TRUE(counter.Expired());
    counter.Restart();
    EXPECT_FALSE(counter.Expired());
    EXPECT_EQ(counter.Remaining(), 5);
}

TEST(TimeCounter, StopThenStartReloadsAndSetsANewPlatformTimer)
{
    TmsTimeCounter counter;
    counter.SetPeriod(10);
    counter.Start();
    pumpTicks(counter, 10, 1);
    EXPECT_EQ(counter.Remaining(), 9);
    counter.Stop();
    const long calls = platform::SetTimerCallCount();
    counter.Start();
    EXPECT_EQ(counter.Remaining(), 10);
    EXPECT_EQ(platform::SetTimerCallCount(), calls + 1);
}

TEST(TimeCounter, EnablingTwiceSetsThePlatformTimerOnce)
{
    TmsTimeCounter counter;
    const long calls = platform::SetTimerCallCount();
    counter.Timer().SetEnabled(true);
    counter.Timer().SetEnabled(true);
    EXPECT_EQ(platform::SetTimerCallCount(), calls + 1);
    counter.Restart();  // already enabled: keeps the timer's phase
    EXPECT_EQ(platform::SetTimerCallCount(), calls + 1);
}

TEST(TimeCounter, NoTickWhileNoMessagesAreProcessed)
{
    TmsTimeCounter counter;
    counter.SetPeriod(3);
    counter.Start();
    // Blocking the thread on purpose: ticks are messages, and nobody processes them now.
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_EQ(counter.Remaining(), 3);
    platform::ProcessMessages();
    EXPECT_EQ(counter.Remaining(), 2) << "the overdue tick arrives once, when messages are processed";
}

TEST(TimeCounter, RefusedPlatformTimerRaisesNotEnoughTimers)
{
    TmsTimeCounter counter;
    TimerLimitGuard noTimers(0);
    try {
        counter.Start();
        FAIL() << "Start succeeded without a timer";
    } catch (const fw::EOutOfResources &e) {
        EXPECT_EQ(e.Message(), "Not enough timers");
    }
    EXPECT_TRUE(counter.Timer().Enabled()) << "Enabled already holds the new value";
    EXPECT_NO_THROW(counter.Restart()) << "Restart leaves a timer that counts as enabled alone";
}

TEST(TimeCounter, ExceptionFromATickHandlerIsShownNotPropagated)
{
    testutil::ScriptedDialogs dialogs;
    net::TmsTimer timer;
    bool fired = false;
    timer.SetOnTimer([&](fw::TObject *sender) {
        EXPECT_EQ(sender, &timer);
        fired = true;
        throw fw::Exception("boom");
    });
    QElapsedTimer clock;
    clock.start();
    while (!fired && clock.elapsed() < 5000)
        platform::WaitMessage(2000);
    ASSERT_TRUE(fired);
    timer.SetEnabled(false);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "boom.");
}

}  // namespace
