#include "sound/ToneSynth.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sound {

bool IsAudible(std::uint16_t frequency)
{
    return frequency >= kLowestFrequency && frequency <= kHighestFrequency;
}

std::int64_t NominalMs(std::span<const TNote> notes)
{
    std::int64_t total = 0;
    for (const TNote &note : notes)
        total += std::max<std::int32_t>(note.Duration, 0);
    return total;
}

TMelodySynth::TMelodySynth(std::span<const TNote> notes, int sampleRate)
    : m_notes(notes.begin(), notes.end()), m_sampleRate(sampleRate)
{
    // Note edges are placed from the running total in milliseconds, so rounding never accumulates
    // along the melody whatever the rate.
    std::int64_t ms = 0;
    m_ends.reserve(m_notes.size());
    for (const TNote &note : m_notes) {
        ms += std::max<std::int32_t>(note.Duration, 0);
        m_ends.push_back(ms * m_sampleRate / 1000);
    }
}

void TMelodySynth::Render(std::int64_t first, std::span<std::int16_t> out) const
{
    std::fill(out.begin(), out.end(), std::int16_t{0});
    const std::int64_t last = first + static_cast<std::int64_t>(out.size());
    // The note that holds `first`: the first whose end lies beyond it.
    auto it = std::upper_bound(m_ends.begin(), m_ends.end(), first);
    for (; it != m_ends.end(); ++it) {
        const auto index = static_cast<std::size_t>(it - m_ends.begin());
        const std::int64_t begin = index == 0 ? 0 : m_ends[index - 1];
        const std::int64_t end = *it;
        if (begin >= last)
            break;
        const TNote &note = m_notes[index];
        if (!IsAudible(note.Frequency) || end <= begin)
            continue;
        const std::int64_t length = end - begin;
        const std::int64_t fade = std::min<std::int64_t>(std::int64_t{kFadeMs} * m_sampleRate / 1000, length / 2);
        const double step = 2.0 * std::numbers::pi * note.Frequency / m_sampleRate;
        for (std::int64_t frame = std::max(first, begin); frame < std::min(last, end); ++frame) {
            const std::int64_t t = frame - begin;
            double gain = 1.0;
            const std::int64_t edge = std::min(t, length - 1 - t);
            if (edge < fade)
                gain = 0.5 - 0.5 * std::cos(std::numbers::pi * (static_cast<double>(edge) + 0.5) / fade);
            // The phase restarts with each note: every note begins and ends at silence anyway.
            const double phase = std::fmod(static_cast<double>(t) * step, 2.0 * std::numbers::pi);
            out[static_cast<std::size_t>(frame - first)] =
                static_cast<std::int16_t>(std::lround(kToneAmplitude * gain * std::sin(phase)));
        }
    }
}

std::vector<std::int16_t> TMelodySynth::RenderAll() const
{
    std::vector<std::int16_t> samples(static_cast<std::size_t>(TotalFrames()));
    Render(0, samples);
    return samples;
}

}  // namespace sound
