#pragma once
// The program's texts are single-byte Windows-1252 strings; the widgets speak Unicode. These two
// convert at that boundary, and only there.
#include <QString>
#include <string>
#include <string_view>

namespace fw {

QString FromAnsi(std::string_view text);
// Characters outside Windows-1252 become "?", as the ANSI code page would show them.
std::string ToAnsi(const QString &text);

// A text written in the source (UTF-8) as the program's single-byte text: lets Spanish texts be
// written as they read ("Información") while they travel as Windows-1252 bytes.
std::string AnsiText(std::string_view utf8);

}  // namespace fw
