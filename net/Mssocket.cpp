#include "net/Mssocket.h"

#include "framework/Ansi.h"
#include "framework/Application.h"

#include <QScopeGuard>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

namespace net {
namespace {

// A pass that made no progress sleeps until the next message, or this long at most. The
// one-second ticks of the time-out counter wake it anyway.
constexpr int kIdleWaitMs = 1000;
// While a stream's blocks keep arriving, messages are processed at most this often: one pass of
// the message pump costs more than a block's own receive and write. Before every wait and at the
// end they are always processed, so a cancel or a redraw waits this long plus a block at most.
constexpr auto kBusyPumpInterval = std::chrono::milliseconds(10);
// recv's flag that looks at the bytes waiting without taking them.
constexpr int kPeek = 2;
constexpr winsock::LONG kConnectedEvents =
    winsock::FD_READ | winsock::FD_WRITE | winsock::FD_OOB | winsock::FD_CONNECT | winsock::FD_CLOSE;

std::int32_t ClampToInt32(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

// A component is never entered a second time from a handler that runs inside one of its own
// waits: the second command would read the replies the first one waits for. While a wait runs,
// its socket and every socket that it works for (an FTP client's transfer sockets work for the
// client, through their Qt parent or SetWorksFor) count as waiting, and a debug build stops at
// once when a wait begins on one of them. Events fired between waits may use the component: an
// FTP client's OnDataTransferStart comes before the transfer has sent anything, and its handler
// may ask the file's size.
class ReentryCheck {
public:
#ifdef NDEBUG
    explicit ReentryCheck(const TmsSocketBase &) {}
#else
    explicit ReentryCheck(const TmsSocketBase &socket) : m_mark(waiting().size())
    {
        if (std::find(waiting().begin(), waiting().end(), &socket) != waiting().end())
            qFatal("%s '%s' entered a second time from a handler inside its own wait", socket.metaObject()->className(),
                   qPrintable(socket.objectName()));
        for (const QObject *o = &socket; o != nullptr;) {
            const auto *component = qobject_cast<const TmsSocketBase *>(o);
            if (component != nullptr)
                waiting().push_back(o);
            o = component != nullptr && component->WorksFor() != nullptr ? component->WorksFor() : o->parent();
        }
    }
    ~ReentryCheck()
    {
        waiting().resize(m_mark);
    }

private:
    static std::vector<const QObject *> &waiting()
    {
        thread_local std::vector<const QObject *> components;
        return components;
    }
    size_t m_mark;
#endif
};

// Guards a waiting loop: checks re-entry, and stops the time-out counter however the loop ends.
class WaitScope {
public:
    explicit WaitScope(TmsSocketBase &socket) : m_check(socket), m_socket(socket) { m_socket.StartTimeOut(); }
    ~WaitScope() { m_socket.StopTimeOut(); }
    WaitScope(const WaitScope &) = delete;
    WaitScope &operator=(const WaitScope &) = delete;

private:
    ReentryCheck m_check;
    TmsSocketBase &m_socket;
};

}  // namespace

bool ParsePort(const std::string &text, std::uint16_t &port)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    // Leading zeros count for nothing ("0021" is 21); past 65535 the value stops growing.
    int value = 0;
    for (const char c : text)
        value = std::min(value * 10 + (c - '0'), 65536);
    if (value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

void QuietDisconnect(TmsSocket &socket) noexcept
{
    try {
        socket.Disconnect();
    } catch (...) {
        // The caller said why nobody is to hear of it.
    }
}

void QuietDisconnect(TmsListenerSocketBase &listener) noexcept
{
    try {
        listener.StopListening();
    } catch (...) {
        // The caller said why nobody is to hear of it.
    }
}

std::int32_t PercentOf(std::int64_t part, std::int64_t whole)
{
    if (whole == 0)
        return 0;
    const __int128 num = static_cast<__int128>(part) * 100;
    const __int128 den = whole;
    __int128 q = num / den;
    __int128 r = num % den;
    if (r < 0) {  // floor division, so the remainder is non-negative
        q -= 1;
        r += den < 0 ? -den : den;
    }
    const __int128 absDen = den < 0 ? -den : den;
    if (2 * r > absDen || (2 * r == absDen && (q % 2) != 0))
        q += 1;
    return ClampToInt32(static_cast<std::int64_t>(
        std::clamp<__int128>(q, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max())));
}

// ---- TmsSocketBase ----

TmsSocketBase::TmsSocketBase(QObject *owner)
    : fw::TComponent(owner), m_timeCounter(std::make_unique<TmsTimeCounter>()),
      m_window(
          std::make_unique<platform::MessageWindow>([this](platform::UINT msg, platform::WPARAM w, platform::LPARAM l) {
              return HandleSocketMessage(msg, w, l);
          }))
{
}

TmsSocketBase::~TmsSocketBase() = default;

void TmsSocketBase::SetTimeOut(std::int32_t seconds)
{
    m_timeOut = seconds;
    if (m_timeCounter)
        m_timeCounter->SetPeriod(seconds);
}

void TmsSocketBase::ApplyReceiveBufferSize()
{
    if (m_receiveBufferSize <= 0)
        return;
    TmsWinsock &ws = GlobalWinsock();
    const int size = m_receiveBufferSize;
    if (ws.setsockopt(m_socket, winsock::WS_SOL_SOCKET, winsock::WS_SO_RCVBUF, reinterpret_cast<const char *>(&size),
                      sizeof size) == winsock::SOCKET_ERROR)
        RaiseWinsockError(ws.WSAGetLastError());
}

void TmsSocketBase::ApplyBlockingMode(bool blocking)
{
    TmsWinsock &ws = GlobalWinsock();
    if (blocking) {
        if (ws.WSAAsyncSelect(m_socket, WindowHandle(), kSocketMessage, 0) == winsock::SOCKET_ERROR)
            RaiseWinsockError(ws.WSAGetLastError());
        winsock::u_long off = 0;
        if (ws.ioctlsocket(m_socket, winsock::WS_FIONBIO, &off) == winsock::SOCKET_ERROR)
            RaiseWinsockError(ws.WSAGetLastError());
        m_timeCounter.reset();
        return;
    }
    winsock::u_long on = 1;
    if (ws.ioctlsocket(m_socket, winsock::WS_FIONBIO, &on) == winsock::SOCKET_ERROR)
        RaiseWinsockError(ws.WSAGetLastError());
    if (!m_timeCounter) {
        m_timeCounter = std::make_unique<TmsTimeCounter>();
        m_timeCounter->SetPeriod(m_timeOut);
    }
}

void TmsSocketBase::StartTimeOut()
{
    if (m_timeCounter)
        m_timeCounter->Start();
}

void TmsSocketBase::StopTimeOut()
{
    if (m_timeCounter)
        m_timeCounter->Stop();
}

void TmsSocketBase::RestartTimeOut()
{
    if (m_timeCounter)
        m_timeCounter->Restart();
}

bool TmsSocketBase::TimedOut() const
{
    return m_timeCounter && m_timeCounter->Expired();
}

void TmsSocketBase::RaiseWinsockError(int code) const
{
    GlobalWinsock().RaiseWinsockError(code);
}

// ---- TmsSocket ----

TmsSocket::TmsSocket(QObject *owner) : TmsSocketBase(owner) {}

platform::LRESULT TmsSocket::HandleSocketMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (msg != kSocketMessage)
        return platform::DefWindowProc(WindowHandle(), msg, wParam, lParam);
    // A notice of a handle this socket no longer holds (closed, or replaced by a newer one) says
    // nothing about the current connection.
    if (static_cast<SOCKET>(wParam) != m_socket)
        return 0;
    m_asyncError = TmsWinsock::SelectError(lParam);
    const auto event = TmsWinsock::SelectEvent(lParam);
    // A close that came with an error (a reset) is a close all the same.
    if (m_asyncError != 0 && event != winsock::FD_CLOSE)
        return 0;
    // The handlers run inside the event loop's dispatch, which no exception may cross.
    fw::CallFromSignal(this, [this, event] {
        switch (event) {
        case winsock::FD_READ: fw::Fire(OnReadReady, this); break;
        case winsock::FD_WRITE: fw::Fire(OnWriteReady, this); break;
        case winsock::FD_OOB: fw::Fire(OnOutOfBand, this); break;
        case winsock::FD_CONNECT:
            m_connected = true;  // OnConnected comes once, from Connect, when its wait has ended
            break;
        case winsock::FD_CLOSE:
            m_peerClosed = true;
            fw::Fire(OnDisconnected, this);
            break;
        default: break;
        }
    });
    return 0;
}

bool TmsSocket::Connected() const
{
    if (m_socket == winsock::INVALID_SOCKET || m_peerClosed)
        return false;
    if (BufferedBytes() > 0)
        return true;
    TmsWinsock &ws = GlobalWinsock();
    // A blocking socket would wait for a byte to look at: it looks without waiting.
    winsock::u_long nonBlocking = 1;
    if (m_blocking && ws.ioctlsocket(m_socket, winsock::WS_FIONBIO, &nonBlocking) == winsock::SOCKET_ERROR)
        return false;
    char byte = 0;
    const int result = ws.recv(m_socket, &byte, 1, kPeek);
    const int error = result == winsock::SOCKET_ERROR ? ws.WSAGetLastError() : 0;
    winsock::u_long blocking = 0;
    if (m_blocking)
        ws.ioctlsocket(m_socket, winsock::WS_FIONBIO, &blocking);
    // A byte waits, or nothing yet; 0 is the peer's close, any other error its reset (or a
    // connection that never came up).
    return result > 0 || (result == winsock::SOCKET_ERROR && error == winsock::WSAEWOULDBLOCK);
}

void TmsSocket::SelectEvents()
{
    if (m_blocking)
        return;
    TmsWinsock &ws = GlobalWinsock();
    if (ws.WSAAsyncSelect(m_socket, WindowHandle(), kSocketMessage, kConnectedEvents) == winsock::SOCKET_ERROR)
        RaiseWinsockError(ws.WSAGetLastError());
}

void TmsSocket::ResetState()
{
    DropBuffered();  // bytes of an earlier connection
    m_connected = false;
    m_peerClosed = false;
    CancelRequested = false;
    m_asyncError = 0;
    RestartTimeOut();
}

void TmsSocket::EndPass(bool progress, bool done)
{
    if (!m_blocking) {
        platform::ProcessMessages();
        if (!progress && !done && !CancelRequested && !TimedOut())
            platform::WaitMessage(kIdleWaitMs);
    }
    if (m_sleepTime >= 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_sleepTime));
}

void TmsSocket::CallFailed()
{
    const int error = GlobalWinsock().WSAGetLastError();
    if (m_blocking)
        RaiseWinsockError(error);
    if (error == winsock::WSAEWOULDBLOCK)
        return;
    if (CancelRequested || TimedOut())
        return;  // the loop ends and reports the time-out or the cancel instead
    RaiseWinsockError(error);
}

void TmsSocket::FinishWait()
{
    StopTimeOut();
    if (m_timeCounter && m_timeCounter->Stalled())
        throw EmsStalledError(m_timeCounter->MinimumRate(),
                              std::chrono::duration_cast<std::chrono::seconds>(m_timeCounter->RateWindow()).count());
    if (TimedOut())
        throw EmsTimedOutError();
    if (CancelRequested)
        throw EmsCanceledError();
}

void TmsSocket::SendBuffer(const void *data, int length)
{
    TmsWinsock &ws = GlobalWinsock();
    const auto *bytes = static_cast<const char *>(data);
    int sent = 0;
    bool done = false;
    WaitScope scope(*this);
    do {
        m_lastResult = ws.send(m_socket, bytes + sent, length - sent, 0);
        bool progress = false;
        if (m_lastResult == winsock::SOCKET_ERROR) {
            CallFailed();
        } else {
            sent += m_lastResult;
            done = sent >= length;
            RestartTimeOut();
            progress = true;
        }
        EndPass(progress, done);
    } while (!done && !TimedOut() && !CancelRequested);
    FinishWait();
}

int TmsSocket::TakeBuffered(char *buffer, int length)
{
    const int n = std::min(length, BufferedBytes());
    std::memcpy(buffer, m_readAhead.data() + m_readAheadPos, static_cast<size_t>(n));
    m_readAheadPos += n;
    return n;
}

int TmsSocket::Receive(void *buffer, int length)
{
    // Bytes that came with an earlier line come first, without a call.
    if (length > 0 && BufferedBytes() > 0)
        return TakeBuffered(static_cast<char *>(buffer), length);
    return GlobalWinsock().recv(m_socket, static_cast<char *>(buffer), length, 0);
}

void TmsSocket::SendLine(const std::string &text)
{
    const std::string line = text + "\r\n";
    SendBuffer(line.data(), static_cast<int>(line.size()));
    fw::Fire(OnLineSent, this, text);
}

std::string TmsSocket::ReadLine()
{
    TmsWinsock &ws = GlobalWinsock();
    LineAssembler assembler;
    bool done = false;
    m_lastLineComplete = false;
    {
        WaitScope scope(*this);
        do {
            // Bytes held from an earlier read come first; the socket is asked only when none
            // are left, so a line that is already here never waits for the network.
            const bool fromSocket = BufferedBytes() == 0;
            bool progress = true;
            if (fromSocket) {
                m_readAhead.resize(kReadAheadSize);
                m_lastResult = ws.recv(m_socket, m_readAhead.data(), kReadAheadSize, 0);
                m_readAheadPos = 0;
                m_readAheadEnd = std::max(0, m_lastResult);
            }
            if (CancelRequested)
                throw EmsCanceledError();
            if (fromSocket && m_lastResult == winsock::SOCKET_ERROR) {
                CallFailed();
                progress = false;
            } else if (fromSocket && m_lastResult == 0) {
                m_peerClosed = true;
                done = true;
            }
            if (progress)
                RestartTimeOut();
            // Up to the line's LF and no further: what follows stays held, in order.
            while (!done && m_readAheadPos < m_readAheadEnd)
                done = assembler.Add(m_readAhead[static_cast<size_t>(m_readAheadPos++)]);
            if (fromSocket)
                EndPass(progress, done);
        } while (!done && !TimedOut() && !CancelRequested);
    }
    m_lastLineComplete = assembler.Complete();
    FinishWait();
    std::string line = assembler.Take();
    fw::Fire(OnLineReceived, this, line);
    return line;
}

void TmsSocket::SendStream(fw::TStream &stream, std::int64_t offset)
{
    stream.Seek(offset, fw::SeekOrigin::Beginning);
    std::vector<char> buffer(kTransferBlockSize);
    std::int64_t n = 0;
    do {
        n = stream.Read(buffer.data(), kTransferBlockSize);
        SendBuffer(buffer.data(), static_cast<int>(n));
        const std::int64_t position = stream.Position();
        const std::int64_t size = stream.Size();
        // An empty stream has been sent whole.
        const std::int32_t perc = size == 0 ? 100 : PercentOf(position, size);
        fw::Fire(OnTransferProgress, this, perc, ClampToInt32(position), -1);
    } while (n == kTransferBlockSize);
}

void TmsSocket::ReceiveToStream(fw::TStream &stream, std::int32_t count, std::int64_t offset)
{
    if (count == 0)
        count = -1;
    stream.Seek(offset, fw::SeekOrigin::Beginning);
    std::vector<char> buffer(kTransferBlockSize);
    std::int64_t received = 0;
    bool done = false;
    auto nextPump = std::chrono::steady_clock::now() + kBusyPumpInterval;
    {
        WaitScope scope(*this);
        do {
            const int want = count > 0 ? static_cast<int>(std::min<std::int64_t>(count - received, kTransferBlockSize))
                                       : kTransferBlockSize;
            m_lastResult = Receive(buffer.data(), want);  // held bytes first
            if (CancelRequested)
                throw EmsCanceledError();
            bool progress = false;
            if (m_lastResult == winsock::SOCKET_ERROR) {
                CallFailed();
            } else if (m_lastResult > 0) {
                received += m_lastResult;
                stream.WriteBuffer(buffer.data(), m_lastResult);
                const std::int64_t position = stream.Position();
                fw::Fire(OnTransferProgress, this, count > 0 ? PercentOf(position, count) : -1, ClampToInt32(position),
                         -1);
                RestartTimeOut();
                progress = true;
                done = received == count;
            } else {
                m_peerClosed = true;
                done = true;
            }
            if (progress && !done && m_sleepTime < 0) {
                const auto now = std::chrono::steady_clock::now();
                if (now < nextPump)
                    continue;  // the next block is most likely there already
            }
            EndPass(progress, done);
            nextPump = std::chrono::steady_clock::now() + kBusyPumpInterval;
        } while (!done && !TimedOut() && !CancelRequested);
    }
    FinishWait();
}

void TmsSocket::Disconnect()
{
    DropBuffered();
    if (m_socket == winsock::INVALID_SOCKET)
        return;
    m_lastResult = GlobalWinsock().closesocket(m_socket);
    // The handle is gone even when the handler below throws.
    const auto forget = qScopeGuard([this] { m_socket = winsock::INVALID_SOCKET; });
    fw::Fire(OnDisconnected, this);
}

// ---- TmsClientSocket ----

TmsClientSocket::TmsClientSocket(QObject *owner) : TmsSocket(owner) {}

QString TmsClientSocket::HostText() const
{
    return fw::FromAnsi(m_host);
}

void TmsClientSocket::SetHostText(const QString &text)
{
    SetHost(fw::ToAnsi(text));
}

void TmsClientSocket::SetHost(const std::string &value)
{
    const std::string text = value.substr(0, 255);  // a short string holds 255 characters
    const auto colon = text.find(':');
    if (colon != std::string::npos && m_proxy.empty()) {
        std::string host = text.substr(0, colon);
        std::string portText = text.substr(colon + 1);
        bool withPort = true;
        if (text.front() == '[' && text.find(']') != std::string::npos) {
            // An IPv6 address in brackets, and the port after them when there is one.
            const auto close = text.find(']');
            host = text.substr(1, close - 1);
            withPort = close + 1 < text.size() && text[close + 1] == ':';
            portText = withPort ? text.substr(close + 2) : std::string();
        } else if (text.find(':', colon + 1) != std::string::npos) {
            host = text;  // an IPv6 address, with no port
            withPort = false;
        }
        m_host = host;
        std::uint16_t port = 0;
        if (withPort)
            m_port = ParsePort(portText, port) ? port : m_defaultPort;
        else if (m_defaultPort > 0)
            m_port = m_defaultPort;
        return;
    }
    m_host = text;
    if (m_defaultPort > 0)
        m_port = m_defaultPort;
}

int TmsClientSocket::GetReplyCode(const std::string &)
{
    return 1;
}

platform::LRESULT TmsClientSocket::HandleSocketMessage(platform::UINT msg, platform::WPARAM wParam,
                                                       platform::LPARAM lParam)
{
    if (msg != kLookupMessage)
        return TmsSocket::HandleSocketMessage(msg, wParam, lParam);
    // The answer of a lookup this socket no longer waits for says nothing (the library drops a
    // cancelled one, but one may have been posted just before).
    if (m_lookupTask != 0 && static_cast<winsock::HANDLE>(wParam) == m_lookupTask) {
        m_lookupDone = true;
        m_lookupError = TmsWinsock::SelectError(lParam);
    }
    return 0;
}

std::vector<TmsInetAddress> TmsClientSocket::LookUp(const std::string &name)
{
    TmsWinsock &ws = GlobalWinsock();
    // A text with a zero byte in it names no host.
    if (name.find('\0') != std::string::npos)
        RaiseWinsockError(winsock::WSAHOST_NOT_FOUND);
    // A dotted address is used as it is, without asking anyone.
    const std::uint32_t dotted = ws.inet_addr(name.c_str());
    if (dotted != winsock::WS_INADDR_NONE)
        return {TmsInetAddress::FromIPv4(dotted)};
    m_lookupAnswer = winsock::ADDRLIST{};
    auto *buffer = reinterpret_cast<char *>(&m_lookupAnswer);
    if (m_blocking) {
        if (ws.WSAGetAddrByName(name.c_str(), buffer, sizeof m_lookupAnswer) == winsock::SOCKET_ERROR)
            RaiseWinsockError(ws.WSAGetLastError());
    } else {
        m_lookupDone = false;
        m_lookupError = 0;
        m_lookupTask =
            ws.WSAAsyncGetAddrByName(WindowHandle(), kLookupMessage, name.c_str(), buffer, sizeof m_lookupAnswer);
        if (m_lookupTask == 0)
            RaiseWinsockError(ws.WSAGetLastError());
        // However the wait ends, a lookup still under way is dropped: its late answer is neither
        // written nor posted.
        const auto drop = qScopeGuard([this, &ws] {
            try {
                if (!m_lookupDone)
                    ws.WSACancelAsyncRequest(m_lookupTask);
            } catch (...) {
                // A library without the function has no lookup under way to drop.
            }
            m_lookupTask = 0;
        });
        while (!m_lookupDone && !TimedOut() && !CancelRequested) {
            platform::ProcessMessages();
            if (!m_lookupDone && !TimedOut() && !CancelRequested)
                platform::WaitMessage(kIdleWaitMs);
        }
        if (!m_lookupDone && TimedOut())
            RaiseWinsockError(winsock::WSATRY_AGAIN);  // the resolver did not answer in time
        if (!m_lookupDone)
            throw EmsCanceledError();
        if (m_lookupError != 0)
            RaiseWinsockError(m_lookupError);
    }
    std::vector<TmsInetAddress> addresses;
    bool broadcast = false;
    const int count = std::clamp(m_lookupAnswer.iAddressCount, 0, winsock::MAXADDRLIST);
    for (int i = 0; i < count; ++i) {
        const TmsInetAddress address = TmsInetAddress::FromSockAddr(m_lookupAnswer.Address[i]);
        // 255.255.255.255 is no host (a dotted text cannot even say it: it is inet_addr's failure).
        const bool isBroadcast = address.Family == winsock::WS_AF_INET && address.IPv4() == winsock::WS_INADDR_NONE;
        broadcast = broadcast || isBroadcast;
        if (address.Family != 0 && !isBroadcast)
            addresses.push_back(address);
    }
    if (addresses.empty())
        RaiseWinsockError(broadcast ? winsock::WSAEINVAL : winsock::WSANO_DATA);
    return addresses;
}

bool TmsClientSocket::TryAddress(const TmsInetAddress &address, std::uint16_t port, const QElapsedTimer &clock,
                                 qint64 untilMs, int &error)
{
    TmsWinsock &ws = GlobalWinsock();
    m_connected = false;
    m_asyncError = 0;
    m_socket = ws.socket(address.Family, winsock::WS_SOCK_STREAM, 0);
    if (m_socket == winsock::INVALID_SOCKET) {
        error = ws.WSAGetLastError();  // an IPv6 address on a system without IPv6, say
        return false;
    }
    ApplyReceiveBufferSize();  // before connecting: the window's scale is agreed at the handshake
    m_peer = address;
    m_peerAddress = address.IPv4();
    ApplyBlockingMode(m_blocking);
    SelectEvents();
    const winsock::SOCKADDR_INET name = address.ToSockAddr(ws.htons(port));
    m_lastResult = ws.connect(m_socket, reinterpret_cast<const winsock::SOCKADDR *>(&name), address.SockAddrLength());
    if (m_lastResult == winsock::SOCKET_ERROR) {
        const int e = ws.WSAGetLastError();
        if (m_blocking || e != winsock::WSAEWOULDBLOCK) {
            error = e;
            return false;
        }
    }
    if (m_blocking)
        return true;
    for (;;) {
        platform::ProcessMessages();
        if (m_connected || m_asyncError != 0 || TimedOut() || CancelRequested)
            break;
        qint64 waitMs = kIdleWaitMs;
        if (untilMs >= 0) {
            const qint64 left = untilMs - clock.elapsed();
            if (left <= 0) {
                error = winsock::WSAETIMEDOUT;  // this address's share of the time is spent
                return false;
            }
            waitMs = std::min(waitMs, left);
        }
        platform::WaitMessage(static_cast<int>(waitMs));
    }
    if (m_asyncError != 0) {
        error = m_asyncError;
        return false;
    }
    if (TimedOut())
        throw EmsTimedOutError();
    if (CancelRequested)
        throw EmsCanceledError();
    return true;
}

void TmsClientSocket::Connect()
{
    TmsWinsock &ws = GlobalWinsock();
    ResetState();
    fw::Fire(OnConnecting, this);
    if (!m_proxyWithoutHost.empty())
        throw fw::Exception("The proxy \"" + m_proxyWithoutHost + "\" names no host");
    const bool viaProxy = !m_proxy.empty();
    const std::uint16_t port = viaProxy ? m_proxyPort : m_port;
    QElapsedTimer clock;
    clock.start();
    // One time-out for the lookup and every address.
    std::optional<WaitScope> scope;
    if (!m_blocking)
        scope.emplace(*this);
    const std::vector<TmsInetAddress> addresses = LookUp(viaProxy ? m_proxy : m_host);
    for (size_t i = 0; i < addresses.size(); ++i) {
        const size_t left = addresses.size() - i;
        // Each address but the last has its share of the time left; the last one has all of it.
        qint64 untilMs = -1;
        if (!m_blocking && left > 1 && m_timeOut > 0) {
            const qint64 budgetMs = static_cast<qint64>(m_timeOut) * 1000;
            untilMs = clock.elapsed() + std::max<qint64>(0, budgetMs - clock.elapsed()) / static_cast<qint64>(left);
        }
        int error = 0;
        if (TryAddress(addresses[i], port, clock, untilMs, error))
            break;
        // The last address's failure is the one reported; its handle stays open, as a failed
        // connect leaves it. An earlier one is closed before the next address is tried.
        if (left == 1 || TimedOut() || CancelRequested)
            RaiseWinsockError(error);
        if (m_socket != winsock::INVALID_SOCKET)
            ws.closesocket(m_socket);
        m_socket = winsock::INVALID_SOCKET;
    }
    scope.reset();
    fw::Fire(OnConnected, this);
}

int TmsClientSocket::ReadReplyLine(std::string &line)
{
    line = ReadLine();
    return GetReplyCode(line);
}

int TmsClientSocket::ReadReply()
{
    ReplyAssembler reply;
    m_lastReplyComplete = false;
    int code = 0;
    do
        code = ReadReplyLine(m_lastReply);
    while (!reply.Add(m_lastReply, code, m_lastLineComplete));
    m_lastReplyComplete = reply.Complete();
    return reply.Code();
}

// ---- TmsListenerSocketBase ----

TmsListenerSocketBase::TmsListenerSocketBase(QObject *owner) : TmsSocketBase(owner) {}

void TmsListenerSocketBase::StartListening()
{
    TmsWinsock &ws = GlobalWinsock();
    const TmsInetAddress local =
        m_bindInetAddress.Family != 0 ? m_bindInetAddress : TmsInetAddress::FromIPv4(m_bindAddress);
    m_socket = ws.socket(local.Family, winsock::WS_SOCK_STREAM, winsock::WS_IPPROTO_TCP);
    if (m_socket == winsock::INVALID_SOCKET)
        RaiseWinsockError(ws.WSAGetLastError());
    ApplyReceiveBufferSize();  // before listening: accepted connections inherit it
    const winsock::SOCKADDR_INET name = local.ToSockAddr(ws.htons(m_port));
    m_lastResult = ws.bind(m_socket, reinterpret_cast<const winsock::SOCKADDR *>(&name), local.SockAddrLength());
    if (m_lastResult == winsock::SOCKET_ERROR)
        RaiseWinsockError(ws.WSAGetLastError());
    if (ws.WSAAsyncSelect(m_socket, WindowHandle(), kSocketMessage, winsock::FD_ACCEPT) == winsock::SOCKET_ERROR)
        RaiseWinsockError(ws.WSAGetLastError());
    m_lastResult = ws.listen(m_socket, 5);
    if (m_lastResult == winsock::SOCKET_ERROR)
        RaiseWinsockError(ws.WSAGetLastError());
    fw::Fire(OnStart, this);
}

void TmsListenerSocketBase::StopListening()
{
    TmsWinsock &ws = GlobalWinsock();
    m_lastResult = ws.closesocket(m_socket);
    if (m_lastResult == winsock::SOCKET_ERROR)
        RaiseWinsockError(ws.WSAGetLastError());
    fw::Fire(OnStop, this);
}

platform::LRESULT TmsListenerSocketBase::HandleSocketMessage(platform::UINT msg, platform::WPARAM wParam,
                                                             platform::LPARAM lParam)
{
    if (msg != kSocketMessage)
        return platform::DefWindowProc(WindowHandle(), msg, wParam, lParam);
    if (static_cast<SOCKET>(wParam) != m_socket)
        return 0;
    m_asyncError = TmsWinsock::SelectError(lParam);
    if (m_asyncError == 0 && TmsWinsock::SelectEvent(lParam) == winsock::FD_ACCEPT) {
        fw::CallFromSignal(this, [this] { AcceptConnection(); });
    }
    return 0;
}

// ---- TmsSimpleListenerSocket ----

TmsSimpleListenerSocket::TmsSimpleListenerSocket(QObject *owner)
    : TmsListenerSocketBase(owner), m_acceptedSocket(new TmsSocket(this))
{
}

TmsSimpleListenerSocket::~TmsSimpleListenerSocket() = default;

void TmsSimpleListenerSocket::AcceptConnection()
{
    TmsWinsock &ws = GlobalWinsock();
    winsock::SOCKADDR_INET peer{};
    int length = sizeof peer;
    const SOCKET accepted = ws.accept(m_socket, reinterpret_cast<winsock::SOCKADDR *>(&peer), &length);
    if (accepted == winsock::INVALID_SOCKET)
        RaiseWinsockError(ws.WSAGetLastError());
    const TmsInetAddress from = TmsInetAddress::FromSockAddr(peer);
    const bool allowed = m_allowedInetPeer.Family != 0
                             ? from == m_allowedInetPeer
                             : m_allowedPeer == winsock::WS_INADDR_ANY || from.IPv4() == m_allowedPeer;
    if (!allowed) {
        ws.closesocket(accepted);  // not the peer this listener waits for
        return;
    }
    // A connection that a newer one replaces is closed, not leaked.
    m_acceptedSocket->Disconnect();
    m_acceptedSocket->SetSocketHandle(accepted);
    m_acceptedSocket->SelectEvents();
    fw::Fire(OnSLSConnectionRequested, this);
}

}  // namespace net
