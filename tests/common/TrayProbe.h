#pragma once
// A notification area that is there or not, as the test says, for every tray icon of the process
// while it lives. Counts how often an icon asked.
#include "widgets/TrayIcon.h"

namespace testutil {

class TrayProbe {
public:
    explicit TrayProbe(bool present) : m_present(present)
    {
        fw::TRxTrayIcon::SetTrayProbe([this] {
            ++asked;
            return m_present;
        });
    }
    ~TrayProbe() { fw::TRxTrayIcon::SetTrayProbe(nullptr); }
    TrayProbe(const TrayProbe &) = delete;
    TrayProbe &operator=(const TrayProbe &) = delete;

    void Set(bool present) { m_present = present; }
    int asked = 0;

private:
    bool m_present;
};

}  // namespace testutil
