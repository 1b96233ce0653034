#pragma once
// The binary interface of the Windows Sockets 1.1 stand-in (libwsock32.so): the types, constants
// and function shapes that the program and the library agree on. Header-only and free of state:
// the program never links the library, it loads it at run time and looks each function up by name.
//
// The POSIX headers define some of the Winsock names as macros (AF_INET, FIONBIO, INADDR_ANY...),
// so the constants here carry a WS_ prefix where a clash is possible.
#include <cstdint>

namespace winsock {

using SOCKET = std::uintptr_t;
using WORD = std::uint16_t;
using u_long = std::uint32_t;
using HWND = std::uintptr_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using HANDLE = std::uintptr_t;

inline constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
inline constexpr int SOCKET_ERROR = -1;

inline constexpr int WS_AF_INET = 2;
inline constexpr int WS_AF_INET6 = 23;
inline constexpr int WS_SOCK_STREAM = 1;
inline constexpr int WS_IPPROTO_TCP = 6;
inline constexpr std::uint32_t WS_INADDR_ANY = 0;
inline constexpr std::uint32_t WS_INADDR_NONE = 0xFFFFFFFFu;
inline constexpr LONG WS_FIONBIO = static_cast<LONG>(0x8004667Eu);
inline constexpr LONG WS_FIONREAD = static_cast<LONG>(0x4004667Fu);
// Socket options (setsockopt, getsockopt): the receive buffer's size is the one the stack knows.
inline constexpr int WS_SOL_SOCKET = 0xFFFF;
inline constexpr int WS_SO_RCVBUF = 0x1002;

// Notification events of WSAAsyncSelect (low word of lParam; the high word is the error).
inline constexpr LONG FD_READ = 0x01;
inline constexpr LONG FD_WRITE = 0x02;
inline constexpr LONG FD_OOB = 0x04;
inline constexpr LONG FD_ACCEPT = 0x08;
inline constexpr LONG FD_CONNECT = 0x10;
inline constexpr LONG FD_CLOSE = 0x20;

// Error codes (WSAGetLastError).
inline constexpr int WSABASEERR = 10000;
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAENOTEMPTY = 10066;
inline constexpr int WSAEPROCLIM = 10067;
inline constexpr int WSAEUSERS = 10068;
inline constexpr int WSAEDQUOT = 10069;
inline constexpr int WSAESTALE = 10070;
inline constexpr int WSAEREMOTE = 10071;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAEDISCON = 10094;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

struct IN_ADDR {
    std::uint32_t S_addr;  // network byte order
};

// The 16-byte IPv4 socket address: family, port in network order, address.
struct SOCKADDR_IN {
    std::int16_t sin_family;
    std::uint16_t sin_port;
    IN_ADDR sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(SOCKADDR_IN) == 16);

struct SOCKADDR {
    std::uint16_t sa_family;
    char sa_data[14];
};
static_assert(sizeof(SOCKADDR) == 16);

struct IN6_ADDR {
    std::uint8_t Byte[16];  // network order
};

// The 28-byte IPv6 socket address: family, port in network order, flow, address, scope.
struct SOCKADDR_IN6 {
    std::int16_t sin6_family;
    std::uint16_t sin6_port;
    std::uint32_t sin6_flowinfo;
    IN6_ADDR sin6_addr;
    std::uint32_t sin6_scope_id;
};
static_assert(sizeof(SOCKADDR_IN6) == 28);

// Either socket address, told apart by the family that both begin with.
union SOCKADDR_INET {
    SOCKADDR_IN Ipv4;
    SOCKADDR_IN6 Ipv6;
    std::int16_t si_family;
};
static_assert(sizeof(SOCKADDR_INET) == 28);

// The addresses of a host name (WSAAsyncGetAddrByName, WSAGetAddrByName): IPv6 and IPv4 alike, in
// the resolver's order, each a whole socket address with port 0. A caller's buffer of this size
// holds any answer; the addresses past MAXADDRLIST are left out.
inline constexpr int MAXADDRLIST = 16;
struct ADDRLIST {
    std::int32_t iAddressCount;
    SOCKADDR_INET Address[MAXADDRLIST];
};

// The lParam of an asynchronous lookup's message: the buffer length in the low word, the error in
// the high word (0 when the buffer holds the answer).
inline constexpr std::uint32_t WSAMAKEASYNCREPLY(std::uint16_t buflen, std::uint16_t error)
{
    return (static_cast<std::uint32_t>(error) << 16) | buflen;
}

struct HOSTENT {
    char *h_name;
    char **h_aliases;
    std::int16_t h_addrtype;
    std::int16_t h_length;
    char **h_addr_list;  // zero-terminated list of h_length-byte addresses in network order
};

inline constexpr int WSADESCRIPTION_LEN = 256;
inline constexpr int WSASYS_STATUS_LEN = 128;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    std::uint16_t iMaxSockets;
    std::uint16_t iMaxUdpDg;
    char *lpVendorInfo;
};

// The function shapes, under the names the library exports.
extern "C" {
using accept_fn = SOCKET(SOCKET s, SOCKADDR *addr, int *addrlen);
using bind_fn = int(SOCKET s, const SOCKADDR *name, int namelen);
using closesocket_fn = int(SOCKET s);
using connect_fn = int(SOCKET s, const SOCKADDR *name, int namelen);
using ioctlsocket_fn = int(SOCKET s, LONG cmd, u_long *argp);
using getsockname_fn = int(SOCKET s, SOCKADDR *name, int *namelen);
using setsockopt_fn = int(SOCKET s, int level, int optname, const char *optval, int optlen);
using getsockopt_fn = int(SOCKET s, int level, int optname, char *optval, int *optlen);
using htons_fn = std::uint16_t(std::uint16_t hostshort);
using inet_addr_fn = std::uint32_t(const char *cp);
using inet_ntoa_fn = char *(IN_ADDR in);
using listen_fn = int(SOCKET s, int backlog);
using recv_fn = int(SOCKET s, char *buf, int len, int flags);
using send_fn = int(SOCKET s, const char *buf, int len, int flags);
using socket_fn = SOCKET(int af, int type, int protocol);
using gethostbyname_fn = HOSTENT *(const char *name);
using WSAStartup_fn = int(WORD versionRequested, WSADATA *data);
using WSACleanup_fn = int();
using WSAGetLastError_fn = int();
using WSAAsyncSelect_fn = int(SOCKET s, HWND window, UINT msg, LONG event);
// Looks a host name (or an IPv4 or IPv6 literal) up on a thread of the library's own and posts
// `msg` to the window when done: wParam the task's handle, lParam WSAMAKEASYNCREPLY; the buffer
// (an ADDRLIST) is filled before the message is posted. 0 on failure.
using WSAAsyncGetAddrByName_fn = HANDLE(HWND window, UINT msg, const char *name, char *buf, int buflen);
// Drops a lookup under way: its buffer is never written and its message never posted.
using WSACancelAsyncRequest_fn = int(HANDLE task);
// The same lookup, waiting for the answer: 0, or SOCKET_ERROR with WSAGetLastError.
using WSAGetAddrByName_fn = int(const char *name, char *buf, int buflen);
}

// The version node the library exports its functions under: a lookup by name in this node finds
// only the library's own functions, never a same-named one of the C library it depends on.
inline constexpr const char *ExportVersion = "WSOCK32_1.1";

}  // namespace winsock
