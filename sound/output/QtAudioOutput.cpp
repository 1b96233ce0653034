// The audio output module: a stream of samples to the default output of the desktop's sound server
// through Qt Multimedia. Loaded by the beeper when it first connects (sound/AudioOutput.h).
#include "sound/AudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <algorithm>
#include <vector>

namespace {

using sound::AudioStream;
using sound::AudioStreamResult;

constexpr int kBytesPerFrame = 2;  // mono, 16-bit
// The output's buffer, from the stream to the speaker: short, so that a sample handed over is heard
// soon, yet deep enough that the stream rides out a busy machine that leaves a feed or two late.
constexpr int kBufferMs = 200;
// How often the output is topped up while a stream plays.
constexpr int kFeedMs = 10;

AudioStreamResult Play(const AudioStream &s)
{
    if (!QCoreApplication::instance())
        return AudioStreamResult::NoOutput;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return AudioStreamResult::NoOutput;
    QAudioFormat format;
    format.setSampleRate(s.sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        return AudioStreamResult::NoOutput;

    QAudioSink output(device, format);
    output.setBufferSize(qsizetype{kBufferMs} * s.sampleRate / 1000 * kBytesPerFrame);
    // Pushed rather than pulled: the output's own pulling asks for fixed slices that need not fit
    // the buffer the server grants, and then the stream never starts.
    QIODevice *stream = output.start();
    if (!stream || output.state() == QAudio::StoppedState)
        return AudioStreamResult::NoOutput;
    // Silence as long as all that the stream holds follows the last sound: the stream never runs
    // dry before the melody has been played, and stopping the output afterwards throws away only
    // silence (a server takes back from its sink what a stream that goes away still had there).
    // The server may grant another buffer length than asked.
    const qint64 bufferFrames =
        std::clamp<qint64>(output.bufferSize() / kBytesPerFrame, s.sampleRate / 100, qint64{2} * s.sampleRate);
    const qint64 totalFrames = s.soundFrames + bufferFrames;
    const qint64 soundEndUs = s.soundFrames * 1'000'000 / s.sampleRate;

    // Done when the server has played the last sound: it has taken all of the stream (so it has
    // read past the last sound; the output's count runs ahead of a stream the server has not
    // started on) and the output's count of the time played has passed the last sound. Not when
    // the melody's length has passed here: a server may start the stream late (an idle sink
    // finishing a long block, a Bluetooth output). Bounded: an output that stops moving cannot hold
    // the program.
    qint64 written = 0;
    std::vector<std::int16_t> block;
    for (;;) {
        if (output.state() == QAudio::StoppedState)
            return AudioStreamResult::OutputLost;
        const qint64 room = std::min<qint64>(output.bytesFree() / kBytesPerFrame, totalFrames - written);
        if (room > 0) {
            block.resize(static_cast<std::size_t>(room));
            s.render(s.context, written, block.data(), room);
            const qint64 taken = stream->write(reinterpret_cast<const char *>(block.data()), room * kBytesPerFrame);
            if (taken < 0)
                return AudioStreamResult::OutputLost;
            written += taken / kBytesPerFrame;
        }
        const qint64 playedUs = output.processedUSecs();
        if (written >= totalFrames && playedUs >= soundEndUs)
            break;
        const qint64 elapsed = s.elapsedMs(s.context);
        if (elapsed >= s.boundMs) {
            output.stop();
            return AudioStreamResult::Stalled;
        }
        // Until the next top-up, or the moment the output's count says the last sound ends.
        const qint64 toEndMs = (soundEndUs - playedUs + 999) / 1000;
        s.waitAtMost(s.context, std::min({qint64{kFeedMs}, toEndMs, s.boundMs - elapsed}));
    }
    output.stop();
    return AudioStreamResult::Played;
}

}  // namespace

extern "C" {

int drovanel_audio_interface()
{
    return sound::kAudioInterfaceVersion;
}

void drovanel_audio_prepare()
{
    // The first look at the devices connects to the sound server, which takes a while.
    try {
        if (QCoreApplication::instance())
            (void)QMediaDevices::defaultAudioOutput();
    } catch (...) {
        // Preparing is a favour: the first stream connects by itself.
    }
}

int drovanel_audio_play(const sound::AudioStream *stream)
{
    try {
        return static_cast<int>(stream ? Play(*stream) : AudioStreamResult::NoOutput);
    } catch (...) {
        return static_cast<int>(AudioStreamResult::OutputLost);
    }
}
}
