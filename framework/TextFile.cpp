#include "framework/TextFile.h"

#include "framework/Exceptions.h"
#include "framework/PartFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {
namespace {

constexpr size_t kBlock = 256 * 1024;
static_assert(kBlock % 16 == 0);
static_assert(TextFileWriter::kMaxReserve <= kBlock);
constexpr unsigned long long kWriteBehindStep = 8 * 1024 * 1024;
constexpr char kCtrlZ = 26;

[[noreturn]] void raiseErrno()
{
    throw EInOutError::FromErrno(errno);
}

void closeQuietly(int &fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

ELineTooLongError::ELineTooLongError(size_t limit)
    : EInOutError(EOVERFLOW, "Line longer than " + std::to_string(limit) + " bytes"), m_limit(limit)
{
}

TextFileReader::~TextFileReader()
{
    closeQuietly(m_fd);
}

void TextFileReader::Open(const std::string &fileName)
{
    Close();
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        raiseErrno();
    m_fd = fd;
    m_buffer.resize(kBlock + kScanPadding);
    m_pos = m_end = 0;
    m_sawEnd = false;
}

void TextFileReader::OpenExpected(const std::string &fileName, const FileIdentity &expected)
{
    Close();
    int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        raiseErrno();
    struct stat st {};
    const bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && FileIdentity{st.st_dev, st.st_ino} == expected;
    if (!same || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        closeQuietly(fd);
        throw EInOutError::FromErrno(ESTALE);
    }
    m_fd = fd;
    m_buffer.resize(kBlock + kScanPadding);
    m_pos = m_end = 0;
    m_sawEnd = false;
}

void TextFileReader::Close()
{
    closeQuietly(m_fd);
    m_pos = m_end = 0;
}

bool TextFileReader::Fill()
{
    if (m_sawEnd)
        return false;
    for (;;) {
        const ssize_t n = ::read(m_fd, m_buffer.data(), kBlock);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            raiseErrno();
        }
        m_pos = 0;
        m_end = static_cast<size_t>(n);
        if (n == 0) {
            m_sawEnd = true;
            return false;
        }
        // One scan a block for the Ctrl-Z: the block simply ends there, so the line loops need
        // not look for it.
        if (const void *z = std::memchr(m_buffer.data(), kCtrlZ, m_end)) {
            m_end = static_cast<size_t>(static_cast<const char *>(z) - m_buffer.data());
            m_sawEnd = true;
        }
        m_buffer[m_end] = '\r';  // the sentinel that stops ReadLineView's scan
        SyncCrBits();
        return m_end > 0;
    }
}

bool TextFileReader::EofAfterBlock()
{
    if (m_fd < 0)
        throw EInOutError(EBADF, std::strerror(EBADF));
    return !Fill();
}

std::string TextFileReader::ReadLine()
{
    std::string line;
    ReadLine(line);
    return line;
}

void TextFileReader::ReadLine(std::string &line)
{
    if (m_fd < 0)
        throw EInOutError(EBADF, std::strerror(EBADF));
    CopyLine(line);
    SyncCrBits();
}

void TextFileReader::CopyLine(std::string &line)
{
    line.clear();
    for (;;) {
        if (m_pos == m_end && !Fill())
            return;
        const char *start = m_buffer.data() + m_pos;
        const size_t avail = m_end - m_pos;
        const void *cr = std::memchr(start, '\r', avail);
        const size_t crAt = cr ? static_cast<size_t>(static_cast<const char *>(cr) - start) : avail;
        if (crAt > m_maxLine - line.size())
            throw ELineTooLongError(m_maxLine);
        line.append(start, crAt);
        m_pos += crAt;
        if (!cr)
            continue;
        ++m_pos;  // the CR
        if (m_pos == m_end && !Fill())
            return;
        if (m_buffer[m_pos] == '\n')
            ++m_pos;
        return;
    }
}

std::string_view TextFileReader::ReadLineAcrossBlocks()
{
    ReadLine(m_spill);
    return m_spill;
}

void TextFileReader::SyncCrBits()
{
    m_crBase = m_pos & ~(kGroup - 1);
    m_crBits = CrBits(m_buffer.data() + m_crBase) & (~0ULL << (m_pos - m_crBase));
}

TextFileWriter::~TextFileWriter()
{
    if (m_fd >= 0) {
        try {
            Flush();
        } catch (const EInOutError &) {
            // Close() is where a caller learns of write errors; a destructor must not throw.
        }
        closeQuietly(m_fd);
    }
}

void TextFileWriter::OpenWith(const std::string &fileName, int flags, unsigned mode)
{
    Close();
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, mode);
    if (fd < 0)
        raiseErrno();
    m_fd = fd;
    m_buffer.resize(kBlock);
    m_used = 0;
    m_written = m_handedOn = 0;
    m_writeBehind = false;
}

void TextFileWriter::Create(const std::string &fileName)
{
    OpenWith(fileName, O_TRUNC, 0666);
}

void TextFileWriter::CreateNew(const std::string &fileName, unsigned mode)
{
    OpenWith(fileName, O_EXCL | O_NOFOLLOW, mode);
}

void TextFileWriter::WriteBeyondBlock(std::string_view text)
{
    if (m_fd < 0)
        throw EInOutError(EBADF, std::strerror(EBADF));
    Flush();
    if (text.size() < m_buffer.size()) {
        std::memcpy(m_buffer.data(), text.data(), text.size());
        m_used = text.size();
        return;
    }
    // A very long piece goes straight to the file.
    const char *p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            raiseErrno();
        }
        p += n;
        left -= static_cast<size_t>(n);
        Written(static_cast<size_t>(n));
    }
}

void TextFileWriter::Flush()
{
    size_t done = 0;
    while (done < m_used) {
        const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_used - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_used = 0;  // what could not be written is lost with the error reported
            raiseErrno();
        }
        done += static_cast<size_t>(n);
        Written(static_cast<size_t>(n));
    }
    m_used = 0;
}

char *TextFileWriter::ReserveAfterFlush(size_t size)
{
    if (m_fd < 0)
        throw EInOutError(EBADF, std::strerror(EBADF));
    if (size > kMaxReserve)
        throw EInOutError(EINVAL, std::strerror(EINVAL));
    Flush();
    return m_buffer.data();
}

void TextFileWriter::Written(size_t bytes)
{
    m_written += bytes;
    if (!m_writeBehind || m_written - m_handedOn < kWriteBehindStep)
        return;
    // Only a hint: it starts the write-out without waiting for it, and any failure of the disk
    // is reported by the Sync that follows.
    ::sync_file_range(m_fd, static_cast<off_t>(m_handedOn), static_cast<off_t>(m_written - m_handedOn),
                      SYNC_FILE_RANGE_WRITE);
    m_handedOn = m_written;
}

void TextFileWriter::Sync()
{
    Flush();
    if (::fsync(m_fd) != 0)
        raiseErrno();
}

void TextFileWriter::Discard() noexcept
{
    m_used = 0;
    closeQuietly(m_fd);
}

void TextFileWriter::Close()
{
    if (m_fd < 0)
        return;
    try {
        Flush();
    } catch (...) {
        closeQuietly(m_fd);
        throw;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        raiseErrno();
}

}  // namespace fw
