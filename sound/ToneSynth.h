#pragma once
// The samples of a melody: each note a sine at a moderate level with a short raised-cosine fade at
// both edges (no clicks between notes), rests and unplayable frequencies silent. The samples are
// computed on demand from their position, so a note of any length costs no memory and the notes
// stay exact to the sample however long the melody is.
#include "sound/BTOdeum.h"

#include <cstdint>
#include <span>
#include <vector>

namespace sound {

// The playable range; other frequencies (and the rest mark 1) are silence for their duration.
constexpr std::uint16_t kLowestFrequency = 40;
constexpr std::uint16_t kHighestFrequency = 5000;
constexpr int kFadeMs = 4;
// Peak of a tone: a third of full scale, loud enough to notice, far from clipping.
constexpr std::int16_t kToneAmplitude = 10922;

bool IsAudible(std::uint16_t frequency);
// The melody's length in milliseconds; a negative duration counts as zero.
std::int64_t NominalMs(std::span<const TNote> notes);

class TMelodySynth {
public:
    TMelodySynth(std::span<const TNote> notes, int sampleRate);

    int SampleRate() const { return m_sampleRate; }
    std::int64_t TotalFrames() const { return m_ends.empty() ? 0 : m_ends.back(); }
    // Writes the frames [first, first + out.size()) of the melody; frames before its start (a
    // negative `first`) and past its end are silence.
    void Render(std::int64_t first, std::span<std::int16_t> out) const;
    std::vector<std::int16_t> RenderAll() const;

private:
    std::vector<TNote> m_notes;
    std::vector<std::int64_t> m_ends;  // first frame after each note, from the start of the melody
    int m_sampleRate;
};

}  // namespace sound
