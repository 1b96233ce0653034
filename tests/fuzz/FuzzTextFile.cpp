// The text-file line reader against a plain model of its rules (CR, CR LF, a lone LF, Ctrl-Z).
// The reader reads its file in large blocks and finds line ends 64 bytes at a time, so the input
// can be placed right before a block boundary: when the first byte is 128 or more, a filler line
// fills the file up to that many bytes (its low 7 bits) before the reader's first block ends.
// Each further byte's low bit chooses ReadLine or ReadLineView for the next line.
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
        const std::string filler(kReaderBlock - 128, 'x');
        FUZZ_CHECK(f >= 0 && ::pwrite(f, filler.data(), filler.size(), 0) == static_cast<ssize_t>(filler.size()));
        return f;
    }();
    static const int plainFd = ::open(plain.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::size_t fillerLine = 0;  // the length of the filler line before the payload, if any
    std::string name = plain;
    if (data[0] >= 128) {
        fillerLine = kReaderBlock - (data[0] & 0x7F) - 1;
        std::string tail(fillerLine - (kReaderBlock - 128), 'x');
        tail += '\r';
        tail += payload;
        FUZZ_CHECK(::pwrite(paddedFd, tail.data(), tail.size(), kReaderBlock - 128) ==
                   static_cast<ssize_t>(tail.size()));
        FUZZ_CHECK(::ftruncate(paddedFd, static_cast<off_t>(kReaderBlock - 128 + tail.size())) == 0);
        name = padded;
    } else {
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
        FUZZ_CHECK(!reader.Eof());
        next();
        FUZZ_CHECK(line.size() == fillerLine && line.find_first_not_of('x') == std::string::npos);
        ++i;
    }
    for (const auto &want : expected) {
        FUZZ_CHECK(!reader.Eof());
        next();
        FUZZ_CHECK(line == want);
        ++i;
    }
    FUZZ_CHECK(reader.Eof());
    return 0;
}
