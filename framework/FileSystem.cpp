#include "framework/FileSystem.h"

#include "framework/Ansi.h"
#include "framework/Exceptions.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fw {
namespace {

QByteArray osName(std::string_view path)
{
    return QFile::encodeName(PathFromAnsi(path));
}

bool statIs(std::string_view path, mode_t type)
{
    if (path.empty())
        return false;
    struct stat st {};
    return ::stat(osName(path).constData(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

}  // namespace

QString PathFromAnsi(std::string_view path)
{
    return FromAnsi(path);
}

std::string PathToAnsi(const QString &path)
{
    return ToAnsi(path);
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
    if (path.empty())
        return false;
    struct stat st {};
    return ::stat(osName(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view path)
{
    return statIs(path, S_IFDIR);
}

void CreateDir(std::string_view path)
{
    if (path.empty())
        throw EInOutError::FromErrno(ENOENT);
    if (::mkdir(osName(path).constData(), 0777) != 0)
        throw EInOutError::FromErrno(errno);
}

void CreateEmptyFile(std::string_view path)
{
    if (path.empty())
        throw EInOutError::FromErrno(ENOENT);
    const int fd = ::open(osName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw EInOutError::FromErrno(errno);
    ::close(fd);
}

void SetCurrentDir(std::string_view path)
{
    if (path.empty())
        throw EInOutError::FromErrno(ENOENT);
    if (::chdir(osName(path).constData()) != 0)
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
    return PathToAnsi(QFile::decodeName(buffer.data()));
}

}  // namespace fw
