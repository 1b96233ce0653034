#pragma once
// Runs the real event loop until a condition holds (bounded, so a broken test fails instead of
// hanging). Sleeps between events; never spins.
#include "platform/MessageWindow.h"

#include <QElapsedTimer>
#include <functional>

namespace testutil {

inline bool PumpUntil(const std::function<bool()> &done, int maxMs = 10'000)
{
    QElapsedTimer clock;
    clock.start();
    platform::ProcessMessages();
    while (!done()) {
        const auto left = maxMs - clock.elapsed();
        if (left <= 0)
            return false;
        platform::WaitMessage(static_cast<int>(std::min<qint64>(left, 1000)));
    }
    return true;
}

}  // namespace testutil
