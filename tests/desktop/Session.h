#pragma once
// The parts of today's desktops around the real program, each a real program of its own started
// for one test, beside the virtual display and the session bus of tests/fixtures: a
// StatusNotifierItem watcher and host, a notification server (dunst) whose notifications are
// recorded, and a Wayland compositor (Weston, headless); the program itself runs in the fixtures'
// throwaway profile (testutil::ProgramRun). The test talks to the bus through Qt D-Bus; nothing
// here links the program's code.
#include "common/TempDir.h"
#include "fixtures/ProgramRun.h"
#include "fixtures/SessionBus.h"
#include "fixtures/VirtualDesktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QVariantMap>
#include <optional>
#include <vector>

namespace testutil {

// A StatusNotifierItem watcher and a tray host that shows the items (as a desktop's panel does),
// on a display and a session bus.
class StatusTray {
public:
    StatusTray(const QProcessEnvironment &env, SessionBus &bus) : m_bus(bus)
    {
        for (QProcess *p : {&m_watcher, &m_host}) {
            p->setProcessEnvironment(env);
            p->setProcessChannelMode(QProcess::MergedChannels);
        }
        m_watcher.start("status-notifier-watcher", {});
        if (!m_watcher.waitForStarted(10'000) || !m_bus.AwaitService(kWatcher, m_watcher, 20'000)) {
            m_error = "status-notifier-watcher did not start: " + QString::fromUtf8(m_watcher.readAll());
            return;
        }
        // Qt takes the StatusNotifierItem path only once the watcher reports a host.
        m_host.start("gtk-sni-tray-standalone", {"--top"});
        if (!m_host.waitForStarted(10'000) ||
            !WaitUntil([this] { return Watcher("IsStatusNotifierHostRegistered").toBool(); }, 20'000)) {
            m_error = "gtk-sni-tray-standalone did not register: " + QString::fromUtf8(m_host.readAll());
            return;
        }
        m_ok = true;
    }
    ~StatusTray()
    {
        StopProcess(m_host);
        StopProcess(m_watcher);
    }
    StatusTray(const StatusTray &) = delete;
    StatusTray &operator=(const StatusTray &) = delete;

    static constexpr const char *kWatcher = "org.kde.StatusNotifierWatcher";

    bool Ok() const { return m_ok; }
    const QString &Error() const { return m_error; }

    QVariant Watcher(const QString &property)
    {
        return m_bus.Property(kWatcher, "/StatusNotifierWatcher", kWatcher, property);
    }

    // The items registered with the watcher, as bus name and object path. A watcher lists an item
    // by its bus name alone or as "name/path".
    std::vector<std::pair<QString, QString>> Items()
    {
        std::vector<std::pair<QString, QString>> items;
        for (const QString &entry : qdbus_cast<QStringList>(Watcher("RegisteredStatusNotifierItems"))) {
            const qsizetype slash = entry.indexOf('/');
            items.emplace_back(entry.left(slash), slash < 0 ? QStringLiteral("/StatusNotifierItem") : entry.mid(slash));
        }
        return items;
    }

    // The item of the process `pid`, once it has registered.
    std::optional<std::pair<QString, QString>> ItemOf(qint64 pid)
    {
        for (const auto &item : Items()) {
            if (m_bus.Bus().interface()->servicePid(item.first).value() == pid)
                return item;
        }
        return std::nullopt;
    }

private:
    SessionBus &m_bus;
    QProcess m_watcher, m_host;
    QString m_error;
    bool m_ok = false;
};

// What an item of the tray offers and answers, through its StatusNotifierItem and dbusmenu
// interfaces.
class TrayItem {
public:
    TrayItem(SessionBus &bus, std::pair<QString, QString> address) : m_bus(bus), m_address(std::move(address)) {}

    QVariant Property(const QString &name) { return m_bus.Property(m_address.first, m_address.second, kItem, name); }

    // The tooltip's title (its icon and text left aside).
    QString ToolTipTitle()
    {
        const QVariant tip = Property("ToolTip");
        if (!tip.canConvert<QDBusArgument>())
            return {};
        const QDBusArgument arg = tip.value<QDBusArgument>();
        QString iconName, title, text;
        arg.beginStructure();
        arg >> iconName;
        arg.beginArray();
        while (!arg.atEnd()) {
            int width = 0, height = 0;
            QByteArray pixels;
            arg.beginStructure();
            arg >> width >> height >> pixels;
            arg.endStructure();
        }
        arg.endArray();
        arg >> title >> text;
        arg.endStructure();
        return title;
    }

    // A click on the item, as a host sends it: the error, empty when the item took it.
    QString Activate()
    {
        QDBusMessage activate = QDBusMessage::createMethodCall(m_address.first, m_address.second, kItem, "Activate");
        activate << 0 << 0;
        const QDBusMessage reply = m_bus.Bus().call(activate, QDBus::Block, 5000);
        return reply.type() == QDBusMessage::ErrorMessage ? reply.errorName() + ": " + reply.errorMessage() : QString();
    }

    struct MenuEntry {
        int id = 0;
        QVariantMap properties;
    };

    // The menu's entries under its root, in order (the root itself left out).
    std::vector<MenuEntry> Menu()
    {
        std::vector<MenuEntry> entries;
        QDBusMessage get = QDBusMessage::createMethodCall(m_address.first, MenuPath(), kMenu, "GetLayout");
        get << 0 << -1 << QStringList();
        const QDBusMessage reply = m_bus.Bus().call(get, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
            return entries;
        readLayout(reply.arguments().at(1).value<QDBusArgument>(), entries);
        if (!entries.empty())
            entries.erase(entries.begin());
        return entries;
    }

    // A click on the menu entry `id`, as a host sends it once the user chose the entry. Sent
    // without waiting for the answer: an entry may end the program.
    bool Click(int id)
    {
        QDBusMessage event = QDBusMessage::createMethodCall(m_address.first, MenuPath(), kMenu, "Event");
        event << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
        return m_bus.Bus().send(event);
    }

private:
    static constexpr const char *kItem = "org.kde.StatusNotifierItem";
    static constexpr const char *kMenu = "com.canonical.dbusmenu";

    QString MenuPath() { return qdbus_cast<QDBusObjectPath>(Property("Menu")).path(); }

    static void readLayout(const QDBusArgument &arg, std::vector<MenuEntry> &entries)
    {
        MenuEntry entry;
        arg.beginStructure();
        arg >> entry.id >> entry.properties;
        entries.push_back(entry);
        arg.beginArray();
        while (!arg.atEnd()) {
            QDBusVariant child;
            arg >> child;
            readLayout(child.variant().value<QDBusArgument>(), entries);
        }
        arg.endArray();
        arg.endStructure();
    }

    SessionBus &m_bus;
    std::pair<QString, QString> m_address;
};

// dunst on a display and a session bus. Every notification it takes runs a script of its rules
// that appends "app name TAB summary TAB body" to Received(), so a test can await one.
class NotificationServer {
public:
    NotificationServer(const QProcessEnvironment &env, SessionBus &bus) : m_bus(bus), m_env(env)
    {
        const QString script = m_dir.path() + "/received";
        WriteAll(script,
                 "#!/bin/sh\nprintf '%s\\t%s\\t%s\\n' \"$1\" \"$2\" \"$3\" >>\"" + Received().toUtf8() + "\"\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        WriteAll(Received(), {});
        WriteAll(m_dir.path() + "/dunstrc", "[record]\n    summary = \"*\"\n    script = " + script.toUtf8() + "\n");
        m_dunst.setProcessEnvironment(env);
        m_dunst.setProcessChannelMode(QProcess::MergedChannels);
        m_dunst.start("dunst", {"-config", m_dir.path() + "/dunstrc"});
        if (!m_dunst.waitForStarted(10'000) || !m_bus.AwaitService("org.freedesktop.Notifications", m_dunst, 20'000))
            m_error = "dunst did not start: " + QString::fromUtf8(m_dunst.readAll());
    }
    ~NotificationServer() { StopProcess(m_dunst); }
    NotificationServer(const NotificationServer &) = delete;
    NotificationServer &operator=(const NotificationServer &) = delete;

    bool Ok() const { return m_error.isEmpty(); }
    const QString &Error() const { return m_error; }
    QString Received() const { return m_dir.path() + "/received.log"; }
    QStringList ReceivedLines() const { return QString::fromUtf8(ReadAll(Received())).split('\n', Qt::SkipEmptyParts); }

    // Waits until a notification with this summary and body has come, or `program` has ended,
    // or the bound has passed: woken by each write of the rules' script.
    bool AwaitReceived(const QString &summary, const QString &body, const QProcess &program, int timeoutMs)
    {
        const auto came = [&] {
            for (const QString &line : ReceivedLines()) {
                const QStringList fields = line.split('\t');
                if (fields.size() == 3 && fields[1] == summary && fields[2] == body)
                    return true;
            }
            return false;
        };
        QFileSystemWatcher watcher({Received()});
        return AwaitWoken(program, came, timeoutMs, [&watcher](QEventLoop &loop) {
            QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, &QEventLoop::quit);
        });
    }

    // Runs dunstctl with the arguments; its standard output.
    QByteArray Ctl(const QStringList &arguments)
    {
        QProcess ctl;
        QProcessEnvironment env = m_env;
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.Address());
        ctl.setProcessEnvironment(env);
        ctl.start("dunstctl", arguments);
        if (!ctl.waitForFinished(10'000) || ctl.exitCode() != 0)
            return {};
        return ctl.readAllStandardOutput();
    }

    struct Notification {
        QString appName, summary, body;
    };

    // The notifications that were shown and have since been closed, as "dunstctl history" tells
    // them.
    std::vector<Notification> History()
    {
        std::vector<Notification> history;
        const QJsonArray data = QJsonDocument::fromJson(Ctl({"history"})).object().value("data").toArray();
        for (const QJsonValue &entry : data.at(0).toArray()) {
            const QJsonObject n = entry.toObject();
            const auto text = [&](const char *key) { return n.value(key).toObject().value("data").toString(); };
            history.push_back({text("appname"), text("summary"), text("body")});
        }
        return history;
    }

private:
    SessionBus &m_bus;
    QProcessEnvironment m_env;
    QTemporaryDir m_dir;
    QProcess m_dunst;
    QString m_error;
};

// Weston on its headless back end, its socket in a private runtime folder.
class Compositor {
public:
    Compositor()
    {
        QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_runtime.path());
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        m_weston.setProcessEnvironment(env);
        m_weston.setProcessChannelMode(QProcess::MergedChannels);
        m_weston.start("weston", {"--no-config", "--backend=headless-backend.so", "--socket=" + QString(kSocket),
                                  "--idle-time=0"});
        // Its socket appears once it takes clients.
        m_ok = m_weston.waitForStarted(10'000) && AwaitFile(WaylandDisplay(), m_weston, 20'000) &&
               m_weston.state() == QProcess::Running;
    }
    ~Compositor() { StopProcess(m_weston); }
    Compositor(const Compositor &) = delete;
    Compositor &operator=(const Compositor &) = delete;

    bool Ok() const { return m_ok; }
    QString Log() { return QString::fromUtf8(m_weston.readAll()); }
    // The socket as a client finds it whatever its own runtime folder: by its whole path.
    QString WaylandDisplay() const { return m_runtime.path() + "/" + kSocket; }

private:
    static constexpr const char *kSocket = "drovanel-wayland";
    QTemporaryDir m_runtime;
    QProcess m_weston;
    bool m_ok = false;
};

// Why Wayland cannot be tested here, or empty when it can: Weston and Qt's Wayland platform.
inline QString WaylandMissing()
{
    if (!MissingTools({"weston"}).isEmpty())
        return "weston is not installed (scripts/install-deps installs it)";
    const QString plugin = QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so";
    if (!QFileInfo::exists(plugin))
        return "Qt's Wayland platform is not installed (" + plugin + "; scripts/install-deps installs qt6-wayland)";
    return {};
}

// The session `env` as a Wayland one on the compositor: no X display, Qt's Wayland platform.
inline QProcessEnvironment OnWayland(QProcessEnvironment env, const Compositor &compositor)
{
    env.remove("DISPLAY");
    env.remove("XAUTHORITY");
    env.insert("WAYLAND_DISPLAY", compositor.WaylandDisplay());
    env.insert("QT_QPA_PLATFORM", "wayland");
    return env;
}

}  // namespace testutil
