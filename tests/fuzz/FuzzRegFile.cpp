// The REGEDIT4 parser on any settings file: it always gives a hive (what could be read), and that
// hive is written out as a text that reads back whole and writes out the same again.
#include "FuzzCheck.h"
#include "platform/RegFile.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto first = platform::regfile::Parse(text);
    FUZZ_CHECK(first.root != nullptr);
    const std::string written = platform::regfile::Write(*first.root);
    const auto again = platform::regfile::Parse(written);
    FUZZ_CHECK(again.root != nullptr && again.Clean());
    FUZZ_CHECK(platform::regfile::Write(*again.root) == written);
    return 0;
}
