#include "sound/ToneSynth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace sound {

namespace {

// A tone's phase is a 32-bit fraction of a cycle that wraps by itself: a phase accumulator with an
// exact step per sample, so the phase of any frame is found at once (t * step, modulo 2^32) and a
// melody rendered in slices gives the very samples it gives at once.
constexpr int kTableBits = 10;
constexpr int kFractionBits = 32 - kTableBits;
constexpr double kFractionScale = 1.0 / (std::uint32_t{1} << kFractionBits);

// One cycle of the sine in 1024 steps, and the first again at the end; between two entries the
// value is interpolated along a straight line (off by less than 5e-6 of the peak: far below one
// step of a 16-bit sample).
const std::array<double, (1 << kTableBits) + 1> &SineTable()
{
    static const auto table = [] {
        std::array<double, (1 << kTableBits) + 1> t{};
        for (std::size_t i = 0; i < t.size(); ++i)
            t[i] = std::sin(2.0 * std::numbers::pi * static_cast<double>(i) / (1 << kTableBits));
        return t;
    }();
    return table;
}

double Sine(const std::array<double, (1 << kTableBits) + 1> &table, std::uint32_t phase)
{
    const std::uint32_t index = phase >> kFractionBits;
    const double fraction = static_cast<double>(phase & ((std::uint32_t{1} << kFractionBits) - 1)) * kFractionScale;
    return table[index] + (table[index + 1] - table[index]) * fraction;
}

// The phase step of a tone: its frequency as a fraction of the rate, in 2^-32 cycles.
std::uint32_t PhaseStep(std::uint16_t frequency, int sampleRate)
{
    return static_cast<std::uint32_t>(std::llround(std::ldexp(static_cast<double>(frequency) / sampleRate, 32)));
}

// Rounds a sample value to the nearest integer, halves upwards (no library call per sample).
std::int16_t ToSample(double value)
{
    return static_cast<std::int16_t>(static_cast<std::int32_t>(value + 32768.5) - 32768);
}

}  // namespace

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
    const auto &table = SineTable();
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
        // The phase restarts with each note: every note begins and ends at silence anyway.
        const std::uint32_t step = PhaseStep(note.Frequency, m_sampleRate);
        // The fade's raised cosine, 0.5 - 0.5 cos(pi (edge + 0.5) / fade), from the same table: half
        // a cycle over the fade, starting half a step in, read a quarter cycle on (cos = sin + 90°).
        const std::uint32_t fadeStep =
            fade > 0 ? static_cast<std::uint32_t>(std::llround(std::ldexp(0.5 / fade, 32))) : 0;
        const std::uint32_t quarter = std::uint32_t{1} << 30;
        const std::int64_t from = std::max(first, begin);
        const std::int64_t to = std::min(last, end);
        // Modulo 2^32 by the unsigned wrap; the product's higher bits are thrown away.
        std::uint32_t phase = static_cast<std::uint32_t>(static_cast<std::uint64_t>(from - begin) * step);
        std::int16_t *sample = out.data() + (from - first);
        const auto faded = [&](std::int64_t edge) {
            const auto at =
                static_cast<std::uint32_t>(static_cast<std::uint64_t>(edge) * fadeStep + fadeStep / 2 + quarter);
            return 0.5 - 0.5 * Sine(table, at);
        };
        // The rise, the steady part, the fall: the steady part, most of a note, needs no gain.
        std::int64_t frame = from;
        for (; frame < std::min(to, begin + fade); ++frame, phase += step)
            *sample++ = ToSample(kToneAmplitude * faded(frame - begin) * Sine(table, phase));
        for (; frame < std::min(to, end - fade); ++frame, phase += step)
            *sample++ = ToSample(kToneAmplitude * Sine(table, phase));
        for (; frame < to; ++frame, phase += step)
            *sample++ = ToSample(kToneAmplitude * faded(end - 1 - frame) * Sine(table, phase));
    }
}

std::vector<std::int16_t> TMelodySynth::RenderAll() const
{
    std::vector<std::int16_t> samples(static_cast<std::size_t>(TotalFrames()));
    Render(0, samples);
    return samples;
}

}  // namespace sound
