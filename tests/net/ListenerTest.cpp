// The listening socket on real loopback connections.
#include "common/ExceptionText.h"
#include "common/LoopbackPeer.h"
#include "common/Pump.h"
#include "common/ScriptedDialogs.h"
#include "net/Mssocket.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace net;

using testutil::Message;

std::uint16_t ListeningPort(const TmsListenerSocketBase &listener)
{
    winsock::SOCKADDR name{};
    int len = sizeof name;
    EXPECT_EQ(GlobalWinsock().getsockname(listener.SocketHandle(), &name, &len), 0);
    winsock::SOCKADDR_IN in{};
    std::memcpy(&in, &name, sizeof in);
    return static_cast<std::uint16_t>((in.sin_port >> 8) | (in.sin_port << 8));
}

TEST(Listener, DefaultsAndEvents)
{
    TmsSimpleListenerSocket listener;
    EXPECT_EQ(listener.Port(), 0);
    EXPECT_EQ(listener.ServerSocketTimeOut(), 60);
    EXPECT_FALSE(listener.BlockingServerSockets());
    EXPECT_EQ(listener.AcceptedSocket().TimeOut(), 60);
    EXPECT_EQ(listener.AcceptedSocket().parent(), &listener);
    int started = 0;
    int stopped = 0;
    listener.OnStart = [&](fw::TObject *s) {
        EXPECT_EQ(s, &listener);
        ++started;
    };
    listener.OnStop = [&](fw::TObject *) { ++stopped; };
    listener.StartListening();
    EXPECT_EQ(started, 1);
    listener.StopListening();
    EXPECT_EQ(stopped, 1);
}

TEST(Listener, PortZeroAcceptsAndDataWaitsInTheAcceptedSocket)
{
    TmsSimpleListenerSocket listener;
    int requested = 0;
    listener.OnSLSConnectionRequested = [&](fw::TObject *s) {
        EXPECT_EQ(s, &listener);
        ++requested;
    };
    listener.StartListening();
    const std::uint16_t port = ListeningPort(listener);
    ASSERT_NE(port, 0);
    std::thread client([port] {
        const int fd = testutil::ConnectLoopback(port);
        testutil::SendAll(fd, "right after connecting\r\n");
        ::close(fd);
    });
    ASSERT_TRUE(testutil::PumpUntil([&] { return requested == 1; }));
    client.join();
    TmsSocket &data = listener.AcceptedSocket();
    EXPECT_NE(data.SocketHandle(), winsock::INVALID_SOCKET);
    EXPECT_EQ(data.ReadLine(), "right after connecting");
    EXPECT_EQ(data.ReadLine(), "");
    EXPECT_TRUE(data.PeerClosed());
    data.Disconnect();
    listener.StopListening();
}

// A size every kernel grants (its limit is 212992 bytes or more); Linux keeps it doubled.
constexpr int kSmallReceiveBuffer = 100000;

int ReceiveBufferOf(const TmsSocketBase &socket)
{
    int size = 0;
    int length = sizeof size;
    EXPECT_EQ(GlobalWinsock().getsockopt(socket.SocketHandle(), winsock::WS_SOL_SOCKET, winsock::WS_SO_RCVBUF,
                                         reinterpret_cast<char *>(&size), &length),
              0);
    return size;
}

TEST(Listener, AcceptedConnectionHasTheListenersReceiveBuffer)
{
    TmsSimpleListenerSocket listener;
    listener.SetReceiveBufferSize(kSmallReceiveBuffer);
    int requested = 0;
    listener.OnSLSConnectionRequested = [&](fw::TObject *) { ++requested; };
    listener.StartListening();
    std::thread client([port = ListeningPort(listener)] { ::close(testutil::ConnectLoopback(port)); });
    ASSERT_TRUE(testutil::PumpUntil([&] { return requested == 1; }));
    client.join();
    EXPECT_EQ(ReceiveBufferOf(listener.AcceptedSocket()), 2 * kSmallReceiveBuffer);
    listener.AcceptedSocket().Disconnect();
    listener.StopListening();
}

TEST(Listener, ClientSocketAsksForItsReceiveBufferBeforeConnecting)
{
    TmsSimpleListenerSocket listener;
    listener.StartListening();
    TmsClientSocket client;
    client.SetReceiveBufferSize(kSmallReceiveBuffer);
    client.SetHost("127.0.0.1:" + std::to_string(ListeningPort(listener)));
    client.Connect();
    EXPECT_EQ(ReceiveBufferOf(client), 2 * kSmallReceiveBuffer);
    TmsClientSocket unsized;
    unsized.SetHost("127.0.0.1:" + std::to_string(ListeningPort(listener)));
    unsized.Connect();
    EXPECT_NE(ReceiveBufferOf(unsized), 2 * kSmallReceiveBuffer);
    client.Disconnect();
    unsized.Disconnect();
    listener.StopListening();
}

TEST(Listener, SecondConnectionReplacesTheFirstWhichIsClosed)
{
    TmsSimpleListenerSocket listener;
    int requested = 0;
    listener.OnSLSConnectionRequested = [&](fw::TObject *) { ++requested; };
    listener.StartListening();
    const std::uint16_t port = ListeningPort(listener);
    const int first = testutil::ConnectLoopback(port);
    ASSERT_TRUE(testutil::PumpUntil([&] { return requested == 1; }));
    const SOCKET firstHandle = listener.AcceptedSocket().SocketHandle();
    const int second = testutil::ConnectLoopback(port);
    ASSERT_TRUE(testutil::PumpUntil([&] { return requested == 2; }));
    const SOCKET secondHandle = listener.AcceptedSocket().SocketHandle();
    EXPECT_NE(firstHandle, secondHandle);
    // A replaced connection would otherwise leak its descriptor: the first peer sees the close.
    EXPECT_EQ(testutil::ReceiveAll(first), "");
    EXPECT_EQ(GlobalWinsock().closesocket(firstHandle), winsock::SOCKET_ERROR) << "the first is closed";
    testutil::SendAll(second, "from the second\n");
    EXPECT_EQ(listener.AcceptedSocket().ReadLine(), "from the second");
    listener.AcceptedSocket().Disconnect();
    listener.StopListening();
    ::close(first);
    ::close(second);
}

TEST(Listener, TakesOnlyTheAllowedPeerOnTheBoundAddress)
{
    TmsSimpleListenerSocket listener;
    int requested = 0;
    listener.OnSLSConnectionRequested = [&](fw::TObject *) { ++requested; };
    listener.SetBindAddress(GlobalWinsock().ParseAddress("127.0.0.1"));
    listener.SetAllowedPeer(GlobalWinsock().ParseAddress("127.0.0.1"));
    listener.StartListening();
    const std::uint16_t port = ListeningPort(listener);
    // From 127.0.0.2 (loopback too): closed at once, no event.
    const int stranger = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    ASSERT_EQ(::bind(stranger, reinterpret_cast<sockaddr *>(&from), sizeof from), 0);
    ASSERT_EQ(::connect(stranger, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    bool strangerClosed = false;
    ASSERT_TRUE(testutil::PumpUntil([&] {
        pollfd p{stranger, POLLIN, 0};
        char byte = 0;
        strangerClosed = ::poll(&p, 1, 0) == 1 && ::recv(stranger, &byte, 1, MSG_DONTWAIT) <= 0;
        return strangerClosed;
    }));
    EXPECT_EQ(requested, 0);
    EXPECT_EQ(listener.AcceptedSocket().SocketHandle(), winsock::INVALID_SOCKET);
    const int server = testutil::ConnectLoopback(port);
    ASSERT_TRUE(testutil::PumpUntil([&] { return requested == 1; }));
    // Not listening on every interface: the same port on another local address is refused.
    to.sin_addr = from.sin_addr;
    const int elsewhere = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_NE(::connect(elsewhere, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    ::close(elsewhere);
    listener.AcceptedSocket().Disconnect();
    listener.StopListening();
    ::close(stranger);
    ::close(server);
}

TEST(Listener, StopListeningTwice)
{
    TmsSimpleListenerSocket listener;
    int stopped = 0;
    listener.OnStop = [&](fw::TObject *) { ++stopped; };
    listener.StartListening();
    const SOCKET handle = listener.SocketHandle();
    listener.StopListening();
    EXPECT_EQ(listener.SocketHandle(), handle) << "keeps its old value";
    EXPECT_EQ(Message([&] { listener.StopListening(); }), "[10038] Socket operation on non-socket");
    EXPECT_EQ(stopped, 1);
}

TEST(Listener, PortInUse)
{
    TmsSimpleListenerSocket first;
    first.StartListening();
    TmsSimpleListenerSocket second;
    second.SetPort(ListeningPort(first));
    EXPECT_EQ(Message([&] { second.StartListening(); }), "[10048] Address already in use");
    second.StopListening();  // the handle made before the failure stays open until closed
    first.StopListening();
}

TEST(Listener, ExceptionFromTheEventIsShownNotPropagated)
{
    testutil::ScriptedDialogs dialogs;
    TmsSimpleListenerSocket listener;
    bool requested = false;
    listener.OnSLSConnectionRequested = [&](fw::TObject *) {
        requested = true;
        throw fw::Exception("handler failed");
    };
    listener.StartListening();
    const int fd = testutil::ConnectLoopback(ListeningPort(listener));
    ASSERT_TRUE(testutil::PumpUntil([&] { return requested; }));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "handler failed.");
    listener.AcceptedSocket().Disconnect();
    listener.StopListening();
    ::close(fd);
}

}  // namespace
