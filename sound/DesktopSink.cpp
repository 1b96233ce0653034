#include "sound/DesktopSink.h"

#include "platform/MessageWindow.h"
#include "sound/ToneSynth.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

namespace sound {

namespace {

constexpr int kBytesPerFrame = 2;  // mono, 16-bit
// The output's buffer, from the stream to the speaker: short, so that a sample handed over is heard
// soon, yet deep enough that the stream rides out a busy machine that leaves a feed or two late.
constexpr int kBufferMs = 200;
// How often the output is topped up while a melody plays.
constexpr int kFeedMs = 10;
// Silence before the first note: a server that joins a new stream to a sink already under way may
// drop the stream's first few milliseconds; they must not be the melody's.
constexpr int kLeadMs = 20;
constexpr qint64 kLeadFrames = qint64{kLeadMs} * kOutputSampleRate / 1000;

// Sleeps until a window message arrives or `ms` pass, running the messages. The precise timer makes
// the wake-up exact to the millisecond (the framework's own bound may be coarse).
void WaitAtMost(qint64 ms)
{
    ms = std::clamp<qint64>(ms, 1, 1'000'000);
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    wake.start(static_cast<int>(ms));
    platform::WaitMessage(static_cast<int>(ms));
}

// A silent wait until `endMs` after the start of the melody, with the window live.
void WaitUntil(const QElapsedTimer &clock, qint64 endMs)
{
    if (!QCoreApplication::instance()) {
        // No event loop to keep live (a plain program): just sleep.
        const qint64 left = endMs - clock.elapsed();
        if (left > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(left));
        return;
    }
    for (qint64 left = endMs - clock.elapsed(); left > 0; left = endMs - clock.elapsed())
        WaitAtMost(left);
}

TDesktopToneSink::TOutcome PlayOnOutput(std::span<const TNote> notes, const QElapsedTimer &clock, qint64 nominalMs)
{
    if (!QCoreApplication::instance())
        return TDesktopToneSink::TOutcome::Silent;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return TDesktopToneSink::TOutcome::Silent;
    QAudioFormat format;
    format.setSampleRate(kOutputSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        return TDesktopToneSink::TOutcome::Silent;

    const TMelodySynth synth(notes, kOutputSampleRate);
    QAudioSink output(device, format);
    output.setBufferSize(qsizetype{kBufferMs} * kOutputSampleRate / 1000 * kBytesPerFrame);
    // Pushed rather than pulled: the output's own pulling asks for fixed slices that need not fit
    // the buffer the server grants, and then the stream never starts.
    QIODevice *stream = output.start();
    if (!stream || output.state() == QAudio::StoppedState)
        return TDesktopToneSink::TOutcome::Silent;
    // Silence as long as all that the stream holds follows the last note: the stream never runs dry
    // before the melody has been played, and stopping the output afterwards throws away only silence
    // (a server takes back from its sink what a stream that goes away still had there). The server
    // may grant another buffer length than asked.
    const qint64 bufferFrames = std::clamp<qint64>(output.bufferSize() / kBytesPerFrame, kOutputSampleRate / 100,
                                                   qint64{2} * kOutputSampleRate);
    const qint64 melodyEndFrames = kLeadFrames + synth.TotalFrames();
    const qint64 totalFrames = melodyEndFrames + bufferFrames;
    const qint64 melodyEndUs = melodyEndFrames * 1'000'000 / kOutputSampleRate;

    // Done when the server has played the last note: it has taken all of the stream (so it has read
    // past the last note; the output's count runs ahead of a stream the server has not started on)
    // and the output's count of the time played has passed the last note. Not when the melody's
    // length has passed here: a server may start the stream late (an idle sink finishing a long
    // block, a Bluetooth output). Bounded: an output that stops moving cannot hold the program.
    const qint64 boundMs = nominalMs + kStallMarginMs;
    qint64 written = 0;
    std::vector<std::int16_t> block;
    for (;;) {
        if (output.state() == QAudio::StoppedState)
            return TDesktopToneSink::TOutcome::OutputLost;
        const qint64 room = std::min<qint64>(output.bytesFree() / kBytesPerFrame, totalFrames - written);
        if (room > 0) {
            block.resize(static_cast<std::size_t>(room));
            synth.Render(written - kLeadFrames, block);
            const qint64 taken = stream->write(reinterpret_cast<const char *>(block.data()), room * kBytesPerFrame);
            if (taken < 0)
                return TDesktopToneSink::TOutcome::OutputLost;
            written += taken / kBytesPerFrame;
        }
        const qint64 playedUs = output.processedUSecs();
        if (written >= totalFrames && playedUs >= melodyEndUs)
            break;
        const qint64 elapsed = clock.elapsed();
        if (elapsed >= boundMs) {
            output.stop();
            return TDesktopToneSink::TOutcome::Stalled;
        }
        // Until the next top-up, or the moment the output's count says the last note ends.
        const qint64 toEndMs = (melodyEndUs - playedUs + 999) / 1000;
        WaitAtMost(std::min({qint64{kFeedMs}, toEndMs, boundMs - elapsed}));
    }
    output.stop();
    return TDesktopToneSink::TOutcome::Played;
}

}  // namespace

void TDesktopToneSink::PlayTone(std::uint16_t frequency, std::int32_t durationMs)
{
    const TNote note{frequency, durationMs};
    PlayMelody(std::span(&note, 1));
}

void TDesktopToneSink::PlayMelody(std::span<const TNote> notes)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 nominalMs = NominalMs(notes);
    if (nominalMs == 0) {
        m_last = TOutcome::Nothing;
        return;
    }
    const bool audible = std::any_of(notes.begin(), notes.end(),
                                     [](const TNote &n) { return IsAudible(n.Frequency) && n.Duration > 0; });
    m_last = audible ? PlayOnOutput(notes, clock, nominalMs) : TOutcome::Silent;
    // Whatever the output did, the melody keeps its length.
    WaitUntil(clock, nominalMs);
}

void TDesktopToneSink::Prepare()
{
    // The first look at the devices connects to the sound server, which takes a while; done ahead
    // of the first melody, so it starts on time.
    if (QCoreApplication::instance())
        (void)QMediaDevices::defaultAudioOutput();
}

TDesktopToneSink &DesktopToneSink()
{
    static TDesktopToneSink sink;
    return sink;
}

}  // namespace sound
