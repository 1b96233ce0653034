#include "net/msFTP.h"

#include "framework/Ansi.h"
#include "platform/MessageWindow.h"

#include <QElapsedTimer>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace net {
namespace {

constexpr int kMaxDataWaitSliceMs = 1000;

int ReplyClass(int code)
{
    return code / 100;  // -1 falls in class 0 and fails every test
}

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

// The lines of a name listing: cut at CR LF, a lone LF or a lone CR; the text ends at the first
// zero byte; a line end at the very end adds no empty line.
void LoadLines(const std::string &bytes, fw::TStringList &list)
{
    list.Clear();
    const std::string text = bytes.substr(0, bytes.find('\0'));
    std::string line;
    bool open = false;  // a line has begun since the last line end
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            list.Add(line);
            line.clear();
            open = false;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            continue;
        }
        line += c;
        open = true;
    }
    if (open)
        list.Add(line);
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
    if (colon != std::string::npos) {
        m_proxy = text.substr(0, colon);
        std::uint16_t port = 0;
        m_proxyPort = ParsePort(text.substr(colon + 1), port) ? port : 0;
        return;
    }
    m_proxy = text;
    m_proxyPort = 0;
    if (m_proxy.empty())
        SetHost(m_host);  // a host kept whole under the proxy is split now
}

int TmsFTPClient::GetReplyCode(const std::string &line)
{
    if (line.size() < 3 || !std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

int TmsFTPClient::ReadFtpReply()
{
    const int code = ReadReply();
    // A reply cut short by the server's close would otherwise be judged on a fragment (or on an
    // empty line): say what happened instead.
    if (!LastReplyComplete())
        throw EmsServerError("Connection closed by the server");
    return code;
}

int TmsFTPClient::Exchange(const std::string &line, const std::function<bool(int code)> &accepted)
{
    SendLine(line);
    const int code = ReadFtpReply();
    if (!accepted(code))
        throw EmsServerError(m_lastReply);
    return code;
}

void TmsFTPClient::Login()
{
    // A connection left open (by a failed log-in, say) is closed first, never leaked.
    Disconnect();
    Connect();
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
    Exchange("PASS " + m_password, [](int code) { return code == 230 || code == 202; });
}

void TmsFTPClient::Logout()
{
    Exchange("QUIT", [](int code) { return ReplyClass(code) == 2; });
    Disconnect();
}

void TmsFTPClient::ChangeDir(const std::string &dir)
{
    Exchange("CWD " + dir, [](int code) { return ReplyClass(code) == 2; });
}

void TmsFTPClient::NameList(fw::TStringList &list)
{
    fw::TMemoryStream stream;
    Exchange("TYPE A", [](int code) { return ReplyClass(code) == 2; });
    TransferData("NLST", stream, false, 0);
    if (ReplyClass(ReadFtpReply()) != 2)
        throw EmsServerError(m_lastReply);
    LoadLines(stream.ToString(), list);
}

std::int32_t TmsFTPClient::GetFileSize(const std::string &name)
{
    SendLine("SIZE " + name);
    if (ReplyClass(ReadFtpReply()) != 2)
        return -1;
    return FetchWordAsInteger(m_lastReply, 1);
}

void TmsFTPClient::RetrieveFile(const std::string &remoteName, const std::string &localName)
{
    // Created (or emptied) before anything is sent; closed however the retrieval ends.
    fw::TFileStream file(localName, fw::FileMode::Create);
    Exchange(m_transferType == ttBinary ? "TYPE I" : "TYPE A", [](int code) { return ReplyClass(code) == 2; });
    TransferData("RETR " + remoteName, file, false, 0);
    if (ReplyClass(ReadFtpReply()) != 2)
        throw EmsServerError(m_lastReply);
}

void TmsFTPClient::TransferData(const std::string &command, fw::TStream &stream, bool upload, std::int32_t restartAt)
{
    if (m_passiveMode)
        TransferPassive(command, stream, upload, restartAt);
    else
        TransferActive(command, stream, upload, restartAt);
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
        if (!ParseSignedInt(part, numbers[i]) || numbers[i] == -1)
            return false;
    }
    host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]) + "." +
           std::to_string(numbers[3]);
    port = static_cast<std::uint16_t>(numbers[4] * 256 + numbers[5]);
    return true;
}

void TmsFTPClient::HandleDataProgress(fw::TObject *dataSocket, std::int32_t byteCount)
{
    fw::Fire(OnDataTransferProgress, dataSocket, byteCount);
}

void TmsFTPClient::WaitForDataConnection()
{
    // Bounded by the client's time-out: a server that never connects must not hold the client.
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = static_cast<qint64>(std::max(0, m_timeOut)) * 1000;
    platform::ProcessMessages();
    while (!m_dataReady) {
        if (CancelRequested)
            throw EmsCanceledError();
        const qint64 left = limitMs - clock.elapsed();
        if (left <= 0)
            throw EmsTimedOutError();
        platform::WaitMessage(static_cast<int>(std::min<qint64>(left, kMaxDataWaitSliceMs)));
    }
}

void TmsFTPClient::DataPhase(TmsSocket &socket, fw::TStream &stream, bool upload, std::int32_t restartAt)
{
    // Failures of the data phase are not reported here: the completion reply decides.
    try {
        if (upload)
            socket.SendStream(stream, restartAt);
        else
            socket.ReceiveToStream(stream, 0, restartAt);
        socket.Disconnect();
    } catch (...) {
        try {
            socket.Disconnect();
        } catch (...) {
        }
    }
}

void TmsFTPClient::TransferPassive(const std::string &command, fw::TStream &stream, bool upload, std::int32_t restartAt)
{
    fw::Fire(OnDataTransferStart, this);
    m_dataReady = false;
    auto data = std::make_unique<TmsClientSocket>(this);
    TmsClientSocket *raw = data.get();
    data->OnTransferProgress = [this, raw](fw::TObject *, std::int32_t, std::int32_t byteCount, std::int32_t) {
        HandleDataProgress(raw, byteCount);
    };
    data->OnConnected = [this](fw::TObject *) { m_dataReady = true; };
    // However the transfer ends: close the data connection, free the socket, then tell.
    const auto finish = [&] {
        try {
            data->Disconnect();
        } catch (...) {
        }
        data.reset();
        fw::Fire(OnDataTransferTerminate, this);
    };
    try {
        Exchange("PASV", [](int code) { return ReplyClass(code) == 2; });
        std::string host;
        std::uint16_t port = 0;
        if (!ParsePasvReply(m_lastReply, host, port))
            throw EmsServerError("Problems getting the parameters");
        data->SetHost(host);
        data->SetPort(port);
        data->Connect();
        WaitForDataConnection();
        if (restartAt > 0)
            Exchange("REST " + std::to_string(restartAt), [](int code) { return ReplyClass(code) == 3; });
        Exchange(command, [](int code) { return ReplyClass(code) == 1; });
        DataPhase(*data, stream, upload, restartAt);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TmsFTPClient::TransferActive(const std::string &command, fw::TStream &stream, bool upload, std::int32_t restartAt)
{
    m_dataReady = false;
    fw::Fire(OnDataTransferStart, this);
    auto listener = std::make_unique<TmsSimpleListenerSocket>(this);
    TmsSocket *accepted = &listener->AcceptedSocket();
    accepted->OnTransferProgress = [this, accepted](fw::TObject *, std::int32_t, std::int32_t byteCount, std::int32_t) {
        HandleDataProgress(accepted, byteCount);
    };
    listener->OnSLSConnectionRequested = [this](fw::TObject *) { m_dataReady = true; };
    listener->SetPort(0);
    listener->SetServerSocketTimeOut(m_timeOut);
    bool stopped = false;
    const auto finish = [&] {
        try {
            accepted->Disconnect();
        } catch (...) {
        }
        if (!stopped && listener->SocketHandle() != winsock::INVALID_SOCKET) {
            try {
                listener->StopListening();
            } catch (...) {
            }
        }
        listener.reset();
        fw::Fire(OnDataTransferTerminate, this);
    };
    try {
        listener->StartListening();
        TmsWinsock &ws = GlobalWinsock();
        winsock::SOCKADDR name{};
        int length = sizeof name;
        if (ws.getsockname(listener->SocketHandle(), &name, &length) == winsock::SOCKET_ERROR)
            RaiseWinsockError(ws.WSAGetLastError());
        winsock::SOCKADDR_IN listening{};
        std::memcpy(&listening, &name, sizeof listening);
        length = sizeof name;
        if (ws.getsockname(m_socket, &name, &length) == winsock::SOCKET_ERROR)
            RaiseWinsockError(ws.WSAGetLastError());
        winsock::SOCKADDR_IN control{};
        std::memcpy(&control, &name, sizeof control);
        unsigned char address[4];
        std::memcpy(address, &control.sin_addr.S_addr, 4);
        unsigned char portBytes[2];
        std::memcpy(portBytes, &listening.sin_port, 2);  // network order: high byte first
        char argument[64];
        std::snprintf(argument, sizeof argument, "%d,%d,%d,%d,%d,%d", address[0], address[1], address[2], address[3],
                      portBytes[0], portBytes[1]);
        Exchange(std::string("PORT ") + argument, [](int code) { return ReplyClass(code) == 2; });
        if (restartAt > 0)
            Exchange("REST " + std::to_string(restartAt), [](int code) { return ReplyClass(code) == 3; });
        Exchange(command, [](int code) { return ReplyClass(code) == 1; });
        WaitForDataConnection();
        DataPhase(*accepted, stream, upload, restartAt);
        listener->StopListening();
        stopped = true;
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

}  // namespace net
