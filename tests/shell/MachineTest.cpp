// The re-checks of the main form as the machine wakes them, against logind and NetworkManager on a
// private bus (python3-dbusmock's templates): a check that is due waits while the network is down,
// and the network coming up or the machine resuming brings it, never before the network is up.
#include "PralFixture.h"
#include "common/Pump.h"
#include "fixtures/DbusMock.h"
#include "shell/UpdateCheck.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <optional>

namespace {

using testutil::DbusMock;
using testutil::PumpUntil;

constexpr const char *kNetworkName = "org.freedesktop.NetworkManager";
constexpr const char *kLoginName = "org.freedesktop.login1";
constexpr const char *kLoginManager = "org.freedesktop.login1.Manager";
constexpr uint kDisconnected = 20;
constexpr uint kConnectedGlobal = 70;

class MachineRechecks : public PralTest {
protected:
    void SetUp() override
    {
        PralTest::SetUp();
        if (!QFileInfo::exists("/usr/bin/python3") || QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "no python3 or dbus-daemon (scripts/install-deps installs them)";
        ASSERT_TRUE(bus.Ok()) << "no bus";
        shell::SetBuses(NoBus(), bus.Bus());
        // The test's clock; a wake-up brings the check at once rather than within its minute.
        shell::SetRecheckClock([this] { return now; }, [] { return 0.0; });
        network.emplace(bus, "networkmanager", kNetworkName, "/org/freedesktop",
                        QString(R"({"State": %1})").arg(kDisconnected));
        ASSERT_TRUE(network->Start()) << network->StandardError().toStdString();
        login.emplace(bus, "logind", kLoginName, "/org/freedesktop/login1");
        ASSERT_TRUE(login->Start()) << login->StandardError().toStdString();
    }
    void TearDown() override
    {
        form.reset();
        shell::SetRecheckClock({});
        PralTest::TearDown();
    }
    void SetNetwork(uint state) { testutil::SetNetworkManagerState(*network, state); }

    testutil::SessionBus bus;
    std::optional<DbusMock> network;
    std::optional<DbusMock> login;
    std::unique_ptr<TestPral> form;
    testutil::TempDir maps;
    QDateTime now = QDateTime::currentDateTimeUtc();
};

TEST_F(MachineRechecks, AWakeUpChecksOnlyOnceTheNetworkIsUp)
{
    form = std::make_unique<TestPral>();
    form->DirectoryEdit1->SetText(maps.path());
    form->ComprobarChk->SetChecked(true);
    form->Minimizar->SetChecked(true);
    form->DoCreate();
    // The start-up check ran; it left no success behind (the counting form checks nothing), so a
    // re-check is due at once, and waits for the network.
    ASSERT_EQ(form->checks, 1);
    ASSERT_TRUE(form->RecheckTimer()->isActive());
    ASSERT_TRUE(PumpUntil([this] { return !form->RecheckTimer()->isActive() || form->checks > 1; }));
    EXPECT_EQ(form->checks, 1) << "a check went out while the network was down";

    // The machine resumes: the timer looks at once, and still finds no network.
    int fired = 0;
    QObject::connect(form->RecheckTimer(), &QTimer::timeout, form.get(), [&fired] { ++fired; });
    ASSERT_TRUE(login->EmitSignal(kLoginManager, "PrepareForSleep", "b", {false}));
    ASSERT_TRUE(PumpUntil([&fired] { return fired > 0; }));
    EXPECT_EQ(form->checks, 1) << "a check went out after the resume while the network was down";

    // The network comes up: the check comes.
    SetNetwork(kConnectedGlobal);
    EXPECT_TRUE(PumpUntil([this] { return form->checks == 2; }));
}

}  // namespace
