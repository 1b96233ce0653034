// The program in a real notification area: a virtual X display (Xvfb) with a tray host (trayer),
// the real executable, and the mouse driven with xdotool. The icon docks, a left click shows the
// hidden window, a right click opens the tray menu, whose "Finalizar" ends the program with its
// settings saved; a second start brings the first one's window up and ends at once.
#include "common/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace {

// Lets the event loop run for `ms` (child processes keep being served meanwhile).
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The X server and the tray host knows of no event that tells an outside process that a window
// has appeared or docked: the state is asked again every 50 ms until it holds or the bound passes.
bool waitFor(const std::function<bool()> &done, int maxMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > maxMs)
            return false;
        idle(50);
    }
    return true;
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

class TrayArea : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *tool : {"Xvfb", "trayer", "xdotool"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
        }
        ASSERT_TRUE(m_home.isValid() && m_runtime.isValid());

        // Xvfb picks a free display itself and writes its number once it accepts clients.
        m_xvfb.setProgram("Xvfb");
        m_xvfb.setArguments({"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
        m_xvfb.start();
        ASSERT_TRUE(m_xvfb.waitForStarted(10000));
        ASSERT_TRUE(waitFor([this] { return m_xvfb.canReadLine() || m_xvfb.state() == QProcess::NotRunning; }, 20000));
        const QByteArray number = m_xvfb.readLine().trimmed();
        ASSERT_FALSE(number.isEmpty()) << m_xvfb.readAllStandardError().toStdString();
        m_display = ":" + QString::fromLatin1(number);

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("DISPLAY", m_display);
        m_env.remove("WAYLAND_DISPLAY");
        m_env.remove("XAUTHORITY");
        // No session bus: the icon goes to the X11 tray, not to a desktop's status notifier.
        m_env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_runtime.path() + "/no-bus");
        m_env.insert("HOME", m_home.path());
        m_env.insert("XDG_CONFIG_HOME", m_home.path() + "/.config");
        m_env.insert("XDG_RUNTIME_DIR", m_runtime.path());
        m_env.insert("QT_QPA_PLATFORM", "xcb");

        const QByteArray binDir = qgetenv("DROVANEL_BIN_DIR");
        m_program =
            (binDir.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(binDir)) + "/drovanel";
        ASSERT_TRUE(QFileInfo(m_program).isExecutable()) << m_program.toStdString();

        // Settings of a user who has set up the program and starts it minimised, without check.
        ASSERT_TRUE(QDir().mkpath(m_home.path() + "/.config/drovanel"));
        ASSERT_TRUE(QDir().mkpath(m_home.path() + "/maps"));
        testutil::WriteFile(registry(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\drovanel\\TFPral]\r\n"
                                        "\"DirectoryEdit1_Text\"=\"" +
                                            m_home.path().toStdString() +
                                            "/maps\"\r\n"
                                            "\"Minimizar_Checked\"=\"True\"\r\n"
                                            "\"ComprobarChk_Checked\"=\"False\"\r\n\r\n");
    }

    void TearDown() override
    {
        for (QProcess *p : {&m_second, &m_first, &m_trayer, &m_xvfb})
            stop(*p);
    }

    void startTrayHost()
    {
        m_trayer.setProcessEnvironment(m_env);
        m_trayer.setProgram("trayer");
        m_trayer.setArguments({"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "64",
                               "--heighttype", "pixel", "--height", "32"});
        m_trayer.start();
        ASSERT_TRUE(m_trayer.waitForStarted(10000));
        // Its panel shows once the tray is there to dock in.
        ASSERT_TRUE(waitFor([this] { return !windows({"--onlyvisible", "--name", "^panel$"}).isEmpty(); }, 20000));
    }

    std::string registry() const { return m_home.path().toStdString() + "/.config/drovanel/registry.reg"; }

    QString xdotool(const QStringList &arguments)
    {
        QProcess tool;
        tool.setProcessEnvironment(m_env);
        tool.start("xdotool", arguments);
        if (!tool.waitForFinished(10000)) {
            tool.kill();
            tool.waitForFinished();
        }
        return QString::fromLatin1(tool.readAllStandardOutput());
    }

    // The ids of the windows that xdotool finds.
    QStringList windows(const QStringList &search)
    {
        return xdotool(QStringList{"search"} + search).split('\n', Qt::SkipEmptyParts);
    }

    std::optional<QRect> geometry(const QString &window)
    {
        const QStringList lines = xdotool({"getwindowgeometry", "--shell", window}).split('\n', Qt::SkipEmptyParts);
        std::optional<int> x, y, w, h;
        for (const QString &line : lines) {
            const QString key = line.section('=', 0, 0), value = line.section('=', 1);
            if (key == "X")
                x = value.toInt();
            else if (key == "Y")
                y = value.toInt();
            else if (key == "WIDTH")
                w = value.toInt();
            else if (key == "HEIGHT")
                h = value.toInt();
        }
        if (!x || !y || !w || !h)
            return std::nullopt;
        return QRect(*x, *y, *w, *h);
    }

    void clickAt(const QPoint &at, int button)
    {
        xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", QString::number(button)});
    }

    void startProgram(QProcess &process)
    {
        process.setProcessEnvironment(m_env);
        process.setProgram(m_program);
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    QStringList mainWindow() { return windows({"--onlyvisible", "--name", "^Drovanel - Descargas"}); }

    // The program's icon, once it has docked in the tray: the program's only visible window inside
    // the panel.
    QString dockedIcon()
    {
        const auto panel = geometry(windows({"--onlyvisible", "--name", "^panel$"}).value(0));
        if (!panel)
            return {};
        for (const QString &id : windows({"--onlyvisible", "--classname", "^drovanel$"})) {
            const auto at = geometry(id);
            if (at && panel->contains(at->center()))
                return id;
        }
        return {};
    }

    // Starts the program minimised and waits until its icon is in the tray.
    QRect startDocked()
    {
        startProgram(m_first);
        return waitDocked();
    }

    QRect waitDocked()
    {
        QString icon;
        EXPECT_TRUE(waitFor(
            [&] {
                icon = dockedIcon();
                return !icon.isEmpty() || m_first.state() == QProcess::NotRunning;
            },
            30000))
            << m_first.readAllStandardError().toStdString();
        const auto at = icon.isEmpty() ? std::nullopt : geometry(icon);
        return at.value_or(QRect());
    }

    QTemporaryDir m_home, m_runtime;
    QProcessEnvironment m_env;
    QString m_display, m_program;
    QProcess m_xvfb, m_trayer, m_first, m_second;
};

TEST_F(TrayArea, TheIconDocksClicksShowTheWindowAndTheMenuAndFinalizarEndsWithTheSettingsSaved)
{
    ASSERT_NO_FATAL_FAILURE(startTrayHost());
    const QRect icon = startDocked();
    ASSERT_TRUE(icon.isValid());
    EXPECT_TRUE(mainWindow().isEmpty()) << "started minimised: only the icon shows";

    clickAt(icon.center(), 1);
    ASSERT_TRUE(waitFor([this] { return !mainWindow().isEmpty(); }, 10000)) << "a left click shows the window";

    // A right click opens the tray menu at the pointer: a new window of the program, outside the
    // tray and apart from the main window.
    const QStringList before = windows({"--onlyvisible", "--classname", "^drovanel$"});
    clickAt(icon.center(), 3);
    QString menu;
    ASSERT_TRUE(waitFor(
        [&] {
            for (const QString &id : windows({"--onlyvisible", "--classname", "^drovanel$"})) {
                if (!before.contains(id))
                    menu = id;
            }
            return !menu.isEmpty();
        },
        10000));
    const auto menuRect = geometry(menu);
    ASSERT_TRUE(menuRect);
    ASSERT_GT(menuRect->height(), 100) << "eight rows";

    // "Finalizar" is the last row.
    clickAt(QPoint(menuRect->x() + menuRect->width() / 2, menuRect->y() + menuRect->height() - 10), 1);
    ASSERT_TRUE(m_first.waitForFinished(15000));
    EXPECT_EQ(m_first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_first.exitCode(), 0);
    const std::string saved = testutil::ReadFile(registry());
    EXPECT_NE(saved.find("\"Visible\"=\"0\""), std::string::npos) << "saved by the closing of the window\n" << saved;
    EXPECT_NE(saved.find("\"Minimizar_Checked\"=\"True\""), std::string::npos);
}

TEST_F(TrayArea, ASecondStartBringsUpTheFirstOnesWindowAndEndsWithinThreeSeconds)
{
    ASSERT_NO_FATAL_FAILURE(startTrayHost());
    ASSERT_TRUE(startDocked().isValid());
    ASSERT_TRUE(mainWindow().isEmpty());

    QElapsedTimer clock;
    clock.start();
    startProgram(m_second);
    ASSERT_TRUE(m_second.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(m_second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_second.exitCode(), 0);
    EXPECT_TRUE(waitFor([this] { return !mainWindow().isEmpty(); }, 10000)) << "the first one's window is up";
    EXPECT_EQ(mainWindow().size(), 1) << "the second start shows no window of its own";
    EXPECT_EQ(m_first.state(), QProcess::Running);
}

TEST_F(TrayArea, WithoutATrayHostTheWindowStaysUpAndTheIconDocksWhenOneStarts)
{
    startProgram(m_first);
    // Started minimised, but with no icon to come back through: the window stays mapped.
    ASSERT_TRUE(waitFor([this] { return !mainWindow().isEmpty(); }, 30000))
        << m_first.readAllStandardError().toStdString();

    ASSERT_NO_FATAL_FAILURE(startTrayHost());
    const QRect icon = waitDocked();
    ASSERT_TRUE(icon.isValid()) << "the icon docks once a tray host is there";
    clickAt(icon.center(), 1);
    EXPECT_EQ(m_first.state(), QProcess::Running);
    EXPECT_EQ(mainWindow().size(), 1);
}

}  // namespace
