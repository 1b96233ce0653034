#pragma once
// The far end of a loopback TCP connection for socket tests: plain blocking POSIX sockets on a
// thread of its own, so the code under test runs its real event loop on the main thread.
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testutil {

inline bool SendAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads until `count` bytes have come or the peer closes.
inline std::string ReceiveBytes(int fd, size_t count)
{
    std::string out;
    char buf[4096];
    while (out.size() < count) {
        const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - out.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

inline std::string ReceiveAll(int fd)
{
    return ReceiveBytes(fd, static_cast<size_t>(-1));
}

// Closes with a reset instead of an orderly close.
inline void ResetConnection(int fd)
{
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

// Listens on 127.0.0.1, or on ::1 with `family` AF_INET6.
inline int ListenLoopback(std::uint16_t port = 0, int family = AF_INET)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_addr = in6addr_loopback;
    a6.sin6_port = htons(port);
    const bool bound = family == AF_INET6 ? ::bind(fd, reinterpret_cast<sockaddr *>(&a6), sizeof a6) == 0
                                          : ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    if (!bound || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline std::uint16_t LocalPort(int fd)
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    // The port sits at the same place in both families' addresses.
    return ntohs(reinterpret_cast<const sockaddr_in *>(&a)->sin_port);
}

inline int ConnectLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A port on which nothing listens (bound once, then released).
inline std::uint16_t ClosedPort()
{
    const int fd = ListenLoopback();
    const std::uint16_t port = LocalPort(fd);
    ::close(fd);
    return port;
}

// Something the peer's script can wait for until the test lets it go on (or ends).
class Gate {
public:
    void Open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_open; });
    }
    bool WaitFor(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, limit, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

// Listens on a free loopback port; accepts one connection and runs the script on it in a thread
// of its own, then closes the connection (unless the script returned -1 meaning "already closed").
class LoopbackPeer {
public:
    using Script = std::function<void(int fd)>;

    // On 127.0.0.1, or on ::1 with `family` AF_INET6.
    explicit LoopbackPeer(Script script, int family = AF_INET)
        : m_listenFd(ListenLoopback(0, family)), m_port(LocalPort(m_listenFd))
    {
        m_thread = std::thread([this, script = std::move(script)] {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                finished.Open();
                return;
            }
            m_fd = fd;
            script(fd);
            if (!m_closedByScript)
                ::close(fd);
            finished.Open();
        });
    }
    ~LoopbackPeer()
    {
        release.Open();
        // A connection still waiting to be accepted is served first; with none, stop listening.
        pollfd pending{m_listenFd, POLLIN, 0};
        if (::poll(&pending, 1, 0) <= 0)
            ::shutdown(m_listenFd, SHUT_RDWR);
        // A script still blocked on its connection after a while (a failed test) is cut loose.
        if (!finished.WaitFor(std::chrono::seconds(5))) {
            if (const int fd = m_fd.load(); fd >= 0 && !m_closedByScript)
                ::shutdown(fd, SHUT_RDWR);
            ::shutdown(m_listenFd, SHUT_RDWR);
        }
        m_thread.join();
        ::close(m_listenFd);
    }
    LoopbackPeer(const LoopbackPeer &) = delete;
    LoopbackPeer &operator=(const LoopbackPeer &) = delete;

    std::uint16_t port() const { return m_port; }
    // The script closed the connection itself (for example with a reset).
    void markClosed() { m_closedByScript = true; }

    // Opened when the test ends (or earlier, by the test): a script that must keep its
    // connection open and silent waits on it.
    Gate release;
    Gate finished;

private:
    int m_listenFd;
    std::uint16_t m_port;
    std::atomic<int> m_fd{-1};
    std::atomic<bool> m_closedByScript{false};
    std::thread m_thread;
};

}  // namespace testutil
