// The beeper's presets and calls, seen through a recording tone sink.
#include "sound/BTOdeum.h"
#include "sound/ToneSynth.h"

#include <QVariant>
#include <climits>
#include <cstddef>
#include <gtest/gtest.h>
#include <vector>

namespace {

using sound::TBTBeeper;
using sound::TNote;

}  // namespace

namespace sound {
void PrintTo(const TNote &note, std::ostream *out)
{
    *out << note.Frequency << "/" << note.Duration;
}
}  // namespace sound

namespace {

// Records what reaches the output: each tone, and each melody handed over whole.
class RecordingSink final : public sound::TToneSink {
public:
    void PlayTone(std::uint16_t frequency, std::int32_t durationMs) override
    {
        tones.push_back({frequency, durationMs});
    }
    void PlayMelody(std::span<const TNote> notes) override
    {
        ++melodies;
        TToneSink::PlayMelody(notes);
    }
    std::vector<TNote> tones;
    int melodies = 0;
};

// A sink that only knows single tones, as the simplest outputs do.
class ToneOnlySink final : public sound::TToneSink {
public:
    void PlayTone(std::uint16_t frequency, std::int32_t durationMs) override
    {
        tones.push_back({frequency, durationMs});
    }
    std::vector<TNote> tones;
};

class BeeperTest : public ::testing::Test {
protected:
    void SetUp() override { TBTBeeper::SetToneSink(&sink); }
    void TearDown() override { TBTBeeper::SetToneSink(nullptr); }
    RecordingSink sink;
    TBTBeeper beeper{nullptr};
};

constexpr std::uint16_t R = 1;  // rest
constexpr int kRate = 48000;

struct PresetCase {
    sound::TPresetSound preset;
    std::vector<TNote> notes;
    int totalMs;  // the melody's length as the preset is known by
};

const std::vector<PresetCase> &Presets()
{
    using namespace sound;
    static const std::vector<PresetCase> cases = {
        {psOK, {{932, 100}, {988, 100}, {1046, 100}}, 300},
        {psError, {{92, 150}, {R, 200}, {65, 500}}, 850},
        {psWelcome, {{932, 100}, {988, 100}, {1046, 100}, {R, 100}, {1046, 100}, {988, 100}, {932, 100}}, 700},
        {psEmergency,
         {{698, 200}, {494, 200}, {698, 200}, {494, 200}, {698, 200}, {494, 200}, {698, 200}, {494, 200}},
         1600},
        {psWrong,
         {{261, 150},
          {247, 50},
          {233, 50},
          {220, 50},
          {207, 50},
          {196, 50},
          {189, 50},
          {174, 50},
          {165, 50},
          {155, 50},
          {149, 50},
          {138, 50},
          {131, 100},
          {65, 200}},
         1000},
        {psCall, {{196, 650}, {R, 100}, {165, 500}}, 1250},
        {psOfficial,
         {{196, 200},
          {R, 50},
          {196, 200},
          {R, 50},
          {196, 200},
          {R, 50},
          {165, 700},
          {R, 100},
          {261, 200},
          {R, 50},
          {261, 200},
          {R, 50},
          {261, 200},
          {R, 50},
          {131, 700}},
         3000},
        {psDaze,
         {{329, 100},
          {311, 100},
          {293, 100},
          {311, 100},
          {329, 100},
          {311, 100},
          {293, 100},
          {311, 100},
          {329, 100},
          {311, 100},
          {293, 100},
          {311, 100}},
         1200},
        {psFall,
         {{329, 100},
          {311, 100},
          {293, 100},
          {311, 100},
          {349, 100},
          {329, 100},
          {311, 100},
          {329, 100},
          {370, 100},
          {349, 100},
          {329, 100},
          {349, 100}},
         1200},
        {psChord,
         {{494, 80},
          {466, 80},
          {440, 80},
          {415, 80},
          {392, 80},
          {370, 80},
          {349, 80},
          {329, 80},
          {311, 80},
          {293, 80},
          {277, 80},
          {261, 80}},
         960},
        {psWhisle, {{523, 80}, {698, 80}, {784, 80}, {1046, 80}}, 320},
        {psHanging,
         {{784, 80},
          {1046, 80},
          {830, 80},
          {1109, 80},
          {880, 80},
          {1174, 80},
          {932, 80},
          {1244, 80},
          {988, 80},
          {1318, 80},
          {1046, 80},
          {1397, 80}},
         960},
        {psClimb,
         {{261, 80},
          {277, 80},
          {293, 80},
          {311, 80},
          {329, 80},
          {349, 80},
          {370, 80},
          {392, 80},
          {415, 80},
          {440, 80},
          {466, 80},
          {494, 80}},
         960},
    };
    return cases;
}

TEST_F(BeeperTest, EveryPresetPlaysItsNotesInOrderAsOneMelody)
{
    ASSERT_EQ(Presets().size(), 13u);
    for (const PresetCase &c : Presets()) {
        SCOPED_TRACE(testing::Message() << "preset " << c.preset);
        sink.tones.clear();
        sink.melodies = 0;
        beeper.PlayPreset(c.preset);
        EXPECT_EQ(sink.melodies, 1);
        EXPECT_EQ(sink.tones, c.notes);
        // The length the preset is known by, against what is made of the notes played: the
        // melody's own reckoning and the samples rendered for it.
        EXPECT_EQ(sound::NominalMs(sink.tones), c.totalMs);
        EXPECT_EQ(sound::TMelodySynth(sink.tones, kRate).RenderAll().size(),
                  static_cast<std::size_t>(c.totalMs) * kRate / 1000);
    }
}

// Only the sink waits (a tone returns when it has ended): a call that reaches the sink in no way,
// not even with an empty melody, returns at once.
TEST_F(BeeperTest, PresetNumbersOutsideTheTablePlayNothingAndReturnAtOnce)
{
    for (int preset : {13, -1, 14, 255, INT_MAX, INT_MIN}) {
        EXPECT_TRUE(TBTBeeper::PresetNotes(preset).empty()) << preset;
        beeper.PlayPreset(preset);
        EXPECT_TRUE(sink.tones.empty()) << preset;
        EXPECT_EQ(sink.melodies, 0) << preset;
    }
}

TEST_F(BeeperTest, PlayToneHandsOneNoteOrRestToTheSink)
{
    beeper.PlayTone(440, 120);
    beeper.PlayTone(1, 200);
    beeper.PlayTone(6000, 30);
    EXPECT_EQ(sink.tones, (std::vector<TNote>{{440, 120}, {1, 200}, {6000, 30}}));
}

TEST(BeeperSinkTest, ASinkThatOnlyPlaysTonesGetsEveryNoteOfAPreset)
{
    ToneOnlySink sink;
    TBTBeeper::SetToneSink(&sink);
    TBTBeeper beeper(nullptr);
    beeper.PlayPreset(sound::psError);
    TBTBeeper::SetToneSink(nullptr);
    EXPECT_EQ(sink.tones, (std::vector<TNote>{{92, 150}, {R, 200}, {65, 500}}));
}

TEST(BeeperSettingsTest, PublishedSettingsStartAtTheirDefaults)
{
    TBTBeeper beeper(nullptr);
    EXPECT_EQ(beeper.BeatDuration, sound::bd_1000);
    EXPECT_EQ(beeper.DefaultSound, sound::psOK);
    // Published: reachable by name, as the main form sets them.
    EXPECT_TRUE(beeper.setProperty("BeatDuration", QVariant::fromValue(sound::bd_500)));
    EXPECT_TRUE(beeper.setProperty("DefaultSound", QVariant::fromValue(sound::psClimb)));
    EXPECT_EQ(beeper.BeatDuration, sound::bd_500);
    EXPECT_EQ(beeper.DefaultSound, sound::psClimb);
    EXPECT_EQ(beeper.property("DefaultSound").value<sound::TPresetSound>(), sound::psClimb);
}

}  // namespace
