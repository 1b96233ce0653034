// drovanel-sockbench idle SECONDS
//   Waits SECONDS on a silent loopback peer with ReadLine (TimeOut SECONDS) and prints the wall
//   time, the process's CPU time and their ratio.
// drovanel-sockbench throughput MIB FILE [ROUNDS]
//   A loopback peer (a thread of this process) sends MIB mebibytes, once to a plain blocking
//   recv/write loop and once to ReceiveToStream into a file stream, ROUNDS times alternately;
//   prints each run's throughput, the best of each and their ratio, and the progress events.
#include "net/Mssocket.h"

#include <QCoreApplication>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int ListenLoopback()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0)
        return -1;
    return fd;
}

std::uint16_t PortOf(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

// Serves one connection: sends `bytes` from memory (or nothing, and waits for the other side to
// close, when bytes is 0), then closes.
std::thread Serve(int listenFd, std::int64_t bytes)
{
    return std::thread([listenFd, bytes] {
        const int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd < 0)
            return;
        if (bytes == 0) {
            char c;
            while (::recv(fd, &c, 1, 0) > 0) {
            }
        }
        std::vector<char> block(1 << 20, 'b');
        std::int64_t left = bytes;
        while (left > 0) {
            const ssize_t n =
                ::send(fd, block.data(), static_cast<size_t>(std::min<std::int64_t>(left, 1 << 20)), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            left -= n;
        }
        ::close(fd);
    });
}

int Idle(int seconds)
{
    const int lfd = ListenLoopback();
    std::thread peer = Serve(lfd, 0);
    net::TmsClientSocket client;
    client.SetHost("127.0.0.1");
    client.SetPort(PortOf(lfd));
    client.SetTimeOut(seconds);
    client.Connect();
    const double wall0 = Now();
    const double cpu0 = CpuSeconds();
    std::string outcome = "no time-out";
    try {
        client.ReadLine();
    } catch (const fw::Exception &e) {
        outcome = e.Message();
    }
    const double wall = Now() - wall0;
    const double cpu = CpuSeconds() - cpu0;
    client.Disconnect();
    peer.join();
    ::close(lfd);
    std::printf("idle wait: %s after %.2f s wall, %.4f s CPU (%.3f%% of wall)\n", outcome.c_str(), wall, cpu,
                100.0 * cpu / wall);
    return 0;
}

double PlainRun(std::int64_t bytes, const std::string &file)
{
    const int lfd = ListenLoopback();
    std::thread peer = Serve(lfd, bytes);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(PortOf(lfd));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        const int error = errno;
        ::shutdown(lfd, SHUT_RDWR);  // wakes the peer from its accept
        peer.join();
        ::close(fd);
        ::close(lfd);
        throw std::runtime_error(std::string("connect: ") + std::strerror(error));
    }
    const int out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char> buffer(net::kTransferBlockSize);
    const double t0 = Now();
    std::int64_t total = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            break;
        if (::write(out, buffer.data(), static_cast<size_t>(n)) != n)
            break;
        total += n;
    }
    const double secs = Now() - t0;
    ::close(out);
    ::close(fd);
    peer.join();
    ::close(lfd);
    return static_cast<double>(total) / secs / (1 << 20);
}

double SocketRun(std::int64_t bytes, const std::string &file, long &events, long &blocksFull)
{
    const int lfd = ListenLoopback();
    std::thread peer = Serve(lfd, bytes);
    net::TmsClientSocket client;
    client.SetHost("127.0.0.1");
    client.SetPort(PortOf(lfd));
    client.Connect();
    fw::TFileStream stream(file, fw::FileMode::Create);
    events = 0;
    blocksFull = 0;
    std::int32_t last = 0;
    client.OnTransferProgress = [&](fw::TObject *, std::int32_t, std::int32_t byteCount, std::int32_t) {
        ++events;
        if (byteCount - last == net::kTransferBlockSize)
            ++blocksFull;
        last = byteCount;
    };
    const double t0 = Now();
    client.ReceiveToStream(stream, 0, 0);
    const double secs = Now() - t0;
    const std::int64_t total = stream.Size();
    client.Disconnect();
    peer.join();
    ::close(lfd);
    return static_cast<double>(total) / secs / (1 << 20);
}

int Throughput(std::int64_t mib, const std::string &file, int rounds)
{
    const std::int64_t bytes = mib << 20;
    double bestPlain = 0;
    double bestSocket = 0;
    for (int r = 0; r < rounds; ++r) {
        const double plain = PlainRun(bytes, file);
        long events = 0;
        long full = 0;
        const double sock = SocketRun(bytes, file, events, full);
        bestPlain = std::max(bestPlain, plain);
        bestSocket = std::max(bestSocket, sock);
        std::printf("round %d: plain read loop %.0f MiB/s, ReceiveToStream %.0f MiB/s (%.1f%%), %ld progress events "
                    "(%ld full blocks of 32768; %lld bytes / 32768 = %lld)\n",
                    r + 1, plain, sock, 100.0 * sock / plain, events, full, static_cast<long long>(bytes),
                    static_cast<long long>(bytes / net::kTransferBlockSize));
    }
    std::printf("best: plain %.0f MiB/s, ReceiveToStream %.0f MiB/s, ratio %.1f%%\n", bestPlain, bestSocket,
                100.0 * bestSocket / bestPlain);
    ::unlink(file.c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 2 && args[0] == "idle")
            return Idle(std::stoi(args[1]));
        if ((args.size() == 3 || args.size() == 4) && args[0] == "throughput")
            return Throughput(std::stoll(args[1]), args[2], args.size() == 4 ? std::stoi(args[3]) : 3);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: drovanel-sockbench idle SECONDS | throughput MIB FILE [ROUNDS]\n");
    return 2;
}
