// drovanel-melody: plays melodies through the default tone output, as the program does, while a
// 10 ms window timer runs and each tick posts a window message; prints what happened, one
// key=value a line. The sound tests and the CPU benchmark drive it, each in an environment of its
// own (sound server or none).
//
//   drovanel-melody [OPTIONS] PRESET                     plays preset PRESET (0 to 12)
//   drovanel-melody [OPTIONS] --tone FREQUENCY DURATION_MS   plays one tone
//
// Options, in any order: --idle leaves the window without its timer, so that the CPU figure is the
// melody's alone; --repeat N plays it N times; --audio-module PATH loads the audio output module
// from PATH instead of its usual place.
#include "platform/MessageWindow.h"
#include "sound/AudioModule.h"
#include "sound/BTOdeum.h"
#include "sound/DesktopSink.h"
#include "sound/ToneSynth.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

namespace {

constexpr platform::UINT kTick = 0x0400 + 1;  // the posted message
constexpr platform::UINT_PTR kTimerId = 1;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const char *OutcomeName(sound::TDesktopToneSink::TOutcome outcome)
{
    using O = sound::TDesktopToneSink::TOutcome;
    switch (outcome) {
    case O::Nothing: return "nothing";
    case O::Played: return "played";
    case O::Silent: return "silent";
    case O::OutputLost: return "output-lost";
    case O::Stalled: return "stalled";
    }
    return "?";
}

int Usage()
{
    std::fprintf(stderr, "usage: drovanel-melody [--idle] [--repeat N] [--audio-module PATH] PRESET | --tone FREQUENCY "
                         "DURATION_MS\n");
    return 2;
}

bool ParseInt(const char *text, long long low, long long high, long long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    long long repeat = 1;
    long long preset = -1;
    long long frequency = 0;
    long long duration = 0;
    bool tone = false;
    int i = 1;
    bool idle = false;
    for (;;) {
        const std::string option = i < argc ? argv[i] : "";
        if (option == "--idle") {
            idle = true;
            ++i;
        } else if (option == "--repeat" && i + 1 < argc) {
            if (!ParseInt(argv[i + 1], 1, 1000, repeat))
                return Usage();
            i += 2;
        } else if (option == "--audio-module" && i + 1 < argc) {
            sound::SetAudioModulePath(argv[i + 1]);
            i += 2;
        } else {
            break;
        }
    }
    if (i + 3 == argc && std::string(argv[i]) == "--tone") {
        tone = true;
        if (!ParseInt(argv[i + 1], 0, 65535, frequency) ||
            !ParseInt(argv[i + 2], -2147483648LL, 2147483647LL, duration))
            return Usage();
    } else if (i + 1 == argc) {
        if (!ParseInt(argv[i], -1000, 1000, preset))
            return Usage();
    } else {
        return Usage();
    }

    long ticks = 0;
    long posted = 0;
    bool playing = false;
    platform::MessageWindow window([&](platform::UINT msg, platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
        if (msg == platform::WM_TIMER && playing) {
            ++ticks;
            platform::PostMessage(window.Handle(), kTick, 0, 0);
        } else if (msg == kTick && playing) {
            ++posted;
        }
        return 0;
    });
    if (!idle)
        window.SetTimer(kTimerId, 10);

    sound::TBTBeeper beeper(nullptr);
    const double cpuBefore = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    playing = true;
    std::fprintf(stdout, "start\n");
    std::fflush(stdout);
    std::int64_t nominal = 0;
    for (long long round = 0; round < repeat; ++round) {
        if (tone) {
            const sound::TNote note{static_cast<std::uint16_t>(frequency), static_cast<std::int32_t>(duration)};
            nominal += sound::NominalMs(std::span(&note, 1));
            beeper.PlayTone(note.Frequency, note.Duration);
        } else {
            nominal += sound::NominalMs(sound::TBTBeeper::PresetNotes(static_cast<int>(preset)));
            beeper.PlayPreset(static_cast<int>(preset));
        }
    }
    const qint64 wall = clock.nsecsElapsed() / 1000;
    playing = false;
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("outcome=%s\nnominal_ms=%lld\nwall_us=%lld\ncpu_s=%.4f\ntimer_ticks=%ld\nposted_messages=%ld\n",
                OutcomeName(sound::DesktopToneSink().LastOutcome()), static_cast<long long>(nominal),
                static_cast<long long>(wall), cpu, ticks, posted);
    // Out before the process ends: what ends it may not flush (a crash in a library's clean-up).
    std::fflush(stdout);
    return 0;
}
