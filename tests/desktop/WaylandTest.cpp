// The real program on Wayland: a Weston compositor (headless) and Qt's Wayland platform. Wayland
// lets no other client look at a window, so the program's own side of the conversation is read
// instead: libwayland prints every request and event of the program's connection when
// WAYLAND_DEBUG is set (the window's title, its minimising, the compositor's configure events).
#include "desktop/Session.h"

#include <gtest/gtest.h>

namespace {

using testutil::ReadAll;
using testutil::WaitUntil;

// A window of the program's main form given to the compositor, by its title's beginning.
const QRegularExpression kMainWindow(QStringLiteral(R"(-> xdg_toplevel@\d+\.set_title\("Drovanel - Descargas)"));

class Wayland : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString missing = testutil::WaylandMissing();
        if (!missing.isEmpty())
            GTEST_SKIP() << missing.toStdString();
        ASSERT_TRUE(m_weston.Ok()) << "weston did not start: " << m_weston.Log().toStdString();
    }

    // Starts the program minimised, with the start-up check, its connection to the compositor
    // traced. A Wayland session without a session bus: none is where the address points.
    void StartProgram(const std::vector<std::pair<QByteArray, QByteArray>> &values = {})
    {
        ASSERT_TRUE(m_run.Prepare({"--minimised"}, values)) << "no server or profile";
        QProcessEnvironment env = testutil::OnWayland(QProcessEnvironment::systemEnvironment(), m_weston);
        m_env = m_run.Env(m_noBus.Env(env));
        QProcessEnvironment traced = m_env;
        traced.insert("WAYLAND_DEBUG", "client");
        ASSERT_TRUE(m_run.Start(traced, QProcess::SeparateChannels));
    }

    testutil::Compositor m_weston;
    testutil::NoSessionBus m_noBus;
    testutil::ProgramRun m_run;
    QProcessEnvironment m_env;
};

// No notification area: Wayland has no XEmbed tray, and without a StatusNotifierItem watcher on
// the bus there is none at all. Started minimised, the window is therefore shown minimised (never
// hidden where nothing would lead back to it); the start-up check runs; a second start ends at
// once; SIGTERM ends the program with its settings written, the stored position kept as it was
// (the compositor does not tell the program where its window is). The window's app id is the
// desktop entry's.
TEST_F(Wayland, WithoutATrayTheWindowStartsMinimisedAndTheProgramChecksAndEndsInOrder)
{
    ASSERT_NO_FATAL_FAILURE(StartProgram({{"NormPos", "100,120,496,411"}}));
    ASSERT_TRUE(m_run.AwaitCheck(30'000)) << "the start-up check did not end";
    EXPECT_TRUE(ReadAll(m_run.ServerLog()).contains("<- NLST"));
    ASSERT_TRUE(m_run.AwaitTrace(kMainWindow, 10'000)) << "no window on the compositor";
    const QString trace = m_run.Trace();
    EXPECT_TRUE(trace.contains(QRegularExpression(R"(-> xdg_toplevel@\d+\.set_minimized\(\))")));
    EXPECT_TRUE(trace.contains(QRegularExpression(R"(\] xdg_toplevel@\d+\.configure\()")))
        << "the compositor never answered";
    EXPECT_TRUE(trace.contains(QRegularExpression(R"(-> xdg_toplevel@\d+\.set_app_id\("es\.drovanel\.Drovanel"\))")))
        << "the app id is not the desktop entry's";

    // The running program is found; the second start shows nothing of its own and ends.
    const qint64 took = m_run.StartSecond(m_env);
    EXPECT_GE(took, 0) << "the second start did not end cleanly";
    EXPECT_LT(took, 3000);
    EXPECT_EQ(m_run.Process().state(), QProcess::Running);

    ASSERT_FALSE(m_run.Settings().contains("\"Visible\"=")) << "written before the end";
    ASSERT_TRUE(m_run.EndWithSigterm());
    const QByteArray settings = m_run.Settings();
    EXPECT_TRUE(settings.contains("\"NormPos\"=\"100,120,496,411\"\r\n")) << "the stored position was overwritten\n"
                                                                          << settings.toStdString();
    EXPECT_TRUE(settings.contains("\"Visible\"=\"1\"\r\n")) << settings.toStdString();
    EXPECT_TRUE(settings.contains("\"ComprobarChk_Checked\"=\"True\"\r\n")) << settings.toStdString();
}

}  // namespace
