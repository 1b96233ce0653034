// The watch on the machine's sleep and network against logind and NetworkManager as
// python3-dbusmock plays them, on a private bus: the network's state read and followed, a
// NetworkManager that is absent, comes later or restarts, and the wake-ups that count.
#include "common/Pump.h"
#include "fixtures/DbusMock.h"
#include "shell/MachineWatch.h"

#include <QDBusConnectionInterface>
#include <gtest/gtest.h>
#include <optional>

namespace {

using shell::TMachineWatch;
using shell::TNetworkState;
using testutil::DbusMock;
using testutil::PumpUntil;

constexpr const char *kNetworkName = "org.freedesktop.NetworkManager";
constexpr const char *kLoginName = "org.freedesktop.login1";
constexpr const char *kLoginManager = "org.freedesktop.login1.Manager";

class MachineWatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFileInfo::exists("/usr/bin/python3") || QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "no python3 or dbus-daemon (scripts/install-deps installs them)";
        ASSERT_TRUE(m_bus.Ok()) << "no session bus";
    }

    DbusMock &NetworkManager(uint state)
    {
        m_network.emplace(m_bus, "networkmanager", kNetworkName, "/org/freedesktop",
                          QString(R"({"State": %1})").arg(state));
        return *m_network;
    }
    DbusMock &Login()
    {
        m_login.emplace(m_bus, "logind", kLoginName, "/org/freedesktop/login1");
        return *m_login;
    }
    TMachineWatch &Watch()
    {
        m_watch.emplace(m_bus.Bus());
        m_watch->OnResumed = [this](fw::TObject *) { ++m_resumed; };
        m_watch->OnNetworkUp = [this](fw::TObject *) { ++m_ups; };
        return *m_watch;
    }
    void SetState(uint state) { testutil::SetNetworkManagerState(*m_network, state); }

    testutil::SessionBus m_bus;
    std::optional<DbusMock> m_network;
    std::optional<DbusMock> m_login;
    std::optional<TMachineWatch> m_watch;
    int m_resumed = 0;
    int m_ups = 0;
};

TEST(NetworkState, OnlyAGlobalConnectionIsUp)
{
    const struct {
        uint state;
        TNetworkState network;
    } cases[] = {
        {0, TNetworkState::Unknown}, {10, TNetworkState::Down}, {20, TNetworkState::Down}, {30, TNetworkState::Down},
        {40, TNetworkState::Down},   {50, TNetworkState::Down}, {60, TNetworkState::Down}, {70, TNetworkState::Up},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.state);
        EXPECT_EQ(shell::NetworkFromManagerState(c.state), c.network);
    }
}

TEST_F(MachineWatch, ReadsTheNetworksStateAtOnceAndFollowsIt)
{
    const struct {
        uint initial;
        TNetworkState network;
    } cases[] = {{70, TNetworkState::Up}, {20, TNetworkState::Down}, {60, TNetworkState::Down}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.initial);
        DbusMock &network = NetworkManager(c.initial);
        ASSERT_TRUE(network.Start()) << network.StandardError().toStdString();
        m_ups = 0;
        TMachineWatch &watch = Watch();
        EXPECT_EQ(watch.Network(), c.network);
        EXPECT_EQ(watch.MayCheck(), c.network == TNetworkState::Up);

        SetState(40);
        ASSERT_TRUE(PumpUntil([&] { return watch.Network() == TNetworkState::Down; }));
        SetState(70);
        ASSERT_TRUE(PumpUntil([&] { return watch.Network() == TNetworkState::Up; }));
        EXPECT_TRUE(watch.MayCheck());
        EXPECT_EQ(m_ups, 1);
        m_watch.reset();
        m_network.reset();
    }
}

// Without NetworkManager nobody says the network is down: the schedule alone decides. One that
// starts later, or restarts, is followed.
TEST_F(MachineWatch, WithoutNetworkManagerTheNetworkIsUnknownUntilOneComes)
{
    TMachineWatch &watch = Watch();
    EXPECT_EQ(watch.Network(), TNetworkState::Unknown);
    EXPECT_TRUE(watch.MayCheck());

    DbusMock &network = NetworkManager(20);
    ASSERT_TRUE(network.Start()) << network.StandardError().toStdString();
    ASSERT_TRUE(PumpUntil([&] { return watch.Network() == TNetworkState::Down; }));
    EXPECT_FALSE(watch.MayCheck());

    network.Stop();
    ASSERT_TRUE(PumpUntil([&] { return watch.Network() == TNetworkState::Unknown; }));
    EXPECT_EQ(m_ups, 0);

    DbusMock &again = NetworkManager(70);
    ASSERT_TRUE(again.Start()) << again.StandardError().toStdString();
    ASSERT_TRUE(PumpUntil([&] { return watch.Network() == TNetworkState::Up; }));
    EXPECT_EQ(m_ups, 1);
}

// Only logind's word that the machine woke counts: going to sleep, or another program's signal of
// the same name, is no wake-up.
TEST_F(MachineWatch, AWakeUpIsLogindsPrepareForSleepFalse)
{
    DbusMock &login = Login();
    ASSERT_TRUE(login.Start()) << login.StandardError().toStdString();
    Watch();

    ASSERT_TRUE(login.EmitSignal(kLoginManager, "PrepareForSleep", "b", {true}));
    {
        QDBusConnection impostor = QDBusConnection::connectToBus(m_bus.Address(), "drovanel-impostor");
        ASSERT_TRUE(impostor.isConnected());
        QDBusMessage woke = QDBusMessage::createSignal("/org/freedesktop/login1", kLoginManager, "PrepareForSleep");
        woke << false;
        ASSERT_TRUE(impostor.send(woke));
        // Answered by the bus after the signal: it has been passed on by then.
        ASSERT_TRUE(impostor.interface()->isServiceRegistered(kLoginName).value());
        QDBusConnection::disconnectFromBus("drovanel-impostor");
    }
    ASSERT_TRUE(login.EmitSignal(kLoginManager, "PrepareForSleep", "b", {false}));
    ASSERT_TRUE(PumpUntil([this] { return m_resumed > 0; }));
    EXPECT_EQ(m_resumed, 1);
}

}  // namespace
