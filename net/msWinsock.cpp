#include "net/msWinsock.h"

#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>
#include <utility>

// Where an installed program keeps the library, relative to the executable's folder.
#ifndef DROVANEL_WINSOCK_FROM_BIN
#define DROVANEL_WINSOCK_FROM_BIN "../lib/drovanel"
#endif

namespace net {
namespace {

constexpr int kErrorTextBase = 40000;
constexpr winsock::WORD kRequestedVersion = 0x0101;

// The error texts, as string resources numbered 40000 + code.
constexpr std::array<std::pair<int, const char *>, 52> kErrorTexts{{
    {50000, "[0] No Error"},
    {50004, "[10004] Interrupted function call"},
    {50009, "[10009] Bad file number"},
    {50013, "[10013] Permission denied."},
    {50014, "[10014] Bad address"},
    {50022, "[10022] Invalid argument"},
    {50024, "[10024] Too many open files"},
    {50035, "[10035] Resource temporarily not available"},
    {50036, "[10036] Operation now in progress"},
    {50037, "[10037] Operation already in progress"},
    {50038, "[10038] Socket operation on non-socket"},
    {50039, "[10039] Destination address required"},
    {50040, "[10040] Message too long"},
    {50041, "[10041] Protocol wrong type for socket"},
    {50042, "[10042] Bad protocol option"},
    {50043, "[10043] Protocol not supported"},
    {50044, "[10044] Socket type not supported"},
    {50045, "[10045] Operation not supported"},
    {50046, "[10046] Protocol family not supported"},
    {50047, "[10047] Address family not supported by protocol family"},
    {50048, "[10048] Address already in use"},
    {50049, "[10049] Cannot assign requested address"},
    {50050, "[10050] Network is down"},
    {50051, "[10051] Network is unreachable"},
    {50052, "[10052] Network dropped connection or reset"},
    {50053, "[10053] Software caused connection abort"},
    {50054, "[10054] Connection reset by peer"},
    {50055, "[10055] No buffer space available"},
    {50056, "[10056] Socket is already connected"},
    {50057, "[10057] Socket is not connected"},
    {50058, "[10058] Can't send after socket shutdown"},
    {50059, "[10059] Too many references, can't splice"},
    {50060, "[10060] Connection timed out"},
    {50061, "[10061] Connection refused"},
    {50062, "[10062] Too many levels of symbolic links"},
    {50063, "[10063] File name too long"},
    {50064, "[10064] Host is down"},
    {50065, "[10065] No Route to Host"},
    {50066, "[10066] Directory not empty"},
    {50067, "[10067] Too many processes"},
    {50068, "[10068] Too many users"},
    {50069, "[10069] Disc Quota Exceeded"},
    {50070, "[10070] Stale NFS file handle"},
    {50071, "[10071] Too many levels of remote in path"},
    {50091, "[10091] Network subsystem is unavailable"},
    {50092, "[10092] WINSOCK DLL Version out of range"},
    {50093, "[10093] Successful WSAStartup() not yet performed"},
    {50094, "[10094] Graceful shutdown in progress"},
    {51001, "[11001] Host not found"},
    {51002, "[11002] Non-Authoritative Host not found"},
    {51003, "[11003] Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
    {51004, "[11004] Valid name, no data record of requested type"},
}};

std::string LoadResString(int id)
{
    const auto it = std::find_if(kErrorTexts.begin(), kErrorTexts.end(), [id](const auto &e) { return e.first == id; });
    return it == kErrorTexts.end() ? std::string() : std::string(it->second);
}

std::string CutTo255(const char *text, std::size_t capacity)
{
    return std::string(text, strnlen(text, std::min<std::size_t>(capacity, 255)));
}

std::unique_ptr<TmsWinsock> &GlobalSlot()
{
    static std::unique_ptr<TmsWinsock> binding;
    return binding;
}

}  // namespace

std::string WinsockErrorText(int code)
{
    return LoadResString(kErrorTextBase + static_cast<std::uint16_t>(code));
}

std::string TmsWinsock::DefaultLibraryPath()
{
    // In the build tree the library lies beside the executable, as the system would find it first;
    // an installed program finds it in its private library folder, at the same place relative to
    // the executable's folder wherever the package was installed.
    std::array<char, 4096> exe{};
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    const std::string dir = n > 0 ? QFileInfo(QString::fromLocal8Bit(exe.data(), n)).absolutePath().toStdString() : ".";
    const std::string beside = dir + "/libwsock32.so";
    const std::string installed = dir + "/" DROVANEL_WINSOCK_FROM_BIN "/libwsock32.so";
    return ::access(beside.c_str(), F_OK) != 0 && ::access(installed.c_str(), F_OK) == 0 ? installed : beside;
}

TmsWinsock::TmsWinsock(const std::string &libraryPath)
{
    winsock::WSADATA data{};
    LoadWinsock(libraryPath);
    if (!Loaded())
        return;
    if (WSAStartup(kRequestedVersion, &data) != 0)
        throw EWinsockError("Invalid winsock version");
    m_winsockVersion = data.wVersion;
    m_highVersion = data.wHighVersion;
    m_description = CutTo255(data.szDescription, sizeof data.szDescription);
    m_systemStatus = CutTo255(data.szSystemStatus, sizeof data.szSystemStatus);
    m_maxSockets = data.iMaxSockets;
    m_maxUdpDg = data.iMaxUdpDg;
}

TmsWinsock::~TmsWinsock()
{
    // A library that never loaded has no clean-up to call.
    if (!Loaded())
        return;
    if (auto *cleanup =
            reinterpret_cast<winsock::WSACleanup_fn *>(::dlvsym(m_libHandle, "WSACleanup", winsock::ExportVersion)))
        cleanup();
    ::dlclose(m_libHandle);
    m_libHandle = nullptr;
}

void TmsWinsock::LoadWinsock(const std::string &libraryPath)
{
    // Never unloaded for real: notices the library posted may still wait in the event queue, and
    // their code must stay where it is.
    m_libHandle = ::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

void *TmsWinsock::GetProc(const char *name) const
{
    if (!Loaded())
        throw EWinsockError("Winsock not loaded");
    // Looked up in the library's own version node: a C library function of the same name never
    // stands in for a missing one.
    void *proc = ::dlvsym(m_libHandle, name, winsock::ExportVersion);
    if (!proc)
        throw EWinsockError(std::string("Function ") + name + " not found");
    return proc;
}

void TmsWinsock::RaiseWinsockError(int code) const
{
    const auto word = static_cast<std::uint16_t>(code);
    std::string message = LoadResString(kErrorTextBase + word);
    if (message.empty())
        message = "Winsock error no " + std::to_string(word);
    throw EWinsockError(message);
}

std::string TmsWinsock::ResolveHost(const std::string &text) const
{
    // The whole text is used (host texts hold up to 255 characters, more than a 128-byte buffer);
    // a text with a zero byte in it names no host.
    if (text.find('\0') != std::string::npos)
        RaiseWinsockError(winsock::WSAHOST_NOT_FOUND);
    if (inet_addr(text.c_str()) != winsock::WS_INADDR_NONE)
        return text;
    const winsock::HOSTENT *host = gethostbyname(text.c_str());
    if (!host || !host->h_addr_list || !host->h_addr_list[0])
        RaiseWinsockError(WSAGetLastError());
    winsock::IN_ADDR first{};
    std::memcpy(&first.S_addr, host->h_addr_list[0], sizeof first.S_addr);
    const char *dotted = inet_ntoa(first);
    return dotted ? std::string(dotted) : std::string();
}

std::uint32_t TmsWinsock::ParseAddress(const std::string &text) const
{
    const std::uint32_t address =
        text.find('\0') != std::string::npos ? winsock::WS_INADDR_NONE : inet_addr(text.c_str());
    if (address == winsock::WS_INADDR_NONE)
        RaiseWinsockError(WSAGetLastError());
    return address;
}

SOCKET TmsWinsock::accept(SOCKET s, winsock::SOCKADDR *addr, int *addrlen) const
{
    return Proc<winsock::accept_fn>(ProcSlot::accept, "accept")(s, addr, addrlen);
}
int TmsWinsock::bind(SOCKET s, const winsock::SOCKADDR *name, int namelen) const
{
    return Proc<winsock::bind_fn>(ProcSlot::bind, "bind")(s, name, namelen);
}
int TmsWinsock::closesocket(SOCKET s) const
{
    return Proc<winsock::closesocket_fn>(ProcSlot::closesocket, "closesocket")(s);
}
int TmsWinsock::connect(SOCKET s, const winsock::SOCKADDR *name, int namelen) const
{
    return Proc<winsock::connect_fn>(ProcSlot::connect, "connect")(s, name, namelen);
}
int TmsWinsock::ioctlsocket(SOCKET s, winsock::LONG cmd, winsock::u_long *argp) const
{
    return Proc<winsock::ioctlsocket_fn>(ProcSlot::ioctlsocket, "ioctlsocket")(s, cmd, argp);
}
int TmsWinsock::getsockname(SOCKET s, winsock::SOCKADDR *name, int *namelen) const
{
    return Proc<winsock::getsockname_fn>(ProcSlot::getsockname, "getsockname")(s, name, namelen);
}
int TmsWinsock::setsockopt(SOCKET s, int level, int optname, const char *optval, int optlen) const
{
    return Proc<winsock::setsockopt_fn>(ProcSlot::setsockopt, "setsockopt")(s, level, optname, optval, optlen);
}
int TmsWinsock::getsockopt(SOCKET s, int level, int optname, char *optval, int *optlen) const
{
    return Proc<winsock::getsockopt_fn>(ProcSlot::getsockopt, "getsockopt")(s, level, optname, optval, optlen);
}
std::uint16_t TmsWinsock::htons(std::uint16_t hostshort) const
{
    return Proc<winsock::htons_fn>(ProcSlot::htons, "htons")(hostshort);
}
std::uint32_t TmsWinsock::inet_addr(const char *cp) const
{
    return Proc<winsock::inet_addr_fn>(ProcSlot::inet_addr, "inet_addr")(cp);
}
char *TmsWinsock::inet_ntoa(winsock::IN_ADDR in) const
{
    return Proc<winsock::inet_ntoa_fn>(ProcSlot::inet_ntoa, "inet_ntoa")(in);
}
int TmsWinsock::listen(SOCKET s, int backlog) const
{
    return Proc<winsock::listen_fn>(ProcSlot::listen, "listen")(s, backlog);
}
int TmsWinsock::recv(SOCKET s, char *buf, int len, int flags) const
{
    return Proc<winsock::recv_fn>(ProcSlot::recv, "recv")(s, buf, len, flags);
}
int TmsWinsock::send(SOCKET s, const char *buf, int len, int flags) const
{
    return Proc<winsock::send_fn>(ProcSlot::send, "send")(s, buf, len, flags);
}
SOCKET TmsWinsock::socket(int af, int type, int protocol) const
{
    return Proc<winsock::socket_fn>(ProcSlot::socket, "socket")(af, type, protocol);
}
winsock::HOSTENT *TmsWinsock::gethostbyname(const char *name) const
{
    return Proc<winsock::gethostbyname_fn>(ProcSlot::gethostbyname, "gethostbyname")(name);
}
int TmsWinsock::WSAStartup(winsock::WORD versionRequested, winsock::WSADATA *data) const
{
    return Proc<winsock::WSAStartup_fn>(ProcSlot::WSAStartup, "WSAStartup")(versionRequested, data);
}
int TmsWinsock::WSACleanup() const
{
    return Proc<winsock::WSACleanup_fn>(ProcSlot::WSACleanup, "WSACleanup")();
}
int TmsWinsock::WSAGetLastError() const
{
    return Proc<winsock::WSAGetLastError_fn>(ProcSlot::WSAGetLastError, "WSAGetLastError")();
}
int TmsWinsock::WSAAsyncSelect(SOCKET s, platform::HWND window, platform::UINT msg, winsock::LONG event) const
{
    return Proc<winsock::WSAAsyncSelect_fn>(ProcSlot::WSAAsyncSelect, "WSAAsyncSelect")(s, window, msg, event);
}

winsock::HANDLE TmsWinsock::WSAAsyncGetAddrByName(platform::HWND window, platform::UINT msg, const char *name,
                                                  char *buf, int buflen) const
{
    return Proc<winsock::WSAAsyncGetAddrByName_fn>(ProcSlot::WSAAsyncGetAddrByName,
                                                   "WSAAsyncGetAddrByName")(window, msg, name, buf, buflen);
}
int TmsWinsock::WSACancelAsyncRequest(winsock::HANDLE task) const
{
    return Proc<winsock::WSACancelAsyncRequest_fn>(ProcSlot::WSACancelAsyncRequest, "WSACancelAsyncRequest")(task);
}
int TmsWinsock::WSAGetAddrByName(const char *name, char *buf, int buflen) const
{
    return Proc<winsock::WSAGetAddrByName_fn>(ProcSlot::WSAGetAddrByName, "WSAGetAddrByName")(name, buf, buflen);
}

// ---- TmsInetAddress ----

TmsInetAddress TmsInetAddress::FromSockAddr(const winsock::SOCKADDR_INET &address)
{
    TmsInetAddress out;
    if (address.si_family == winsock::WS_AF_INET6) {
        out.Family = winsock::WS_AF_INET6;
        std::memcpy(out.Bytes.data(), address.Ipv6.sin6_addr.Byte, 16);
        out.ScopeId = address.Ipv6.sin6_scope_id;
    } else if (address.si_family == winsock::WS_AF_INET) {
        out.Family = winsock::WS_AF_INET;
        std::memcpy(out.Bytes.data(), &address.Ipv4.sin_addr.S_addr, 4);
    }
    return out;
}

TmsInetAddress TmsInetAddress::FromIPv4(std::uint32_t networkOrder)
{
    TmsInetAddress out;
    out.Family = winsock::WS_AF_INET;
    std::memcpy(out.Bytes.data(), &networkOrder, 4);
    return out;
}

winsock::SOCKADDR_INET TmsInetAddress::ToSockAddr(std::uint16_t portNetworkOrder) const
{
    winsock::SOCKADDR_INET out{};
    if (IsIPv6()) {
        out.Ipv6.sin6_family = winsock::WS_AF_INET6;
        out.Ipv6.sin6_port = portNetworkOrder;
        std::memcpy(out.Ipv6.sin6_addr.Byte, Bytes.data(), 16);
        out.Ipv6.sin6_scope_id = ScopeId;
    } else {
        out.Ipv4.sin_family = winsock::WS_AF_INET;
        out.Ipv4.sin_port = portNetworkOrder;
        std::memcpy(&out.Ipv4.sin_addr.S_addr, Bytes.data(), 4);
    }
    return out;
}

int TmsInetAddress::SockAddrLength() const
{
    return IsIPv6() ? static_cast<int>(sizeof(winsock::SOCKADDR_IN6)) : static_cast<int>(sizeof(winsock::SOCKADDR_IN));
}

std::uint32_t TmsInetAddress::IPv4() const
{
    std::uint32_t address = 0;
    if (Family == winsock::WS_AF_INET)
        std::memcpy(&address, Bytes.data(), 4);
    return address;
}

std::string TmsInetAddress::Text() const
{
    if (Family == winsock::WS_AF_INET)
        return std::to_string(Bytes[0]) + "." + std::to_string(Bytes[1]) + "." + std::to_string(Bytes[2]) + "." +
               std::to_string(Bytes[3]);
    if (!IsIPv6())
        return {};
    std::array<unsigned, 8> groups{};
    for (size_t i = 0; i < 8; ++i)
        groups[i] = (static_cast<unsigned>(Bytes[2 * i]) << 8) | Bytes[2 * i + 1];
    // The longest run of two or more zero groups (the first of equal ones) becomes "::".
    size_t bestStart = 8;
    size_t bestLength = 1;
    for (size_t i = 0; i < 8;) {
        size_t j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    std::string text;
    char hex[8];
    for (size_t i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        std::snprintf(hex, sizeof hex, "%x", groups[i]);
        text += hex;
    }
    if (ScopeId != 0)
        text += "%" + std::to_string(ScopeId);
    return text;
}

std::string TmsInetAddress::FamilyName() const
{
    if (Family == winsock::WS_AF_INET)
        return "IPv4";
    return IsIPv6() ? "IPv6" : std::string();
}

TmsWinsock &GlobalWinsock()
{
    auto &slot = GlobalSlot();
    if (!slot)
        slot = std::make_unique<TmsWinsock>();
    return *slot;
}

void StartSocketLibrary()
{
    (void)GlobalWinsock();
}

std::unique_ptr<TmsWinsock> ReplaceGlobalWinsock(std::unique_ptr<TmsWinsock> binding)
{
    (void)GlobalWinsock();
    std::swap(GlobalSlot(), binding);
    return binding;
}

}  // namespace net
