#include "shell/Desktop.h"

#include "framework/FileSystem.h"

#include <QDesktopServices>
#include <optional>
#include <utility>

namespace shell {

namespace {

std::function<bool(const QUrl &)> &opener()
{
    static std::function<bool(const QUrl &)> instance;
    return instance;
}

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

bool OpenDocument(const std::string &path)
{
    const QUrl url = QUrl::fromLocalFile(fw::PathFromAnsi(path));
    if (opener())
        return opener()(url);
    return QDesktopServices::openUrl(url);
}

void SetDocumentOpener(std::function<bool(const QUrl &)> replacement)
{
    opener() = std::move(replacement);
}

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
