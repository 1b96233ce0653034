// The Winsock binding and the socket stand-in it loads, on real loopback sockets.
#include "common/ExceptionText.h"
#include "common/LoopbackPeer.h"
#include "common/Pump.h"
#include "net/Mssocket.h"
#include "net/msWinsock.h"
#include "platform/MessageWindow.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

using namespace net;
using winsock::SOCKET;

// The stand-ins are built beside the test executables.
std::string BinDir()
{
    const std::string library = TmsWinsock::DefaultLibraryPath();
    return library.substr(0, library.rfind('/'));
}

using testutil::Message;

// Puts another binding in place of the global one for the test's lifetime.
class BindingSwap {
public:
    explicit BindingSwap(const std::string &libraryPath)
        : m_previous(ReplaceGlobalWinsock(std::make_unique<TmsWinsock>(libraryPath)))
    {
    }
    ~BindingSwap() { ReplaceGlobalWinsock(std::move(m_previous)); }
    BindingSwap(const BindingSwap &) = delete;
    BindingSwap &operator=(const BindingSwap &) = delete;

private:
    std::unique_ptr<TmsWinsock> m_previous;
};

winsock::SOCKADDR LoopbackAddress(std::uint16_t port)
{
    TmsWinsock &ws = GlobalWinsock();
    winsock::SOCKADDR_IN in{};
    in.sin_family = winsock::WS_AF_INET;
    in.sin_port = (ws.htons)(port);
    in.sin_addr.S_addr = ws.inet_addr("127.0.0.1");
    winsock::SOCKADDR out{};
    std::memcpy(&out, &in, sizeof out);
    return out;
}

struct ErrorTextCase {
    int code;
    const char *text;
};

TEST(WinsockErrors, TextsByCode)
{
    const ErrorTextCase cases[] = {
        {10061, "[10061] Connection refused"},
        {10000, "[0] No Error"},
        {10107, "Winsock error no 10107"},
        {0, "Winsock error no 0"},
        {10013, "[10013] Permission denied."},
        {10035, "[10035] Resource temporarily not available"},
        {10038, "[10038] Socket operation on non-socket"},
        {10093, "[10093] Successful WSAStartup() not yet performed"},
        {11001, "[11001] Host not found"},
        {11003, "[11003] Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
        {11004, "[11004] Valid name, no data record of requested type"},
        {10072, "Winsock error no 10072"},
        {75537, "Winsock error no 10001"},  // the code is taken as 16 bits
    };
    for (const auto &c : cases)
        EXPECT_EQ(Message([&] { GlobalWinsock().RaiseWinsockError(c.code); }), c.text) << c.code;
}

TEST(WinsockErrors, TheTableHoldsFiftyTwoTexts)
{
    int count = 0;
    for (int code = 0; code <= 0xFFFF; ++code) {
        const std::string text = WinsockErrorText(code);
        if (text.empty())
            continue;
        ++count;
        // Each text is the code in brackets, a blank and a description (10000 reads "[0]").
        const std::string prefix = "[" + std::to_string(code == 10000 ? 0 : code) + "] ";
        EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
    }
    EXPECT_EQ(count, 52);
}

TEST(WinsockBinding, LoadsAndStartsTheStandIn)
{
    TmsWinsock &ws = GlobalWinsock();
    ASSERT_TRUE(ws.Loaded());
    EXPECT_EQ(ws.WinsockVersion(), 0x0101);
    EXPECT_FALSE(ws.Description().empty());
    EXPECT_LE(ws.Description().size(), 255u);
    EXPECT_EQ(ws.SystemStatus(), "Running");
    EXPECT_GT(ws.MaxSockets(), 0);
}

TEST(WinsockBinding, ResolveHost)
{
    TmsWinsock &ws = GlobalWinsock();
    EXPECT_EQ(ws.ResolveHost("10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(ws.ResolveHost("localhost"), "127.0.0.1");
    EXPECT_EQ(Message([&] { ws.ResolveHost("no-such-host.invalid"); }), "[11001] Host not found");
    EXPECT_EQ(Message([&] { ws.ResolveHost(std::string("local\0host", 10)); }), "[11001] Host not found");
    // Longer than any 128-byte buffer: used whole, and refused as the name it is.
    EXPECT_EQ(Message([&] { ws.ResolveHost(std::string(200, 'a') + ".invalid"); }), "[11001] Host not found");
}

TEST(WinsockBinding, ParseAddress)
{
    TmsWinsock &ws = GlobalWinsock();
    EXPECT_EQ(ws.ParseAddress("127.0.0.1"), ws.inet_addr("127.0.0.1"));
    const std::uint32_t a = ws.ParseAddress("1.2.3.4");
    EXPECT_EQ(std::memcmp(&a, "\x01\x02\x03\x04", 4), 0) << "network byte order";
    EXPECT_EQ(Message([&] { ws.ParseAddress("255.255.255.255"); }), "[10022] Invalid argument");
    EXPECT_EQ(Message([&] { ws.ParseAddress("not an address"); }), "[10022] Invalid argument");
}

TEST(WinsockBinding, MissingLibraryFailsAtTheFirstSocketOperation)
{
    BindingSwap swap(BinDir() + "/libwsock32_missing.so");
    ASSERT_FALSE(GlobalWinsock().Loaded());
    EXPECT_EQ(GlobalWinsock().LibHandle(), nullptr);
    TmsClientSocket client;
    client.SetHost("127.0.0.1");
    client.SetPort(1);
    EXPECT_EQ(Message([&] { client.Connect(); }), "Winsock not loaded");
    TmsSimpleListenerSocket listener;
    EXPECT_EQ(Message([&] { listener.StartListening(); }), "Winsock not loaded");
    EXPECT_EQ(Message([&] { GlobalWinsock().ResolveHost("10.1.2.3"); }), "Winsock not loaded");
}

TEST(WinsockBinding, MissingFunctionIsReportedAtEachCall)
{
    BindingSwap swap(BinDir() + "/libwsock32_incomplete.so");
    TmsWinsock &ws = GlobalWinsock();
    ASSERT_TRUE(ws.Loaded());
    // A dotted address needs no lookup, so the missing gethostbyname is never called for it.
    EXPECT_EQ(ws.ResolveHost("10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(Message([&] { ws.ResolveHost("localhost"); }), "Function gethostbyname not found");
    TmsClientSocket client;
    client.SetHost("127.0.0.1");
    client.SetPort(testutil::ClosedPort());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Message([&] { client.Connect(); }), "Function WSAAsyncSelect not found");
        EXPECT_NE(client.SocketHandle(), winsock::INVALID_SOCKET) << "the new handle stays open";
        client.Disconnect();
    }
}

TEST(WinsockStandIn, HandlesAreNeverReused)
{
    TmsWinsock &ws = GlobalWinsock();
    const SOCKET first = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    ASSERT_NE(first, winsock::INVALID_SOCKET);
    ASSERT_EQ(ws.closesocket(first), 0);
    const SOCKET second = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    ASSERT_NE(second, winsock::INVALID_SOCKET);
    EXPECT_NE(second, first);
    EXPECT_EQ(ws.closesocket(first), winsock::SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAENOTSOCK);
    // The second socket was not touched by the stale close.
    winsock::SOCKADDR name{};
    int len = sizeof name;
    EXPECT_EQ(ws.getsockname(second, &name, &len), 0);
    EXPECT_EQ(ws.closesocket(second), 0);
}

TEST(WinsockStandIn, RefusesBadArguments)
{
    TmsWinsock &ws = GlobalWinsock();
    EXPECT_EQ(ws.socket(99, winsock::WS_SOCK_STREAM, 0), winsock::INVALID_SOCKET);
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAEAFNOSUPPORT);
    const SOCKET s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    winsock::SOCKADDR name{};
    EXPECT_EQ(ws.bind(s, &name, 8), winsock::SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAEFAULT);
    EXPECT_EQ(ws.ioctlsocket(s, 12345, nullptr), winsock::SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAEFAULT);
    char byte = 0;
    EXPECT_EQ(ws.recv(s, &byte, 1, 0), winsock::SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAENOTCONN);
    EXPECT_EQ(ws.WSAAsyncSelect(s, 0, kSocketMessage, winsock::FD_READ), winsock::SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAEINVAL);
    EXPECT_EQ(ws.closesocket(s), 0);
}

// The largest receive buffer the kernel grants on request (net.core.rmem_max).
int KernelReceiveBufferLimit()
{
    std::ifstream file("/proc/sys/net/core/rmem_max");
    int limit = 0;
    file >> limit;
    return limit;
}

int ReceiveBufferOf(SOCKET s)
{
    int size = 0;
    int length = sizeof size;
    EXPECT_EQ(GlobalWinsock().getsockopt(s, winsock::WS_SOL_SOCKET, winsock::WS_SO_RCVBUF,
                                         reinterpret_cast<char *>(&size), &length),
              0);
    return size;
}

int SetReceiveBuffer(SOCKET s, int size, int level = winsock::WS_SOL_SOCKET, int option = winsock::WS_SO_RCVBUF,
                     int length = sizeof(int))
{
    return GlobalWinsock().setsockopt(s, level, option, reinterpret_cast<const char *>(&size), length);
}

TEST(WinsockStandIn, ReceiveBufferWithinTheKernelsLimitIsSet)
{
    const int limit = KernelReceiveBufferLimit();
    ASSERT_GT(limit, 0);
    TmsWinsock &ws = GlobalWinsock();
    const SOCKET s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    ASSERT_EQ(SetReceiveBuffer(s, limit), 0);
    EXPECT_GE(ReceiveBufferOf(s), limit);  // Linux doubles the size for its bookkeeping
    EXPECT_EQ(ws.closesocket(s), 0);
}

TEST(WinsockStandIn, ReceiveBufferPastTheKernelsLimitIsLeftToTheKernel)
{
    const int limit = KernelReceiveBufferLimit();
    ASSERT_GT(limit, 0);
    ASSERT_LT(limit, std::numeric_limits<int>::max());
    TmsWinsock &ws = GlobalWinsock();
    const SOCKET s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    const int before = ReceiveBufferOf(s);
    // A capped size would stop the kernel's own sizing, which grows further: nothing changes.
    EXPECT_EQ(SetReceiveBuffer(s, limit + 1), 0);
    EXPECT_EQ(ReceiveBufferOf(s), before);
    EXPECT_EQ(ws.closesocket(s), 0);
}

TEST(WinsockStandIn, SocketOptionErrors)
{
    TmsWinsock &ws = GlobalWinsock();
    const SOCKET s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    const struct {
        const char *what;
        SOCKET socket;
        int level, option, size, length, error;
    } cases[] = {
        {"unknown option", s, winsock::WS_SOL_SOCKET, 0x1001, 65536, 4, winsock::WSAENOPROTOOPT},
        {"unknown level", s, winsock::WS_IPPROTO_TCP, winsock::WS_SO_RCVBUF, 65536, 4, winsock::WSAENOPROTOOPT},
        {"short value", s, winsock::WS_SOL_SOCKET, winsock::WS_SO_RCVBUF, 65536, 2, winsock::WSAEFAULT},
        {"no size", s, winsock::WS_SOL_SOCKET, winsock::WS_SO_RCVBUF, 0, 4, winsock::WSAEINVAL},
        {"negative size", s, winsock::WS_SOL_SOCKET, winsock::WS_SO_RCVBUF, -1, 4, winsock::WSAEINVAL},
        {"closed socket", s + 1000, winsock::WS_SOL_SOCKET, winsock::WS_SO_RCVBUF, 65536, 4, winsock::WSAENOTSOCK},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SetReceiveBuffer(c.socket, c.size, c.level, c.option, c.length), winsock::SOCKET_ERROR);
        EXPECT_EQ(ws.WSAGetLastError(), c.error);
    }
    int size = 0;
    int length = 2;
    EXPECT_EQ(ws.getsockopt(s, winsock::WS_SOL_SOCKET, winsock::WS_SO_RCVBUF, reinterpret_cast<char *>(&size), &length),
              winsock::SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAEFAULT);
    EXPECT_EQ(ws.closesocket(s), 0);
}

// Records the notices a socket posts to a window.
struct NoticeLog {
    std::vector<std::pair<int, int>> notices;  // event, error
    platform::MessageWindow window{[this](platform::UINT msg, platform::WPARAM, platform::LPARAM l) {
        if (msg == kSocketMessage)
            notices.emplace_back(TmsWinsock::SelectEvent(l), TmsWinsock::SelectError(l));
        return platform::LRESULT{0};
    }};
    int count(int event) const
    {
        return static_cast<int>(
            std::count_if(notices.begin(), notices.end(), [event](auto &n) { return n.first == event; }));
    }
};

constexpr winsock::LONG kAll = winsock::FD_READ | winsock::FD_WRITE | winsock::FD_CONNECT | winsock::FD_CLOSE;

TEST(WinsockStandIn, NoticesFollowWinsockRules)
{
    TmsWinsock &ws = GlobalWinsock();
    testutil::LoopbackPeer peer([](int fd) {
        testutil::SendAll(fd, "hello");
        // Then an orderly close, while the data is still unread at the other end.
    });
    NoticeLog log;
    const SOCKET s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    ASSERT_EQ(ws.WSAAsyncSelect(s, log.window.Handle(), kSocketMessage, kAll), 0);
    const winsock::SOCKADDR to = LoopbackAddress(peer.port());
    const int r = ws.connect(s, &to, sizeof to);
    EXPECT_TRUE(r == 0 || ws.WSAGetLastError() == winsock::WSAEWOULDBLOCK);
    ASSERT_TRUE(testutil::PumpUntil([&] { return log.count(winsock::FD_CLOSE) > 0; }));
    // Give any surplus notice the chance to show up.
    platform::WaitMessage(100);
    EXPECT_EQ(log.count(winsock::FD_CONNECT), 1);
    EXPECT_EQ(log.count(winsock::FD_WRITE), 1) << "FD_WRITE after the connect";
    EXPECT_EQ(log.count(winsock::FD_READ), 1) << "one FD_READ until recv re-enables it";
    EXPECT_EQ(log.count(winsock::FD_CLOSE), 1) << "the close is reported while data is unread";
    EXPECT_EQ(log.notices.front().first, winsock::FD_CONNECT);
    for (const auto &n : log.notices)
        EXPECT_EQ(n.second, 0);

    // recv re-enables FD_READ: taking one byte of five announces the rest.
    char buf[8]{};
    ASSERT_EQ(ws.recv(s, buf, 1, 0), 1);
    ASSERT_TRUE(testutil::PumpUntil([&] { return log.count(winsock::FD_READ) == 2; }));
    ASSERT_EQ(ws.recv(s, buf, 8, 0), 4);
    EXPECT_EQ(std::string(buf, 4), "ello");
    EXPECT_EQ(ws.recv(s, buf, 8, 0), 0) << "then the orderly close";
    platform::WaitMessage(100);
    EXPECT_EQ(log.count(winsock::FD_READ), 2);
    EXPECT_EQ(log.count(winsock::FD_CLOSE), 1);
    EXPECT_EQ(ws.closesocket(s), 0);
}

TEST(WinsockStandIn, RefusedConnectIsOneConnectNoticeWithItsError)
{
    TmsWinsock &ws = GlobalWinsock();
    NoticeLog log;
    const SOCKET s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    ASSERT_EQ(ws.WSAAsyncSelect(s, log.window.Handle(), kSocketMessage, kAll), 0);
    const winsock::SOCKADDR to = LoopbackAddress(testutil::ClosedPort());
    if (ws.connect(s, &to, sizeof to) == winsock::SOCKET_ERROR && ws.WSAGetLastError() == winsock::WSAECONNREFUSED) {
        ws.closesocket(s);
        GTEST_SKIP() << "refused at once";
    }
    ASSERT_TRUE(testutil::PumpUntil([&] { return !log.notices.empty(); }));
    platform::WaitMessage(100);
    ASSERT_EQ(log.notices.size(), 1u);
    EXPECT_EQ(log.notices[0].first, winsock::FD_CONNECT);
    EXPECT_EQ(log.notices[0].second, winsock::WSAECONNREFUSED);
    EXPECT_EQ(ws.closesocket(s), 0);
}

TEST(WinsockStandIn, MaskZeroEndsNoticesAndAllowsBlockingMode)
{
    TmsWinsock &ws = GlobalWinsock();
    testutil::LoopbackPeer peer([&](int fd) {
        testutil::SendAll(fd, "x");
        peer.release.Wait();
    });
    NoticeLog log;
    const SOCKET s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    const winsock::SOCKADDR to = LoopbackAddress(peer.port());
    ASSERT_EQ(ws.connect(s, &to, sizeof to), 0) << "a blocking connect";
    ASSERT_EQ(ws.WSAAsyncSelect(s, log.window.Handle(), kSocketMessage, kAll), 0);
    winsock::u_long off = 0;
    EXPECT_EQ(ws.ioctlsocket(s, winsock::WS_FIONBIO, &off), winsock::SOCKET_ERROR) << "not while selected";
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAEINVAL);
    ASSERT_EQ(ws.WSAAsyncSelect(s, log.window.Handle(), kSocketMessage, 0), 0);
    platform::ProcessMessages();
    const auto before = log.notices.size();
    peer.release.Open();
    char buf[4];
    EXPECT_EQ(ws.ioctlsocket(s, winsock::WS_FIONBIO, &off), 0);
    EXPECT_EQ(ws.recv(s, buf, 4, 0), 1);
    EXPECT_EQ(ws.recv(s, buf, 4, 0), 0) << "blocking recv waits for the close";
    platform::WaitMessage(100);
    EXPECT_EQ(log.notices.size(), before) << "no notice after mask 0";
    EXPECT_EQ(ws.closesocket(s), 0);
}

TEST(WinsockStandIn, SendOnABrokenConnectionIsAnErrorNotASignal)
{
    TmsWinsock &ws = GlobalWinsock();
    testutil::LoopbackPeer peer([&](int fd) {
        peer.markClosed();
        testutil::ResetConnection(fd);
    });
    const SOCKET s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    const winsock::SOCKADDR to = LoopbackAddress(peer.port());
    ASSERT_EQ(ws.connect(s, &to, sizeof to), 0);
    char buf[1];
    EXPECT_EQ(ws.recv(s, buf, 1, 0), winsock::SOCKET_ERROR) << "the reset";
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAECONNRESET);
    const std::string block(65536, 'x');
    int result = 0;
    for (int i = 0; i < 50 && result != winsock::SOCKET_ERROR; ++i)
        result = ws.send(s, block.data(), static_cast<int>(block.size()), 0);
    EXPECT_EQ(result, winsock::SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), winsock::WSAECONNRESET);
    EXPECT_EQ(ws.closesocket(s), 0);
}

// A socket of the stand-in connected to a peer that sends `bytes` and then waits for the test to end,
// its notices selected to `window`.
struct SelectedConnection {
    SelectedConnection(const std::string &bytes, platform::HWND window)
        : peer([bytes, this](int fd) {
              testutil::SendAll(fd, bytes);
              peer.release.Wait();
          })
    {
        TmsWinsock &ws = GlobalWinsock();
        s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
        EXPECT_EQ(ws.WSAAsyncSelect(s, window, kSocketMessage, kAll), 0);
        const winsock::SOCKADDR to = LoopbackAddress(peer.port());
        ws.connect(s, &to, sizeof to);
    }
    ~SelectedConnection() { GlobalWinsock().closesocket(s); }
    std::size_t Waiting() const
    {
        winsock::u_long n = 0;
        GlobalWinsock().ioctlsocket(s, winsock::WS_FIONREAD, &n);
        return n;
    }
    testutil::LoopbackPeer peer;
    SOCKET s = winsock::INVALID_SOCKET;
};

TEST(WinsockStandIn, ReadNoticeStillQueuedIsNotPostedAgain)
{
    NoticeLog log;
    SelectedConnection conn(std::string(4096, 'q'), log.window.Handle());
    ASSERT_TRUE(testutil::PumpUntil([&] { return log.count(winsock::FD_READ) == 1 && conn.Waiting() == 4096; }));
    // Receives that fill their buffer with data left over announce it, but one notice in the
    // queue announces it for all of them.
    TmsWinsock &ws = GlobalWinsock();
    char buf[16];
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(ws.recv(conn.s, buf, sizeof buf, 0), 16);
    platform::ProcessMessages();
    platform::WaitMessage(100);  // a surplus notice would show up now
    EXPECT_EQ(log.count(winsock::FD_READ), 2);
    // Once taken from the queue, the next receive announces what is left again.
    ASSERT_EQ(ws.recv(conn.s, buf, sizeof buf, 0), 16);
    ASSERT_TRUE(testutil::PumpUntil([&] { return log.count(winsock::FD_READ) == 3; }));
}

TEST(WinsockStandIn, HandlerThatReadsPartOfTheDataIsToldOfTheRest)
{
    // Each notice's handler takes 16 bytes: the notice it is handling no longer counts as queued,
    // so every receive that leaves data behind is followed by a new notice until all is read.
    TmsWinsock &ws = GlobalWinsock();
    SOCKET s = winsock::INVALID_SOCKET;
    std::string received;
    platform::MessageWindow window([&](platform::UINT msg, platform::WPARAM, platform::LPARAM l) {
        if (msg == kSocketMessage && TmsWinsock::SelectEvent(l) == winsock::FD_READ) {
            char buf[16];
            const int n = ws.recv(s, buf, sizeof buf, 0);
            if (n > 0)
                received.append(buf, static_cast<size_t>(n));
        }
        return platform::LRESULT{0};
    });
    std::string sent(3000, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>('a' + i % 26);
    SelectedConnection conn(sent, window.Handle());
    s = conn.s;
    ASSERT_TRUE(testutil::PumpUntil([&] { return received.size() == sent.size(); }));
    EXPECT_EQ(received, sent);
}

TEST(WinsockStandIn, DestroyedWindowIsNeverPostedTo)
{
    TmsWinsock &ws = GlobalWinsock();
    testutil::LoopbackPeer peer([&](int fd) {
        peer.release.Wait();
        testutil::SendAll(fd, "late");
    });
    const SOCKET s = ws.socket(winsock::WS_AF_INET, winsock::WS_SOCK_STREAM, 0);
    {
        NoticeLog log;
        ASSERT_EQ(ws.WSAAsyncSelect(s, log.window.Handle(), kSocketMessage, kAll), 0);
        const winsock::SOCKADDR to = LoopbackAddress(peer.port());
        ws.connect(s, &to, sizeof to);
        ASSERT_TRUE(testutil::PumpUntil([&] { return log.count(winsock::FD_CONNECT) == 1; }));
    }
    peer.release.Open();
    // Data and the close arrive for a window that no longer exists: nothing may reach it.
    for (int i = 0; i < 5; ++i)
        platform::WaitMessage(50);
    EXPECT_EQ(ws.closesocket(s), 0);
}

}  // namespace
