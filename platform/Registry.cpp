#include "platform/Registry.h"

#include "platform/RegFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>  // renameat2
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

using regfile::Key;

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
// A hive this large was not written by us; reading it whole could exhaust the memory.
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

bool isPredefined(HKEY key)
{
    return key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA;
}

LONG errorFromErrno(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_REGISTRY_IO_FAILED;
    }
}

std::string localPath(const QString &path)
{
    return path.toLocal8Bit().toStdString();
}

std::string dirOf(const std::string &path)
{
    return localPath(QFileInfo(QFile::decodeName(path.c_str())).path());
}

std::string baseOf(const std::string &path)
{
    return localPath(QFileInfo(QFile::decodeName(path.c_str())).fileName());
}

// Creates the folder and its missing parents; errno tells why it failed.
bool makeFolders(const std::string &dir)
{
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    if (errno != ENOENT)
        return false;
    const std::string parent = dirOf(dir);
    if (parent != dir && !makeFolders(parent))
        return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool writeAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Temporary files are named ".<file>.<pid>.<random>.tmp": the process id tells whether the writer
// still lives, the random part makes the name one that no one else can have made ready for us.
// Older versions wrote ".<file>.<pid>.tmp"; their leftovers are recognised too.
std::string tempPathFor(const std::string &target, pid_t pid, std::uint32_t nonce)
{
    char random[9];
    std::snprintf(random, sizeof random, "%08x", static_cast<unsigned>(nonce));
    return dirOf(target) + "/." + baseOf(target) + "." + std::to_string(pid) + "." + random + ".tmp";
}

bool allOf(std::string_view text, std::string_view set)
{
    return !text.empty() && text.find_first_not_of(set) == std::string_view::npos;
}

// Creates a temporary file of this process beside `target`, exclusively and never through a link,
// under a name of its own; a name found taken (planted, or a leftover) is passed over for the next.
// Returns the descriptor, or -1 with errno set.
int createTemp(const std::string &target, std::string &temp)
{
    static std::random_device device;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = tempPathFor(target, ::getpid(), device());
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Removes the temporary files that writers killed in the middle of a write left behind: regular
// files of this user, under our names, whose writer is gone.
void sweepStaleTemps(const std::string &target)
{
    const std::string dir = dirOf(target);
    const std::string prefix = "." + baseOf(target) + ".";
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> stale;
    while (const dirent *entry = ::readdir(d)) {
        const std::string_view name = entry->d_name;
        if (name.size() <= prefix.size() + 4 || name.substr(0, prefix.size()) != prefix ||
            name.substr(name.size() - 4) != ".tmp")
            continue;
        std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        const size_t dot = middle.find('.');
        if (dot != std::string_view::npos) {
            const std::string_view random = middle.substr(dot + 1);
            if (random.size() != 8 || !allOf(random, "0123456789abcdef"))
                continue;
            middle = middle.substr(0, dot);
        }
        if (!allOf(middle, "0123456789") || middle.size() > 9)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(std::string(middle)));
        if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        const std::string path = dir + "/" + std::string(name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            stale.push_back(path);
    }
    ::closedir(d);
    for (const auto &path : stale)
        ::unlink(path.c_str());
}

// A name beside the file that exists nowhere yet, for a copy of the file as it was.
std::string asideName(const std::string &path, const std::string &stamp, int n)
{
    std::string target = path + ".corrupt-" + stamp;
    if (n > 1)
        target += "-" + std::to_string(n);
    return target;
}

std::string timeStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
}

// Moves an unreadable hive aside under a name that exists nowhere yet; never replaces a file.
bool moveAside(const std::string &path, std::string &moved)
{
    const std::string stamp = timeStamp();
    for (int n = 1; n < 1000; ++n) {
        const std::string target = asideName(path, stamp, n);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            moved = target;
            return true;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        // A file system without RENAME_NOREPLACE: a hard link fails rather than replace.
        if (::link(path.c_str(), target.c_str()) == 0) {
            moved = target;
            return ::unlink(path.c_str()) == 0;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

// Keeps the bytes of a file whose lines were not all used beside it, durably, under a name that
// exists nowhere yet; the file itself stays until the next save replaces it.
bool keepCopy(const std::string &path, const std::string &bytes, std::string &copy)
{
    const std::string stamp = timeStamp();
    for (int n = 1; n < 1000; ++n) {
        const std::string target = asideName(path, stamp, n);
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
        const int err = errno;
        ::close(fd);
        if (!ok) {
            ::unlink(target.c_str());
            errno = err;
            return false;
        }
        copy = target;
        return true;
    }
    errno = EEXIST;
    return false;
}

// The file a symbolic link leads to, followed link by link, also when it does not exist yet;
// the path itself when it is no link.
std::string linkTarget(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::vector<char> buffer(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0 || static_cast<size_t>(n) >= buffer.size())
            return path;
        const std::string next(buffer.data(), static_cast<size_t>(n));
        path = !next.empty() && next.front() == '/' ? next : dirOf(path) + "/" + next;
    }
    return path;
}

struct Handle {
    Key *key;
    REGSAM access;
};

// Only the thread of the application object calls the registry (the settings store, on its
// show, close and destroy hooks), so the hive takes no lock.
class Hive {
public:
    QString file() const { return m_path.isEmpty() ? RegistryDefaultFile() : m_path; }

    bool useFile(const QString &path)
    {
        if (!m_handles.empty())
            return false;
        m_path = path;
        m_root.reset();
        m_dirty = false;
        m_blocked = false;
        m_pendingCopy.clear();
        m_notice.clear();
        return true;
    }

    int openCount() const { return static_cast<int>(m_handles.size()); }

    // The key and access behind a handle, loading the hive at the first use.
    LONG resolve(HKEY hKey, Key *&key, REGSAM &access)
    {
        if (hKey == HKEY_CURRENT_USER) {
            if (const LONG rc = ensureLoaded(); rc != ERROR_SUCCESS)
                return rc;
            key = m_root.get();
            access = KEY_ALL_ACCESS;
            return ERROR_SUCCESS;
        }
        const auto it = m_handles.find(hKey);
        if (it == m_handles.end())
            return ERROR_INVALID_HANDLE;
        key = it->second.key;
        access = it->second.access;
        return ERROR_SUCCESS;
    }

    HKEY addHandle(Key *key, REGSAM access)
    {
        const HKEY handle = m_nextHandle;
        m_nextHandle += 4;  // handles are never reused while the process runs
        m_handles.emplace(handle, Handle{key, access});
        return handle;
    }

    LONG close(HKEY hKey)
    {
        if (isPredefined(hKey))
            return hKey == HKEY_CURRENT_USER ? flushIfIdle() : ERROR_SUCCESS;
        if (m_handles.erase(hKey) == 0)
            return ERROR_INVALID_HANDLE;
        return flushIfIdle();
    }

    void changed(const Key *key)
    {
        if (!key->isVolatile)
            m_dirty = true;
    }

    // A change made through a root key while no key is open has no later close to carry it.
    LONG flushIfIdle() { return m_handles.empty() ? flush() : ERROR_SUCCESS; }

private:
    LONG ensureLoaded()
    {
        if (m_root)
            return ERROR_SUCCESS;
        const std::string path = localPath(file());
        // Without O_NONBLOCK, opening a FIFO would wait for a writer that never comes.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT)
                return errorFromErrno(errno);
            m_root = std::make_unique<Key>();
            sweepStaleTemps(path);
            return ERROR_SUCCESS;
        }
        std::string bytes;
        bool tooLarge = false;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return ERROR_BAD_FILE_TYPE;
        }
        if (st.st_size > kMaxFileSize) {
            tooLarge = true;
        } else {
            char buffer[65536];
            for (;;) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n < 0 && (errno == EINTR || errno == EAGAIN))
                    continue;
                if (n < 0) {
                    const int err = errno;
                    ::close(fd);
                    return errorFromErrno(err);
                }
                if (n == 0)
                    break;
                bytes.append(buffer, static_cast<size_t>(n));
                if (bytes.size() > static_cast<size_t>(kMaxFileSize)) {
                    tooLarge = true;
                    break;
                }
            }
        }
        ::close(fd);
        if (tooLarge) {
            // Nothing of the user's is destroyed: the file keeps its bytes under a new name. Until
            // it has been moved, the hive is never written over it.
            std::string moved;
            m_blocked = !moveAside(path, moved);
            if (!m_blocked)
                m_notice = moved;
            m_root = std::make_unique<Key>();
        } else {
            regfile::ParseResult parsed = regfile::Parse(bytes);
            m_root = std::move(parsed.root);
            if (!parsed.Clean()) {
                // The next save drops the lines that were skipped: a copy of the file as it was
                // is kept first. Until it exists, the hive is never written over the file.
                std::string copy;
                if (keepCopy(path, bytes, copy)) {
                    m_notice = copy;
                } else {
                    m_blocked = true;
                    m_pendingCopy = std::move(bytes);
                }
            }
        }
        sweepStaleTemps(path);
        return ERROR_SUCCESS;
    }

    LONG flush()
    {
        if (!m_dirty || !m_root)
            return ERROR_SUCCESS;
        const std::string path = localPath(file());
        if (m_blocked) {
            std::string aside;
            const bool kept = m_pendingCopy.empty() ? moveAside(path, aside) : keepCopy(path, m_pendingCopy, aside);
            if (!kept)
                return errorFromErrno(errno);
            m_notice = aside;
            m_pendingCopy.clear();
            m_blocked = false;
        }
        // Write through a symbolic link (a user's settings kept elsewhere), not over it.
        const std::string target = linkTarget(path);
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return ERROR_BAD_FILE_TYPE;
        mode_t mode = 0600;
        if (::stat(target.c_str(), &st) == 0)
            mode = st.st_mode & 07777;
        if (!makeFolders(dirOf(target)))
            return errorFromErrno(errno);

        const std::string bytes = regfile::Write(*m_root);
        std::string temp;
        const int fd = createTemp(target, temp);
        if (fd < 0)
            return errorFromErrno(errno);
        bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
        int err = errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            err = errno;
        }
        if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
            ok = false;
            err = errno;
        }
        if (!ok) {
            ::unlink(temp.c_str());
            return errorFromErrno(err);
        }
        // The rename itself must reach the disk, or a power cut could bring back the old name.
        const int dirFd = ::open(dirOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
        m_dirty = false;
        return ERROR_SUCCESS;
    }

public:
    // The copy kept of a file with skipped lines, until someone takes it to tell the user.
    std::string m_notice;

private:
    QString m_path;
    std::string m_pendingCopy;  // the file's bytes, while no copy of them could be kept
    std::unique_ptr<Key> m_root;
    std::map<HKEY, Handle> m_handles;
    HKEY m_nextHandle = 0x1000;
    bool m_dirty = false;
    bool m_blocked = false;
};

Hive &hive()
{
    static Hive instance;
    return instance;
}

bool hasLineBreak(std::string_view name)
{
    return name.find_first_of("\r\n") != std::string_view::npos;
}

// Splits a subkey path into its names. Windows refuses a leading backslash and empty names; one
// trailing backslash is allowed.
LONG splitPath(std::string_view path, std::vector<std::string> &names)
{
    if (!path.empty() && path.front() == '\\')
        return ERROR_BAD_PATHNAME;
    if (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    if (path.empty())
        return ERROR_SUCCESS;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('\\', start);
        const std::string_view name = path.substr(start, end == std::string_view::npos ? end : end - start);
        if (name.empty())
            return ERROR_BAD_PATHNAME;
        if (name.size() > kMaxKeyNameLength || hasLineBreak(name))
            return ERROR_INVALID_PARAMETER;
        names.emplace_back(name);
        if (end == std::string_view::npos)
            return ERROR_SUCCESS;
        start = end + 1;
    }
}

}  // namespace

LONG RegCreateKeyExA(HKEY hKey, const char *lpSubKey, DWORD, char *, DWORD dwOptions, REGSAM samDesired, const void *,
                     HKEY *phkResult, DWORD *lpdwDisposition)
{
    if (!phkResult || !lpSubKey)
        return ERROR_INVALID_PARAMETER;
    Hive &h = hive();
    Key *key = nullptr;
    REGSAM access = 0;
    if (const LONG rc = h.resolve(hKey, key, access); rc != ERROR_SUCCESS)
        return rc;
    std::vector<std::string> names;
    if (const LONG rc = splitPath(lpSubKey, names); rc != ERROR_SUCCESS)
        return rc;
    const bool wantVolatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
    // Check the whole path before creating anything, so a refusal leaves no half-made path.
    Key *walk = key;
    size_t existing = 0;
    for (; existing < names.size(); ++existing) {
        Key *child = walk->Find(names[existing]);
        if (!child)
            break;
        walk = child;
    }
    if (existing < names.size()) {
        if (existing == 0 && !(access & KEY_CREATE_SUB_KEY))
            return ERROR_ACCESS_DENIED;
        if (walk->isVolatile && !wantVolatile)
            return ERROR_CHILD_MUST_BE_VOLATILE;
        for (size_t i = existing; i < names.size(); ++i) {
            walk = walk->Add(names[i], wantVolatile || walk->isVolatile);
            h.changed(walk);
        }
    }
    *phkResult = h.addHandle(walk, samDesired);
    if (lpdwDisposition)
        *lpdwDisposition = existing < names.size() ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY hKey, const char *lpSubKey, DWORD, REGSAM samDesired, HKEY *phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    Hive &h = hive();
    Key *key = nullptr;
    REGSAM access = 0;
    if (const LONG rc = h.resolve(hKey, key, access); rc != ERROR_SUCCESS)
        return rc;
    std::vector<std::string> names;
    if (const LONG rc = splitPath(lpSubKey ? lpSubKey : "", names); rc != ERROR_SUCCESS)
        return rc;
    for (const auto &name : names) {
        key = key->Find(name);
        if (!key)
            return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = h.addHandle(key, samDesired);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, const char *lpValueName, DWORD, DWORD dwType, const BYTE *lpData, DWORD cbData)
{
    if (!lpData && cbData != 0)
        return ERROR_INVALID_PARAMETER;
    const std::string_view name = lpValueName ? lpValueName : "";
    if (name.size() > kMaxValueNameLength || hasLineBreak(name))
        return ERROR_INVALID_PARAMETER;
    Hive &h = hive();
    Key *key = nullptr;
    REGSAM access = 0;
    if (const LONG rc = h.resolve(hKey, key, access); rc != ERROR_SUCCESS)
        return rc;
    if (!(access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    std::string data(reinterpret_cast<const char *>(lpData), cbData);
    if (key->Set(name, dwType, std::move(data)))
        h.changed(key);
    return isPredefined(hKey) ? h.flushIfIdle() : ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, const char *lpValueName, DWORD *lpReserved, DWORD *lpType, BYTE *lpData,
                      DWORD *lpcbData)
{
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    Hive &h = hive();
    Key *key = nullptr;
    REGSAM access = 0;
    if (const LONG rc = h.resolve(hKey, key, access); rc != ERROR_SUCCESS)
        return rc;
    if (!(access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    const regfile::Value *value = key->FindValue(lpValueName ? lpValueName : "");
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (lpType)
        *lpType = value->type;
    const auto size = static_cast<DWORD>(value->data.size());
    if (lpcbData) {
        if (lpData && *lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        // The value's bytes whole, as RegQueryValueEx hands them: a text value carries its own
        // terminator when it was stored with one, and binary data has none to add.
        if (lpData && size > 0)
            std::memcpy(lpData, value->data.data(), size);  // NOLINT(bugprone-not-null-terminated-result)
        *lpcbData = size;
    }
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey)
{
    Hive &h = hive();
    return h.close(hKey);
}

QString RegistryDefaultFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/drovanel/registry.reg");
}

QString RegistryFile()
{
    Hive &h = hive();
    return h.file();
}

bool RegistryUseFile(const QString &path)
{
    Hive &h = hive();
    return h.useFile(path);
}

QString RegistryTakeSkippedCopy()
{
    Hive &h = hive();
    QString copy = QString::fromLocal8Bit(h.m_notice.data(), static_cast<qsizetype>(h.m_notice.size()));
    h.m_notice.clear();
    return copy;
}

int RegistryOpenKeyCount()
{
    Hive &h = hive();
    return h.openCount();
}

}  // namespace platform
