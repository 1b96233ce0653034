// The FTP client's time bounds that trickling bytes do not lift: each control step (the log-in,
// each command's reply) ends within the client's time-out from its start, however slowly the
// server sends; a data transfer that moves less than the minimum rate over a window fails as
// stalled. Neither is a speed test: without the bounds these servers hold the client until their
// script ends, and the outcome would be a success.
#include "FtpTestSupport.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

using namespace ftptest;
using namespace std::chrono_literals;

// Sends `bytes` one piece at a time, a gap between pieces, until they are sent, the client is gone
// or the server stops. Returns how many bytes went out.
std::size_t Trickle(FtpSession &s, int fd, const std::string &bytes, std::size_t piece, std::chrono::milliseconds gap)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (s.server.release.WaitFor(gap))
            break;
        const std::string part = bytes.substr(sent, piece);
        if (!testutil::SendAll(fd, part))
            break;
        sent += part.size();
    }
    return sent;
}

std::string Lines20(const std::string &line)
{
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += line;
    return text;
}

TEST(ControlTimeBound, EachStepEndsWithinTheTimeOutHoweverTheBytesTrickle)
{
    struct Case {
        const char *name;
        std::function<void(ScriptedFtpServer &)> script;
    };
    // Each script would take some 10 s to its end, every gap far shorter than the time-out.
    const auto greeting = [](const std::string &bytes, std::size_t piece, std::chrono::milliseconds gap) {
        return [=](ScriptedFtpServer &server) {
            server.greet = [bytes, piece, gap](FtpSession &s) { Trickle(s, s.fd, bytes, piece, gap); };
        };
    };
    const auto reply = [](const std::string &verb, const std::string &bytes, std::size_t piece,
                          std::chrono::milliseconds gap) {
        return [=](ScriptedFtpServer &server) {
            server.On(verb,
                      [bytes, piece, gap](FtpSession &s, const std::string &) { Trickle(s, s.fd, bytes, piece, gap); });
        };
    };
    const std::string slowLine = "220 " + std::string(46, '.') + "\r\n";
    const Case cases[] = {
        {"a greeting one byte at a time", greeting(slowLine, 1, 200ms)},
        {"a \"220-\" line at a time", greeting(Lines20("220-Wait\r\n") + "220 Ready\r\n", 10, 500ms)},
        {"the answer to USER one byte at a time", reply("USER", "331 " + std::string(46, '.') + "\r\n", 1, 200ms)},
        {"the answer to CWD a \"250-\" line at a time",
         reply("CWD", Lines20("250-Changing\r\n") + "250 OK\r\n", 14, 500ms)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        c.script(server);
        RecordingClient rc(server.Port());
        rc.client.SetTimeOut(2);
        EXPECT_EQ(Message([&] {
                      rc.client.Login();
                      rc.client.ChangeDir("/updates");
                  }),
                  "Operation timed out");
        EXPECT_FALSE(rc.client.Connected());
        EXPECT_EQ(rc.client.SocketHandle(), winsock::INVALID_SOCKET);
        // The server notices the client gone at its next piece.
        server.release.Open();
    }
}

class StalledTransfer : public ::testing::TestWithParam<bool> {};

TEST_P(StalledTransfer, FailsBelowTheMinimumRateAndStaysInStep)
{
    struct Case {
        const char *name;
        std::size_t piece;
        std::chrono::milliseconds gap;
        std::size_t pieces;
        std::string error;
    };
    // The rule asks for 1 KiB a second over a window of one second.
    const Case cases[] = {
        {"100 bytes every 200 ms", 100, 200ms, 100, "Transfer stalled: less than 1024 bytes a second over 1 seconds"},
        {"4 KiB every 200 ms", 4096, 200ms, 12, "(no exception)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string map = Pattern(c.piece * c.pieces);
        ScriptedFtpServer server;
        server.File("map.mdb", map);
        server.On("RETR", [&](FtpSession &s, const std::string &) {
            s.Reply("150 Opening BINARY mode data connection");
            const int data = s.OpenData();
            const bool whole = data >= 0 && Trickle(s, data, map, c.piece, c.gap) == map.size();
            s.CloseData();
            s.Reply(whole ? "226 Transfer complete" : "426 Connection closed; transfer aborted");
        });
        RecordingClient rc(server.Port(), GetParam());
        rc.client.SetTimeOut(5);
        rc.client.SetStallRule(1024, 1s);
        rc.client.Login();
        fw::TMemoryStream stream;
        EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", stream); }), c.error);
        EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
        // The server's answer to the aborted transfer was read with it: the next command reads
        // its own.
        EXPECT_TRUE(rc.client.Connected());
        EXPECT_EQ(rc.client.GetFileSize("map.mdb"), static_cast<std::int32_t>(map.size()));
        server.release.Open();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, StalledTransfer, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });

}  // namespace
