#pragma once
// The event that carries a window message through the Qt event loop. Header-only on purpose: the
// socket stand-in posts it from its own shared library without sharing any state with the program;
// both sides only agree on the event type number and this layout.
#include "platform/WinTypes.h"

#include <QEvent>

namespace platform {

inline constexpr QEvent::Type WinMessageEventType = static_cast<QEvent::Type>(QEvent::User + 0x113);

class WinMessageEvent final : public QEvent {
public:
    WinMessageEvent(UINT msg, WPARAM wParam, LPARAM lParam)
        : QEvent(WinMessageEventType), message(msg), wParam(wParam), lParam(lParam)
    {
    }
    const UINT message;
    const WPARAM wParam;
    const LPARAM lParam;
};

}  // namespace platform
