// The program in a real notification area: a virtual X display (Xvfb) with a tray host (trayer),
// the real executable, and the mouse driven with xdotool. The icon docks, a left click shows the
// hidden window, a right click opens the tray menu, whose "Finalizar" ends the program with its
// settings saved; a second start brings the first one's window up and ends at once.
#include "common/TempDir.h"
#include "fixtures/ProgramRun.h"
#include "fixtures/VirtualDesktop.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRect>
#include <gtest/gtest.h>
#include <optional>

namespace {

using testutil::WaitUntil;

class TrayArea : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString missing = testutil::MissingTools({"Xvfb", "trayer", "xdotool"});
        if (!missing.isEmpty())
            GTEST_SKIP() << "not installed: " << missing.toStdString() << " (scripts/install-deps installs them)";
        ASSERT_TRUE(m_run.Ok());
        ASSERT_TRUE(m_display.Ok()) << m_display.Error().toStdString();

        // Settings of a user who has set up the program and starts it minimised, without check.
        ASSERT_TRUE(m_run.PrepareQuiet({{"Minimizar_Checked", "True"}}));
        // No session bus: the icon goes to the X11 tray, not to a desktop's status notifier.
        m_env = m_run.Env(m_noBus.Env(m_display.Env()));
        m_program = m_run.Program();
        ASSERT_TRUE(QFileInfo(m_program).isExecutable()) << m_program.toStdString();
    }

    void TearDown() override
    {
        for (QProcess *p : {&m_second, &m_first})
            testutil::StopProcess(*p);
    }

    void startTrayHost()
    {
        m_tray.emplace(m_display);
        ASSERT_TRUE(m_tray->Ok()) << m_tray->Error().toStdString();
    }

    std::string registry() const { return m_run.SettingsFile().toStdString(); }

    void startProgram(QProcess &process)
    {
        process.setProcessEnvironment(m_env);
        process.setProgram(m_program);
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    QStringList mainWindow() { return m_display.Windows("^Drovanel - Descargas"); }

    // The program's icon, once it has docked in the tray: the program's only visible window inside
    // the panel.
    QString dockedIcon()
    {
        const auto panel = m_display.Geometry(m_tray->Panel());
        if (!panel)
            return {};
        for (const QString &id : m_display.Search({"--onlyvisible", "--classname", "^drovanel$"})) {
            const auto at = m_display.Geometry(id);
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
        EXPECT_TRUE(WaitUntil(
            [&] {
                icon = dockedIcon();
                return !icon.isEmpty() || m_first.state() == QProcess::NotRunning;
            },
            30000))
            << m_first.readAllStandardError().toStdString();
        const auto at = icon.isEmpty() ? std::nullopt : m_display.Geometry(icon);
        return at.value_or(QRect());
    }

    // Declared before the programs on it: ended after them.
    testutil::VirtualDisplay m_display;
    std::optional<testutil::XembedTray> m_tray;
    testutil::NoSessionBus m_noBus;
    // The throwaway profile; its process is the first start.
    testutil::ProgramRun m_run;
    QProcessEnvironment m_env;
    QString m_program;
    QProcess &m_first = m_run.Process();
    QProcess m_second;
};

TEST_F(TrayArea, TheIconDocksClicksShowTheWindowAndTheMenuAndFinalizarEndsWithTheSettingsSaved)
{
    ASSERT_NO_FATAL_FAILURE(startTrayHost());
    const QRect icon = startDocked();
    ASSERT_TRUE(icon.isValid());
    EXPECT_TRUE(mainWindow().isEmpty()) << "started minimised: only the icon shows";

    m_display.ClickAt(icon.center(), 1);
    ASSERT_TRUE(WaitUntil([this] { return !mainWindow().isEmpty(); }, 10000)) << "a left click shows the window";

    // A right click opens the tray menu at the pointer: a new window of the program, outside the
    // tray and apart from the main window.
    const QStringList before = m_display.Search({"--onlyvisible", "--classname", "^drovanel$"});
    m_display.ClickAt(icon.center(), 3);
    QString menu;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const QString &id : m_display.Search({"--onlyvisible", "--classname", "^drovanel$"})) {
                if (!before.contains(id))
                    menu = id;
            }
            return !menu.isEmpty();
        },
        10000));
    const auto menuRect = m_display.Geometry(menu);
    ASSERT_TRUE(menuRect);
    ASSERT_GT(menuRect->height(), 100) << "nine rows";

    // "Finalizar" is the last row.
    m_display.ClickAt(QPoint(menuRect->x() + menuRect->width() / 2, menuRect->y() + menuRect->height() - 10), 1);
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
    EXPECT_TRUE(WaitUntil([this] { return !mainWindow().isEmpty(); }, 10000)) << "the first one's window is up";
    EXPECT_EQ(mainWindow().size(), 1) << "the second start shows no window of its own";
    EXPECT_EQ(m_first.state(), QProcess::Running);
}

TEST_F(TrayArea, WithoutATrayHostTheWindowStaysUpAndTheIconDocksWhenOneStarts)
{
    startProgram(m_first);
    // Started minimised, but with no icon to come back through: the window stays mapped.
    ASSERT_TRUE(WaitUntil([this] { return !mainWindow().isEmpty(); }, 30000))
        << m_first.readAllStandardError().toStdString();

    ASSERT_NO_FATAL_FAILURE(startTrayHost());
    const QRect icon = waitDocked();
    ASSERT_TRUE(icon.isValid()) << "the icon docks once a tray host is there";
    m_display.ClickAt(icon.center(), 1);
    EXPECT_EQ(m_first.state(), QProcess::Running);
    EXPECT_EQ(mainWindow().size(), 1);
}

}  // namespace
