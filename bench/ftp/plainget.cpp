// drovanel-plainget PORT USER PASSWORD REMOTE [BLOCK]
//   The floor of a retrieval in blocks: logs in to the FTP server on 127.0.0.1:PORT, asks for
//   REMOTE in passive mode and reads it with plain blocking recv(BLOCK)/write calls (BLOCK 32768
//   unless given) into /dev/null, nothing else: no event loop, no progress, no time-out. Prints the
//   bytes received; exits 1 with the server's reply when a command is refused.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int ConnectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 ? fd : -1;
}

// One reply, its last line (multi-line replies end at "NNN ").
std::string ReadReply(int fd)
{
    std::string line;
    for (;;) {
        char c = 0;
        if (::recv(fd, &c, 1, 0) != 1)
            return line;
        line += c;
        if (c == '\n') {
            if (line.size() > 3 && line[3] == ' ')
                return line;
            line.clear();
        }
    }
}

// Sends a command; its reply must start with one of `classes`.
std::string Command(int fd, const std::string &line, const char *classes)
{
    const std::string sent = line + "\r\n";
    if (::send(fd, sent.data(), sent.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(sent.size()))
        return "";
    std::string reply = ReadReply(fd);
    if (reply.empty() || std::strchr(classes, reply[0]) == nullptr) {
        std::fprintf(stderr, "%s: %s", line.c_str(), reply.c_str());
        std::exit(1);
    }
    return reply;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: drovanel-plainget PORT USER PASSWORD REMOTE [BLOCK]\n");
        return 2;
    }
    const int block = argc == 6 ? std::atoi(argv[5]) : 32768;
    const int control = ConnectLoopback(std::atoi(argv[1]));
    if (control < 0 || ReadReply(control).rfind("220", 0) != 0) {
        std::fprintf(stderr, "no server\n");
        return 1;
    }
    // A server may log an anonymous user in at USER already.
    if (Command(control, std::string("USER ") + argv[2], "23")[0] == '3')
        Command(control, std::string("PASS ") + argv[3], "2");
    Command(control, "TYPE I", "2");
    const std::string pasv = Command(control, "PASV", "2");
    int n[6] = {};
    const auto open = pasv.find('(');
    if (open == std::string::npos ||
        std::sscanf(pasv.c_str() + open + 1, "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]) != 6)
        return 1;
    const int data = ConnectLoopback(n[4] * 256 + n[5]);
    if (data < 0)
        return 1;
    Command(control, std::string("RETR ") + argv[4], "1");
    const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::vector<char> buffer(static_cast<size_t>(block));
    long long total = 0;
    for (;;) {
        const ssize_t got = ::recv(data, buffer.data(), buffer.size(), 0);
        if (got <= 0)
            break;
        if (::write(out, buffer.data(), static_cast<size_t>(got)) != got)
            return 1;
        total += got;
    }
    ::close(data);
    if (ReadReply(control).rfind("226", 0) != 0)
        return 1;
    Command(control, "QUIT", "2");
    std::printf("%lld\n", total);
    return 0;
}
