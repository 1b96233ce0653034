#pragma once
// The program's byte texts (captions, messages, paths, settings) are UTF-8, the encoding of the
// user's locale, which plays here the part of the Windows "ANSI" code page. The widgets speak
// Unicode; these convert at that boundary, and only there. Paths reach the file system as the
// bytes they are (framework/FileSystem.h).
#include <QString>
#include <string>
#include <string_view>

namespace fw {

// A byte text for the screen: UTF-8 when it is valid UTF-8, otherwise read as Windows-1252 (a
// server reply or a file written on Windows), so no text shows as replacement marks.
QString FromAnsi(std::string_view text);
// Unicode text as the program's UTF-8 bytes; nothing is lost.
std::string ToAnsi(const QString &text);

// A message for a line of standard error: UTF-8 as FromAnsi reads it, each run of line breaks
// (the dialogs' CRs) one space.
std::string OneLineText(std::string_view text);

// A text written in the source (UTF-8) as the program's byte text: the same bytes.
std::string AnsiText(std::string_view utf8);

}  // namespace fw
