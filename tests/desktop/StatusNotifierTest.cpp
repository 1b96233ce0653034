// The real program on a desktop whose notification area takes StatusNotifierItems (KDE Plasma,
// GNOME with its AppIndicator extension, most Wayland panels): a D-Bus session bus with a watcher
// and a tray host, a notification server (dunst), and no XEmbed tray on the X display. Qt then
// hands the icon to the bus as an item, its menu as a dbusmenu, and notifications to the
// notification server; the test drives them as a host does, over the bus.
#include "desktop/Session.h"

#include <gtest/gtest.h>

namespace {

using testutil::ReadAll;
using testutil::WaitUntil;

const QString kMainTitle = QStringLiteral("^Drovanel - Descargas de actualizaciones");

class StatusNotifier : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString missing = testutil::MissingTools({"Xvfb", "dbus-daemon", "status-notifier-watcher",
                                                        "gtk-sni-tray-standalone", "dunst", "dunstctl", "xdotool"});
        if (!missing.isEmpty())
            GTEST_SKIP() << "not installed: " << missing.toStdString() << " (scripts/install-deps installs them)";
        ASSERT_TRUE(m_display.Ok()) << m_display.Error().toStdString();
        ASSERT_TRUE(m_bus.Ok()) << "no session bus";
        m_tray.emplace(DesktopEnv(), m_bus);
        ASSERT_TRUE(m_tray->Ok()) << m_tray->Error().toStdString();
        m_notifications.emplace(DesktopEnv(), m_bus);
        ASSERT_TRUE(m_notifications->Ok()) << m_notifications->Error().toStdString();
    }

    // The desktop's session: the X display, the bus, and no accessibility bus for GTK to look for.
    QProcessEnvironment DesktopEnv() const
    {
        QProcessEnvironment env = m_display.Env();
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.Address());
        env.insert("GDK_BACKEND", "x11");
        env.insert("NO_AT_BRIDGE", "1");
        return env;
    }

    // Starts the program minimised, with the start-up check, in the session `env` (the desktop's
    // by default), and waits for its item.
    void StartProgram(const std::vector<std::pair<QByteArray, QByteArray>> &values = {},
                      std::optional<QProcessEnvironment> env = std::nullopt,
                      QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels)
    {
        ASSERT_TRUE(m_run.Prepare({"--minimised"}, values)) << "no server or profile";
        ASSERT_TRUE(m_run.Start(m_run.Env(env.value_or(DesktopEnv())), channels));
        ASSERT_TRUE(WaitUntil(
                        [this] {
                            m_itemAddress = m_tray->ItemOf(m_run.Process().processId());
                            return m_itemAddress || m_run.Process().state() != QProcess::Running;
                        },
                        30'000) &&
                    m_itemAddress)
            << "the program's item did not register with the watcher";
        m_item.emplace(m_bus, *m_itemAddress);
    }

    testutil::VirtualDisplay m_display;
    testutil::SessionBus m_bus;
    std::optional<testutil::StatusTray> m_tray;
    std::optional<testutil::NotificationServer> m_notifications;
    testutil::ProgramRun m_run;
    std::optional<std::pair<QString, QString>> m_itemAddress;
    std::optional<testutil::TrayItem> m_item;
};

// The item registers, the program counts it as its tray icon (started minimised, it shows no
// window at all, not even an icon of its own on the display), a click on the item brings the
// window, and the item's menu is the tray menu, whose "Finalizar" ends the program in order.
TEST_F(StatusNotifier, TheItemRegistersActivateShowsTheWindowAndFinalizarFromItsMenuEnds)
{
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    // The item says whose it is as the desktop entry does (its Name and StartupWMClass).
    EXPECT_EQ(m_item->Property("Id").toString(), "Drovanel");
    EXPECT_EQ(m_item->Property("Title").toString(), "Drovanel");
    ASSERT_TRUE(m_run.AwaitCheck(30'000)) << "the start-up check did not end";
    // The news of the new map has a window of its own; nothing else of the program shows.
    QStringList shown = m_display.Search({"--onlyvisible", "--classname", "^drovanel$"});
    for (const QString &news : m_display.Windows("^Drovanel - Noticias$"))
        shown.removeAll(news);
    EXPECT_TRUE(shown.isEmpty()) << "a window shows although the item is in the tray";

    EXPECT_EQ(m_item->Activate(), QString());
    EXPECT_TRUE(WaitUntil([this] { return !m_display.Windows(kMainTitle).isEmpty(); }, 10'000))
        << "Activate did not show the window";

    // The menu as the host reads it: the tray menu's commands, a separator before the last one.
    QStringList labels;
    int finalizar = -1;
    bool separatorBeforeIt = false;
    for (const auto &entry : m_item->Menu()) {
        if (entry.properties.value("type").toString() == "separator") {
            separatorBeforeIt = true;
            continue;
        }
        const QString label = entry.properties.value("label").toString();
        if (label.isEmpty())
            continue;
        labels << label;
        EXPECT_TRUE(entry.properties.value("visible", true).toBool()) << label.toStdString();
        EXPECT_TRUE(entry.properties.value("enabled", true).toBool()) << label.toStdString();
        if (label == "Finalizar" && separatorBeforeIt)
            finalizar = entry.id;
        separatorBeforeIt = false;
    }
    EXPECT_EQ(labels.join('|').toStdString(), "Descargar|Pausa|Comprobar ahora|Finalizar");
    ASSERT_GE(finalizar, 0) << "no \"Finalizar\" after a separator";

    // The window's placement is written only on the way out.
    ASSERT_FALSE(m_run.Settings().contains("\"NormPos\"=")) << m_run.Settings().toStdString();
    ASSERT_TRUE(m_item->Click(finalizar));
    ASSERT_TRUE(m_run.Process().waitForFinished(30'000)) << "Finalizar did not end the program";
    EXPECT_EQ(m_run.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_run.Process().exitCode(), 0);
    EXPECT_TRUE(WaitUntil([this] { return ReadAll(m_run.ServerLog()).contains("<- QUIT"); }, 10'000)) << "no QUIT";
    const QByteArray settings = m_run.Settings();
    EXPECT_TRUE(settings.contains("\"NormPos\"=")) << settings.toStdString();
    EXPECT_TRUE(settings.contains("\"Minimizar_Checked\"=\"True\"\r\n")) << settings.toStdString();
}

// Both ways a new map is told reach the desktop's notification server, as the program's own
// notification: the start-up check's, and that of a re-check a minute later which finds a map
// published meanwhile (the first has expired by then, so the second is a new one). Between the
// two the item's tooltip names the waiting map. Once the notifications are closed, the server's
// history holds each once. The stored interval survives the settings being written at the end.
TEST_F(StatusNotifier, TheStartUpCheckAndAReCheckEachNotifyTheirNewMap)
{
    ASSERT_NO_FATAL_FAILURE(StartProgram({{"IntervaloComprobacion", "1"}}));
    const QString first = "Existe nuevo mapa: Watcher-261201.mdb";
    const QString second = "Existe nuevo mapa: Watcher-261215.mdb";
    ASSERT_TRUE(m_notifications->AwaitReceived("Drovanel", first, m_run.Process(), 30'000))
        << "no notification of the start-up check: " << m_notifications->ReceivedLines().join('|').toStdString();
    ASSERT_TRUE(m_run.Publish("Watcher-261215.mdb"));

    // While the notification is new, Qt puts its text into the tooltip; then the program's own.
    EXPECT_TRUE(WaitUntil([&] { return m_item->ToolTipTitle() == "Drovanel - " + first; }, 20'000))
        << m_item->ToolTipTitle().toStdString();

    // The re-check comes a minute after the start.
    ASSERT_TRUE(m_notifications->AwaitReceived("Drovanel", second, m_run.Process(), 75'000))
        << "no notification of the re-check: " << m_notifications->ReceivedLines().join('|').toStdString();
    EXPECT_EQ(m_notifications->ReceivedLines().size(), 2) << m_notifications->ReceivedLines().join('|').toStdString();
    EXPECT_EQ(ReadAll(m_run.ServerLog()).count("<- NLST"), 2);

    m_notifications->Ctl({"close-all"});
    QStringList told;
    for (const auto &n : m_notifications->History()) {
        EXPECT_EQ(n.appName, "Drovanel");
        EXPECT_EQ(n.summary, "Drovanel");
        told << n.body;
    }
    told.sort();
    EXPECT_EQ(told.join('|').toStdString(), (first + '|' + second).toStdString());

    ASSERT_TRUE(m_run.EndWithSigterm());
    EXPECT_TRUE(m_run.Settings().contains("\"IntervaloComprobacion\"=\"1\"\r\n")) << m_run.Settings().toStdString();
}

// On Wayland the same tray: Qt's item goes over the bus whatever the display. The host and the
// notification server stay on the X display (neither runs on a headless Weston: the host wants
// X11 struts, dunst a layer-shell compositor), as a panel stays in its own process. Started
// minimised into the item, the program gives the compositor no window until the item is
// clicked; the notification reaches the server.
TEST_F(StatusNotifier, OnWaylandTheItemRegistersAndActivateGivesTheCompositorTheWindow)
{
    const QString missing = testutil::WaylandMissing();
    if (!missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    testutil::Compositor weston;
    ASSERT_TRUE(weston.Ok()) << "weston did not start: " << weston.Log().toStdString();
    QProcessEnvironment env = testutil::OnWayland(DesktopEnv(), weston);
    env.insert("WAYLAND_DEBUG", "client");
    ASSERT_NO_FATAL_FAILURE(StartProgram({}, env, QProcess::SeparateChannels));

    ASSERT_TRUE(
        m_notifications->AwaitReceived("Drovanel", "Existe nuevo mapa: Watcher-261201.mdb", m_run.Process(), 30'000))
        << "no notification: " << m_notifications->ReceivedLines().join('|').toStdString();
    ASSERT_TRUE(m_run.AwaitCheck(30'000)) << "the start-up check did not end";
    const QRegularExpression mainWindow(QStringLiteral(R"(-> xdg_toplevel@\d+\.set_title\("Drovanel - Descargas)"));
    EXPECT_FALSE(m_run.Trace().contains(mainWindow)) << "a window while the item is in the tray";

    EXPECT_EQ(m_item->Activate(), QString());
    EXPECT_TRUE(m_run.AwaitTrace(mainWindow, 10'000)) << "Activate gave the compositor no window";
    ASSERT_TRUE(m_run.EndWithSigterm());
}

}  // namespace
