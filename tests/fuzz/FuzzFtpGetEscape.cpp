// drovanel-ftpget's escaping of the bytes a server chose (names and replies on a terminal). The
// text it gives holds no control character (C0, DEL, or C1 as UTF-8) and is UTF-8; it reads back
// to the input (a doubled backslash is one, \xHH is that byte, anything else is itself); and text
// that is already safe (UTF-8 without controls and without a backslash) passes unchanged. The
// model of UTF-8 here is a plain decoder of its own, not the tool's.
#include "FuzzCheck.h"
#include "tools/ftpget/Escape.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

// The code points of `text` when it is well-formed UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF), else nothing.
std::optional<std::vector<std::uint32_t>> DecodeUtf8(const std::string &text)
{
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        int extra = 0;
        std::uint32_t code = 0;
        std::uint32_t least = 0;
        if (b < 0x80) {
            code = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            code = b & 0x1F;
            least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            code = b & 0x0F;
            least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            code = b & 0x07;
            least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + static_cast<std::size_t>(extra) >= text.size())
            return std::nullopt;  // cut short
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80)
                return std::nullopt;
            code = code << 6 | (c & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        out.push_back(code);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

bool IsControl(std::uint32_t code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads the escaped text back; nothing when it has an escape of another form.
std::optional<std::string> Unescape(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
            continue;
        }
        if (i + 3 >= text.size())
            return std::nullopt;
        if (text[i + 1] != 'x' || HexValue(text[i + 2]) < 0 || HexValue(text[i + 3]) < 0)
            return std::nullopt;
        out += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
        i += 3;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    const std::string shown = ftpget::Escaped(input);

    const auto codes = DecodeUtf8(shown);
    FUZZ_CHECK(codes.has_value());
    for (const std::uint32_t code : *codes)
        FUZZ_CHECK(!IsControl(code));

    const auto back = Unescape(shown);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == input);

    const auto inputCodes = DecodeUtf8(input);
    bool safe = inputCodes.has_value() && input.find('\\') == std::string::npos;
    if (safe)
        for (const std::uint32_t code : *inputCodes)
            safe = safe && !IsControl(code);
    if (safe)
        FUZZ_CHECK(shown == input);
    return 0;
}
