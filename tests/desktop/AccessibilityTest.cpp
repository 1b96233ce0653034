// The real program as a screen reader and a keyboard user meet it: the desktop's accessibility
// bus (at-spi2-core's launcher on a private session bus, under Xvfb) walked with its own client
// library (python3-pyatspi, tests/desktop/atspi_tree.py) on every page reached with the menus'
// keys alone; the level changed, "Guardar" and "Salir" with the keyboard alone; the window's
// identity against the installed desktop entry; and a stored position off every screen.
#include "desktop/Session.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

using testutil::ReadAll;
using testutil::WaitUntil;

const QString kMainTitle = QStringLiteral("^Drovanel - Descargas de actualizaciones");
const QString kBusLauncher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");

struct Node {
    int depth = 0;
    QString role, name, description, text;
    bool focusable = false, focused = false, showing = false, checked = false, hasValue = false;
    double value = 0;
    QStringList labelledBy;
};

class Accessibility : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString missing = testutil::MissingTools({"Xvfb", "dbus-daemon", "xdotool", "xprop"});
        if (!missing.isEmpty())
            GTEST_SKIP() << "not installed: " << missing.toStdString() << " (scripts/install-deps installs them)";
        if (!QFileInfo::exists(kBusLauncher) || !QFileInfo::exists("/usr/lib/python3/dist-packages/pyatspi"))
            GTEST_SKIP() << "at-spi2-core or python3-pyatspi is not installed (scripts/install-deps installs them)";
        ASSERT_TRUE(m_display.Ok()) << m_display.Error().toStdString();
        ASSERT_TRUE(m_bus.Ok()) << "no session bus";
        // The accessibility bus, as a desktop session starts it: its launcher owns org.a11y.Bus on
        // the session bus and starts the bus and its registry at once.
        m_launcher.setProcessEnvironment(DesktopEnv());
        m_launcher.setProcessChannelMode(QProcess::ForwardedChannels);
        m_launcher.start(kBusLauncher, {"--launch-immediately"});
        ASSERT_TRUE(m_launcher.waitForStarted(10'000) && m_bus.AwaitService("org.a11y.Bus", m_launcher, 20'000))
            << "the accessibility bus did not start";
    }
    void TearDown() override { testutil::StopProcess(m_launcher); }

    QProcessEnvironment DesktopEnv() const
    {
        QProcessEnvironment env = m_display.Env();
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.Address());
        // As when a screen reader runs: Qt serves its tree on the accessibility bus.
        env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        return env;
    }

    void StartProgram(const QStringList &options = {},
                      const std::vector<std::pair<QByteArray, QByteArray>> &values = {})
    {
        ASSERT_TRUE(m_run.Prepare(options, values)) << "no server or profile";
        ASSERT_TRUE(m_run.Start(m_run.Env(DesktopEnv())));
        ASSERT_TRUE(WaitUntil(
                        [this] {
                            m_window = m_display.Windows(kMainTitle).value(0);
                            return !m_window.isEmpty() || m_run.Process().state() != QProcess::Running;
                        },
                        30'000) &&
                    !m_window.isEmpty())
            << "the main window did not show";
    }

    // The program's tree as the bus serves it now; empty while the program is not on the bus.
    std::vector<Node> Tree()
    {
        QProcess walker;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.Address());
        env.insert("DISPLAY", m_display.Display());
        walker.setProcessEnvironment(env);
        walker.start("/usr/bin/python3", {QStringLiteral(DROVANEL_TESTS_DIR "/desktop/atspi_tree.py"),
                                          QString::number(m_run.Process().processId())});
        std::vector<Node> nodes;
        if (!walker.waitForFinished(60'000) || walker.exitCode() != 0)
            return nodes;
        for (const QJsonValue &v : QJsonDocument::fromJson(walker.readAllStandardOutput()).array()) {
            const QJsonObject o = v.toObject();
            Node n;
            n.depth = o.value("depth").toInt();
            n.role = o.value("role").toString();
            n.name = o.value("name").toString();
            n.description = o.value("description").toString();
            n.text = o.value("text").toString();
            n.focusable = o.value("focusable").toBool();
            n.showing = o.value("showing").toBool();
            n.focused = o.value("focused").toBool();
            n.checked = o.value("checked").toBool();
            n.hasValue = o.contains("value");
            n.value = o.value("value").toDouble();
            for (const QJsonValue &label : o.value("labelledBy").toArray())
                n.labelledBy.append(label.toString());
            nodes.push_back(n);
        }
        return nodes;
    }

    static bool Reads(const std::vector<Node> &tree, const QString &text)
    {
        return std::any_of(tree.begin(), tree.end(), [&](const Node &n) {
            return n.showing && (n.name.contains(text) || n.text.contains(text));
        });
    }

    // Waits until the tree holds what `holds` looks for, walking it again while it does not.
    std::vector<Node> AwaitTree(const std::function<bool(const std::vector<Node> &)> &holds, int timeoutMs)
    {
        std::vector<Node> tree;
        (void)WaitUntil(
            [&] {
                tree = Tree();
                return holds(tree) || m_run.Process().state() != QProcess::Running;
            },
            timeoutMs);
        return tree;
    }

    void Keys(const QStringList &keys)
    {
        if (!keys.isEmpty())
            m_display.Keys(m_window, keys);
    }

    testutil::VirtualDisplay m_display;
    testutil::SessionBus m_bus;
    QProcess m_launcher;
    testutil::ProgramRun m_run;
    QString m_window;
};

// On every page: every control a keyboard user can reach has a name and a role, and every text
// the page shows is there to be read; the new-map mark is read once the check finds a new map.
TEST_F(Accessibility, EveryPageReadsWholeWithItsControlsNamed)
{
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_TRUE(m_run.AwaitCheck(30'000)) << "the start-up check did not end";

    struct Page {
        const char *what;
        QStringList keys;  // from the main page, through the menus' underlined letters
        QStringList texts;
    } const pages[] = {
        {"the main page",
         {},
         {"Gestión de descargas de actualizaciones de mapas de puntos para avisadores GPS de Drovanel",
          "Última versión en PC", "Última versión Publicada", "Existe nuevo mapa", "Descargar", "Avisador GPS Drovanel",
          "Progreso de la descarga", "Watcher-010101.mdb"}},
        {"the download folder",
         {"alt+c", "d"},
         {"Configuración de la carpeta de descargas", "Carpeta de descargas", "Examinar", "Guardar"}},
        {"the general settings",
         {"alt+c", "g"},
         {"Avisador GPS", "Sentry III", "Watcher", "Gray Rover II", "Comprobar versiones al arrancar la aplicación",
          "Ejecutar aplicación minimizada", "Guardar"}},
        {"the alert levels",
         {"alt+c", "t"},
         {"Niveles de aviso Drovanel Watcher", "Sin", "Min", "Med", "Máx", "Cámaras fijas y tramos controlados",
          "Inicio de Tramo Controlado", "Fin de Tramo Controlado", "Radares móviles (Cámara bidireccional)",
          "Puntos peligrosos", "Puntos Negros", "Zonas de niños", "Guardar"}},
        {"the proxy",
         {"alt+c", "c"},
         {"Configurar PROXY (Si está vacio no se utiliza)", "Nombre Host", "Puerto", "Tipo Server",
          "Usuario con no Logon", "Proxy OPEN", "Guardar"}},
    };
    for (const Page &page : pages) {
        SCOPED_TRACE(page.what);
        Keys(page.keys);
        const std::vector<Node> tree = AwaitTree(
            [&](const std::vector<Node> &t) {
                return std::all_of(page.texts.begin(), page.texts.end(), [&](const QString &x) { return Reads(t, x); });
            },
            20'000);
        ASSERT_FALSE(tree.empty()) << "the program is not on the accessibility bus";
        for (const QString &text : page.texts)
            EXPECT_TRUE(Reads(tree, text)) << text.toStdString();
        for (const Node &n : tree) {
            if (!n.showing || !n.focusable)
                continue;
            EXPECT_FALSE(n.name.trimmed().isEmpty()) << "a focusable " << n.role.toStdString() << " without a name";
            EXPECT_FALSE(n.role.isEmpty() || n.role == "unknown" || n.role == "filler" || n.role == "invalid")
                << n.name.toStdString() << " has no role";
        }
    }
}

// The changes a listener must hear are announced on the bus as they happen: the status text and
// the published map's name during the start-up check, the new-map mark coming into view, and the
// progress.
TEST_F(Accessibility, ChangesAreAnnouncedToAListener)
{
    QProcess listener;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.Address());
    env.insert("DISPLAY", m_display.Display());
    listener.setProcessEnvironment(env);
    listener.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    listener.start("/usr/bin/python3",
                   {QStringLiteral(DROVANEL_TESTS_DIR "/desktop/atspi_tree.py"), "--listen", "drovanel"});
    ASSERT_TRUE(listener.waitForStarted(10'000) && testutil::AwaitLine(listener, 30'000) &&
                listener.readLine().trimmed() == "ready")
        << "the listener did not start";
    ASSERT_NO_FATAL_FAILURE(StartProgram());

    std::vector<QJsonObject> heard;
    const auto heardOne = [&heard](const std::function<bool(const QJsonObject &)> &match) {
        return std::any_of(heard.begin(), heard.end(), match);
    };
    // A status panel's text (the panel is asked its name when the event arrives: it may hold a later one).
    const auto status = [](const QJsonObject &e) {
        const QString name = e.value("name").toString();
        return e.value("type") == "object:property-change:accessible-name" && e.value("role") == "label" &&
               (name.startsWith("Abriendo conexion con") || name == "Conectado" ||
                name == "Iniciando transferencia de datos" || name == "Transferencia de datos finalizada");
    };
    const auto published = [](const QJsonObject &e) {
        return e.value("type") == "object:property-change:accessible-name" &&
               e.value("name").toString().endsWith(".mdb") && e.value("name") != "Watcher-010101.mdb";
    };
    const auto mark = [](const QJsonObject &e) {
        return e.value("type") == "object:state-changed:showing" && e.value("name") == "Existe nuevo mapa" &&
               e.value("detail1").toInt() == 1;
    };
    const auto progress = [](const QJsonObject &e) {
        return e.value("type") == "object:property-change:accessible-value" && e.value("role") == "progress bar";
    };
    const bool all = testutil::AwaitProcess(
        listener,
        [&] {
            while (listener.canReadLine())
                heard.push_back(QJsonDocument::fromJson(listener.readLine()).object());
            return heardOne(status) && heardOne(published) && heardOne(mark) && heardOne(progress);
        },
        60'000);
    QStringList lines;
    for (const QJsonObject &e : heard)
        lines.append(QString::fromUtf8(QJsonDocument(e).toJson(QJsonDocument::Compact)));
    EXPECT_TRUE(all) << lines.join('\n').toStdString();
    EXPECT_TRUE(heardOne(status)) << "the status text was not announced";
    EXPECT_TRUE(heardOne(published)) << "the published map's name was not announced";
    EXPECT_TRUE(heardOne(mark)) << "the new-map mark was not announced";
    EXPECT_TRUE(heardOne(progress)) << "the progress was not announced";
    testutil::StopProcess(listener);
}

// What a reader says of the special controls: the model choice is one of radio buttons in a group
// named "Avisador GPS", each level bar is named by its row, labelled by it and read as its word;
// the hidden file list is nowhere.
TEST_F(Accessibility, ChoicesAndLevelsReadAsWhatTheyAre)
{
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--no-check"}));
    ASSERT_FALSE(AwaitTree([](const std::vector<Node> &t) { return !t.empty(); }, 20'000).empty());
    EXPECT_FALSE(Reads(Tree(), "Existe nuevo mapa")) << "the mark is read while it does not show";

    Keys({"alt+c", "g"});
    std::vector<Node> tree = AwaitTree([](const std::vector<Node> &t) { return Reads(t, "Gray Rover II"); }, 20'000);
    QStringList radios;
    int groupDepth = -1;
    for (const Node &n : tree) {
        if (n.showing && n.name == "Avisador GPS")
            groupDepth = n.depth;
        if (n.showing && n.role == "radio button" && groupDepth >= 0 && n.depth == groupDepth + 1)
            radios.append(n.name + (n.checked ? "*" : ""));
        if (n.name == "Sentry III" || n.name == "Watcher") {
            EXPECT_EQ(n.role, "radio button") << n.name.toStdString();
        }
    }
    EXPECT_EQ(radios.join('|').toStdString(), "Sentry III|Watcher*|Gray Rover II");

    Keys({"alt+c", "t"});
    tree = AwaitTree([](const std::vector<Node> &t) { return Reads(t, "Zonas de niños"); }, 20'000);
    QStringList bars;
    for (const Node &n : tree) {
        if (!n.showing || n.role != "slider")
            continue;
        bars.append(n.name);
        EXPECT_EQ(n.labelledBy, QStringList{n.name}) << n.name.toStdString();
        EXPECT_EQ(n.description, QStringLiteral("Máx")) << n.name.toStdString();
        EXPECT_TRUE(n.hasValue);
        EXPECT_EQ(n.value, 3);
    }
    EXPECT_EQ(bars.join('|').toStdString(),
              "Cámaras fijas y tramos controlados|Inicio de Tramo Controlado|Fin de Tramo Controlado|Radares móviles "
              "(Cámara bidireccional)|Puntos peligrosos|Puntos Negros|Zonas de niños");
    EXPECT_TRUE(std::none_of(tree.begin(), tree.end(), [](const Node &n) { return n.role == "list"; }))
        << "the hidden file list is in the tree";
}

// A whole road by the keyboard alone: the check finds a new map and shows its news in the program's
// window, closed with Escape; "Descargar", focused first, pressed with Return; the closing message accepted with
// Return; the levels page from its menu, a level lowered, "Guardar" reached with Tab and pressed with Return (back to
// the main page, the level saved); the program ended from its menu. The reader hears the level's word change.
TEST_F(Accessibility, TheKeyboardAloneDownloadsChangesALevelSavesAndEnds)
{
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_TRUE(m_run.AwaitCheck(30'000)) << "the start-up check did not end";
    const QString news = m_display.WaitWindow("^Drovanel - Noticias$", 20'000);
    ASSERT_FALSE(news.isEmpty()) << "no news window";
    m_display.Keys(news, {"Escape"});
    ASSERT_TRUE(WaitUntil([&] { return m_display.Windows("^Drovanel - Noticias$").isEmpty(); }, 10'000))
        << "Escape did not close the news";
    const auto focusedName = [](const std::vector<Node> &t) {
        const auto focused = std::find_if(t.begin(), t.end(), [](const Node &n) { return n.focused; });
        return focused == t.end() ? QString() : focused->role + " " + focused->name;
    };
    // The window given the keyboard (no window manager does it here) focuses its first control.
    m_display.Xdo({"windowfocus", "--sync", m_window});
    const std::vector<Node> start =
        AwaitTree([&](const std::vector<Node> &t) { return focusedName(t) == "push button Descargar"; }, 20'000);
    ASSERT_EQ(focusedName(start).toStdString(), "push button Descargar");
    Keys({"Return"});
    const QString box = m_display.WaitWindow("^Drovanel$", 120'000);
    ASSERT_FALSE(box.isEmpty()) << "no closing message after the download";
    m_display.Keys(box, {"Return"});
    ASSERT_TRUE(WaitUntil([&] { return m_display.Windows("^Drovanel$").isEmpty(); }, 10'000))
        << "Return did not close the message";

    // F10 opens the first menu, Escape closes it again.
    Keys({"F10"});
    // The menu is a window of its own beside the main one.
    EXPECT_TRUE(WaitUntil(
        [this] {
            return m_display.Search({"--onlyvisible", "--classname", "^drovanel$"}).size() > 1;
        },
        10'000))
        << "F10 opened no menu";
    Keys({"Escape", "Escape"});

    // The page from its menu puts the focus on its first control, the first row's bar.
    Keys({"alt+c", "t"});
    const std::vector<Node> onPage = AwaitTree(
        [&](const std::vector<Node> &t) { return focusedName(t) == "slider Cámaras fijas y tramos controlados"; },
        20'000);
    ASSERT_EQ(focusedName(onPage).toStdString(), "slider Cámaras fijas y tramos controlados");
    Keys({"Left"});
    const auto firstBar = [](const std::vector<Node> &t) {
        return std::find_if(t.begin(), t.end(), [](const Node &n) { return n.showing && n.role == "slider"; });
    };
    std::vector<Node> tree = AwaitTree(
        [&](const std::vector<Node> &t) { return firstBar(t) != t.end() && firstBar(t)->value == 2; }, 20'000);
    ASSERT_NE(firstBar(tree), tree.end());
    const auto focused = std::find_if(tree.begin(), tree.end(), [](const Node &n) { return n.focused; });
    EXPECT_EQ(firstBar(tree)->value, 2) << "the focus is on "
                                        << (focused == tree.end()
                                                ? std::string("nothing")
                                                : (focused->role + " " + focused->name).toStdString());
    EXPECT_EQ(firstBar(tree)->description, QStringLiteral("Med"));

    // Six more rows, then "Guardar".
    Keys({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Return"});
    EXPECT_TRUE(WaitUntil([this] { return m_run.Settings().contains("\"cxTrackBar1_Position\"=\"2\""); }, 20'000))
        << m_run.Settings().toStdString();
    tree = AwaitTree([](const std::vector<Node> &t) { return Reads(t, "Descargar"); }, 20'000);
    EXPECT_TRUE(Reads(tree, "Descargar")) << "\"Guardar\" did not go back to the main page";

    Keys({"alt+s"});
    EXPECT_TRUE(m_run.Process().waitForFinished(30'000)) << "\"Salir\" did not end the program";
    EXPECT_EQ(m_run.Process().exitCode(), 0);
}

// The window's identity is the installed desktop entry's: WM_CLASS's class is its StartupWMClass.
TEST_F(Accessibility, WindowClassMatchesTheDesktopEntry)
{
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--no-check"}));
    QProcess xprop;
    xprop.setProcessEnvironment(m_display.Env());
    xprop.start("xprop", {"-id", m_window, "WM_CLASS"});
    ASSERT_TRUE(xprop.waitForFinished(10'000));
    const QString wmClass = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const QString entry =
        QString::fromUtf8(ReadAll(QStringLiteral(DROVANEL_SOURCE_DIR "/packaging/es.drovanel.Drovanel.desktop")));
    const QRegularExpressionMatch startup =
        QRegularExpression("^StartupWMClass=(.*)$", QRegularExpression::MultilineOption).match(entry);
    ASSERT_TRUE(startup.hasMatch()) << "the desktop entry names no StartupWMClass";
    EXPECT_EQ(wmClass.toStdString(), "WM_CLASS(STRING) = \"drovanel\", \"" + startup.captured(1).toStdString() + "\"");
}

// A position stored where no screen is (a session that could not tell the window's place stored
// one above the screen's top) brings the window up whole, its title bar on the screen.
TEST_F(Accessibility, AStoredPositionOffEveryScreenRestoresAVisibleWindow)
{
    struct Case {
        const char *what;
        QByteArray normal;
    } const cases[] = {
        {"above the top", "-3,-30,393,261"},
        {"far to the left", "-5000,100,-4604,391"},
        {"below the bottom", "100,2000,496,2291"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        testutil::ProgramRun run;
        ASSERT_TRUE(run.Prepare({"--no-check"}, {{"NormPos", c.normal}, {"MinMaxPos", "-1,-1,-1,-1"}}));
        ASSERT_TRUE(run.Start(run.Env(DesktopEnv())));
        QString window;
        ASSERT_TRUE(WaitUntil(
                        [&] {
                            window = m_display.Windows(kMainTitle).value(0);
                            return !window.isEmpty() || run.Process().state() != QProcess::Running;
                        },
                        30'000) &&
                    !window.isEmpty());
        const std::optional<QRect> frame = m_display.Geometry(window);
        ASSERT_TRUE(frame);
        EXPECT_TRUE(QRect(0, 0, 1024, 768).contains(*frame))
            << frame->x() << "," << frame->y() << " " << frame->width() << "x" << frame->height();
        EXPECT_TRUE(run.EndWithSigterm());
    }
}

}  // namespace
