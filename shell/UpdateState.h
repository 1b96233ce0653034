#pragma once
// What the program knows of the update while it runs: the newest map the server publishes, the
// newest one in the download folder, whether a newer one waits to be downloaded, and which
// published names' news have been shown and which have been told in a notification. The update
// check and the download change it; the window's labels, the new-map mark, the tray's tooltip and
// the notification show it and are never read back as if they were it. Nothing of it is stored
// between runs.
#include <functional>
#include <set>
#include <string>

namespace shell {

class UpdateState {
public:
    // The main form's FUltimaPublicada: the newest name the server published, empty until a check
    // has found one.
    const std::string &Published() const { return m_published; }
    // The main form's FUltimaLocal: the newest map of the download folder for the device model,
    // empty until a check or a download has named one.
    const std::string &Local() const { return m_local; }
    // A published map newer than the local one waits to be downloaded (the new-map mark).
    bool NewMapWaits() const { return m_newMapWaits; }
    // Whether the news of a published name has been shown, and whether a notification has told of
    // it, in this run.
    bool NewsShown(const std::string &name) const { return m_newsShown.contains(name); }
    bool Told(const std::string &name) const { return m_told.contains(name); }

    void SetPublished(const std::string &name);
    void SetLocal(const std::string &name);
    void SetNewMapWaits(bool waits);
    void SetNewsShown(const std::string &name);
    void SetTold(const std::string &name);

    // Fired after every change of the names or of the mark (also when a value is set to what it
    // was: a view that could not show it the first time, a notification without an icon to carry
    // it, tries again).
    std::function<void()> OnChange;

private:
    void changed() const;

    std::string m_published;
    std::string m_local;
    bool m_newMapWaits = false;
    std::set<std::string> m_newsShown;
    std::set<std::string> m_told;
};

}  // namespace shell
