// The size a preliminary reply announces, "(N bytes)" after the file name: compared with a plain
// reading of the rule (the last "(" opens it, then decimal digits that fit 63 bits, then " bytes)"
// in any letter case), and a size written after any text that holds no "(" reads back.
#include "FuzzCheck.h"
#include "net/msFtpCls.h"

#include <cstdint>
#include <limits>
#include <string>

namespace {

std::int64_t Announced(const std::string &reply)
{
    const std::size_t open = reply.rfind('(');
    if (open == std::string::npos)
        return -1;
    std::size_t i = open + 1;
    std::int64_t value = 0;
    bool fits = true;
    const std::size_t first = i;
    for (; i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; ++i) {
        const int digit = reply[i] - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10)
            fits = false;
        else
            value = value * 10 + digit;
    }
    if (i == first || !fits)
        return -1;
    std::string unit = reply.substr(i, 7);
    for (char &c : unit) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return unit == " bytes)" ? value : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string reply(reinterpret_cast<const char *>(data), size);
    const std::int64_t size1 = net::AnnouncedSize(reply);
    FUZZ_CHECK(size1 >= -1);
    FUZZ_CHECK(size1 == Announced(reply));

    // The first eight bytes as a size, announced after the rest of the text (its "(" removed).
    if (size >= 8) {
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < 8; ++i)
            bits = bits << 8 | data[i];
        const auto announced = static_cast<std::int64_t>(bits >> 1);
        std::string text = reply.substr(8);
        std::erase(text, '(');
        FUZZ_CHECK(net::AnnouncedSize("150 Opening BINARY mode data connection for " + text + " (" +
                                      std::to_string(announced) + " bytes).") == announced);
    }
    return 0;
}
