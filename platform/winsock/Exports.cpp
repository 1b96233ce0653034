// The exported functions under their Winsock names, argument orders and results. Nothing here
// may see the C library's declarations of the same names, so this file includes no system header.
#include "platform/winsock/Stack.h"

using namespace winsock;

extern "C" {

SOCKET accept(SOCKET s, SOCKADDR *addr, int *addrlen)
{
    return stack::Accept(s, addr, addrlen);
}
int bind(SOCKET s, const SOCKADDR *name, int namelen)
{
    return stack::Bind(s, name, namelen);
}
int closesocket(SOCKET s)
{
    return stack::CloseSocket(s);
}
int connect(SOCKET s, const SOCKADDR *name, int namelen)
{
    return stack::Connect(s, name, namelen);
}
int ioctlsocket(SOCKET s, LONG cmd, u_long *argp)
{
    return stack::IoctlSocket(s, cmd, argp);
}
int getsockname(SOCKET s, SOCKADDR *name, int *namelen)
{
    return stack::GetSockName(s, name, namelen);
}
int setsockopt(SOCKET s, int level, int optname, const char *optval, int optlen)
{
    return stack::SetSockOpt(s, level, optname, optval, optlen);
}
int getsockopt(SOCKET s, int level, int optname, char *optval, int *optlen)
{
    return stack::GetSockOpt(s, level, optname, optval, optlen);
}
std::uint16_t htons(std::uint16_t hostshort)
{
    return stack::Htons(hostshort);
}
std::uint32_t inet_addr(const char *cp)
{
    return stack::InetAddr(cp);
}
char *inet_ntoa(IN_ADDR in)
{
    return stack::InetNtoa(in);
}
int listen(SOCKET s, int backlog)
{
    return stack::Listen(s, backlog);
}
int recv(SOCKET s, char *buf, int len, int flags)
{
    return stack::Recv(s, buf, len, flags);
}
int send(SOCKET s, const char *buf, int len, int flags)
{
    return stack::Send(s, buf, len, flags);
}
SOCKET socket(int af, int type, int protocol)
{
    return stack::Socket(af, type, protocol);
}
int WSAStartup(WORD versionRequested, WSADATA *data)
{
    return stack::Startup(versionRequested, data);
}
int WSACleanup()
{
    return stack::Cleanup();
}
int WSAGetLastError()
{
    return stack::GetLastError();
}
HANDLE WSAAsyncGetAddrByName(HWND window, UINT msg, const char *name, char *buf, int buflen)
{
    return stack::AsyncGetAddrByName(window, msg, name, buf, buflen);
}
int WSACancelAsyncRequest(HANDLE task)
{
    return stack::CancelAsyncRequest(task);
}
int WSAGetAddrByName(const char *name, char *buf, int buflen)
{
    return stack::GetAddrByName(name, buf, buflen);
}

// The deliberately incomplete build (for the tests of a missing function) leaves these two out.
#ifndef WINSOCK_INCOMPLETE
HOSTENT *gethostbyname(const char *name)
{
    return stack::GetHostByName(name);
}
int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, LONG event)
{
    return stack::AsyncSelect(s, window, msg, event);
}
#endif

}  // extern "C"
