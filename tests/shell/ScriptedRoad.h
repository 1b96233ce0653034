#pragma once
// The main form's road against the scripted server: the sample names and texts, folder listings, and
// the fixture that starts the form reaching the server straight (the update check's and the
// download's tests share it).
#include "RoadFixture.h"
#include "fixtures/ScriptedFtpServer.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <string>
#include <vector>

namespace roadtest {

using testutil::FtpSession;
using testutil::ReadFile;
using testutil::ScriptedFtpServer;
using testutil::WriteFile;
using Texts = std::vector<std::string>;

inline const std::string kNewest = "Watcher-090101.mdb";
inline const std::string kPlaceholder = "Watcher-010101.mdb";
inline const std::string kNews = "Hay un mapa nuevo\r\n";
inline const std::string kMap = "574C cabecera\r\n-0312345+40412V1,120\r\n-0312346+40413V2\r\n";

inline bool Exists(const std::string &path)
{
    return QFileInfo::exists(QString::fromStdString(path));
}

// Every name of a folder, hidden ones and links included, sorted.
inline Texts Names(const std::string &path)
{
    Texts names;
    const QDir dir(QString::fromStdString(path));
    for (const QString &name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        names.push_back(name.toStdString());
    std::sort(names.begin(), names.end());
    return names;
}

inline int Count(const Texts &lines, const std::string &prefix)
{
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(prefix, 0) == 0; }));
}

class Scripted : public RoadTest {
protected:
    void StartDirect(const std::function<void(TFPral &)> &settings = {})
    {
        Start(settings);
        Direct(server.Port());
    }
    bool Present(const std::string &name) const { return Exists(local(name)); }
    Texts Listing() const { return Names(folder.path()); }
    Texts PartFiles() const
    {
        Texts parts;
        for (const auto &name : Listing())
            if (name.ends_with(".part"))
                parts.push_back(name);
        return parts;
    }

    ScriptedFtpServer server;
};

}  // namespace roadtest
