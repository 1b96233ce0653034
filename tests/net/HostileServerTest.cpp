// The FTP client against hostile or broken servers: a passive reply that points elsewhere, strangers
// on the active listener, a destination that cannot be written, a refusal instead of a data
// connection, numbers that overflow, endless listings and replies, a reply cut off by the close,
// more bytes than announced.
#include "FtpTestSupport.h"
#include "common/TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using namespace ftptest;

// A listening socket on a loopback address of our choice (all of 127.0.0.0/8 is this machine).
int ListenOn(const char *address, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A connection to the client's PORT address, made from the loopback address `from`.
int ConnectFrom(const char *from, const FtpSession &s)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(s.portPort);
    ::inet_pton(AF_INET, s.portHost.c_str(), &to.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int OpenDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System).size());
}

TEST(HostileServer, PassiveConnectsToTheControlPeerWhateverAddressThePasvReplyNames)
{
    ScriptedFtpServer server;
    server.File("map.mdb", Pattern(50000));
    int trap = -1;
    server.On("PASV", [&trap](FtpSession &s, const std::string &) {
        s.pasvFd = testutil::ListenLoopback();
        s.passive = true;
        const std::uint16_t p = testutil::LocalPort(s.pasvFd);
        // The same port on another address: a client that follows the reply lands here.
        trap = ListenOn("127.0.0.2", p);
        s.Reply("227 Entering Passive Mode (127,0,0,2," + std::to_string(p >> 8) + "," + std::to_string(p & 0xFF) +
                ").");
    });
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), true);
    rc.client.Login();
    EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb")); }), "(no exception)");
    EXPECT_EQ(testutil::ReadFile(dir.file("temp.mdb")), Pattern(50000));
    ASSERT_GE(trap, 0);
    pollfd p{trap, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "a connection went to the address of the reply";
    ::close(trap);
}

TEST(HostileServer, ActiveTakesOnlyTheFirstConnectionAndLeaksNoDescriptor)
{
    ScriptedFtpServer server;
    const std::string data = Pattern(40000);
    server.On("RETR", [&data](FtpSession &s, const std::string &) {
        s.Reply("150 Opening BINARY mode data connection");
        const int first = s.OpenData();
        // A second peer connects and writes at once, before the first one's data.
        const int second = ConnectFrom("127.0.0.1", s);
        if (second >= 0)
            testutil::SendAll(second, "SPLICED");
        const bool ok = first >= 0 && testutil::SendAll(first, data);
        s.CloseData();
        if (second >= 0)
            ::close(second);
        s.Reply(ok ? "226 Transfer complete" : "425 Can't open data connection");
    });
    testutil::TempDir dir;
    RecordingClient rc(server.Port());
    rc.client.Login();
    rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));  // the event loop's own descriptors settle
    const int before = OpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
        ASSERT_EQ(testutil::ReadFile(dir.file("temp.mdb")), data);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(HostileServer, ActiveClosesAPeerFromAnotherAddressAndWaitsForTheServer)
{
    ScriptedFtpServer server;
    const std::string data = Pattern(30000);
    bool strangerClosed = false;
    server.On("RETR", [&](FtpSession &s, const std::string &) {
        s.Reply("150 Opening BINARY mode data connection");
        const int stranger = ConnectFrom("127.0.0.2", s);
        if (stranger >= 0) {
            testutil::SendAll(stranger, "STRANGER");
            // The client closes it at once; a client that takes it leaves it open.
            pollfd p{stranger, POLLIN, 0};
            char byte = 0;
            strangerClosed = ::poll(&p, 1, 5000) == 1 && ::recv(stranger, &byte, 1, 0) <= 0;
            ::close(stranger);
        }
        s.Reply(s.SendData(data) ? "226 Transfer complete" : "425 Can't open data connection");
    });
    testutil::TempDir dir;
    RecordingClient rc(server.Port());
    rc.client.Login();
    rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
    EXPECT_TRUE(strangerClosed);
    EXPECT_EQ(testutil::ReadFile(dir.file("temp.mdb")), data);
}

class FullDestination : public ::testing::TestWithParam<bool> {};

TEST_P(FullDestination, RaisesTheSystemsErrorAfterTheEndEventAndStaysInStep)
{
    ScriptedFtpServer server;
    server.File("map.mdb", Pattern(200000));
    RecordingClient rc(server.Port(), GetParam());
    rc.client.Login();
    Lines eventsAtRaise;
    try {
        rc.client.RetrieveFile("map.mdb", "/dev/full");
        ADD_FAILURE() << "a retrieval into a full device passed as complete";
    } catch (const fw::EInOutError &e) {
        EXPECT_EQ(e.Message(), std::strerror(ENOSPC));
        eventsAtRaise = rc.events;
    }
    EXPECT_EQ(eventsAtRaise, (Lines{"start", "terminate"}));
    // The server's answer to the broken transfer was read with it: CWD reads its own reply.
    EXPECT_EQ(Message([&] { rc.client.ChangeDir("/next"); }), "(no exception)");
    EXPECT_EQ(rc.client.LastReply(), "250 OK");
}

INSTANTIATE_TEST_SUITE_P(Modes, FullDestination, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });

TEST(HostileServer, ActiveRefusalInsteadOfAConnectionEndsTheWaitAtOnce)
{
    ScriptedFtpServer server;
    server.On("RETR", [](FtpSession &s, const std::string &) {
        s.Reply("150 Opening BINARY mode data connection");
        s.Reply("425 Can't open data connection");
    });
    testutil::TempDir dir;
    RecordingClient rc(server.Port());
    rc.client.SetTimeOut(30);
    rc.client.Login();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb")); }),
              "425 Can't open data connection");
    EXPECT_LT(clock.elapsed(), 10000) << "the client waited for its time-out";
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
    EXPECT_EQ(Message([&] { rc.client.ChangeDir("/next"); }), "(no exception)");
    EXPECT_EQ(rc.client.LastReply(), "250 OK");
}

TEST(HostileServer, CompletionBeforeTheAcceptIsKeptForTheCaller)
{
    // An empty file: the server connects, closes and answers 226 at once; the client may see
    // the answer before it has accepted the connection.
    ScriptedFtpServer server;
    server.File("empty.mdb", "");
    testutil::TempDir dir;
    RecordingClient rc(server.Port());
    rc.client.Login();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Message([&] { rc.client.RetrieveFile("empty.mdb", dir.file("temp.mdb")); }), "(no exception)");
        EXPECT_EQ(rc.client.LastReply(), "226 Transfer complete");
    }
    EXPECT_EQ(Message([&] { rc.client.ChangeDir("/next"); }), "(no exception)");
    EXPECT_EQ(rc.client.LastReply(), "250 OK");
}

TEST(HostileServer, PasvNumbersPastAByteAreAParameterError)
{
    ScriptedFtpServer server;
    server.Answer("PASV", "227 Entering Passive Mode (127,0,0,1,8388608,1).\r\n");
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), true);
    rc.client.Login();
    EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb")); }),
              "Problems getting the parameters");
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
}

TEST(HostileServer, EndlessListingEndsWithAClearErrorAtTheCap)
{
    ScriptedFtpServer server;
    std::atomic<long long> sent{0};
    server.On("NLST", [&sent](FtpSession &s, const std::string &) {
        s.Reply("150 Here comes the listing");
        const int fd = s.OpenData();
        std::string block;
        for (int i = 0; i < 4096; ++i)
            block += "name" + std::to_string(i) + "\r\n";
        bool ok = fd >= 0;
        while (ok && sent < 64LL * 1024 * 1024) {  // a bound for a client that never stops
            ok = testutil::SendAll(fd, block);
            sent += ok ? static_cast<long long>(block.size()) : 0;
        }
        s.CloseData();
        s.Reply(ok ? "226 Directory send OK" : "426 Connection closed; transfer aborted");
    });
    RecordingClient rc(server.Port());
    rc.client.Login();
    fw::TStringList list;
    list.Add("old");
    EXPECT_EQ(Message([&] { rc.client.NameList(list); }), "The name list is larger than 16777216 bytes");
    EXPECT_LT(sent.load(), 32LL * 1024 * 1024) << "the client read on past the cap";
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
    EXPECT_EQ(Message([&] { rc.client.ChangeDir("/next"); }), "(no exception)");
    EXPECT_EQ(rc.client.LastReply(), "250 OK");
}

TEST(HostileServer, ListingOfTooManyNames)
{
    struct Case {
        size_t names;
        std::string error;
    };
    const Case cases[] = {{kMaxListingNames, "(no exception)"},
                          {kMaxListingNames + 1, "The name list holds more than 100000 names"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.names);
        ScriptedFtpServer server;
        server.listing.reserve(c.names * 2);
        for (size_t i = 0; i < c.names; ++i)
            server.listing += "a\n";
        RecordingClient rc(server.Port());
        rc.client.Login();
        fw::TStringList list;
        list.Add("old");
        EXPECT_EQ(Message([&] { rc.client.NameList(list); }), c.error);
        EXPECT_EQ(static_cast<size_t>(list.Count()), c.error == "(no exception)" ? c.names : 1u);
    }
}

TEST(HostileServer, EndlessMultiLineReplyEndsWithAnError)
{
    ScriptedFtpServer server;
    server.On("CWD", [](FtpSession &s, const std::string &) {
        std::string lines;
        for (int i = 0; i < kMaxReplyLines + 500; ++i)
            lines += "250-more\r\n";
        s.Send(lines);
    });
    RecordingClient rc(server.Port());
    rc.client.Login();
    EXPECT_EQ(Message([&] { rc.client.ChangeDir("/x"); }), "Reply too long");
}

TEST(HostileServer, RepliesCutOffByTheClose)
{
    struct Case {
        const char *name;
        std::string quitReply;  // sent, then the server closes
        std::string error;
    };
    const Case cases[] = {
        {"final line without its line end", "221 Goodbye", "(no exception)"},
        {"code alone without its line end", "221", "(no exception)"},
        {"multi-line reply whose last line lacks its end", "221-Bye\r\n221 Goodbye", "(no exception)"},
        {"close inside the code", "22", "Connection closed by the server"},
        {"close after a first line of several", "221-Goodbye", "Connection closed by the server"},
        {"close before the last line of several", "221-Bye\r\nmore\r\n", "Connection closed by the server"},
        {"close before any reply", "", "Connection closed by the server"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        server.On("QUIT", [&c](FtpSession &s, const std::string &) {
            s.Send(c.quitReply);
            s.Close();
        });
        RecordingClient rc(server.Port());
        int disconnected = 0;
        rc.client.OnDisconnected = [&](fw::TObject *) { ++disconnected; };
        rc.client.Login();
        EXPECT_EQ(Message([&] { rc.client.Logout(); }), c.error);
        if (c.error == "(no exception)") {
            EXPECT_EQ(rc.client.SocketHandle(), winsock::INVALID_SOCKET);
            EXPECT_GE(disconnected, 1);
        }
    }
}

TEST(AnnouncedSize, Cases)
{
    const std::pair<const char *, std::int64_t> cases[] = {
        {"150 Opening BINARY mode data connection for map.mdb (12345 bytes).", 12345},
        {"150 Opening for map.mdb (0 BYTES)", 0},
        {"150 Opening BINARY mode data connection", -1},
        {"150 Opening for (x) (12345)", -1},
        {"150 Opening for map.mdb (abc bytes)", -1},
        {"150 Opening for map.mdb (-5 bytes)", -1},
        {"150 Opening for map.mdb ( 5 bytes)", -1},
        {"150 Opening for map.mdb (99999999999999999999 bytes)", -1},
        {"150 Opening for a (1 bytes) (2 bytes)", 2},
        {"150 (", -1},
    };
    for (const auto &[reply, size] : cases)
        EXPECT_EQ(AnnouncedSize(reply), size) << reply;
}

TEST(HostileServer, RetrievalPastTheAnnouncedSizeOrTheCap)
{
    const std::string more1000 = "The server sent more than the 1000 bytes it announced";
    const std::string ok = "(no exception)";
    struct Case {
        const char *name;
        std::string preliminary;  // the RETR's 150 reply
        std::int64_t announced;   // the size the caller asked before and gives with the call
        std::int64_t cap;
        size_t sent;
        size_t maxKept;  // what the local file may hold afterwards
        std::string error;
        std::string unlimited;  // the same retrieval again, without the call's limits
    };
    const Case cases[] = {
        {"more than the preliminary reply announced",
         "150 Opening BINARY mode data connection for map.mdb (1000 bytes)", -1, kMaxFileBytes, 5000, 1000, more1000,
         more1000},
        {"more than SIZE said", "150 Opening", 1000, kMaxFileBytes, 5000, 1000, more1000, ok},
        {"SIZE smaller than the preliminary reply says", "150 Opening for map.mdb (5000 Bytes).", 1000, kMaxFileBytes,
         5000, 1000, more1000, ok},
        {"exactly as announced", "150 Opening for map.mdb (5000 bytes)", -1, kMaxFileBytes, 5000, 5000, ok, ok},
        {"exactly as SIZE said", "150 Opening", 5000, kMaxFileBytes, 5000, 5000, ok, ok},
        {"short of what SIZE said", "150 Opening", 8000, kMaxFileBytes, 5000, 5000,
         "The transfer ended after 5000 of the 8000 bytes announced", ok},
        {"short of the preliminary reply", "150 Opening for map.mdb (6000 bytes)", -1, kMaxFileBytes, 5000, 5000,
         "The transfer ended after 5000 of the 6000 bytes announced",
         "The transfer ended after 5000 of the 6000 bytes announced"},
        {"past the cap", "150 Opening", -1, 4096, 5000, 4096, "The file is larger than 4096 bytes", ok},
        {"up to the cap", "150 Opening", -1, 5000, 5000, 5000, ok, ok},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        const std::string data = Pattern(c.sent);
        server.On("RETR", [&](FtpSession &s, const std::string &) {
            s.Reply(c.preliminary);
            s.Reply(s.SendData(data) ? "226 Transfer complete" : "426 Transfer aborted");
        });
        testutil::TempDir dir;
        RecordingClient rc(server.Port());
        rc.client.Login();
        EXPECT_EQ(Message([&] {
                      rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"),
                                             {.MaxBytes = c.cap, .AnnouncedBytes = c.announced});
                  }),
                  c.error);
        const std::string kept = testutil::ReadFile(dir.file("temp.mdb"));
        if (c.error == ok) {
            EXPECT_EQ(kept, data);
        }
        EXPECT_LE(kept.size(), c.maxKept);
        EXPECT_EQ(Message([&] { rc.client.ChangeDir("/next"); }), ok);
        // Nothing of this call's limits stays on the client.
        EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", dir.file("again.mdb")); }), c.unlimited);
    }
}

}  // namespace
