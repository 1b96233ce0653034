#include "sound/DesktopSink.h"

#include "platform/MessageWindow.h"
#include "sound/AudioModule.h"
#include "sound/ToneSynth.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

namespace sound {

namespace {

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

// The melody as the output module's stream: the lead of silence, then the notes.
struct MelodyStream {
    const TMelodySynth &synth;
    const QElapsedTimer &clock;

    static void Render(void *context, std::int64_t first, std::int16_t *out, std::int64_t count)
    {
        static_cast<MelodyStream *>(context)->synth.Render(first - kLeadFrames,
                                                           std::span(out, static_cast<std::size_t>(count)));
    }
    static std::int64_t ElapsedMs(void *context) { return static_cast<MelodyStream *>(context)->clock.elapsed(); }
    static void Wait(void *, std::int64_t ms) { WaitAtMost(ms); }
};

TDesktopToneSink::TOutcome PlayOnOutput(std::span<const TNote> notes, const QElapsedTimer &clock, qint64 nominalMs)
{
    if (!QCoreApplication::instance())
        return TDesktopToneSink::TOutcome::Silent;
    const AudioModule *module = LoadAudioModule();
    if (!module)
        return TDesktopToneSink::TOutcome::Silent;
    const TMelodySynth synth(notes, kOutputSampleRate);
    MelodyStream melody{synth, clock};
    const AudioStream stream{
        kOutputSampleRate,     kLeadFrames + synth.TotalFrames(), nominalMs + kStallMarginMs, &melody,
        &MelodyStream::Render, &MelodyStream::ElapsedMs,          &MelodyStream::Wait};
    switch (module->Play(stream)) {
    case AudioStreamResult::Played: return TDesktopToneSink::TOutcome::Played;
    case AudioStreamResult::NoOutput: return TDesktopToneSink::TOutcome::Silent;
    case AudioStreamResult::Stalled: return TDesktopToneSink::TOutcome::Stalled;
    case AudioStreamResult::OutputLost: break;
    }
    return TDesktopToneSink::TOutcome::OutputLost;
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
    // Loads the output module and connects to the sound server, which takes a while; done ahead of
    // the first melody, so it starts on time.
    if (QCoreApplication::instance())
        (void)LoadAudioModule();
}

TDesktopToneSink &DesktopToneSink()
{
    static TDesktopToneSink sink;
    return sink;
}

}  // namespace sound
