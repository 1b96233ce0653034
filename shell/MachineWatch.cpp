#include "shell/MachineWatch.h"

#include "framework/Application.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>

namespace shell {

namespace {

constexpr const char *kLogin = "org.freedesktop.login1";
constexpr const char *kLoginPath = "/org/freedesktop/login1";
constexpr const char *kLoginManager = "org.freedesktop.login1.Manager";
constexpr const char *kNetwork = "org.freedesktop.NetworkManager";
constexpr const char *kNetworkPath = "/org/freedesktop/NetworkManager";
constexpr const char *kNetworkInterface = "org.freedesktop.NetworkManager";
// NetworkManager answers at once; a hung one must not hold the program.
constexpr int kStateCallMs = 2000;
constexpr int kRetryMs = 500;

}  // namespace

TNetworkState NetworkFromManagerState(uint state)
{
    if (state == 0)
        return TNetworkState::Unknown;
    return state == TMachineWatch::kConnectedGlobal ? TNetworkState::Up : TNetworkState::Down;
}

TMachineWatch::TMachineWatch(const QDBusConnection &bus, QObject *parent) : QObject(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    // Qt delivers these only from the names' current owners.
    m_bus.connect(kLogin, kLoginPath, kLoginManager, "PrepareForSleep", this, SLOT(onPrepareForSleep(bool)));
    m_bus.connect(kNetwork, kNetworkPath, kNetworkInterface, "StateChanged", this, SLOT(onStateChanged(uint)));
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryMs);
    connect(m_retry, &QTimer::timeout, this, [this] { readState(); });
    // Watch first, then ask: a change after the answer comes as a signal.
    m_watcher = new QDBusServiceWatcher(kNetwork, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) {
                m_retry->stop();
                m_readsLeft = kReadRetries;
                if (owner.isEmpty())
                    setNetwork(TNetworkState::Unknown);
                else
                    readState();
            });
    readState();
}

TMachineWatch::~TMachineWatch() = default;

void TMachineWatch::readState()
{
    QDBusMessage get = QDBusMessage::createMethodCall(kNetwork, kNetworkPath, "org.freedesktop.DBus.Properties", "Get");
    get << QString::fromLatin1(kNetworkInterface) << QStringLiteral("State");
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, kStateCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        // Not there, or not answering: the schedule alone decides.
        setNetwork(TNetworkState::Unknown);
        // A NetworkManager that has taken its name may not have its objects up yet: asked again a
        // little later, a few times.
        const QString error = reply.errorName();
        if (error != "org.freedesktop.DBus.Error.ServiceUnknown" &&
            error != "org.freedesktop.DBus.Error.NameHasNoOwner" && m_readsLeft > 0) {
            --m_readsLeft;
            m_retry->start();
        }
        return;
    }
    const QVariant state = reply.arguments().at(0).value<QDBusVariant>().variant();
    setNetwork(NetworkFromManagerState(state.toUInt()));
}

void TMachineWatch::setNetwork(TNetworkState network)
{
    if (network == m_network)
        return;
    const bool cameUp = network == TNetworkState::Up;
    m_network = network;
    fw::FireFromSignal(this, OnNetworkChanged, this);
    if (cameUp)
        fw::FireFromSignal(this, OnNetworkUp, this);
}

void TMachineWatch::onPrepareForSleep(bool sleeping)
{
    if (!sleeping)
        fw::FireFromSignal(this, OnResumed, this);
}

void TMachineWatch::onStateChanged(uint state)
{
    setNetwork(NetworkFromManagerState(state));
}

}  // namespace shell
