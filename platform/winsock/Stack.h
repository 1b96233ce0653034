#pragma once
// The socket stack behind the exported Winsock functions. The exported names (socket, bind,
// recv...) are also C library names, so the stack lives in a file of its own that never calls
// the C library by those names, and the exports forward to it.
#include "platform/winsock/WinsockApi.h"

namespace winsock::stack {

SOCKET Accept(SOCKET s, SOCKADDR *addr, int *addrlen);
int Bind(SOCKET s, const SOCKADDR *name, int namelen);
int CloseSocket(SOCKET s);
int Connect(SOCKET s, const SOCKADDR *name, int namelen);
int IoctlSocket(SOCKET s, LONG cmd, u_long *argp);
int GetSockName(SOCKET s, SOCKADDR *name, int *namelen);
int SetSockOpt(SOCKET s, int level, int optname, const char *optval, int optlen);
int GetSockOpt(SOCKET s, int level, int optname, char *optval, int *optlen);
std::uint16_t Htons(std::uint16_t value);
std::uint32_t InetAddr(const char *cp);
char *InetNtoa(IN_ADDR in);
int Listen(SOCKET s, int backlog);
int Recv(SOCKET s, char *buf, int len, int flags);
int Send(SOCKET s, const char *buf, int len, int flags);
SOCKET Socket(int af, int type, int protocol);
HOSTENT *GetHostByName(const char *name);
int Startup(WORD versionRequested, WSADATA *data);
int Cleanup();
int GetLastError();
int AsyncSelect(SOCKET s, HWND window, UINT msg, LONG event);
HANDLE AsyncGetAddrByName(HWND window, UINT msg, const char *name, char *buf, int buflen);
int CancelAsyncRequest(HANDLE task);
int GetAddrByName(const char *name, char *buf, int buflen);

}  // namespace winsock::stack
