// The re-check schedule of a resident program run on a clock of the test's own: how starts spread
// over the server's day, the retries after failures, the checks after a wake-up, and the stored
// time of the last success.
#include "shell/RecheckSchedule.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <vector>

namespace {

using shell::TRecheckSchedule;

const QDateTime kStart = QDateTime(QDate(2026, 12, 7), QTime(8, 59, 30), Qt::UTC);

// A clock that moves only when the test says, and a random source that draws what it is told
// (or 0.5 when told nothing).
struct FakeMachine {
    QDateTime now = kStart;
    std::vector<double> draws;

    TRecheckSchedule Schedule(int intervalMinutes)
    {
        return TRecheckSchedule(
            intervalMinutes, [this] { return now; },
            [this] {
                if (draws.empty())
                    return 0.5;
                const double next = draws.front();
                draws.erase(draws.begin());
                return next;
            });
    }
    double MinutesSinceStart(const QDateTime &when) const { return static_cast<double>(kStart.msecsTo(when)) / 60'000; }
};

double MinutesBetween(const QDateTime &from, const QDateTime &to)
{
    return static_cast<double>(from.msecsTo(to)) / 60'000;
}

// Ten thousand programs started within one second, each with its own random source, each
// checking at once and succeeding: their first re-checks spread over the tenth of the day after
// the interval, no minute taking more than 1.5% of them.
TEST(RecheckSchedule, StartsTogetherSpreadTheirFirstRecheck)
{
    constexpr int kStarts = 10'000;
    std::mt19937_64 seeds(20261207);
    std::map<qint64, int> perMinute;
    for (int i = 0; i < kStarts; ++i) {
        const QDateTime startedAt = kStart.addMSecs(i / 10);  // all within the first second
        std::mt19937_64 engine(seeds());
        std::uniform_real_distribution<double> draw(0.0, 1.0);
        TRecheckSchedule schedule(
            1440, [&startedAt] { return startedAt; }, [&] { return draw(engine); });
        schedule.Start(std::nullopt);
        ASSERT_EQ(schedule.NextDue(), startedAt);
        schedule.Succeeded();
        const double after = MinutesBetween(startedAt, *schedule.NextDue());
        ASSERT_GE(after, 1440.0);
        ASSERT_LT(after, 1440.0 * 1.1);
        ++perMinute[kStart.msecsTo(*schedule.NextDue()) / 60'000];
    }
    const auto busiest = std::max_element(perMinute.begin(), perMinute.end(),
                                          [](const auto &a, const auto &b) { return a.second < b.second; });
    EXPECT_LE(busiest->second, kStarts * 15 / 1000) << "minute " << busiest->first;
    EXPECT_GE(perMinute.size(), 140U);
}

// A server that refuses for its first hour, with the program checking at every due time: tried at
// 0, 1, 3, 7, 15, 31 and 63 minutes, then at the interval again. A short interval caps the waits.
TEST(RecheckSchedule, RetriesDoubleUpToTheIntervalAndStopAfterASuccess)
{
    const struct {
        int interval;
        int refusingMinutes;
        std::vector<double> tries;
    } cases[] = {
        {1440, 60, {0, 1, 3, 7, 15, 31, 63}},
        {10, 60, {0, 1, 3, 7, 15, 25, 35, 45, 55, 65}},
        {1440, 0, {0}},
        {1, 5, {0, 1, 2, 3, 4, 5}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.interval);
        FakeMachine machine;
        machine.draws.assign(100, 0.0);
        TRecheckSchedule schedule = machine.Schedule(c.interval);
        schedule.Start(std::nullopt);
        std::vector<double> tries;
        for (int i = 0; i < 50 && (tries.empty() || schedule.RetryPending()); ++i) {
            machine.now = *schedule.NextDue();
            tries.push_back(machine.MinutesSinceStart(machine.now));
            if (machine.now < kStart.addSecs(c.refusingMinutes * 60))
                schedule.Failed();
            else
                schedule.Succeeded();
        }
        EXPECT_EQ(tries, c.tries);
        EXPECT_EQ(schedule.LastSuccess(), machine.now);
        EXPECT_EQ(MinutesBetween(machine.now, *schedule.NextDue()), c.interval);
    }
}

TEST(RecheckSchedule, TheStartPlansFromTheStoredLastSuccess)
{
    const struct {
        const char *what;
        std::optional<QDateTime> lastSuccess;
        double dueInMinutes;  // from the start
    } cases[] = {
        {"never", std::nullopt, 0},
        {"an hour ago", kStart.addSecs(-3600), 1440 * 1.05 - 60},
        {"two days ago", kStart.addDays(-2), 0},
        {"exactly an interval ago", kStart.addDays(-1), 0},
        {"in the future: the clock was set back", kStart.addSecs(3600), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine machine;
        TRecheckSchedule schedule = machine.Schedule(1440);
        EXPECT_FALSE(schedule.NextDue());
        schedule.Start(c.lastSuccess);
        ASSERT_TRUE(schedule.NextDue());
        EXPECT_DOUBLE_EQ(machine.MinutesSinceStart(*schedule.NextDue()), c.dueInMinutes);
        EXPECT_EQ(schedule.MsecsUntilDue(), static_cast<qint64>(c.dueInMinutes * 60'000));
    }
}

// Resumed from sleep or back on the network: a check within a minute when one is overdue or a
// retry waits, otherwise the plan stands.
TEST(RecheckSchedule, AWakeUpBringsAnOverdueCheckOrAWaitingRetryForward)
{
    enum Before { Succeeded, Failed, FailedTwice };
    const struct {
        const char *what;
        Before before;
        int secondsLater;  // when the machine wakes, after that
        bool forward;
    } cases[] = {
        {"a success an hour before", Succeeded, 3600, false},
        {"a success 25 hours before (asleep)", Succeeded, 1500 * 60, true},
        // The planned check has passed while asleep: it is due at once already.
        {"a success two days before (asleep)", Succeeded, 2 * 1440 * 60, false},
        {"a retry waiting", Failed, 0, true},
        {"a retry due sooner than the draw", FailedTwice, 90, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine machine;
        TRecheckSchedule schedule = machine.Schedule(1440);
        schedule.Start(std::nullopt);
        schedule.Failed();
        if (c.before == Succeeded)
            schedule.Succeeded();
        if (c.before == FailedTwice)
            schedule.Failed();
        machine.now = machine.now.addSecs(c.secondsLater);
        const QDateTime planned = *schedule.NextDue();
        machine.draws = {0.75};
        EXPECT_EQ(schedule.Woken(), c.forward);
        if (c.forward)
            EXPECT_EQ(*schedule.NextDue(), machine.now.addSecs(45));
        else
            EXPECT_EQ(*schedule.NextDue(), planned);
        EXPECT_EQ(schedule.MsecsUntilDue(), std::max<qint64>(machine.now.msecsTo(*schedule.NextDue()), 0));
    }
}

TEST(RecheckSchedule, OffMeansNothingIsEverDue)
{
    FakeMachine machine;
    TRecheckSchedule schedule = machine.Schedule(0);
    schedule.Start(std::nullopt);
    EXPECT_FALSE(schedule.NextDue());
    schedule.Failed();
    EXPECT_FALSE(schedule.NextDue());
    EXPECT_FALSE(schedule.Woken());
    schedule.Succeeded();
    EXPECT_FALSE(schedule.NextDue());
    EXPECT_EQ(schedule.MsecsUntilDue(), -1);

    // Turned on again: planned from the success it remembers.
    schedule.SetInterval(60);
    ASSERT_TRUE(schedule.NextDue());
    EXPECT_DOUBLE_EQ(MinutesBetween(machine.now, *schedule.NextDue()), 63);
}

TEST(RecheckSchedule, ABusyProgramTakesTheCheckAMinuteLater)
{
    FakeMachine machine;
    TRecheckSchedule schedule = machine.Schedule(1440);
    schedule.Start(std::nullopt);
    schedule.Failed();
    machine.now = *schedule.NextDue();
    schedule.Deferred();
    EXPECT_EQ(*schedule.NextDue(), machine.now.addSecs(60));
    EXPECT_TRUE(schedule.RetryPending());
    // The doubling goes on from where it was.
    machine.now = *schedule.NextDue();
    schedule.Failed();
    EXPECT_EQ(*schedule.NextDue(), machine.now.addSecs(120));
}

TEST(RecheckSchedule, ANewIntervalCapsAWaitingRetryAndReplansAfterASuccess)
{
    FakeMachine machine;
    TRecheckSchedule schedule = machine.Schedule(1440);
    schedule.Start(std::nullopt);
    for (int i = 0; i < 8; ++i)
        schedule.Failed();  // the next retry in 128 minutes
    schedule.SetInterval(30);
    EXPECT_EQ(*schedule.NextDue(), machine.now.addSecs(30 * 60));

    schedule.Succeeded();
    schedule.SetInterval(120);
    EXPECT_DOUBLE_EQ(MinutesBetween(machine.now, *schedule.NextDue()), 126);
}

TEST(RecheckSchedule, TheLastSuccessIsStoredAsUtcToTheSecond)
{
    const QDateTime when(QDate(2026, 12, 11), QTime(10, 33, 14, 250), Qt::UTC);
    EXPECT_EQ(shell::LastCheckText(when), "2026-12-11T10:33:14Z");
    EXPECT_EQ(shell::LastCheckText(when.toOffsetFromUtc(3600)), "2026-12-11T10:33:14Z");
    EXPECT_EQ(shell::ParseLastCheck("2026-12-11T10:33:14Z"), when.addMSecs(-250));

    for (const char *bad : {"", "ayer", "2026-12-11", "2026-12-11T10:33:14", "2026-13-11T10:33:14Z",
                            "2026-12-11T10:33:14+01:00", " 2026-12-11T10:33:14Z", "1765449194"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(shell::ParseLastCheck(bad));
    }
}

TEST(RecheckSchedule, TheTooltipNamesTheLocalTimeOfTheLastSuccess)
{
    const QDateTime local(QDate(2026, 12, 11), QTime(9, 5, 59), Qt::LocalTime);
    EXPECT_EQ(shell::LastCheckHint(local.toUTC()), "Drovanel - última comprobación: 09:05");
}

}  // namespace
