#pragma once
// Seekable byte streams: in memory and on a file.
#include <cstdint>
#include <string>
#include <vector>

namespace fw {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to `count` bytes; returns how many were read (0 at the end).
    virtual std::int64_t Read(void *buffer, std::int64_t count) = 0;
    // Writes `count` bytes; returns how many were written.
    virtual std::int64_t Write(const void *buffer, std::int64_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Beginning); }
    virtual std::int64_t Size();

    // All or nothing: raise EStreamError when fewer bytes move.
    void ReadBuffer(void *buffer, std::int64_t count);
    void WriteBuffer(const void *buffer, std::int64_t count);
};

class TMemoryStream final : public TStream {
public:
    std::int64_t Read(void *buffer, std::int64_t count) override;
    std::int64_t Write(const void *buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(m_data.size()); }

    void Clear();
    const char *Memory() const { return m_data.data(); }
    std::string ToString() const { return std::string(m_data.begin(), m_data.end()); }

private:
    std::vector<char> m_data;
    std::int64_t m_position = 0;
};

enum class FileMode {
    Create,     // create or truncate, read and write
    CreateNew,  // a new file, read and write: a name already taken, a link included, is refused
    OpenRead,   // existing file, read only
    OpenWrite,  // existing file, write only
    OpenReadWrite,
};

// Raises EFCreateError or EFOpenError (with the system's code and text) when the file cannot be had,
// and EInOutError with the system's code when a read, write or seek fails. The stream keeps its
// position itself (asking it costs no system call); a failed call leaves it where the file's
// offset is. Reading or writing through Handle() bypasses it.
class TFileStream final : public TStream {
public:
    TFileStream(const std::string &fileName, FileMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream &) = delete;
    TFileStream &operator=(const TFileStream &) = delete;

    std::int64_t Read(void *buffer, std::int64_t count) override;
    std::int64_t Write(const void *buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    const std::string &FileName() const { return m_fileName; }
    int Handle() const { return m_fd; }

private:
    std::string m_fileName;
    int m_fd = -1;
    std::int64_t m_position = 0;  // the file's offset, kept in step by every read, write and seek
};

}  // namespace fw
