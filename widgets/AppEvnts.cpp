#include "widgets/AppEvnts.h"

#include "framework/Ansi.h"
#include "widgets/Hints.h"

namespace fw {

TAppEvents::TAppEvents(QObject *owner, std::string_view name) : TComponent(owner)
{
    setObjectName(FromAnsi(name));
}

void TAppEvents::Apply() const
{
    HintManager &hints = HintManager::Instance();
    hints.HintPause = HintPause;
    hints.HintShortPause = HintShortPause;
    hints.HintHidePause = HintHidePause;
    hints.ShowHint = ShowHint;
    // The application never shows its main form by itself and never reloads locale formats, so
    // ShowMainForm and UpdateFormatSettings have nothing more to switch off here.
}

}  // namespace fw
