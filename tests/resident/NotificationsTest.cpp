// The program's own desktop notification against a notification server on a private session bus
// (python3-dbusmock's notification template): what it sends, which actions it offers, that a
// newer one replaces it, that only the server's signals about our own notification count, and
// that a server that restarts or comes later is found again.
#include "common/Pump.h"
#include "fixtures/DbusMock.h"
#include "shell/Notifications.h"

#include <QDBusConnectionInterface>
#include <gtest/gtest.h>
#include <optional>

namespace {

using shell::TDesktopNotifier;
using testutil::DbusMock;
using testutil::MockCall;
using testutil::PumpUntil;

constexpr const char *kName = "org.freedesktop.Notifications";
constexpr const char *kPath = "/org/freedesktop/Notifications";
constexpr const char *kCapsWithActions = R"({"capabilities": "body actions"})";
constexpr const char *kCapsWithout = R"({"capabilities": "body body-markup"})";

// The arguments of a Notify call, by their place in the method's signature.
enum NotifyArg { AppName, ReplacesId, AppIcon, Summary, Body, Actions, Hints, Timeout };

class Notifications : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFileInfo::exists("/usr/bin/python3") || QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "no python3 or dbus-daemon (scripts/install-deps installs them)";
        ASSERT_TRUE(m_bus.Ok()) << "no session bus";
    }

    DbusMock &Server(const char *capabilities = kCapsWithActions)
    {
        m_server.emplace(m_bus, "notification_daemon", kName, kPath, capabilities);
        return *m_server;
    }

    // A notifier on the private bus whose events are counted.
    TDesktopNotifier &Notifier()
    {
        m_notifier.emplace(m_bus.Bus());
        m_notifier->OnDefaultAction = [this](fw::TObject *) { ++m_defaults; };
        m_notifier->OnDownloadAction = [this](fw::TObject *) { ++m_downloads; };
        m_notifier->OnClosed = [this](fw::TObject *) { ++m_closed; };
        return *m_notifier;
    }

    // Notifies and waits until the server has answered with the notification's id.
    std::uint32_t Shown(DbusMock &server, const QString &summary)
    {
        const std::size_t before = server.CallsOf("Notify").size();
        EXPECT_TRUE(m_notifier->Notify(summary, "cuerpo"));
        EXPECT_TRUE(server.AwaitCalls("Notify", before + 1));
        EXPECT_TRUE(PumpUntil([this] { return m_notifier->CurrentId() != 0; }));
        return m_notifier->CurrentId();
    }

    testutil::SessionBus m_bus;
    std::optional<DbusMock> m_server;
    std::optional<TDesktopNotifier> m_notifier;
    int m_defaults = 0;
    int m_downloads = 0;
    int m_closed = 0;
};

TEST_F(Notifications, GoesOutAsTheProgramsOwnWithNormalUrgencyAndTheDesktopEntry)
{
    DbusMock &server = Server();
    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    TDesktopNotifier &notifier = Notifier();
    ASSERT_TRUE(notifier.Available());

    ASSERT_NE(Shown(server, "Nuevo mapa"), 0U);
    const MockCall call = server.CallsOf("Notify").at(0);
    ASSERT_EQ(call.args.size(), 8);
    EXPECT_EQ(call.args[AppName].toString(), "Drovanel");
    EXPECT_EQ(call.args[ReplacesId].toUInt(), 0U);
    EXPECT_EQ(call.args[AppIcon].toString(), "drovanel");
    EXPECT_EQ(call.args[Summary].toString(), "Nuevo mapa");
    EXPECT_EQ(call.args[Body].toString(), "cuerpo");
    const QVariantMap hints = call.args[Hints].toMap();
    EXPECT_EQ(hints.value("urgency").toInt(), 1);
    EXPECT_EQ(hints.value("desktop-entry").toString(), "es.drovanel.Drovanel");
    EXPECT_EQ(call.args[Timeout].toInt(), -1);
}

// Actions go only to a server that says it shows them.
TEST_F(Notifications, OffersActionsOnlyWhereTheServerListsThem)
{
    const struct {
        const char *capabilities;
        QStringList actions;
    } cases[] = {
        {kCapsWithActions, {"default", "Abrir", "descargar", "Descargar"}},
        {kCapsWithout, {}},
        {R"({"capabilities": ""})", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.capabilities);
        DbusMock &server = Server(c.capabilities);
        ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
        Notifier();
        Shown(server, "Nuevo mapa");
        ASSERT_EQ(server.CallsOf("GetCapabilities").size(), 1U);
        EXPECT_EQ(server.CallsOf("Notify").at(0).args[Actions].toStringList(), c.actions);
        m_notifier.reset();
        m_server.reset();
    }
}

// Two newer maps in one run make one notification: the second replaces the first, whether the
// first was already shown or still on its way (then only the latest goes out at all).
TEST_F(Notifications, ANewerOneReplacesTheShownOne)
{
    DbusMock &server = Server();
    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    TDesktopNotifier &notifier = Notifier();

    const std::uint32_t first = Shown(server, "Mapa 1");
    const std::uint32_t second = Shown(server, "Mapa 2");
    const auto calls = server.CallsOf("Notify");
    ASSERT_EQ(calls.size(), 2U);
    EXPECT_EQ(calls[1].args[ReplacesId].toUInt(), first);
    EXPECT_EQ(calls[1].args[Summary].toString(), "Mapa 2");
    EXPECT_EQ(second, first);
    EXPECT_EQ(notifier.CurrentId(), first);
}

TEST_F(Notifications, OnlyTheLatestOfThoseAskedForTogetherGoesOut)
{
    DbusMock &server = Server();
    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    TDesktopNotifier &notifier = Notifier();

    ASSERT_TRUE(notifier.Notify("Mapa 1", "cuerpo"));
    ASSERT_TRUE(notifier.Notify("Mapa 2", "cuerpo"));
    ASSERT_TRUE(notifier.Notify("Mapa 3", "cuerpo"));
    ASSERT_TRUE(PumpUntil([&] { return notifier.CurrentId() != 0; }));
    // Calls go one at a time, so any earlier one would have come before the last.
    const auto calls = server.CallsOf("Notify");
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0].args[Summary].toString(), "Mapa 3");

    Shown(server, "Mapa 4");
    EXPECT_EQ(server.CallsOf("Notify").at(1).args[ReplacesId].toUInt(), notifier.CurrentId());
}

// Every notification of the desktop comes with the server's signals: a click on another
// program's notification, or a signal of the same name from anyone but the server, is not ours.
TEST_F(Notifications, TakesTheServersSignalsOnlyForItsOwnNotification)
{
    DbusMock &server = Server();
    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    TDesktopNotifier &notifier = Notifier();
    const std::uint32_t ours = Shown(server, "Nuevo mapa");

    const char *keys[] = {"default", "descargar"};
    for (std::uint32_t i = 1; i <= 20; ++i) {
        const std::uint32_t foreign = ours + i;
        ASSERT_TRUE(server.EmitSignal(kName, "ActionInvoked", "us", {foreign, QString(keys[i % 2])}));
    }
    ASSERT_TRUE(server.EmitSignal(kName, "NotificationClosed", "uu", {ours + 1, 2U}));
    ASSERT_TRUE(server.EmitSignal(kName, "ActionInvoked", "us", {0U, QString("default")}));
    // An impostor on the bus says our id was clicked and closed.
    {
        QDBusConnection impostor = QDBusConnection::connectToBus(m_bus.Address(), "drovanel-impostor");
        ASSERT_TRUE(impostor.isConnected());
        QDBusMessage click = QDBusMessage::createSignal(kPath, kName, "ActionInvoked");
        click << ours << QString("descargar");
        QDBusMessage close = QDBusMessage::createSignal(kPath, kName, "NotificationClosed");
        close << ours << 2U;
        ASSERT_TRUE(impostor.send(click));
        ASSERT_TRUE(impostor.send(close));
        // A call answered by the bus after the two signals: they have been passed on by then.
        ASSERT_TRUE(impostor.interface()->isServiceRegistered(kName).value());
        QDBusConnection::disconnectFromBus("drovanel-impostor");
    }
    // The server's click on our own notification comes after all of them.
    ASSERT_TRUE(server.EmitSignal(kName, "ActionInvoked", "us", {ours, QString("descargar")}));
    ASSERT_TRUE(PumpUntil([this] { return m_downloads > 0; }));
    EXPECT_EQ(m_downloads, 1);
    EXPECT_EQ(m_defaults, 0);
    EXPECT_EQ(m_closed, 0);
    EXPECT_EQ(notifier.CurrentId(), ours);

    // Still the same notification: a newer one replaces it.
    Shown(server, "Otro mapa");
    EXPECT_EQ(server.CallsOf("Notify").at(1).args[ReplacesId].toUInt(), ours);
}

TEST_F(Notifications, OurActionsAndCloseReachTheirEvents)
{
    const struct {
        const char *key;
        int defaults, downloads;
    } cases[] = {{"default", 1, 0}, {"descargar", 0, 1}, {"desconocida", 0, 0}};
    DbusMock &server = Server();
    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    TDesktopNotifier &notifier = Notifier();
    std::uint32_t ours = Shown(server, "Nuevo mapa");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.key);
        m_defaults = m_downloads = 0;
        ASSERT_TRUE(server.EmitSignal(kName, "ActionInvoked", "us", {ours, QString(c.key)}));
        // The close that follows is ours too, and tells when the click has been handled.
        ASSERT_TRUE(server.EmitSignal(kName, "NotificationClosed", "uu", {ours, 2U}));
        ASSERT_TRUE(PumpUntil([this] { return m_closed > 0; }));
        EXPECT_EQ(m_defaults, c.defaults);
        EXPECT_EQ(m_downloads, c.downloads);
        EXPECT_EQ(notifier.CurrentId(), 0U);
        // Once closed, the next one is new, not a replacement.
        const std::size_t before = server.CallsOf("Notify").size();
        m_closed = 0;
        ASSERT_EQ(Shown(server, "Nuevo mapa"), ours + 1);
        EXPECT_EQ(server.CallsOf("Notify").at(before).args[ReplacesId].toUInt(), 0U);
        ++ours;
    }
}

TEST_F(Notifications, CloseWithdrawsOurNotification)
{
    DbusMock &server = Server();
    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    TDesktopNotifier &notifier = Notifier();
    const std::uint32_t ours = Shown(server, "Nuevo mapa");

    notifier.Close();
    ASSERT_TRUE(server.AwaitCalls("CloseNotification", 1));
    EXPECT_EQ(server.CallsOf("CloseNotification").at(0).args.at(0).toUInt(), ours);
    EXPECT_EQ(notifier.CurrentId(), 0U);
    Shown(server, "Otro mapa");
    EXPECT_EQ(server.CallsOf("Notify").at(1).args[ReplacesId].toUInt(), 0U);
}

// The desktop's notification server may restart (an update, a crash) or start after the program
// (a session that brings it up late): the next notification reaches whichever is there, as a new
// one, with the new server's capabilities asked again.
TEST_F(Notifications, FindsAServerThatRestartsOrComesLater)
{
    DbusMock &server = Server();
    TDesktopNotifier &notifier = Notifier();
    int changes = 0;
    notifier.OnServerChanged = [&changes](fw::TObject *) { ++changes; };
    EXPECT_FALSE(notifier.Available());
    EXPECT_FALSE(notifier.Notify("Nadie", "cuerpo"));

    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    ASSERT_TRUE(PumpUntil([&] { return notifier.Available(); }));
    EXPECT_EQ(changes, 1);
    Shown(server, "Nuevo mapa");

    server.Stop();
    ASSERT_TRUE(PumpUntil([&] { return !notifier.Available(); }));
    EXPECT_FALSE(notifier.Notify("Nadie", "cuerpo"));
    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    ASSERT_TRUE(PumpUntil([&] { return notifier.Available(); }));
    EXPECT_EQ(changes, 3);

    // The recorder keeps every call, the first server's as well.
    const std::size_t before = server.CallsOf("Notify").size();
    Shown(server, "Otro mapa");
    const auto calls = server.CallsOf("Notify");
    ASSERT_EQ(calls.size(), before + 1);
    EXPECT_EQ(calls.back().args[Summary].toString(), "Otro mapa");
    EXPECT_EQ(calls.back().args[ReplacesId].toUInt(), 0U);
    EXPECT_EQ(server.CallsOf("GetCapabilities").size(), 2U);
    EXPECT_EQ(calls.back().args[Actions].toStringList().size(), 4);
}

// A server that goes away while a notification is on its way to it (it took the call and never
// answered): the notification goes to the server that comes next, as a new one.
TEST_F(Notifications, ANotificationOnItsWayToAServerThatWentGoesToTheNext)
{
    DbusMock &server = Server();
    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    ASSERT_EQ(
        server.CallMock("AddMethod", {kName, "Notify", "susssasa{sv}i", "u", "import time; time.sleep(600); ret = 1"})
            .type(),
        QDBusMessage::ReplyMessage);
    TDesktopNotifier &notifier = Notifier();
    ASSERT_TRUE(notifier.Notify("Nuevo mapa", "cuerpo"));
    ASSERT_TRUE(server.AwaitCalls("Notify", 1));

    server.Stop();
    ASSERT_TRUE(PumpUntil([&] { return !notifier.Available(); }));
    ASSERT_TRUE(server.Start()) << server.StandardError().toStdString();
    ASSERT_TRUE(server.AwaitCalls("Notify", 2));
    ASSERT_TRUE(PumpUntil([&] { return notifier.CurrentId() != 0; }));
    const MockCall again = server.CallsOf("Notify").at(1);
    EXPECT_EQ(again.args[Summary].toString(), "Nuevo mapa");
    EXPECT_EQ(again.args[ReplacesId].toUInt(), 0U);
}

}  // namespace
