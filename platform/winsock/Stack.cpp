// The Winsock 1.1 socket stack over POSIX sockets.
//
// Handles are numbers issued here and never reused while the process runs, so a stale handle
// (a second closesocket, a notice of a closed socket) can never reach another socket.
//
// Notices: every selected socket is registered, edge-triggered, with one epoll set, and one
// QSocketNotifier watches that set on the event loop. Edge-triggering is what makes Winsock's
// rules cheap: a notice is posted once per condition, FD_READ and FD_ACCEPT stay quiet until the
// next recv or accept re-enables them, FD_WRITE comes after a connect and after a send that would
// block, and the peer's close (EPOLLRDHUP) is seen even while data is still unread. An FD_READ is
// not posted while another one for the same socket still waits in the queue: that one announces
// the data as well, and a receive loop that takes block after block would otherwise post one
// notice (and wake the event loop) per block. Notices are
// posted as window-message events to the window object whose address the caller gave; it is held
// through a QPointer, so a window that has been destroyed is never posted to.
//
// Lookups by name (WSAAsyncGetAddrByName) run getaddrinfo on a thread of their own, one per
// lookup, so that a resolver that does not answer holds no caller. The thread hands its answer
// back through an eventfd in the same epoll set, and the answer is copied into the caller's buffer
// and posted on the thread of the event loop, never on the lookup's: a lookup cancelled before
// that (WSACancelAsyncRequest) writes nothing and posts nothing, however late its thread ends.
//
// Tests give the lookups a hosts file of their own instead of the system's resolver:
// DROVANEL_WINSOCK_HOSTS names a file of lines "address name...", the name's addresses taken in
// the file's order; the address "hang" makes the lookup of that name never answer.
//
// This file must not call the C library by any name that the library exports (socket, bind,
// connect, listen, getsockname, getsockopt, accept, recv, send, htons...): those names resolve to our own
// exports inside this library. It uses syscall(), accept4, recvfrom and sendto instead.
#include "platform/winsock/Stack.h"

#include "platform/WinMessage.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace winsock::stack {
namespace {

enum class State { Fresh, Connecting, Connected, Listening, Failed };

struct Sock {
    int fd = -1;
    int family = AF_INET;
    State state = State::Fresh;
    bool nonBlocking = false;
    // Selection (WSAAsyncSelect).
    QPointer<QObject> window;
    UINT msg = 0;
    LONG mask = 0;
    bool inEpoll = false;
    bool connectPending = false;  // a non-blocking connect is under way
    bool readPending = false;     // FD_READ posted, waiting for recv to re-enable it
    // Set while an FD_READ of this socket waits in the window's queue (cleared as it is taken).
    platform::QueuedMark readQueued = std::make_shared<std::atomic<bool>>(false);
    bool acceptPending = false;  // FD_ACCEPT posted, waiting for accept to re-enable it
    bool writeWanted = false;    // FD_WRITE is due at the next writable edge
    bool closeNotified = false;
    int pendingErrno = 0;  // an error taken from the socket for a notice, kept for the next call
};

// A lookup by name under way. The answer is filled by the lookup's thread under the stack's lock;
// the window, the message and the caller's buffer are used on the event loop's thread only.
struct Lookup {
    QPointer<QObject> window;
    UINT msg = 0;
    char *buf = nullptr;
    int buflen = 0;
    bool done = false;
    int error = 0;
    ADDRLIST answer{};
};

// The epoll key of the lookups' eventfd (socket handles start at 0x100).
constexpr std::uint64_t kLookupKey = 0;

struct Stack {
    std::mutex mutex;
    std::map<SOCKET, Sock> sockets;
    SOCKET nextHandle = 0x100;
    int startups = 0;
    int epollFd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    std::map<HANDLE, std::shared_ptr<Lookup>> lookups;
    HANDLE nextLookup = 1;
    int lookupFd = -1;  // made once, never closed: a lookup's thread may outlive a clean-up
};

Stack &stack()
{
    // Never destroyed: the program's binding calls WSACleanup from its own static destructor,
    // which may run after this library's statics are gone. The process's end releases it all.
    static Stack *const s = new Stack;
    return *s;
}

thread_local int t_lastError = 0;

int fail(int wsaError)
{
    t_lastError = wsaError;
    return SOCKET_ERROR;
}

int wsaFromErrno(int e)
{
    switch (e) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN:
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;  // Winsock reports a send on a broken connection as a reset
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSAEINVAL;
    }
}

int failErrno(int e)
{
    return fail(wsaFromErrno(e));
}

// The socket for a handle, or nullptr (and WSAENOTSOCK, or WSANOTINITIALISED before start-up).
Sock *find(Stack &st, SOCKET s)
{
    if (st.startups == 0) {
        fail(WSANOTINITIALISED);
        return nullptr;
    }
    auto it = st.sockets.find(s);
    if (it == st.sockets.end()) {
        fail(WSAENOTSOCK);
        return nullptr;
    }
    return &it->second;
}

void post(SOCKET h, const Sock &s, LONG event, int wsaError)
{
    if (!s.window || (s.mask & event) == 0)
        return;
    const auto lParam = static_cast<platform::LPARAM>((static_cast<std::uint32_t>(wsaError & 0xFFFF) << 16) |
                                                      static_cast<std::uint32_t>(event & 0xFFFF));
    QCoreApplication::postEvent(
        s.window.data(), new platform::WinMessageEvent(s.msg, h, lParam, event == FD_READ ? s.readQueued : nullptr));
}

// Whether an FD_READ of this socket still waits in the queue.
bool readNoticeQueued(const Sock &s)
{
    return s.readQueued->load();
}

int bytesWaiting(int fd)
{
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

bool connectionWaiting(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

int takeSocketError(int fd)
{
    int err = 0;
    socklen_t len = sizeof err;
    ::syscall(SYS_getsockopt, fd, SOL_SOCKET, SO_ERROR, &err, &len);
    return err;
}

bool isConnected(int fd)
{
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) == 0;
}

// A non-blocking connect whose outcome no notice has reported yet (the socket may not be
// selected at all): settled when the socket is next used.
bool settleConnect(SOCKET h, Sock &s)
{
    if (s.state == State::Connected)
        return true;
    if (!s.connectPending || !isConnected(s.fd))
        return false;
    s.connectPending = false;
    s.state = State::Connected;
    post(h, s, FD_CONNECT, 0);
    post(h, s, FD_WRITE, 0);
    return true;
}

void onEdge(SOCKET h, Sock &s, std::uint32_t ev)
{
    if (!s.window || s.mask == 0)
        return;
    if (s.connectPending) {
        if ((ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)) == 0)
            return;
        s.connectPending = false;
        if (!isConnected(s.fd)) {
            int err = takeSocketError(s.fd);
            if (err == 0)
                err = ECONNREFUSED;
            if (err == ECONNRESET || err == EPIPE) {
                // Established, then reset by the peer before this notice: Winsock reports the
                // connect, then the close with the reset, and the next call fails with it.
                s.state = State::Connected;
                s.pendingErrno = err;
                s.closeNotified = true;
                post(h, s, FD_CONNECT, 0);
                post(h, s, FD_CLOSE, wsaFromErrno(err));
                return;
            }
            s.state = State::Failed;
            post(h, s, FD_CONNECT, wsaFromErrno(err));
            return;
        }
        s.state = State::Connected;
        post(h, s, FD_CONNECT, 0);
        post(h, s, FD_WRITE, 0);
        s.writeWanted = false;
    }
    if (s.state == State::Listening) {
        if ((ev & EPOLLIN) && !s.acceptPending && (s.mask & FD_ACCEPT)) {
            s.acceptPending = true;
            post(h, s, FD_ACCEPT, 0);
        }
        return;
    }
    if (s.state != State::Connected)
        return;  // a fresh or failed socket reports hang-ups that mean nothing yet
    if ((ev & EPOLLIN) && !s.readPending && (s.mask & FD_READ) && !readNoticeQueued(s) && bytesWaiting(s.fd) > 0) {
        s.readPending = true;
        post(h, s, FD_READ, 0);
    }
    if ((ev & EPOLLOUT) && s.writeWanted && (s.mask & FD_WRITE)) {
        s.writeWanted = false;
        post(h, s, FD_WRITE, 0);
    }
    if ((ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && !s.closeNotified && (s.mask & FD_CLOSE)) {
        int err = 0;
        if (ev & EPOLLERR) {
            err = takeSocketError(s.fd);
            s.pendingErrno = err;  // reading it cleared it; the next recv or send reports it
        }
        s.closeNotified = true;
        post(h, s, FD_CLOSE, err ? wsaFromErrno(err) : 0);
    }
}

// Hands the answers of the finished lookups to their windows (the stack's lock held).
void deliverLookups(Stack &st)
{
    std::uint64_t count = 0;
    while (::read(st.lookupFd, &count, sizeof count) > 0) {
    }
    for (auto it = st.lookups.begin(); it != st.lookups.end();) {
        Lookup &l = *it->second;
        if (!l.done) {
            ++it;
            continue;
        }
        if (l.window) {
            if (l.error == 0)
                std::memcpy(l.buf, &l.answer, std::min<size_t>(sizeof l.answer, static_cast<size_t>(l.buflen)));
            const auto lParam = static_cast<platform::LPARAM>(WSAMAKEASYNCREPLY(
                static_cast<std::uint16_t>(std::min(l.buflen, 0xFFFF)), static_cast<std::uint16_t>(l.error)));
            QCoreApplication::postEvent(l.window.data(), new platform::WinMessageEvent(l.msg, it->first, lParam));
        }
        it = st.lookups.erase(it);
    }
}

void drain()
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    if (st.epollFd < 0)
        return;
    std::array<epoll_event, 64> events{};
    for (;;) {
        const int n = ::epoll_wait(st.epollFd, events.data(), static_cast<int>(events.size()), 0);
        if (n <= 0)
            return;
        for (int i = 0; i < n; ++i) {
            const SOCKET h = events[static_cast<size_t>(i)].data.u64;
            if (h == kLookupKey) {
                deliverLookups(st);
                continue;
            }
            auto it = st.sockets.find(h);
            if (it != st.sockets.end())
                onEdge(h, it->second, events[static_cast<size_t>(i)].events);
        }
        if (n < static_cast<int>(events.size()))
            return;
    }
}

bool ensureWatcher(Stack &st)
{
    if (st.notifier)
        return true;
    if (!QCoreApplication::instance())
        return false;
    if (st.epollFd < 0)
        st.epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (st.epollFd < 0)
        return false;
    if (st.lookupFd < 0)
        st.lookupFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.u64 = kLookupKey;
    if (st.lookupFd < 0 || ::epoll_ctl(st.epollFd, EPOLL_CTL_ADD, st.lookupFd, &wake) != 0) {
        ::close(st.epollFd);
        st.epollFd = -1;
        return false;
    }
    st.notifier = std::make_unique<QSocketNotifier>(st.epollFd, QSocketNotifier::Read);
    QObject::connect(st.notifier.get(), &QSocketNotifier::activated, [] { drain(); });
    return true;
}

void unwatch(Stack &st, Sock &s)
{
    if (s.inEpoll && st.epollFd >= 0)
        ::epoll_ctl(st.epollFd, EPOLL_CTL_DEL, s.fd, nullptr);
    s.inEpoll = false;
}

bool watch(Stack &st, SOCKET h, Sock &s)
{
    if (!ensureWatcher(st))
        return false;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = h;
    // Adding or modifying re-reports the conditions that hold now, as a new selection should.
    if (::epoll_ctl(st.epollFd, s.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, s.fd, &ev) != 0)
        return false;
    s.inEpoll = true;
    return true;
}

bool setNonBlocking(int fd, bool on)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

// A Winsock socket address (IPv4 or IPv6) to the system's: its length, or 0 with the error set.
socklen_t toPosix(const SOCKADDR *name, int namelen, sockaddr_storage &out)
{
    if (!name || namelen < static_cast<int>(sizeof(SOCKADDR_IN))) {
        fail(WSAEFAULT);
        return 0;
    }
    std::int16_t family = 0;
    std::memcpy(&family, name, sizeof family);
    out = sockaddr_storage{};
    if (family == WS_AF_INET) {
        SOCKADDR_IN in{};
        std::memcpy(&in, name, sizeof in);
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_port = in.sin_port;
        v4.sin_addr.s_addr = in.sin_addr.S_addr;
        std::memcpy(&out, &v4, sizeof v4);
        return sizeof v4;
    }
    if (family == WS_AF_INET6) {
        if (namelen < static_cast<int>(sizeof(SOCKADDR_IN6))) {
            fail(WSAEFAULT);
            return 0;
        }
        SOCKADDR_IN6 in{};
        std::memcpy(&in, name, sizeof in);
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = in.sin6_port;
        v6.sin6_flowinfo = in.sin6_flowinfo;
        std::memcpy(&v6.sin6_addr, in.sin6_addr.Byte, 16);
        v6.sin6_scope_id = in.sin6_scope_id;
        std::memcpy(&out, &v6, sizeof v6);
        return sizeof v6;
    }
    fail(WSAEAFNOSUPPORT);
    return 0;
}

// The Winsock length of a socket address of the system's family.
int winsockLength(int family)
{
    return family == AF_INET6 ? static_cast<int>(sizeof(SOCKADDR_IN6)) : static_cast<int>(sizeof(SOCKADDR_IN));
}

// A system socket address to the Winsock one, as an IPv4 or IPv6 socket address.
SOCKADDR_INET toWinsock(const sockaddr *in)
{
    SOCKADDR_INET out;
    std::memset(&out, 0, sizeof out);  // the whole union, past an IPv4 address too
    if (in->sa_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, in, sizeof v6);
        out.Ipv6.sin6_family = WS_AF_INET6;
        out.Ipv6.sin6_port = v6.sin6_port;
        out.Ipv6.sin6_flowinfo = v6.sin6_flowinfo;
        std::memcpy(out.Ipv6.sin6_addr.Byte, &v6.sin6_addr, 16);
        out.Ipv6.sin6_scope_id = v6.sin6_scope_id;
    } else {
        sockaddr_in v4{};
        std::memcpy(&v4, in, sizeof v4);
        out.Ipv4.sin_family = WS_AF_INET;
        out.Ipv4.sin_port = v4.sin_port;
        out.Ipv4.sin_addr.S_addr = v4.sin_addr.s_addr;
    }
    return out;
}

// The caller has checked that `name` holds winsockLength of the family.
void fromPosix(const sockaddr_storage &in, SOCKADDR *name, int *namelen)
{
    const SOCKADDR_INET out = toWinsock(reinterpret_cast<const sockaddr *>(&in));
    *namelen = winsockLength(in.ss_family);
    std::memcpy(name, &out, static_cast<size_t>(*namelen));
}

SOCKET addSocket(Stack &st, Sock s)
{
    const SOCKET h = st.nextHandle;
    st.nextHandle += 4;
    st.sockets.emplace(h, std::move(s));
    return h;
}

bool endsWithInvalid(std::string name)
{
    while (!name.empty() && name.back() == '.')
        name.pop_back();
    constexpr std::string_view suffix = ".invalid";
    return name.size() >= suffix.size() && ::strcasecmp(name.c_str() + name.size() - suffix.size(), suffix.data()) == 0;
}

struct HostEntry {
    std::string name;
    std::vector<std::array<char, 4>> addresses;
    std::vector<char *> addressList;
    char *aliases[1] = {nullptr};
    HOSTENT entry{};
};
thread_local HostEntry t_host;

int resolverError(int eai)
{
    switch (eai) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
    // NOLINTNEXTLINE(bugprone-branch-clone): as EAI_ADDRFAMILY, but each has an #ifdef of its own
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_SYSTEM: return wsaFromErrno(errno);
    default: return WSANO_RECOVERY;
    }
}

}  // namespace

int Startup(WORD versionRequested, WSADATA *data)
{
    if (!data)
        return WSAEFAULT;
    if ((versionRequested & 0xFF) < 1)
        return WSAVERNOTSUPPORTED;
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    *data = WSADATA{};
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    std::strncpy(data->szDescription, "Drovanel Windows Sockets 1.1 over POSIX sockets", WSADESCRIPTION_LEN);
    std::strncpy(data->szSystemStatus, "Running", WSASYS_STATUS_LEN);
    data->iMaxSockets = 32767;
    data->iMaxUdpDg = 65467;
    ++st.startups;
    return 0;
}

int Cleanup()
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    if (st.startups == 0)
        return fail(WSANOTINITIALISED);
    if (--st.startups > 0)
        return 0;
    // The last clean-up closes every socket, as Winsock does.
    for (auto &[h, s] : st.sockets) {
        unwatch(st, s);
        ::close(s.fd);
    }
    st.sockets.clear();
    // And drops every lookup under way: none is answered after the clean-up.
    st.lookups.clear();
    st.notifier.reset();
    if (st.epollFd >= 0)
        ::close(st.epollFd);
    st.epollFd = -1;
    return 0;
}

int GetLastError()
{
    return t_lastError;
}

SOCKET Socket(int af, int type, int protocol)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    if (st.startups == 0)
        return static_cast<SOCKET>(fail(WSANOTINITIALISED));
    if (af != WS_AF_INET && af != WS_AF_INET6)
        return static_cast<SOCKET>(fail(WSAEAFNOSUPPORT));
    if (type != WS_SOCK_STREAM)
        return static_cast<SOCKET>(fail(WSAESOCKTNOSUPPORT));
    if (protocol != 0 && protocol != WS_IPPROTO_TCP)
        return static_cast<SOCKET>(fail(WSAEPROTONOSUPPORT));
    const int family = af == WS_AF_INET6 ? AF_INET6 : AF_INET;
    const long fd = ::syscall(SYS_socket, family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return static_cast<SOCKET>(failErrno(errno));
    Sock s;
    s.fd = static_cast<int>(fd);
    s.family = family;
    return addSocket(st, std::move(s));
}

int CloseSocket(SOCKET h)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    Sock *s = find(st, h);
    if (!s)
        return SOCKET_ERROR;
    unwatch(st, *s);
    const int fd = s->fd;
    st.sockets.erase(h);
    ::close(fd);
    return 0;
}

int Bind(SOCKET h, const SOCKADDR *name, int namelen)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    Sock *s = find(st, h);
    sockaddr_storage addr{};
    socklen_t length = 0;
    if (!s || (length = toPosix(name, namelen, addr)) == 0)
        return SOCKET_ERROR;
    if (::syscall(SYS_bind, s->fd, &addr, length) != 0)
        return failErrno(errno);
    return 0;
}

int Listen(SOCKET h, int backlog)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    Sock *s = find(st, h);
    if (!s)
        return SOCKET_ERROR;
    if (::syscall(SYS_listen, s->fd, backlog) != 0)
        return failErrno(errno);
    s->state = State::Listening;
    if (s->inEpoll)
        watch(st, h, *s);  // re-arm: connections may already be waiting
    return 0;
}

int Connect(SOCKET h, const SOCKADDR *name, int namelen)
{
    Stack &st = stack();
    int fd = -1;
    bool nonBlocking = false;
    sockaddr_storage addr{};
    socklen_t length = 0;
    {
        std::lock_guard lock(st.mutex);
        Sock *s = find(st, h);
        if (!s || (length = toPosix(name, namelen, addr)) == 0)
            return SOCKET_ERROR;
        if (s->state == State::Connected)
            return fail(WSAEISCONN);
        if (s->connectPending)
            return fail(WSAEALREADY);
        if (s->state == State::Listening)
            return fail(WSAEINVAL);
        s->state = State::Connecting;
        s->connectPending = s->nonBlocking;
        fd = s->fd;
        nonBlocking = s->nonBlocking;
    }
    // A blocking connect waits here, without holding the table.
    const long r = ::syscall(SYS_connect, fd, &addr, length);
    const int err = r == 0 ? 0 : errno;
    std::lock_guard lock(st.mutex);
    auto it = st.sockets.find(h);
    if (it == st.sockets.end())
        return fail(WSAENOTSOCK);
    Sock &s = it->second;
    if (r == 0) {
        s.state = State::Connected;
        if (s.connectPending) {
            s.connectPending = false;
            post(h, s, FD_CONNECT, 0);
            post(h, s, FD_WRITE, 0);
        }
        return 0;
    }
    if (nonBlocking && err == EINPROGRESS)
        return fail(WSAEWOULDBLOCK);  // the outcome comes as FD_CONNECT
    s.connectPending = false;
    s.state = State::Fresh;
    return failErrno(err);
}

SOCKET Accept(SOCKET h, SOCKADDR *addr, int *addrlen)
{
    constexpr SOCKET failed = INVALID_SOCKET;
    Stack &st = stack();
    int fd = -1;
    bool nonBlocking = false;
    {
        std::lock_guard lock(st.mutex);
        Sock *s = find(st, h);
        if (!s)
            return failed;
        if (addr && (!addrlen || *addrlen < winsockLength(s->family))) {
            fail(WSAEFAULT);
            return failed;
        }
        if (s->state != State::Listening) {
            fail(WSAEINVAL);
            return failed;
        }
        fd = s->fd;
        nonBlocking = s->nonBlocking;
    }
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const int nfd =
        ::accept4(fd, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0));
    const int err = nfd < 0 ? errno : 0;
    std::lock_guard lock(st.mutex);
    auto it = st.sockets.find(h);
    if (it == st.sockets.end()) {
        if (nfd >= 0)
            ::close(nfd);
        fail(WSAENOTSOCK);
        return failed;
    }
    Sock &listener = it->second;
    // accept re-enables FD_ACCEPT: another waiting connection is announced again.
    listener.acceptPending = false;
    if (nfd < 0) {
        failErrno(err);
        return failed;
    }
    if (listener.window && (listener.mask & FD_ACCEPT) && connectionWaiting(listener.fd)) {
        listener.acceptPending = true;
        post(h, listener, FD_ACCEPT, 0);
    }
    // The new socket has the listening socket's properties, its selection included.
    Sock s;
    s.fd = nfd;
    s.family = listener.family;
    s.state = State::Connected;
    s.nonBlocking = nonBlocking;
    s.window = listener.window;
    s.msg = listener.msg;
    s.mask = listener.mask;
    const SOCKET nh = addSocket(st, std::move(s));
    Sock &accepted = st.sockets.at(nh);
    if (accepted.mask != 0)
        watch(st, nh, accepted);
    if (addr)
        fromPosix(peer, addr, addrlen);
    return nh;
}

// The descriptor of a connected socket ready for a recv or send of `len` bytes at `buf`, or
// SOCKET_ERROR with the error set (an error kept from the connect is reported once, here).
static int connectedFd(Stack &st, SOCKET h, const void *buf, int len)
{
    std::lock_guard lock(st.mutex);
    Sock *s = find(st, h);
    if (!s)
        return SOCKET_ERROR;
    if (len < 0)
        return fail(WSAEINVAL);
    if (!buf && len > 0)
        return fail(WSAEFAULT);
    if (s->pendingErrno) {
        const int e = s->pendingErrno;
        s->pendingErrno = 0;
        return failErrno(e);
    }
    if (!settleConnect(h, *s))
        return fail(WSAENOTCONN);
    return s->fd;
}

int Recv(SOCKET h, char *buf, int len, int flags)
{
    Stack &st = stack();
    const int fd = connectedFd(st, h, buf, len);
    if (fd < 0)
        return SOCKET_ERROR;
    const ssize_t r = ::recvfrom(fd, buf, static_cast<size_t>(len), flags & (MSG_OOB | MSG_PEEK), nullptr, nullptr);
    const int err = r < 0 ? errno : 0;
    std::lock_guard lock(st.mutex);
    auto it = st.sockets.find(h);
    if (it == st.sockets.end())
        return fail(WSAENOTSOCK);
    Sock &s = it->second;
    // recv re-enables FD_READ. When it took less than asked, the queue was empty and new data
    // brings a new edge; when it filled the buffer, data may remain and is announced now, unless
    // a notice that will announce it still waits in the window's queue.
    s.readPending = false;
    if (r > 0 && r == len && s.window && (s.mask & FD_READ) && !readNoticeQueued(s) && bytesWaiting(s.fd) > 0) {
        s.readPending = true;
        post(h, s, FD_READ, 0);
    }
    if (r < 0)
        return failErrno(err);
    return static_cast<int>(r);
}

int Send(SOCKET h, const char *buf, int len, int flags)
{
    Stack &st = stack();
    const int fd = connectedFd(st, h, buf, len);
    if (fd < 0)
        return SOCKET_ERROR;
    // Never SIGPIPE: a broken connection is an error result, not a signal.
    const ssize_t r = ::sendto(fd, buf, static_cast<size_t>(len), (flags & MSG_OOB) | MSG_NOSIGNAL, nullptr, 0);
    const int err = r < 0 ? errno : 0;
    if (r < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
        std::lock_guard lock(st.mutex);
        if (auto it = st.sockets.find(h); it != st.sockets.end())
            it->second.writeWanted = true;
    }
    if (r < 0)
        return failErrno(err);
    return static_cast<int>(r);
}

int IoctlSocket(SOCKET h, LONG cmd, u_long *argp)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    Sock *s = find(st, h);
    if (!s)
        return SOCKET_ERROR;
    if (!argp)
        return fail(WSAEFAULT);
    if (cmd == WS_FIONBIO) {
        // Winsock refuses blocking mode while notices are selected.
        if (*argp == 0 && s->mask != 0)
            return fail(WSAEINVAL);
        if (!setNonBlocking(s->fd, *argp != 0))
            return failErrno(errno);
        s->nonBlocking = *argp != 0;
        return 0;
    }
    if (cmd == WS_FIONREAD) {
        *argp = static_cast<u_long>(bytesWaiting(s->fd));
        return 0;
    }
    return fail(WSAEINVAL);
}

int GetSockName(SOCKET h, SOCKADDR *name, int *namelen)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    Sock *s = find(st, h);
    if (!s)
        return SOCKET_ERROR;
    if (!name || !namelen || *namelen < winsockLength(s->family))
        return fail(WSAEFAULT);
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (::syscall(SYS_getsockname, s->fd, &local, &len) != 0)
        return failErrno(errno);
    fromPosix(local, name, namelen);
    return 0;
}

namespace {

// The largest receive buffer the kernel grants on request (net.core.rmem_max); 0 when unknown.
int kernelReceiveBufferLimit()
{
    const int fd = ::open("/proc/sys/net/core/rmem_max", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[32] = {};
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    return got > 0 ? std::atoi(text) : 0;
}

// The socket of an option call, when the option is one the stack knows; else null, the error set.
Sock *findForOption(Stack &st, SOCKET h, int level, int optname)
{
    Sock *s = find(st, h);
    if (s && (level != WS_SOL_SOCKET || optname != WS_SO_RCVBUF)) {
        fail(WSAENOPROTOOPT);
        return nullptr;
    }
    return s;
}

}  // namespace

// Only the receive buffer's size (SOL_SOCKET, SO_RCVBUF) is known. Linux grants at most
// net.core.rmem_max and stops sizing the buffer itself once a size is set, and its own sizing
// grows further than a capped size: a size past that limit leaves the buffer to the kernel.
int SetSockOpt(SOCKET h, int level, int optname, const char *optval, int optlen)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    Sock *s = findForOption(st, h, level, optname);
    if (!s)
        return SOCKET_ERROR;
    int size = 0;
    if (!optval || optlen < static_cast<int>(sizeof size))
        return fail(WSAEFAULT);
    std::memcpy(&size, optval, sizeof size);
    if (size <= 0)
        return fail(WSAEINVAL);
    if (size > kernelReceiveBufferLimit())
        return 0;
    if (::syscall(SYS_setsockopt, s->fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0)
        return failErrno(errno);
    return 0;
}

// The receive buffer's size as the kernel keeps it (Linux doubles an asked size for its own
// bookkeeping).
int GetSockOpt(SOCKET h, int level, int optname, char *optval, int *optlen)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    Sock *s = findForOption(st, h, level, optname);
    if (!s)
        return SOCKET_ERROR;
    int size = 0;
    if (!optval || !optlen || *optlen < static_cast<int>(sizeof size))
        return fail(WSAEFAULT);
    socklen_t length = sizeof size;
    if (::syscall(SYS_getsockopt, s->fd, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0)
        return failErrno(errno);
    std::memcpy(optval, &size, sizeof size);
    *optlen = sizeof size;
    return 0;
}

std::uint16_t Htons(std::uint16_t value)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<std::uint16_t>((value << 8) | (value >> 8));
    return value;
}

std::uint32_t InetAddr(const char *cp)
{
    in_addr a{};
    if (!cp || ::inet_aton(cp, &a) == 0 || a.s_addr == WS_INADDR_NONE) {
        // Winsock leaves the error alone here; we say why, so the caller's report is clear. The
        // broadcast address 255.255.255.255 cannot be told from the failure and is refused too.
        t_lastError = cp ? WSAEINVAL : WSAEFAULT;
        return WS_INADDR_NONE;
    }
    return a.s_addr;
}

char *InetNtoa(IN_ADDR in)
{
    thread_local char text[INET_ADDRSTRLEN];
    in_addr a{};
    a.s_addr = in.S_addr;
    if (!::inet_ntop(AF_INET, &a, text, sizeof text))
        return nullptr;
    return text;
}

HOSTENT *GetHostByName(const char *name)
{
    {
        Stack &st = stack();
        std::lock_guard lock(st.mutex);
        if (st.startups == 0) {
            fail(WSANOTINITIALISED);
            return nullptr;
        }
    }
    if (!name) {
        fail(WSAEFAULT);
        return nullptr;
    }
    HostEntry &h = t_host;
    h.name = name;
    h.addresses.clear();
    in_addr dotted{};
    if (::inet_aton(name, &dotted) != 0) {
        std::array<char, 4> bytes{};
        std::memcpy(bytes.data(), &dotted.s_addr, 4);
        h.addresses.push_back(bytes);
    } else if (h.name.empty() || endsWithInvalid(h.name)) {
        // Names under .invalid never exist; they are refused at once, without asking anyone.
        fail(WSAHOST_NOT_FOUND);
        return nullptr;
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        const int r = ::getaddrinfo(name, nullptr, &hints, &result);
        if (r != 0) {
            fail(resolverError(r));
            return nullptr;
        }
        for (const addrinfo *ai = result; ai; ai = ai->ai_next) {
            if (ai->ai_family != AF_INET || !ai->ai_addr)
                continue;
            std::array<char, 4> bytes{};
            std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in *>(ai->ai_addr)->sin_addr.s_addr, 4);
            if (std::find(h.addresses.begin(), h.addresses.end(), bytes) == h.addresses.end())
                h.addresses.push_back(bytes);
        }
        ::freeaddrinfo(result);
        if (h.addresses.empty()) {
            fail(WSANO_DATA);
            return nullptr;
        }
    }
    h.addressList.clear();
    for (auto &a : h.addresses)
        h.addressList.push_back(a.data());
    h.addressList.push_back(nullptr);
    h.entry.h_name = h.name.data();
    h.entry.h_aliases = h.aliases;
    h.entry.h_addrtype = WS_AF_INET;
    h.entry.h_length = 4;
    h.entry.h_addr_list = h.addressList.data();
    return &h.entry;
}

int AsyncSelect(SOCKET h, HWND window, UINT msg, LONG event)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    Sock *s = find(st, h);
    if (!s)
        return SOCKET_ERROR;
    if (event != 0 && window == 0)
        return fail(WSAEINVAL);
    // Selecting notices makes the socket non-blocking, as in Winsock.
    if (!setNonBlocking(s->fd, true))
        return failErrno(errno);
    s->nonBlocking = true;
    s->window = event != 0 ? reinterpret_cast<QObject *>(window) : nullptr;
    s->msg = msg;
    s->mask = event;
    s->readPending = false;
    // A notice still queued for the earlier selection is no reason to keep quiet for this one.
    s->readQueued = std::make_shared<std::atomic<bool>>(false);
    s->acceptPending = false;
    s->closeNotified = false;
    s->writeWanted = s->state == State::Connected;
    if (event == 0) {
        unwatch(st, *s);
        return 0;
    }
    if (!watch(st, h, *s))
        return fail(WSAENETDOWN);
    return 0;
}

namespace {

// Adds a system address to the answer, once, while there is room.
void addAddress(ADDRLIST &list, const sockaddr *address)
{
    if (address->sa_family != AF_INET && address->sa_family != AF_INET6)
        return;
    const SOCKADDR_INET entry = toWinsock(address);
    const auto same = [&entry](const SOCKADDR_INET &other) {
        if (other.si_family != entry.si_family)
            return false;
        if (entry.si_family == WS_AF_INET)
            return other.Ipv4.sin_addr.S_addr == entry.Ipv4.sin_addr.S_addr;
        return std::equal(std::begin(entry.Ipv6.sin6_addr.Byte), std::end(entry.Ipv6.sin6_addr.Byte),
                          std::begin(other.Ipv6.sin6_addr.Byte)) &&
               other.Ipv6.sin6_scope_id == entry.Ipv6.sin6_scope_id;
    };
    if (std::any_of(list.Address, list.Address + list.iAddressCount, same))
        return;
    if (list.iAddressCount < MAXADDRLIST)
        list.Address[list.iAddressCount++] = entry;
}

// Asks getaddrinfo: 0 and the addresses in its order, or a Winsock error.
int askResolver(const char *name, int flags, ADDRLIST &list)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo *result = nullptr;
    const int r = ::getaddrinfo(name, nullptr, &hints, &result);
    if (r != 0)
        return resolverError(r);
    for (const addrinfo *ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_addr)
            addAddress(list, ai->ai_addr);
    }
    ::freeaddrinfo(result);
    return list.iAddressCount > 0 ? 0 : WSANO_DATA;
}

// An IPv4 or IPv6 literal needs no resolver.
bool isLiteral(const char *name)
{
    ADDRLIST list{};
    return askResolver(name, AI_NUMERICHOST, list) == 0;
}

// The lookup in a hosts file of the caller's (the tests' seam): the name's addresses in the
// file's order. Never returns for a name whose address is "hang".
int askHostsFile(const std::string &path, const std::string &name, ADDRLIST &list)
{
    std::ifstream file(path);
    std::string line;
    bool hang = false;
    while (std::getline(file, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string address;
        std::string alias;
        if (!(words >> address))
            continue;
        bool named = false;
        while (words >> alias)
            named = named || ::strcasecmp(alias.c_str(), name.c_str()) == 0;
        if (!named)
            continue;
        if (address == "hang")
            hang = true;
        else
            askResolver(address.c_str(), AI_NUMERICHOST, list);
    }
    if (hang) {
        for (;;)
            ::poll(nullptr, 0, -1);  // a resolver that never answers
    }
    return list.iAddressCount > 0 ? 0 : WSAHOST_NOT_FOUND;
}

// The whole lookup of a name: a literal, a name that never exists, the tests' hosts file or the
// system's resolver. 0, or a Winsock error. Safe on any thread.
int resolve(const std::string &name, const std::string &hostsFile, ADDRLIST &list)
{
    list = ADDRLIST{};
    if (name.empty() || name.find('\0') != std::string::npos || endsWithInvalid(name))
        return WSAHOST_NOT_FOUND;
    if (askResolver(name.c_str(), AI_NUMERICHOST, list) == 0)
        return 0;
    list = ADDRLIST{};
    if (!hostsFile.empty())
        return askHostsFile(hostsFile, name, list);
    // Only the families this host has an address of (AAAA records on an IPv4-only network would
    // be tried in vain); the resolver's order decides among them.
    return askResolver(name.c_str(), AI_ADDRCONFIG, list);
}

std::string hostsFileSeam()
{
    const char *path = std::getenv("DROVANEL_WINSOCK_HOSTS");
    return path ? std::string(path) : std::string();
}

}  // namespace

HANDLE AsyncGetAddrByName(HWND window, UINT msg, const char *name, char *buf, int buflen)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    if (st.startups == 0) {
        fail(WSANOTINITIALISED);
        return 0;
    }
    if (window == 0) {
        fail(WSAEINVAL);
        return 0;
    }
    if (!name || !buf || buflen < static_cast<int>(sizeof(ADDRLIST))) {
        fail(WSAEFAULT);
        return 0;
    }
    if (!ensureWatcher(st)) {
        fail(WSAENETDOWN);
        return 0;
    }
    auto lookup = std::make_shared<Lookup>();
    lookup->window = reinterpret_cast<QObject *>(window);
    lookup->msg = msg;
    lookup->buf = buf;
    lookup->buflen = buflen;
    const HANDLE task = st.nextLookup++;
    const std::string text = name;
    const int wakeFd = st.lookupFd;
    auto finish = [lookup, wakeFd](int error, const ADDRLIST &answer) {
        {
            std::lock_guard done(stack().mutex);
            lookup->answer = answer;
            lookup->error = error;
            lookup->done = true;
        }
        const std::uint64_t one = 1;
        (void)!::write(wakeFd, &one, sizeof one);
    };
    st.lookups.emplace(task, lookup);
    if (isLiteral(text.c_str()) || text.empty() || endsWithInvalid(text)) {
        // Answered at once, without a thread; still as a message, as every lookup.
        ADDRLIST answer{};
        const int error = resolve(text, {}, answer);
        lookup->answer = answer;
        lookup->error = error;
        lookup->done = true;
        const std::uint64_t one = 1;
        (void)!::write(wakeFd, &one, sizeof one);
        return task;
    }
    try {
        std::thread([text, hostsFile = hostsFileSeam(), finish] {
            ADDRLIST answer{};
            const int error = resolve(text, hostsFile, answer);
            finish(error, answer);
        }).detach();
    } catch (...) {
        st.lookups.erase(task);
        fail(WSAENOBUFS);
        return 0;
    }
    return task;
}

int CancelAsyncRequest(HANDLE task)
{
    Stack &st = stack();
    std::lock_guard lock(st.mutex);
    if (st.startups == 0)
        return fail(WSANOTINITIALISED);
    // Answered already (its message is posted, or on its way): nothing left to cancel.
    if (st.lookups.erase(task) == 0)
        return fail(WSAEALREADY);
    return 0;
}

int GetAddrByName(const char *name, char *buf, int buflen)
{
    {
        Stack &st = stack();
        std::lock_guard lock(st.mutex);
        if (st.startups == 0)
            return fail(WSANOTINITIALISED);
    }
    if (!name || !buf || buflen < static_cast<int>(sizeof(ADDRLIST)))
        return fail(WSAEFAULT);
    ADDRLIST answer{};
    const int error = resolve(name, hostsFileSeam(), answer);
    if (error != 0)
        return fail(error);
    std::memcpy(buf, &answer, sizeof answer);
    return 0;
}

}  // namespace winsock::stack
