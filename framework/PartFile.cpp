// Part files: their names, their creation and placing, and the sweep of leftovers.
#include "framework/PartFile.h"

#include "framework/Exceptions.h"
#include "framework/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

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

}  // namespace

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
    if (std::rename(m_name.c_str(), m_target.c_str()) != 0)
        throw EInOutError::FromErrno(errno);
    m_name.clear();
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

void RemoveLeftoverPartFiles(const std::string &folder)
{
    QDir dir(PathFromAnsi(folder));
    const QString prefix = QString::fromLatin1(kPartPrefix);
    const QStringList names =
        dir.entryList({prefix + "*" + QString::fromLatin1(kPartSuffix)}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        bool ok = false;
        const qlonglong pid = name.mid(prefix.size()).section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
        if (!ok || pid <= 0 || pid > std::numeric_limits<pid_t>::max())
            continue;
        // kill with signal 0 only asks whether the process exists; EPERM means it does, as
        // another user's.
        if (pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        dir.remove(name);
    }
}

}  // namespace fw
