// The control connection's replies as the FTP client reads them. The input, after its first byte,
// is what the server sends on a real loopback connection; TmsFTPClient::ReadReply reads it one
// reply after another, as the client reads one per command, through the socket's line reading and
// the client's reply codes. Every reply is compared with a plain model of the rules: an LF ends a
// line and its first CR goes; a line longer than the line buffer or holding a zero byte is
// refused; a line that runs on for kMaxLineBytes without an LF is refused there and reading goes
// on after those bytes; a reply whose first line has a code and a "-" runs to a line of the same
// code and a blank, or to the server's close, and is refused past kMaxReplyLines or
// kMaxReplyBytes; a reply cut by the close counts as whole only when its last line has the form
// of a final line.
//
// The first byte says how the server ends. Bit 0 clear: it sends everything and closes the
// connection in order before the reading starts. Bit 0 set: it sends everything and resets the
// connection once the client has received as many lines as bits 2 to 7 say (at most as many as
// end at an LF), in the middle of a reply as often as not; the replies read before the error must
// still be the model's, and the error is the reset's. Bit 1 reads in blocking mode.
#include "FuzzCheck.h"
#include "net/Mssocket.h"
#include "net/msFTP.h"
#include "net/msReply.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// One reply as ReadReply gives it, or the line error that ended it.
struct Reply {
    std::vector<std::string> lines;  // every line received, the last one included
    int code = 0;
    bool complete = false;
    bool lastLineComplete = false;
    std::string error;  // the EmsLineError's message; empty when the reply was read
    bool operator==(const Reply &) const = default;
};

// ---- The model ----

struct ModelLine {
    std::string text;
    std::string error;
    bool lf = false;      // ended at its LF
    bool closed = false;  // ended by the server's close
};

ModelLine NextLine(std::string_view bytes, std::size_t &pos)
{
    ModelLine line;
    const std::string_view rest = bytes.substr(pos);
    const std::size_t lf = rest.substr(0, net::kMaxLineBytes).find('\n');
    std::string_view raw;
    if (lf != std::string_view::npos) {
        raw = rest.substr(0, lf);
        pos += lf + 1;
        line.lf = true;
    } else if (rest.size() >= static_cast<std::size_t>(net::kMaxLineBytes)) {
        pos += net::kMaxLineBytes;  // given up there; the rest is read as the next line
        line.error = "Line too long";
        return line;
    } else {
        raw = rest;
        pos = bytes.size();
        line.closed = true;
    }
    if (raw.size() > static_cast<std::size_t>(net::kLineBufferSize - 2)) {
        line.error = "Line too long";
    } else if (raw.find('\0') != std::string_view::npos) {
        line.error = "Line holds a zero byte";
    } else {
        line.text = raw;
        if (const auto cr = line.text.find('\r'); cr != std::string::npos)
            line.text.erase(cr, 1);
    }
    return line;
}

// The first three characters as a number, or -1 when they are not three digits.
int Code(const std::string &line)
{
    if (line.size() < 3)
        return -1;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return -1;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

bool BlankAfterCode(const std::string &line)
{
    return line.size() > 3 && line[3] == ' ';
}

// The next reply from `pos`; `closed` tells whether it ran into the server's close, and `lfLines`
// counts the lines received that ended at an LF.
Reply NextReply(std::string_view bytes, std::size_t &pos, bool &closed, std::size_t &lfLines)
{
    Reply reply;
    std::size_t textBytes = 0;
    for (;;) {
        const ModelLine line = NextLine(bytes, pos);
        closed = line.closed;
        reply.lastLineComplete = line.lf;
        if (!line.error.empty()) {
            reply.error = line.error;
            reply.code = 0;  // a refused reply gives no code
            return reply;
        }
        const std::string &text = line.text;
        reply.lines.push_back(text);
        lfLines += line.lf ? 1 : 0;
        const int code = Code(text);
        if (reply.lines.size() == 1) {
            reply.code = code;
            const bool opensMore = code > 0 && text.size() > 3 && text[3] == '-';
            if (!opensMore) {
                reply.complete = line.lf || (code > 0 && (text.size() == 3 || BlankAfterCode(text)));
                return reply;
            }
            textBytes = text.size();
        } else {
            textBytes += text.size();
            if (reply.lines.size() > static_cast<std::size_t>(net::kMaxReplyLines) || textBytes > net::kMaxReplyBytes) {
                reply.error = "Reply too long";
                reply.code = 0;  // a refused reply gives no code
                return reply;
            }
            if (code == reply.code && BlankAfterCode(text)) {
                reply.complete = true;
                return reply;
            }
        }
        if (closed)
            return reply;
    }
}

// The properties every reply read must have, model or not.
void CheckShape(const Reply &reply)
{
    FUZZ_CHECK(reply.lines.size() <= static_cast<std::size_t>(net::kMaxReplyLines) + 1);
    for (const auto &line : reply.lines) {
        FUZZ_CHECK(line.size() <= static_cast<std::size_t>(net::kLineBufferSize - 2));
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        FUZZ_CHECK(line.find('\0') == std::string::npos);
    }
    if (!reply.error.empty() || !reply.complete)
        return;
    // A whole reply ends on a line of final form: its LF, or a code and a blank or nothing.
    FUZZ_CHECK(!reply.lines.empty());
    const std::string &last = reply.lines.back();
    FUZZ_CHECK(reply.lastLineComplete || (Code(last) > 0 && (last.size() == 3 || BlankAfterCode(last))));
    if (reply.lines.size() > 1)
        FUZZ_CHECK(Code(last) == reply.code && BlankAfterCode(last));
}

// ---- The server's end ----

struct Listener {
    int fd = -1;
    std::uint16_t port = 0;
};

const Listener &TheListener()
{
    static const Listener listener = [] {
        Listener l;
        l.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        FUZZ_CHECK(l.fd >= 0 && ::bind(l.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                   ::listen(l.fd, 16) == 0 &&
                   ::getsockname(l.fd, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        l.port = ntohs(address.sin_port);
        return l;
    }();
    return listener;
}

// An abortive close: the client sees a reset, and no connection is left waiting in TIME_WAIT (a
// run makes millions of them).
void Reset(int &fd)
{
    if (fd < 0)
        return;
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
    fd = -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view payload(reinterpret_cast<const char *>(data) + 1, size - 1);
    bool reset = (data[0] & 1) != 0;
    const bool blocking = (data[0] & 2) != 0;

    std::vector<Reply> expected;
    std::size_t lfLines = 0;  // received lines that end at an LF
    {
        std::size_t pos = 0;
        bool closed = false;
        while (!closed)
            expected.push_back(NextReply(payload, pos, closed, lfLines));
    }
    const std::size_t resetAfter = (data[0] >> 2) % (lfLines + 1);

    fuzzcheck::EnsureApplication();
    net::TmsFTPClient client;
    client.SetBlocking(blocking);
    client.SetTimeOut(10);  // no input needs to wait: a time-out is a reader waiting for nothing
    client.SetHost("127.0.0.1");
    client.SetPort(TheListener().port);
    client.Connect();
    int peer = ::accept4(TheListener().fd, nullptr, nullptr, SOCK_CLOEXEC);
    FUZZ_CHECK(peer >= 0);

    // Everything is written before the reading starts. The loopback buffers take 64 KiB at once;
    // should they not, a thread writes the rest while the client reads, and the server closes in
    // order.
    const int sendBuffer = 1 << 20;
    ::setsockopt(peer, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    ::fcntl(peer, F_SETFL, ::fcntl(peer, F_GETFL) | O_NONBLOCK);
    std::size_t sent = 0;
    while (sent < payload.size()) {
        const ssize_t n = ::send(peer, payload.data() + sent, payload.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    std::thread writer;
    if (sent < payload.size()) {
        reset = false;
        writer = std::thread([&, sent] {
            ::fcntl(peer, F_SETFL, ::fcntl(peer, F_GETFL) & ~O_NONBLOCK);
            std::size_t done = sent;
            while (done < payload.size()) {
                const ssize_t n = ::send(peer, payload.data() + done, payload.size() - done, MSG_NOSIGNAL);
                FUZZ_CHECK(n > 0);
                done += static_cast<std::size_t>(n);
            }
            ::shutdown(peer, SHUT_WR);
        });
    } else if (!reset) {
        ::shutdown(peer, SHUT_WR);
    }

    std::vector<std::string> received;
    std::size_t linesSeen = 0;
    if (reset && resetAfter == 0)
        Reset(peer);
    client.OnLineReceived = [&](fw::TObject *, const std::string &line) {
        received.push_back(line);
        if (reset && ++linesSeen == resetAfter)
            Reset(peer);
    };

    bool resetSeen = false;
    for (const Reply &want : expected) {
        received.clear();
        Reply got;
        try {
            got.code = client.ReadReply();
            got.complete = client.LastReplyComplete();
            FUZZ_CHECK(!received.empty() && client.LastReply() == received.back());
        } catch (const net::EmsLineError &e) {
            got.error = e.Message();
        } catch (const net::EWinsockError &e) {
            // Only a reset that was sent ends the reading early; what this reply had received by
            // then is the model's.
            FUZZ_CHECK(reset && peer < 0);
            FUZZ_CHECK(e.Message() == "[10054] Connection reset by peer");
            FUZZ_CHECK(received.size() <= want.lines.size());
            FUZZ_CHECK(std::equal(received.begin(), received.end(), want.lines.begin()));
            resetSeen = true;
            break;
        } catch (const net::EmsTimedOutError &) {
            FUZZ_CHECK(!"the reader waited for bytes that were never sent");
        }
        got.lines = received;
        got.lastLineComplete = client.LastLineComplete();
        CheckShape(got);
        FUZZ_CHECK(got == want);
    }
    // The last reply ran into the end of what was sent, where a reset always shows.
    FUZZ_CHECK(!reset || resetSeen);

    if (writer.joinable())
        writer.join();
    Reset(peer);
    client.Disconnect();
    return 0;
}
