#pragma once
// The desktop's "open this document" service, for the main form: it needs Qt's GUI library.
#include <QUrl>
#include <functional>
#include <string>

namespace shell {

// Asks the desktop to open a file with the program it uses for that kind of file. The answer is
// the desktop's; nothing waits for the program.
bool OpenDocument(const std::string &path);
// Puts `opener` in the desktop's place (tests record the request); an empty one restores it.
void SetDocumentOpener(std::function<bool(const QUrl &)> opener);

}  // namespace shell
