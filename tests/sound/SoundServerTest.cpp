// Melodies through a real sound server, and without one, played by the melody driver in a process
// of its own (the sound library picks its server once per process). The server's null sink is
// recorded from its monitor and the recording read back tone by tone.
//
// Qt's audio output on Linux speaks to PulseAudio itself (QT_MEDIA_BACKEND chooses only the media
// player's backend), so PULSE_SERVER alone picks the server for the driver.
#include "Recording.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "fixtures/VirtualDesktop.h"
#include "sound/BTOdeum.h"
#include "sound/DesktopSink.h"
#include "sound/ToneSynth.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace {

using testutil::SoundServer;

constexpr int kRate = 48000;
constexpr qint64 kClimbMs = 960;

// Waits with the event loop running; a light timer keeps looking at conditions that no event
// announces (a file that grows, a process's state).
bool WaitFor(const std::function<bool()> &done, int maxMs)
{
    QTimer look;
    look.start(20);
    return testutil::PumpUntil(done, maxMs);
}

QString Driver()
{
    return QString::fromLocal8Bit(std::getenv("DROVANEL_BIN_DIR")) + "/drovanel-melody";
}

struct DriverRun {
    int exitCode = -1;
    std::map<std::string, std::string> values;
    QByteArray errors;

    qint64 WallMs() const { return std::stoll(values.at("wall_us")) / 1000; }
    long Number(const std::string &key) const { return std::stol(values.at(key)); }
};

DriverRun Finish(QProcess &driver)
{
    DriverRun run;
    const bool ended = WaitFor([&] { return driver.state() == QProcess::NotRunning; }, 15'000);
    if (!ended) {
        driver.kill();
        driver.waitForFinished(5000);
        ADD_FAILURE() << "the melody driver did not end";
        return run;
    }
    run.exitCode = driver.exitStatus() == QProcess::NormalExit ? driver.exitCode() : -1;
    run.errors = driver.readAllStandardError();
    for (const QByteArray &line : driver.readAllStandardOutput().split('\n')) {
        const auto eq = line.indexOf('=');
        if (eq > 0)
            run.values[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
    }
    return run;
}

void StartDriver(QProcess &driver, const QProcessEnvironment &env, const QStringList &args)
{
    driver.setProcessEnvironment(env);
    driver.start(Driver(), args);
    ASSERT_TRUE(driver.waitForStarted(5000)) << Driver().toStdString();
}

// What the window did while the melody played: a 10 ms timer ticked all along and each tick's
// posted message ran. A blocking wait would give no tick; at least half of them must have run (a
// machine under heavy load may leave the process waiting for a core, and missed ticks are not made
// up).
void ExpectWindowStayedLive(const DriverRun &run, qint64 wallMs)
{
    EXPECT_GE(run.Number("timer_ticks"), wallMs / 20);
    EXPECT_GE(run.Number("posted_messages"), run.Number("timer_ticks") - 1);
}

std::vector<sound::TNote> Climb()
{
    const auto notes = sound::TBTBeeper::PresetNotes(sound::psClimb);
    return {notes.begin(), notes.end()};
}

std::vector<double> Frequencies(const std::vector<sound::TNote> &notes)
{
    std::vector<double> frequencies;
    for (const sound::TNote &note : notes)
        frequencies.push_back(note.Frequency);
    return frequencies;
}

// The notes as heard: one tone for each, in order, at its frequency and for its length.
void ExpectHeard(const std::vector<soundtest::Tone> &tones, const std::vector<sound::TNote> &notes)
{
    std::ostringstream heard;
    for (const auto &t : tones)
        heard << t.startS * 1000 << " ms: " << t.frequency << " Hz for " << t.lengthS * 1000 << " ms\n";
    SCOPED_TRACE(heard.str());
    ASSERT_EQ(tones.size(), notes.size());
    for (std::size_t i = 0; i < tones.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "tone " << i << " of " << notes[i].Frequency << " Hz");
        EXPECT_NEAR(tones[i].frequency, notes[i].Frequency, notes[i].Frequency * 0.02);
        EXPECT_NEAR(tones[i].lengthS * 1000, notes[i].Duration, 5);
    }
}

// Runs `pactl` against the server and returns what it printed.
QByteArray Pactl(const SoundServer &server, const QStringList &args)
{
    QProcess pactl;
    pactl.start("pactl", QStringList{"--server=" + server.Address()} + args);
    WaitFor([&] { return pactl.state() == QProcess::NotRunning; }, 5000);
    return pactl.readAllStandardOutput();
}

class SoundServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.Ok())
            GTEST_SKIP() << "no sound server could be started for this test: " << server.Error().toStdString();
        env = server.Env(QProcessEnvironment::systemEnvironment());
        env.remove("DISPLAY");
    }

    enum class Sink {
        Settled,  // running at the recorder's short latency before the melody starts
        Idle,     // still in the long block it runs while idle: a new stream starts late
    };

    // Records the null sink's monitor into a file, 16-bit mono at 48 kHz, as it plays.
    void StartRecording(Sink sink = Sink::Settled)
    {
        recorder.setProcessEnvironment(env);
        recorder.setStandardOutputFile(QString::fromStdString(recording.file("monitor.raw")));
        recorder.start("parec", {"--server=" + server.Address(), "-d", QString(SoundServer::kSink) + ".monitor",
                                 "--rate=48000", "--channels=1", "--format=s16le", "--latency-msec=10"});
        ASSERT_TRUE(recorder.waitForStarted(5000));
        if (sink == Sink::Idle)
            return;
        // The idle null sink runs in long blocks; it plays at the recorder's short latency only once
        // the block under way is done. Wait for that, or the melody would start late.
        const QRegularExpression latency(R"(\n\s*Latency: (\d+) usec)");
        const bool settled = WaitFor(
            [&] {
                const auto m = latency.match(QString::fromUtf8(Pactl(server, {"list", "sinks"})));
                return m.hasMatch() && m.captured(1).toLongLong() < 50'000;
            },
            8000);
        ASSERT_TRUE(settled) << "the null sink never came down to the recorder's latency";
    }

    std::vector<std::int16_t> Recorded()
    {
        QFile file(QString::fromStdString(recording.file("monitor.raw")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = file.readAll();
        std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes.size() / 2));
        if (!samples.empty())
            std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
        return samples;
    }

    // The tones of `notes` in what the sink has played by now: the monitor delivers with a short
    // delay, so the recording runs on a little before it is read.
    std::vector<soundtest::Tone> HeardTones(const std::vector<sound::TNote> &notes)
    {
        const std::size_t soFar = Recorded().size();
        WaitFor([&] { return Recorded().size() >= soFar + kRate / 10; }, 3000);
        StopRecording();
        return soundtest::FindTones(Recorded(), kRate, Frequencies(notes));
    }

    bool HeardSomething()
    {
        const auto samples = Recorded();
        return std::any_of(samples.begin(), samples.end(), [](std::int16_t s) { return std::abs(s) > 1000; });
    }

    void StopRecording()
    {
        recorder.terminate();
        recorder.waitForFinished(5000);
    }

    void TearDown() override
    {
        if (recorder.state() != QProcess::NotRunning)
            StopRecording();
    }

    SoundServer server;
    QProcessEnvironment env;
    testutil::TempDir recording;
    QProcess recorder;
};

TEST_F(SoundServerTest, ClimbSoundsAsTwelveRisingTonesOfEightyMilliseconds)
{
    StartRecording();
    QProcess driver;
    StartDriver(driver, env, {QString::number(sound::psClimb)});
    const DriverRun run = Finish(driver);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.values.at("outcome"), "played");
    // The call returns once the server has played the last note: after the melody's length, the
    // silence that opens the stream (20 ms) and the sink's latency, within 10% of the length in all.
    EXPECT_GE(run.WallMs(), kClimbMs + 20);
    EXPECT_LE(run.WallMs(), kClimbMs * 110 / 100);
    ExpectWindowStayedLive(run, run.WallMs());
    ExpectHeard(HeardTones(Climb()), Climb());
}

// The process ends right after its melody, while the server still answers the stream's last
// requests: every end is clean and keeps the exit status. The sound library's own teardown at exit
// raced with its connection's thread and crashed about one end in twelve.
TEST_F(SoundServerTest, EveryEndRightAfterAMelodyIsClean)
{
    StartRecording();
    for (int i = 0; i < 100; ++i) {
        QProcess driver;
        StartDriver(driver, env, {"--idle", "--tone", "880", "20"});
        const DriverRun run = Finish(driver);
        ASSERT_EQ(run.exitCode, 0) << "end " << i + 1 << ": " << run.errors.toStdString();
        ASSERT_EQ(run.values.at("outcome"), "played") << "end " << i + 1;
    }
}

// A sink that starts a new stream late: the recorder has only just joined the idle null sink, which
// is still in the long block it runs while idle when the melody begins (Bluetooth and other outputs
// with a long latency do the like). The call waits for the server to play the last note, so every
// note is heard, the last one whole; a tone shorter than what the stream takes in at once too.
struct LateCase {
    const char *name;
    QStringList args;
    std::vector<sound::TNote> notes;
};

void PrintTo(const LateCase &c, std::ostream *os)
{
    *os << c.name;
}

class LateSinkTest : public SoundServerTest, public testing::WithParamInterface<LateCase> {};

TEST_P(LateSinkTest, EveryNoteIsHeardBeforeTheCallReturns)
{
    StartRecording(Sink::Idle);
    QProcess driver;
    StartDriver(driver, env, GetParam().args);
    const DriverRun run = Finish(driver);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.values.at("outcome"), "played");
    EXPECT_GE(run.WallMs(), sound::NominalMs(GetParam().notes));
    EXPECT_LE(run.WallMs(), sound::NominalMs(GetParam().notes) + sound::kStallMarginMs);
    ExpectWindowStayedLive(run, run.WallMs());
    ExpectHeard(HeardTones(GetParam().notes), GetParam().notes);
}

INSTANTIATE_TEST_SUITE_P(SoundServerTest, LateSinkTest,
                         testing::Values(LateCase{"Climb", {QString::number(sound::psClimb)}, Climb()},
                                         LateCase{"ShortTone", {"--tone", "880", "60"}, {{880, 60}}}),
                         [](const testing::TestParamInfo<LateCase> &info) { return std::string(info.param.name); });

TEST_F(SoundServerTest, AServerThatStopsAnsweringCannotHoldTheMelody)
{
    StartRecording();
    QProcess driver;
    StartDriver(driver, env, {QString::number(sound::psClimb)});
    ASSERT_TRUE(WaitFor([&] { return HeardSomething(); }, 5000)) << "the melody never reached the sink";
    server.Pause();
    const DriverRun run = Finish(driver);
    server.Resume();
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.values.at("outcome"), "stalled");
    EXPECT_LE(run.WallMs(), kClimbMs + sound::kStallMarginMs + 50);
    ExpectWindowStayedLive(run, run.WallMs());
}

TEST_F(SoundServerTest, AServerThatGoesAwayLeavesTheRestOfTheMelodySilentAndOnTime)
{
    StartRecording();
    QProcess driver;
    StartDriver(driver, env, {QString::number(sound::psClimb)});
    ASSERT_TRUE(WaitFor([&] { return HeardSomething(); }, 5000)) << "the melody never reached the sink";
    server.Kill();
    const DriverRun run = Finish(driver);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.values.at("outcome"), "output-lost");
    EXPECT_GE(run.WallMs(), kClimbMs);
    EXPECT_LE(run.WallMs(), kClimbMs * 105 / 100);
    ExpectWindowStayedLive(run, run.WallMs());
}

// The output module cannot be had (missing, not a library, a library without its entry points),
// with a sound server there to play: the melody is a silent wait of its length, as without an
// output, and nothing is reported.
struct ModuleCase {
    const char *name;
    std::function<QString(const testutil::TempDir &)> path;
};

void PrintTo(const ModuleCase &c, std::ostream *os)
{
    *os << c.name;
}

class NoModuleTest : public SoundServerTest, public testing::WithParamInterface<ModuleCase> {};

TEST_P(NoModuleTest, ClimbIsSilentKeepsItsLengthAndReportsNothing)
{
    testutil::TempDir folder;
    const QString module = GetParam().path(folder);
    StartRecording();
    QProcess driver;
    StartDriver(driver, env, {"--audio-module", module, QString::number(sound::psClimb)});
    const DriverRun run = Finish(driver);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.values.at("outcome"), "silent");
    EXPECT_GE(run.WallMs(), kClimbMs);
    EXPECT_LE(run.WallMs(), kClimbMs * 105 / 100);
    EXPECT_EQ(run.errors, QByteArray());
    ExpectWindowStayedLive(run, run.WallMs());
    StopRecording();
    EXPECT_FALSE(HeardSomething());
}

INSTANTIATE_TEST_SUITE_P(SoundServerTest, NoModuleTest,
                         testing::Values(ModuleCase{"Missing",
                                                    [](const testutil::TempDir &d) {
                                                        return QString::fromStdString(d.file("libdrovanel-audio.so"));
                                                    }},
                                         ModuleCase{"NotALibrary",
                                                    [](const testutil::TempDir &d) {
                                                        testutil::WriteFile(d.file("libdrovanel-audio.so"),
                                                                            "not a library\n");
                                                        return QString::fromStdString(d.file("libdrovanel-audio.so"));
                                                    }},
                                         ModuleCase{"WithoutTheEntryPoints",
                                                    [](const testutil::TempDir &) {
                                                        return QString::fromLocal8Bit(std::getenv("DROVANEL_BIN_DIR")) +
                                                               "/libwsock32.so";
                                                    }}),
                         [](const testing::TestParamInfo<ModuleCase> &info) { return std::string(info.param.name); });

// No server running at all, as on a desktop without sound: the library finds none (and may not
// start one), the melody is a silent wait of its length, and the program goes on.
TEST(NoSoundServerTest, ClimbIsSilentKeepsItsLengthAndReportsNothing)
{
    testutil::TempDir home;
    testutil::WriteFile(home.file("client.conf"), "autospawn = no\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("PULSE_SERVER");
    env.remove("DISPLAY");
    env.insert("HOME", QString::fromStdString(home.path()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(home.path()));
    env.insert("PULSE_CLIENTCONFIG", QString::fromStdString(home.file("client.conf")));
    QProcess driver;
    StartDriver(driver, env, {QString::number(sound::psClimb)});
    const DriverRun run = Finish(driver);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.values.at("outcome"), "silent");
    EXPECT_GE(run.WallMs(), kClimbMs);
    EXPECT_LE(run.WallMs(), kClimbMs * 105 / 100);
    ExpectWindowStayedLive(run, run.WallMs());
}

}  // namespace
