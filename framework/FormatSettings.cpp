#include "framework/FormatSettings.h"

namespace fw {

TFormatSettings &FormatSettings()
{
    static TFormatSettings settings;
    return settings;
}

}  // namespace fw
