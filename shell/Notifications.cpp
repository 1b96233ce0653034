#include "shell/Notifications.h"

#include "framework/Application.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

namespace shell {

namespace {

constexpr const char *kService = "org.freedesktop.Notifications";
constexpr const char *kPath = "/org/freedesktop/Notifications";
constexpr const char *kInterface = "org.freedesktop.Notifications";
constexpr unsigned char kUrgencyNormal = 1;
constexpr int kServerDecidesExpiry = -1;

QDBusMessage ServerCall(const QString &owner, const char *method)
{
    return QDBusMessage::createMethodCall(owner, kPath, kInterface, method);
}

}  // namespace

TDesktopNotifier::TDesktopNotifier(const QDBusConnection &bus, QObject *parent) : QObject(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    // Watch first, then ask: a change after the answer comes as a signal, one before is in it.
    m_watcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) { serverOwnerChanged(newOwner); });
    // Qt delivers these only from the name's current owner: another program's signals of the same
    // name never reach the slots.
    m_bus.connect(kService, kPath, kInterface, "ActionInvoked", this, SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, "NotificationClosed", this, SLOT(onNotificationClosed(uint, uint)));
    // The bus daemon answers at once; the caller can tell straight away whether to fall back.
    const QDBusReply<QString> owner = m_bus.interface()->serviceOwner(kService);
    if (owner.isValid())
        serverOwnerChanged(owner.value());
}

TDesktopNotifier::~TDesktopNotifier() = default;

bool TDesktopNotifier::Notify(const QString &summary, const QString &body)
{
    if (!Available())
        return false;
    m_closeWhenSent = false;
    m_wanted = Content{summary, body};
    sendNext();
    return true;
}

void TDesktopNotifier::Close()
{
    m_wanted.reset();
    if (m_sending)
        m_closeWhenSent = true;
    if (m_id == 0 || !Available())
        return;
    QDBusMessage close = ServerCall(m_owner, "CloseNotification");
    close << m_id;
    m_bus.send(close);
    // The server says NotificationClosed for it; a notification asked for before that is new.
    m_id = 0;
}

void TDesktopNotifier::serverOwnerChanged(const QString &owner)
{
    if (owner == m_owner)
        return;
    ++m_generation;
    m_owner = owner;
    // A new server knows nothing of the old one's notification: the next one is new, not a
    // replacement, and its capabilities are asked again. What was on its way to the old server
    // goes to the new one.
    m_capabilities.reset();
    m_id = 0;
    if (m_sending && !m_wanted && !m_closeWhenSent)
        m_wanted = m_sending;
    m_sending.reset();
    m_closeWhenSent = false;
    m_asking = false;
    sendNext();
    fw::FireFromSignal(this, OnServerChanged, this);
}

template <typename Handle> void TDesktopNotifier::whenAnswered(const QDBusPendingCall &call, Handle handle)
{
    m_asking = true;
    const auto generation = m_generation;
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation, handle](QDBusPendingCallWatcher *answered) {
                answered->deleteLater();
                if (generation != m_generation)
                    return;  // the server it was meant for has gone
                m_asking = false;
                handle(*answered);
                sendNext();
            });
}

void TDesktopNotifier::sendNext()
{
    if (m_asking || !m_wanted || !Available())
        return;
    if (!m_capabilities) {
        askCapabilities();
        return;
    }
    m_sending = std::move(m_wanted);
    m_wanted.reset();
    sendNotify(*m_sending);
}

void TDesktopNotifier::askCapabilities()
{
    whenAnswered(m_bus.asyncCall(ServerCall(m_owner, "GetCapabilities")),
                 [this](const QDBusPendingCallWatcher &answered) {
                     const QDBusPendingReply<QStringList> reply = answered;
                     // A server that cannot say what it offers gets the plain notification.
                     m_capabilities = reply.isError() ? QStringList{} : reply.value();
                 });
}

void TDesktopNotifier::sendNotify(const Content &content)
{
    QStringList actions;
    if (m_capabilities->contains("actions"))
        actions = {kDefaultActionKey, "Abrir", kDownloadActionKey, "Descargar"};
    const QVariantMap hints{{"urgency", QVariant::fromValue(kUrgencyNormal)},
                            {"desktop-entry", QString::fromLatin1(kDesktopEntryId)}};
    QDBusMessage notify = ServerCall(m_owner, "Notify");
    // The ids of one server are unsigned 32-bit; the call is made before any other reads m_id.
    notify << QString::fromLatin1(kNotificationAppName) << m_id << QString::fromLatin1(kIconName) << content.summary
           << content.body << actions << hints << kServerDecidesExpiry;
    whenAnswered(m_bus.asyncCall(notify), [this](const QDBusPendingCallWatcher &answered) {
        const QDBusPendingReply<uint> reply = answered;
        m_sending.reset();
        // A refused notification leaves the earlier one (if any) as it was.
        if (reply.isError())
            return;
        m_id = reply.value();
        if (m_closeWhenSent) {
            m_closeWhenSent = false;
            Close();
        }
    });
}

void TDesktopNotifier::onActionInvoked(uint id, const QString &key)
{
    if (id == 0 || id != m_id)
        return;
    if (key == QLatin1String(kDefaultActionKey))
        fw::FireFromSignal(this, OnDefaultAction, this);
    else if (key == QLatin1String(kDownloadActionKey))
        fw::FireFromSignal(this, OnDownloadAction, this);
}

void TDesktopNotifier::onNotificationClosed(uint id, uint /*reason*/)
{
    if (id == 0 || id != m_id)
        return;
    m_id = 0;
    fw::FireFromSignal(this, OnClosed, this);
}

}  // namespace shell
