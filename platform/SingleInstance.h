#pragma once
// The single-instance mark: an exclusive lock on a file in the user's runtime folder, held for
// the life of the process. The kernel drops the lock when the process ends in any way (a crash
// included), so a stale mark cannot keep the program from starting. The lock belongs to the one
// open file description of this object: a second mark taken in the same process, or a child
// process, never sees it as its own.
#include <QObject>
#include <QString>

class QLocalServer;

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
    // The local socket beside the mark through which later starts reach the holder.
    QString activationPath() const;

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

// The holder's side of the activation socket: each later start that knocks is confirmed and
// reported. Only the holder of the mark may listen, as it removes a socket file left behind.
class ActivationListener : public QObject {
    Q_OBJECT
public:
    explicit ActivationListener(const QString &socketPath, QObject *parent = nullptr);
    ~ActivationListener() override;
    bool Listening() const;

signals:
    void activationRequested();

private:
    void accept();

    QLocalServer *m_server;
};

// A later start asks the holder listening at `socketPath` to come forward. True once the holder
// confirmed; false when nobody listens or no answer came within `timeoutMs`. Needs an application
// object (QCoreApplication is enough).
bool RequestActivation(const QString &socketPath, int timeoutMs);

}  // namespace platform
