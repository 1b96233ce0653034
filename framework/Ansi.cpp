#include "framework/Ansi.h"

#include "platform/Text.h"

#include <QRegularExpression>

namespace fw {

QString FromAnsi(std::string_view text)
{
    if (platform::IsValidUtf8(text))
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const std::string utf8 = platform::Utf8FromCp1252(text);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToAnsi(const QString &text)
{
    return text.toUtf8().toStdString();
}

std::string OneLineText(std::string_view text)
{
    static const QRegularExpression breaks(QStringLiteral("[\r\n]+"));
    return FromAnsi(text).replace(breaks, QStringLiteral(" ")).toStdString();
}

std::string AnsiText(std::string_view utf8)
{
    return std::string(utf8);
}

}  // namespace fw
