// The FTP client never takes a transfer that did not end in order for a whole one, and never goes
// on out of step with the server: a data connection reset or left silent fails the transfer once
// its completion reply is read; a time-out, a cancel or a refused reply line closes the control
// connection so that the next command logs in afresh; a cancel from a handler ends every wait at
// once; a server that floods preliminary replies instead of connecting is not waited for.
#include "FtpTestSupport.h"
#include "common/TempDir.h"

#include <QTimer>
#include <gtest/gtest.h>

namespace {

using namespace ftptest;

const std::string kMap(100000, 'm');

// Counts the control connection's closes as the shell sees them (its OnDisconnected).
struct ClosingClient : RecordingClient {
    explicit ClosingClient(std::uint16_t port, bool passive = false) : RecordingClient(port, passive)
    {
        client.OnDisconnected = [this](fw::TObject *) { ++closes; };
    }
    bool Open() const { return client.SocketHandle() != winsock::INVALID_SOCKET; }
    int closes = 0;
};

class BrokenDataConnection : public ::testing::TestWithParam<bool> {};

TEST_P(BrokenDataConnection, FailsTheTransferAndStaysInStep)
{
    struct Case {
        const char *name;
        std::function<void(FtpSession &)> send;  // after "150", the data and the completion reply
        std::string error;
    };
    const Case cases[] = {
        {"reset half-way, then 226",
         [](FtpSession &s) {
             s.SendDataThenReset(kMap.substr(0, 40000));
             s.Reply("226 Transfer complete");
         },
         "[10054] Connection reset by peer"},
        {"226 while the data connection stays open and silent",
         [](FtpSession &s) {
             s.SendDataKeepOpen(kMap.substr(0, 40000));
             s.Reply("226 Transfer complete");
         },
         "Operation timed out"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        server.File("map.mdb", kMap);
        server.On("RETR", [&](FtpSession &s, const std::string &) {
            s.Reply("150 Opening BINARY mode data connection");
            c.send(s);
        });
        testutil::TempDir dir;
        ClosingClient rc(server.Port(), GetParam());
        rc.client.SetTimeOut(1);
        rc.client.Login();
        EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb")); }), c.error);
        EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
        // The completion reply was read with the transfer: the next command reads its own.
        EXPECT_TRUE(rc.Open());
        EXPECT_EQ(rc.client.GetFileSize("map.mdb"), static_cast<std::int32_t>(kMap.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, BrokenDataConnection, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });

TEST(ControlOutOfStep, ClosedAfterATimeOutOrARefusedReplySoTheNextCommandLogsIn)
{
    struct Case {
        const char *name;
        std::string firstCwdReply;  // the reply to the first CWD of the first session
        std::string error;
    };
    const Case cases[] = {
        {"no reply within the time-out", "", "Operation timed out"},
        {"a zero byte in the reply", std::string("250 O\0K\r\n", 9), "Line holds a zero byte"},
        {"a reply line of 100 KiB", "250 " + std::string(100 * 1024, 'x') + "\r\n", "Line too long"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        int cwds = 0;
        server.On("CWD", [&](FtpSession &s, const std::string &arg) {
            s.Send(++cwds == 1 ? c.firstCwdReply : "250 In " + arg + "\r\n");
        });
        ClosingClient rc(server.Port());
        rc.client.SetTimeOut(1);
        rc.client.Login();
        EXPECT_EQ(Message([&] { rc.client.ChangeDir("/first"); }), c.error);
        EXPECT_FALSE(rc.Open());
        EXPECT_EQ(rc.closes, 1);
        // As the shell does after a close: log in again; every reply then belongs to its command.
        rc.client.Login();
        rc.client.ChangeDir("/second");
        EXPECT_EQ(rc.client.LastReply(), "250 In /second");
        const Lines lines = server.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "USER drovanel"), 2);
    }
}

// The close after a failure is quiet: a close handler that fails hides neither the failure that
// made the close nor the close itself.
TEST(ControlOutOfStep, AFailingCloseHandlerHidesNeitherTheFailureNorTheClose)
{
    ScriptedFtpServer server;
    server.On("CWD", [](FtpSession &s, const std::string &) { s.Send(std::string("250 O\0K\r\n", 9)); });
    ClosingClient rc(server.Port());
    rc.client.Login();
    rc.client.OnDisconnected = [&rc](fw::TObject *) {
        ++rc.closes;
        throw fw::Exception("No se pudo cerrar");
    };
    EXPECT_EQ(Message([&] { rc.client.ChangeDir("/first"); }), "Line holds a zero byte");
    EXPECT_FALSE(rc.Open());
    EXPECT_EQ(rc.closes, 1);
}

TEST(Cancel, EndsEveryWaitAtOnceAndClosesWithoutQuit)
{
    struct Case {
        const char *name;
        bool passive;
        bool fromProgress;    // cancel from the progress event, else from a timer inside the wait
        std::string command;  // what the client sends last: ChangeDir's CWD or RetrieveFile's RETR
        Lines events;
    };
    const Case cases[] = {
        {"a reply that never comes", false, false, "CWD /updates", {}},
        {"an active data connection that never comes", false, false, "RETR map.mdb", {"start", "terminate"}},
        {"a data connection that trickles, active", false, true, "RETR map.mdb", {"start", "terminate"}},
        {"a data connection that trickles, passive", true, true, "RETR map.mdb", {"start", "terminate"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        server.On("CWD", [&](FtpSession &, const std::string &) { server.release.Wait(); });
        server.On("RETR", [&](FtpSession &s, const std::string &) {
            s.Reply("150 Opening");
            if (c.fromProgress)
                s.SendDataKeepOpen("first bytes");
            server.release.Wait();
        });
        testutil::TempDir dir;
        ClosingClient rc(server.Port(), c.passive);
        rc.client.SetTimeOut(60);  // a cancel that did not work would hold the test for a minute
        rc.client.Login();
        QTimer later;
        later.setSingleShot(true);
        QObject::connect(&later, &QTimer::timeout, [&] { rc.client.Cancel(); });
        if (c.fromProgress)
            rc.client.OnDataTransferProgress = [&](fw::TObject *, std::int32_t) { rc.client.Cancel(); };
        else
            later.start(50);
        EXPECT_EQ(Message([&] {
                      if (c.command.rfind("CWD", 0) == 0)
                          rc.client.ChangeDir("/updates");
                      else
                          rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
                  }),
                  "Operation has been canceled");
        EXPECT_EQ(rc.events, c.events);
        EXPECT_FALSE(rc.Open());
        EXPECT_EQ(rc.closes, 1);
        server.release.Open();
        EXPECT_EQ(server.Lines().back(), c.command) << "nothing sent after the cancel";
    }
}

TEST(PreliminaryFlood, EndsWithAnErrorAndTheConnectionClosed)
{
    ScriptedFtpServer server;
    server.On("RETR", [](FtpSession &s, const std::string &) {
        while (testutil::SendAll(s.fd, "150 Still opening\r\n")) {
        }
        s.Close();
    });
    testutil::TempDir dir;
    ClosingClient rc(server.Port());
    rc.client.SetTimeOut(2);
    EXPECT_EQ(Message([&] {
                  rc.client.Login();
                  rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
              }),
              "Too many preliminary replies");
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
    EXPECT_FALSE(rc.Open());
}

}  // namespace
