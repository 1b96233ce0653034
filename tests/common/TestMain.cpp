// Test entry point: every test process gets its own HOME and configuration folders, so no test
// reads or writes the developer's settings, and a Qt application object exists for the event loop.
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

#ifdef DROVANEL_TEST_GUI
#include <QApplication>
using TestApp = QApplication;
#else
#include <QCoreApplication>
using TestApp = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    const QByteArray h = home.path().toLocal8Bit();
    setenv("HOME", h.constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/.config").constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/.local/share").constData(), 1);
    setenv("XDG_RUNTIME_DIR", h.constData(), 1);
    setenv("XDG_DESKTOP_DIR", (h + "/Desktop").constData(), 1);
    setenv("DROVANEL_SOURCE_DIR", DROVANEL_SOURCE_DIR, 0);
    setenv("DROVANEL_BIN_DIR", DROVANEL_BIN_DIR, 0);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TestApp app(argc, argv);
    return RUN_ALL_TESTS();
}
