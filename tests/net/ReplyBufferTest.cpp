// The control connection reads ahead: replies that reach the client together (a preliminary and a
// final reply in one segment, a refusal with its preliminary reply) are each read whole, in order,
// and a reply that is already held is never waited for on the network. A reply held when the next
// command is about to go out came before that command was sent: the session is out of step.
#include "FtpTestSupport.h"
#include "common/TempDir.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

using namespace ftptest;

// A handler that answers nothing: the reply it owes came with an earlier one.
void Silent(FtpSession &, const std::string &) {}

TEST(ReplyBuffer, AReplyHeldBeforeItsCommandWasSentPutsTheSessionOutOfStep)
{
    struct Case {
        const char *name;
        std::function<void(ScriptedFtpServer &)> script;
        std::function<void(TmsFTPClient &)> run;
        std::string error;
        std::string unsent;  // the command that found a reply waiting
    };
    const Case cases[] = {
        {"the answer to PASS with the answer to USER",
         [](ScriptedFtpServer &server) {
             server.Answer("USER", "331 Password required\r\n230 Logged in\r\n");
             server.On("PASS", Silent);
         },
         [](TmsFTPClient &client) { client.Login(); }, "Out of step with the server: it answered before PASS was sent",
         "PASS secret"},
        {"the answer to SIZE with a multi-line answer to CWD",
         [](ScriptedFtpServer &server) {
             server.Answer("CWD", "250-Changed\r\n250-to the folder\r\n250 OK\r\n213 1234\r\n");
             server.On("SIZE", Silent);
         },
         [](TmsFTPClient &client) {
             client.Login();
             client.ChangeDir("/updates");
             EXPECT_EQ(client.LastReply(), "250 OK");
             client.GetFileSize("map.mdb");
         },
         "Out of step with the server: it answered before SIZE was sent", "SIZE map.mdb"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        c.script(server);
        RecordingClient rc(server.Port());
        rc.client.SetTimeOut(2);
        EXPECT_EQ(Message([&] { c.run(rc.client); }), c.error);
        EXPECT_FALSE(rc.client.Connected());
        EXPECT_EQ(rc.client.SocketHandle(), winsock::INVALID_SOCKET);
        const Lines lines = server.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), c.unsent), 0) << "not sent";
    }
}

class ReplyBufferTransfer : public ::testing::TestWithParam<bool> {};

TEST_P(ReplyBufferTransfer, PreliminaryAndCompletionInOneSegment)
{
    const std::string map(100000, 'm');
    ScriptedFtpServer server;
    server.On("RETR", [&](FtpSession &s, const std::string &) {
        s.Send("150 Opening BINARY mode data connection\r\n226 Transfer complete\r\n");
        s.SendData(map);
    });
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), GetParam());
    rc.client.SetTimeOut(2);
    rc.client.Login();
    rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
    EXPECT_EQ(rc.client.LastReply(), "226 Transfer complete");
    EXPECT_EQ(testutil::ReadFile(dir.file("temp.mdb")), map);
    rc.client.Logout();
    EXPECT_EQ(rc.client.LastReply(), "221 Goodbye");
}

INSTANTIATE_TEST_SUITE_P(Modes, ReplyBufferTransfer, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });

TEST(ReplyBuffer, RefusalHeldWhileTheDataConnectionIsAwaitedEndsTheWait)
{
    // The server cannot connect back and says so in the same segment as its preliminary reply:
    // the wait for the data connection sees the held refusal instead of waiting out its time.
    ScriptedFtpServer server;
    server.Answer("RETR", "150 Opening BINARY mode data connection\r\n425 Can't open data connection\r\n");
    testutil::TempDir dir;
    RecordingClient rc(server.Port());
    rc.client.SetTimeOut(5);
    rc.client.Login();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb")); }),
              "425 Can't open data connection");
    EXPECT_LT(clock.elapsed(), 4000) << "not the time-out";
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
}

}  // namespace
