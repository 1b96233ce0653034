#pragma once
// How drovanel-ftpget shows bytes the server chose (names, replies) on a terminal: control
// characters and bytes that are not UTF-8 text are shown escaped (\x1b), a backslash doubled, so a
// server cannot drive the terminal. Apart from the tool so that the fuzz target checks the same code.
#include <cstdint>
#include <cstdio>
#include <string>

namespace ftpget {

// The length of the well-formed UTF-8 sequence at `at` that encodes a printable character (no
// C1 control), or 0.
inline size_t PrintableUtf8Length(const std::string &text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(at + i) & 0x3Fu);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code <= 0x9F)
        return 0;
    return length;
}

// Server-chosen bytes made safe for a terminal.
inline std::string Escaped(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (const size_t n = c >= 0x80 ? PrintableUtf8Length(text, i) : 0; n > 0) {
            out.append(text, i, n);
            i += n;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
            ++i;
        }
    }
    return out;
}

}  // namespace ftpget
