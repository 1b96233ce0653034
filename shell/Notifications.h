#pragma once
// The program's own desktop notification, sent straight to the desktop's notification server over
// the session bus: app name "Drovanel", the installed icon, normal urgency, the desktop entry as a
// hint, and, where the server offers actions, a default action and "Descargar". One notification
// a run: a newer one replaces it. Only the server's signals about our own notification are taken.
// The server may come, go and come back while the program runs: its owner on the bus is followed.
//
// Qt's tray balloon does none of this (no actions outside critical messages, no check of whose
// notification a click was for), so the caller uses it only where Available() says no server is
// there.
#include "framework/Classes.h"
#include "shell/DesktopEntry.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

class QDBusPendingCall;
class QDBusServiceWatcher;

namespace shell {

inline constexpr const char *kNotificationAppName = "Drovanel";
// The action keys the server hands back when one is invoked.
inline constexpr const char *kDefaultActionKey = "default";
inline constexpr const char *kDownloadActionKey = "descargar";

class TDesktopNotifier : public QObject {
    Q_OBJECT
public:
    // Follows the notification server on `bus` (the session bus in the program, a private one in
    // tests) from now on; the first answer about its presence comes from the event loop.
    explicit TDesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);
    ~TDesktopNotifier() override;
    TDesktopNotifier(const TDesktopNotifier &) = delete;
    TDesktopNotifier &operator=(const TDesktopNotifier &) = delete;

    // A notification server owns its name on the bus now.
    bool Available() const { return !m_owner.isEmpty(); }

    // Shows `summary` and `body`, replacing this run's earlier notification if the server still
    // shows it. False, and nothing sent, when no server is there (the caller falls back to the tray
    // balloon). The call does not wait for the server: a notification asked for while an earlier
    // one is on its way follows it as its replacement, and only the latest of several waits.
    bool Notify(const QString &summary, const QString &body);

    // Withdraws this run's notification, if one is shown (the map it announced was downloaded).
    void Close();

    // The id the server gave this run's notification; 0 while none is shown.
    std::uint32_t CurrentId() const { return m_id; }

    // The user chose the notification itself (the default action) or its "Descargar" action.
    fw::TNotifyEvent OnDefaultAction;
    fw::TNotifyEvent OnDownloadAction;
    // The notification is gone from the screen (closed by the user, expired or withdrawn).
    fw::TNotifyEvent OnClosed;
    // A server appeared, went away or was replaced: Available() may have changed.
    fw::TNotifyEvent OnServerChanged;

private Q_SLOTS:
    // The server's signals, for every notification it shows; ours are picked by id.
    void onActionInvoked(uint id, const QString &key);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Content {
        QString summary;
        QString body;
    };

    void serverOwnerChanged(const QString &owner);
    void sendNext();
    void askCapabilities();
    void sendNotify(const Content &content);
    // Runs `handle` with the call's answer, then sends what waits, unless the server changed
    // meanwhile; one call at a time.
    template <typename Handle> void whenAnswered(const QDBusPendingCall &call, Handle handle);

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_watcher = nullptr;
    QString m_owner;                            // the server's unique name on the bus; empty when none
    std::uint64_t m_generation = 0;             // counts the servers seen, so a gone one's answers are dropped
    std::optional<QStringList> m_capabilities;  // unknown until the server said
    std::optional<Content> m_wanted;            // the latest notification not yet sent
    std::optional<Content> m_sending;           // the one on its way
    bool m_asking = false;                      // a call to the server waits for its answer
    bool m_closeWhenSent = false;               // withdrawn while on its way
    std::uint32_t m_id = 0;
};

}  // namespace shell
