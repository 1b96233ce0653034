// The readers of outside texts (platform/Text.h): IsValidUtf8 against a plain decoder of the
// standard's rules; Utf8FromCp1252 gives valid UTF-8 of one character per byte, each the byte's
// Windows-1252 character (ASCII as it is); Utf8FromAnyText is the bytes when they are UTF-8 and
// their Windows-1252 reading otherwise.
#include "FuzzCheck.h"
#include "platform/Text.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Decodes one well-formed sequence at `at`; 0 when there is none.
std::size_t Sequence(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC0 && lead < 0xE0) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

bool Utf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Sequence(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

// The characters of Windows-1252's upper half that differ from Latin-1 (0x80 to 0x9F); 0 where
// the byte is unassigned, which reads as the C1 control of the same number.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string Encode(std::uint32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

std::string Cp1252(std::string_view bytes)
{
    std::string out;
    for (const char b : bytes) {
        const auto byte = static_cast<unsigned char>(b);
        const bool high = byte >= 0x80 && byte < 0xA0 && kHigh[byte - 0x80] != 0;
        out += Encode(high ? kHigh[byte - 0x80] : byte);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const bool valid = Utf8(bytes);
    FUZZ_CHECK(platform::IsValidUtf8(bytes) == valid);
    const std::string converted = platform::Utf8FromCp1252(bytes);
    FUZZ_CHECK(converted == Cp1252(bytes));
    FUZZ_CHECK(platform::IsValidUtf8(converted));
    FUZZ_CHECK(platform::Utf8FromAnyText(bytes) == (valid ? std::string(bytes) : converted));
    return 0;
}
