#pragma once
// A main form in a world of its own: a fresh home folder (desktop and configuration inside it),
// scripted dialogs, a notification area, and the current directory put back afterwards.
#include "common/ScriptedDialogs.h"
#include "common/TrayProbe.h"
#include "framework/Application.h"
#include "framework/FileSystem.h"
#include "platform/Registry.h"
#include "shell/Pral.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

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
    }
    void TearDown() override
    {
        fw::SetCurrentDir(m_cwd);
        qputenv("HOME", m_oldHome);
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
        platform::RegistryUseFile(QString());
        fw::Application().ResetTerminated();
    }

    std::string home() const { return m_home.path().toStdString(); }
    std::string desktop() const { return home() + "/Desktop"; }

    QTemporaryDir m_home;
    std::string m_cwd;
    QByteArray m_oldHome, m_oldConfig;
    testutil::ScriptedDialogs dialogs;
    // A desktop with a notification area, unless a test takes it away.
    testutil::TrayProbe tray{true};
};
