// drovanel-convert SOURCE DEST MODEL L1 L2 L3 L4 L5 L6 L7
// Converts a points map as the program does after a download: MODEL is the device list's index
// (0 Sentry III, 1 Watcher, 2 Gray Rover II, -1 no selection), L1 to L7 the levels of that model
// for the type codes "1" to "7". Exits 0, or 1 with the message on standard error.
#include "framework/Ansi.h"
#include "framework/Exceptions.h"
#include "shell/Conversion.h"
#include "shell/DeviceModel.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

// MODEL is a shell::DeviceModel, by the numbers the usage gives.
static_assert(shell::kSentryIII == 0 && shell::kWatcher == 1 && shell::kGrayRoverII == 2);
constexpr const char *kUsage = "usage: drovanel-convert SOURCE DEST MODEL L1 L2 L3 L4 L5 L6 L7\n"
                               "  MODEL  0 Sentry III, 1 Watcher, 2 Gray Rover II, -1 no selection\n"
                               "  L1-L7  the model's alert levels for the type codes 1 to 7\n";

bool ParseInt(std::string_view text, int &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

int Fail(std::string_view ansiMessage)
{
    const std::string text = fw::OneLineText(ansiMessage);
    std::fprintf(stderr, "drovanel-convert: %s\n", text.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3 + 1 + shell::kPointTypes) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    int model = 0;
    shell::AlertLevels levels{};
    bool numbers = ParseInt(argv[3], model);
    for (int type = 0; type < shell::kPointTypes; ++type)
        numbers = numbers && ParseInt(argv[4 + type], levels[type]);
    if (!numbers) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    try {
        if (shell::ConvertPointsFile(argv[1], argv[2], model, levels) == shell::ConversionResult::InvalidHeader)
            return Fail(shell::InvalidPointsFileText());
    } catch (const fw::Exception &e) {
        return Fail(e.Message());
    } catch (const std::exception &e) {
        return Fail(e.what());
    }
    return 0;
}
