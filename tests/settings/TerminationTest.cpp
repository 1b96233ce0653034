// Termination requests reach the program through its event loop, never inside a signal handler.
#include "framework/Application.h"
#include "platform/Termination.h"

#include <QGuiApplication>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

namespace {

TEST(TerminationSignals, EachSignalAndTheSessionEndTerminateThroughTheEventLoop)
{
    int calls = 0;
    bool loopRunning = false;
    platform::InstallTerminationSignals([&] {
        ++calls;
        EXPECT_TRUE(loopRunning) << "called from outside the event loop";
        fw::Application().Terminate();
    });
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE("signal " + std::to_string(signalNumber));
        calls = 0;
        fw::Application().ResetTerminated();
        QTimer::singleShot(0, [&loopRunning, signalNumber] {
            loopRunning = true;
            ::raise(signalNumber);
        });
        // A bound in case the signal never arrives; it ends the loop without calling the handler.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { fw::Application().Terminate(); });
        guard.start(10000);
        fw::Application().Run();
        loopRunning = false;
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(fw::Application().Terminated());
    }

    // The desktop session's end comes as the session manager's request to save.
    QObject *watcher = qApp->findChild<QObject *>(QStringLiteral("drovanelTerminationWatcher"));
    ASSERT_NE(watcher, nullptr);
    // Disconnecting succeeds only for a connection that exists; it is made again at once.
    EXPECT_TRUE(
        QObject::disconnect(qApp, SIGNAL(commitDataRequest(QSessionManager &)), watcher, SLOT(sessionEnding())));
    QObject::connect(qApp, SIGNAL(commitDataRequest(QSessionManager &)), watcher, SLOT(sessionEnding()));
    calls = 0;
    loopRunning = true;
    fw::Application().ResetTerminated();
    ASSERT_TRUE(QMetaObject::invokeMethod(watcher, "sessionEnding"));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(fw::Application().Terminated());

    // A second installation replaces the handler.
    int replaced = 0;
    platform::InstallTerminationSignals([&] { ++replaced; });
    ASSERT_TRUE(QMetaObject::invokeMethod(watcher, "sessionEnding"));
    EXPECT_EQ(replaced, 1);
    EXPECT_EQ(calls, 1);
    platform::InstallTerminationSignals([] { fw::Application().Terminate(); });
    fw::Application().ResetTerminated();
}

}  // namespace
