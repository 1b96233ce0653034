// A whole FTP exchange as the program runs it (log-in, folder, name list, size, retrieval, log-out)
// against a peer on a real loopback connection whose replies come from the input. The peer keeps
// the data connections sane (it answers PASV with its own listener, and connects where PORT says,
// on loopback only); every other reply, and the bytes of each data connection, are the input's.
//
// Input: the first byte's bit 0 is passive mode, bit 1 ASCII transfers. The rest is split at each
// 0xFF byte into chunks: the first is the greeting, then each command other than PASV and PORT
// takes the next chunk as its reply (the peer ends the connection once the last has gone). A chunk
// for NLST or RETR is split at 0xFE into what comes before the data, the data connection's bytes,
// and what comes after; without 0xFE the data connection opens and closes empty.
//
// Properties: nothing but the framework's own errors leaves a command; a command that succeeds
// had a reply it accepts (230 or 202 for the log-in, 250 or 200 for the folder, 213 for a size,
// 226 or 250 for a transfer), and each command is the line the program sends; a retrieval that
// succeeds holds exactly the bytes the data connection carried (within the size limit); a name
// list holds lines of that data without CR or LF; every transfer that starts ends; a reply out of
// step or a refused reply line leaves the control connection closed; and nothing waits longer than its
// bounds (the client's time-out is one second; the peer waits 200 ms for a command, three seconds
// for a data connection).
#include "FuzzCheck.h"
#include "framework/Streams.h"
#include "net/msFTP.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPeerWaitMs = 3000;
// A client that has its whole reply sends its next command at once; one that is still waiting
// for the rest of a reply sends nothing. The peer then ends the connection instead of letting the
// client wait out its time-out (the properties hold however early the peer leaves).
constexpr int kPeerCommandWaitMs = 200;
constexpr std::int64_t kFileLimit = 1 << 20;

int ListenLoopback(std::uint16_t &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    FUZZ_CHECK(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
               ::listen(fd, 4) == 0 && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    port = ntohs(address.sin_port);
    return fd;
}

// An abortive close: no connection waits in TIME_WAIT after millions of runs.
void Reset(int &fd)
{
    if (fd < 0)
        return;
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
    fd = -1;
}

bool Readable(int fd, int waitMs = kPeerWaitMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, waitMs) > 0;
}

void SendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, kPeerWaitMs) <= 0)
            return;
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// The peer: answers each command with the next chunk of the input.
class Peer {
public:
    Peer(std::vector<std::string> chunks, int listener) : m_chunks(std::move(chunks)), m_listener(listener) {}

    void Run()
    {
        if (!Readable(m_listener))
            return;
        m_control = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_control < 0)
            return;
        SendAll(m_control, Next());
        EndIfSaidAll();
        std::string line;
        char c = 0;
        while (Readable(m_control, kPeerCommandWaitMs) && ::recv(m_control, &c, 1, 0) == 1) {
            if (c != '\n') {
                line += c;
                continue;
            }
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            {
                const std::lock_guard lock(m_mutex);
                m_lines.push_back(line);
            }
            if (!Answer(line))
                break;
            line.clear();
        }
        Reset(m_data);
        Reset(m_passive);
        Reset(m_control);
    }

    std::vector<std::string> Lines() const
    {
        const std::lock_guard lock(m_mutex);
        return m_lines;
    }
    // The bytes of each data connection, in order.
    std::vector<std::string> Data() const
    {
        const std::lock_guard lock(m_mutex);
        return m_data_sent;
    }

private:
    std::string Next() { return m_next < m_chunks.size() ? m_chunks[m_next++] : std::string(); }
    // Once the last chunk has gone out the peer has nothing more to say: a client that waits for
    // the rest of a reply learns so at once instead of at its time-out.
    void EndIfSaidAll()
    {
        if (m_next >= m_chunks.size())
            ::shutdown(m_control, SHUT_WR);
    }

    bool Answer(const std::string &line)
    {
        const std::string verb = line.substr(0, line.find(' '));
        if (verb == "PASV") {
            Reset(m_passive);
            std::uint16_t port = 0;
            m_passive = ListenLoopback(port);
            SendAll(m_control, "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," +
                                   std::to_string(port & 0xFF) + ")\r\n");
            return true;
        }
        if (verb == "PORT") {
            int n[6] = {};
            const std::string argument = line.size() > 5 ? line.substr(5) : std::string();
            const bool ok =
                std::sscanf(argument.c_str(), "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]) == 6;
            // The client only ever names its own loopback address here.
            FUZZ_CHECK(ok && n[0] == 127 && n[1] == 0 && n[2] == 0 && n[3] == 1);
            m_activePort = static_cast<std::uint16_t>(n[4] * 256 + n[5]);
            Reset(m_passive);
            SendAll(m_control, "200 PORT command successful\r\n");
            return true;
        }
        if (m_next >= m_chunks.size())
            return false;  // nothing left to say: the peer leaves
        const std::string chunk = Next();
        if (verb != "NLST" && verb != "RETR") {
            SendAll(m_control, chunk);
            EndIfSaidAll();
            return true;
        }
        const auto first = chunk.find('\xFE');
        const auto second = first == std::string::npos ? std::string::npos : chunk.find('\xFE', first + 1);
        const std::string before = chunk.substr(0, first);
        const std::string data =
            first == std::string::npos ? std::string() : chunk.substr(first + 1, second - (first + 1));
        const std::string after = second == std::string::npos ? std::string() : chunk.substr(second + 1);
        SendAll(m_control, before);
        OpenData();
        if (m_data >= 0) {
            SendAll(m_data, data);
            ::shutdown(m_data, SHUT_WR);
            // Until the client has read it all and closed its end, so that nothing is cut.
            char sink[256];
            while (Readable(m_data) && ::recv(m_data, sink, sizeof sink, 0) > 0) {
            }
            Reset(m_data);
            const std::lock_guard lock(m_mutex);
            m_data_sent.push_back(data);
        }
        SendAll(m_control, after);
        EndIfSaidAll();
        return true;
    }

    void OpenData()
    {
        if (m_passive >= 0) {
            if (Readable(m_passive))
                m_data = ::accept4(m_passive, nullptr, nullptr, SOCK_CLOEXEC);
            Reset(m_passive);
            return;
        }
        if (m_activePort == 0)
            return;
        m_data = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(m_activePort);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_data, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            Reset(m_data);
        m_activePort = 0;
    }

    std::vector<std::string> m_chunks;
    std::size_t m_next = 0;
    int m_listener;
    int m_control = -1;
    int m_passive = -1;
    int m_data = -1;
    std::uint16_t m_activePort = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_data_sent;
};

int Code(const std::string &reply)
{
    return net::FtpReplyCode(reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool passive = (data[0] & 1) != 0;
    const bool ascii = (data[0] & 2) != 0;
    std::vector<std::string> chunks(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFF)
            chunks.emplace_back();
        else
            chunks.back() += static_cast<char>(data[i]);
    }

    fuzzcheck::EnsureApplication();
    static std::uint16_t port = 0;
    static const int listener = ListenLoopback(port);
    Peer peer(chunks, listener);
    std::thread peerThread([&peer] { peer.Run(); });

    net::TmsFTPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    client.SetUserName("drovanel");
    client.SetPassword("secret");
    client.SetPassiveMode(passive);
    client.SetTransferType(ascii ? net::ttASCII : net::ttBinary);
    client.SetTimeOut(1);
    int starts = 0;
    int ends = 0;
    client.OnDataTransferStart = [&](fw::TObject *) { ++starts; };
    client.OnDataTransferTerminate = [&](fw::TObject *) { ++ends; };

    // Runs one command; false when it failed.
    const auto step = [&](const auto &command) {
        try {
            command();
            FUZZ_CHECK(starts == ends);
            return true;
        } catch (const net::EmsOutOfStepError &) {
            FUZZ_CHECK(starts == ends);
            FUZZ_CHECK(client.SocketHandle() == winsock::INVALID_SOCKET);
            return false;
        } catch (const net::EmsLineError &) {
            FUZZ_CHECK(starts == ends);
            FUZZ_CHECK(client.SocketHandle() == winsock::INVALID_SOCKET);
            return false;
        } catch (const fw::Exception &) {
            FUZZ_CHECK(starts == ends);
            return false;
        } catch (...) {
            FUZZ_CHECK(!"an error that is not the framework's left a command");
        }
        return false;
    };
    std::string retrieved;
    bool retrievedWhole = false;
    fw::TStringList names;
    bool listed = false;
    if (step([&] { client.Login(); })) {
        FUZZ_CHECK(Code(client.LastReply()) == 230 || Code(client.LastReply()) == 202);
        if (step([&] { client.ChangeDir("/updates"); }))
            FUZZ_CHECK(Code(client.LastReply()) == 250 || Code(client.LastReply()) == 200);
        if (client.Connected() && step([&] { client.NameList(names); })) {
            listed = true;
            FUZZ_CHECK(Code(client.LastReply()) == 226 || Code(client.LastReply()) == 250);
        }
        if (client.Connected()) {
            std::int32_t size = -1;
            if (step([&] { size = client.GetFileSize("map.mdb"); }) && size >= 0)
                FUZZ_CHECK(Code(client.LastReply()) == 213);
        }
        if (client.Connected()) {
            fw::TMemoryStream stream;
            if (step([&] { client.RetrieveFile("map.mdb", stream, {.MaxBytes = kFileLimit}); })) {
                FUZZ_CHECK(Code(client.LastReply()) == 226 || Code(client.LastReply()) == 250);
                retrieved.assign(stream.Memory(), static_cast<std::size_t>(stream.Size()));
                retrievedWhole = true;
            }
        }
        if (client.Connected())
            step([&] { client.Logout(); });
    }
    client.Disconnect();
    peerThread.join();

    // Every command is one the program sends, in its form.
    for (const std::string &line : peer.Lines()) {
        const std::string verb = line.substr(0, line.find(' '));
        FUZZ_CHECK(verb == "USER" || verb == "PASS" || verb == "CWD" || verb == "TYPE" || verb == "PASV" ||
                   verb == "PORT" || verb == "NLST" || verb == "SIZE" || verb == "RETR" || verb == "QUIT");
    }
    const std::vector<std::string> sent = peer.Data();
    if (listed) {
        for (const std::string &name : names) {
            FUZZ_CHECK(name.find('\r') == std::string::npos && name.find('\n') == std::string::npos);
            FUZZ_CHECK(!sent.empty() && sent.front().find(name) != std::string::npos);
        }
    }
    if (retrievedWhole) {
        FUZZ_CHECK(!sent.empty());
        FUZZ_CHECK(retrieved == sent.back());
        FUZZ_CHECK(static_cast<std::int64_t>(retrieved.size()) <= kFileLimit);
    }
    return 0;
}
