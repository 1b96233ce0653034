// The new-map notification of the resident program through the main form, against a real FTP
// server and a notification server on a private session bus (python3-dbusmock's notification
// template): the program's own notification where a server runs (tray icon or not), Qt's balloon
// only where none does, its actions acting on the window and the download, and the notification
// withdrawn once the map is in place.
#include "RoadFixture.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "fixtures/DbusMock.h"
#include "fixtures/PyFtpServer.h"
#include "fixtures/UpdateServerTree.h"
#include "shell/Notifications.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <optional>

namespace {

using roadtest::RoadTest;
using testutil::DbusMock;
using testutil::PumpUntil;
using testutil::WriteFile;

const std::string kPassword = "61840293k";
const std::string kFirst = "Watcher-261201.mdb";
const std::string kProxyUser = "drovanel@" + TFPral::UpdateHost();
constexpr const char *kName = "org.freedesktop.Notifications";
constexpr const char *kPath = "/org/freedesktop/Notifications";

// The arguments of a Notify call, by their place in the method's signature.
enum NotifyArg { AppName, ReplacesId, AppIcon, Summary, Body, Actions };

class FormNotification : public RoadTest {
protected:
    void SetUp() override
    {
        RoadTest::SetUp();
        if (!QFileInfo::exists("/usr/bin/python3") || QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "no python3 or dbus-daemon (scripts/install-deps installs them)";
        ASSERT_TRUE(bus.Ok()) << "no session bus";
        shell::SetBuses(bus.Bus(), NoBus());
        tree.Publish(kFirst, "574C first\r\n");
        tree.News("Noticias\r\n");
        WriteFile(local("Watcher-010101.mdb"), "");
        ftp.emplace(serverRoot.path(), kProxyUser, kPassword);
        ASSERT_NE(ftp->Port(), 0);
    }
    void TearDown() override
    {
        form.reset();
        ftp.reset();
        RoadTest::TearDown();
    }

    // Starts the notification server (actions offered or not).
    DbusMock &Server(bool actions = true)
    {
        server.emplace(bus, "notification_daemon", kName, kPath,
                       actions ? R"({"capabilities": "body actions"})" : R"({"capabilities": "body"})");
        EXPECT_TRUE(server->Start()) << server->StandardError().toStdString();
        return *server;
    }

    // Started into the tray with the start-up check on, which finds the new map.
    void StartResident()
    {
        Start([this](TFPral &f) {
            f.Avisadores->SetItemIndex(1);
            ThroughProxy(ftp->Port(), true)(f);
            balloons = std::make_unique<QSignalSpy>(f.RxTrayIcon1, &fw::TRxTrayIcon::MessageShown);
        });
    }

    // The server's signal that the user chose `key` on the program's notification.
    void Choose(const char *key)
    {
        ASSERT_TRUE(PumpUntil([this] { return notifiedId() != 0; }));
        ASSERT_TRUE(server->EmitSignal(kName, "ActionInvoked", "us", {notifiedId(), QString(key)}));
    }
    std::uint32_t notifiedId() const { return form->Notifications().CurrentId(); }

    testutil::SessionBus bus;
    std::optional<DbusMock> server;
    testutil::TempDir serverRoot;
    testutil::UpdateServerTree tree{serverRoot.path()};
    std::optional<testutil::PyFtpServer> ftp;
    std::unique_ptr<QSignalSpy> balloons;
};

// Who tells of the new map: the program's own notification wherever a server runs, with the tray
// icon or without; Qt's balloon only where no server runs and an icon can carry it; never both.
TEST_F(FormNotification, GoesToTheServerWhereOneRunsAndToTheBalloonOnlyWithout)
{
    const struct {
        const char *name;
        bool server;
        bool tray;
        std::size_t notifies;
        qsizetype balloons;
    } cases[] = {
        {"ServerAndTray", true, true, 1, 0},
        {"ServerWithoutTray", true, false, 1, 0},
        {"TrayWithoutServer", false, true, 0, 1},
        {"Neither", false, false, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        tray.Set(c.tray);
        if (c.server)
            Server();
        StartResident();
        EXPECT_TRUE(form->Image2->Visible());
        if (c.server) {
            ASSERT_TRUE(server->AwaitCalls("Notify", c.notifies));
            const testutil::MockCall call = server->CallsOf("Notify").at(0);
            EXPECT_EQ(call.args[AppName].toString(), "Drovanel");
            EXPECT_EQ(call.args[Summary].toString(), "Drovanel");
            EXPECT_EQ(call.args[Body].toString(), QString::fromStdString("Existe nuevo mapa: " + kFirst));
            EXPECT_EQ(server->CallsOf("Notify").size(), c.notifies);
        }
        EXPECT_EQ(balloons->size(), c.balloons);
        form.reset();
        server.reset();
    }
}

// The notification's default action brings the window as a click on the tray icon does; its
// "Descargar" brings the window and downloads the map; the map in place withdraws it.
TEST_F(FormNotification, ItsActionsShowTheWindowAndDownload)
{
    DbusMock &notifications = Server();
    StartResident();
    ASSERT_TRUE(notifications.AwaitCalls("Notify", 1));
    ASSERT_FALSE(form->isVisible());

    Choose("default");
    ASSERT_TRUE(PumpUntil([this] { return form->isVisible(); }));
    EXPECT_TRUE(form->Image2->Visible()) << "the default action downloaded";
    form->Hide();

    Choose("descargar");
    ASSERT_TRUE(PumpUntil([this] { return !form->Image2->Visible(); }));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(errors(), std::vector<std::string>{});
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(local(kFirst))));
    ASSERT_TRUE(notifications.AwaitCalls("CloseNotification", 1));
    EXPECT_EQ(balloons->size(), 0);
}

// "Descargar" on the notification while a command holds the FTP client starts nothing more: the
// command's own run is left alone.
TEST_F(FormNotification, ItsDownloadWaitsForNoCommand)
{
    DbusMock &notifications = Server();
    StartResident();
    ASSERT_TRUE(notifications.AwaitCalls("Notify", 1));
    std::optional<shell::CommandRunner::Work> busy;
    busy.emplace(form->Commands());
    Choose("descargar");
    ASSERT_TRUE(PumpUntil([this] { return form->isVisible(); }));
    busy.reset();
    EXPECT_TRUE(form->Image2->Visible()) << "a download started while a command ran";
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(local(kFirst))));
}

// A notification server that comes once the map is known, on a desktop without a tray icon, still
// hears of it.
TEST_F(FormNotification, AServerThatComesLaterIsTold)
{
    tray.Set(false);
    StartResident();
    ASSERT_TRUE(form->Image2->Visible());
    DbusMock &notifications = Server();
    ASSERT_TRUE(notifications.AwaitCalls("Notify", 1));
    EXPECT_EQ(notifications.CallsOf("Notify").at(0).args[Body].toString(),
              QString::fromStdString("Existe nuevo mapa: " + kFirst));
    EXPECT_EQ(balloons->size(), 0);
}

}  // namespace
