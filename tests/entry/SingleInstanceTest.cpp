// The single-instance mark, and the program started twice.
#include "platform/SingleInstance.h"

#include "common/TempDir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
        ASSERT_EQ(first.state(), State::Held);
        EXPECT_EQ(readAll(path), QString::number(::getpid()) + "\n");
        const SingleInstanceMark second = SingleInstanceMark::AtPath(path);
        EXPECT_EQ(second.state(), State::HeldByAnother);
        EXPECT_EQ(readAll(path), QString::number(::getpid()) + "\n");  // the loser writes nothing
    }
    const SingleInstanceMark again = SingleInstanceMark::AtPath(path);
    EXPECT_EQ(again.state(), State::Held);
}

TEST(SingleInstanceMark, AFileLeftByACrashedInstanceDoesNotCount)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.lock"));
    testutil::WriteFile(path.toStdString(), "4194304\nleft over by a process that died\n");
    const SingleInstanceMark mark = SingleInstanceMark::AtPath(path);
    EXPECT_EQ(mark.state(), State::Held);
    EXPECT_EQ(readAll(path), QString::number(::getpid()) + "\n");
}

TEST(SingleInstanceMark, UnavailableWhereNoFileCanBeMade)
{
    testutil::TempDir dir;
    const SingleInstanceMark mark =
        SingleInstanceMark::AtPath(QString::fromStdString(dir.file("no/such/folder/x.lock")));
    EXPECT_EQ(mark.state(), State::Unavailable);
}

TEST(SingleInstanceMark, AProgramStartedByTheHolderDoesNotKeepTheMark)
{
    testutil::TempDir dir;
    const QString path = QString::fromStdString(dir.file("drovanel.lock"));
    QProcess child;
    {
        const SingleInstanceMark mark = SingleInstanceMark::AtPath(path);
        ASSERT_EQ(mark.state(), State::Held);
        child.start("/bin/sleep", {"60"});
        ASSERT_TRUE(child.waitForStarted());
    }
    // The child still runs; had it inherited the lock, the mark would still be taken.
    const SingleInstanceMark next = SingleInstanceMark::AtPath(path);
    EXPECT_EQ(next.state(), State::Held);
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

TEST(SingleInstanceMark, LivesInThePrivateRuntimeFolderOrElseInTheConfigurationFolder)
{
    QTemporaryDir runtime;  // made private (0700)
    QTemporaryDir config;
    const QString shared = runtime.path() + "/shared";
    ASSERT_TRUE(QDir().mkdir(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0755), 0);
    const ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData());
    struct Case {
        std::optional<QString> runtimeDir;
        QString folder;
    } const cases[] = {
        {runtime.path(), runtime.path()},
        {shared, config.path() + "/drovanel"},  // readable by others: not the user's own
        {runtime.path() + "/missing", config.path() + "/drovanel"},
        {std::nullopt, config.path() + "/drovanel"},
    };
    for (const auto &c : cases) {
        const QByteArray value = c.runtimeDir ? c.runtimeDir->toLocal8Bit() : QByteArray();
        const ScopedEnv runtimeDir("XDG_RUNTIME_DIR", c.runtimeDir ? value.constData() : nullptr);
        EXPECT_EQ(SingleInstanceMark::RuntimeFolder(), c.folder) << value.constData();
        EXPECT_TRUE(QFileInfo(c.folder).isDir());
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

TEST(Activation, TheSocketLiesBesideTheMark)
{
    testutil::TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    EXPECT_EQ(SingleInstanceMark::AtPath(folder + "/drovanel.lock").activationPath(), folder + "/drovanel.socket");
    EXPECT_EQ(SingleInstanceMark::AtPath(folder + "/mark").activationPath(), folder + "/mark.socket");
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
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QLocalSocket stranger;
        stranger.connectToServer(path);
        ASSERT_TRUE(stranger.waitForConnected(3000));
        stranger.write(c.bytes);
        stranger.flush();
        EXPECT_TRUE(pumpUntil([&] { return stranger.state() == QLocalSocket::UnconnectedState; }, 5000));
        EXPECT_TRUE(stranger.readAll().isEmpty());
    }
    EXPECT_EQ(requests, 0);
}

// The real program, started as a user would start it.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid() && m_runtime.isValid());
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("HOME", m_home.path());
        m_env.insert("XDG_CONFIG_HOME", m_home.path() + "/.config");
        m_env.insert("XDG_RUNTIME_DIR", m_runtime.path());
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

    // Waits (without polling) until `process` holds the mark, which it shows by writing its
    // process id into the mark's file once it has the lock.
    bool waitUntilHolder(const QProcess &process, int timeoutMs)
    {
        const QString wanted = QString::number(process.processId()) + "\n";
        QFileSystemWatcher watcher({m_runtime.path()});
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, &QEventLoop::quit);
        QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, &QEventLoop::quit);
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (QFile::exists(m_lockFile) && !watcher.files().contains(m_lockFile))
                watcher.addPath(m_lockFile);
            if (readAll(m_lockFile) == wanted)
                return true;
            if (process.state() == QProcess::NotRunning)
                return false;
            timeout.start(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
            loop.exec();
        }
        return readAll(m_lockFile) == wanted;
    }

    // Waits until `path` appears in the runtime folder while `process` runs.
    bool waitForRuntimeFile(const QString &path, const QProcess &process, int timeoutMs)
    {
        QFileSystemWatcher watcher({m_runtime.path()});
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, &QEventLoop::quit);
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        const QDeadlineTimer deadline(timeoutMs);
        while (!QFileInfo::exists(path) && !deadline.hasExpired() && process.state() != QProcess::NotRunning) {
            timeout.start(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
            loop.exec();
        }
        return QFileInfo::exists(path);
    }

    static void kill(QProcess &process)
    {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished();
    }

    QTemporaryDir m_home, m_runtime;
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
    ASSERT_TRUE(waitForRuntimeFile(door, first, 60000)) << "the first listens for later starts";

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
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(m_runtime.path() + "/drovanel.socket"));
    const SingleInstanceMark mark = SingleInstanceMark::AtPath(m_lockFile);
    ASSERT_EQ(mark.state(), State::Held);

    QElapsedTimer clock;
    clock.start();
    QProcess second;
    start(second, m_env);
    EXPECT_TRUE(pumpUntil([&] { return second.state() == QProcess::NotRunning; }, 10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
}

}  // namespace
