// The control connection's reading rules: bytes into lines (LF ends a line, the first CR goes, a
// zero byte or an overlong line is refused), lines into replies (multi-line rules, the caps on a
// reply), the reply code of a line, and the server's close at the end of the input. Replies are
// read one after another until the input is used up, as a client reads one per command.
#include "FuzzCheck.h"
#include "net/Mssocket.h"
#include "net/msReply.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::size_t pos = 0;
    bool closed = false;
    while (!closed) {
        net::ReplyAssembler reply;
        int lines = 0;
        try {
            bool ended = false;
            do {
                net::LineAssembler assembler;
                bool lf = false;
                const std::size_t start = pos;
                while (pos < size && !lf)
                    lf = assembler.Add(static_cast<char>(data[pos++]));
                closed = !lf;
                FUZZ_CHECK(pos - start <= static_cast<std::size_t>(net::kMaxLineBytes));
                const std::string line = assembler.Take();
                FUZZ_CHECK(line.size() <= static_cast<std::size_t>(net::kLineBufferSize - 2));
                FUZZ_CHECK(line.find('\n') == std::string::npos);
                FUZZ_CHECK(line.find('\0') == std::string::npos);
                const int code = net::FtpReplyCode(line);
                FUZZ_CHECK(code == -1 || (code >= 0 && code <= 999));
                ended = reply.Add(line, code, assembler.Complete());
                ++lines;
                FUZZ_CHECK(lines <= net::kMaxReplyLines + 1);
                // A reply is whole only when its last line has the form of a final line.
                if (ended && reply.Complete())
                    FUZZ_CHECK(reply.Code() > 0 || assembler.Complete());
            } while (!ended);
        } catch (const net::EmsLineError &) {
            // The client reports the line or the reply and the next command reads on.
        }
    }
    return 0;
}
