// Start with the session: the user's autostart entry written and removed in a configuration
// folder of the test's own, read back as the session reads it (the desktop's validator, GLib's
// launcher), and its failures.
#include "common/ExceptionText.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "framework/Exceptions.h"
#include "shell/Autostart.h"

#include <QFileSystemWatcher>
#include <QProcess>
#include <QStandardPaths>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

class Autostart : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_config.path()));
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", m_saved); }

    std::string Entry() const { return m_config.file("autostart/es.drovanel.Drovanel.desktop"); }

    // What the desktop's own validator says of the entry; empty when it passes (or is missing).
    static std::string Validate(const std::string &path)
    {
        if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty())
            return {};
        QProcess validate;
        validate.start("desktop-file-validate", {QString::fromStdString(path)});
        validate.waitForFinished(20'000);
        return (validate.readAllStandardOutput() + validate.readAllStandardError()).toStdString();
    }

    TempDir m_config;
    TempDir m_programs;
    QByteArray m_saved;
};

TEST_F(Autostart, WritesAValidEntryForTheProgramAndRemovesIt)
{
    ASSERT_EQ(shell::AutostartEntryPath().toStdString(), Entry());
    EXPECT_FALSE(shell::AutostartEnabled());

    // No autostart folder yet: it is made.
    shell::SetAutostart(true, "/usr/bin/drovanel");
    EXPECT_TRUE(shell::AutostartEnabled());
    const std::string text = ReadFile(Entry());
    EXPECT_NE(text.find("\nExec=/usr/bin/drovanel\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=drovanel\n"), std::string::npos) << text;
    EXPECT_EQ(Validate(Entry()), "");
    // Only the entry: no part file left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_config.file("autostart")), {}), 1);

    // Written again over itself, then removed, then removed when already gone.
    shell::SetAutostart(true, "/opt/drovanel/bin/drovanel");
    EXPECT_NE(ReadFile(Entry()).find("\nExec=/opt/drovanel/bin/drovanel\n"), std::string::npos);
    shell::SetAutostart(false, {});
    EXPECT_FALSE(std::filesystem::exists(Entry()));
    EXPECT_FALSE(shell::AutostartEnabled());
    EXPECT_NO_THROW(shell::SetAutostart(false, {}));
}

// What the session does with the entry: GLib's launcher (as GNOME's session and others start
// autostart entries) runs exactly the program named, whatever characters its path holds.
TEST_F(Autostart, TheSessionStartsTheProgramWhateverItsPath)
{
    if (QStandardPaths::findExecutable("gio").isEmpty())
        GTEST_SKIP() << "gio not installed (scripts/install-deps installs it)";
    const char *folders[] = {"plain", "con espacio", "d$lar `y` \"comillas\" \\ barra", "tilde ~ & ; (x) #1"};
    for (const char *folder : folders) {
        SCOPED_TRACE(folder);
        const std::string dir = m_programs.file(folder);
        std::filesystem::create_directory(dir);
        const std::string program = dir + "/drovanel";
        const std::string marker = m_programs.file("started");
        WriteFile(program, "#!/bin/sh\necho \"$#\" > '" + marker + "'\n");
        ::chmod(program.c_str(), 0755);

        shell::SetAutostart(true, QString::fromStdString(program));
        EXPECT_EQ(Validate(Entry()), "");
        QFileSystemWatcher watcher({QString::fromStdString(m_programs.path())});
        QProcess launch;
        launch.start("gio", {"launch", QString::fromStdString(Entry())});
        ASSERT_TRUE(launch.waitForFinished(20'000));
        ASSERT_EQ(launch.exitCode(), 0) << launch.readAllStandardError().toStdString();
        ASSERT_TRUE(testutil::PumpUntil([&] { return ReadFile(marker) == "0\n"; }, 20'000)) << ReadFile(Entry());
        std::filesystem::remove(marker);
    }
}

TEST(AutostartExec, QuotesAndEscapesAsTheFormatAsks)
{
    const struct {
        const char *program;
        const char *exec;
    } cases[] = {
        {"/usr/bin/drovanel", "/usr/bin/drovanel"},
        {"/opt/mis programas/drovanel", R"("/opt/mis programas/drovanel")"},
        {"/opt/100%/drovanel", "/opt/100%%/drovanel"},
        {"/opt/a$b/drovanel", R"("/opt/a\\$b/drovanel")"},
        {"/opt/a\"b/drovanel", R"("/opt/a\\"b/drovanel")"},
        {"/opt/a\\b/drovanel", R"("/opt/a\\\\b/drovanel")"},
        {"/opt/a`b/drovanel", R"("/opt/a\\`b/drovanel")"},
        {"/opt/a\tb/drovanel", R"("/opt/a\tb/drovanel")"},
        {"/opt/ñandú/drovanel", "/opt/ñandú/drovanel"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.program);
        EXPECT_EQ(shell::DesktopExecValue(QString::fromUtf8(c.program)), c.exec);
    }
}

// An entry the user turned off in the session's settings is there but does not start the program.
TEST_F(Autostart, AnEntryHiddenOrDisabledDoesNotCount)
{
    const struct {
        const char *text;
        bool enabled;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=drovanel\n", true},
        {"[Desktop Entry]\nExec=drovanel\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=drovanel\nHidden=false\n", true},
        {"[Desktop Entry]\nExec=drovanel\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=drovanel\nX-GNOME-Autostart-enabled = false\n", false},
        {"[Desktop Entry]\nExec=drovanel\n[Desktop Action x]\nHidden=true\n", true},
    };
    std::filesystem::create_directories(m_config.file("autostart"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        WriteFile(Entry(), c.text);
        EXPECT_EQ(shell::AutostartEnabled(), c.enabled);
    }
}

// A link planted under the entry's name is replaced, the file it names untouched.
TEST_F(Autostart, ReplacesALinkWithoutWritingThroughIt)
{
    std::filesystem::create_directories(m_config.file("autostart"));
    const std::string elsewhere = m_programs.file("other.desktop");
    WriteFile(elsewhere, "otro");
    std::filesystem::create_symlink(elsewhere, Entry());

    shell::SetAutostart(true, "/usr/bin/drovanel");
    EXPECT_FALSE(std::filesystem::is_symlink(Entry()));
    EXPECT_TRUE(shell::AutostartEnabled());
    EXPECT_EQ(ReadFile(elsewhere), "otro");

    std::filesystem::create_symlink(elsewhere, m_config.file("link"));
    std::filesystem::rename(m_config.file("link"), Entry());
    shell::SetAutostart(false, {});
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Entry())));
    EXPECT_EQ(ReadFile(elsewhere), "otro");
}

// Failures that hold for any user, root included: the folder's place taken by a file, the entry's
// by a folder with something in it.
TEST_F(Autostart, FailuresAreRaisedNamingTheEntry)
{
    WriteFile(m_config.file("autostart"), "no soy una carpeta");
    EXPECT_THROW(shell::SetAutostart(true, "/usr/bin/drovanel"), fw::EFCreateError);
    EXPECT_NE(testutil::Message([] { shell::SetAutostart(true, "/usr/bin/drovanel"); }).find("es.drovanel.Drovanel"),
              std::string::npos);
    std::filesystem::remove(m_config.file("autostart"));

    std::filesystem::create_directories(Entry());
    WriteFile(Entry() + "/dentro", "x");
    EXPECT_THROW(shell::SetAutostart(false, {}), fw::EInOutError);
    EXPECT_NE(testutil::Message([] { shell::SetAutostart(false, {}); }).find("es.drovanel.Drovanel.desktop"),
              std::string::npos);
}

}  // namespace
