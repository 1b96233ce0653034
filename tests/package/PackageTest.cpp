// The installation, as a user or a package gets it: `cmake --install` into a scratch root with
// DESTDIR, the installed program and tools started from there, the desktop entry and the metainfo
// checked by the desktop's own validators, and the Debian package built by CPack and checked by
// lintian.
#include "common/TempDir.h"
#include "fixtures/ProgramRun.h"
#include "fixtures/PyFtpServer.h"
#include "fixtures/UpdateServerTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <string>

namespace {

struct CommandResult {
    int exitCode = -1;
    QString out, err;
};

// Runs a command to its end (a minute at most) and returns its exit code and output.
CommandResult RunCommand(const QString &program, const QStringList &arguments, const QProcessEnvironment &env = {})
{
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    process.start(program, arguments);
    CommandResult run;
    if (!process.waitForFinished(120'000)) {
        process.kill();
        process.waitForFinished();
        run.err = program + " did not finish";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

class InstalledTree : public ::testing::Test {
protected:
    // One installation per test process: what the tests below look at is read-only.
    static void SetUpTestSuite()
    {
        s_root = std::make_unique<QTemporaryDir>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DESTDIR", s_root->path());
        s_install = RunCommand(DROVANEL_CMAKE_COMMAND, {"--install", DROVANEL_BUILD_DIR, "--prefix", "/usr"}, env);
    }
    static void TearDownTestSuite() { s_root.reset(); }

    void SetUp() override
    {
        ASSERT_EQ(s_install.exitCode, 0) << s_install.out.toStdString() << s_install.err.toStdString();
    }

    static QString Installed(const QString &path) { return s_root->path() + "/usr/" + path; }

    static inline std::unique_ptr<QTemporaryDir> s_root;
    static inline CommandResult s_install;
};

TEST_F(InstalledTree, PutsEveryFileWhereTheDesktopLooksForIt)
{
    const char *const files[] = {
        "bin/drovanel",
        "bin/drovanel-convert",
        "bin/drovanel-ftpget",
        "lib/drovanel/libwsock32.so",
        "lib/drovanel/libdrovanel-audio.so",
        "share/applications/es.drovanel.Drovanel.desktop",
        "share/metainfo/es.drovanel.Drovanel.metainfo.xml",
        "share/icons/hicolor/scalable/apps/drovanel.svg",
        "share/man/man1/drovanel.1.gz",
        "share/man/man1/drovanel-convert.1.gz",
        "share/man/man1/drovanel-ftpget.1.gz",
        "share/doc/drovanel/copyright",
        "share/doc/drovanel/changelog.gz",
    };
    for (const char *file : files)
        EXPECT_TRUE(QFileInfo(Installed(file)).isFile()) << file;
    for (const char *tool : {"bin/drovanel", "bin/drovanel-convert", "bin/drovanel-ftpget"})
        EXPECT_TRUE(QFileInfo(Installed(tool)).isExecutable()) << tool;
    // The socket library and the audio module are private to the program: not on the system's
    // library path.
    for (const char *library : {"libwsock32.so", "libdrovanel-audio.so"}) {
        EXPECT_FALSE(QFileInfo::exists(Installed(QString("bin/") + library))) << library;
        EXPECT_FALSE(QFileInfo::exists(Installed(QString("lib/") + library))) << library;
    }
}

TEST_F(InstalledTree, HasTheIconAtEveryUsualSizeDrawnAtThatSize)
{
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path = Installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/drovanel.png").arg(size));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        // The PNG header holds the width and the height, big-endian, at bytes 16 and 20.
        const QByteArray head = file.read(24);
        ASSERT_EQ(head.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
        const auto be32 = [&head](int at) {
            return (static_cast<unsigned char>(head[at]) << 24) | (static_cast<unsigned char>(head[at + 1]) << 16) |
                   (static_cast<unsigned char>(head[at + 2]) << 8) | static_cast<unsigned char>(head[at + 3]);
        };
        EXPECT_EQ(be32(16), size);
        EXPECT_EQ(be32(20), size);
    }
    QFile svg(Installed("share/icons/hicolor/scalable/apps/drovanel.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("<svg xmlns=\"http://www.w3.org/2000/svg\""));
}

TEST_F(InstalledTree, DesktopEntryAndMetainfoPassTheValidators)
{
    const CommandResult desktop =
        RunCommand("desktop-file-validate", {Installed("share/applications/es.drovanel.Drovanel.desktop")});
    EXPECT_EQ(desktop.exitCode, 0) << desktop.out.toStdString() << desktop.err.toStdString();
    EXPECT_FALSE(desktop.out.contains("error")) << desktop.out.toStdString();

    const CommandResult metainfo = RunCommand(
        "appstreamcli", {"validate", "--no-net", Installed("share/metainfo/es.drovanel.Drovanel.metainfo.xml")});
    EXPECT_EQ(metainfo.exitCode, 0) << metainfo.out.toStdString() << metainfo.err.toStdString();

    // The entry starts the installed program, and its icon is the installed one.
    QFile entry(Installed("share/applications/es.drovanel.Drovanel.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.contains("\nExec=drovanel\n"));
    EXPECT_TRUE(text.contains("\nIcon=drovanel\n"));
}

TEST_F(InstalledTree, ManPagesAreCompressedPagesOfTheirCommand)
{
    for (const QString page : {"drovanel", "drovanel-convert", "drovanel-ftpget"}) {
        const CommandResult text = RunCommand("gzip", {"-dc", Installed("share/man/man1/" + page + ".1.gz")});
        ASSERT_EQ(text.exitCode, 0) << page.toStdString();
        EXPECT_TRUE(text.out.startsWith(".TH " + page.toUpper() + " 1 ")) << page.toStdString();
        EXPECT_TRUE(text.out.contains(".SH NAME\n" + page + " \\-")) << page.toStdString();
    }
}

// The installed program in a throwaway profile, offscreen: a stored download folder and no start-up
// check, so no question waits and nothing reaches a network.
QProcessEnvironment QuietProfile(testutil::ProgramRun &run)
{
    EXPECT_TRUE(run.PrepareQuiet());
    QProcessEnvironment env = run.Env(QProcessEnvironment::systemEnvironment());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

// The installed program starts from the scratch root, runs, and ends cleanly on SIGTERM (as
// "Salir" does: settings saved).
TEST_F(InstalledTree, InstalledProgramStartsAndEndsCleanlyOnSigterm)
{
    testutil::ProgramRun run(Installed("bin/drovanel"));
    ASSERT_TRUE(run.Start(QuietProfile(run)));
    QProcess &program = run.Process();
    // The single-instance mark is taken before the window is built; the settings file is written
    // when the program ends. Give it the time to build its window, then end it.
    const QString lock = run.RuntimeDir() + "/drovanel.lock";
    // Awaited through its folder's change events.
    ASSERT_TRUE(testutil::AwaitFile(lock, program, 6000)) << "no single-instance mark";
    ASSERT_EQ(program.state(), QProcess::Running) << program.readAllStandardError().toStdString();
    program.waitForFinished(500);  // the main form built; the window shown offscreen
    ASSERT_EQ(program.state(), QProcess::Running) << program.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(30'000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const std::string settings = run.Settings().toStdString();
    EXPECT_NE(settings.find("\"Visible\"=\"1\""), std::string::npos) << settings;
    EXPECT_NE(settings.find("\"ComprobarChk_Checked\"=\"False\""), std::string::npos) << settings;
}

// The sound chain (the audio module, Qt Multimedia and the sound server's libraries) is not part
// of the program's start: the installed program loads its module from the installed tree when the
// beeper first connects, a second after the window is built.
TEST_F(InstalledTree, InstalledProgramLoadsItsAudioModuleWhenTheBeeperConnects)
{
    const CommandResult linked = RunCommand("ldd", {Installed("bin/drovanel")});
    ASSERT_EQ(linked.exitCode, 0) << linked.err.toStdString();
    for (const char *library : {"libdrovanel-audio", "libQt6Multimedia", "libpulse", "libsndfile"})
        EXPECT_FALSE(linked.out.contains(library)) << library << " in " << linked.out.toStdString();

    testutil::ProgramRun run(Installed("bin/drovanel"));
    QProcessEnvironment env = QuietProfile(run);
    env.insert("PULSE_SERVER", "unix:" + run.RuntimeDir() + "/no-sound-server");  // nothing to connect to
    ASSERT_TRUE(run.Start(env));
    QProcess &program = run.Process();
    const QString module = QFileInfo(Installed("lib/drovanel/libdrovanel-audio.so")).canonicalFilePath();
    const auto mapped = [&] {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(program.processId()));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(module.toLocal8Bit());
    };
    for (int i = 0; i < 500 && !mapped() && program.state() == QProcess::Running; ++i)
        program.waitForFinished(20);
    EXPECT_TRUE(mapped()) << module.toStdString();
    ASSERT_EQ(program.state(), QProcess::Running) << program.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(30'000));
    EXPECT_EQ(program.exitCode(), 0);
}

// The installed FTP tool loads the socket library from the installed tree (there is none beside
// it) and fetches a name list from a real server.
TEST_F(InstalledTree, InstalledToolsFindTheSocketLibraryAndWork)
{
    const std::string kData = "+0036000412345";  // positions 1 to 14 of a record
    testutil::TempDir served;
    QDir().mkpath(QString::fromStdString(served.file("updates")));
    testutil::WriteFile(served.file("updates/Watcher-261201.mdb"), "574C header\r\n" + kData + "A1,50\r\n");
    testutil::PyFtpServer server(served.path(), testutil::kSampleUser, testutil::kSamplePassword);
    ASSERT_NE(server.Port(), 0);
    const CommandResult list =
        RunCommand(Installed("bin/drovanel-ftpget"), {"127.0.0.1", QString::number(server.Port()),
                                                      testutil::kSampleUser, testutil::kSamplePassword, "/updates"});
    EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
    EXPECT_EQ(list.out, "Watcher-261201.mdb\n");

    // The converter: a Watcher map with the type "1" at "Med" gets the alert character "0".
    const std::string out = served.file("out.mdb");
    const CommandResult convert = RunCommand(Installed("bin/drovanel-convert"),
                                             {QString::fromStdString(served.file("updates/Watcher-261201.mdb")),
                                              QString::fromStdString(out), "1", "2", "3", "3", "3", "3", "3", "3"});
    EXPECT_EQ(convert.exitCode, 0) << convert.err.toStdString();
    EXPECT_EQ(testutil::ReadFile(out), "574C header\r\n" + kData + "01\r\n");
}

// Builds the Debian package with CPack into the folder and returns its path (empty on failure,
// with the reason recorded as a test failure).
QString BuildDebianPackage(const QString &folder)
{
    const CommandResult cpack = RunCommand(
        DROVANEL_CPACK_COMMAND, {"--config", DROVANEL_BUILD_DIR "/CPackConfig.cmake", "-G", "DEB", "-B", folder});
    EXPECT_EQ(cpack.exitCode, 0) << cpack.out.toStdString() << cpack.err.toStdString();
    const QStringList debs = QDir(folder).entryList({"drovanel_*.deb"});
    EXPECT_EQ(debs.size(), 1) << QDir(folder).entryList().join(' ').toStdString();
    return cpack.exitCode == 0 && debs.size() == 1 ? folder + "/" + debs.front() : QString();
}

// CPack builds the Debian package, with its library dependencies found by dpkg-shlibdeps.
TEST(DebianPackage, HoldsTheInstallationAndItsLibraryDependencies)
{
    QTemporaryDir out;
    const QString deb = BuildDebianPackage(out.path());
    ASSERT_FALSE(deb.isEmpty());

    const CommandResult depends = RunCommand("dpkg-deb", {"--field", deb, "Package", "Depends"});
    ASSERT_EQ(depends.exitCode, 0) << depends.err.toStdString();
    EXPECT_TRUE(depends.out.contains("Package: drovanel")) << depends.out.toStdString();
    for (const char *library :
         {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6multimedia6"})
        EXPECT_TRUE(depends.out.contains(library)) << library << " in " << depends.out.toStdString();

    const CommandResult contents = RunCommand("dpkg-deb", {"--contents", deb});
    ASSERT_EQ(contents.exitCode, 0);
    for (const char *file : {"./usr/bin/drovanel", "./usr/bin/drovanel-convert", "./usr/bin/drovanel-ftpget",
                             "./usr/lib/drovanel/libwsock32.so", "./usr/lib/drovanel/libdrovanel-audio.so",
                             "./usr/share/applications/es.drovanel.Drovanel.desktop",
                             "./usr/share/metainfo/es.drovanel.Drovanel.metainfo.xml",
                             "./usr/share/icons/hicolor/48x48/apps/drovanel.png", "./usr/share/man/man1/drovanel.1.gz",
                             "./usr/share/doc/drovanel/copyright", "./usr/share/doc/drovanel/changelog.gz"})
        EXPECT_TRUE(contents.out.contains(QString(file) + "\n")) << file;

    // The private libraries are not on the dynamic linker's path, so nothing is left for a
    // maintainer script to do.
    const CommandResult info = RunCommand("dpkg-deb", {"--info", deb});
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    for (const char *script : {"preinst", "postinst", "prerm", "postrm"})
        EXPECT_FALSE(info.out.contains(script)) << script << " in " << info.out.toStdString();
}

// Debian's own checker finds nothing to report about the package: no error, no warning.
TEST(DebianPackage, PassesLintianWithoutErrorsOrWarnings)
{
    if (QStandardPaths::findExecutable("lintian").isEmpty())
        GTEST_SKIP() << "lintian is not installed";
    QTemporaryDir out;
    const QString deb = BuildDebianPackage(out.path());
    ASSERT_FALSE(deb.isEmpty());

    const CommandResult lintian = RunCommand("lintian", {"--fail-on", "error,warning", deb});
    QStringList reported;
    for (const QString &line : lintian.out.split('\n'))
        if (line.startsWith("E: ") || line.startsWith("W: "))
            reported << line;
    EXPECT_TRUE(reported.isEmpty()) << reported.join('\n').toStdString();
    EXPECT_EQ(lintian.exitCode, 0) << lintian.out.toStdString() << lintian.err.toStdString();
}

}  // namespace
