#pragma once
// The audio output module (sound/AudioOutput.h), loaded on first use and kept for the rest of the
// process; loading it connects to the sound server. A module that cannot be loaded (missing, not a
// module, of another interface version) means no output: melodies are silent, and nothing is
// reported.
#include "sound/AudioOutput.h"

#include <string>

namespace sound {

struct AudioModule {
    DrovanelAudioPlayFn *play;

    // Plays `stream` through the module; afterwards exit() ends the process before the teardown
    // of whatever the stream made in the sound library too.
    AudioStreamResult Play(const AudioStream &stream) const;
};

// The module, loaded and connected on the first call (which needs the Qt application object);
// nullptr when it cannot be had, then and ever after. From then on exit() ends the process before
// the sound library's own teardown (fw::EndAtExitBeforeTeardown), which is unsafe.
const AudioModule *LoadAudioModule();

// Where the module is looked for: beside the executable (the build tree), or else in the program's
// private library folder, at the same place relative to the executable's folder.
std::string DefaultAudioModulePath();
// Looks for the module at `path` instead; only before the first load (the melody driver's option).
void SetAudioModulePath(std::string path);

}  // namespace sound
