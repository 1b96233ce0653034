#pragma once
// The single-instance mark: an exclusive lock on a file in the user's runtime folder, held for
// the life of the process. The kernel drops the lock when the process ends in any way (a crash
// included), so a stale mark cannot keep the program from starting. The lock belongs to the one
// open file description of this object: a second mark taken in the same process, or a child
// process, never sees it as its own.
#include <QString>

namespace platform {

class SingleInstanceMark {
public:
    enum class State {
        Held,           // this process holds the mark
        HeldByAnother,  // another running process holds it
        Unavailable,    // the lock file could not be opened; the mark cannot tell
    };

    // Tries to take the mark named `name` (a file name) in the user's runtime folder.
    explicit SingleInstanceMark(const QString &name);
    // Tries to take the mark at an explicit path.
    static SingleInstanceMark AtPath(const QString &lockFile);
    ~SingleInstanceMark();
    SingleInstanceMark(SingleInstanceMark &&other) noexcept;
    SingleInstanceMark &operator=(SingleInstanceMark &&) = delete;
    SingleInstanceMark(const SingleInstanceMark &) = delete;
    SingleInstanceMark &operator=(const SingleInstanceMark &) = delete;

    State state() const { return m_state; }
    const QString &path() const { return m_path; }

    // The per-user folder for marks: $XDG_RUNTIME_DIR when it is a private folder of this user,
    // otherwise the user's configuration folder, "drovanel" inside it (created when missing).
    static QString RuntimeFolder();

private:
    struct AtPathTag {};
    SingleInstanceMark(AtPathTag, const QString &lockFile);
    void take();

    QString m_path;
    int m_fd = -1;
    State m_state = State::Unavailable;
};

}  // namespace platform
