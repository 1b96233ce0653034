// The re-checks put in motion: the schedule on a clock of the test's own, woken by logind and
// NetworkManager as python3-dbusmock plays them on a private bus. A wake-up or the network coming
// up starts an overdue check, but only once the network is up; without NetworkManager the
// schedule alone decides.
#include "common/Pump.h"
#include "fixtures/DbusMock.h"
#include "shell/RecheckDriver.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

using shell::TMachineWatch;
using shell::TNetworkState;
using shell::TRecheckDriver;
using shell::TRecheckSchedule;
using testutil::DbusMock;
using testutil::PumpUntil;

constexpr const char *kNetworkName = "org.freedesktop.NetworkManager";
constexpr const char *kLoginManager = "org.freedesktop.login1.Manager";

const QDateTime kNow = QDateTime(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);

class RecheckDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFileInfo::exists("/usr/bin/python3") || QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "no python3 or dbus-daemon (scripts/install-deps installs them)";
        ASSERT_TRUE(m_bus.Ok()) << "no session bus";
    }

    // The machine as the test sets it up: logind always, NetworkManager in `state` or none.
    void Machine(std::optional<uint> state)
    {
        m_login.emplace(m_bus, "logind", "org.freedesktop.login1", "/org/freedesktop/login1");
        ASSERT_TRUE(m_login->Start()) << m_login->StandardError().toStdString();
        if (state) {
            m_network.emplace(m_bus, "networkmanager", kNetworkName, "/org/freedesktop",
                              QString(R"({"State": %1})").arg(*state));
            ASSERT_TRUE(m_network->Start()) << m_network->StandardError().toStdString();
        }
        m_watch.emplace(m_bus.Bus());
    }
    // The program, its last success two days back: a check is overdue. Each check records the
    // network's state as it went out, and reports what the test says.
    TRecheckDriver &Program(std::function<void()> report)
    {
        m_schedule.emplace(
            1440, [this] { return m_now; }, [] { return 0.0; });
        m_schedule->Start(kNow.addDays(-2));
        m_driver.emplace(*m_schedule, &*m_watch);
        m_driver->OnCheckDue = [this, report](fw::TObject *) {
            m_checks.push_back(m_watch->Network());
            if (report)
                report();
        };
        m_driver->Rearm();
        return *m_driver;
    }
    void SetState(uint state) { testutil::SetNetworkManagerState(*m_network, state); }

    testutil::SessionBus m_bus;
    std::optional<DbusMock> m_login;
    std::optional<DbusMock> m_network;
    std::optional<TMachineWatch> m_watch;
    QDateTime m_now = kNow;
    std::optional<TRecheckSchedule> m_schedule;
    std::optional<TRecheckDriver> m_driver;
    std::vector<TNetworkState> m_checks;
};

TEST_F(RecheckDriver, AWakeUpWithTheNetworkDownWaitsUntilItComesUp)
{
    Machine(20);
    TRecheckDriver &driver = Program([this] { m_driver->Succeeded(); });
    ASSERT_TRUE(PumpUntil([&] { return driver.HeldBack() >= 1; }));
    EXPECT_TRUE(driver.WaitingForNetwork());

    // Woken, the network still down: held back again.
    ASSERT_TRUE(m_login->EmitSignal(kLoginManager, "PrepareForSleep", "b", {false}));
    ASSERT_TRUE(PumpUntil([&] { return driver.HeldBack() >= 2; }));

    SetState(70);
    ASSERT_TRUE(PumpUntil([&] { return !m_checks.empty(); }));
    EXPECT_EQ(m_checks, std::vector{TNetworkState::Up});
    EXPECT_FALSE(driver.WaitingForNetwork());
    EXPECT_EQ(m_schedule->LastSuccess(), kNow);
}

// Without NetworkManager nobody says the network is down: the overdue check goes out at once.
TEST_F(RecheckDriver, WithoutNetworkManagerTheScheduleAloneDecides)
{
    Machine(std::nullopt);
    TRecheckDriver &driver = Program([this] { m_driver->Succeeded(); });
    ASSERT_TRUE(PumpUntil([&] { return !m_checks.empty(); }));
    EXPECT_EQ(m_checks, std::vector{TNetworkState::Unknown});
    EXPECT_EQ(driver.HeldBack(), 0);
}

// A failed check comes back after its retry; a handler that reports nothing is taken a minute
// later, not again at once.
TEST_F(RecheckDriver, RetriesAfterAFailureAndDefersACheckNobodyReported)
{
    Machine(70);
    bool fail = true;
    bool report = true;
    Program([&] {
        if (!report)
            return;
        if (fail)
            m_driver->Failed();
        else
            m_driver->Succeeded();
    });
    ASSERT_TRUE(PumpUntil([&] { return m_checks.size() == 1; }));
    EXPECT_EQ(*m_schedule->NextDue(), m_now.addSecs(60));

    // The retry's minute passes on the schedule's clock.
    fail = false;
    m_now = m_now.addSecs(60);
    m_driver->Rearm();
    ASSERT_TRUE(PumpUntil([&] { return m_checks.size() == 2; }));
    EXPECT_EQ(m_schedule->LastSuccess(), m_now);
    EXPECT_FALSE(m_schedule->RetryPending());

    // Due again, and the handler says nothing.
    report = false;
    m_now = *m_schedule->NextDue();
    m_driver->Rearm();
    ASSERT_TRUE(PumpUntil([&] { return m_checks.size() == 3; }));
    EXPECT_EQ(*m_schedule->NextDue(), m_now.addSecs(60));
}

}  // namespace
