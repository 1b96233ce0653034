#pragma once
// The seam between the beeper and its audio output module (libdrovanel-audio.so). The module holds
// everything that speaks to the desktop's sound server (Qt Multimedia and the libraries it brings
// along), so none of it is loaded while the program starts: the beeper loads the module when it
// first connects. The module shares no state with the program: it takes the samples and does its
// waiting through the functions it is handed, and nothing but plain C data crosses the seam.
#include <cstdint>

namespace sound {

// Changes whenever a structure or an entry point below changes; a module of another version is
// left unused.
constexpr int kAudioInterfaceVersion = 1;

// How a stream went.
enum class AudioStreamResult : int {
    Played,      // the server played it to the last note
    NoOutput,    // no output to be had (no device, no server, no such format): nothing was played
    OutputLost,  // the output failed on the way
    Stalled,     // the output stopped moving; the wait ended at the bound
};

// One stream of 16-bit mono samples to the default output, rendered on demand.
struct AudioStream {
    int sampleRate;
    // The last sound of the stream ends at this frame; the module plays silence after it as long
    // as the output holds, so that stopping the output throws away only silence.
    std::int64_t soundFrames;
    // Past this many milliseconds on `elapsedMs` the output counts as stalled.
    std::int64_t boundMs;

    void *context;
    // Writes the frames [first, first + count) of the stream; frames past `soundFrames` are
    // silence.
    void (*render)(void *context, std::int64_t first, std::int16_t *out, std::int64_t count);
    // Milliseconds since the melody began.
    std::int64_t (*elapsedMs)(void *context);
    // Sleeps until a window message arrives or `ms` pass, running the messages.
    void (*waitAtMost)(void *context, std::int64_t ms);
};

}  // namespace sound

// The module's entry points, looked up by these names. None of them lets an exception out.
extern "C" {
// kAudioInterfaceVersion as the module was built.
using DrovanelAudioInterfaceFn = int();
// Connects to the sound server ahead of the first stream. Needs the Qt application object.
using DrovanelAudioPrepareFn = void();
// Plays the stream and returns when the server has played its last sound (or at the bound);
// returns an AudioStreamResult. Needs the Qt application object.
using DrovanelAudioPlayFn = int(const sound::AudioStream *stream);
}
