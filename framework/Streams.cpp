#include "framework/Streams.h"

#include "framework/Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace fw {

std::int64_t TStream::Size()
{
    const std::int64_t here = Position();
    const std::int64_t size = Seek(0, SeekOrigin::End);
    Seek(here, SeekOrigin::Beginning);
    return size;
}

void TStream::ReadBuffer(void *buffer, std::int64_t count)
{
    auto *p = static_cast<char *>(buffer);
    while (count > 0) {
        const std::int64_t n = Read(p, count);
        if (n <= 0)
            throw EStreamError("Stream read error");
        p += n;
        count -= n;
    }
}

void TStream::WriteBuffer(const void *buffer, std::int64_t count)
{
    if (count > 0 && Write(buffer, count) != count)
        throw EStreamError("Stream write error");
}

std::int64_t TMemoryStream::Read(void *buffer, std::int64_t count)
{
    const std::int64_t available = std::max<std::int64_t>(0, Size() - m_position);
    const std::int64_t n = std::clamp<std::int64_t>(count, 0, available);
    if (n > 0)
        std::memcpy(buffer, m_data.data() + m_position, static_cast<size_t>(n));
    m_position += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void *buffer, std::int64_t count)
{
    if (count <= 0)
        return 0;
    const auto end = static_cast<size_t>(m_position + count);
    if (end > m_data.size())
        m_data.resize(end);
    std::memcpy(m_data.data() + m_position, buffer, static_cast<size_t>(count));
    m_position += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin)
{
    const std::int64_t base = origin == SeekOrigin::Beginning ? 0 : origin == SeekOrigin::Current ? m_position : Size();
    m_position = std::max<std::int64_t>(0, base + offset);
    return m_position;
}

void TMemoryStream::Clear()
{
    m_data.clear();
    m_position = 0;
}

TFileStream::TFileStream(const std::string &fileName, FileMode mode) : m_fileName(fileName)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileMode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case FileMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    case FileMode::OpenRead: flags |= O_RDONLY; break;
    case FileMode::OpenWrite: flags |= O_WRONLY; break;
    case FileMode::OpenReadWrite: flags |= O_RDWR; break;
    }
    m_fd = ::open(fileName.c_str(), flags, 0666);
    if (m_fd < 0) {
        const int error = errno;
        const std::string reason = std::strerror(error);
        if (mode == FileMode::Create || mode == FileMode::CreateNew)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason, error);
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason, error);
    }
}

TFileStream::~TFileStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::int64_t TFileStream::Read(void *buffer, std::int64_t count)
{
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, static_cast<size_t>(std::max<std::int64_t>(0, count)));
        if (n >= 0) {
            m_position += n;
            return n;
        }
        if (errno != EINTR)
            throw EInOutError::FromErrno(errno);
    }
}

std::int64_t TFileStream::Write(const void *buffer, std::int64_t count)
{
    const auto *p = static_cast<const char *>(buffer);
    std::int64_t left = count;
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EInOutError::FromErrno(errno);
        }
        // Counted as they go: a write that fails part-way has still moved the file's offset.
        m_position += n;
        p += n;
        left -= n;
    }
    return count;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin)
{
    // Asking the position is the common case (a transfer asks after every block): no system call.
    if (origin == SeekOrigin::Current && offset == 0)
        return m_position;
    const int whence = origin == SeekOrigin::Beginning ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    const off_t r = ::lseek(m_fd, offset, whence);
    if (r < 0)
        throw EInOutError::FromErrno(errno);  // a failed seek leaves the offset where it was
    m_position = r;
    return r;
}

}  // namespace fw
