#pragma once
// The buses the main form talks to the desktop (notifications) and to the machine (sleep, network)
// over.
#include <QDBusConnection>
#include <optional>

namespace shell {

// The session bus (the desktop's notification server) and the system bus (logind, NetworkManager)
// as the main form finds them when it is built.
QDBusConnection DesktopBus();
QDBusConnection MachineBus();
// Puts buses of the caller's in their place (tests give private ones, or none); nothing restores
// the session's and the system's own.
void SetBuses(std::optional<QDBusConnection> desktop, std::optional<QDBusConnection> machine);

}  // namespace shell
