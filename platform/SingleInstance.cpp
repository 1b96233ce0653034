#include "platform/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

static_assert(kMaxLocalSocketPath + 1 == sizeof(sockaddr_un::sun_path));

const QByteArray kKnock = "activate\n";
const QByteArray kConfirm = "ok\n";
// A caller that says nothing sensible within this time is dropped.
constexpr int kClientPatienceMs = 2000;
// Callers queued for the holder before later ones wait in connect.
constexpr int kListenBacklog = 16;
// After the process ran out of descriptors, accepting rests this long instead of spinning.
constexpr int kAcceptRestMs = 200;

// One line on standard error: a desktop program has nobody else to tell.
void report(const QByteArray &text)
{
    std::fprintf(stderr, "drovanel: %s\n", text.constData());
}

QByteArray systemError(int error)
{
    return QByteArray(std::strerror(error));
}

bool isPrivateFolderOfUser(const QByteArray &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

bool fitsSocketAddress(const QString &path)
{
    return QFile::encodeName(path).size() <= kMaxLocalSocketPath;
}

// The activation socket's file name for the mark `name`.
QString socketName(QString name)
{
    if (name.endsWith(QLatin1String(".lock")))
        name.chop(5);
    return name + QStringLiteral(".socket");
}

// Makes our folder in a shared temporary folder, or checks the one found there. Another user may
// have made it first, as a link to a place of their choosing or as a folder open to them; such a
// folder is refused. The temporary folder's sticky bit keeps others from replacing ours once
// checked.
bool takePrivateFolder(const QByteArray &path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        report("cannot create the folder " + path + ": " + systemError(errno));
        return false;
    }
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        report("cannot use the folder " + path + ": " + systemError(errno));
        return false;
    }
    QByteArray problem;
    if (S_ISLNK(st.st_mode))
        problem = "it is a link";
    else if (!S_ISDIR(st.st_mode))
        problem = "it is not a folder";
    else if (st.st_uid != ::getuid())
        problem = "it belongs to user " + QByteArray::number(st.st_uid);
    else if ((st.st_mode & 077) != 0)
        problem = "others may enter it (mode " + QByteArray::number(st.st_mode & 07777, 8).rightJustified(4, '0') + ")";
    if (!problem.isEmpty()) {
        report("refusing the folder " + path + " for the single-instance mark: " + problem);
        return false;
    }
    return true;
}

// The wait of a later start: sleeps until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return false;
        pollfd entry{fd, events, 0};
        const int rc = ::poll(&entry, 1, static_cast<int>(left));
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

bool fillAddress(sockaddr_un &address, const QByteArray &path)
{
    if (path.isEmpty() || path.size() > kMaxLocalSocketPath)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    address.sun_path[path.size()] = '\0';
    return true;
}

// A descriptor closed with its owner.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// A fresh connection's buffer takes three bytes; a caller that has gone misses nothing.
void confirm(int fd)
{
    [[maybe_unused]] const ssize_t sent =
        ::send(fd, kConfirm.constData(), static_cast<size_t>(kConfirm.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// One accepted caller: read without blocking as its bytes come, dropped when it says something
// else or nothing for too long.
class Caller final : public QObject {
public:
    Caller(int fd, QObject *parent, std::shared_ptr<int> count, std::function<void()> onKnock)
        : QObject(parent), m_fd(fd), m_notifier(fd, QSocketNotifier::Read), m_count(std::move(count)),
          m_onKnock(std::move(onKnock))
    {
        ++*m_count;
        connect(&m_notifier, &QSocketNotifier::activated, this, &Caller::readable);
        m_patience.setSingleShot(true);
        connect(&m_patience, &QTimer::timeout, this, &Caller::finish);
        m_patience.start(kClientPatienceMs);
    }
    ~Caller() override { --*m_count; }
    Caller(const Caller &) = delete;
    Caller &operator=(const Caller &) = delete;

private:
    void readable()
    {
        char buffer[64];
        ssize_t got;
        while ((got = ::recv(m_fd.get(), buffer, sizeof buffer, MSG_DONTWAIT)) < 0 && errno == EINTR) {
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (got <= 0) {  // gone, or broken
            finish();
            return;
        }
        m_line.append(buffer, got);
        const KnockState state = ReadKnock(m_line);
        if (state == KnockState::Incomplete)
            return;
        const bool knocked = state == KnockState::Knock;
        if (knocked)
            confirm(m_fd.get());
        const auto onKnock = m_onKnock;
        finish();
        if (knocked)
            onKnock();
    }

    // Stops watching at once; the descriptor closes when the object goes.
    void finish()
    {
        m_notifier.setEnabled(false);
        m_patience.stop();
        ::shutdown(m_fd.get(), SHUT_RDWR);
        deleteLater();
    }

    UniqueFd m_fd;  // declared first: closed only after the notifier is gone
    QSocketNotifier m_notifier;
    QTimer m_patience;
    QByteArray m_line;
    std::shared_ptr<int> m_count;  // the listener's count of callers held
    std::function<void()> m_onKnock;
};

}  // namespace

KnockState ReadKnock(const QByteArray &received)
{
    const qsizetype end = received.indexOf('\n');
    if (end < 0)
        return received.size() < kKnock.size() && kKnock.startsWith(received) ? KnockState::Incomplete
                                                                              : KnockState::Other;
    return received.left(end + 1) == kKnock ? KnockState::Knock : KnockState::Other;
}

QString SingleInstanceMark::RuntimeFolder(const QString &name)
{
    const QString socket = socketName(name);
    // The runtime folder is the one that the desktop session gives each user.
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && isPrivateFolderOfUser(QByteArray(runtime))) {
        QString folder = QFile::decodeName(runtime);
        if (fitsSocketAddress(folder + '/' + socket))
            return folder;
    }
    // Without it (a bare login) or where its path is too long for a socket, a folder of our own
    // in the temporary folder, which is short.
    const QString own = QStringLiteral("/drovanel-") + QString::number(::getuid());
    QString folder = QStringLiteral("/tmp") + own;
    const char *temp = std::getenv("TMPDIR");
    if (temp && temp[0] == '/') {
        const QString inTemp = QDir::cleanPath(QFile::decodeName(temp)) + own;
        if (fitsSocketAddress(inTemp + '/' + socket))
            folder = inTemp;
    }
    if (takePrivateFolder(QFile::encodeName(folder)))
        return folder;
    // The configuration folder is the user's own too; the socket may not fit there, which costs
    // later starts their way to us, never the mark.
    folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/drovanel";
    QDir().mkpath(folder);
    return folder;
}

SingleInstanceMark::SingleInstanceMark(const QString &name) : m_path(RuntimeFolder(name) + '/' + name)
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
    const auto unavailable = [this](int error) {
        report("cannot take the single-instance mark " + QFile::encodeName(m_path) + ": " + systemError(error));
        m_state = State::Unavailable;
    };
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        unavailable(errno);
        return;
    }
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        if (error == EWOULDBLOCK)
            m_state = State::HeldByAnother;
        else
            unavailable(error);
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

QString SingleInstanceMark::ActivationPath() const
{
    const qsizetype slash = m_path.lastIndexOf('/');
    return m_path.left(slash + 1) + socketName(m_path.mid(slash + 1));
}

ActivationListener::ActivationListener(const QString &socketPath, QObject *parent)
    : QObject(parent), m_path(QFile::encodeName(socketPath))
{
    listenAt(m_path);
}

void ActivationListener::listenAt(const QByteArray &path)
{
    const auto fail = [&](const QByteArray &why) {
        report("cannot listen for later starts at " + path + ": " + why +
               "; a second start will not bring this window up");
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    };
    sockaddr_un address{};
    if (!fillAddress(address, path)) {
        fail("the path is " + QByteArray::number(path.size()) + " bytes long, a local socket's at most " +
             QByteArray::number(kMaxLocalSocketPath));
        return;
    }
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        fail(systemError(errno));
        return;
    }
    // The holder of the mark is the only live listener there can be: a file at the path is the
    // leftover of a holder that died.
    if (::unlink(path.constData()) != 0 && errno != ENOENT) {
        fail("cannot remove what lies there: " + systemError(errno));
        return;
    }
    // Listening starts only once the file is the user's alone, so nobody else gets through in
    // between, also in a folder that others may read.
    if (::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        fail(systemError(errno));
        return;
    }
    struct stat st {};
    if (::chmod(path.constData(), 0600) != 0 || ::lstat(path.constData(), &st) != 0 ||
        ::listen(m_fd, kListenBacklog) != 0) {
        const int error = errno;
        ::unlink(path.constData());
        fail(systemError(error));
        return;
    }
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ActivationListener::acceptCallers);
}

ActivationListener::~ActivationListener()
{
    m_notifier.reset();
    if (m_fd < 0)
        return;
    // Our own socket file goes with us; one that has taken its place is not ours to remove.
    struct stat st {};
    if (::lstat(m_path.constData(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
        ::unlink(m_path.constData());
    ::close(m_fd);
}

void ActivationListener::acceptCallers()
{
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            if (*m_callers < kMaxActivationCallers)
                new Caller(fd, this, m_callers, [this] { emit activationRequested(); });  // owned by the listener
            else
                serveAtOnce(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors or memory: the caller stays queued, and the notifier would report it
        // again at once. Rest a while instead of spinning.
        m_notifier->setEnabled(false);
        QTimer::singleShot(kAcceptRestMs, this, [this] { m_notifier->setEnabled(true); });
        return;
    }
}

// A caller past the cap is not held: a later start sends its knock as soon as it is connected, so
// the knock is usually there already and is served; anything else is closed at once, and a later
// start that lost the race calls again.
void ActivationListener::serveAtOnce(int fd)
{
    char buffer[16];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    const bool knocked = got > 0 && ReadKnock(QByteArray(buffer, got)) == KnockState::Knock;
    if (knocked)
        confirm(fd);
    ::close(fd);
    if (knocked)
        emit activationRequested();
}

namespace {

enum class Knocked { Confirmed, HungUp, Failed };

// One call: connect, knock, read the answer. A holder that hangs up without an answer (it was
// full, and the knock came after it looked) may be called again.
Knocked knockOnce(const sockaddr_un &address, const QDeadlineTimer &deadline)
{
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0)
        return Knocked::Failed;
    // A holder whose queue of callers is full keeps connect waiting; the send time-out bounds that
    // wait (zero would mean no bound, so at least a millisecond).
    for (;;) {
        const qint64 left = std::max<qint64>(deadline.remainingTime(), 1);
        const timeval bound{static_cast<time_t>(left / 1000), static_cast<suseconds_t>(left % 1000 * 1000)};
        if (deadline.hasExpired() || ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) != 0)
            return Knocked::Failed;
        if (::connect(socket.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            break;
        if (errno != EINTR)
            return Knocked::Failed;  // nobody listens, or the holder did not take the call in time
    }
    qsizetype sent = 0;
    while (sent < kKnock.size()) {
        if (!waitFor(socket.get(), POLLOUT, deadline))
            return Knocked::Failed;
        const ssize_t n = ::send(socket.get(), kKnock.constData() + sent, static_cast<size_t>(kKnock.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET))
            return Knocked::HungUp;
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return Knocked::Failed;
        sent += std::max<ssize_t>(n, 0);
    }
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() <= kConfirm.size()) {
        if (!waitFor(socket.get(), POLLIN, deadline))
            return Knocked::Failed;
        char buffer[16];
        const ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0)
            return answer.isEmpty() ? Knocked::HungUp : Knocked::Failed;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return errno == ECONNRESET && answer.isEmpty() ? Knocked::HungUp : Knocked::Failed;
        }
        answer.append(buffer, n);
    }
    return answer.left(answer.indexOf('\n') + 1) == kConfirm ? Knocked::Confirmed : Knocked::Failed;
}

// Calls made before a holder that keeps hanging up is given up.
constexpr int kMaxKnocks = 50;

}  // namespace

bool RequestActivation(const QString &socketPath, int timeoutMs)
{
    const QDeadlineTimer deadline(std::max(timeoutMs, 0));
    sockaddr_un address{};
    if (!fillAddress(address, QFile::encodeName(socketPath)))
        return false;
    for (int call = 0; call < kMaxKnocks && !deadline.hasExpired(); ++call) {
        const Knocked result = knockOnce(address, deadline);
        if (result != Knocked::HungUp)
            return result == Knocked::Confirmed;
    }
    return false;
}

}  // namespace platform
