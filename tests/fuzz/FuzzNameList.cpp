// The name-list splitter on any listing: names hold no line end and no zero byte, put together
// they are the text before its first zero byte less its line ends, and the cap on the number of
// names (picked by the first byte) holds.
#include "FuzzCheck.h"
#include "net/Mssocket.h"
#include "net/msFtpCls.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t maxNames = data[0];
    const std::string_view bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    const std::string_view text = bytes.substr(0, bytes.find('\0'));
    std::string joined;
    std::size_t lineEnds = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            ++lineEnds;
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            joined += text[i];
        }
    }
    const bool open = !text.empty() && text.back() != '\r' && text.back() != '\n';
    const std::size_t expected = lineEnds + (open ? 1 : 0);
    try {
        const auto names = net::SplitNameList(bytes, maxNames);
        FUZZ_CHECK(names.size() == expected && names.size() <= maxNames);
        std::string again;
        for (const auto &name : names) {
            FUZZ_CHECK(name.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
            again += name;
        }
        FUZZ_CHECK(again == joined);
    } catch (const net::EmsLimitError &) {
        FUZZ_CHECK(expected > maxNames);
    }
    return 0;
}
