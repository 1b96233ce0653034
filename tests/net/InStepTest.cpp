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

// A reply that comes before its command, or one that cannot answer the command sent, means every
// later reply would be read by the wrong command: the control connection is closed and the
// command fails, and the next command logs in afresh and reads its own replies. A refusal the
// command can receive keeps the session.
TEST(ControlOutOfStep, AnExtraOrAStrayReplyClosesTheConnectionARefusalKeepsIt)
{
    struct Case {
        const char *name;
        std::function<void(ScriptedFtpServer &)> script;  // the first session's oddity
        std::function<void(TmsFTPClient &)> run;          // after a log-in, unless it logs in itself
        bool logsIn;
        std::string error;
        bool closed;
        long users = 0;  // USER lines at the end; 0: one for each log-in (two after a close)
    };
    // Answers `verb` the first time with `raw`, then as `later`.
    const auto firstThen = [](ScriptedFtpServer &server, const std::string &verb, std::string raw, std::string later) {
        server.On(verb, [raw = std::move(raw), later = std::move(later),
                         n = 0](FtpSession &s, const std::string &) mutable { s.Send(++n == 1 ? raw : later); });
    };
    const auto changeDir = [](TmsFTPClient &client) { client.ChangeDir("/updates"); };
    const auto retrieve = [](TmsFTPClient &client) {
        fw::TMemoryStream stream;
        client.RetrieveFile("map.mdb", stream);
    };
    const Case cases[] = {
        {"a server that answers PASS twice",
         [&](ScriptedFtpServer &server) {
             firstThen(server, "PASS", "230 Logged in\r\n230 Logged in\r\n", "230 Logged in\r\n");
         },
         changeDir, false, "Out of step with the server: it answered before CWD was sent", true},
        {"a proxy that answers USER before it is asked",
         [](ScriptedFtpServer &server) {
             server.greet = [n = 0](FtpSession &s) mutable {
                 s.Send(++n == 1 ? "220 Proxy ready\r\n331 Password required\r\n" : "220 Proxy ready\r\n");
             };
         },
         [](TmsFTPClient &client) { client.Login(); }, true,
         "Out of step with the server: it answered before USER was sent", true, 1},
        {"a 331 to PASS",
         [&](ScriptedFtpServer &server) {
             firstThen(server, "PASS", "331 Password required\r\n", "230 Logged in\r\n");
         },
         [](TmsFTPClient &client) { client.Login(); }, true,
         "Out of step with the server: \"331 Password required\" does not answer PASS", true},
        {"a 230 to CWD (the second answer to PASS, late)",
         [&](ScriptedFtpServer &server) { firstThen(server, "CWD", "230 Logged in\r\n", "250 OK\r\n"); }, changeDir,
         false, "Out of step with the server: \"230 Logged in\" does not answer CWD", true},
        {"a 200 to RETR",
         [&](ScriptedFtpServer &server) {
             firstThen(server, "RETR", "200 PORT command successful\r\n", "550 No such file\r\n");
         },
         retrieve, false, "Out of step with the server: \"200 PORT command successful\" does not answer RETR", true},
        {"a 200 to NLST",
         [&](ScriptedFtpServer &server) { firstThen(server, "NLST", "200 port\r\n", "550 No files\r\n"); },
         [](TmsFTPClient &client) {
             fw::TStringList names;
             client.NameList(names);
         },
         false, "Out of step with the server: \"200 port\" does not answer NLST", true},
        {"a 213 to TYPE", [&](ScriptedFtpServer &server) { firstThen(server, "TYPE", "213 1234\r\n", "200 OK\r\n"); },
         retrieve, false, "Out of step with the server: \"213 1234\" does not answer TYPE", true},
        {"a 550 to SIZE", [](ScriptedFtpServer &) {},
         [](TmsFTPClient &client) { EXPECT_EQ(client.GetFileSize("missing.mdb"), -1); }, false, "(no exception)",
         false},
        {"a 550 to RETR", [](ScriptedFtpServer &) {}, retrieve, false, "550 No such file", false},
        {"a 550 to CWD",
         [&](ScriptedFtpServer &server) { firstThen(server, "CWD", "550 No such folder\r\n", "250 OK\r\n"); },
         changeDir, false, "550 No such folder", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        c.script(server);
        ClosingClient rc(server.Port());
        rc.client.SetTimeOut(5);
        if (!c.logsIn)
            rc.client.Login();
        EXPECT_EQ(Message([&] { c.run(rc.client); }), c.error);
        EXPECT_EQ(rc.Open(), !c.closed);
        EXPECT_EQ(rc.client.Connected(), !c.closed);
        EXPECT_EQ(rc.closes, c.closed ? 1 : 0);
        // As the main form does before a command: log in when not connected. Every reply then
        // belongs to its command.
        if (!rc.client.Connected())
            rc.client.Login();
        rc.client.ChangeDir("/next");
        EXPECT_EQ(rc.client.LastReply(), "250 OK");
        EXPECT_EQ(rc.client.GetFileSize("missing.mdb"), -1);
        EXPECT_EQ(rc.client.LastReply(), "550 No such file");
        const Lines lines = server.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "USER drovanel"), c.users > 0 ? c.users : c.closed ? 2 : 1);
    }
}

}  // namespace
