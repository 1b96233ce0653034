#include "sound/BTOdeum.h"

#include "sound/DesktopSink.h"

#include <QTimer>
#include <array>
#include <vector>

namespace sound {

namespace {

constexpr std::uint16_t kRest = 1;
constexpr int kPrepareDelayMs = 1000;

TToneSink *g_sink = nullptr;

TToneSink &Sink()
{
    return g_sink ? *g_sink : DesktopToneSink();
}

}  // namespace

TBTBeeper::TBTBeeper(QObject *owner) : fw::TComponent(owner)
{
    // Connecting to the sound server takes a while (and up to libpulse's time-out when the server
    // hangs), so it is done once the window has had time to appear, not while it is being built;
    // the first melody then still starts on time.
    QTimer::singleShot(kPrepareDelayMs, this, [] { TDesktopToneSink::Prepare(); });
}

void TBTBeeper::SetToneSink(TToneSink *sink)
{
    g_sink = sink;
}

void TBTBeeper::PlayTone(std::uint16_t frequency, std::int32_t durationMs)
{
    Sink().PlayTone(frequency, durationMs);
}

std::span<const TNote> TBTBeeper::PresetNotes(int preset)
{
    // The notes of each preset, in the order of TPresetSound.
    static const std::array<std::vector<TNote>, 13> kPresets = {{
        {{932, 100}, {988, 100}, {1046, 100}},
        {{92, 150}, {kRest, 200}, {65, 500}},
        {{932, 100}, {988, 100}, {1046, 100}, {kRest, 100}, {1046, 100}, {988, 100}, {932, 100}},
        {{698, 200}, {494, 200}, {698, 200}, {494, 200}, {698, 200}, {494, 200}, {698, 200}, {494, 200}},
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
        {{196, 650}, {kRest, 100}, {165, 500}},
        {{196, 200},
         {kRest, 50},
         {196, 200},
         {kRest, 50},
         {196, 200},
         {kRest, 50},
         {165, 700},
         {kRest, 100},
         {261, 200},
         {kRest, 50},
         {261, 200},
         {kRest, 50},
         {261, 200},
         {kRest, 50},
         {131, 700}},
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
        {{523, 80}, {698, 80}, {784, 80}, {1046, 80}},
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
    }};
    if (preset < 0 || preset >= static_cast<int>(kPresets.size()))
        return {};
    return kPresets[static_cast<std::size_t>(preset)];
}

void TBTBeeper::PlayPreset(int preset)
{
    const std::span<const TNote> notes = PresetNotes(preset);
    if (!notes.empty())
        Sink().PlayMelody(notes);
}

}  // namespace sound
