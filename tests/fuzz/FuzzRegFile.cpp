// The REGEDIT4 parser on any settings file: it gives a hive or refuses the text, and a hive it
// gives is written out as a text that it reads back.
#include "FuzzCheck.h"
#include "platform/RegFile.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto root = platform::regfile::Parse(text);
    if (!root)
        return 0;
    const std::string written = platform::regfile::Write(*root);
    FUZZ_CHECK(platform::regfile::Parse(written) != nullptr);
    return 0;
}
