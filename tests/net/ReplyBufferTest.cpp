// The control connection reads ahead: replies that reach the client together (a server that
// answers the next command before it is sent, a preliminary and a final reply in one segment) are
// each read whole, in order, by the command they belong to, and a reply that is already held is
// never waited for on the network.
#include "FtpTestSupport.h"
#include "common/TempDir.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

using namespace ftptest;

// A handler that answers nothing: the reply it owes came with an earlier one.
void Silent(FtpSession &, const std::string &) {}

TEST(ReplyBuffer, RepliesThatCameWithAnEarlierOneAreReadFromTheBuffer)
{
    struct Case {
        const char *name;
        std::function<void(ScriptedFtpServer &)> script;
        std::function<void(TmsFTPClient &)> run;
        std::string lastReply;
    };
    const Case cases[] = {
        {"the answer to PASS with the answer to USER",
         [](ScriptedFtpServer &server) {
             server.Answer("USER", "331 Password required\r\n230 Logged in\r\n");
             server.On("PASS", Silent);
         },
         [](TmsFTPClient &client) { client.Login(); }, "230 Logged in"},
        {"the answer to SIZE with a multi-line answer to CWD",
         [](ScriptedFtpServer &server) {
             server.Answer("CWD", "250-Changed\r\n250-to the folder\r\n250 OK\r\n213 1234\r\n");
             server.On("SIZE", Silent);
         },
         [](TmsFTPClient &client) {
             client.Login();
             client.ChangeDir("/updates");
             EXPECT_EQ(client.LastReply(), "250 OK");
             EXPECT_EQ(client.GetFileSize("map.mdb"), 1234);
         },
         "213 1234"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        c.script(server);
        RecordingClient rc(server.Port());
        rc.client.SetTimeOut(2);  // a wait on the network for a held reply would end here
        c.run(rc.client);
        EXPECT_EQ(rc.client.LastReply(), c.lastReply);
        // Still in step: the next command reads its own reply.
        rc.client.Logout();
        EXPECT_EQ(rc.client.LastReply(), "221 Goodbye");
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
