// Host texts, name lookups and addresses of the client socket: IPv6 literals, every address of a
// name in the resolver's order, and lookups that run while the wait processes messages. Names are
// looked up in a hosts file of the test's own (the socket library's DROVANEL_WINSOCK_HOSTS), never
// in the machine's resolver.
#include "common/ExceptionText.h"
#include "common/LoopbackPeer.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "net/Mssocket.h"
#include "net/msFTP.h"
#include "platform/MessageWindow.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using namespace net;
using testutil::LoopbackPeer;
using testutil::Message;

// Points the socket library's lookups at a hosts file of the test's own while it lives.
class HostsFile {
public:
    explicit HostsFile(const std::string &lines)
    {
        testutil::WriteFile(m_dir.file("hosts"), lines);
        ::setenv("DROVANEL_WINSOCK_HOSTS", m_dir.file("hosts").c_str(), 1);
    }
    ~HostsFile() { ::unsetenv("DROVANEL_WINSOCK_HOSTS"); }
    HostsFile(const HostsFile &) = delete;
    HostsFile &operator=(const HostsFile &) = delete;

private:
    testutil::TempDir m_dir;
};

void SayHello(int fd)
{
    testutil::SendAll(fd, "hello\n");
}

TEST(HostText, IPv6AddressesAndPorts)
{
    struct Case {
        const char *text;
        const char *host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"server:2121", "server", 2121},
        {"::1", "::1", 21},
        {"[::1]:2121", "::1", 2121},
        {"[::1]", "::1", 21},
        {"[::1]:abc", "::1", 21},
        {"2001:db8::5", "2001:db8::5", 21},
        {"[2001:db8::5]:990", "2001:db8::5", 990},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TmsFTPClient client;
        client.SetPort(7);
        client.SetHost(c.text);
        EXPECT_EQ(client.Host(), c.host);
        EXPECT_EQ(client.Port(), c.port);
    }
}

TEST(ProxyText, IPv6AddressesAndPorts)
{
    struct Case {
        const char *text;
        const char *proxy;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"proxy:8021", "proxy", 8021},
        {"::1", "::1", 0},
        {"[::1]:2121", "::1", 2121},
        {"[fe80::1]", "fe80::1", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TmsFTPClient client;
        client.SetProxy(c.text);
        EXPECT_EQ(client.Proxy(), c.proxy);
        EXPECT_EQ(client.ProxyPort(), c.port);
    }
}

// A proxy text that names no host is refused, never taken for a direct connection to the host
// (which here would answer).
TEST(ProxyText, NamingNoHostIsAnError)
{
    LoopbackPeer server(SayHello);
    for (const char *text : {":2121", "[]", "[]:2121", "[::1"}) {
        SCOPED_TRACE(text);
        TmsFTPClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(server.port());
        client.SetProxy(text);
        EXPECT_EQ(Message([&] { client.Connect(); }), std::string("The proxy \"") + text + "\" names no host");
        EXPECT_FALSE(client.Connected());
        client.Disconnect();
    }
}

TEST(Connect, ToAnIPv6Address)
{
    for (const bool bracketed : {false, true}) {
        SCOPED_TRACE(bracketed);
        LoopbackPeer server(SayHello, AF_INET6);
        TmsClientSocket client;
        if (bracketed) {
            client.SetHost("[::1]:" + std::to_string(server.port()));
        } else {
            client.SetHost("::1");
            client.SetPort(server.port());
        }
        client.Connect();
        EXPECT_EQ(client.ReadLine(), "hello");
        EXPECT_TRUE(client.Peer().IsIPv6());
        EXPECT_EQ(client.Peer().Text(), "::1");
        EXPECT_EQ(client.Peer().FamilyName(), "IPv6");
        EXPECT_EQ(client.PeerAddress(), 0u) << "no IPv4 address";
        client.Disconnect();
    }
}

TEST(AddressText, ShortestForm)
{
    struct Case {
        std::array<std::uint8_t, 16> bytes;
        std::uint32_t scope;
        const char *text;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0, "::1"},
        {{}, 0, "::"},
        {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}, 0, "2001:db8::5"},
        {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, 0, "2001:db8:0:1::1"},
        {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}, 0, "2001:db8::1:0:0:1"},
        {{0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6}, 0, "2001:db8:1:2:3:4:5:6"},
        {{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 2, "fe80::1%2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TmsInetAddress address;
        address.Family = winsock::WS_AF_INET6;
        address.Bytes = c.bytes;
        address.ScopeId = c.scope;
        EXPECT_EQ(address.Text(), c.text);
    }
    EXPECT_EQ(TmsInetAddress::FromIPv4(GlobalWinsock().inet_addr("10.1.2.3")).Text(), "10.1.2.3");
}

// A name's addresses are tried in the resolver's order: one that refuses is passed over for the
// next, whatever the families.
TEST(Connect, TriesEveryAddressInTheResolversOrder)
{
    LoopbackPeer v4(SayHello);
    LoopbackPeer v6(SayHello, AF_INET6);
    struct Case {
        std::string hosts;
        std::uint16_t port;
        const char *peer;
    };
    const std::uint16_t closed = testutil::ClosedPort();
    const Case cases[] = {
        // Nothing listens on ::1 at the IPv4 server's port: refused, then 127.0.0.1.
        {"::1 first.test\n127.0.0.1 first.test\n", v4.port(), "127.0.0.1"},
        // Nothing listens on 127.0.0.2 (a loopback address too): refused, then ::1.
        {"127.0.0.2 second.test\n::1 second.test\n", v6.port(), "::1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hosts);
        HostsFile hosts(c.hosts);
        TmsClientSocket client;
        client.SetTimeOut(10);
        client.SetHost(c.hosts.substr(c.hosts.rfind(' ') + 1, c.hosts.size() - c.hosts.rfind(' ') - 2));
        client.SetPort(c.port);
        client.Connect();
        EXPECT_EQ(client.ReadLine(), "hello");
        EXPECT_EQ(client.Peer().Text(), c.peer);
        client.Disconnect();
    }
    // When every address fails, the error is the last one's.
    HostsFile hosts("127.0.0.2 none.test\n::1 none.test\n127.0.0.1 none.test\n");
    TmsClientSocket client;
    client.SetHost("none.test");
    client.SetPort(closed);
    EXPECT_EQ(Message([&] { client.Connect(); }), "[10061] Connection refused");
    EXPECT_EQ(client.Peer().Text(), "127.0.0.1");
    client.Disconnect();
    client.SetHost("missing.test");
    EXPECT_EQ(Message([&] { client.Connect(); }), "[11001] Host not found");
    client.Disconnect();
}

// A listener on 127.0.0.2 whose queue is full: the system drops the handshake of any further
// connect, which is then never answered (a host that drops the packets).
class FullListener {
public:
    explicit FullListener(std::uint16_t port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.2", &a.sin_addr);
        // A queue of length 0 takes one connection, never accepted here.
        m_ready = ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && ::listen(m_listenFd, 0) == 0 &&
                  ::connect(m_fillerFd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~FullListener()
    {
        ::close(m_fillerFd);
        ::close(m_listenFd);
    }
    FullListener(const FullListener &) = delete;
    FullListener &operator=(const FullListener &) = delete;
    bool Ready() const { return m_ready; }

private:
    bool m_ready = false;
    int m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int m_fillerFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
};

// A connect that is never answered has its share of the time-out, then the next address is tried;
// with no next address the time-out ends it.
TEST(Connect, NextAddressAfterATimedOutConnect)
{
    LoopbackPeer server(SayHello);
    FullListener silent(server.port());
    ASSERT_TRUE(silent.Ready());
    {
        HostsFile hosts("127.0.0.2 slow.test\n127.0.0.1 slow.test\n");
        TmsClientSocket client;
        client.SetTimeOut(4);
        client.SetHost("slow.test");
        client.SetPort(server.port());
        client.Connect();
        EXPECT_EQ(client.ReadLine(), "hello");
        EXPECT_EQ(client.Peer().Text(), "127.0.0.1");
        client.Disconnect();
    }
    {
        HostsFile hosts("127.0.0.2 slow.test\n");
        TmsClientSocket client;
        client.SetTimeOut(1);
        client.SetHost("slow.test");
        client.SetPort(server.port());
        EXPECT_EQ(Message([&] { client.Connect(); }), "Operation timed out");
        client.Disconnect();
    }
}

// A resolver that never answers holds nobody: the wait processes messages (a timer fires in it),
// a cancel ends it at once, and the time-out ends it with a host-not-found error.
TEST(Connect, LookupThatNeverAnswers)
{
    HostsFile hosts("hang silent.test\n");
    {
        TmsClientSocket client;
        client.SetTimeOut(1);
        client.SetHost("silent.test");
        client.SetPort(21);
        bool ticked = false;
        QTimer::singleShot(100, [&] { ticked = true; });
        EXPECT_EQ(Message([&] { client.Connect(); }), "[11002] Non-Authoritative Host not found");
        EXPECT_TRUE(ticked) << "the timer fired inside the wait";
        client.Disconnect();
    }
    {
        TmsClientSocket client;
        client.SetTimeOut(60);
        client.SetHost("silent.test");
        client.SetPort(21);
        QElapsedTimer sinceCancel;
        QTimer::singleShot(200, [&] {
            sinceCancel.start();
            client.CancelRequested = true;
        });
        EXPECT_EQ(Message([&] { client.Connect(); }), "Operation has been canceled");
        // Far below the time-out of 60 s: the cancel ended the wait, not the clock.
        EXPECT_LT(sinceCancel.elapsed(), 5000);
        client.Disconnect();
    }
}

// The stand-in's asynchronous lookup: its answer comes as a message with the addresses in the
// buffer, and a cancelled lookup writes nothing and posts nothing, however late it ends.
TEST(WinsockStandInLookup, AnswersAsAMessageAndDropsCancelledOnes)
{
    HostsFile hosts("::1 both.test\n10.1.2.3 both.test\nhang never.test\n");
    TmsWinsock &ws = GlobalWinsock();
    std::vector<winsock::HANDLE> answered;
    std::vector<std::uint16_t> errors;
    platform::MessageWindow window([&](platform::UINT msg, platform::WPARAM w, platform::LPARAM l) {
        if (msg == kLookupMessage) {
            answered.push_back(static_cast<winsock::HANDLE>(w));
            errors.push_back(TmsWinsock::SelectError(l));
        }
        return platform::LRESULT(0);
    });
    winsock::ADDRLIST cancelled{};
    winsock::ADDRLIST never{};
    winsock::ADDRLIST both{};
    const winsock::HANDLE first = ws.WSAAsyncGetAddrByName(window.Handle(), kLookupMessage, "127.0.0.1",
                                                           reinterpret_cast<char *>(&cancelled), sizeof cancelled);
    const winsock::HANDLE hanging = ws.WSAAsyncGetAddrByName(window.Handle(), kLookupMessage, "never.test",
                                                             reinterpret_cast<char *>(&never), sizeof never);
    ASSERT_NE(first, 0u);
    ASSERT_NE(hanging, 0u);
    EXPECT_EQ(ws.WSACancelAsyncRequest(first), 0);
    EXPECT_EQ(ws.WSACancelAsyncRequest(hanging), 0);
    EXPECT_EQ(ws.WSACancelAsyncRequest(hanging), winsock::SOCKET_ERROR) << "nothing left to cancel";
    const winsock::HANDLE last = ws.WSAAsyncGetAddrByName(window.Handle(), kLookupMessage, "both.test",
                                                          reinterpret_cast<char *>(&both), sizeof both);
    ASSERT_TRUE(testutil::PumpUntil([&] { return !answered.empty(); }));
    EXPECT_EQ(answered, std::vector<winsock::HANDLE>{last});
    EXPECT_EQ(errors, std::vector<std::uint16_t>{0});
    EXPECT_EQ(cancelled.iAddressCount, 0) << "a cancelled lookup writes nothing";
    ASSERT_EQ(both.iAddressCount, 2);
    EXPECT_EQ(TmsInetAddress::FromSockAddr(both.Address[0]).Text(), "::1");
    EXPECT_EQ(TmsInetAddress::FromSockAddr(both.Address[1]).Text(), "10.1.2.3");

    // A name that does not exist: the message carries the error.
    answered.clear();
    errors.clear();
    const winsock::HANDLE missing = ws.WSAAsyncGetAddrByName(window.Handle(), kLookupMessage, "missing.test",
                                                             reinterpret_cast<char *>(&both), sizeof both);
    ASSERT_TRUE(testutil::PumpUntil([&] { return !answered.empty(); }));
    EXPECT_EQ(answered, std::vector<winsock::HANDLE>{missing});
    EXPECT_EQ(errors, std::vector<std::uint16_t>{winsock::WSAHOST_NOT_FOUND});
}

}  // namespace
