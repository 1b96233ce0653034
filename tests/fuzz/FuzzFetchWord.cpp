// FetchWord and FetchWordAsInteger on any reply text: the first byte picks the word index and
// the single-word flag, the rest is the text. A word is trimmed and a piece of the text; the
// number is the word read as a 32-bit integer or -1.
#include "FuzzCheck.h"
#include "net/msFtpCls.h"

#include <charconv>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int index = data[0] & 0x0F;
    const bool singleWord = (data[0] & 0x10) != 0;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const std::string word = net::FetchWord(text, index, singleWord);
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    if (!word.empty()) {
        FUZZ_CHECK(!blank(word.front()) && !blank(word.back()));
        FUZZ_CHECK(text.find(word) != std::string::npos);
        if (singleWord)
            FUZZ_CHECK(word.find(' ') == std::string::npos);
    }
    const std::int32_t value = net::FetchWordAsInteger(text, index);
    const std::string single = net::FetchWord(text, index, true);
    std::int32_t parsed = 0;
    const char *first = single.data();
    const char *last = single.data() + single.size();
    if (single.size() > 1 && single[0] == '+' && single[1] != '-')
        ++first;
    const auto [end, ec] = std::from_chars(first, last, parsed);
    const bool isNumber = !single.empty() && ec == std::errc() && end == last;
    FUZZ_CHECK(value == (isNumber ? parsed : -1));
    return 0;
}
