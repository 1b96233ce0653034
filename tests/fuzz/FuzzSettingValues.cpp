// The readers that turn stored setting texts into control values, each compared with a plain
// reading of its rule: the trim (blanks and control characters off both ends), the integers
// (decimal, or hexadecimal after "$" or "0x", with a sign, within 32 bits), the floating-point
// numbers (the decimal form with "." or the locale's separator, finite), the words and numbers of
// a stored window position, and the Boolean words. What the store writes reads back: any integer,
// any finite double, any four coordinates (kept within kFarthestCoordinate).
//
// The first byte picks the user's locale (its decimal separator); the rest is the stored text. Its
// first eight bytes are also a double, and its first sixteen four coordinates, for the writers.
#include "FuzzCheck.h"
#include "settings/Placemnt.h"

#include <QLocale>
#include <QScopeGuard>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string Trimmed(std::string_view text)
{
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

bool Integer(std::string_view text, int &value)
{
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with('$')) {
        base = 16;
        text.remove_prefix(1);
    } else if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    std::int64_t magnitude = 0;  // stops growing past 2^32
    for (const char c : text) {
        const int digit = DigitValue(c);
        if (digit >= base)
            return false;
        magnitude = std::min<std::int64_t>(magnitude * base + digit, std::int64_t{1} << 32);
    }
    const std::int64_t result = negative ? -magnitude : magnitude;
    if (result < std::numeric_limits<int>::min() || result > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(result);
    return true;
}

// A sign, digits with one "." among or around them (at least one digit), an exponent with digits.
bool DecimalForm(std::string_view t)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            ++i;
        return i - start;
    };
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    std::size_t mantissa = digits();
    if (i < t.size() && t[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == t.size();
}

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool AsciiSame(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::vector<std::string> Words(std::string_view text)
{
    std::vector<std::string> words(1);
    for (const char c : text) {
        if (c == ',' || c == ' ')
            words.emplace_back();
        else
            words.back() += c;
    }
    std::erase(words, std::string());
    return words;
}

void CheckFloat(std::string_view text)
{
    // The separators taken: "." always, and the locale's when it is one byte of its own.
    const QString point = QLocale().decimalPoint();
    char separator = '.';
    if (point.size() == 1 && point[0].unicode() < 0x100)
        separator = static_cast<char>(point[0].unicode());
    std::string normal(text);
    std::replace(normal.begin(), normal.end(), separator, '.');

    // The number of such a text, read with the C library in the C locale.
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    errno = 0;
    const double reference = strtod_l(normal.c_str(), nullptr, c);
    const bool underflow = errno == ERANGE && std::isfinite(reference);
    const bool parses = DecimalForm(normal) && std::isfinite(reference);

    double value = 0.5;
    const bool read = settings::TryTextToFloat(text, value);
    if (read) {
        FUZZ_CHECK(parses && SameBits(value, reference));
    } else {
        // A number too small for a double may be refused or read as the nearest one.
        FUZZ_CHECK(!parses || underflow);
        FUZZ_CHECK(SameBits(value, 0.5));
    }
}

void CheckWrittenFloat(double number)
{
    if (!std::isfinite(number))
        return;
    const std::string text = settings::FloatToText(number);
    FUZZ_CHECK(text.find_first_not_of("0123456789.E-") == std::string::npos);
    std::string significant = text.substr(0, text.find('E'));
    std::erase(significant, '-');
    std::erase(significant, '.');
    significant.erase(0, significant.find_first_not_of('0'));
    FUZZ_CHECK(significant.size() <= 18);
    double back = 0;
    FUZZ_CHECK(settings::TryTextToFloat(text, back) && SameBits(back, number));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    fuzzcheck::EnsureApplication();
    const QLocale before;
    const auto restore = qScopeGuard([&before] { QLocale::setDefault(before); });
    static const QLocale locales[] = {QLocale::c(), QLocale(QLocale::German, QLocale::Germany),
                                      QLocale(QLocale::Arabic, QLocale::Egypt),
                                      QLocale(QLocale::English, QLocale::UnitedStates)};
    QLocale::setDefault(locales[data[0] % 4]);
    const std::string_view raw(reinterpret_cast<const char *>(data) + 1, size - 1);

    // The trim, applied to every stored text before it is read.
    const std::string text = settings::TrimText(raw);
    FUZZ_CHECK(text == Trimmed(raw));
    FUZZ_CHECK(settings::TrimText(text) == text);

    // Integers: a text that is no integer leaves the number alone (the store then sets 0).
    int number = 12345;
    int expected = 0;
    const bool isInteger = Integer(text, expected);
    FUZZ_CHECK(settings::TryStrToInt(text, number) == isInteger);
    FUZZ_CHECK(number == (isInteger ? expected : 12345));
    if (isInteger) {
        int again = 0;
        FUZZ_CHECK(settings::TryStrToInt(std::to_string(number), again) && again == number);
    }

    // Floating-point numbers, read under the chosen locale.
    CheckFloat(text);

    // Booleans: "True" or "False" in any letter case; anything else is neither.
    FUZZ_CHECK(settings::SameText(text, "True") == AsciiSame(text, "True"));
    FUZZ_CHECK(settings::SameText("False", text) == AsciiSame(text, "False"));

    // A stored window position: its words, and each coordinate or the default.
    const std::vector<std::string> words = settings::PositionWords(text);
    FUZZ_CHECK(words == Words(text));
    for (std::size_t i = 0; i < 5; ++i) {
        int coordinate = 0;
        const bool given = i < words.size() && Integer(words[i], coordinate);
        const int want =
            given ? std::clamp(coordinate, -settings::kFarthestCoordinate, settings::kFarthestCoordinate) : -7;
        FUZZ_CHECK(settings::PositionNumber(words, i, -7) == want);
    }

    // What the store writes reads back.
    if (raw.size() >= 8) {
        double written = 0;
        std::memcpy(&written, raw.data(), sizeof written);
        CheckWrittenFloat(written);
    }
    if (raw.size() >= 16) {
        int four[4];
        std::memcpy(four, raw.data(), sizeof four);
        char position[64];
        std::snprintf(position, sizeof position, "%d,%d,%d,%d", four[0], four[1], four[2], four[3]);
        const auto back = settings::PositionWords(position);
        FUZZ_CHECK(back.size() == 4);
        for (std::size_t i = 0; i < 4; ++i) {
            FUZZ_CHECK(settings::PositionNumber(back, i, 0) ==
                       std::clamp(four[i], -settings::kFarthestCoordinate, settings::kFarthestCoordinate));
        }
    }
    return 0;
}
