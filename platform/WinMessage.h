#pragma once
// The event that carries a window message through the Qt event loop. Header-only on purpose: the
// socket stand-in posts it from its own shared library without sharing any state with the program;
// both sides only agree on the event type number and this layout.
#include "platform/WinTypes.h"

#include <QEvent>
#include <atomic>
#include <memory>
#include <utility>

namespace platform {

inline constexpr QEvent::Type WinMessageEventType = static_cast<QEvent::Type>(QEvent::User + 0x113);

// A poster's mark that one of its messages waits in the queue: set when it posts, cleared when the
// message is taken out, before its handler runs (or when it is dropped undelivered).
using QueuedMark = std::shared_ptr<std::atomic<bool>>;

class WinMessageEvent final : public QEvent {
public:
    WinMessageEvent(UINT msg, WPARAM wParam, LPARAM lParam, QueuedMark queued = {})
        : QEvent(WinMessageEventType), message(msg), wParam(wParam), lParam(lParam), m_queued(std::move(queued))
    {
        if (m_queued)
            m_queued->store(true);
    }
    ~WinMessageEvent() override { Taken(); }
    // The message has left the queue.
    void Taken() const
    {
        if (m_queued)
            m_queued->store(false);
    }
    const UINT message;
    const WPARAM wParam;
    const LPARAM lParam;

private:
    const QueuedMark m_queued;
};

}  // namespace platform
