#include "platform/Termination.h"

#include <QCoreApplication>
#include <QObject>
#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

// The write end of the self-pipe: the only thing the signal handler touches.
volatile sig_atomic_t g_writeFd = -1;

extern "C" void onTerminationSignal(int signalNumber)
{
    // The interrupted code may be about to read errno. The rollback is a plain copy, safe here.
    const QScopedValueRollback keepErrno(errno);
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(g_writeFd, &byte, 1);
}

class TerminationWatcher final : public QObject {
    Q_OBJECT
public:
    TerminationWatcher(int readFd, QObject *parent) : QObject(parent), m_readFd(readFd)
    {
        setObjectName(QStringLiteral("drovanelTerminationWatcher"));
        m_notifier = new QSocketNotifier(readFd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatcher::signalArrived);
    }

    std::function<void()> handler;

public slots:
    // The session manager asks the program to save before the session ends.
    void sessionEnding() { fire(); }

private:
    void signalArrived()
    {
        unsigned char buffer[64];
        while (::read(m_readFd, buffer, sizeof buffer) > 0) {
        }
        fire();
    }
    void fire()
    {
        const auto call = handler;  // the handler may install another one
        if (call)
            call();
    }

    int m_readFd;
    QSocketNotifier *m_notifier;
};

TerminationWatcher *g_watcher = nullptr;

}  // namespace

void InstallTerminationSignals(std::function<void()> onTerminate)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    if (!g_watcher) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        g_watcher = new TerminationWatcher(fds[0], app);  // lives as long as the application object
        QObject::connect(g_watcher, &QObject::destroyed, [] { g_watcher = nullptr; });
        g_writeFd = fds[1];

        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(signalNumber, &action, nullptr);

        // Connected by name, so this QtCore piece needs no QtGui: only a GUI application object
        // has the signal.
        if (app->metaObject()->indexOfSignal("commitDataRequest(QSessionManager&)") >= 0)
            QObject::connect(app, SIGNAL(commitDataRequest(QSessionManager &)), g_watcher, SLOT(sessionEnding()));
    }
    g_watcher->handler = std::move(onTerminate);
}

}  // namespace platform

#include "Termination.moc"
