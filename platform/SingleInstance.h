#pragma once
// The single-instance mark: an exclusive lock on a file in the user's runtime folder, held for
// the life of the process. The kernel drops the lock when the process ends in any way (a crash
// included), so a stale mark cannot keep the program from starting. The lock belongs to the one
// open file description of this object: a second mark taken in the same process, or a child
// process, never sees it as its own.
//
// Beside the mark lies the activation socket, a plain Unix stream socket through which a later
// start asks the holder to come forward: the caller sends "activate\n", the holder answers "ok\n".
#include <QObject>
#include <QString>
#include <memory>
#include <sys/types.h>

class QSocketNotifier;

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

    State Status() const { return m_state; }
    const QString &Path() const { return m_path; }
    // The local socket beside the mark through which later starts reach the holder.
    QString ActivationPath() const;

    // The per-user folder for the mark `name` and its socket, the first that serves of:
    // - $XDG_RUNTIME_DIR, when it is a private folder of this user and the socket's path fits a
    //   local socket address;
    // - "drovanel-<uid>" in the temporary folder ($TMPDIR when the socket fits below it, else
    //   /tmp), made private when missing. One that exists must be a folder (not a link) of this
    //   user that no one else may enter, or it is refused with a line on standard error: anyone
    //   may create that name first;
    // - the user's configuration folder, "drovanel" inside it (created when missing), where the
    //   socket may not fit.
    static QString RuntimeFolder(const QString &name);

private:
    struct AtPathTag {};
    SingleInstanceMark(AtPathTag, const QString &lockFile);
    void take();

    QString m_path;
    int m_fd = -1;
    State m_state = State::Unavailable;
};

// The longest path a local socket address holds (its terminating zero aside).
inline constexpr qsizetype kMaxLocalSocketPath = 107;

// What a caller of the activation socket has said so far: the knock, something else, or too
// little to tell. Only a first line of exactly "activate" is a knock.
enum class KnockState { Incomplete, Knock, Other };
KnockState ReadKnock(const QByteArray &received);

// Callers of the activation socket held at once; past them a caller whose knock has not already
// arrived is closed at once, so a flood of silent callers cannot fill the descriptor table.
inline constexpr int kMaxActivationCallers = 16;

// The holder's side of the activation socket: each later start that knocks is confirmed and
// reported. Only the holder of the mark may listen, as it replaces a socket file left behind.
// A failure to listen is reported on standard error; the program goes on without the socket.
class ActivationListener : public QObject {
    Q_OBJECT
public:
    explicit ActivationListener(const QString &socketPath, QObject *parent = nullptr);
    ~ActivationListener() override;
    bool Listening() const { return m_fd >= 0; }

signals:
    void activationRequested();

private:
    void acceptCallers();
    void listenAt(const QByteArray &path);

    void serveAtOnce(int fd);

    QByteArray m_path;
    int m_fd = -1;
    std::shared_ptr<int> m_callers = std::make_shared<int>(0);  // callers held, shared with each
    dev_t m_device = 0;  // the socket file as bound, so that only our own is removed at the end
    ino_t m_inode = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// A later start asks the holder listening at `socketPath` to come forward. True once the holder
// confirmed; false when nobody listens or no answer came within `timeoutMs`. Blocks, but never
// past `timeoutMs`; needs no application object.
bool RequestActivation(const QString &socketPath, int timeoutMs);

}  // namespace platform
