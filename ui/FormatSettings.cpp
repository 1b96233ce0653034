#include "ui/FormatSettings.h"

namespace ui {

TFormatSettings &FormatSettings()
{
    static TFormatSettings settings;
    return settings;
}

}  // namespace ui
