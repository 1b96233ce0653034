// The news as the news window shows it (fw::NewsDisplayText): the text decoded as the map texts
// are, with no control character left but LF and TAB; every line end (CR LF, a lone CR or LF) is
// one LF; every character of the decoded text is kept, a control as one space; nothing else is
// added or dropped.
#include "FuzzCheck.h"
#include "platform/Text.h"
#include "widgets/NewsWindow.h"

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const QString shown = fw::NewsDisplayText(bytes);
    const QString decoded = QString::fromStdString(platform::Utf8FromAnyText(bytes));
    qsizetype from = 0;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown[i];
        FUZZ_CHECK(c == QLatin1Char('\n') || c == QLatin1Char('\t') || c.category() != QChar::Other_Control);
        FUZZ_CHECK(from < decoded.size());
        const QChar source = decoded[from];
        if (source == QLatin1Char('\r')) {
            FUZZ_CHECK(c == QLatin1Char('\n'));
            from += from + 1 < decoded.size() && decoded[from + 1] == QLatin1Char('\n') ? 2 : 1;
        } else if (source != QLatin1Char('\n') && source != QLatin1Char('\t') &&
                   source.category() == QChar::Other_Control) {
            FUZZ_CHECK(c == QLatin1Char(' '));
            ++from;
        } else {
            FUZZ_CHECK(c == source);
            ++from;
        }
    }
    FUZZ_CHECK(from == decoded.size());
    return 0;
}
