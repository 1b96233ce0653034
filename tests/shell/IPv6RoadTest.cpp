// The whole road over today's networks: the update server reached at an IPv6 address, straight and
// through the proxy setting, a proxy setting that names no host, and a name lookup that never
// answers while the window lives on. Names are looked up in a hosts file of the test's own (the
// socket library's DROVANEL_WINSOCK_HOSTS), never in the machine's resolver.
#include "RoadFixture.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "fixtures/PyFtpServer.h"
#include "fixtures/UpdateServerTree.h"
#include "platform/Termination.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QTimer>
#include <cstdlib>

namespace {

using roadtest::RoadTest;
using testutil::ReadFile;
using testutil::WriteFile;
using Texts = std::vector<std::string>;

const std::string kNewest = "Watcher-090101.mdb";
const std::string kPassword = "61840293k";

// Points the socket library's lookups at a hosts file of the test's own while it lives.
class HostsFile {
public:
    explicit HostsFile(const std::string &lines)
    {
        WriteFile(m_dir.file("hosts"), lines);
        ::setenv("DROVANEL_WINSOCK_HOSTS", m_dir.file("hosts").c_str(), 1);
    }
    ~HostsFile() { ::unsetenv("DROVANEL_WINSOCK_HOSTS"); }
    HostsFile(const HostsFile &) = delete;
    HostsFile &operator=(const HostsFile &) = delete;

private:
    testutil::TempDir m_dir;
};

class IPv6Road : public RoadTest {
protected:
    void SetUp() override
    {
        RoadTest::SetUp();
        tree.Publish("Watcher-030101.mdb", "old");
        tree.Publish(kNewest, "574C Mapa de puntos\r\n-0312345+40412V1,120,A-6\r\n");
        tree.News("Nuevo mapa\r\n");
        WriteFile(local("Watcher-030101.mdb"), "574C the previous map\r\n");
    }

    testutil::TempDir serverRoot;
    testutil::UpdateServerTree tree{serverRoot.path()};
};

// Each case a form of its own: a form's last save would carry its settings into the next one.
class IPv6RoadWays : public IPv6Road, public ::testing::WithParamInterface<bool> {};

TEST_P(IPv6RoadWays, ChecksAndDownloadsFromAnIPv6Address)
{
    const bool viaProxy = GetParam();
    const std::string user = viaProxy ? "drovanel@" + TFPral::UpdateHost() : "drovanel";
    testutil::PyFtpServer server(serverRoot.path(), user, kPassword, "::1");
    ASSERT_NE(server.Port(), 0);
    Start([&](TFPral &f) {
        if (viaProxy) {
            f.ProxyServerEdit1->SetText("::1");
            f.ProxyPortEdit1->SetValue(server.Port());
            f.ServerTypeRadioGroup->SetItemIndex(0);
        }
    });
    if (!viaProxy)
        form->msFTPClient1->SetHost("[::1]:" + std::to_string(server.Port()));
    form->cxButton1->Click();
    EXPECT_EQ(errors(), Texts{});
    EXPECT_TRUE(form->msFTPClient1->Peer().IsIPv6());
    EXPECT_EQ(form->msFTPClient1->Peer().Text(), "::1");
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(local(kNewest))));
}

INSTANTIATE_TEST_SUITE_P(Ways, IPv6RoadWays, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "ThroughTheProxySetting" : "Straight"; });

// A proxy setting that names no host is an error that says so, never a silent direct connection
// to the update server (which here would answer).
TEST_F(IPv6Road, ProxySettingWithoutAHostIsAnError)
{
    testutil::PyFtpServer server(serverRoot.path(), "drovanel", kPassword);
    ASSERT_NE(server.Port(), 0);
    Start([&](TFPral &f) {
        f.ProxyServerEdit1->SetText(":" + std::to_string(server.Port()));
        f.ProxyPortEdit1->SetValue(server.Port());
    });
    Direct(server.Port());
    form->cxButton1->Click();
    EXPECT_EQ(errors(), Texts{"The proxy \":" + std::to_string(server.Port()) + "\" names no host."});
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(local(kNewest))));
}

// A resolver that never answers: the window's timers run during the lookup, the client's time-out
// ends the check with the lookup's error, and a close ends the wait at once.
TEST_F(IPv6Road, LookupThatNeverAnswers)
{
    HostsFile hosts("hang updates.test\n");
    {
        Start();
        form->msFTPClient1->SetHost("updates.test");
        form->msFTPClient1->SetTimeOut(1);
        bool ticked = false;
        QTimer::singleShot(100, [&] { ticked = true; });
        form->cxButton1->Click();
        EXPECT_TRUE(ticked) << "the event loop ran during the lookup";
        EXPECT_EQ(errors(),
                  Texts{shell::CommandRunner::LookupFailedText("[11002] Non-Authoritative Host not found") + "."});
        form.reset();
        dialogs.shown.clear();
    }
    {
        Start();
        form->msFTPClient1->SetHost("updates.test");
        form->msFTPClient1->SetTimeOut(60);  // not waited out: the close cancels the wait
        bool closedAtOnce = true;
        QTimer::singleShot(200, [&] { closedAtOnce = form->Close(); });
        form->cxButton1->Click();
        EXPECT_FALSE(closedAtOnce);
        EXPECT_EQ(errors(), Texts{}) << "the cancel that ending caused is no error";
        ASSERT_TRUE(testutil::PumpUntil([] { return fw::Application().Terminated(); }, 5000));
    }
}

// "Salir" and a termination signal (as the desktop session's end) while the start-up check waits
// for a lookup of the proxy's name that never answers: the program ends at once.
class EndingDuringALookup : public IPv6Road, public ::testing::WithParamInterface<bool> {};

TEST_P(EndingDuringALookup, EndsAtOnce)
{
    const bool bySignal = GetParam();
    HostsFile hosts("hang proxy.test\n");
    platform::InstallTerminationSignals([] { fw::Application().Terminate(); });
    const auto restore = qScopeGuard([] { platform::InstallTerminationSignals([] {}); });
    QTimer ending;
    ending.setSingleShot(true);
    Start([&](TFPral &f) {
        f.ProxyServerEdit1->SetText("proxy.test");
        f.ProxyPortEdit1->SetValue(21);
        f.ComprobarChk->SetChecked(true);
        f.msFTPClient1->SetTimeOut(60);  // not waited out
        QObject::connect(&ending, &QTimer::timeout, [bySignal, &f] {
            if (bySignal)
                ::raise(SIGTERM);
            else
                f.Salir1->Click();
        });
        ending.start(200);
    });
    // The start-up check returned: its lookup was cancelled, not waited out.
    EXPECT_TRUE(fw::Application().Terminated());
    EXPECT_EQ(errors(), Texts{}) << "the cancel that ending caused is no error";
}

INSTANTIATE_TEST_SUITE_P(Ending, EndingDuringALookup, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Signal" : "Salir"; });

}  // namespace
