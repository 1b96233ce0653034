#include "platform/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

const QByteArray kKnock = "activate\n";
const QByteArray kConfirm = "ok\n";
// A caller that says nothing sensible within this time is dropped.
constexpr int kClientPatienceMs = 2000;

bool isPrivateFolderOfUser(const QByteArray &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

}  // namespace

QString SingleInstanceMark::RuntimeFolder()
{
    // The runtime folder is the one that the desktop session gives each user; without it (a bare
    // login), the configuration folder serves, as it is the user's own too.
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && isPrivateFolderOfUser(QByteArray(runtime)))
        return QFile::decodeName(runtime);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/drovanel";
    QDir().mkpath(folder);
    return folder;
}

SingleInstanceMark::SingleInstanceMark(const QString &name) : m_path(RuntimeFolder() + '/' + name)
{
    take();
}

SingleInstanceMark::SingleInstanceMark(AtPathTag, const QString &lockFile) : m_path(lockFile)
{
    take();
}

SingleInstanceMark SingleInstanceMark::AtPath(const QString &lockFile)
{
    return SingleInstanceMark(AtPathTag{}, lockFile);
}

SingleInstanceMark::SingleInstanceMark(SingleInstanceMark &&other) noexcept
    : m_path(std::move(other.m_path)), m_fd(other.m_fd), m_state(other.m_state)
{
    other.m_fd = -1;
    other.m_state = State::Unavailable;
}

SingleInstanceMark::~SingleInstanceMark()
{
    if (m_fd >= 0)
        ::close(m_fd);  // closing the description releases the lock
}

void SingleInstanceMark::take()
{
    // Close-on-exec: a program that we start (the news viewer) must not inherit the lock and keep
    // the mark alive after we have ended.
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_state = State::Unavailable;
        return;
    }
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        m_state = errno == EWOULDBLOCK ? State::HeldByAnother : State::Unavailable;
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_state = State::Held;
    // The holder's process id, for people (and tests) who want to know who holds the mark; the
    // lock alone decides.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(m_fd, 0) == 0) {
        const ssize_t written = ::pwrite(m_fd, pid.data(), pid.size(), 0);
        (void)written;
    }
}

QString SingleInstanceMark::activationPath() const
{
    QString socket = m_path;
    if (socket.endsWith(QLatin1String(".lock")))
        socket.chop(5);
    return socket + QStringLiteral(".socket");
}

ActivationListener::ActivationListener(const QString &socketPath, QObject *parent)
    : QObject(parent), m_server(new QLocalServer(this))
{
    // The holder of the mark is the only live listener there can be: a file at the path is the
    // leftover of a holder that died.
    QLocalServer::removeServer(socketPath);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &ActivationListener::accept);
    m_server->listen(socketPath);
}

ActivationListener::~ActivationListener()
{
    m_server->close();
}

bool ActivationListener::Listening() const
{
    return m_server->isListening();
}

void ActivationListener::accept()
{
    while (QLocalSocket *caller = m_server->nextPendingConnection()) {
        connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
        QTimer::singleShot(kClientPatienceMs, caller, [caller] { caller->abort(); });
        connect(caller, &QLocalSocket::readyRead, this, [this, caller] {
            if (!caller->canReadLine()) {
                if (caller->bytesAvailable() > kKnock.size())
                    caller->abort();  // no knock of ours
                return;
            }
            const QByteArray line = caller->readLine(kKnock.size() + 1);
            if (line != kKnock) {
                caller->abort();
                return;
            }
            caller->write(kConfirm);
            caller->flush();
            caller->disconnectFromServer();
            emit activationRequested();
        });
    }
}

bool RequestActivation(const QString &socketPath, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
        return false;
    socket.write(kKnock);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return false;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    return socket.readLine(kConfirm.size() + 1) == kConfirm;
}

}  // namespace platform
