#include "framework/Ansi.h"

#include <array>

namespace fw {
namespace {

// 0x80..0x9F of Windows-1252; 0 marks the five unassigned bytes, kept as the C1 control of the
// same number so that every byte survives a round trip.
constexpr std::array<char16_t, 32> kHigh = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

QString FromAnsi(std::string_view text)
{
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0)
            out.append(QChar(kHigh[b - 0x80]));
        else
            out.append(QChar(static_cast<char16_t>(b)));
    }
    return out;
}

std::string ToAnsi(const QString &text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        char mapped = '?';
        for (size_t i = 0; i < kHigh.size(); ++i) {
            if ((kHigh[i] != 0 && kHigh[i] == u) || (kHigh[i] == 0 && u == 0x80 + i)) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        out.push_back(mapped);
    }
    return out;
}

std::string AnsiText(std::string_view utf8)
{
    return ToAnsi(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

}  // namespace fw
