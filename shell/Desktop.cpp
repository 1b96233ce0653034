#include "shell/Desktop.h"

#include "framework/FileSystem.h"

#include <QDesktopServices>
#include <utility>

namespace shell {

namespace {

std::function<bool(const QUrl &)> &opener()
{
    static std::function<bool(const QUrl &)> instance;
    return instance;
}

}  // namespace

bool OpenDocument(const std::string &path)
{
    const QUrl url = QUrl::fromLocalFile(fw::PathFromAnsi(path));
    if (opener())
        return opener()(url);
    return QDesktopServices::openUrl(url);
}

void SetDocumentOpener(std::function<bool(const QUrl &)> replacement)
{
    opener() = std::move(replacement);
}

}  // namespace shell
