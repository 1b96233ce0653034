// The text-file line reader against a plain model of its rules (CR, CR LF, a lone LF, Ctrl-Z, the
// line cap). The reader reads its file in large blocks and finds line ends 64 bytes at a time, so
// the input can be placed right before a block boundary: when the first byte is 128 or more,
// filler lines fill the file up to that many bytes (its low 7 bits) before the reader's first
// block ends, and the cap is the reader's own. Below 128 the first byte sets a small cap (0: the
// reader's own), so lines past it are within reach. Each further byte's low bit chooses ReadLine
// or ReadLineView for the next line.
#include "FuzzCheck.h"
#include "framework/Exceptions.h"
#include "framework/TextFile.h"

#include <cstdint>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

constexpr std::size_t kReaderBlock = 256 * 1024;  // the reader's block size
constexpr std::size_t kFillerLine = 1023;         // the filler's lines, each with a CR
constexpr std::size_t kFillerLines = (kReaderBlock - 128) / (kFillerLine + 1);
// The filler's lines, then one that reaches kReaderBlock - 128: the input's tail extends it.
constexpr std::size_t kFillerRest = kReaderBlock - 128 - kFillerLines * (kFillerLine + 1);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string payload(reinterpret_cast<const char *>(data) + 1, size - 1);
    // The filler is written once into a file of its own; each input only rewrites the few bytes
    // before the boundary and itself, so a run spends its time reading, not writing 256 KiB.
    const std::string padded = fuzzcheck::ScratchFolder() + "/padded";
    const std::string plain = fuzzcheck::ScratchFolder() + "/plain";
    static const int paddedFd = [&] {
        const int f = ::open(padded.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        std::string filler;
        for (std::size_t i = 0; i < kFillerLines; ++i)
            filler += std::string(kFillerLine, 'x') + '\r';
        filler += std::string(kFillerRest, 'x');
        FUZZ_CHECK(f >= 0 && ::pwrite(f, filler.data(), filler.size(), 0) == static_cast<ssize_t>(filler.size()));
        return f;
    }();
    static const int plainFd = ::open(plain.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::size_t fillerLine = 0;  // the length of the last filler line before the payload, if any
    std::size_t cap = fw::TextFileReader::kMaxLineBytes;
    std::string name = plain;
    if (data[0] >= 128) {
        // Its CR lands (low 7 bits + 1) bytes before the block's end.
        fillerLine = kFillerRest + 127 - (data[0] & 0x7F);
        std::string tail(fillerLine - kFillerRest, 'x');
        tail += '\r';
        tail += payload;
        FUZZ_CHECK(::pwrite(paddedFd, tail.data(), tail.size(), kReaderBlock - 128) ==
                   static_cast<ssize_t>(tail.size()));
        FUZZ_CHECK(::ftruncate(paddedFd, static_cast<off_t>(kReaderBlock - 128 + tail.size())) == 0);
        name = padded;
    } else {
        if (data[0] > 0)
            cap = std::size_t{data[0]} * 32 - 1;
        FUZZ_CHECK(plainFd >= 0 &&
                   ::pwrite(plainFd, payload.data(), payload.size(), 0) == static_cast<ssize_t>(payload.size()));
        FUZZ_CHECK(::ftruncate(plainFd, static_cast<off_t>(payload.size())) == 0);
    }
    // The model of the payload alone: an LF right after the filler's CR belongs to its line end.
    std::string_view rest = payload;
    if (fillerLine > 0 && !rest.empty() && rest.front() == '\n')
        rest.remove_prefix(1);
    const auto expected = fuzzcheck::ReferenceLines(rest);
    fw::TextFileReader reader(name);
    reader.SetMaxLineBytes(cap);
    std::size_t i = 0;
    std::string line;
    const auto next = [&] {
        const bool view = size > 1 && (data[1 + i % (size - 1)] & 1) != 0;
        if (view)
            line = std::string(reader.ReadLineView());
        else
            reader.ReadLine(line);
    };
    if (fillerLine > 0) {
        for (std::size_t filler = 0; filler <= kFillerLines; ++filler) {
            FUZZ_CHECK(!reader.Eof());
            next();
            const std::size_t want = filler < kFillerLines ? kFillerLine : fillerLine;
            FUZZ_CHECK(line.size() == want && line.find_first_not_of('x') == std::string::npos);
            ++i;
        }
    }
    for (const auto &want : expected) {
        FUZZ_CHECK(!reader.Eof());
        if (want.size() > cap) {
            bool refused = false;
            try {
                next();
            } catch (const fw::ELineTooLongError &e) {
                refused = e.Limit() == cap;
            }
            FUZZ_CHECK(refused);
            return 0;  // the reader is not read past a refused line
        }
        next();
        FUZZ_CHECK(line == want);
        ++i;
    }
    FUZZ_CHECK(reader.Eof());
    return 0;
}
