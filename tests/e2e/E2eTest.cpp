// The real program, from outside: started as a user starts it, in a virtual X display with a tray
// host and a sound server, against the sample update server reached through the FTP proxy setting
// ("Usuario con no Logon"), driven with xdotool and judged by its windows, its files and the
// server's log. Each step leaves a screenshot in the artifacts folder of its test.
#include "common/TempDir.h"
#include "fixtures/ProgramRun.h"
#include "fixtures/VirtualDesktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testutil::ReadAll;
using testutil::WaitUntil;
using testutil::WriteAll;

const QString kMainTitle = QStringLiteral("^Drovanel - Descargas de actualizaciones");
// Titles of the program's message dialogs (the accented ones matched up to the accent).
const QString kMessageTitle = QStringLiteral("^Drovanel$");
const QString kQuestionTitle = QStringLiteral("^Confirmaci");
const QString kInformationTitle = QStringLiteral("^Informaci");
const QString kNewsTitle = QStringLiteral("^Drovanel - Noticias$");

// Points of the main window's client area (below its menu bar), in pixels.
constexpr int kClientHeight = 291;
const QPoint kDownloadButton(8 + 240 + 52, 209 + 8 + 12);  // "Descargar" on the main page
const QPoint kSaveButton(146 + 52, 229 + 12);              // "Guardar" on the page "Config"
const QRect kMark(197, 152, 172, 33);                      // the new-map mark "Existe nuevo mapa"

const QByteArray kPublished = "Watcher-261201.mdb";  // the newest map of the sample server

// A recording of 16-bit mono samples at 48 kHz, in windows of 10 ms.
struct Loudness {
    int loudWindows = 0;   // windows whose level is clearly above the null sink's silence
    int quietAfterMs = 0;  // silence recorded after the last loud window
    qsizetype samples = 0;
    qint16 peak = 0;
};

Loudness MeasureLoudness(const QByteArray &recording)
{
    const auto *pcm = reinterpret_cast<const qint16 *>(recording.constData());
    Loudness result;
    result.samples = recording.size() / 2;
    constexpr qsizetype kWindow = 480;  // 10 ms
    for (qsizetype at = 0; at + kWindow <= result.samples; at += kWindow) {
        double sum = 0;
        for (qsizetype i = at; i < at + kWindow; ++i)
            sum += static_cast<double>(pcm[i]) * pcm[i];
        if (std::sqrt(sum / kWindow) > 300) {
            ++result.loudWindows;
            result.quietAfterMs = 0;
        } else {
            result.quietAfterMs += 10;
        }
    }
    result.peak = result.samples ? *std::max_element(pcm, pcm + result.samples) : 0;
    return result;
}

class E2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_desktop.Ok()) << m_desktop.Error().toStdString();
        ASSERT_TRUE(m_run.Ok());
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_artifacts = QStringLiteral(DROVANEL_ARTIFACTS_DIR "/") + info->name();
        QDir(m_artifacts).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_artifacts));
        m_bin = m_run.BinDir();
        ASSERT_TRUE(QFileInfo(m_run.Program()).isExecutable()) << m_run.Program().toStdString();
    }

    void TearDown() override
    {
        if (m_program.state() != QProcess::NotRunning) {
            Shot("teardown");
            m_program.kill();
            m_program.waitForFinished(5000);
        }
    }

    QString Opened() const { return m_run.Opened(); }
    QString ServerRoot() const { return m_run.ServerRoot(); }
    QString ServerLog() const { return m_run.ServerLog(); }
    QString Published(const QByteArray &name) const { return m_run.Published(name); }
    QString Profile() const { return m_run.Profile(); }
    QString Home() const { return m_run.Home(); }
    QString DownloadFolder() const { return m_run.DownloadFolder(); }
    QString SettingsFile() const { return m_run.SettingsFile(); }

    void StartServer(const QStringList &extra = {})
    {
        ASSERT_TRUE(m_run.StartServer(extra)) << "the sample server did not start";
    }

    // The throwaway profile (scripts/write-profile) pointing at the sample server.
    void WriteProfile(const QStringList &options)
    {
        ASSERT_TRUE(m_run.WriteProfile(options)) << m_run.Error().toStdString();
        m_env = m_run.Env(m_desktop.Env());
    }

    void StartProgram()
    {
        ASSERT_TRUE(m_run.Start(m_env));
        AwaitMainWindow();
    }

    void AwaitMainWindow()
    {
        m_main = m_desktop.Display().WaitWindow(kMainTitle, 30'000);
        ASSERT_FALSE(m_main.isEmpty()) << "no main window";
        MeasureMenuHeight();
    }

    // The menu bar's height depends on the font: the rest of the window is the client area. The
    // window may be found before the menu bar has taken its room (a slow build): until then every
    // click would land a menu bar's height too high.
    void MeasureMenuHeight()
    {
        QString geometry;
        const bool laidOut = WaitUntil(
            [&] {
                geometry = m_desktop.Display().Xdo({"getwindowgeometry", "--shell", m_main});
                m_menuHeight = QRegularExpression("HEIGHT=(\\d+)").match(geometry).captured(1).toInt() - kClientHeight;
                return m_menuHeight > 0;
            },
            10'000);
        ASSERT_TRUE(laidOut) << geometry.toStdString();
    }

    // The screen as it is now, into the test's artifacts.
    void Shot(const QString &step)
    {
        const QString path =
            QStringLiteral("%1/%2-%3.png").arg(m_artifacts).arg(++m_shots, 2, 10, QChar('0')).arg(step);
        EXPECT_TRUE(m_desktop.Display().Screenshot(path)) << path.toStdString();
        m_lastShot = path;
    }

    // Waits for a dialog, keeps its picture, and answers it with the keys. With `text`, what the
    // dialog says first: Ctrl+C copies a message box's title, text and buttons to the clipboard.
    void Answer(const QString &title, const QString &step, const QStringList &keys, int timeoutMs = 30'000,
                QString *text = nullptr)
    {
        const QString dialog = m_desktop.Display().WaitWindow(title, timeoutMs);
        ASSERT_FALSE(dialog.isEmpty()) << "no dialog " << title.toStdString() << " for " << step.toStdString();
        Shot(step);
        if (text) {
            m_desktop.Display().Keys(dialog, {"ctrl+c"});
            // The copy lands once the program has handled the keys.
            WaitUntil(
                [&] {
                    QProcess reader;
                    reader.setProcessEnvironment(m_desktop.Env());
                    reader.start(m_bin + "/e2e_clipboard", {});
                    *text =
                        reader.waitForFinished(10'000) ? QString::fromUtf8(reader.readAllStandardOutput()) : QString();
                    return !text->isEmpty();
                },
                10'000);
        }
        m_desktop.Display().Keys(dialog, keys);
        ASSERT_TRUE(WaitUntil([&] { return !m_desktop.Display().Windows(title).contains(dialog); }, 10'000))
            << "the dialog " << title.toStdString() << " stayed";
    }

    // The first-run question answered yes, and the two messages that follow accepted.
    void AnswerFirstRun()
    {
        Answer(kQuestionTitle, "first-run-question", {"alt+s"});
        Answer(kMessageTitle, "default-folder-message", {"Return"});
        Answer(kInformationTitle, "folder-created", {"Return"});
    }

    void ClickClient(const QPoint &point, int button = 1)
    {
        m_desktop.Display().Click(m_main, point.x(), point.y() + m_menuHeight, button);
    }

    // Red pixels of the new-map mark in the last screenshot.
    int MarkPixels()
    {
        const QString geometry = m_desktop.Display().Xdo({"getwindowgeometry", "--shell", m_main});
        const int x = QRegularExpression("X=(\\d+)").match(geometry).captured(1).toInt();
        const int y = QRegularExpression("Y=(\\d+)").match(geometry).captured(1).toInt();
        const QImage screen(m_lastShot);
        int red = 0;
        for (int j = 0; j < kMark.height(); ++j) {
            for (int i = 0; i < kMark.width(); ++i) {
                const QColor c = screen.pixelColor(x + kMark.x() + i, y + m_menuHeight + kMark.y() + j);
                red += c.red() > 160 && c.green() < 90 && c.blue() < 90;
            }
        }
        return red;
    }

    // Ends the program as a signal from the session does ("Salir": settings saved).
    void EndWithSigterm()
    {
        ::kill(static_cast<pid_t>(m_program.processId()), SIGTERM);
        ASSERT_TRUE(m_program.waitForFinished(30'000));
        EXPECT_EQ(m_program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(m_program.exitCode(), 0);
    }

    QByteArray Settings() const { return ReadAll(SettingsFile()); }

    // The map converted for the Watcher at the default levels (all "Máx"), as the converter tool
    // writes it.
    QByteArray ExpectedConversion(const QByteArray &name)
    {
        const QString out = m_run.Work() + "/expected-" + QString::fromLatin1(name);
        QProcess convert;
        convert.start(m_bin + "/drovanel-convert", {Published(name), out, "1", "3", "3", "3", "3", "3", "3", "3"});
        EXPECT_TRUE(convert.waitForFinished(60'000));
        EXPECT_EQ(convert.exitCode(), 0) << convert.readAllStandardError().toStdString();
        return ReadAll(out);
    }

    testutil::VirtualDesktop m_desktop;
    testutil::ProgramRun m_run;
    QProcessEnvironment m_env;
    QProcess &m_program = m_run.Process();
    QString m_bin, m_artifacts, m_lastShot, m_main;
    int m_menuHeight = 0;
    int m_shots = 0;
};

// Start, the first-run question answered, the main window shown, the folder made, a clean end on
// SIGTERM, and the settings file holding what was set.
TEST_F(E2e, FirstRunQuestionAnsweredMainWindowShownEndsCleanly)
{
    StartServer();
    WriteProfile({"--first-run", "--no-check"});
    StartProgram();
    AnswerFirstRun();
    Shot("main-window");

    // The folder in the desktop folder the profile names, with the empty placeholder map.
    EXPECT_TRUE(QFileInfo(DownloadFolder()).isDir());
    const QFileInfo placeholder(DownloadFolder() + "/Watcher-010101.mdb");
    EXPECT_TRUE(placeholder.isFile());
    EXPECT_EQ(placeholder.size(), 0);
    EXPECT_FALSE(m_desktop.Display().Windows(kMainTitle).isEmpty()) << "the main window is not shown";

    EndWithSigterm();
    const QByteArray settings = Settings();
    EXPECT_TRUE(settings.startsWith("REGEDIT4\r\n")) << settings.toStdString();
    const QByteArray expected[] = {
        "\"DirectoryEdit1_Text\"=\"" + DownloadFolder().toUtf8() + "\"",
        "\"Avisadores_ItemIndex\"=\"1\"",
        "\"ComprobarChk_Checked\"=\"False\"",
        "\"ServerTypeRadioGroup_ItemIndex\"=\"0\"",
        "\"ProxyServerEdit1_Text\"=\"127.0.0.1\"",
        "\"ProxyPortEdit1_Value\"=\"" + QByteArray::number(m_run.ServerPort()) + "\"",
    };
    for (const QByteArray &value : expected)
        EXPECT_TRUE(settings.contains(value + "\r\n")) << value.toStdString() << " in\n" << settings.toStdString();
    // Without the start-up check nothing reached the server.
    EXPECT_FALSE(ReadAll(ServerLog()).contains("FTP session opened"));
}

// The whole road: first run, the start-up check through the proxy, the mark and the news, the
// download with its melody, the converted map, "Finalizar" from the tray sending QUIT, and the
// settings file. Switched on once the update check and download, the melody and the tray icon are
// in the program.
TEST_F(E2e, WholeRoadFromFirstRunToFinalizar)
{
    StartServer();
    WriteProfile({"--first-run"});
    StartProgram();
    AnswerFirstRun();

    // The start-up check found the server's map newer than the placeholder: the news is fetched
    // into the folder and shown in the program's own window, read and closed with Escape; nothing
    // of the server's is handed to another program.
    const QString news = DownloadFolder() + "/news.txt";
    Answer(kNewsTitle, "news", {"Escape"}, 60'000);
    EXPECT_EQ(ReadAll(news), ReadAll(m_run.News()));
    EXPECT_TRUE(ReadAll(Opened()).isEmpty()) << "the news went to the desktop";
    // Through the proxy setting: the account, then "@" and the update host.
    EXPECT_TRUE(ReadAll(ServerLog()).contains(QByteArray("USER ") + testutil::kSampleUser + "@"));

    // From the page "Config" that the first run showed back to the main page: the mark is there.
    ClickClient(kSaveButton);
    ASSERT_TRUE(WaitUntil(
        [&] {
            Shot("new-map-mark");
            return MarkPixels() > 200;
        },
        10'000))
        << "no new-map mark";
    // The new map told in a notification: on this tray, Qt's own balloon by the icon, a window
    // of the program's beside the main window and the icon's. A click on it closes it.
    const auto programWindows = [&] {
        return m_desktop.Display().Search({"--onlyvisible", "--classname", "drovanel"}).size();
    };
    ASSERT_TRUE(WaitUntil([&] { return programWindows() == 3; }, 10'000)) << "no notification of the new map";
    Shot("new-map-notification");
    m_desktop.Display().ClickAt({130, 75});
    ASSERT_TRUE(WaitUntil([&] { return programWindows() == 2; }, 5000)) << "the notification stays";

    // "Descargar", with the null sink recorded for the melody.
    QProcess recorder;
    recorder.setProcessEnvironment(m_desktop.Env());
    const QString sound = m_run.Work() + "/melody.raw";
    recorder.start("parec", {"--latency-msec=20", "--device=" + QString(testutil::SoundServer::kSink) + ".monitor",
                             "--rate=48000", "--channels=1", "--format=s16le", "--raw", sound});
    ASSERT_TRUE(recorder.waitForStarted(10'000));
    // Recording has begun once the monitor's samples reach the file.
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo(sound).size() > 0; }, 10'000)) << "parec records nothing";
    ClickClient(kDownloadButton);
    Shot("downloading");
    Answer(kMessageTitle, "map-received", {"Return"}, 120'000);
    // The null sink renders in blocks of up to two seconds: what was played reaches the monitor
    // a little later. The melody is over once the recording holds sound and then a stretch of
    // silence longer than any rest of a melody.
    Loudness loudness;
    WaitUntil(
        [&] {
            loudness = MeasureLoudness(ReadAll(sound));
            return loudness.loudWindows > 0 && loudness.quietAfterMs >= 400;
        },
        10'000);
    testutil::StopProcess(recorder);
    loudness = MeasureLoudness(ReadAll(sound));
    const int loudWindows = loudness.loudWindows;

    // The map converted for the Watcher, byte for byte; the download itself is gone.
    EXPECT_EQ(ReadAll(DownloadFolder() + "/" + kPublished), ExpectedConversion(kPublished));
    EXPECT_FALSE(QFileInfo::exists(DownloadFolder() + "/temp.mdb"));

    // The melody (psClimb: twelve tones of 80 ms) reached the sound server: about 960 ms of sound.
    const qsizetype count = loudness.samples;
    const qint16 peak = loudness.peak;
    EXPECT_GE(loudWindows * 10, 850) << "ms of sound recorded, in " << count << " samples peaking at " << peak;
    EXPECT_LE(loudWindows * 10, 1100) << "ms of sound recorded";

    // "Finalizar" from the tray menu: the tray host docks the icon in the screen's top left
    // corner; the menu's last item is "Finalizar".
    const qsizetype before = programWindows();
    m_desktop.Display().ClickAt(testutil::XembedTray::kFirstIcon, 3);
    ASSERT_TRUE(WaitUntil([&] { return programWindows() > before; }, 5000)) << "no tray menu";
    Shot("tray-menu");
    m_desktop.Display().Xdo({"key", "Up", "Return"});
    ASSERT_TRUE(m_program.waitForFinished(30'000)) << "Finalizar did not end the program";
    EXPECT_EQ(m_program.exitCode(), 0);
    EXPECT_TRUE(WaitUntil([&] { return ReadAll(ServerLog()).contains("<- QUIT"); }, 10'000)) << "no QUIT";
    const QByteArray settings = Settings();
    EXPECT_TRUE(settings.contains("\"DirectoryEdit1_Text\"=\"" + DownloadFolder().toUtf8() + "\"\r\n"))
        << settings.toStdString();
    EXPECT_TRUE(settings.contains("\"ComprobarChk_Checked\"=\"True\"\r\n"));
    EXPECT_TRUE(settings.contains("\"ProxyPortEdit1_Value\"=\"" + QByteArray::number(m_run.ServerPort()) + "\"\r\n"));
}

// The server dies half-way through a download: an error dialog, the previous map intact, no
// conversion, no half download left, the program still usable, and a retry succeeding once the
// server is back.
TEST_F(E2e, ServerKilledHalfWayThroughADownload)
{
    StartServer({"--size", "8M", "--rate", "1000000"});  // eight seconds on the wire
    WriteProfile({});
    const QByteArray previous = "574C previous map\r\n";
    ASSERT_TRUE(WriteAll(DownloadFolder() + "/Watcher-261120.mdb", previous));
    StartProgram();
    Answer(kNewsTitle, "news", {"Escape"}, 60'000);  // the check has ended

    // The map arrives in a hidden part file, renamed to temp.mdb only when whole.
    const auto partFiles = [&] { return QDir(DownloadFolder()).entryList({"*.part"}, QDir::Files | QDir::Hidden); };
    ClickClient(kDownloadButton);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const QStringList parts = partFiles();
            return parts.size() == 1 && QFileInfo(DownloadFolder() + "/" + parts[0]).size() > 1'000'000;
        },
        60'000));
    Shot("downloading");
    const quint16 port = m_run.ServerPort();
    m_run.KillServer();
    Answer(kMessageTitle, "transfer-broken", {"Return"}, 90'000);
    EXPECT_EQ(ReadAll(DownloadFolder() + "/Watcher-261120.mdb"), previous);
    EXPECT_FALSE(QFileInfo::exists(DownloadFolder() + "/" + kPublished)) << "a broken download was converted";
    EXPECT_FALSE(QFileInfo::exists(DownloadFolder() + "/temp.mdb")) << "a broken download was put in place";
    EXPECT_TRUE(partFiles().isEmpty()) << partFiles().join(' ').toStdString();

    // The server is back where the program expects it; the same button now succeeds.
    StartServer({"--port", QString::number(port)});
    ClickClient(kDownloadButton);
    Answer(kMessageTitle, "map-received", {"Return"}, 120'000);
    EXPECT_EQ(ReadAll(DownloadFolder() + "/" + kPublished), ExpectedConversion(kPublished));
    EndWithSigterm();
}

// The program killed during the conversion of a large map: the previous map intact, and no half
// file left beside it at the next start.
TEST_F(E2e, KilledDuringTheConversionOfALargeMap)
{
    StartServer({"--size", "200M", "--maps", "1"});
    WriteProfile({});
    StartProgram();
    Answer(kNewsTitle, "news", {"Escape"}, 60'000);  // the check has ended
    const QByteArray name = "Watcher-261105.mdb";    // the one map published
    const QByteArray previous = "574C previous map\r\n";
    ASSERT_TRUE(WriteAll(DownloadFolder() + "/" + name, previous));

    // The download and then the conversion write hidden part files beside their destinations: the
    // program is killed as soon as the whole download (temp.mdb) has a part file beside it.
    const auto partFiles = [&] { return QDir(DownloadFolder()).entryList({"*.part"}, QDir::Files | QDir::Hidden); };
    ClickClient(kDownloadButton);
    ASSERT_TRUE(
        WaitUntil([&] { return QFileInfo::exists(DownloadFolder() + "/temp.mdb") && !partFiles().isEmpty(); }, 120'000))
        << "no conversion seen";
    ::kill(static_cast<pid_t>(m_program.processId()), SIGKILL);
    m_program.waitForFinished(10'000);
    EXPECT_EQ(ReadAll(DownloadFolder() + "/" + name), previous);

    // The next start clears what the killed conversion left.
    StartProgram();
    EXPECT_TRUE(WaitUntil([&] { return partFiles().isEmpty(); }, 30'000)) << partFiles().join(' ').toStdString();
    EXPECT_EQ(ReadAll(DownloadFolder() + "/" + name), previous);
    Shot("after-restart");
    EndWithSigterm();
}

// A download folder the user cannot write: the download cannot create its file, the file layer's
// error is reported, nothing is transferred or lost, and the button works again. The folder
// already holds the newest map, so the check that "Descargar" runs first finds nothing new and
// writes no news: the download itself meets the refusal. Run as an unprivileged user when the
// test runs as root, so the refusal is real.
TEST_F(E2e, ReadOnlyDownloadFolder)
{
    StartServer();
    WriteProfile({"--no-check"});
    const QByteArray previous = "574C previous map\r\n";
    ASSERT_TRUE(WriteAll(DownloadFolder() + "/" + kPublished, previous));
    ASSERT_EQ(::chmod(QFile::encodeName(DownloadFolder()).constData(), 0555), 0);
    // As root, a copy of the program runs as nobody wherever the build tree lies; the process
    // watched is then setpriv, which execs the program.
    ASSERT_TRUE(m_run.StartWithoutRoot(m_env));
    AwaitMainWindow();
    const QString temp = DownloadFolder() + "/temp.mdb";
    // Twice: the button is enabled again after the failure, and the second press fails the same way.
    for (const char *step : {"cannot-write", "cannot-write-again"}) {
        SCOPED_TRACE(step);
        ClickClient(kDownloadButton);
        QString said;
        Answer(kMessageTitle, step, {"Return"}, 60'000, &said);
        // The error report (its one button is "OK") of the file layer, naming the file.
        EXPECT_TRUE(said.contains("Cannot create file \"" + temp + "\"")) << said.toStdString();
        EXPECT_TRUE(said.contains("OK")) << said.toStdString();
        EXPECT_FALSE(said.contains("news.txt")) << said.toStdString();
    }
    const QByteArray log = ReadAll(ServerLog());
    EXPECT_TRUE(log.contains("<- NLST")) << "the check ran first";
    EXPECT_FALSE(log.contains("<- RETR")) << "a transfer was started";
    EXPECT_EQ(ReadAll(DownloadFolder() + "/" + kPublished), previous);
    EXPECT_FALSE(QFileInfo::exists(temp));
    EXPECT_FALSE(QFileInfo::exists(DownloadFolder() + "/news.txt"));
    EndWithSigterm();
}

}  // namespace
