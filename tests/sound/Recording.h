#pragma once
// Reads tones back out of 16-bit mono samples: where each tone starts, how long it lasts and its
// frequency, from the rising zero crossings. Each period is matched to an expected frequency; a run
// of periods on one frequency is one tone. The first tone starts at the first sound and the last
// ends at the last; tones between meet at the quietest crossing between them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace soundtest {

struct Tone {
    double startS;
    double lengthS;
    double frequency;
};

// The tones of `samples`, in order, each matched to one of `expected` within `tolerance` (relative);
// a tone ends where the next begins, the last one at the last sample that is not silent.
inline std::vector<Tone> FindTones(std::span<const std::int16_t> samples, int rate, std::span<const double> expected,
                                   double tolerance = 0.03)
{
    std::vector<double> crossings;  // rising zero crossings, in samples, interpolated
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] <= 0 && samples[i] > 0) {
            const double a = samples[i - 1];
            const double b = samples[i];
            crossings.push_back(static_cast<double>(i - 1) + (-a) / (b - a));
        }
    }
    std::optional<std::size_t> firstLoud;
    std::optional<std::size_t> lastLoud;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] != 0) {
            firstLoud = firstLoud.value_or(i);
            lastLoud = i;
        }
    }
    struct Run {
        std::size_t target;
        std::size_t first;  // index into crossings
        std::size_t last;
    };
    std::vector<Run> runs;
    for (std::size_t k = 0; k + 1 < crossings.size(); ++k) {
        const double f = rate / (crossings[k + 1] - crossings[k]);
        std::optional<std::size_t> match;
        for (std::size_t t = 0; t < expected.size(); ++t)
            if (std::abs(f - expected[t]) <= tolerance * expected[t])
                match = t;
        if (!match)
            continue;
        if (!runs.empty() && runs.back().target == *match && runs.back().last == k)
            runs.back().last = k + 1;
        else
            runs.push_back({*match, k, k + 1});
    }
    // Runs of one or two periods are the seams between tones, not tones.
    std::erase_if(runs, [](const Run &r) { return r.last - r.first < 3; });
    if (runs.empty())
        return {};

    // Loudness around a point: the largest sample within a millisecond either side.
    const auto loudness = [&](double at) {
        const auto from = static_cast<std::size_t>(std::max(0.0, at - rate / 1000.0));
        const auto to = std::min(samples.size(), static_cast<std::size_t>(at + rate / 1000.0));
        int peak = 0;
        for (std::size_t i = from; i < to; ++i)
            peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
        return peak;
    };
    // Two tones meet where the sound is quietest between the middles of their runs (the notes fade
    // out and in there); the period that spans the seam can look like either tone.
    std::vector<double> starts = {static_cast<double>(firstLoud.value_or(0))};
    for (std::size_t i = 0; i + 1 < runs.size(); ++i) {
        const std::size_t from = (runs[i].first + runs[i].last) / 2;
        const std::size_t to = (runs[i + 1].first + runs[i + 1].last) / 2;
        std::size_t best = from;
        for (std::size_t k = from; k <= to; ++k)
            if (loudness(crossings[k]) < loudness(crossings[best]))
                best = k;
        starts.push_back(crossings[best]);
    }
    starts.push_back(static_cast<double>(lastLoud.value_or(0) + 1));
    std::vector<Tone> tones;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const double periods = static_cast<double>(runs[i].last - runs[i].first);
        tones.push_back({starts[i] / rate, (starts[i + 1] - starts[i]) / rate,
                         periods * rate / (crossings[runs[i].last] - crossings[runs[i].first])});
    }
    return tones;
}

}  // namespace soundtest
