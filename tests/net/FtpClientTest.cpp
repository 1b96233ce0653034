// The FTP control session: replies, log-in (direct and through both proxy kinds), log-out, and
// servers that misbehave.
#include "FtpTestSupport.h"
#include "common/Pump.h"

#include <QVariant>
#include <gtest/gtest.h>

namespace {

using namespace ftptest;

TEST(FtpClient, Defaults)
{
    TmsFTPClient client;
    EXPECT_EQ(client.Port(), 21);
    EXPECT_EQ(client.DefaultPort(), 21);
    EXPECT_EQ(client.TimeOut(), 60);
    EXPECT_FALSE(client.PassiveMode());
    EXPECT_FALSE(client.Blocking());
    EXPECT_EQ(client.TransferType(), ttBinary);
    EXPECT_EQ(client.ProxyType(), fpUserNoLogon);
    EXPECT_EQ(client.ServerType(), stAuto);
    EXPECT_EQ(client.ProxyPort(), 0);
    EXPECT_TRUE(client.Proxy().empty());
    EXPECT_TRUE(client.UserName().empty());
    EXPECT_EQ(client.property("Version").toString(), QStringLiteral("2.02"));
    client.SetServerType(stUnix);
    EXPECT_EQ(client.DirList().ServerType, stUnix);
}

TEST(FtpClient, GetReplyCode)
{
    const std::pair<const char *, int> cases[] = {
        {"220 Ready", 220}, {"220-Welcome", 220}, {"999", 999},  {"22", -1},    {"", -1},
        {"abc def", -1},    {" 22 x", -1},        {"2a0 x", -1}, {"-12 x", -1}, {"0001", 0},
    };
    TmsFTPClient client;
    for (const auto &[line, code] : cases)
        EXPECT_EQ(client.GetReplyCode(line), code) << line;
}

struct GreetingCase {
    const char *name;
    std::string greeting;
    std::string error;  // empty: Login succeeds
};

TEST(FtpLogin, GreetingShapes)
{
    const GreetingCase cases[] = {
        {"one line", "220 Ready\r\n", ""},
        {"multi-line", "220-Welcome\r\n220-second line\r\n220 Ready\r\n", ""},
        {"inner lines of any form", "220-Welcome\r\n 220 indented\r\nfree text\r\n221 other\r\n220 Ready\r\n", ""},
        {"lone LF line ends", "220-Welcome\n220 Ready\n", ""},
        // A line with the code and a blank ends the reply early: the rest is a reply that came
        // before USER was sent.
        {"early end", "220-Welcome\r\n220 note\r\n220 Ready\r\n",
         "Out of step with the server: it answered before USER was sent"},
        {"service later", "120 Try in 5 minutes\r\n", "120 Try in 5 minutes"},
        {"other class 2", "230 Hello\r\n", "230 Hello"},
        {"refused", "421 Too many users\r\n", "421 Too many users"},
        {"no code", "Hello there\r\n", "Hello there"},
        {"multi-line refusal ends on its last line", "421-Busy\r\n421 Come back later\r\n", "421 Come back later"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        server.greeting = c.greeting;
        RecordingClient rc(server.Port());
        EXPECT_EQ(Message([&] { rc.client.Login(); }), c.error.empty() ? "(no exception)" : c.error);
    }
}

TEST(FtpLogin, LinesAndEvents)
{
    ScriptedFtpServer server;
    server.greeting = "220-Welcome\r\n220-second line\r\n220 Ready\r\n";
    RecordingClient rc(server.Port());
    Lines sent;
    Lines received;
    Lines events;
    rc.client.OnLineSent = [&](fw::TObject *, const std::string &l) { sent.push_back(l); };
    rc.client.OnLineReceived = [&](fw::TObject *, const std::string &l) { received.push_back(l); };
    rc.client.OnConnecting = [&](fw::TObject *) { events.push_back("connecting"); };
    rc.client.OnConnected = [&](fw::TObject *) { events.push_back("connected"); };
    rc.client.OnDisconnected = [&](fw::TObject *) { events.push_back("disconnected"); };
    rc.client.Login();
    EXPECT_EQ(sent, (Lines{"USER drovanel", "PASS secret"}));
    EXPECT_EQ(received,
              (Lines{"220-Welcome", "220-second line", "220 Ready", "331 Password required", "230 Logged in"}));
    EXPECT_EQ(rc.client.LastReply(), "230 Logged in");
    rc.client.Logout();
    EXPECT_EQ(server.Lines(), (Lines{"USER drovanel", "PASS secret", "QUIT"}));
    EXPECT_EQ(rc.client.SocketHandle(), winsock::INVALID_SOCKET);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(Lines(events.begin(), events.begin() + 2), (Lines{"connecting", "connected"}));
    EXPECT_EQ(std::count(events.begin(), events.end(), "connected"), 1) << "one per connection";
    EXPECT_EQ(events.back(), "disconnected");
}

struct UserCase {
    const char *userReply;
    const char *passReply;
    Lines lines;
    std::string error;
};

TEST(FtpLogin, UserAndPassReplies)
{
    const UserCase cases[] = {
        {"230 Already in", "230 Logged in", {"USER drovanel", "PASS secret"}, ""},
        {"331 Password required", "202 Superfluous", {"USER drovanel", "PASS secret"}, ""},
        {"332 Need account", "230 Logged in", {"USER drovanel", "PASS secret"}, ""},
        {"530 Not allowed", "230 Logged in", {"USER drovanel"}, "530 Not allowed"},
        {"331 Password required", "530 Login incorrect", {"USER drovanel", "PASS secret"}, "530 Login incorrect"},
        {"230 Already in",
         "331 Again?",
         {"USER drovanel", "PASS secret"},
         "Out of step with the server: \"331 Again?\" does not answer PASS"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.userReply + std::string(" / ") + c.passReply);
        ScriptedFtpServer server;
        server.Answer("USER", std::string(c.userReply) + "\r\n");
        server.Answer("PASS", std::string(c.passReply) + "\r\n");
        RecordingClient rc(server.Port());
        EXPECT_EQ(Message([&] { rc.client.Login(); }), c.error.empty() ? "(no exception)" : c.error);
        EXPECT_EQ(server.Lines(), c.lines);
        // A log-in that failed leaves no connection: the next command logs in afresh.
        EXPECT_EQ(rc.client.SocketHandle() != winsock::INVALID_SOCKET, c.error.empty());
        EXPECT_EQ(rc.client.Connected(), c.error.empty());
    }
}

TEST(FtpLogin, EmptyUserNameKeepsTheBlank)
{
    ScriptedFtpServer server;
    RecordingClient rc(server.Port());
    rc.client.SetUserName("");
    rc.client.Login();
    EXPECT_EQ(server.Lines().front(), "USER ");
}

TEST(FtpLogin, ThroughProxies)
{
    struct Case {
        TmsProxyType type;
        Lines lines;
    };
    const Case cases[] = {
        {fpUserNoLogon, {"USER drovanel@ftp.example.org:2121", "PASS secret"}},
        {fpProxyOpen, {"OPEN ftp.example.org:2121", "USER drovanel", "PASS secret"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        ScriptedFtpServer proxy;
        proxy.Answer("OPEN", "220 Connected to the real server\r\n");
        RecordingClient rc(0);
        rc.client.SetProxy("127.0.0.1:" + std::to_string(proxy.Port()));
        rc.client.SetProxyType(c.type);
        rc.client.SetHost("ftp.example.org:2121");  // kept whole under a proxy, never resolved
        rc.client.Login();
        EXPECT_EQ(proxy.Lines(), c.lines);
    }
}

TEST(FtpLogin, ProxyOpenRefused)
{
    ScriptedFtpServer proxy;
    proxy.Answer("OPEN", "530 Host unknown\r\n");
    RecordingClient rc(0);
    rc.client.SetProxy("127.0.0.1:" + std::to_string(proxy.Port()));
    rc.client.SetProxyType(fpProxyOpen);
    rc.client.SetHost("H");
    EXPECT_EQ(Message([&] { rc.client.Login(); }), "530 Host unknown");
    EXPECT_EQ(proxy.Lines(), (Lines{"OPEN H"}));
}

TEST(FtpLogin, LoginAgainClosesTheOldConnection)
{
    ScriptedFtpServer server;
    RecordingClient rc(server.Port());
    rc.client.Login();
    const SOCKET first = rc.client.SocketHandle();
    rc.client.Login();
    EXPECT_NE(rc.client.SocketHandle(), first);
    EXPECT_EQ(GlobalWinsock().closesocket(first), winsock::SOCKET_ERROR) << "already closed";
}

TEST(FtpLogin, ARefusedLoginClosesItsConnection)
{
    ScriptedFtpServer server;
    server.Answer("USER", "530 No\r\n");
    RecordingClient rc(server.Port());
    SOCKET first = winsock::INVALID_SOCKET;
    rc.client.OnConnected = [&](fw::TObject *) { first = rc.client.SocketHandle(); };
    EXPECT_EQ(Message([&] { rc.client.Login(); }), "530 No");
    EXPECT_EQ(rc.client.SocketHandle(), winsock::INVALID_SOCKET);
    EXPECT_EQ(GlobalWinsock().closesocket(first), winsock::SOCKET_ERROR) << "already closed";
}

TEST(FtpSetters, HostAndProxy)
{
    TmsFTPClient client;
    client.SetHost("H:2121");
    EXPECT_EQ(client.Host(), "H");
    EXPECT_EQ(client.Port(), 2121);
    client.SetHost("H:abc");
    EXPECT_EQ(client.Port(), 21);
    client.SetPort(2121);
    client.SetHost("H");
    EXPECT_EQ(client.Port(), 21) << "Host after Port resets the port";

    client.SetProxy("gate:8021");
    EXPECT_EQ(client.Proxy(), "gate");
    EXPECT_EQ(client.ProxyPort(), 8021);
    client.SetProxy("gate:x");
    EXPECT_EQ(client.ProxyPort(), 0);
    client.SetProxy("gate:8021");
    client.SetProxy("gate");
    EXPECT_EQ(client.ProxyPort(), 0);

    client.SetHost("H:2121");
    EXPECT_EQ(client.Host(), "H:2121") << "kept whole under a proxy";
    EXPECT_EQ(client.Port(), 21);
    client.SetProxy("");
    EXPECT_EQ(client.Host(), "H");
    EXPECT_EQ(client.Port(), 2121) << "clearing the proxy splits it";
}

TEST(FtpSetters, PortFromHostIsUsedToConnect)
{
    ScriptedFtpServer server;
    TmsFTPClient client;
    client.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    client.Login();
    EXPECT_EQ(server.Lines().size(), 2u);
    client.Logout();
}

TEST(FtpLogout, Replies)
{
    struct Case {
        const char *reply;
        std::string error;
        bool closed;
    };
    const Case cases[] = {
        {"221 Goodbye", "", true},
        {"500 Syntax error", "500 Syntax error", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        ScriptedFtpServer server;
        server.Answer("QUIT", std::string(c.reply) + "\r\n");
        RecordingClient rc(server.Port());
        rc.client.Login();
        int disconnected = 0;
        rc.client.OnDisconnected = [&](fw::TObject *) { ++disconnected; };
        EXPECT_EQ(Message([&] { rc.client.Logout(); }), c.error.empty() ? "(no exception)" : c.error);
        EXPECT_EQ(rc.client.SocketHandle() == winsock::INVALID_SOCKET, c.closed);
        EXPECT_EQ(disconnected > 0, c.closed);
    }
}

TEST(FtpMisbehaving, ServersThatBreakTheProtocol)
{
    struct Case {
        const char *name;
        std::string greeting;
        bool closeAfterGreeting;
        std::string error;
    };
    const Case cases[] = {
        {"reply line of 100 KiB", "220 " + std::string(100 * 1024, 'x') + "\r\n", false, "Line too long"},
        {"zero byte in a reply", std::string("220 Wel\0come\r\n", 14), false, "Line holds a zero byte"},
        {"close in a multi-line reply", "220-Welcome\r\n220-more\r\n", true, "Connection closed by the server"},
        {"close inside the last line", "220 Rea", true, "Connection closed by the server"},
        {"close before any reply", "", true, "Connection closed by the server"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        server.greeting = c.greeting;
        server.closeAfterGreeting = c.closeAfterGreeting;
        RecordingClient rc(server.Port());
        rc.client.SetTimeOut(5);
        EXPECT_EQ(Message([&] { rc.client.Login(); }), c.error);
    }
}

TEST(FtpMisbehaving, PeerThatStopsSending)
{
    ScriptedFtpServer server;
    server.greeting = "220-Hello\r\n220-and then";
    RecordingClient rc(server.Port());
    rc.client.SetTimeOut(1);
    EXPECT_EQ(Message([&] { rc.client.Login(); }), "Operation timed out");
}

}  // namespace
