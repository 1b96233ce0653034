#pragma once
// The process-wide formats the program uses to show dates.
#include <string>

namespace fw {

struct TFormatSettings {
    // Empty: the user locale's format, until the program sets its own.
    std::string ShortDateFormat;
};

TFormatSettings &FormatSettings();

}  // namespace fw
