#pragma once
// Files written anew in a folder that others may write (the download folder may be shared): the new
// contents go to a part file beside the target, renamed over it only when whole. The previous file
// stays whole until then, an unfinished one never takes its place, and a link planted under the
// target's name is replaced by the new file, never written through, since the part file is created
// exclusively under a name of its own.
//
// Part files are named ".drovanel-<process id>-<number>.part": a name that never contains ".mdb",
// so one left behind by a crash is not taken for a points map by the update check, and that
// RemoveLeftoverPartFiles knows.
#include "framework/Streams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace fw {

// Which file a name held at some moment: its device and inode.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

// The file this process last put in place under `target` (PartFile::Place, the same path text),
// so that a later reader can tell it from one put under that name since (in a folder others may
// write). Empty when this process placed none there.
std::optional<FileIdentity> PlacedFile(const std::string &target);

// One part file for one target, removed by the destructor unless it was put in place.
class PartFile {
public:
    // Has `create` make a part file in the target's folder. `create` must make the named file only
    // if the name is free and never through a link (O_CREAT | O_EXCL | O_NOFOLLOW), with mode 0666
    // before the umask and closed on exec, and raise EInOutError with the system's code when it
    // cannot; a name found taken (a leftover of an earlier process with this id, or planted) is
    // passed over for the next. A target that exists but cannot be written is refused first with
    // EInOutError (EACCES): the rename would otherwise replace a file that the user made read-only.
    // A link under the target's name is asked about itself, not the file it names: only the link
    // is replaced.
    PartFile(std::string target, const std::function<void(const std::string &partName)> &create);
    ~PartFile();
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    const std::string &Target() const { return m_target; }
    const std::string &Name() const { return m_name; }
    // Renames the part file over the target and makes the rename durable. The caller has closed
    // the file first (and synced it, when its contents must outlive a power loss). Raises
    // EInOutError; the part file is then still removed by the destructor. The file placed is what
    // PlacedFile answers for the target from then on.
    void Place();

private:
    std::string m_target;
    std::string m_name;  // empty once placed
};

// A file stream over a part file: a file fetched anew. Raises EFCreateError naming the target, the
// name the user knows, when the part file cannot be made, as creating the target itself would.
class PartFileStream {
public:
    explicit PartFileStream(const std::string &target);

    TStream &Stream() { return *m_stream; }
    // The bytes written so far.
    std::int64_t Size() { return m_stream->Size(); }
    // Closes the stream and puts the file in place. Not synced: the files fetched this way are read
    // at once and fetched again when lost.
    void Place();

private:
    // In this order, so that the stream is closed before an unplaced part file is removed.
    std::unique_ptr<PartFile> m_part;
    std::unique_ptr<TFileStream> m_stream;
};

// Removes from `folder` the part files of processes that ended without finishing them (killed, or
// the machine lost power): regular files of this user named exactly as part files are
// (".drovanel-" digits "-" digits ".part"). Those of a process still running, this one or another,
// stay, and so does anything else (a link, a folder, another user's file, "-notes" or "+1" in the
// name). Nothing is reported: a file that cannot be removed is tried again at the next start.
void RemoveLeftoverPartFiles(const std::string &folder);

}  // namespace fw
