#pragma once
// The socket components: blocking-style operations (send a buffer, send and read text lines, move
// streams) on the one user-interface thread, without threads. In the normal, non-blocking mode
// every operation is a loop: each pass tries its Winsock call, then processes the pending window
// messages (socket notices, the one-second ticks of the time-out counter, user input); a pass that
// made no progress then sleeps until the next message instead of trying again at once. A stream
// receive whose blocks keep arriving processes the messages every 10 ms instead of every pass.
#include "framework/Classes.h"
#include "framework/Exceptions.h"
#include "framework/Streams.h"
#include "net/msReply.h"
#include "net/msTimers.h"
#include "net/msWinsock.h"
#include "platform/MessageWindow.h"

#include <QElapsedTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace net {

// The message number of socket notices.
inline constexpr platform::UINT kSocketMessage = 2146;
// The message number of the answers to a client socket's lookups by name.
inline constexpr platform::UINT kLookupMessage = 2147;
// Stream transfers move at most this many bytes per call.
inline constexpr int kTransferBlockSize = 32768;
// The receive buffer a transfer's data connection asks for. With the system's own sizing, a
// receiver that takes 32768 bytes a call keeps draining the buffer and sleeping until the sender
// refills it; with room for a few megabytes the sender stays ahead and a retrieval on loopback
// costs half the CPU time (bench/README.md).
inline constexpr int kDataReceiveBufferSize = 4 * 1024 * 1024;
// ReadLine asks the socket for up to this many bytes at a time and keeps what follows the line.
inline constexpr int kReadAheadSize = 4096;

class EmsTimedOutError : public fw::Exception {
public:
    EmsTimedOutError() : Exception("Operation timed out") {}
};

// A transfer moved less than its minimum rate over a whole window (TmsTimeCounter::WatchRate).
class EmsStalledError : public fw::Exception {
public:
    EmsStalledError(std::int64_t bytesPerSecond, std::int64_t windowSeconds)
        : Exception("Transfer stalled: less than " + std::to_string(bytesPerSecond) + " bytes a second over " +
                    std::to_string(windowSeconds) + " seconds")
    {
    }
};

class EmsCanceledError : public fw::Exception {
public:
    EmsCanceledError() : Exception("Operation has been canceled") {}
};

// A server refused a command; the message is the server's reply line.
class EmsServerError : public fw::Exception {
public:
    using Exception::Exception;
};

// A received line that cannot be used as text: longer than the line buffer, or holding a zero
// byte. The line has been consumed up to its LF (unless it ran past kMaxLineBytes).
class EmsLineError : public fw::Exception {
public:
    using Exception::Exception;
};

// The server sent more than the client takes: a listing or a file past its cap, more bytes than it
// announced. Nothing beyond the limit has been kept.
class EmsLimitError : public fw::Exception {
public:
    using Exception::Exception;
};

// The server sent a file larger than the retrieval takes (its limit, in bytes).
class EmsFileSizeError : public EmsLimitError {
public:
    explicit EmsFileSizeError(std::int64_t limit)
        : EmsLimitError("The file is larger than " + std::to_string(limit) + " bytes"), m_limit(limit)
    {
    }
    std::int64_t Limit() const { return m_limit; }

private:
    std::int64_t m_limit;
};

// The server sent more than the size it announced for the file (the limit, in bytes).
class EmsAnnouncedSizeError : public EmsLimitError {
public:
    explicit EmsAnnouncedSizeError(std::int64_t announced)
        : EmsLimitError("The server sent more than the " + std::to_string(announced) + " bytes it announced"),
          m_announced(announced)
    {
    }
    std::int64_t Announced() const { return m_announced; }

private:
    std::int64_t m_announced;
};

// A retrieval that the server ended in order, but short of the size it announced for the file: the
// file is not whole (a server that truncates, a proxy that cut the stream and said nothing).
class EmsShortTransferError : public fw::Exception {
public:
    EmsShortTransferError(std::int64_t received, std::int64_t announced)
        : Exception("The transfer ended after " + std::to_string(received) + " of the " + std::to_string(announced) +
                    " bytes announced"),
          m_received(received), m_announced(announced)
    {
    }
    std::int64_t Received() const { return m_received; }
    std::int64_t Announced() const { return m_announced; }

private:
    std::int64_t m_received;
    std::int64_t m_announced;
};

using TmsProgressEvent =
    std::function<void(fw::TObject *Sender, std::int32_t Perc, std::int32_t ByteCount, std::int32_t LineCount)>;
using TmsLineTransferEvent = std::function<void(fw::TObject *Sender, const std::string &TheLine)>;

// Percentage `part` × 100 / `whole`, rounded to the nearest integer, halves to even; exact for
// any 64-bit part.
std::int32_t PercentOf(std::int64_t part, std::int64_t whole);

class TmsSocketBase : public fw::TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Version READ VersionText WRITE SetVersionText)
public:
    explicit TmsSocketBase(QObject *owner = nullptr);
    // Does not close SocketHandle: owners call Disconnect (or StopListening) first.
    ~TmsSocketBase() override;

    platform::HWND WindowHandle() const { return m_window->Handle(); }
    std::int32_t SleepTime() const { return m_sleepTime; }
    void SetSleepTime(std::int32_t ms) { m_sleepTime = ms; }
    std::int32_t TimeOut() const { return m_timeOut; }
    void SetTimeOut(std::int32_t seconds);
    TmsTimeCounter *TimeCounter() const { return m_timeCounter.get(); }
    bool Blocking() const { return m_blocking; }
    void SetBlocking(bool value) { m_blocking = value; }
    SOCKET SocketHandle() const { return m_socket; }
    void SetSocketHandle(SOCKET handle) { m_socket = handle; }
    std::int32_t LastResult() const { return m_lastResult; }
    std::uint16_t AsyncError() const { return m_asyncError; }
    std::string Version() const { return "2.02"; }

    void ApplyBlockingMode(bool blocking);
    void StartTimeOut();
    void StopTimeOut();
    void RestartTimeOut();
    bool TimedOut() const;
    [[noreturn]] void RaiseWinsockError(int code) const;

    // The component this socket works for when no Qt parent says so (the sockets of an FTP
    // client's transfers): a wait on this socket is a wait of that component too. Not owned.
    void SetWorksFor(const TmsSocketBase *component) { m_worksFor = component; }
    const TmsSocketBase *WorksFor() const { return m_worksFor; }

    // The receive buffer asked for the socket that Connect or StartListening creates (0: the
    // system sizes it); a listener's accepted connections inherit it. A size past what the system
    // grants leaves the sizing to the system.
    std::int32_t ReceiveBufferSize() const { return m_receiveBufferSize; }
    void SetReceiveBufferSize(std::int32_t bytes) { m_receiveBufferSize = bytes; }

protected:
    virtual platform::LRESULT HandleSocketMessage(platform::UINT msg, platform::WPARAM wParam,
                                                  platform::LPARAM lParam) = 0;

    std::int32_t m_sleepTime = -1;
    std::int32_t m_timeOut = 60;
    std::unique_ptr<TmsTimeCounter> m_timeCounter;
    bool m_blocking = false;
    SOCKET m_socket = winsock::INVALID_SOCKET;
    std::int32_t m_lastResult = 0;
    std::uint16_t m_asyncError = 0;

    // Asks for ReceiveBufferSize on the new SocketHandle, before it connects or listens.
    void ApplyReceiveBufferSize();

private:
    const TmsSocketBase *m_worksFor = nullptr;
    std::int32_t m_receiveBufferSize = 0;
    QString VersionText() const { return QStringLiteral("2.02"); }
    void SetVersionText(const QString &) {}  // a stored value is ignored

    std::unique_ptr<platform::MessageWindow> m_window;
};

class TmsSocket : public TmsSocketBase {
    Q_OBJECT
    Q_PROPERTY(int TimeOut READ TimeOut WRITE SetTimeOut)
public:
    explicit TmsSocket(QObject *owner = nullptr);

    fw::TNotifyEvent OnDisconnected;
    fw::TNotifyEvent OnConnected;
    TmsProgressEvent OnTransferProgress;
    TmsLineTransferEvent OnLineSent;
    TmsLineTransferEvent OnLineReceived;
    fw::TNotifyEvent OnReadReady;
    fw::TNotifyEvent OnWriteReady;
    fw::TNotifyEvent OnOutOfBand;

    // Set by a caller (typically from code that runs inside the message processing of an
    // operation) to make the running operation stop with EmsCanceledError.
    bool CancelRequested = false;

    // Judged from the connection itself, not from the notices: the handle is open and the peer
    // has neither closed nor reset it (a look at the socket that takes nothing from it). A close
    // that came with an error fires no event a flag could follow.
    virtual bool Connected() const;
    bool PeerClosed() const { return m_peerClosed; }
    // Whether the last ReadLine ended at an LF (false when the peer closed first).
    bool LastLineComplete() const { return m_lastLineComplete; }
    // Bytes that ReadLine received after its line and holds for the next read: ReadLine, Receive
    // and ReceiveToStream take them first, in the order they came. Dropped with the connection.
    int BufferedBytes() const { return m_readAheadEnd - m_readAheadPos; }

    void SelectEvents();
    virtual void ResetState();
    void SendBuffer(const void *data, int length);
    // The held bytes (BufferedBytes), when there are any; else one recv, its result unchecked.
    int Receive(void *buffer, int length);
    void SendLine(const std::string &text);
    std::string ReadLine();
    void SendStream(fw::TStream &stream, std::int64_t offset);
    void ReceiveToStream(fw::TStream &stream, std::int32_t count, std::int64_t offset);
    void Disconnect();

protected:
    platform::LRESULT HandleSocketMessage(platform::UINT msg, platform::WPARAM wParam,
                                          platform::LPARAM lParam) override;
    // The end of every pass of a waiting loop.
    void EndPass(bool progress, bool done);
    // A call of a waiting loop returned -1: raises, or returns when the loop may go on.
    void CallFailed();
    // After a waiting loop: stop the counter, then report a time-out or a cancel.
    void FinishWait();

    bool m_connected = false;
    bool m_peerClosed = false;
    bool m_lastLineComplete = false;

private:
    // Takes up to `length` of the held bytes; returns how many.
    int TakeBuffered(char *buffer, int length);
    void DropBuffered() { m_readAheadPos = m_readAheadEnd = 0; }

    std::vector<char> m_readAhead;  // kReadAheadSize bytes once a line has been read
    int m_readAheadPos = 0;         // the held bytes are [m_readAheadPos, m_readAheadEnd)
    int m_readAheadEnd = 0;
};

class TmsClientSocket : public TmsSocket {
    Q_OBJECT
    Q_PROPERTY(QString Host READ HostText WRITE SetHostText)
    Q_PROPERTY(int Port READ PortValue WRITE SetPortValue)
    Q_PROPERTY(bool Blocking READ Blocking WRITE SetBlocking)
public:
    explicit TmsClientSocket(QObject *owner = nullptr);

    fw::TNotifyEvent OnConnecting;

    const std::string &Host() const { return m_host; }
    // Splits a port given after a colon, unless a proxy is set. An IPv6 address is given in
    // brackets when a port follows ("[::1]:2121"); without brackets a text with more than one
    // colon is an IPv6 address whole ("::1").
    void SetHost(const std::string &text);
    std::uint16_t Port() const { return m_port; }
    void SetPort(std::uint16_t port) { m_port = port; }
    const std::string &Proxy() const { return m_proxy; }
    std::uint16_t ProxyPort() const { return m_proxyPort; }
    void SetProxyPort(std::uint16_t port) { m_proxyPort = port; }
    std::uint16_t DefaultPort() const { return m_defaultPort; }
    const std::string &LastReply() const { return m_lastReply; }
    // Whether the last reply arrived whole (false when the peer closed before its end).
    bool LastReplyComplete() const { return m_lastReplyComplete; }
    // The IPv4 address (network byte order) that the last Connect went to: the server's, or the
    // proxy's when one is set; 0 when it went to an IPv6 address.
    std::uint32_t PeerAddress() const { return m_peerAddress; }
    // The address, IPv4 or IPv6, that the last Connect went to.
    const TmsInetAddress &Peer() const { return m_peer; }

    virtual int GetReplyCode(const std::string &line);
    // Looks the host (or the proxy) up and tries its addresses in the resolver's order, the next
    // one after a refused or timed-out connect, all within the one TimeOut; a failure names the
    // last address's. In non-blocking mode the lookup runs in the socket library while the wait
    // processes messages, so the time-out and a cancel end it too.
    virtual void Connect();
    int ReadReplyLine(std::string &line);
    int ReadReply();

protected:
    platform::LRESULT HandleSocketMessage(platform::UINT msg, platform::WPARAM wParam,
                                          platform::LPARAM lParam) override;

    std::string m_host;
    std::uint16_t m_port = 0;
    std::string m_proxy;
    std::uint16_t m_proxyPort = 0;
    std::string m_lastReply;
    bool m_lastReplyComplete = false;
    std::uint16_t m_defaultPort = 0;
    std::uint32_t m_peerAddress = winsock::WS_INADDR_ANY;
    TmsInetAddress m_peer;
    // A proxy text that names no host (":2121", "[]"): Connect refuses it rather than connect
    // straight to the host.
    std::string m_proxyWithoutHost;

private:
    // The addresses of a name, in the resolver's order (a dotted IPv4 address without a lookup).
    std::vector<TmsInetAddress> LookUp(const std::string &name);
    // One connect to one address, until it is up, fails, or `untilMs` of `clock` (-1: the
    // time-out alone); false with `error` set when it failed or ran out of its time.
    bool TryAddress(const TmsInetAddress &address, std::uint16_t port, const QElapsedTimer &clock, qint64 untilMs,
                    int &error);

    winsock::HANDLE m_lookupTask = 0;
    bool m_lookupDone = false;
    int m_lookupError = 0;
    winsock::ADDRLIST m_lookupAnswer{};  // filled by the socket library before its answer comes

    QString HostText() const;
    void SetHostText(const QString &text);
    int PortValue() const { return m_port; }
    void SetPortValue(int port) { m_port = static_cast<std::uint16_t>(port); }
};

class TmsListenerSocketBase : public TmsSocketBase {
    Q_OBJECT
    Q_PROPERTY(int Port READ PortValue WRITE SetPortValue)
    Q_PROPERTY(int ServerSocketTimeOut READ ServerSocketTimeOut WRITE SetServerSocketTimeOut)
    Q_PROPERTY(bool BlockingServerSockets READ BlockingServerSockets WRITE SetBlockingServerSockets)
public:
    explicit TmsListenerSocketBase(QObject *owner = nullptr);

    fw::TNotifyEvent OnStart;
    fw::TNotifyEvent OnStop;

    std::uint16_t Port() const { return m_port; }
    void SetPort(std::uint16_t port) { m_port = port; }
    std::int32_t ServerSocketTimeOut() const { return m_serverSocketTimeOut; }
    void SetServerSocketTimeOut(std::int32_t seconds) { m_serverSocketTimeOut = seconds; }
    bool BlockingServerSockets() const { return m_blockingServerSockets; }
    void SetBlockingServerSockets(bool value) { m_blockingServerSockets = value; }
    // The local IPv4 address (network byte order) to listen on; INADDR_ANY, the default, listens
    // on every interface.
    std::uint32_t BindAddress() const { return m_bindAddress; }
    void SetBindAddress(std::uint32_t address)
    {
        m_bindAddress = address;
        m_bindInetAddress = TmsInetAddress{};
    }
    // The local address, IPv4 or IPv6, to listen on; it replaces BindAddress.
    void SetBindAddress(const TmsInetAddress &address) { m_bindInetAddress = address; }

    void StartListening();
    void StopListening();

protected:
    platform::LRESULT HandleSocketMessage(platform::UINT msg, platform::WPARAM wParam,
                                          platform::LPARAM lParam) override;
    virtual void AcceptConnection() = 0;

    std::uint16_t m_port = 0;
    std::int32_t m_serverSocketTimeOut = 60;
    bool m_blockingServerSockets = false;
    std::uint32_t m_bindAddress = winsock::WS_INADDR_ANY;
    TmsInetAddress m_bindInetAddress;  // none: BindAddress

private:
    int PortValue() const { return m_port; }
    void SetPortValue(int port) { m_port = static_cast<std::uint16_t>(port); }
};

class TmsSimpleListenerSocket : public TmsListenerSocketBase {
    Q_OBJECT
public:
    explicit TmsSimpleListenerSocket(QObject *owner = nullptr);
    // Frees AcceptedSocket without closing its handle.
    ~TmsSimpleListenerSocket() override;

    fw::TNotifyEvent OnSLSConnectionRequested;
    TmsSocket &AcceptedSocket() const { return *m_acceptedSocket; }
    // The only IPv4 address (network byte order) whose connections are taken; a connection from
    // any other is closed at once and the listener goes on waiting. INADDR_ANY, the default, takes
    // every peer.
    std::uint32_t AllowedPeer() const { return m_allowedPeer; }
    void SetAllowedPeer(std::uint32_t address)
    {
        m_allowedPeer = address;
        m_allowedInetPeer = TmsInetAddress{};
    }
    // The only address, IPv4 or IPv6, whose connections are taken; it replaces AllowedPeer.
    void SetAllowedPeer(const TmsInetAddress &address) { m_allowedInetPeer = address; }

protected:
    void AcceptConnection() override;

private:
    TmsSocket *m_acceptedSocket;  // owned by this listener (Qt parent)
    std::uint32_t m_allowedPeer = winsock::WS_INADDR_ANY;
    TmsInetAddress m_allowedInetPeer;  // none: AllowedPeer
};

// A port number given after a colon in a host or proxy text: decimal, 0 to 65535; anything else
// is not a port and leaves `port` alone.
bool ParsePort(const std::string &text, std::uint16_t &port);

// Closes a connection (Disconnect) or stops a listener (StopListening) where a failure of the
// close must not be heard: a way out that already carries its news (an error on its way, an end
// event still to come) or code that must not throw. A failing close is a handler of OnDisconnected
// or OnStop that throws, or a close that the socket library refuses. Every call says why silence
// is right there.
void QuietDisconnect(TmsSocket &socket) noexcept;
void QuietDisconnect(TmsListenerSocketBase &listener) noexcept;

}  // namespace net
