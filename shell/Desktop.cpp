#include "shell/Desktop.h"

#include <optional>
#include <utility>

namespace shell {

namespace {

struct Buses {
    std::optional<QDBusConnection> desktop;
    std::optional<QDBusConnection> machine;
};

Buses &buses()
{
    static Buses instance;
    return instance;
}

}  // namespace

QDBusConnection DesktopBus()
{
    // Not value_or: the session's own bus is not even connected to while a test's stands in.
    return buses().desktop ? *buses().desktop : QDBusConnection::sessionBus();
}

QDBusConnection MachineBus()
{
    return buses().machine ? *buses().machine : QDBusConnection::systemBus();
}

void SetBuses(std::optional<QDBusConnection> desktop, std::optional<QDBusConnection> machine)
{
    buses() = {std::move(desktop), std::move(machine)};
}

}  // namespace shell
