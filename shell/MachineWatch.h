#pragma once
// What the machine tells a resident program over the system bus: that it woke from sleep
// (logind's PrepareForSleep(false)) and whether its network is up (NetworkManager's State, up at
// "connected globally", 70). Where NetworkManager is not there the network is Unknown, and the
// caller checks on its schedule alone. NetworkManager may also come, go and come back: its owner
// on the bus is followed. The caller keeps the rule "never before the network is up" with
// MayCheck().
#include "framework/Classes.h"

#include <QDBusConnection>
#include <QObject>

class QDBusServiceWatcher;
class QTimer;

namespace shell {

enum class TNetworkState { Unknown, Down, Up };

class TMachineWatch : public QObject {
    Q_OBJECT
public:
    // NetworkManager's state of a machine whose default route reaches the internet.
    static constexpr uint kConnectedGlobal = 70;

    // Watches logind and NetworkManager on `bus` (the system bus in the program, a private one in
    // tests). Asks NetworkManager's state at once (a bounded call), so Network() is true from the
    // start.
    explicit TMachineWatch(const QDBusConnection &bus, QObject *parent = nullptr);
    ~TMachineWatch() override;
    TMachineWatch(const TMachineWatch &) = delete;
    TMachineWatch &operator=(const TMachineWatch &) = delete;

    TNetworkState Network() const { return m_network; }
    // A check may go out now: the network is up, or nobody says it is down.
    bool MayCheck() const { return m_network != TNetworkState::Down; }

    // The machine woke from sleep (fired whatever the network's state: it may come up later).
    fw::TNotifyEvent OnResumed;
    // The network came up (from down or unknown).
    fw::TNotifyEvent OnNetworkUp;
    // Network() changed, either way.
    fw::TNotifyEvent OnNetworkChanged;

private Q_SLOTS:
    void onPrepareForSleep(bool sleeping);
    void onStateChanged(uint state);

private:
    void readState();
    void setNetwork(TNetworkState network);

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_watcher = nullptr;
    QTimer *m_retry = nullptr;
    // Reads of the state left to a NetworkManager that has its name but does not answer yet.
    static constexpr int kReadRetries = 10;
    int m_readsLeft = kReadRetries;
    TNetworkState m_network = TNetworkState::Unknown;
};

// NetworkManager's state as the program reads it: 0 (it does not know) is Unknown, 70 is Up,
// everything else (asleep, disconnected, connecting, a local or site-only connection) Down.
TNetworkState NetworkFromManagerState(uint state);

}  // namespace shell
