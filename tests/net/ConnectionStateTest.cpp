// Whether the FTP client is connected, as a caller that logs in only when it is not (the main form
// before each command) needs to know: one OnConnected per connection, a log-in that fails leaves
// no connection behind, and Connected() reads the connection itself, so a server that closed or
// reset it, or said "421" first, is seen without any event, and the next command logs in afresh.
#include "FtpTestSupport.h"
#include "common/Pump.h"

#include <gtest/gtest.h>

namespace {

using namespace ftptest;

// A client used as the main form uses it: a flag kept by the connection events, and a log-in
// before a command whenever the client says it is not connected.
struct ShellLikeClient : RecordingClient {
    explicit ShellLikeClient(std::uint16_t port) : RecordingClient(port)
    {
        client.OnConnected = [this](fw::TObject *) {
            ++connects;
            flag = true;
        };
        client.OnDisconnected = [this](fw::TObject *) { flag = false; };
    }
    void ChangeDirLoggingIn(const std::string &dir)
    {
        if (!client.Connected())
            client.Login();
        client.ChangeDir(dir);
    }
    int connects = 0;
    bool flag = false;
};

// Answers the first USER of the server's life with `first`, every later one as a server does.
void FirstUserAnswer(ScriptedFtpServer &server, std::function<void(FtpSession &)> first)
{
    server.On("USER", [first = std::move(first), users = 0](FtpSession &s, const std::string &) mutable {
        if (++users == 1)
            first(s);
        else
            s.Reply("331 Password required");
    });
}

TEST(ConnectionState, AFailedLogInLeavesNoConnectionAndTheNextCommandLogsInAfresh)
{
    struct Case {
        const char *name;
        std::function<void(ScriptedFtpServer &)> script;
        std::string error;
    };
    const Case cases[] = {
        {"421 to USER, then an at-once close",
         [](ScriptedFtpServer &server) {
             FirstUserAnswer(server, [](FtpSession &s) {
                 s.Reply("421 Too many users, closing control connection");
                 s.Close();
             });
         },
         "421 Too many users, closing control connection"},
        {"421 to USER, the connection left open",
         [](ScriptedFtpServer &server) {
             FirstUserAnswer(server, [](FtpSession &s) { s.Reply("421 Too many users"); });
         },
         "421 Too many users"},
        {"530 to PASS, the connection left open",
         [](ScriptedFtpServer &server) {
             server.On("PASS", [passes = 0](FtpSession &s, const std::string &) mutable {
                 s.Reply(++passes == 1 ? "530 Login incorrect" : "230 Logged in");
             });
         },
         "530 Login incorrect"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        c.script(server);
        ShellLikeClient rc(server.Port());
        EXPECT_EQ(Message([&] { rc.ChangeDirLoggingIn("/updates"); }), c.error);
        EXPECT_EQ(rc.connects, 1) << "one OnConnected per connection";
        EXPECT_FALSE(rc.flag);
        EXPECT_FALSE(rc.client.Connected());
        EXPECT_EQ(rc.client.SocketHandle(), winsock::INVALID_SOCKET);

        // The next command (a re-check a day later) logs in afresh.
        rc.ChangeDirLoggingIn("/updates");
        EXPECT_EQ(rc.client.LastReply(), "250 OK");
        EXPECT_EQ(rc.connects, 2);
        EXPECT_TRUE(rc.flag);
        EXPECT_TRUE(rc.client.Connected());
        const Lines lines = server.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "USER drovanel"), 2);
        EXPECT_EQ(lines.back(), "CWD /updates");
    }
}

TEST(ConnectionState, ConnectedReadsTheConnectionAfterTheServerLeft)
{
    struct Case {
        const char *name;
        std::function<void(FtpSession &)> leave;  // what the server does to the idle session
    };
    const Case cases[] = {
        {"closed in order", [](FtpSession &s) { s.Close(); }},
        {"\"421\" said, then closed",
         [](FtpSession &s) {
             s.Reply("421 Timeout");
             s.Close();
         }},
        {"reset",
         [](FtpSession &s) {
             const linger abortive{1, 0};
             ::setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
             s.Close();
         }},
        {"\"421\" said, the connection left open", [](FtpSession &s) { s.Reply("421 Timeout"); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        testutil::Gate idle;
        server.On("PASS", [&, passes = 0](FtpSession &s, const std::string &) mutable {
            s.Reply("230 Logged in");
            if (++passes == 1) {
                idle.Wait();  // until the client has logged in and looked
                c.leave(s);
            }
        });
        ShellLikeClient rc(server.Port());
        rc.client.Login();
        EXPECT_TRUE(rc.client.Connected());
        idle.Open();
        // Judged from the connection itself: it says so once the server's leaving has arrived.
        EXPECT_TRUE(testutil::PumpUntil([&] { return !rc.client.Connected(); }));
        rc.ChangeDirLoggingIn("/updates");
        EXPECT_EQ(rc.client.LastReply(), "250 OK");
        EXPECT_EQ(rc.connects, 2);
        const Lines lines = server.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "USER drovanel"), 2);
    }
}

// A close that comes with an error (a reset) reaches the connection events too, so a flag that
// follows them does not stay up.
TEST(ConnectionState, AResetFiresOnDisconnected)
{
    ScriptedFtpServer server;
    testutil::Gate idle;
    server.On("PASS", [&](FtpSession &s, const std::string &) {
        s.Reply("230 Logged in");
        idle.Wait();
        const linger abortive{1, 0};
        ::setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        s.Close();
    });
    ShellLikeClient rc(server.Port());
    rc.client.Login();
    ASSERT_TRUE(rc.flag);
    idle.Open();
    EXPECT_TRUE(testutil::PumpUntil([&] { return !rc.flag; }));
}

}  // namespace
