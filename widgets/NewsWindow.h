#pragma once
// The news window: the server's news shown as plain text in a read-only window of the program's
// own, so that no bytes from the server are handed to another program to parse. Not modal: the
// rest of the program goes on while it is open. There is one per owner, reused: news shown again
// replaces the text and brings the window forward.
#include <QString>
#include <string>
#include <string_view>

class QWidget;

namespace fw {

// The title of the news window.
inline constexpr const char *kNewsWindowTitle = "Drovanel - Noticias";

// The news bytes as the window shows them: decoded as the map texts are (UTF-8 when valid,
// otherwise Windows-1252), line ends (CR LF, a lone CR or LF) as line breaks, and every other
// control character (TAB aside) as a space. Nothing is read as markup.
QString NewsDisplayText(std::string_view bytes);

// Shows `bytes` in `owner`'s news window (a window of its own, closed with "Aceptar" or Escape,
// destroyed with the owner), made on first use; returns it.
QWidget *ShowNews(QWidget *owner, std::string_view bytes);

// The same with the bytes of the file at `path` (read whole, at most `maxBytes` of it, without
// following a link); false, and nothing shown, when it cannot be read.
bool ShowNewsFile(QWidget *owner, const std::string &path, std::size_t maxBytes);

}  // namespace fw
