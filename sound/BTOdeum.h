#pragma once
// The melody component: thirteen preset melodies, played synchronously for the caller while the
// window stays live. The tones go to a tone sink; by default the desktop's sound server, and tests
// put a recording sink in its place.
#include "framework/Classes.h"

#include <cstdint>
#include <span>

namespace sound {
Q_NAMESPACE

enum TPresetSound {
    psOK,
    psError,
    psWelcome,
    psEmergency,
    psWrong,
    psCall,
    psOfficial,
    psDaze,
    psFall,
    psChord,
    psWhisle,
    psHanging,
    psClimb
};
Q_ENUM_NS(TPresetSound)

enum TBeatDuration { bd_500, bd_1000, bd_1500, bd_2000 };
Q_ENUM_NS(TBeatDuration)

// One note of a melody; a frequency of 1 is a rest.
struct TNote {
    std::uint16_t Frequency;
    std::int32_t Duration;  // milliseconds

    friend bool operator==(const TNote &, const TNote &) = default;
};

// Where the tones go. PlayTone returns when the note (or rest) has ended. A preset reaches the sink
// whole through PlayMelody, so an output can play it as one sound without gaps between the notes;
// by default that is PlayTone for each note in order.
class TToneSink {
public:
    virtual ~TToneSink() = default;
    virtual void PlayTone(std::uint16_t frequency, std::int32_t durationMs) = 0;
    virtual void PlayMelody(std::span<const TNote> notes)
    {
        for (const TNote &note : notes)
            PlayTone(note.Frequency, note.Duration);
    }
};

class TBTBeeper : public fw::TComponent {
    Q_OBJECT
    // Published, so the settings store reaches them by name; playing consults neither.
    Q_PROPERTY(sound::TBeatDuration BeatDuration MEMBER BeatDuration)
    Q_PROPERTY(sound::TPresetSound DefaultSound MEMBER DefaultSound)
public:
    explicit TBTBeeper(QObject *owner);

    TBeatDuration BeatDuration = bd_1000;
    TPresetSound DefaultSound = psOK;

    // Plays the preset numbered `preset` (a TPresetSound value); a number outside 0 to 12 plays
    // nothing and returns at once.
    void PlayPreset(int preset);
    // Plays one note, or a rest for frequency 1; returns when it has ended.
    void PlayTone(std::uint16_t frequency, std::int32_t durationMs);

    // The notes of a preset; empty for a number outside 0 to 12.
    static std::span<const TNote> PresetNotes(int preset);

    // The process-wide tone sink; nullptr restores the default one. Not owned.
    static void SetToneSink(TToneSink *sink);
};

}  // namespace sound
