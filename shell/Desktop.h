#pragma once
// The desktop's "open this document" service, for the main form: it needs Qt's GUI library. And
// the buses the main form talks to the desktop (notifications) and to the machine (sleep, network)
// over.
#include <QDBusConnection>
#include <QUrl>
#include <functional>
#include <optional>
#include <string>

namespace shell {

// Asks the desktop to open a file with the program it uses for that kind of file. The answer is
// the desktop's; nothing waits for the program.
bool OpenDocument(const std::string &path);
// Puts `opener` in the desktop's place (tests record the request); an empty one restores it.
void SetDocumentOpener(std::function<bool(const QUrl &)> opener);

// The session bus (the desktop's notification server) and the system bus (logind, NetworkManager)
// as the main form finds them when it is built.
QDBusConnection DesktopBus();
QDBusConnection MachineBus();
// Puts buses of the caller's in their place (tests give private ones, or none); nothing restores
// the session's and the system's own.
void SetBuses(std::optional<QDBusConnection> desktop, std::optional<QDBusConnection> machine);

}  // namespace shell
