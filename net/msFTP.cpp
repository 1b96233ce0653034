#include "net/msFTP.h"

#include "framework/Ansi.h"
#include "platform/MessageWindow.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace net {
namespace {

constexpr int kMaxDataWaitSliceMs = 1000;
// A server may say "150" more than once before it connects, but not without end.
constexpr int kMaxPreliminaryReplies = 100;

// A stream that checks, before each write, the position the write would reach, so that a check
// can refuse what goes beyond a limit before it is written.
class LimitedStream final : public fw::TStream {
public:
    LimitedStream(fw::TStream &target, std::function<void(std::int64_t end)> check)
        : m_target(target), m_check(std::move(check))
    {
    }
    std::int64_t Read(void *buffer, std::int64_t count) override { return m_target.Read(buffer, count); }
    std::int64_t Write(const void *buffer, std::int64_t count) override
    {
        m_check(m_target.Position() + count);
        return m_target.Write(buffer, count);
    }
    std::int64_t Seek(std::int64_t offset, fw::SeekOrigin origin) override { return m_target.Seek(offset, origin); }
    std::int64_t Size() override { return m_target.Size(); }

private:
    fw::TStream &m_target;
    std::function<void(std::int64_t end)> m_check;
};

int ReplyClass(int code)
{
    return code / 100;  // -1 falls in class 0 and fails every test
}

// A reply with a code of an FTP reply class (1 to 5): one a command could be answered with.
bool IsReplyCode(int code)
{
    return code >= 100 && code <= 599;
}

bool IsRefusal(int code)
{
    return ReplyClass(code) == 4 || ReplyClass(code) == 5;
}

// The command's verb, for an error that must not show its argument (a password).
std::string Verb(const std::string &line)
{
    return line.substr(0, line.find(' '));
}

// Holds one step of the control exchange (a log-in, a command and its reply) to the client's
// time-out from the step's start, however the server trickles its bytes; a step inside another
// ends by the outer one's bound too.
class StepBound {
public:
    explicit StepBound(TmsSocketBase &socket) : m_socket(socket)
    {
        TmsTimeCounter *counter = socket.TimeCounter();
        if (counter == nullptr || socket.TimeOut() <= 0)
            return;  // no counter (blocking mode) or no time-out: nothing to bound
        m_prior = counter->Deadline();
        auto bound = TmsTimeCounter::Clock::now() + std::chrono::seconds(socket.TimeOut());
        if (m_prior && *m_prior < bound)
            bound = *m_prior;
        counter->SetDeadline(bound);
        m_set = true;
    }
    ~StepBound()
    {
        // Looked up again: a step may change the socket's mode, and with it its counter.
        if (TmsTimeCounter *counter = m_socket.TimeCounter(); m_set && counter != nullptr)
            counter->SetDeadline(m_prior);
    }
    StepBound(const StepBound &) = delete;
    StepBound &operator=(const StepBound &) = delete;

private:
    TmsSocketBase &m_socket;
    std::optional<TmsTimeCounter::Clock::time_point> m_prior;
    bool m_set = false;
};

bool ParseSignedInt(const std::string &text, int &value)
{
    size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos)
        return false;
    const char *first = text.data() + start;
    const char *last = text.data() + text.size();
    if (*first == '+' && first + 1 < last && first[1] != '-')
        ++first;
    const auto [end, ec] = std::from_chars(first, last, value, 10);
    return ec == std::errc() && end == last;
}

}  // namespace

TmsFTPClient::TmsFTPClient(QObject *owner) : TmsClientSocket(owner), m_dirList(std::make_unique<TmsFTPDirList>())
{
    m_port = 21;
    m_defaultPort = 21;
}

TmsFTPClient::~TmsFTPClient() = default;

QString TmsFTPClient::UserNameText() const
{
    return fw::FromAnsi(m_userName);
}
void TmsFTPClient::SetUserNameText(const QString &text)
{
    m_userName = fw::ToAnsi(text);
}
QString TmsFTPClient::PasswordText() const
{
    return fw::FromAnsi(m_password);
}
void TmsFTPClient::SetPasswordText(const QString &text)
{
    m_password = fw::ToAnsi(text);
}
QString TmsFTPClient::ProxyText() const
{
    return fw::FromAnsi(m_proxy);
}
void TmsFTPClient::SetProxyText(const QString &text)
{
    SetProxy(fw::ToAnsi(text));
}

void TmsFTPClient::SetProxy(const std::string &value)
{
    const std::string text = value.substr(0, 255);
    const auto colon = text.find(':');
    m_proxyWithoutHost.clear();
    if (colon != std::string::npos || (!text.empty() && text.front() == '[')) {
        // name:port, [IPv6 address]:port, [IPv6 address], or an IPv6 address with no port.
        std::string host = text.substr(0, colon);
        std::string portText = colon == std::string::npos ? std::string() : text.substr(colon + 1);
        const auto close = text.find(']');
        if (text.front() == '[') {
            host = close == std::string::npos ? std::string() : text.substr(1, close - 1);
            const bool withPort = close != std::string::npos && close + 1 < text.size() && text[close + 1] == ':';
            portText = withPort ? text.substr(close + 2) : std::string();
        } else if (text.find(':', colon + 1) != std::string::npos) {
            host = text;
            portText.clear();
        }
        // A text that names no host never means "no proxy": Connect refuses it.
        if (host.empty())
            m_proxyWithoutHost = text;
        m_proxy = host;
        std::uint16_t port = 0;
        m_proxyPort = ParsePort(portText, port) ? port : 0;
        return;
    }
    m_proxy = text;
    m_proxyPort = 0;
    if (m_proxy.empty())
        SetHost(m_host);  // a host kept whole under the proxy is split now
}

int TmsFTPClient::GetReplyCode(const std::string &line)
{
    return FtpReplyCode(line);
}

template <class Step> auto TmsFTPClient::InStep(Step step) -> decltype(step())
{
    try {
        return step();
    } catch (...) {
        DropControlConnection();
        throw;
    }
}

void TmsFTPClient::DropControlConnection()
{
    // A handler of the close that fails must not hide the failure that made the close.
    QuietDisconnect(*this);
}

int TmsFTPClient::ReadFtpReply()
{
    if (m_pendingReply) {  // already read while the data connection was awaited; in LastReply
        const int code = *m_pendingReply;
        m_pendingReply.reset();
        return code;
    }
    const int code = InStep([this] {
        const StepBound bound(*this);
        const int code = ReadReply();
        // A reply cut short by the server's close would otherwise be judged on a fragment (or on
        // an empty line): say what happened instead.
        if (!LastReplyComplete())
            throw EmsServerError("Connection closed by the server");
        return code;
    });
    // "421": the server is closing the control connection; the next command logs in afresh.
    if (code == 421)
        DropControlConnection();
    return code;
}

bool TmsFTPClient::UnaskedReplyWaiting() const
{
    if (BufferedBytes() > 0)
        return true;
    winsock::u_long waiting = 0;
    return m_socket != winsock::INVALID_SOCKET &&
           GlobalWinsock().ioctlsocket(m_socket, winsock::WS_FIONREAD, &waiting) != winsock::SOCKET_ERROR &&
           waiting > 0;
}

bool TmsFTPClient::Connected() const
{
    return TmsClientSocket::Connected() && !UnaskedReplyWaiting();
}

void TmsFTPClient::SendCommand(const std::string &line)
{
    // Between commands nothing is owed: a reply already here was sent before its command (a
    // server that answered one twice, a proxy that answered ahead), and every reply from now on
    // would be read by the command after the one it answers.
    if (UnaskedReplyWaiting()) {
        DropControlConnection();
        throw EmsOutOfStepError("Out of step with the server: it answered before " + Verb(line) + " was sent");
    }
    InStep([&] { SendLine(line); });
}

void TmsFTPClient::RefuseReply(const std::string &verb, int code)
{
    // A refusal leaves the session in step; a reply that no answer to this command can be (a 200
    // to RETR, a 331 to PASS) belongs to another command: the session is out of step.
    if (!IsReplyCode(code) || IsRefusal(code))
        throw EmsServerError(m_lastReply);
    DropControlConnection();
    throw EmsOutOfStepError("Out of step with the server: \"" + m_lastReply + "\" does not answer " + verb);
}

void TmsFTPClient::ReadCompletionReply(const std::string &command)
{
    const int code = ReadFtpReply();
    if (code != 226 && code != 250)
        RefuseReply(command, code);
}

void TmsFTPClient::Cancel()
{
    CancelRequested = true;
    if (m_dataSocket)
        m_dataSocket->CancelRequested = true;
}

int TmsFTPClient::Exchange(const std::string &line, const std::function<bool(int code)> &accepted,
                           std::initializer_list<int> refusals)
{
    const StepBound bound(*this);
    SendCommand(line);
    const int code = ReadFtpReply();
    if (std::find(refusals.begin(), refusals.end(), code) != refusals.end())
        throw EmsServerError(m_lastReply);
    if (!accepted(code))
        RefuseReply(Verb(line), code);
    return code;
}

void TmsFTPClient::Login()
{
    // A connection left open is closed first, never leaked.
    Disconnect();
    // A log-in that fails at any step, a refusal included, leaves no connection behind: the next
    // command logs in afresh instead of going on over a connection that the server may have
    // closed ("421") or that is not logged in.
    InStep([this] {
        Connect();
        const StepBound bound(*this);
        if (ReadFtpReply() != 220)
            throw EmsServerError(m_lastReply);
        std::string userLine = "USER " + m_userName;
        if (!m_proxy.empty()) {
            if (m_proxyType == fpProxyOpen)
                Exchange("OPEN " + m_host, [](int code) { return code == 220; });
            else
                userLine += "@" + m_host;
        }
        Exchange(userLine, [](int code) { return code == 230 || code == 331 || code == 332; });
        Exchange("PASS " + m_password, [](int code) { return code == 230 || code == 202; }, {332});
    });
}

void TmsFTPClient::Logout()
{
    Exchange("QUIT", [](int code) { return ReplyClass(code) == 2; });
    Disconnect();
}

void TmsFTPClient::ChangeDir(const std::string &dir)
{
    Exchange("CWD " + dir, [](int code) { return code == 250 || code == 200; });
}

void TmsFTPClient::NameList(fw::TStringList &list)
{
    fw::TMemoryStream stream;
    LimitedStream limited(stream, [](std::int64_t end) {
        if (end > kMaxListingBytes)
            throw EmsLimitError("The name list is larger than " + std::to_string(kMaxListingBytes) + " bytes");
    });
    Exchange("TYPE A", [](int code) { return code == 200; });
    TransferData("NLST", limited, false, 0);
    ReadCompletionReply("NLST");
    const auto names =
        SplitNameList(std::string_view(stream.Memory(), static_cast<size_t>(stream.Size())), kMaxListingNames);
    list.Clear();
    for (const auto &name : names)
        list.Add(name);
}

std::int32_t TmsFTPClient::GetFileSize(const std::string &name)
{
    const StepBound bound(*this);
    SendCommand("SIZE " + name);
    const int code = ReadFtpReply();
    if (code == 421)  // the server closed the connection: no size, and no session either
        throw EmsServerError(m_lastReply);
    if (!IsReplyCode(code) || IsRefusal(code))
        return -1;
    if (code != 213)
        RefuseReply("SIZE", code);
    return FetchWordAsInteger(m_lastReply, 1);
}

void TmsFTPClient::NoteAnnouncedSize(const std::string &reply)
{
    if (!m_retrieving)
        return;
    const std::int64_t size = AnnouncedSize(reply);
    if (size >= 0 && (m_announcedSize < 0 || size < m_announcedSize))
        m_announcedSize = size;
}

void TmsFTPClient::RetrieveFile(const std::string &remoteName, const std::string &localName,
                                const TmsRetrievalLimits &limits)
{
    // Closed however the retrieval ends.
    fw::TFileStream file(localName, fw::FileMode::Create);
    RetrieveFile(remoteName, file, limits);
}

void TmsFTPClient::RetrieveFile(const std::string &remoteName, fw::TStream &stream, const TmsRetrievalLimits &limits)
{
    Exchange(m_transferType == ttBinary ? "TYPE I" : "TYPE A", [](int code) { return code == 200; });
    // An announced size counts in binary mode only: in ASCII mode the server may turn LF into CR LF.
    m_retrieving = m_transferType == ttBinary;
    m_announcedSize = m_retrieving ? limits.AnnouncedBytes : -1;
    const auto forget = qScopeGuard([this] {
        m_retrieving = false;
        m_announcedSize = -1;
    });
    std::int64_t received = 0;
    LimitedStream limited(stream, [this, &received, max = limits.MaxBytes](std::int64_t end) {
        if (m_announcedSize >= 0 && end > m_announcedSize)
            throw EmsAnnouncedSizeError(m_announcedSize);
        if (end > max)
            throw EmsFileSizeError(max);
        received = end;
    });
    TransferData("RETR " + remoteName, limited, false, 0);
    ReadCompletionReply("RETR");
    // The server ended the transfer in order and the session is in step: a file short of its size
    // is still no whole file.
    if (m_announcedSize >= 0 && received != m_announcedSize)
        throw EmsShortTransferError(received, m_announcedSize);
}

void TmsFTPClient::TransferData(const std::string &command, fw::TStream &stream, bool upload, std::int32_t restartAt)
{
    // A completion reply kept from a transfer that failed is no reply of the next command.
    const auto drop = qScopeGuard([this] {
        if (std::uncaught_exceptions() > 0)
            m_pendingReply.reset();
    });
    try {
        if (m_passiveMode)
            TransferPassive(command, stream, upload, restartAt);
        else
            TransferActive(command, stream, upload, restartAt);
    } catch (const EmsCanceledError &) {
        // Whatever the server still has to say about this transfer goes unread.
        DropControlConnection();
        throw;
    }
}

bool TmsFTPClient::ParsePasvReply(const std::string &reply, std::string &host, std::uint16_t &port)
{
    const auto open = reply.find('(');
    const auto close = reply.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open || close == open + 1)
        return false;
    const std::string inner = reply.substr(open + 1, close - open - 1);
    int numbers[6] = {};
    size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        std::string part;
        if (i < 5) {
            const auto comma = inner.find(',', pos);
            if (comma == std::string::npos)
                return false;
            part = inner.substr(pos, comma - pos);
            pos = comma + 1;
        } else {
            part = inner.substr(pos);
        }
        // An address byte or port byte outside 0 to 255 is no address: refused, never wrapped.
        if (!ParseSignedInt(part, numbers[i]) || numbers[i] < 0 || numbers[i] > 255)
            return false;
    }
    host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]) + "." +
           std::to_string(numbers[3]);
    port = static_cast<std::uint16_t>(numbers[4] * 256 + numbers[5]);  // at most 65535
    return true;
}

bool TmsFTPClient::ParseEpsvReply(const std::string &reply, std::uint16_t &port)
{
    // "(" d d d port d ")": the same delimiter four times, any printable character but a digit.
    const auto open = reply.find('(');
    if (open == std::string::npos || open + 5 > reply.size())
        return false;
    const char d = reply[open + 1];
    if (d < 33 || d > 126 || (d >= '0' && d <= '9') || reply[open + 2] != d || reply[open + 3] != d)
        return false;
    const auto end = reply.find(d, open + 4);
    if (end == std::string::npos || end + 1 >= reply.size() || reply[end + 1] != ')')
        return false;
    std::uint16_t value = 0;
    if (!ParsePort(reply.substr(open + 4, end - open - 4), value) || value == 0)
        return false;
    port = value;
    return true;
}

void TmsFTPClient::HandleDataProgress(fw::TObject *dataSocket, std::int32_t byteCount)
{
    fw::Fire(OnDataTransferProgress, dataSocket, byteCount);
}

bool TmsFTPClient::ControlReplyWaiting()
{
    if (m_peerClosed || BufferedBytes() > 0)
        return true;  // reading says so at once, or takes a reply that came with an earlier one
    winsock::u_long waiting = 0;
    return GlobalWinsock().ioctlsocket(m_socket, winsock::WS_FIONREAD, &waiting) != winsock::SOCKET_ERROR &&
           waiting > 0;
}

void TmsFTPClient::WaitForDataConnection(bool watchControl)
{
    // Bounded by the client's time-out: a server that never connects must not hold the client.
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = static_cast<qint64>(std::max(0, m_timeOut)) * 1000;
    int preliminaryReplies = 0;
    platform::ProcessMessages();
    while (!m_dataReady) {
        if (CancelRequested)
            throw EmsCanceledError();
        // Checked on every pass: a server that keeps talking without connecting (an endless run
        // of preliminary replies) is held to the same time as a silent one.
        const qint64 left = limitMs - clock.elapsed();
        if (left <= 0) {
            DropControlConnection();
            throw EmsTimedOutError();
        }
        // A server that cannot connect says so on the control connection (425) instead of
        // connecting; that ends the wait at once, and its reply is read here, not by the next
        // command. A completion reply that overtook the connection's accept waits for the caller.
        if (watchControl && !m_pendingReply && ControlReplyWaiting()) {
            const int code = ReadFtpReply();
            if (ReplyClass(code) == 2)
                m_pendingReply = code;
            else if (ReplyClass(code) != 1)
                RefuseReply("the transfer", code);
            else if (++preliminaryReplies > kMaxPreliminaryReplies) {
                DropControlConnection();
                throw EmsServerError("Too many preliminary replies");
            }
            platform::ProcessMessages();
            continue;
        }
        platform::WaitMessage(static_cast<int>(std::min<qint64>(left, kMaxDataWaitSliceMs)));
    }
}

std::exception_ptr TmsFTPClient::DataPhase(TmsSocket &socket, fw::TStream &stream, bool upload, std::int32_t restartAt)
{
    std::exception_ptr failure;
    // The data phase alone is held to the minimum rate: setting up the connection is the
    // control steps' business.
    if (TmsTimeCounter *counter = socket.TimeCounter(); counter != nullptr) {
        counter->NoteProgress(restartAt);
        counter->WatchRate(m_minTransferRate, m_stallWindow);
    }
    try {
        if (upload)
            socket.SendStream(stream, restartAt);
        else
            socket.ReceiveToStream(stream, 0, restartAt);
        socket.Disconnect();
        return nullptr;
    } catch (const EmsCanceledError &) {
        throw;  // nobody waits for the completion reply
    } catch (...) {
        // A file that cannot be written, a limit passed, or a data connection that was reset,
        // broke or fell silent: only a close by the server ends a transfer in order.
        failure = std::current_exception();
    }
    // The data phase's own failure is the one to report.
    QuietDisconnect(socket);
    return failure;
}

void TmsFTPClient::RaiseDataFailure(const std::exception_ptr &failure)
{
    if (!failure)
        return;
    // The server answers the closed data connection (426, or 226 for what it sent); that answer
    // belongs to this transfer. Whatever goes wrong reading it (the control connection is then
    // closed), the data phase's failure is the news.
    try {
        ReadFtpReply();
    } catch (...) {
    }
    std::rethrow_exception(failure);
}

void TmsFTPClient::BeginTransfer()
{
    m_dataReady = false;
    fw::Fire(OnDataTransferStart, this);
}

void TmsFTPClient::AttachDataSocket(TmsSocket &data)
{
    data.SetTimeOut(m_timeOut);  // the data connection is held to the client's time-out
    m_dataSocket = &data;
    data.OnTransferProgress = [this, socket = &data](fw::TObject *, std::int32_t, std::int32_t byteCount,
                                                     std::int32_t) {
        if (TmsTimeCounter *counter = socket->TimeCounter(); counter != nullptr)
            counter->NoteProgress(byteCount);
        HandleDataProgress(socket, byteCount);
    };
}

void TmsFTPClient::SendTransferCommand(const std::string &command, std::int32_t restartAt)
{
    if (restartAt > 0)
        Exchange("REST " + std::to_string(restartAt), [](int code) { return code == 350; });
    Exchange(command, [](int code) { return ReplyClass(code) == 1; });
    NoteAnnouncedSize(m_lastReply);
}

template <class Open, class Settle, class Release>
void TmsFTPClient::RunTransfer(TmsSocket &data, fw::TStream &stream, bool upload, std::int32_t restartAt, Open open,
                               Settle settle, Release release)
{
    // However the transfer ends: close the data connection, free the sockets, then tell. Called on
    // each way out rather than from a guard, because the end event's handler may throw.
    const auto finish = [&] {
        m_dataSocket = nullptr;
        // The transfer's own outcome, on its way out or raised below, is the news.
        QuietDisconnect(data);
        release();
        fw::Fire(OnDataTransferTerminate, this);
    };
    std::exception_ptr failure;
    try {
        open();
        failure = DataPhase(data, stream, upload, restartAt);
        settle();
    } catch (...) {
        finish();
        throw;
    }
    finish();
    RaiseDataFailure(failure);
}

void TmsFTPClient::TransferPassive(const std::string &command, fw::TStream &stream, bool upload, std::int32_t restartAt)
{
    BeginTransfer();
    // Owned here alone, no Qt parent: freed before the end event, however the transfer ends.
    auto data = std::make_unique<TmsClientSocket>();
    data->SetWorksFor(this);
    data->SetReceiveBufferSize(kDataReceiveBufferSize);
    AttachDataSocket(*data);
    data->OnConnected = [this](fw::TObject *) { m_dataReady = true; };
    const auto open = [&] {
        std::string host;
        std::uint16_t port = 0;
        // Over IPv6 PASV cannot say an address: EPSV gives the port alone. A server that refuses
        // it has no passive mode for this connection (its reply is the error).
        if (m_peer.IsIPv6()) {
            Exchange("EPSV", [](int code) { return code == 229; });
            if (!ParseEpsvReply(m_lastReply, port))
                throw EmsServerError("Problems getting the parameters");
        } else {
            Exchange("PASV", [](int code) { return code == 227; });
            if (!ParsePasvReply(m_lastReply, host, port))
                throw EmsServerError("Problems getting the parameters");
        }
        // Only the port is taken from the reply: the data connection goes to the host that the
        // control connection went to (the proxy, when there is one). A server could otherwise
        // send the client to any host and port.
        data->SetHost(m_peer.Text());
        data->SetPort(port);
        data->Connect();
        WaitForDataConnection(false);
        SendTransferCommand(command, restartAt);
    };
    // The data connection is all this mode holds: nothing to settle once the data has moved.
    const auto settle = [] {};
    const auto release = [&] { data.reset(); };
    RunTransfer(*data, stream, upload, restartAt, open, settle, release);
}

void TmsFTPClient::TransferActive(const std::string &command, fw::TStream &stream, bool upload, std::int32_t restartAt)
{
    BeginTransfer();
    // Owned here alone, no Qt parent: freed before the end event, however the transfer ends.
    auto listener = std::make_unique<TmsSimpleListenerSocket>();
    listener->SetWorksFor(this);
    TmsSimpleListenerSocket *raw = listener.get();
    TmsSocket &accepted = listener->AcceptedSocket();
    AttachDataSocket(accepted);
    bool stopped = false;
    // One connection is taken: listening stops at once, so nobody else can connect or replace it.
    listener->OnSLSConnectionRequested = [this, raw, &stopped](fw::TObject *) {
        m_dataReady = true;
        if (!stopped) {
            stopped = true;
            // Run from the socket notice, which reports every error: the transfer goes on over the
            // connection taken, and a listener that failed to close is no news of it.
            QuietDisconnect(*raw);
        }
    };
    listener->SetPort(0);
    listener->SetServerSocketTimeOut(m_timeOut);
    listener->SetReceiveBufferSize(kDataReceiveBufferSize);  // the accepted connection inherits it
    const auto open = [&] {
        TmsWinsock &ws = GlobalWinsock();
        winsock::SOCKADDR_INET name{};
        int length = sizeof name;
        if (ws.getsockname(m_socket, reinterpret_cast<winsock::SOCKADDR *>(&name), &length) == winsock::SOCKET_ERROR)
            RaiseWinsockError(ws.WSAGetLastError());
        const TmsInetAddress control = TmsInetAddress::FromSockAddr(name);
        // Listen on the interface of the control connection only, and take the connection of the
        // control connection's peer only (the server, or the proxy that relays it).
        listener->SetBindAddress(control);
        listener->SetAllowedPeer(m_peer);
        listener->StartListening();
        length = sizeof name;
        if (ws.getsockname(listener->SocketHandle(), reinterpret_cast<winsock::SOCKADDR *>(&name), &length) ==
            winsock::SOCKET_ERROR)
            RaiseWinsockError(ws.WSAGetLastError());
        // The port is in network order in both socket addresses: high byte first.
        unsigned char portBytes[2];
        std::memcpy(portBytes, control.IsIPv6() ? &name.Ipv6.sin6_port : &name.Ipv4.sin_port, 2);
        if (control.IsIPv6()) {
            // PORT cannot say an IPv6 address: EPRT names the family, the address and the port.
            const std::string argument =
                "|2|" + control.Text() + "|" + std::to_string(portBytes[0] * 256 + portBytes[1]) + "|";
            Exchange("EPRT " + argument, [](int code) { return code == 200; });
        } else {
            const std::uint32_t address = control.IPv4();
            unsigned char bytes[4];
            std::memcpy(bytes, &address, 4);
            char argument[64];
            std::snprintf(argument, sizeof argument, "%d,%d,%d,%d,%d,%d", bytes[0], bytes[1], bytes[2], bytes[3],
                          portBytes[0], portBytes[1]);
            Exchange(std::string("PORT ") + argument, [](int code) { return code == 200; });
        }
        SendTransferCommand(command, restartAt);
        WaitForDataConnection(true);
    };
    const auto settle = [&] {
        if (!stopped) {
            listener->StopListening();
            stopped = true;
        }
    };
    const auto release = [&] {
        // The transfer's outcome is the news, and the end event still has to come.
        if (!stopped && listener->SocketHandle() != winsock::INVALID_SOCKET)
            QuietDisconnect(*listener);
        listener.reset();
    };
    RunTransfer(accepted, stream, upload, restartAt, open, settle, release);
}

}  // namespace net
