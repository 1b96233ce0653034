#include "framework/FileSystem.h"

#include "framework/Exceptions.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fw {
namespace {

// The bytes of the path as the system takes them: unchanged, ended by a NUL.
// A NUL would cut the name short and name another file: such a text names no file at all.
std::string osName(std::string_view path)
{
    if (path.find('\0') != std::string_view::npos)
        throw EInOutError::FromErrno(ENOENT);
    return std::string(path);
}

bool statIs(std::string_view path, mode_t type)
{
    if (path.empty() || path.find('\0') != std::string_view::npos)
        return false;
    struct stat st {};
    return ::stat(osName(path).c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

}  // namespace

QString PathFromAnsi(std::string_view path)
{
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string PathToAnsi(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string joined(folder);
    if (joined.empty() || joined.back() != '/')
        joined += '/';
    joined += name;
    return joined;
}

bool FileExists(std::string_view path)
{
    if (path.empty() || path.find('\0') != std::string_view::npos)
        return false;
    struct stat st {};
    return ::stat(osName(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view path)
{
    return statIs(path, S_IFDIR);
}

void CreateDir(std::string_view path)
{
    if (path.empty())
        throw EInOutError::FromErrno(ENOENT);
    if (::mkdir(osName(path).c_str(), 0777) != 0)
        throw EInOutError::FromErrno(errno);
}

void CreateEmptyFile(std::string_view path)
{
    if (path.empty())
        throw EInOutError::FromErrno(ENOENT);
    const int fd = ::open(osName(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        throw EInOutError::FromErrno(errno);
    ::close(fd);
}

void SetCurrentDir(std::string_view path)
{
    if (path.empty())
        throw EInOutError::FromErrno(ENOENT);
    if (::chdir(osName(path).c_str()) != 0)
        throw EInOutError::FromErrno(errno);
}

std::string GetCurrentDir()
{
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            throw EInOutError::FromErrno(errno);
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

}  // namespace fw
