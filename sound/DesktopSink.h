#pragma once
// The default tone output: the melody as one stream of samples to the default audio output of the
// desktop's sound server, through the audio output module (sound/AudioModule.h). Without an output
// (no module, no device, no server, an error) the melody is a silent wait of the same length, and
// nothing is reported: a missing sound must never stop the program.
#include "sound/BTOdeum.h"

namespace sound {

constexpr int kOutputSampleRate = 48000;
// How long past its nominal end a melody may take before the output counts as stalled: room for a
// server that starts the stream late (an idle sink finishes a block of up to two seconds first).
constexpr int kStallMarginMs = 2500;

class TDesktopToneSink final : public TToneSink {
public:
    // How the last melody went, for tests and diagnostics (never shown to the user).
    enum class TOutcome {
        Nothing,     // no note to play, or nothing yet
        Played,      // the output played it to the last sample
        Silent,      // nothing audible in it, or no output to be had: a timed silent wait
        OutputLost,  // the output failed on the way; the rest went by in silence
        Stalled,     // the output stopped moving; the wait ended at the bound
    };

    // Loads the output module and connects to the sound server ahead of the first melody.
    static void Prepare();

    void PlayTone(std::uint16_t frequency, std::int32_t durationMs) override;
    void PlayMelody(std::span<const TNote> notes) override;

    TOutcome LastOutcome() const { return m_last; }

private:
    TOutcome m_last = TOutcome::Nothing;
};

// The process's default tone sink (the one in use while no other is set).
TDesktopToneSink &DesktopToneSink();

}  // namespace sound
