// The program's own notification on a real notification server: dunst on a virtual display and a
// private session bus, its notifications acted on with dunstctl as a user's click would. Only the
// click on the program's own notification reaches the program, though the server tells the whole
// bus about every click.
#include "common/Pump.h"
#include "desktop/Session.h"
#include "shell/Notifications.h"

#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <vector>

namespace testutil {

// Every ActionInvoked the notification server sends to the connections it is connected to.
class ActionRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<uint> ids;

public Q_SLOTS:
    void actionInvoked(uint id, const QString &) { ids.push_back(id); }
};

}  // namespace testutil

namespace {

using shell::TDesktopNotifier;
using testutil::PumpUntil;

constexpr const char *kName = "org.freedesktop.Notifications";
constexpr const char *kPath = "/org/freedesktop/Notifications";

TEST(NotificationsOnDunst, AClickReachesTheProgramOnlyOnItsOwnNotification)
{
    const QString missing = testutil::MissingTools({"Xvfb", "dbus-daemon", "dunst", "dunstctl"});
    if (!missing.isEmpty())
        GTEST_SKIP() << "not installed: " << missing.toStdString() << " (scripts/install-deps installs them)";
    testutil::VirtualDisplay display;
    ASSERT_TRUE(display.Ok()) << display.Error().toStdString();
    testutil::SessionBus bus;
    ASSERT_TRUE(bus.Ok()) << "no session bus";
    QProcessEnvironment env = display.Env();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.Address());
    testutil::NotificationServer dunst(env, bus);
    ASSERT_TRUE(dunst.Ok()) << dunst.Error().toStdString();

    testutil::ActionRecorder clicks;
    ASSERT_TRUE(bus.Bus().connect(kName, kPath, kName, "ActionInvoked", &clicks, SLOT(actionInvoked(uint, QString))));
    TDesktopNotifier notifier(bus.Bus());
    int defaults = 0;
    notifier.OnDefaultAction = [&defaults](fw::TObject *) { ++defaults; };
    ASSERT_TRUE(notifier.Available());
    ASSERT_TRUE(notifier.Notify("Drovanel", "Existe nuevo mapa: prueba.mdb"));
    ASSERT_TRUE(PumpUntil([&] { return notifier.CurrentId() != 0; }));
    const uint ours = notifier.CurrentId();

    // Another program's notification, with a default action of its own.
    QDBusConnection other = QDBusConnection::connectToBus(bus.Address(), "drovanel-other-program");
    // dunst tells the click to the program whose notification it was; another server may tell the
    // whole bus. Either way the test hears it.
    ASSERT_TRUE(other.connect(kName, kPath, kName, "ActionInvoked", &clicks, SLOT(actionInvoked(uint, QString))));
    QDBusMessage notify = QDBusMessage::createMethodCall(kName, kPath, kName, "Notify");
    notify << QString("otro") << 0U << QString() << QString("Otro programa") << QString("su aviso")
           << QStringList{"default", "Ver"} << QVariantMap{} << -1;
    const QDBusMessage shown = other.call(notify, QDBus::Block, 10'000);
    ASSERT_EQ(shown.type(), QDBusMessage::ReplyMessage) << shown.errorMessage().toStdString();
    const uint foreign = shown.arguments().at(0).toUInt();

    // A click on the first notification dunst shows, whichever it is; that one is closed, and the
    // next click is on the other.
    for (std::size_t click = 1; click <= 2; ++click) {
        SCOPED_TRACE(click);
        dunst.Ctl({"action", "0"});  // says nothing either way: the click is awaited
        ASSERT_TRUE(PumpUntil([&] { return clicks.ids.size() >= click; }));
        QDBusMessage close = QDBusMessage::createMethodCall(kName, kPath, kName, "CloseNotification");
        close << clicks.ids.back();
        ASSERT_EQ(other.call(close, QDBus::Block, 10'000).type(), QDBusMessage::ReplyMessage);
    }
    QDBusConnection::disconnectFromBus("drovanel-other-program");
    EXPECT_EQ(std::set<uint>(clicks.ids.begin(), clicks.ids.end()), (std::set<uint>{ours, foreign}));
    // Both clicks have been delivered to every receiver on the connection by now.
    ASSERT_TRUE(PumpUntil([&] { return defaults > 0; }));
    EXPECT_EQ(defaults, 1);
}

}  // namespace

#include "NotificationsDunstTest.moc"
