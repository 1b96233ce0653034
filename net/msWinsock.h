#pragma once
// The run-time binding of Windows Sockets 1.1: the one TmsWinsock of the process loads the socket
// library when the socket library starts, and offers each socket function as a method that looks
// the function up by name at its first call and keeps it. Winsock error codes become EWinsockError
// exceptions with the texts of a fixed table.
#include "framework/Exceptions.h"
#include "platform/WinTypes.h"
#include "platform/winsock/WinsockApi.h"

#include <QObject>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// The C library may define htons as a macro; here it is a method name. (Code that includes the
// system's network headers after this one calls the method as (ws.htons)(value).)
#ifdef htons
#undef htons
#endif

namespace net {

using winsock::SOCKET;

class EWinsockError : public fw::Exception {
public:
    using Exception::Exception;
};

// An IPv4 or IPv6 address, as the socket library gives it in its socket addresses.
struct TmsInetAddress {
    int Family = 0;                        // winsock::WS_AF_INET or WS_AF_INET6; 0 for none
    std::array<std::uint8_t, 16> Bytes{};  // network order; an IPv4 address takes the first 4
    std::uint32_t ScopeId = 0;             // the interface of a link-local IPv6 address

    static TmsInetAddress FromSockAddr(const winsock::SOCKADDR_INET &address);
    static TmsInetAddress FromIPv4(std::uint32_t networkOrder);
    // The socket address of this address and a port (network order), and its length.
    winsock::SOCKADDR_INET ToSockAddr(std::uint16_t portNetworkOrder) const;
    int SockAddrLength() const;
    bool IsIPv6() const { return Family == winsock::WS_AF_INET6; }
    // The IPv4 address in network order; 0 for an IPv6 one.
    std::uint32_t IPv4() const;
    // Dotted IPv4 text, or IPv6 text in its shortest form ("::1", "2001:db8::5"), with "%" and the
    // scope when there is one; empty for none.
    std::string Text() const;
    // "IPv4", "IPv6", or empty for none.
    std::string FamilyName() const;
    friend bool operator==(const TmsInetAddress &, const TmsInetAddress &) = default;
};

// The table text for a Winsock error code (string resource 40000 + code), or an empty text.
std::string WinsockErrorText(int code);

class TmsWinsock : public QObject {
public:
    // Loads the library at `libraryPath` (beside the executable when not given) and starts it.
    // A library that does not load leaves the binding not loaded, without an error.
    explicit TmsWinsock(const std::string &libraryPath = DefaultLibraryPath());
    ~TmsWinsock() override;
    TmsWinsock(const TmsWinsock &) = delete;
    TmsWinsock &operator=(const TmsWinsock &) = delete;

    static std::string DefaultLibraryPath();

    void *LibHandle() const { return m_libHandle; }
    std::uint16_t WinsockVersion() const { return m_winsockVersion; }
    std::uint16_t HighVersion() const { return m_highVersion; }
    const std::string &Description() const { return m_description; }
    const std::string &SystemStatus() const { return m_systemStatus; }
    std::uint16_t MaxSockets() const { return m_maxSockets; }
    std::uint16_t MaxUdpDg() const { return m_maxUdpDg; }

    bool Loaded() const { return m_libHandle != nullptr; }
    // The named function of the loaded library; raises "Winsock not loaded" or
    // "Function <name> not found".
    void *GetProc(const char *name) const;

    // A host name or dotted address, to dotted address text.
    std::string ResolveHost(const std::string &text) const;
    // Dotted address text to the 32-bit address in network order.
    std::uint32_t ParseAddress(const std::string &text) const;
    [[noreturn]] void RaiseWinsockError(int code) const;
    static std::uint16_t SelectError(platform::LPARAM lParam) { return static_cast<std::uint16_t>(lParam >> 16); }
    static std::uint16_t SelectEvent(platform::LPARAM lParam) { return static_cast<std::uint16_t>(lParam & 0xFFFF); }

    // The socket functions, with the Winsock names, arguments and results, unchecked.
    SOCKET accept(SOCKET s, winsock::SOCKADDR *addr, int *addrlen) const;
    int bind(SOCKET s, const winsock::SOCKADDR *name, int namelen) const;
    int closesocket(SOCKET s) const;
    int connect(SOCKET s, const winsock::SOCKADDR *name, int namelen) const;
    int ioctlsocket(SOCKET s, winsock::LONG cmd, winsock::u_long *argp) const;
    int getsockname(SOCKET s, winsock::SOCKADDR *name, int *namelen) const;
    int setsockopt(SOCKET s, int level, int optname, const char *optval, int optlen) const;
    int getsockopt(SOCKET s, int level, int optname, char *optval, int *optlen) const;
    std::uint16_t htons(std::uint16_t hostshort) const;
    std::uint32_t inet_addr(const char *cp) const;
    char *inet_ntoa(winsock::IN_ADDR in) const;
    int listen(SOCKET s, int backlog) const;
    int recv(SOCKET s, char *buf, int len, int flags) const;
    int send(SOCKET s, const char *buf, int len, int flags) const;
    SOCKET socket(int af, int type, int protocol) const;
    winsock::HOSTENT *gethostbyname(const char *name) const;
    int WSAStartup(winsock::WORD versionRequested, winsock::WSADATA *data) const;
    int WSACleanup() const;
    int WSAGetLastError() const;
    int WSAAsyncSelect(SOCKET s, platform::HWND window, platform::UINT msg, winsock::LONG event) const;
    winsock::HANDLE WSAAsyncGetAddrByName(platform::HWND window, platform::UINT msg, const char *name, char *buf,
                                          int buflen) const;
    int WSACancelAsyncRequest(winsock::HANDLE task) const;
    int WSAGetAddrByName(const char *name, char *buf, int buflen) const;

private:
    enum class ProcSlot : std::size_t {
        accept,
        bind,
        closesocket,
        connect,
        ioctlsocket,
        getsockname,
        setsockopt,
        getsockopt,
        htons,
        inet_addr,
        inet_ntoa,
        listen,
        recv,
        send,
        socket,
        gethostbyname,
        WSAStartup,
        WSACleanup,
        WSAGetLastError,
        WSAAsyncSelect,
        WSAAsyncGetAddrByName,
        WSACancelAsyncRequest,
        WSAGetAddrByName,
        Count
    };
    // The function for a slot, looked up by name (GetProc) at its first call and kept: a lookup
    // by name costs more than a transfer's whole block. A function the library lacks is looked up,
    // and reported, again at every call.
    template <typename Fn> Fn *Proc(ProcSlot slot, const char *name) const
    {
        std::atomic<void *> &kept = m_procs[static_cast<std::size_t>(slot)];
        void *proc = kept.load(std::memory_order_relaxed);
        if (proc == nullptr) {
            proc = GetProc(name);
            kept.store(proc, std::memory_order_relaxed);
        }
        return reinterpret_cast<Fn *>(proc);
    }
    void LoadWinsock(const std::string &libraryPath);

    mutable std::array<std::atomic<void *>, static_cast<std::size_t>(ProcSlot::Count)> m_procs{};

    void *m_libHandle = nullptr;
    std::uint16_t m_winsockVersion = 0;
    std::uint16_t m_highVersion = 0;
    std::string m_description;
    std::string m_systemStatus;
    std::uint16_t m_maxSockets = 0;
    std::uint16_t m_maxUdpDg = 0;
};

// The binding every socket uses. Made at the socket library's start (the first use, or
// StartSocketLibrary at program start) and released when the program ends.
TmsWinsock &GlobalWinsock();
void StartSocketLibrary();
// Puts another binding in place of the global one and returns the previous one (tests use it to
// run the sockets over a missing or an incomplete library).
std::unique_ptr<TmsWinsock> ReplaceGlobalWinsock(std::unique_ptr<TmsWinsock> binding);

}  // namespace net
