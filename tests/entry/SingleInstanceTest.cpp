// The single-instance mark, and the program started twice.
#include "common/TempDir.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Texts in failure messages as text.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using platform::SingleInstanceMark;
using State = SingleInstanceMark::State;

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

TEST(SingleInstanceMark, ASecondMarkIsHeldByAnotherUntilTheFirstEnds)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.lock"));
    {
        const SingleInstanceMark first = SingleInstanceMark::AtPath(path);
        ASSERT_EQ(first.Status(), State::Held);
        EXPECT_EQ(readAll(path), QString::number(::getpid()) + "\n");
        const SingleInstanceMark second = SingleInstanceMark::AtPath(path);
        EXPECT_EQ(second.Status(), State::HeldByAnother);
        EXPECT_EQ(readAll(path), QString::number(::getpid()) + "\n");  // the loser writes nothing
    }
    const SingleInstanceMark again = SingleInstanceMark::AtPath(path);
    EXPECT_EQ(again.Status(), State::Held);
}

TEST(SingleInstanceMark, AFileLeftByACrashedInstanceDoesNotCount)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.lock"));
    testutil::WriteFile(path.toStdString(), "4194304\nleft over by a process that died\n");
    const SingleInstanceMark mark = SingleInstanceMark::AtPath(path);
    EXPECT_EQ(mark.Status(), State::Held);
    EXPECT_EQ(readAll(path), QString::number(::getpid()) + "\n");
}

TEST(SingleInstanceMark, AProgramStartedByTheHolderDoesNotKeepTheMark)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.lock"));
    QProcess child;
    {
        const SingleInstanceMark mark = SingleInstanceMark::AtPath(path);
        ASSERT_EQ(mark.Status(), State::Held);
        child.start("/bin/sleep", {"60"});
        ASSERT_TRUE(child.waitForStarted());
    }
    // The child still runs; had it inherited the lock, the mark would still be taken.
    const SingleInstanceMark next = SingleInstanceMark::AtPath(path);
    EXPECT_EQ(next.Status(), State::Held);
    child.kill();
    child.waitForFinished();
}

// Changes an environment variable for the length of a test.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

// Collects what the code under test writes to standard error while the object lives.
class StderrCapture {
public:
    StderrCapture() : m_file(std::tmpfile())
    {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(::fileno(m_file), STDERR_FILENO);
    }
    ~StderrCapture()
    {
        restore();
        std::fclose(m_file);
    }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // Everything written so far; standard error is given back.
    QString text()
    {
        restore();
        std::rewind(m_file);
        QByteArray bytes;
        char buffer[512];
        while (const size_t n = std::fread(buffer, 1, sizeof buffer, m_file))
            bytes.append(buffer, static_cast<qsizetype>(n));
        return QString::fromLocal8Bit(bytes);
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    std::FILE *m_file;
    int m_saved = -1;
};

TEST(SingleInstanceMark, UnavailableWhereNoFileCanBeMade)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("no/such/folder/x.lock"));
    StderrCapture errors;
    const SingleInstanceMark mark = SingleInstanceMark::AtPath(path);
    EXPECT_EQ(mark.Status(), State::Unavailable);
    EXPECT_EQ(errors.text(),
              "drovanel: cannot take the single-instance mark " + path + ": No such file or directory\n");
}

bool isPrivateFolderOfOurs(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

// The name of our own folder in a temporary folder.
QString ownFolderIn(const QString &temp)
{
    return temp + "/drovanel-" + QString::number(::getuid());
}

TEST(SingleInstanceMark, LivesInThePrivateRuntimeFolderOrElseInAPrivateTemporaryFolder)
{
    QTemporaryDir runtime;  // made private (0700)
    QTemporaryDir config;
    QTemporaryDir temp;
    const QString shared = runtime.path() + "/shared";
    ASSERT_TRUE(QDir().mkdir(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0755), 0);
    // Private, but a socket inside would not fit a local socket address.
    const QString deep = runtime.path() + '/' + QString(100, 'r');
    ASSERT_TRUE(QDir().mkdir(deep));
    ASSERT_EQ(::chmod(QFile::encodeName(deep).constData(), 0700), 0);
    const ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData());
    const ScopedEnv tempDir("TMPDIR", temp.path().toLocal8Bit().constData());
    const QString own = ownFolderIn(temp.path());
    struct Case {
        std::optional<QString> runtimeDir;
        QString folder;
    } const cases[] = {
        {runtime.path(), runtime.path()},   {shared, own},  // readable by others: not the user's own
        {runtime.path() + "/missing", own}, {std::nullopt, own}, {deep, own},
    };
    for (const auto &c : cases) {
        const QByteArray value = c.runtimeDir ? c.runtimeDir->toLocal8Bit() : QByteArray();
        const ScopedEnv runtimeDir("XDG_RUNTIME_DIR", c.runtimeDir ? value.constData() : nullptr);
        StderrCapture errors;
        EXPECT_EQ(SingleInstanceMark::RuntimeFolder("drovanel.lock"), c.folder) << value.constData();
        EXPECT_TRUE(isPrivateFolderOfOurs(c.folder)) << value.constData();
        EXPECT_EQ(errors.text(), "") << value.constData();
    }
    // The socket's path always fits, the longest mark name the program uses included.
    EXPECT_LE(QFile::encodeName(own + "/drovanel.socket").size(), platform::kMaxLocalSocketPath);
}

// Anyone may create a name in the temporary folder before us: a link to a place of their choosing,
// a folder they own or may enter. Such a folder is refused, said so, and left untouched; the mark
// goes to the configuration folder.
TEST(SingleInstanceMark, AFolderPlantedInTheTemporaryFolderIsRefused)
{
    QTemporaryDir config;
    QTemporaryDir temp;
    const ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData());
    const ScopedEnv tempDir("TMPDIR", temp.path().toLocal8Bit().constData());
    const ScopedEnv runtimeDir("XDG_RUNTIME_DIR", nullptr);
    const QString planted = ownFolderIn(temp.path());
    const QByteArray plantedName = QFile::encodeName(planted);
    const QString elsewhere = temp.path() + "/elsewhere";  // private and ours, yet not where we look
    struct Case {
        const char *name;
        std::function<bool()> plant;
        const char *why;
    } const cases[] = {
        {"a link to a private folder", [&] { return QFile::link(elsewhere, planted); }, "it is a link"},
        {"a link to nowhere", [&] { return QFile::link(temp.path() + "/nowhere", planted); }, "it is a link"},
        {"a folder others may enter",
         [&] { return ::mkdir(plantedName.constData(), 0700) == 0 && ::chmod(plantedName.constData(), 0755) == 0; },
         "others may enter it (mode 0755)"},
        {"a folder of another user",
         [&] {
             return ::geteuid() == 0 && ::mkdir(plantedName.constData(), 0700) == 0 &&
                    ::chown(plantedName.constData(), 65534, 65534) == 0;
         },
         "it belongs to user 65534"},
        {"a file", [&] { return QFile(planted).open(QIODevice::WriteOnly); }, "it is not a folder"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir().mkdir(elsewhere));
        ASSERT_EQ(::chmod(QFile::encodeName(elsewhere).constData(), 0700), 0);
        if (!c.plant()) {
            EXPECT_NE(::geteuid(), 0u) << "only giving a folder away needs root";
        } else {
            StderrCapture errors;
            const SingleInstanceMark mark(QStringLiteral("drovanel.lock"));
            EXPECT_EQ(errors.text(),
                      "drovanel: refusing the folder " + planted + " for the single-instance mark: " + c.why + "\n");
            EXPECT_EQ(mark.Status(), State::Held);
            EXPECT_EQ(mark.Path(), config.path() + "/drovanel/drovanel.lock");
            EXPECT_TRUE(QDir(elsewhere).isEmpty());
        }
        ::rmdir(plantedName.constData());
        ::unlink(plantedName.constData());
        ASSERT_TRUE(QDir(elsewhere).removeRecursively());
        ASSERT_FALSE(QFileInfo(planted).exists() || QFileInfo(planted).isSymLink());
    }
}

// ---- The activation socket: later starts knock, the holder comes forward.

// Runs the event loop until `done` or the bound; sleeps between events.
bool pumpUntil(const std::function<bool()> &done, int maxMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= maxMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// A plain Unix stream socket of the test's own, closed with the object.
class RawSocket {
public:
    RawSocket() : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~RawSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawSocket(const RawSocket &) = delete;
    RawSocket &operator=(const RawSocket &) = delete;
    int fd() const { return m_fd; }

    bool listenAt(const QString &path, int backlog) { return bind(path) && ::listen(m_fd, backlog) == 0; }
    bool bind(const QString &path)
    {
        const sockaddr_un address = addressOf(path);
        return ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    }
    bool connectTo(const QString &path)
    {
        const sockaddr_un address = addressOf(path);
        return ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    }
    bool send(const QByteArray &bytes)
    {
        return ::send(m_fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // What has arrived, without waiting; `closed` once the far end has hung up.
    QByteArray receive(bool &closed)
    {
        QByteArray bytes;
        char buffer[256];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                bytes.append(buffer, n);
                continue;
            }
            closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
            return bytes;
        }
    }

private:
    static sockaddr_un addressOf(const QString &path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), std::min<size_t>(name.size(), sizeof address.sun_path - 1));
        return address;
    }

    int m_fd;
};

// Knocks from a thread of its own while the test runs the holder's event loop; true when the
// holder confirmed.
bool knockWhilePumping(
    const QString &path, const std::function<bool()> &alsoDone = [] { return true; })
{
    std::atomic<bool> confirmed = false;
    std::unique_ptr<QThread> caller(QThread::create([&] { confirmed = platform::RequestActivation(path, 3000); }));
    caller->start();
    EXPECT_TRUE(pumpUntil([&] { return caller->isFinished() && alsoDone(); }, 5000));
    caller->wait();
    return confirmed;
}

TEST(Activation, TheSocketLiesBesideTheMark)
{
    testutil::TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    EXPECT_EQ(SingleInstanceMark::AtPath(folder + "/drovanel.lock").ActivationPath(), folder + "/drovanel.socket");
    EXPECT_EQ(SingleInstanceMark::AtPath(folder + "/mark").ActivationPath(), folder + "/mark.socket");
}

TEST(Activation, AKnockIsConfirmedAndReportedOnceEach)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.socket"));
    // A socket file left by a holder that died is no obstacle.
    testutil::WriteFile(path.toStdString(), "");
    platform::ActivationListener listener(path);
    ASSERT_TRUE(listener.Listening());
    int requests = 0;
    QObject::connect(&listener, &platform::ActivationListener::activationRequested, [&] { ++requests; });

    // The asking side blocks; the holder must answer from its own loop, so it runs in a thread.
    for (int knock = 1; knock <= 2; ++knock) {
        std::atomic<bool> confirmed = false;
        std::unique_ptr<QThread> caller(QThread::create([&] { confirmed = platform::RequestActivation(path, 3000); }));
        caller->start();
        EXPECT_TRUE(pumpUntil([&] { return requests == knock && caller->isFinished(); }, 5000));
        caller->wait();
        EXPECT_TRUE(confirmed);
    }
    EXPECT_EQ(requests, 2);
}

TEST(Activation, TheSocketOfAHolderThatDiedIsReplacedAndOursGoesWithUs)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.socket"));
    {
        RawSocket dead;  // bound and gone: its file stays, and nobody answers there
        ASSERT_TRUE(dead.bind(path));
    }
    ASSERT_TRUE(QFileInfo::exists(path));
    {
        platform::ActivationListener listener(path);
        ASSERT_TRUE(listener.Listening());
        EXPECT_TRUE(knockWhilePumping(path));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(st.st_mode & 077, 0u);  // the user's alone
    }
    EXPECT_FALSE(QFileInfo::exists(path));

    // What has taken the socket's place since is not ours to remove.
    {
        platform::ActivationListener listener(path);
        ASSERT_TRUE(listener.Listening());
        ASSERT_TRUE(QFile::remove(path));
        testutil::WriteFile(path.toStdString(), "another holder's");
    }
    EXPECT_EQ(testutil::ReadFile(path.toStdString()), "another holder's");
}

TEST(Activation, NobodyListeningIsAnAnswerAtOnce)
{
    testutil::TempDir dir;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(platform::RequestActivation(QString::fromStdString(dir.file("drovanel.socket")), 3000));
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST(Activation, AStrangerIsDroppedAndReportsNothing)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.socket"));
    platform::ActivationListener listener(path);
    int requests = 0;
    QObject::connect(&listener, &platform::ActivationListener::activationRequested, [&] { ++requests; });
    struct Case {
        const char *name;
        QByteArray bytes;
    } const cases[] = {
        {"another word", "show\n"},
        {"a long line without end", QByteArray(4096, 'a')},
        {"the knock inside a longer line", "activated\n"},
        {"nothing, and gone", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        RawSocket stranger;
        ASSERT_TRUE(stranger.connectTo(path));
        if (c.bytes.isEmpty())
            ::shutdown(stranger.fd(), SHUT_WR);
        else
            ASSERT_TRUE(stranger.send(c.bytes));
        QByteArray answer;
        bool closed = false;
        EXPECT_TRUE(pumpUntil([&] { return answer += stranger.receive(closed), closed; }, 5000));
        EXPECT_TRUE(answer.isEmpty());
    }
    EXPECT_EQ(requests, 0);
}

// The holder reads as bytes come, never waiting for one caller: a caller that says nothing holds
// nobody up and is dropped after its two seconds, and a knock may come in pieces.
TEST(Activation, ASilentCallerHoldsNobodyUpAndIsDroppedInTime)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.socket"));
    platform::ActivationListener listener(path);
    int requests = 0;
    QObject::connect(&listener, &platform::ActivationListener::activationRequested, [&] { ++requests; });

    RawSocket silent, slow;
    ASSERT_TRUE(silent.connectTo(path));
    ASSERT_TRUE(slow.connectTo(path));
    ASSERT_TRUE(slow.send("acti"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(knockWhilePumping(path, [&] { return requests == 1; }));
    ASSERT_TRUE(slow.send("vate\n"));
    QByteArray answer;
    bool closed = false;
    EXPECT_TRUE(pumpUntil([&] { return answer += slow.receive(closed), closed; }, 5000));
    EXPECT_EQ(answer, "ok\n");
    EXPECT_EQ(requests, 2);

    QByteArray heard;
    closed = false;
    EXPECT_TRUE(pumpUntil([&] { return heard += silent.receive(closed), closed; }, 6000));
    EXPECT_TRUE(heard.isEmpty());
    EXPECT_GE(clock.elapsed(), 1000);  // given its patience first, not dropped at once
    EXPECT_EQ(requests, 2);
}

// A later start has no window yet and may block, but never past its time: not when the holder
// takes the call and says nothing, nor when its queue of callers is full and connect would wait.
TEST(Activation, AHolderThatDoesNotAnswerCostsALaterStartOnlyItsTime)
{
    struct Case {
        const char *name;
        int queued;  // callers already waiting, none of them accepted
    } const cases[] = {
        {"the call is taken, no answer comes", 0},
        {"the queue of callers is full", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::TempDir dir;
        const QString path = QString::fromStdString(dir.file("drovanel.socket"));
        RawSocket holder;
        ASSERT_TRUE(holder.listenAt(path, 0));  // room for one waiting caller
        std::vector<std::unique_ptr<RawSocket>> waiting;
        for (int i = 0; i < c.queued; ++i) {
            waiting.push_back(std::make_unique<RawSocket>());
            const int flags = ::fcntl(waiting.back()->fd(), F_GETFL);
            ::fcntl(waiting.back()->fd(), F_SETFL, flags | O_NONBLOCK);
            ASSERT_TRUE(waiting.back()->connectTo(path));
        }
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(platform::RequestActivation(path, 300));
        EXPECT_GE(clock.elapsed(), 250);
        EXPECT_LT(clock.elapsed(), 2000);
    }
}

// Callers that connect, say nothing and call again as soon as they are dropped: the holder keeps
// at most its cap of them, closing the rest at once, so the flood cannot take the descriptors a
// genuine later start needs; that start still gets through while the flood goes on.
TEST(Activation, AFloodOfSilentCallersIsCappedAndAGenuineStartStillGetsThrough)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.socket"));
    platform::ActivationListener listener(path);
    ASSERT_TRUE(listener.Listening());
    int requests = 0;
    QObject::connect(&listener, &platform::ActivationListener::activationRequested, [&] { ++requests; });

    // Room for what the process holds now, the flood's own ends, the cap and a little more.
    constexpr int kFlood = 200;
    // Out of descriptors even to look: as many as the limit allows.
    const auto openDescriptors = [] {
        std::error_code error;
        std::filesystem::directory_iterator it("/proc/self/fd", error);
        rlimit limit{};
        if (error && ::getrlimit(RLIMIT_NOFILE, &limit) == 0)
            return limit.rlim_cur;
        return static_cast<rlim_t>(std::distance(it, std::filesystem::directory_iterator{}));
    };
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit tight = before;
    tight.rlim_cur = openDescriptors() + kFlood + platform::kMaxActivationCallers + 24;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);

    std::atomic<bool> stop = false;
    std::atomic<int> dropped = 0;
    std::atomic<int> floodHeld = 0;
    // Held by the flood while it opens and closes its ends, so that a count of the process's
    // descriptors sees the flood's exactly.
    std::mutex floodChanging;
    const auto baseline = static_cast<long>(openDescriptors());
    // The callers the holder keeps, as seen between its turns: what the process holds beyond its
    // own and the flood's ends.
    long peak = 0;
    const auto holderKeeps = [&] {
        const std::lock_guard counting(floodChanging);
        peak = std::max(peak, static_cast<long>(openDescriptors()) - baseline - floodHeld);
        return true;
    };
    const QByteArray name = QFile::encodeName(path);
    std::thread flood([&] {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
        std::vector<pollfd> held;
        while (!stop) {
            std::unique_lock changing(floodChanging);
            while (held.size() < kFlood) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
                if (fd < 0)
                    break;
                if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
                    ::close(fd);  // the holder's queue is full for now
                    break;
                }
                held.push_back({fd, POLLIN, 0});
                ++floodHeld;
            }
            changing.unlock();
            ::poll(held.data(), held.size(), 10);
            changing.lock();
            for (auto it = held.begin(); it != held.end();) {
                char byte = 0;
                const ssize_t got = it->revents != 0 ? ::recv(it->fd, &byte, 1, MSG_DONTWAIT) : -1;
                if (got == 0 || (got < 0 && it->revents != 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                    ::close(it->fd);
                    it = held.erase(it);
                    --floodHeld;
                    ++dropped;
                } else {
                    it->revents = 0;
                    ++it;
                }
            }
        }
        for (const pollfd &p : held)
            ::close(p.fd);
    });
    const auto end = [&] {
        stop = true;
        if (flood.joinable())
            flood.join();
        ::setrlimit(RLIMIT_NOFILE, &before);
    };
    const std::unique_ptr<void, std::function<void(void *)>> ending(&stop, [&](void *) { end(); });

    // Once the flood is being turned away, a later start knocks.
    EXPECT_TRUE(pumpUntil([&] { return holderKeeps() && dropped >= kFlood; }, 10000));
    std::atomic<bool> confirmed = false;
    std::unique_ptr<QThread> caller(QThread::create([&] { confirmed = platform::RequestActivation(path, 3000); }));
    caller->start();
    EXPECT_TRUE(pumpUntil([&] { return holderKeeps() && caller->isFinished(); }, 5000));
    caller->wait();
    end();
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(requests, 1);
    EXPECT_LE(peak, platform::kMaxActivationCallers + 8);
}

// A holder that cannot listen says so on standard error and goes on without the socket.
TEST(Activation, AFailureToListenIsReported)
{
    testutil::TempDir dir;
    const QString occupied = QString::fromStdString(dir.file("drovanel.socket"));
    ASSERT_TRUE(QDir().mkpath(occupied + "/inside"));
    const QString tooLong = QString::fromStdString(dir.file(std::string(120, 's') + ".socket"));
    struct Case {
        QString path;
        QString why;
    } const cases[] = {
        {occupied, "cannot remove what lies there: Is a directory"},
        {QString::fromStdString(dir.file("missing/drovanel.socket")), "No such file or directory"},
        {tooLong, QString("the path is %1 bytes long, a local socket's at most 107").arg(tooLong.size())},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        StderrCapture errors;
        const platform::ActivationListener listener(c.path);
        EXPECT_FALSE(listener.Listening());
        EXPECT_EQ(errors.text(), "drovanel: cannot listen for later starts at " + c.path + ": " + c.why +
                                     "; a second start will not bring this window up\n");
    }
    EXPECT_TRUE(QFileInfo(occupied).isDir());
}

// The real program, started as a user would start it.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid() && m_runtime.isValid() && m_temp.isValid());
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("HOME", m_home.path());
        m_env.insert("XDG_CONFIG_HOME", m_home.path() + "/.config");
        m_env.insert("XDG_RUNTIME_DIR", m_runtime.path());
        m_env.insert("TMPDIR", m_temp.path());
        m_env.insert("QT_QPA_PLATFORM", "offscreen");
        m_lockFile = m_runtime.path() + "/drovanel.lock";
        // The program lands beside the test executables.
        const QByteArray binDir = qgetenv("DROVANEL_BIN_DIR");
        m_program =
            (binDir.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(binDir)) + "/drovanel";
        ASSERT_TRUE(QFileInfo(m_program).isExecutable()) << m_program.toStdString();
    }

    void start(QProcess &process, const QProcessEnvironment &env)
    {
        process.setProcessEnvironment(env);
        process.setProgram(m_program);
        process.start();
        ASSERT_TRUE(process.waitForStarted());
    }

    // A session without a runtime folder and with a home folder so deep that a socket in the
    // configuration folder would not fit a local socket address.
    QProcessEnvironment deepHomeWithoutRuntimeFolder()
    {
        const QString home = m_home.path() + '/' + QString(150, 'h');
        EXPECT_TRUE(QDir().mkpath(home));
        QProcessEnvironment env = m_env;
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.remove("XDG_RUNTIME_DIR");
        return env;
    }

    // Waits (without polling) until `done` holds or `process` ends, waking whenever `path` or the
    // folders above it change; each is watched from the moment it exists.
    static bool waitWatching(const QString &path, const QProcess &process, int timeoutMs,
                             const std::function<bool()> &done)
    {
        QStringList chain{path};
        while (!QFileInfo::exists(chain.back()) && chain.back() != "/")
            chain.append(QFileInfo(chain.back()).path());
        QFileSystemWatcher watcher;
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, &QEventLoop::quit);
        QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, &QEventLoop::quit);
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            for (const QString &watched : chain)
                if (QFileInfo::exists(watched) && !watcher.files().contains(watched) &&
                    !watcher.directories().contains(watched))
                    watcher.addPath(watched);
            if (done())
                return true;
            if (process.state() == QProcess::NotRunning || deadline.hasExpired())
                return false;
            timeout.start(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
            loop.exec();
        }
    }

    // Waits until `process` holds the mark at `lockFile`, which it shows by writing its process id
    // into the mark's file once it has the lock.
    static bool waitUntilHolder(const QProcess &process, const QString &lockFile, int timeoutMs)
    {
        const QString wanted = QString::number(process.processId()) + "\n";
        return waitWatching(lockFile, process, timeoutMs, [&] { return readAll(lockFile) == wanted; });
    }
    bool waitUntilHolder(const QProcess &process, int timeoutMs)
    {
        return waitUntilHolder(process, m_lockFile, timeoutMs);
    }

    // Waits until `path` appears while `process` runs.
    static bool waitForFile(const QString &path, const QProcess &process, int timeoutMs)
    {
        return waitWatching(path, process, timeoutMs, [&] { return QFileInfo::exists(path); });
    }

    static void kill(QProcess &process)
    {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished();
    }

    QTemporaryDir m_home, m_runtime, m_temp;
    QProcessEnvironment m_env;
    QString m_lockFile, m_program;
};

TEST_F(ProgramTest, ASecondStartEndsAtOnceSilentlyAndTheFirstRunsOn)
{
    QProcess first;
    start(first, m_env);
    // A first start without settings waits in its first-run question; it opens its door for later
    // starts once its main form exists, a moment after it has taken the mark.
    ASSERT_TRUE(waitUntilHolder(first, 60000)) << first.readAllStandardError().toStdString();
    const QString door = m_runtime.path() + "/drovanel.socket";
    ASSERT_TRUE(waitForFile(door, first, 60000)) << "the first listens for later starts";

    // The second start must not touch the display at all: with a display system that does not
    // exist, any attempt to make a window would end the process with an error.
    QProcessEnvironment env = m_env;
    env.insert("QT_QPA_PLATFORM", "no-such-display-system");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    QProcess second;
    start(second, env);
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.readAllStandardError().isEmpty());

    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(readAll(m_lockFile), QString::number(first.processId()) + "\n");
    EXPECT_TRUE(QFileInfo::exists(door)) << "the first still listens for later starts";

    // A crash of the first releases the mark: the next start runs.
    kill(first);
    QProcess third;
    start(third, m_env);
    EXPECT_TRUE(waitUntilHolder(third, 60000));
    EXPECT_EQ(third.state(), QProcess::Running);
    kill(third);
}

TEST_F(ProgramTest, ASecondStartKnocksAndEndsWithinThreeSecondsWhenTheFirstCannotAnswer)
{
    // A holder that never answers: a process that holds the mark and a silent listener.
    RawSocket silent;
    ASSERT_TRUE(silent.listenAt(m_runtime.path() + "/drovanel.socket", 4));
    const SingleInstanceMark mark = SingleInstanceMark::AtPath(m_lockFile);
    ASSERT_EQ(mark.Status(), State::Held);

    QElapsedTimer clock;
    clock.start();
    QProcess second;
    start(second, m_env);
    EXPECT_TRUE(pumpUntil([&] { return second.state() == QProcess::NotRunning; }, 10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
}

// Without a runtime folder the mark and its socket go to a private folder of the user in the
// temporary folder, whose path is short whatever the home folder's: the first still answers.
TEST_F(ProgramTest, WithoutARuntimeFolderADeepHomeStillLetsASecondStartReachTheFirst)
{
    const QProcessEnvironment env = deepHomeWithoutRuntimeFolder();
    const QString folder = ownFolderIn(m_temp.path());
    QProcess first;
    start(first, env);
    ASSERT_TRUE(waitUntilHolder(first, folder + "/drovanel.lock", 60000)) << first.readAllStandardError().toStdString();
    const QString door = folder + "/drovanel.socket";
    ASSERT_TRUE(waitForFile(door, first, 60000)) << first.readAllStandardError().toStdString();
    EXPECT_TRUE(isPrivateFolderOfOurs(folder));

    EXPECT_TRUE(knockWhilePumping(door));  // answered from the first's own loop
    QProcess second;
    start(second, env);
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(second.readAllStandardError().contains("drovanel:"));
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_FALSE(first.readAllStandardError().contains("drovanel:"));
    kill(first);
}

// A folder planted under our name in the temporary folder is refused and left alone; the mark goes
// to the configuration folder, where this home's socket does not fit. Both are said on standard
// error, and the program still runs as the one instance.
TEST_F(ProgramTest, APlantedFolderIsRefusedAndAFailureToListenIsReported)
{
    const QProcessEnvironment env = deepHomeWithoutRuntimeFolder();
    const QString planted = ownFolderIn(m_temp.path());
    const QString target = m_temp.path() + "/chosen-by-another";
    ASSERT_TRUE(QDir().mkdir(target));
    ASSERT_TRUE(QFile::link(target, planted));
    const QString lockFile = env.value("XDG_CONFIG_HOME") + "/drovanel/drovanel.lock";

    QProcess first;
    start(first, env);
    ASSERT_TRUE(waitUntilHolder(first, lockFile, 60000)) << first.readAllStandardError().toStdString();
    QString errors;
    const auto said = [&](const QString &text) {
        return pumpUntil(
            [&] {
                errors += QString::fromLocal8Bit(first.readAllStandardError());
                return errors.contains(text);
            },
            10000);  // said before the mark was taken, so already on its way
    };
    EXPECT_TRUE(said("drovanel: refusing the folder " + planted + " for the single-instance mark: it is a link\n"))
        << errors.toStdString();
    EXPECT_TRUE(said("drovanel: cannot listen for later starts at " + env.value("XDG_CONFIG_HOME") +
                     "/drovanel/drovanel.socket: the path is "))
        << errors.toStdString();
    EXPECT_TRUE(QDir(target).isEmpty());

    QProcess second;
    start(second, env);
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(readAll(lockFile), QString::number(first.processId()) + "\n");
    EXPECT_TRUE(QDir(target).isEmpty());
    kill(first);
}

}  // namespace
