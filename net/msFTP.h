#pragma once
// The FTP client (RFC 959): a client socket that speaks the control connection, logs in directly
// or through an FTP proxy, and runs data transfers over a second connection, passive (PASV) or
// active (PORT), with start, progress and end events. On an IPv6 control connection the data
// connection is set up with EPSV and EPRT instead (RFC 2428).
#include "framework/Classes.h"
#include "framework/Streams.h"
#include "net/Mssocket.h"
#include "net/msFtpCls.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

namespace net {

// A name list may hold this much text and this many names; a server that sends more (an endless
// listing) is refused before it fills the memory.
inline constexpr std::int64_t kMaxListingBytes = 16 * 1024 * 1024;
inline constexpr std::size_t kMaxListingNames = 100000;
// A retrieved file may be this large unless the call sets another limit.
inline constexpr std::int64_t kMaxFileBytes = std::int64_t{1} << 30;

// What one retrieval may take, given with the call: at most `MaxBytes`, and, in binary mode, exactly
// the size the server gave for the file when the caller asked it (`AnnouncedBytes`, -1 when the
// caller knows none; a smaller size in the server's preliminary reply counts too).
struct TmsRetrievalLimits {
    std::int64_t MaxBytes = kMaxFileBytes;
    std::int64_t AnnouncedBytes = -1;
};

// The session is out of step with the server: a reply came that no command asked for, or one that
// cannot answer the command sent. The control connection has been closed, so the next command
// logs in afresh instead of reading the answers of earlier commands.
class EmsOutOfStepError : public EmsServerError {
public:
    using EmsServerError::EmsServerError;
};

enum TmsTransferType : std::uint8_t { ttBinary, ttASCII };
enum TmsProxyType : std::uint8_t { fpUserNoLogon, fpProxyOpen };

using TmsDataTransferProgressEvent = std::function<void(fw::TObject *Sender, std::int32_t ByteCount)>;

class TmsFTPClient : public TmsClientSocket {
    Q_OBJECT
    Q_PROPERTY(QString UserName READ UserNameText WRITE SetUserNameText)
    Q_PROPERTY(QString Password READ PasswordText WRITE SetPasswordText)
    Q_PROPERTY(bool PassiveMode READ PassiveMode WRITE SetPassiveMode)
    Q_PROPERTY(int ServerType READ ServerTypeValue WRITE SetServerTypeValue)
    Q_PROPERTY(int TransferType READ TransferTypeValue WRITE SetTransferTypeValue)
    Q_PROPERTY(QString Proxy READ ProxyText WRITE SetProxyText)
    Q_PROPERTY(int ProxyPort READ ProxyPortValue WRITE SetProxyPortValue)
    Q_PROPERTY(int ProxyType READ ProxyTypeValue WRITE SetProxyTypeValue)
public:
    explicit TmsFTPClient(QObject *owner = nullptr);
    // Sends nothing and leaves an open control connection open.
    ~TmsFTPClient() override;

    const std::string &UserName() const { return m_userName; }
    void SetUserName(const std::string &name) { m_userName = name; }
    const std::string &Password() const { return m_password; }
    void SetPassword(const std::string &password) { m_password = password; }
    bool PassiveMode() const { return m_passiveMode; }
    void SetPassiveMode(bool passive) { m_passiveMode = passive; }
    TmsServerType ServerType() const { return m_dirList->ServerType; }
    void SetServerType(TmsServerType type) { m_dirList->ServerType = type; }
    TmsTransferType TransferType() const { return m_transferType; }
    void SetTransferType(TmsTransferType type) { m_transferType = type; }
    // Splits a port given after a colon ("[::1]:2121" for an IPv6 address with a port, "::1"
    // without); clearing the proxy splits a host kept whole under it. A text that names no host
    // (":2121", "[]") is kept for Connect to refuse, never taken for "no proxy".
    void SetProxy(const std::string &value);
    TmsProxyType ProxyType() const { return m_proxyType; }
    void SetProxyType(TmsProxyType type) { m_proxyType = type; }
    TmsFTPDirList &DirList() const { return *m_dirList; }
    bool DataReady() const { return m_dataReady; }
    // A data transfer that moves less than `bytesPerSecond` over a window of `window` fails with
    // EmsStalledError (kMinTransferBytesPerSecond over kStallWindow unless set); a rate of 0
    // leaves only the time-out.
    void SetStallRule(std::int64_t bytesPerSecond, std::chrono::milliseconds window)
    {
        m_minTransferRate = bytesPerSecond;
        m_stallWindow = window;
    }
    // Whether the next command can go over the control connection: it is open, the server has
    // not closed or reset it, and no reply waits that no command asked for (a server that said
    // "421" before it closed, a session out of step). When false, the next command needs Login.
    // Meant for the time between commands.
    bool Connected() const override;

    fw::TNotifyEvent OnDataTransferStart;
    fw::TNotifyEvent OnDataTransferTerminate;
    TmsDataTransferProgressEvent OnDataTransferProgress;

    // The first three characters as a decimal number, or -1.
    int GetReplyCode(const std::string &line) override;

    // Connects and logs in, within the time-out for the connect and again for the log-in however
    // the server trickles its bytes. A log-in that fails leaves no connection behind.
    void Login();
    void Logout();
    // Asks the running wait of the client, and of the data connection of a transfer under way, to
    // stop with EmsCanceledError; the control connection is then closed (no QUIT is sent), so the
    // next command logs in afresh. Until then every wait of the client stops at once. Meant for
    // handlers that run inside a wait (the program ending while a command waits for the server).
    void Cancel();
    void ChangeDir(const std::string &dir);
    void NameList(fw::TStringList &list);
    // The size of a server file in bytes, or -1 when the server refuses or gives no size.
    std::int32_t GetFileSize(const std::string &name);
    // Raises EmsFileSizeError past the limits' MaxBytes; for a binary retrieval with an announced
    // size (the limits', or a smaller one in the server's preliminary reply) EmsAnnouncedSizeError
    // past it and, once the server has ended the transfer in order, EmsShortTransferError short of
    // it; and the framework's I/O error when the stream cannot be written. The stream is written
    // from its start (hand it an empty one) and is neither emptied nor closed: what becomes of the
    // bytes of a retrieval that failed is the caller's choice.
    void RetrieveFile(const std::string &remoteName, fw::TStream &stream, const TmsRetrievalLimits &limits = {});
    // The same into the named file, created or emptied before anything is sent. The name is
    // opened as it is, a link followed and a device taken (the tools write to /dev/null): a file
    // of a folder that others may write is fetched through the stream above and a part file.
    void RetrieveFile(const std::string &remoteName, const std::string &localName,
                      const TmsRetrievalLimits &limits = {});

    void TransferData(const std::string &command, fw::TStream &stream, bool upload, std::int32_t restartAt);
    void TransferPassive(const std::string &command, fw::TStream &stream, bool upload, std::int32_t restartAt);
    void TransferActive(const std::string &command, fw::TStream &stream, bool upload, std::int32_t restartAt);
    // The six numbers between the parentheses of a PASV reply; false when one is missing, not a
    // number, or outside 0 to 255. Only the port is used: the data connection goes to the control
    // connection's peer.
    static bool ParsePasvReply(const std::string &reply, std::string &host, std::uint16_t &port);
    // The port between the parentheses of an EPSV reply, "229 ... (|||port|)" (the delimiter may
    // be any printable character but a digit); false when the form or the port is wrong.
    static bool ParseEpsvReply(const std::string &reply, std::uint16_t &port);

private:
    // One reply of the server; raises when the connection closed before the reply was whole.
    int ReadFtpReply();
    // Sends one command line on the control connection; raises EmsOutOfStepError, closing the
    // connection, when a reply is already waiting.
    void SendCommand(const std::string &line);
    // Reply bytes held or waiting on the control connection.
    bool UnaskedReplyWaiting() const;
    // Raises for a reply the command `verb` did not accept: EmsServerError for a refusal (class 4
    // or 5, or a line without a reply code), which keeps the session; EmsOutOfStepError, closing
    // the connection, for any other reply, which no answer to the command can be.
    [[noreturn]] void RefuseReply(const std::string &verb, int code);
    // The completion reply of a transfer: 226 or 250, else RefuseReply.
    void ReadCompletionReply(const std::string &command);
    // Runs one step of the control exchange. A step that fails before its reply was read whole and
    // in order (a time-out, a cancel, a refused line, a broken connection) leaves the connection
    // out of step, so that the next command would read this one's reply: it is closed.
    template <class Step> auto InStep(Step step) -> decltype(step());
    void DropControlConnection();
    // A command exchange, within the time-out from its start: the line, its reply, and
    // RefuseReply when `accepted` does not take it. `refusals` are replies of the positive classes
    // that the command can receive and that refuse it all the same (an account asked for).
    int Exchange(const std::string &line, const std::function<bool(int code)> &accepted,
                 std::initializer_list<int> refusals = {});
    // Waits until the data connection is up. With `watchControl` (the server connects to us) a
    // reply on the control connection ends the wait too: a refusal at once, with its error.
    void WaitForDataConnection(bool watchControl);
    bool ControlReplyWaiting();
    // The failure of the data phase (a stream that cannot be written, a limit passed, a data
    // connection reset, broken or silent past the time-out), to be raised once the transfer has
    // ended: a data connection that did not end in order never passes for a whole transfer. A
    // cancel is raised at once.
    std::exception_ptr DataPhase(TmsSocket &socket, fw::TStream &stream, bool upload, std::int32_t restartAt);
    // After the transfer's end event: a failure of the data phase is raised, once the server's
    // completion reply has been read so that the next command reads its own reply.
    void RaiseDataFailure(const std::exception_ptr &failure);
    void NoteAnnouncedSize(const std::string &reply);
    void HandleDataProgress(fw::TObject *dataSocket, std::int32_t byteCount);
    // The steps that both transfer modes share. The start event, before anything is created.
    void BeginTransfer();
    // Points the client at the socket that will carry the data: the client's time-out, Cancel and
    // the progress event reach it.
    void AttachDataSocket(TmsSocket &data);
    // REST when the transfer restarts, then the transfer's command, whose preliminary reply may
    // announce the size.
    void SendTransferCommand(const std::string &command, std::int32_t restartAt);
    // The rest of a transfer, around the mode's own steps: `open` brings the data connection up
    // and has the server start; the data phase; `settle` after a data phase that ended (it may
    // throw); `release` frees the mode's sockets and never throws. However the transfer ends,
    // the data connection is closed and freed before the end event, and a failure of the data
    // phase is raised after it.
    template <class Open, class Settle, class Release>
    void RunTransfer(TmsSocket &data, fw::TStream &stream, bool upload, std::int32_t restartAt, Open open,
                     Settle settle, Release release);

    QString UserNameText() const;
    void SetUserNameText(const QString &text);
    QString PasswordText() const;
    void SetPasswordText(const QString &text);
    int ServerTypeValue() const { return ServerType(); }
    void SetServerTypeValue(int v) { SetServerType(static_cast<TmsServerType>(v)); }
    int TransferTypeValue() const { return m_transferType; }
    void SetTransferTypeValue(int v) { m_transferType = static_cast<TmsTransferType>(v); }
    QString ProxyText() const;
    void SetProxyText(const QString &text);
    int ProxyPortValue() const { return m_proxyPort; }
    void SetProxyPortValue(int v) { m_proxyPort = static_cast<std::uint16_t>(v); }
    int ProxyTypeValue() const { return m_proxyType; }
    void SetProxyTypeValue(int v) { m_proxyType = static_cast<TmsProxyType>(v); }

    std::string m_userName;
    std::string m_password;
    bool m_passiveMode = false;
    TmsTransferType m_transferType = ttBinary;
    TmsProxyType m_proxyType = fpUserNoLogon;
    std::unique_ptr<TmsFTPDirList> m_dirList;
    bool m_dataReady = false;
    std::int64_t m_minTransferRate = kMinTransferBytesPerSecond;
    std::chrono::milliseconds m_stallWindow = kStallWindow;
    // A completion reply that came while the data connection was awaited, for the caller to read.
    std::optional<int> m_pendingReply;
    // While a binary retrieval runs, the size it is held to (the caller's, or a smaller one of the
    // server's preliminary reply); -1 when none, and between retrievals.
    bool m_retrieving = false;
    std::int64_t m_announcedSize = -1;
    // The socket that carries the running transfer's data, for Cancel; null between transfers.
    TmsSocket *m_dataSocket = nullptr;
};

}  // namespace net
