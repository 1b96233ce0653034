// The samples of a melody: lengths exact to the sample, tones at their frequencies without clicks,
// rests and unplayable frequencies silent.
#include "Recording.h"
#include "sound/BTOdeum.h"
#include "sound/ToneSynth.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace {

using sound::TMelodySynth;
using sound::TNote;

constexpr int kRate = 48000;

std::int64_t Frames(std::int64_t ms)
{
    return ms * kRate / 1000;
}

TEST(ToneSynthTest, EveryPresetLastsItsLengthToTheSample)
{
    for (int preset = 0; preset <= 12; ++preset) {
        const auto notes = sound::TBTBeeper::PresetNotes(preset);
        const TMelodySynth synth(notes, kRate);
        EXPECT_EQ(synth.TotalFrames(), Frames(sound::NominalMs(notes))) << preset;
    }
    EXPECT_EQ(sound::NominalMs(sound::TBTBeeper::PresetNotes(sound::psClimb)), 960);
    EXPECT_TRUE(sound::TBTBeeper::PresetNotes(13).empty());
    EXPECT_TRUE(sound::TBTBeeper::PresetNotes(-1).empty());
}

TEST(ToneSynthTest, RestsAndFrequenciesOutsideTheRangeAreSilentForTheirDuration)
{
    // 40 and 5000 Hz are the edges of the playable range and sound; the others are silent.
    const std::vector<TNote> notes = {{440, 50},  {1, 50}, {39, 50},   {40, 50}, {5000, 50},
                                      {5001, 50}, {0, 50}, {6000, 50}, {30, 50}, {65535, 50}};
    const TMelodySynth synth(notes, kRate);
    const auto samples = synth.RenderAll();
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(Frames(500)));
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const auto begin = samples.begin() + Frames(50) * static_cast<std::int64_t>(i);
        const auto peak = std::abs(
            *std::max_element(begin, begin + Frames(50), [](auto a, auto b) { return std::abs(a) < std::abs(b); }));
        SCOPED_TRACE(testing::Message() << "note " << i << " at " << notes[i].Frequency << " Hz");
        if (i == 1)
            EXPECT_EQ(peak, 0);  // the rest
        else if (notes[i].Frequency >= 40 && notes[i].Frequency <= 5000)
            EXPECT_GT(peak, sound::kToneAmplitude * 9 / 10);
        else
            EXPECT_EQ(peak, 0);
    }
}

TEST(ToneSynthTest, ClimbReadsBackAsTwelveTonesAtTheirFrequenciesAndLengths)
{
    const auto notes = sound::TBTBeeper::PresetNotes(sound::psClimb);
    const auto samples = TMelodySynth(notes, kRate).RenderAll();
    std::vector<double> expected;
    for (const TNote &n : notes)
        expected.push_back(n.Frequency);
    const auto tones = soundtest::FindTones(samples, kRate, expected);
    ASSERT_EQ(tones.size(), 12u);
    for (std::size_t i = 0; i < tones.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "tone " << i);
        EXPECT_NEAR(tones[i].frequency, expected[i], expected[i] * 0.005);
        // The first and last edges read a little inside the note: the fade starts from silence.
        EXPECT_NEAR(tones[i].lengthS * 1000, 80, 2.0);
    }
    EXPECT_NEAR(tones.front().startS, 0.0, 0.002);
}

TEST(ToneSynthTest, NotesFadeInAndOutSoNoEdgeClicks)
{
    // A loud tone straight after a rest and another straight after it: every note edge starts and
    // ends near silence, and no two neighbouring samples jump further than the steepest sine does.
    const std::vector<TNote> notes = {{1, 20}, {1000, 30}, {1500, 30}, {1, 20}};
    const auto samples = TMelodySynth(notes, kRate).RenderAll();
    for (std::int64_t edgeMs : {20, 50, 80}) {
        const auto at = static_cast<std::size_t>(Frames(edgeMs));
        EXPECT_LT(std::abs(samples[at]), 200) << edgeMs;
        EXPECT_LT(std::abs(samples[at - 1]), 200) << edgeMs;
    }
    const double steepest = 2 * 3.14159265 * 1500 / kRate * sound::kToneAmplitude;
    for (std::size_t i = 1; i < samples.size(); ++i)
        ASSERT_LE(std::abs(samples[i] - samples[i - 1]), steepest * 1.05) << i;
}

TEST(ToneSynthTest, RenderingInPiecesGivesTheSameSamplesAsAtOnce)
{
    // The output takes the melody in slices of any size.
    const auto notes = sound::TBTBeeper::PresetNotes(sound::psWrong);
    const TMelodySynth synth(notes, kRate);
    const auto whole = synth.RenderAll();
    std::vector<std::int16_t> pieces(whole.size());
    std::size_t at = 0;
    for (std::size_t step = 1; at < pieces.size(); step = step * 3 % 4801 + 1) {
        const std::size_t n = std::min(step, pieces.size() - at);
        synth.Render(static_cast<std::int64_t>(at), std::span(pieces).subspan(at, n));
        at += n;
    }
    EXPECT_EQ(pieces, whole);
}

TEST(ToneSynthTest, NegativeAndHugeDurationsNeitherBreakNorAllocate)
{
    // A negative duration counts as none; the longest note is reached without building it.
    const std::vector<TNote> notes = {{440, -5}, {440, 0}, {880, INT32_MAX}};
    const TMelodySynth synth(notes, kRate);
    EXPECT_EQ(sound::NominalMs(notes), INT32_MAX);
    EXPECT_EQ(synth.TotalFrames(), std::int64_t{INT32_MAX} * kRate / 1000);
    std::vector<std::int16_t> slice(480);
    synth.Render(synth.TotalFrames() / 2, slice);
    EXPECT_GT(*std::max_element(slice.begin(), slice.end()), sound::kToneAmplitude * 9 / 10);
    synth.Render(synth.TotalFrames() + 10, slice);  // past the end: silence
    EXPECT_EQ(*std::max_element(slice.begin(), slice.end()), 0);
    synth.Render(-480, slice);  // before the start: silence
    EXPECT_EQ(*std::max_element(slice.begin(), slice.end()), 0);
    synth.Render(-240, slice);  // half before, half the first note
    EXPECT_EQ(*std::max_element(slice.begin(), slice.begin() + 240), 0);
    EXPECT_EQ(*std::min_element(slice.begin(), slice.begin() + 240), 0);
    EXPECT_EQ(slice[240], 0);  // the note starts at silence and rises
    EXPECT_GT(slice[479], 0);
}

}  // namespace
