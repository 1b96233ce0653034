// The default output in a process that has no sound server: melodies are silent waits of their
// exact length, the window stays live throughout, and nothing is reported.
#include "common/Pump.h"
#include "platform/MessageWindow.h"
#include "sound/BTOdeum.h"
#include "sound/DesktopSink.h"

#include <QElapsedTimer>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using Outcome = sound::TDesktopToneSink::TOutcome;

// This process's sound server is one that cannot exist, fixed before anything looks for one (and
// so the sound library cannot start one of its own either).
const bool kNoSoundServer = [] {
    setenv("PULSE_SERVER", "unix:/dev/null/no-sound-server", 1);
    return true;
}();

constexpr platform::UINT kPosted = 0x0400 + 7;

// A live window: a 10 ms timer whose every tick posts a message to the window.
class LiveWindow {
public:
    LiveWindow()
        : m_window([this](platform::UINT msg, platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
              if (msg == platform::WM_TIMER) {
                  ++ticks;
                  platform::PostMessage(m_window.Handle(), kPosted, 0, 0);
              } else if (msg == kPosted) {
                  ++posted;
              }
              return 0;
          })
    {
        m_window.SetTimer(1, 10);
    }
    int ticks = 0;
    int posted = 0;

private:
    platform::MessageWindow m_window;
};

class DesktopSinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(kNoSoundServer); }
    sound::TBTBeeper beeper{nullptr};
};

TEST_F(DesktopSinkTest, ClimbWithoutASoundServerIsSilentKeepsItsLengthAndTheWindowLive)
{
    LiveWindow window;
    QElapsedTimer clock;
    clock.start();
    beeper.PlayPreset(sound::psClimb);
    const qint64 wall = clock.elapsed();
    EXPECT_EQ(sound::DesktopToneSink().LastOutcome(), Outcome::Silent);
    EXPECT_GE(wall, 960);
    EXPECT_LE(wall, 1008);  // within 5%
    // 960 ms of a 10 ms timer: the ticks ran during the melody, and each one's posted message too.
    // (A blocking wait would give none; a machine under heavy load may drop some: ticks a process
    // misses while it waits for a core are not made up.)
    EXPECT_GE(window.ticks, 48);
    EXPECT_GE(window.posted, window.ticks - 1);
}

TEST_F(DesktopSinkTest, RestsAndUnplayableTonesWaitTheirDurationInSilence)
{
    struct Case {
        std::uint16_t frequency;
        std::int32_t durationMs;
    };
    for (const Case c : {Case{1, 200}, Case{30, 120}, Case{6000, 120}, Case{0, 100}}) {
        SCOPED_TRACE(testing::Message() << c.frequency << " Hz");
        LiveWindow window;
        QElapsedTimer clock;
        clock.start();
        beeper.PlayTone(c.frequency, c.durationMs);
        const qint64 wall = clock.elapsed();
        EXPECT_EQ(sound::DesktopToneSink().LastOutcome(), Outcome::Silent);
        EXPECT_GE(wall, c.durationMs);
        EXPECT_LE(wall, c.durationMs + 15);
        EXPECT_GE(window.ticks, 1);  // live throughout; the count is the climb test's business
    }
}

TEST_F(DesktopSinkTest, NoteOfNoOrNegativeLengthReturnsAtOnce)
{
    for (std::int32_t duration : {0, -1, INT32_MIN}) {
        QElapsedTimer clock;
        clock.start();
        beeper.PlayTone(440, duration);
        EXPECT_LT(clock.elapsed(), 5) << duration;
        EXPECT_EQ(sound::DesktopToneSink().LastOutcome(), Outcome::Nothing);
    }
}

TEST_F(DesktopSinkTest, AMelodyStartedFromAHandlerDuringAMelodyPlaysInsideIt)
{
    // The window stays live, so a handler may start another melody; it plays whole, and the outer
    // one still ends on time.
    QElapsedTimer clock;
    clock.start();
    qint64 innerStarted = -1;
    qint64 innerEnded = -1;
    platform::MessageWindow window([&](platform::UINT msg, platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
        if (msg == platform::WM_TIMER && innerEnded < 0) {
            window.KillTimer(1);
            innerStarted = clock.elapsed();
            beeper.PlayPreset(sound::psWhisle);  // 320 ms
            innerEnded = clock.elapsed();
        }
        return 0;
    });
    window.SetTimer(1, 100);
    beeper.PlayPreset(sound::psOK);  // 300 ms
    const qint64 wall = clock.elapsed();
    EXPECT_GE(innerStarted, 90);
    EXPECT_LT(innerStarted, 300);
    EXPECT_GE(innerEnded - innerStarted, 320);
    EXPECT_GE(wall, innerEnded);
    EXPECT_LE(wall, innerEnded + 15);
}

}  // namespace
