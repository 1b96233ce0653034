#pragma once
// Byte texts as this platform reads them: UTF-8, the encoding of the user's locale, with
// Windows-1252 as the reading of a text that is not valid UTF-8 (a file or a server reply written
// on Windows).
#include <string>
#include <string_view>

namespace platform {

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
// The Windows-1252 bytes as UTF-8. The five unassigned bytes become the C1 control of the same
// number, so no byte is lost.
std::string Utf8FromCp1252(std::string_view bytes);
// The bytes themselves when they are valid UTF-8, otherwise read as Windows-1252.
std::string Utf8FromAnyText(std::string_view bytes);

}  // namespace platform
