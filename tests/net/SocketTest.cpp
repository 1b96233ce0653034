// The socket core and the client socket on real loopback connections.
#include "common/CpuTime.h"
#include "common/ExceptionText.h"
#include "common/LoopbackPeer.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "net/Mssocket.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using namespace net;
using testutil::LoopbackPeer;

using testutil::Message;

// A client socket connected to the peer; disconnected at the end.
struct Connected {
    explicit Connected(std::uint16_t port, bool blocking = false)
    {
        client.SetHost("127.0.0.1");
        client.SetPort(port);
        client.SetBlocking(blocking);
        client.Connect();
    }
    ~Connected() { client.Disconnect(); }
    TmsClientSocket client;
};

// ---- ReadLine ----

struct LineCase {
    const char *name;
    std::string sent;
    std::vector<std::string> lines;  // what successive ReadLine calls return
    bool peerClosedAfter;
};

TEST(ReadLine, LineShapes)
{
    const LineCase cases[] = {
        {"CR LF", "abc\r\n", {"abc"}, false},
        {"lone LF", "abc\n", {"abc"}, false},
        {"only the first CR goes", "ab\rc\r\n", {"abc\r"}, false},
        {"two lines in one packet", "one\r\ntwo\r\n", {"one", "two"}, false},
        {"empty line", "\r\n", {""}, false},
        {"close before any byte", "", {""}, true},
        {"close after part of a line", "par", {"par"}, true},
        {"longest line that fits", std::string(2046, 'x') + "\n", {std::string(2046, 'x')}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPeer peer([&](int fd) { testutil::SendAll(fd, c.sent); });
        Connected conn(peer.port());
        std::vector<std::string> received;
        conn.client.OnLineReceived = [&](fw::TObject *sender, const std::string &line) {
            EXPECT_EQ(sender, &conn.client);
            received.push_back(line);
        };
        for (const auto &expected : c.lines)
            EXPECT_EQ(conn.client.ReadLine(), expected);
        EXPECT_EQ(received, c.lines);
        if (c.peerClosedAfter) {
            EXPECT_TRUE(conn.client.PeerClosed());
            EXPECT_FALSE(conn.client.LastLineComplete());
        } else {
            EXPECT_TRUE(conn.client.LastLineComplete());
        }
    }
}

TEST(ReadLine, TakesNothingAfterTheLine)
{
    LoopbackPeer peer([](int fd) { testutil::SendAll(fd, "first\r\nREST-OF-DATA"); });
    Connected conn(peer.port());
    EXPECT_EQ(conn.client.ReadLine(), "first");
    fw::TMemoryStream rest;
    conn.client.ReceiveToStream(rest, 0, 0);
    EXPECT_EQ(rest.ToString(), "REST-OF-DATA");
}

struct BadLineCase {
    const char *name;
    std::string sent;
    const char *error;
    const char *nextLine;  // the protocol stays in step: the following line is read whole
};

TEST(ReadLine, UnusableLinesAreRefusedAndConsumed)
{
    const BadLineCase cases[] = {
        {"one byte too long", std::string(2047, 'x') + "\r\n", "Line too long", "next"},
        {"far too long", std::string(60000, 'y') + "\n", "Line too long", "next"},
        {"zero byte", std::string("ab\0cd\r\n", 7), "Line holds a zero byte", "next"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPeer peer([&](int fd) { testutil::SendAll(fd, c.sent + "next\r\n"); });
        Connected conn(peer.port());
        bool fired = false;
        conn.client.OnLineReceived = [&](fw::TObject *, const std::string &) { fired = true; };
        EXPECT_EQ(Message([&] { conn.client.ReadLine(); }), c.error);
        EXPECT_FALSE(fired);
        EXPECT_EQ(conn.client.ReadLine(), c.nextLine);
    }
}

TEST(ReadLine, EndlessLineStopsAtTheBound)
{
    // A hostile peer sends without an LF for as long as it is read: reading stops at the bound.
    LoopbackPeer peer([&](int fd) {
        const std::string chunk(4096, 'z');
        while (testutil::SendAll(fd, chunk)) {
        }
    });
    Connected conn(peer.port());
    EXPECT_EQ(Message([&] { conn.client.ReadLine(); }), "Line too long");
}

// ---- SendLine, SendBuffer, SendStream ----

TEST(SendLine, SendsTextAndCrLfThenFires)
{
    std::string got;
    auto peer = std::make_unique<LoopbackPeer>([&](int fd) { got = testutil::ReceiveAll(fd); });
    {
        Connected conn(peer->port());
        std::vector<std::string> sent;
        conn.client.OnLineSent = [&](fw::TObject *, const std::string &line) { sent.push_back(line); };
        conn.client.SendLine("NOOP");
        EXPECT_EQ(sent, std::vector<std::string>{"NOOP"});
    }
    peer.reset();
    EXPECT_EQ(got, "NOOP\r\n");
}

TEST(SendStream, SendsFromTheOffsetWithProgress)
{
    std::string got;
    std::string data(70000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    auto peer = std::make_unique<LoopbackPeer>([&](int fd) { got = testutil::ReceiveAll(fd); });
    std::vector<std::tuple<int, int, int>> progress;
    {
        Connected conn(peer->port());
        conn.client.OnTransferProgress = [&](fw::TObject *, int perc, int bytes, int lines) {
            progress.emplace_back(perc, bytes, lines);
        };
        fw::TMemoryStream stream;
        stream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
        conn.client.SendStream(stream, 1000);
    }
    peer.reset();
    EXPECT_EQ(got, data.substr(1000));
    // 69000 bytes: two full blocks and one of 3464 bytes.
    const std::vector<std::tuple<int, int, int>> expected{{48, 33768, -1}, {95, 66536, -1}, {100, 70000, -1}};
    EXPECT_EQ(progress, expected);
}

TEST(SendStream, EmptyStreamSendsNothingAndReportsAll)
{
    auto peer = std::make_unique<LoopbackPeer>([](int fd) { testutil::ReceiveAll(fd); });
    Connected conn(peer->port());
    std::vector<int> percs;
    conn.client.OnTransferProgress = [&](fw::TObject *, int perc, int, int) { percs.push_back(perc); };
    fw::TMemoryStream empty;
    conn.client.SendStream(empty, 0);
    EXPECT_EQ(percs, std::vector<int>{100});
}

// ---- ReceiveToStream ----

TEST(ReceiveToStream, UntilThePeerCloses)
{
    const std::string data(100000, 'd');
    LoopbackPeer peer([&](int fd) { testutil::SendAll(fd, data); });
    Connected conn(peer.port());
    std::vector<int> bytes;
    conn.client.OnTransferProgress = [&](fw::TObject *, int perc, int byteCount, int lines) {
        EXPECT_EQ(perc, -1);
        EXPECT_EQ(lines, -1);
        bytes.push_back(byteCount);
    };
    fw::TMemoryStream stream;
    conn.client.ReceiveToStream(stream, 0, 0);
    EXPECT_EQ(stream.ToString(), data);
    EXPECT_TRUE(conn.client.PeerClosed());
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), 100000);
    for (size_t i = 1; i < bytes.size(); ++i) {
        EXPECT_GT(bytes[i], bytes[i - 1]);
        EXPECT_LE(bytes[i] - bytes[i - 1], kTransferBlockSize);
    }
}

TEST(ReceiveToStream, CountStopsExactlyAndLeavesTheRest)
{
    std::string data(8000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + i % 26);
    LoopbackPeer peer([&](int fd) {
        testutil::SendAll(fd, data);
        peer.release.Wait();
    });
    Connected conn(peer.port());
    // Wait until everything is there, so the count alone stops the receive.
    ASSERT_TRUE(testutil::PumpUntil([&] {
        winsock::u_long n = 0;
        GlobalWinsock().ioctlsocket(conn.client.SocketHandle(), winsock::WS_FIONREAD, &n);
        return n == data.size();
    }));
    std::vector<std::pair<int, int>> progress;
    conn.client.OnTransferProgress = [&](fw::TObject *, int perc, int byteCount, int) {
        progress.emplace_back(perc, byteCount);
    };
    fw::TMemoryStream stream;
    conn.client.ReceiveToStream(stream, 5000, 0);
    EXPECT_EQ(stream.ToString(), data.substr(0, 5000));
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{100, 5000}}));
    EXPECT_FALSE(conn.client.PeerClosed());
    char rest[4000];
    EXPECT_EQ(conn.client.Receive(rest, sizeof rest), 3000);
    EXPECT_EQ(std::string(rest, 3000), data.substr(5000));
}

TEST(ReceiveToStream, OffsetCountsFromTheStreamStart)
{
    LoopbackPeer peer([](int fd) { testutil::SendAll(fd, std::string(500, 'n')); });
    Connected conn(peer.port());
    testutil::TempDir dir;
    fw::TFileStream file(dir.file("resume.bin"), fw::FileMode::Create);
    file.WriteBuffer(std::string(1000, 'o').data(), 1000);
    std::vector<std::pair<int, int>> progress;
    conn.client.OnTransferProgress = [&](fw::TObject *, int perc, int byteCount, int) {
        progress.emplace_back(perc, byteCount);
    };
    conn.client.ReceiveToStream(file, 500, 1000);
    EXPECT_EQ(file.Size(), 1500);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), (std::pair<int, int>{300, 1500})) << "position includes the offset";
    EXPECT_EQ(testutil::ReadFile(dir.file("resume.bin")), std::string(1000, 'o') + std::string(500, 'n'));
}

TEST(ReceiveToStream, PeerClosingEarlyIsNoError)
{
    LoopbackPeer peer([](int fd) { testutil::SendAll(fd, "short"); });
    Connected conn(peer.port());
    fw::TMemoryStream stream;
    conn.client.ReceiveToStream(stream, 5000, 0);
    EXPECT_EQ(stream.ToString(), "short");
    EXPECT_TRUE(conn.client.PeerClosed());
}

TEST(PercentOf, RoundsHalvesToEven)
{
    EXPECT_EQ(PercentOf(1, 8), 12);  // 12.5
    EXPECT_EQ(PercentOf(3, 8), 38);  // 37.5
    EXPECT_EQ(PercentOf(1, 3), 33);
    EXPECT_EQ(PercentOf(2, 3), 67);
    EXPECT_EQ(PercentOf(1500, 500), 300);
    EXPECT_EQ(PercentOf(std::int64_t{1} << 62, std::int64_t{1} << 62), 100) << "no overflow";
}

// ---- Time-out and cancel ----

TEST(TimeOut, SilentPeerTimesOutAndCostsNoCpu)
{
    LoopbackPeer peer([&](int) { peer.release.Wait(); });
    Connected conn(peer.port());
    conn.client.SetTimeOut(2);
    QElapsedTimer clock;
    clock.start();
    const auto cpu0 = testutil::ProcessCpuTime();
    EXPECT_EQ(Message([&] { conn.client.ReadLine(); }), "Operation timed out");
    const auto cpu = testutil::ProcessCpuTime() - cpu0;
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_LT(cpu.count(), 200'000) << "the wait sleeps";
    // The counter stays expired: an operation whose first pass makes no progress ends at once.
    clock.restart();
    EXPECT_EQ(Message([&] { conn.client.ReadLine(); }), "Operation timed out");
    EXPECT_LT(clock.elapsed(), 500);
}

TEST(TimeOut, TricklingPeerNeverTimesOut)
{
    // A byte every half period: the idle time restarts at each byte.
    LoopbackPeer peer([](int fd) {
        for (const char c : std::string("abcde\n")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            testutil::SendAll(fd, std::string(1, c));
        }
    });
    Connected conn(peer.port());
    conn.client.SetTimeOut(2);
    EXPECT_EQ(conn.client.ReadLine(), "abcde");
}

TEST(Cancel, FromATimerDuringAWait)
{
    LoopbackPeer peer([&](int) { peer.release.Wait(); });
    Connected conn(peer.port());
    QTimer::singleShot(200, [&] { conn.client.CancelRequested = true; });
    EXPECT_EQ(Message([&] { conn.client.ReadLine(); }), "Operation has been canceled");
    EXPECT_NE(conn.client.SocketHandle(), winsock::INVALID_SOCKET) << "the handle stays open";
}

TEST(Cancel, FromAProgressHandler)
{
    LoopbackPeer peer([](int fd) { testutil::SendAll(fd, std::string(200000, 'c')); });
    Connected conn(peer.port());
    int events = 0;
    conn.client.OnTransferProgress = [&](fw::TObject *, int, int, int) {
        ++events;
        conn.client.CancelRequested = true;
    };
    fw::TMemoryStream stream;
    EXPECT_EQ(Message([&] { conn.client.ReceiveToStream(stream, 0, 0); }), "Operation has been canceled");
    EXPECT_EQ(events, 1);
}

// A stream that takes a while over every write, as a slow disk does, so that blocks keep waiting
// in the socket and a receive never has to wait for the next one.
class SlowSink final : public fw::TStream {
public:
    std::int64_t Read(void *, std::int64_t) override { return 0; }
    std::int64_t Write(const void *, std::int64_t count) override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        m_position += count;
        return count;
    }
    std::int64_t Seek(std::int64_t offset, fw::SeekOrigin origin) override
    {
        m_position = origin == fw::SeekOrigin::Current ? m_position + offset : offset;
        return m_position;
    }

private:
    std::int64_t m_position = 0;
};

TEST(Cancel, FromATimerWhileBlocksKeepArriving)
{
    // Messages are processed every few milliseconds even when the receive never waits: a cancel
    // from a timer stops a transfer that would otherwise go on for seconds.
    constexpr std::int64_t kTotal = std::int64_t{1} << 30;
    LoopbackPeer peer([](int fd) {
        const std::string block(1 << 20, 'f');
        for (std::int64_t sent = 0; sent < kTotal && testutil::SendAll(fd, block); sent += 1 << 20) {
        }
    });
    Connected conn(peer.port());
    QElapsedTimer clock;
    qint64 firedAt = -1;
    std::int32_t bytesAtCancel = 0;
    std::int32_t bytes = 0;
    conn.client.OnTransferProgress = [&](fw::TObject *, int, int byteCount, int) { bytes = byteCount; };
    QTimer::singleShot(100, [&] {
        firedAt = clock.elapsed();
        bytesAtCancel = bytes;
        conn.client.CancelRequested = true;
    });
    clock.start();
    SlowSink sink;
    EXPECT_EQ(Message([&] { conn.client.ReceiveToStream(sink, 0, 0); }), "Operation has been canceled");
    ASSERT_GE(firedAt, 100);
    EXPECT_LT(firedAt, 350) << "the timer waited for the message pump";
    EXPECT_GT(bytesAtCancel, 0) << "blocks arrived before the cancel";
    EXPECT_LE(bytes - bytesAtCancel, kTransferBlockSize) << "at most one more block after the cancel";
}

// ---- Connect ----

TEST(Connect, EventsInOrder)
{
    LoopbackPeer peer([](int fd) {
        testutil::ReceiveBytes(fd, 4);
        testutil::SendAll(fd, "bye\r\n");
    });
    TmsClientSocket client;
    std::vector<std::string> events;
    client.OnConnecting = [&](fw::TObject *s) {
        EXPECT_EQ(s, &client);
        events.push_back("connecting");
    };
    client.OnConnected = [&](fw::TObject *) { events.push_back("connected"); };
    client.OnDisconnected = [&](fw::TObject *) { events.push_back("disconnected"); };
    client.SetHost("127.0.0.1:" + std::to_string(peer.port()));
    client.Connect();
    EXPECT_TRUE(client.Connected());
    client.SendLine("hi");
    EXPECT_EQ(client.ReadLine(), "bye");
    ASSERT_TRUE(testutil::PumpUntil([&] { return client.PeerClosed(); }));
    EXPECT_FALSE(client.Connected()) << "the peer closed";
    client.Disconnect();
    EXPECT_EQ(client.SocketHandle(), winsock::INVALID_SOCKET);
    client.Disconnect();  // nothing more
    // One OnConnected per connection; OnDisconnected for the peer's close and for ours.
    EXPECT_EQ(events, (std::vector<std::string>{"connecting", "connected", "disconnected", "disconnected"}));
}

TEST(Connect, ByNameThroughTheResolver)
{
    LoopbackPeer peer([](int fd) { testutil::SendAll(fd, "hi\n"); });
    TmsClientSocket client;
    client.SetHost("localhost");
    client.SetPort(peer.port());
    client.Connect();
    EXPECT_EQ(client.ReadLine(), "hi");
    client.Disconnect();
}

TEST(Connect, Failures)
{
    struct Case {
        const char *host;
        std::uint16_t port;
        const char *error;
    };
    const Case cases[] = {
        {"127.0.0.1", testutil::ClosedPort(), "[10061] Connection refused"},
        {"nothing-here.invalid", 21, "[11001] Host not found"},
        {"255.255.255.255", 21, "[10022] Invalid argument"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host);
        TmsClientSocket client;
        int connected = 0;
        client.OnConnected = [&](fw::TObject *) { ++connected; };
        client.SetHost(c.host);
        client.SetPort(c.port);
        EXPECT_EQ(Message([&] { client.Connect(); }), c.error);
        EXPECT_EQ(connected, 0);
        client.Disconnect();
    }
}

TEST(Connect, ThroughAProxyGoesToTheProxy)
{
    LoopbackPeer proxy([](int fd) { testutil::SendAll(fd, "proxy here\n"); });
    struct ProxyClient : TmsClientSocket {
        void UseProxy(const std::string &host, std::uint16_t port)
        {
            m_proxy = host;
            m_proxyPort = port;
        }
    } client;
    client.UseProxy("127.0.0.1", proxy.port());
    client.SetHost("unused.invalid:99");
    EXPECT_EQ(client.Host(), "unused.invalid:99") << "kept whole under a proxy";
    client.Connect();
    EXPECT_EQ(client.ReadLine(), "proxy here");
    client.Disconnect();
}

TEST(SetHost, SplitsPortUnlessProxied)
{
    struct Case {
        const char *text;
        std::uint16_t defaultPort;
        std::uint16_t portBefore;
        const char *host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"server:2121", 0, 7, "server", 2121},  {"server:abc", 0, 7, "server", 0},
        {"server:abc", 21, 7, "server", 21},    {"server:", 21, 7, "server", 21},
        {"server:99999", 21, 7, "server", 21},  // not a port: the default
        {"server:0000021", 0, 7, "server", 21}, {"server:00000000000065536", 21, 7, "server", 21},
        {"server", 0, 7, "server", 7},          {"server", 21, 7, "server", 21},
    };
    struct PortClient : TmsClientSocket {
        explicit PortClient(std::uint16_t def) { m_defaultPort = def; }
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        PortClient client(c.defaultPort);
        client.SetPort(c.portBefore);
        client.SetHost(c.text);
        EXPECT_EQ(client.Host(), c.host);
        EXPECT_EQ(client.Port(), c.port);
    }
    PortClient longHost(0);
    longHost.SetHost(std::string(300, 'h'));
    EXPECT_EQ(longHost.Host().size(), 255u);
}

// ---- ReadReply ----

struct CodedClient : TmsClientSocket {
    int GetReplyCode(const std::string &line) override
    {
        if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
            !std::isdigit(static_cast<unsigned char>(line[1])) || !std::isdigit(static_cast<unsigned char>(line[2])))
            return -1;
        return std::stoi(line.substr(0, 3));
    }
};

TEST(ReadReply, MultiLineReplies)
{
    struct Case {
        const char *name;
        std::string sent;
        int code;
        const char *lastReply;
        bool complete;
    };
    const Case cases[] = {
        {"three lines", "220-Welcome\r\n220-Second\r\n220 Ready\r\n", 220, "220 Ready", true},
        {"hyphen later than the 4th character", "2200-x\r\n", 220, "2200-x", true},
        {"non-numeric first line", "abc-def\r\n", -1, "abc-def", true},
        {"other codes inside", "211-Status\r\n 212 inner\r\n213 other\r\n211 End\r\n", 211, "211 End", true},
        {"close inside the reply", "220-Welcome\r\n220-more\r\n", 220, "", false},
        // A last line that the close cut off from its line end still ends the reply when it has
        // the form of one ("221 Goodbye" and a close); cut inside its code, it does not.
        {"close before the last line's end", "220-Welcome\r\n220 Rea", 220, "220 Rea", true},
        {"close inside the last line's code", "220-Welcome\r\n22", 220, "22", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPeer peer([&](int fd) { testutil::SendAll(fd, c.sent); });
        CodedClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(peer.port());
        client.Connect();
        EXPECT_EQ(client.ReadReply(), c.code);
        EXPECT_EQ(client.LastReply(), c.lastReply);
        EXPECT_EQ(client.LastReplyComplete(), c.complete);
        client.Disconnect();
    }
}

TEST(ReadReply, PlainClientCodeIsOne)
{
    LoopbackPeer peer([](int fd) { testutil::SendAll(fd, "220-Welcome\r\n220-Second\r\n220 Ready\r\n"); });
    Connected conn(peer.port());
    EXPECT_EQ(conn.client.ReadReply(), 1);
    EXPECT_EQ(conn.client.LastReply(), "220 Ready");
}

TEST(ReadReply, RepliesReadAheadStayWholeAndInOrder)
{
    // Everything is there before the first read, so the reads take kReadAheadSize bytes each:
    // a line end falls between two reads (its CR the last byte of one, its LF the first of the
    // next), a line lies across the next boundary, and two more replies come with the first.
    std::vector<std::string> lines = {"220-Welcome"};
    std::string sent = lines[0] + "\r\n";
    const auto add = [&](const std::string &line) {
        lines.push_back(line);
        sent += line + "\r\n";
    };
    while (kReadAheadSize + 1 - sent.size() > 2000)
        add("220-" + std::string(1500, 'a'));
    add("220-" + std::string(kReadAheadSize + 1 - sent.size() - 6, 'b'));  // its LF is byte 4096
    ASSERT_EQ(sent.size(), static_cast<size_t>(kReadAheadSize) + 1);
    while (sent.size() < 2 * static_cast<size_t>(kReadAheadSize) + 700)
        add("220-" + std::string(1000, 'c'));
    add("220 Ready");
    sent += "331 Next\r\n200-Multi\r\n200 End\r\n";
    LoopbackPeer peer([&](int fd) {
        testutil::SendAll(fd, sent);
        peer.release.Wait();
    });
    CodedClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(peer.port());
    client.Connect();
    ASSERT_TRUE(testutil::PumpUntil([&] {
        winsock::u_long n = 0;
        GlobalWinsock().ioctlsocket(client.SocketHandle(), winsock::WS_FIONREAD, &n);
        return n == sent.size();
    }));
    std::vector<std::string> received;
    client.OnLineReceived = [&](fw::TObject *, const std::string &line) { received.push_back(line); };
    EXPECT_EQ(client.ReadReply(), 220);
    EXPECT_EQ(client.LastReply(), "220 Ready");
    EXPECT_EQ(received, lines);
    EXPECT_EQ(client.ReadReply(), 331);
    EXPECT_EQ(client.LastReply(), "331 Next");
    EXPECT_EQ(client.ReadReply(), 200);
    EXPECT_EQ(client.LastReply(), "200 End");
    EXPECT_TRUE(client.LastReplyComplete());
    EXPECT_EQ(client.BufferedBytes(), 0);
    client.Disconnect();
}

TEST(ReadReply, LineSplitAcrossSegmentsWaitsForItsEnd)
{
    // The first segment ends inside the last line; the rest is sent only once the first line
    // has been read from it.
    testutil::Gate firstLineRead;
    LoopbackPeer peer([&](int fd) {
        testutil::SendAll(fd, "220-Welcome\r\n220 Rea");
        firstLineRead.Wait();
        testutil::SendAll(fd, "dy\r\n");
        peer.release.Wait();
    });
    CodedClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(peer.port());
    client.Connect();
    client.OnLineReceived = [&](fw::TObject *, const std::string &line) {
        if (line == "220-Welcome")
            firstLineRead.Open();
    };
    EXPECT_EQ(client.ReadReply(), 220);
    EXPECT_EQ(client.LastReply(), "220 Ready");
    EXPECT_TRUE(client.LastReplyComplete());
    client.Disconnect();
}

TEST(ReadLine, HeldBytesGoWithTheConnection)
{
    LoopbackPeer first([&](int fd) {
        testutil::SendAll(fd, "one\r\ntwo\r\n");
        first.release.Wait();
    });
    LoopbackPeer second([](int fd) { testutil::SendAll(fd, "fresh\r\n"); });
    TmsClientSocket client;
    client.SetHost("127.0.0.1");
    client.SetPort(first.port());
    client.Connect();
    ASSERT_TRUE(testutil::PumpUntil([&] {
        winsock::u_long n = 0;
        GlobalWinsock().ioctlsocket(client.SocketHandle(), winsock::WS_FIONREAD, &n);
        return n == 10;
    }));
    EXPECT_EQ(client.ReadLine(), "one");
    EXPECT_EQ(client.BufferedBytes(), 5) << "the second line came with the first";
    client.Disconnect();
    EXPECT_EQ(client.BufferedBytes(), 0);
    client.SetPort(second.port());
    client.Connect();
    EXPECT_EQ(client.ReadLine(), "fresh");
    client.Disconnect();
}

// ---- Blocking mode ----

TEST(Blocking, NoTimeOutNoMessagesOneConnectedEvent)
{
    LoopbackPeer peer([](int fd) {
        testutil::SendAll(fd, "line one\r\n");
        testutil::ReceiveBytes(fd, 6);
        testutil::SendAll(fd, "line two\r\n");
    });
    TmsClientSocket client;
    client.SetBlocking(true);
    int connected = 0;
    client.OnConnected = [&](fw::TObject *) { ++connected; };
    client.SetHost("127.0.0.1");
    client.SetPort(peer.port());
    client.Connect();
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(client.TimeCounter(), nullptr);
    bool handled = false;
    platform::MessageWindow window([&](platform::UINT, platform::WPARAM, platform::LPARAM) {
        handled = true;
        return platform::LRESULT{0};
    });
    platform::PostMessage(window.Handle(), platform::WM_USER, 0, 0);
    EXPECT_EQ(client.ReadLine(), "line one");
    client.SendLine("ABCD");
    EXPECT_EQ(client.ReadLine(), "line two");
    EXPECT_FALSE(handled) << "no message processing in blocking mode";
    EXPECT_EQ(client.ReadLine(), "");
    EXPECT_TRUE(client.PeerClosed());
    platform::ProcessMessages();
    EXPECT_TRUE(handled);
    client.Disconnect();
}

TEST(Blocking, FirstFailingCallRaises)
{
    LoopbackPeer peer([&](int fd) {
        peer.markClosed();
        testutil::ResetConnection(fd);
    });
    TmsClientSocket client;
    client.SetBlocking(true);
    client.SetHost("127.0.0.1");
    client.SetPort(peer.port());
    client.Connect();
    EXPECT_EQ(Message([&] { client.ReadLine(); }), "[10054] Connection reset by peer");
    client.Disconnect();
}

TEST(NonBlocking, ResetDuringReadRaisesTheWinsockError)
{
    LoopbackPeer peer([&](int fd) {
        testutil::SendAll(fd, "par");
        testutil::ReceiveBytes(fd, 3);
        peer.markClosed();
        testutil::ResetConnection(fd);
    });
    Connected conn(peer.port());
    conn.client.SendLine("x");
    const std::string message = Message([&] { conn.client.ReadLine(); });
    EXPECT_TRUE(message == "[10054] Connection reset by peer") << message;
}

TEST(Version, ReadsFixedAndIgnoresWrites)
{
    TmsClientSocket client;
    EXPECT_EQ(client.Version(), "2.02");
    EXPECT_TRUE(client.setProperty("Version", QStringLiteral("9.99")));
    EXPECT_EQ(client.property("Version").toString(), QStringLiteral("2.02"));
    EXPECT_EQ(client.TimeOut(), 60);
    EXPECT_EQ(client.SleepTime(), -1);
    EXPECT_FALSE(client.Blocking());
    EXPECT_EQ(client.SocketHandle(), winsock::INVALID_SOCKET);
    ASSERT_NE(client.TimeCounter(), nullptr);
    client.setProperty("TimeOut", 5);
    EXPECT_EQ(client.TimeCounter()->Period(), 5);
}

}  // namespace
