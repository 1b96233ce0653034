#pragma once
// A main form in a world of its own: a fresh home folder (desktop and configuration inside it),
// scripted dialogs, a notification area, and the current directory put back afterwards; and the
// first run on a desktop folder the user cannot write, which more than one area of the start-up
// meets.
#include "common/Privileges.h"
#include "common/ScriptedDialogs.h"
#include "common/TrayProbe.h"
#include "framework/Application.h"
#include "framework/FileSystem.h"
#include "platform/Registry.h"
#include "shell/Desktop.h"
#include "shell/Pral.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

// The main form with the update check counted instead of run.
class TestPral : public TFPral {
public:
    void ComprobarAct1() override { ++checks; }
    int checks = 0;
};

class PralTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_cwd = fw::GetCurrentDir();
        m_oldHome = qgetenv("HOME");
        m_oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", m_home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + "/.config").toLocal8Bit());
        // The stored settings of this test's own user, read afresh from its configuration folder.
        platform::RegistryUseFile(QString());
        fw::Application().ResetTerminated();
        // No notification server, no logind, no NetworkManager, whatever runs where the tests
        // run; a test that wants them starts its own on a private bus.
        shell::SetBuses(NoBus(), NoBus());
    }
    static QDBusConnection NoBus() { return QDBusConnection(QStringLiteral("drovanel-tests-no-bus")); }
    void TearDown() override
    {
        fw::SetCurrentDir(m_cwd);
        qputenv("HOME", m_oldHome);
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
        platform::RegistryUseFile(QString());
        fw::Application().ResetTerminated();
        shell::SetBuses(NoBus(), NoBus());
    }

    std::string home() const { return m_home.path().toStdString(); }
    std::string desktop() const { return home() + "/Desktop"; }

    // How the desktop folder came to be read-only to the user who starts the program.
    enum class ReadOnlyDesktop {
        Created,      // created so, then given to the user
        MadeByOwner,  // the user's own, made read-only by the user
    };

    // The first run with the question answered yes, on a desktop folder the user cannot write. The
    // superuser writes anywhere, so the form starts in a child that has given up root. The folder
    // cannot be made: the last of the three dialogs warns, the folder stays unset and the page
    // "Config" asks for one. `expect` checks more in the child, after the start.
    void FirstRunOnAReadOnlyDesktop(ReadOnlyDesktop how, const std::function<void(TestPral &)> &expect = {})
    {
        ASSERT_EQ(::mkdir(desktop().c_str(), how == ReadOnlyDesktop::Created ? 0555 : 0755), 0);
        testutil::GiveToUnprivilegedUser(home());
        testutil::RunWithoutRoot([&] {
            if (how == ReadOnlyDesktop::MadeByOwner) {
                ASSERT_EQ(::chmod(desktop().c_str(), 0555), 0);
            }
            ASSERT_NE(::access(desktop().c_str(), W_OK), 0) << "the desktop folder is writable";
            dialogs.Answer(fw::DialogResult::Yes);
            TestPral form;
            form.DoCreate();
            ASSERT_EQ(dialogs.shown.size(), 3u);
            EXPECT_EQ(dialogs.shown[2].kind, fw::DialogKind::Warning);
            EXPECT_EQ(dialogs.shown[2].text, "No se ha podido crear la carpeta");
            EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(desktop() + "/ActDrovanel")));
            EXPECT_EQ(form.DirectoryEdit1->Text(), "");
            EXPECT_EQ(form.Notebook1->ActivePage(), "Config");
            if (expect)
                expect(form);
        });
        ::chmod(desktop().c_str(), 0755);
    }

    QTemporaryDir m_home;
    std::string m_cwd;
    QByteArray m_oldHome, m_oldConfig;
    testutil::ScriptedDialogs dialogs;
    // A desktop with a notification area, unless a test takes it away.
    testutil::TrayProbe tray{true};
};
