// Part files: their names, their creation and placing, and the sweep of leftovers.
#include "framework/PartFile.h"

#include "framework/Exceptions.h"
#include "framework/FileSystem.h"

#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <map>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fw {
namespace {

constexpr const char *kPartPrefix = ".drovanel-";
constexpr const char *kPartSuffix = ".part";
// Names tried before giving up: each one taken means a leftover or a planted file.
constexpr int kMaxNameAttempts = 100;

std::string FolderOf(const std::string &path)
{
    return PathToAnsi(QFileInfo(PathFromAnsi(path)).path());
}

// The rename is durable only once the folder's entry is; some file systems cannot sync a folder,
// and by then the file is in place, so that failure is not reported.
void SyncFolder(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::mutex placedLock;
std::map<std::string, FileIdentity> &placedFiles()
{
    static std::map<std::string, FileIdentity> files;
    return files;
}

}  // namespace

std::optional<FileIdentity> PlacedFile(const std::string &target)
{
    const std::lock_guard lock(placedLock);
    const auto it = placedFiles().find(target);
    return it == placedFiles().end() ? std::nullopt : std::optional(it->second);
}

PartFile::PartFile(std::string target, const std::function<void(const std::string &partName)> &create)
    : m_target(std::move(target))
{
    // Asked as the identity that writes (the effective one).
    if (::faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT)
        throw EInOutError::FromErrno(errno);
    static std::atomic<unsigned> counter{0};
    const std::string folder = FolderOf(m_target);
    for (int attempt = 1;; ++attempt) {
        std::string name = folder + "/" + kPartPrefix + std::to_string(::getpid()) + "-" +
                           std::to_string(counter.fetch_add(1)) + kPartSuffix;
        try {
            create(name);
        } catch (const EInOutError &e) {
            if (e.ErrorCode() != EEXIST || attempt >= kMaxNameAttempts)
                throw;
            continue;
        }
        m_name = std::move(name);
        return;
    }
}

PartFile::~PartFile()
{
    if (!m_name.empty())
        ::unlink(m_name.c_str());
}

void PartFile::Place()
{
    struct stat st {};
    if (::lstat(m_name.c_str(), &st) != 0 || std::rename(m_name.c_str(), m_target.c_str()) != 0)
        throw EInOutError::FromErrno(errno);
    m_name.clear();
    {
        const std::lock_guard lock(placedLock);
        placedFiles()[m_target] = FileIdentity{st.st_dev, st.st_ino};
    }
    SyncFolder(FolderOf(m_target));
}

PartFileStream::PartFileStream(const std::string &target)
{
    try {
        m_part = std::make_unique<PartFile>(target, [this](const std::string &name) {
            try {
                m_stream = std::make_unique<TFileStream>(name, FileMode::CreateNew);
            } catch (const EFCreateError &e) {
                throw EInOutError::FromErrno(e.ErrorCode());
            }
        });
    } catch (const EInOutError &e) {
        throw EFCreateError("Cannot create file \"" + target + "\". " + e.Message(), e.ErrorCode());
    }
}

void PartFileStream::Place()
{
    m_stream.reset();
    m_part->Place();
}

namespace {

// The process id in a name of exactly the form part files have, ".drovanel-" digits "-" digits
// ".part", or 0 for any other name.
pid_t PartFileOwner(std::string_view name)
{
    const std::string_view prefix = kPartPrefix;
    const std::string_view suffix = kPartSuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix)
        return 0;
    const std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const size_t dash = middle.find('-');
    if (dash == std::string_view::npos)
        return 0;
    const std::string_view pid = middle.substr(0, dash);
    const std::string_view number = middle.substr(dash + 1);
    const auto digits = [](std::string_view text) {
        return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(pid) || !digits(number) || pid.size() > 10)
        return 0;
    const long long value = std::stoll(std::string(pid));
    return value > 0 && value <= std::numeric_limits<pid_t>::max() ? static_cast<pid_t>(value) : 0;
}

}  // namespace

void RemoveLeftoverPartFiles(const std::string &folder)
{
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    std::vector<std::string> leftovers;
    while (const dirent *entry = ::readdir(dir)) {
        const pid_t pid = PartFileOwner(entry->d_name);
        // kill with signal 0 only asks whether the process exists; EPERM means it does, as
        // another user's.
        if (pid == 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        // Only what this program can have written: a regular file of this user, never a link,
        // a folder or someone else's file that happens to have such a name.
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid())
            leftovers.emplace_back(entry->d_name);
    }
    for (const auto &name : leftovers)
        ::unlinkat(dirFd, name.c_str(), 0);
    ::closedir(dir);  // closes dirFd too
}

}  // namespace fw
