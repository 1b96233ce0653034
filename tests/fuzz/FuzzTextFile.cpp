// The text-file line reader against a plain model of its rules (CR, CR LF, a lone LF, Ctrl-Z).
// The reader reads its file in large blocks and finds line ends 64 bytes at a time, so the input
// can be placed right before a block boundary: when the first byte is 128 or more, a filler line
// fills the file up to that many bytes (its low 7 bits) before the reader's first block ends.
// Each further byte's low bit chooses ReadLine or ReadLineView for the next line.
#include "FuzzCheck.h"
#include "framework/Exceptions.h"
#include "framework/TextFile.h"

#include <cstdint>
#include <fstream>
#include <string>

namespace {

constexpr std::size_t kReaderBlock = 256 * 1024;  // the reader's block size

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string text;
    if (data[0] >= 128) {
        const std::size_t before = data[0] & 0x7F;
        text.assign(kReaderBlock - before - 1, 'x');
        text += '\r';
    }
    text.append(reinterpret_cast<const char *>(data) + 1, size - 1);
    const std::string name = fuzzcheck::ScratchFolder() + "/text";
    {
        std::ofstream out(name, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    const auto expected = fuzzcheck::ReferenceLines(text);
    fw::TextFileReader reader(name);
    std::size_t i = 0;
    std::string line;
    while (!reader.Eof()) {
        FUZZ_CHECK(i < expected.size());
        const bool view = size > 1 && (data[1 + i % (size - 1)] & 1) != 0;
        if (view)
            line = std::string(reader.ReadLineView());
        else
            reader.ReadLine(line);
        FUZZ_CHECK(line == expected[i]);
        ++i;
    }
    FUZZ_CHECK(i == expected.size());
    return 0;
}
