#pragma once
// Text files with the line rules of the points files: a CR ends a line and an LF right after it
// belongs to the line end; a lone LF is an ordinary byte of the line; Ctrl-Z (26) ends the file.
// A line longer than the reader's cap is refused (a file of one endless line must not be held
// whole in memory). Lines are written with CR LF. Input and output move in large blocks. Every
// failure is an EInOutError with the system's error code and text.
#include "framework/Exceptions.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fw {

struct FileIdentity;  // framework/PartFile.h

// A line longer than the reader's cap; raised before more than the cap of it is held.
class ELineTooLongError : public EInOutError {
public:
    explicit ELineTooLongError(size_t limit);
    size_t Limit() const noexcept { return m_limit; }

private:
    size_t m_limit;
};

class TextFileReader {
public:
    // The longest line read by default, in bytes without its end. Real points records are about
    // 30 bytes; a line past this is no record.
    static constexpr size_t kMaxLineBytes = 64 * 1024;

    TextFileReader() = default;
    explicit TextFileReader(const std::string &fileName) { Open(fileName); }
    ~TextFileReader();
    TextFileReader(const TextFileReader &) = delete;
    TextFileReader &operator=(const TextFileReader &) = delete;

    void Open(const std::string &fileName);
    // Opens the file under `fileName` only if it is `expected` (a file this process placed there):
    // a link under that name is not followed, and another file is refused, both with EInOutError
    // (ELOOP, ESTALE); a FIFO planted there is refused without waiting for a writer.
    void OpenExpected(const std::string &fileName, const FileIdentity &expected);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    // The longest line that reads, in bytes without its end; a longer one raises
    // ELineTooLongError and the reader is not read further.
    void SetMaxLineBytes(size_t bytes) { m_maxLine = bytes; }
    size_t MaxLineBytes() const { return m_maxLine; }

    // True when no line is left: the file's end or a Ctrl-Z.
    bool Eof() { return m_pos == m_end && EofAfterBlock(); }
    // The next line without its end; an empty line at the end of the file reads as "".
    std::string ReadLine();
    // The same, into a caller's buffer (its capacity is reused line after line).
    void ReadLine(std::string &line);
    // The same without a copy where the line lies whole in the read block: the view is valid until
    // the next call on this reader. For loops that look at every line of a large file, so the
    // common case (the line and the byte after its CR in the block) is inline.
    std::string_view ReadLineView()
    {
        if (m_pos < m_end) {
            while (m_crBits == 0) {
                m_crBase += kGroup;
                m_crBits = CrBits(m_buffer.data() + m_crBase);
            }
            const size_t cr = m_crBase + static_cast<size_t>(__builtin_ctzll(m_crBits));
            const size_t after = cr + 1;
            // Whether an LF follows is known without another read only when the byte after the
            // CR is in this block (a CR at m_end is the sentinel, not the file's). A line past the
            // cap takes the long way, which refuses it.
            if (after < m_end && cr - m_pos <= m_maxLine) {
                m_crBits &= m_crBits - 1;
                const char *start = m_buffer.data() + m_pos;
                m_pos = after + (m_buffer[after] == '\n' ? 1 : 0);
                return {start, cr - (start - m_buffer.data())};
            }
        }
        return ReadLineAcrossBlocks();
    }

private:
    // Every CR ends a line, so the line ends of a block are found 64 bytes at a time as a bit
    // mask and taken from it one by one: where each line starts never holds up the search for
    // where it ends, and the loop runs at the speed of a plain copy. The block is followed by a
    // CR (the sentinel at m_end) and padding, so a group may be read whole past the block's end.
    static constexpr size_t kGroup = 64;
    static constexpr size_t kScanPadding = kGroup;
    static unsigned long long CrBits(const char *group)
    {
#if defined(__SSE2__)
        const __m128i cr = _mm_set1_epi8('\r');
        const auto bits = [&](int at) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(group + at));
            return static_cast<unsigned long long>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, cr))));
        };
        return bits(0) | bits(16) << 16 | bits(32) << 32 | bits(48) << 48;
#else
        unsigned long long bits = 0;
        for (size_t i = 0; i < kGroup; ++i)
            bits |= static_cast<unsigned long long>(group[i] == '\r') << i;
        return bits;
#endif
    }
    // Sets the CR mask to the group that holds m_pos, without the CRs before m_pos.
    void SyncCrBits();
    void CopyLine(std::string &line);

    bool Fill();  // false at the file's end
    bool EofAfterBlock();
    std::string_view ReadLineAcrossBlocks();

    int m_fd = -1;
    size_t m_maxLine = kMaxLineBytes;
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;                 // the block ends here, or at a Ctrl-Z found in it
    bool m_sawEnd = false;            // the file's end or a Ctrl-Z reached: nothing more is read
    std::string m_spill;              // a line that crosses blocks, for ReadLineView
    size_t m_crBase = 0;              // the group of the block that m_crBits covers
    unsigned long long m_crBits = 0;  // the CRs at or after m_pos in that group
};

class TextFileWriter {
public:
    TextFileWriter() = default;
    ~TextFileWriter();  // closes without raising; call Close to see write errors
    TextFileWriter(const TextFileWriter &) = delete;
    TextFileWriter &operator=(const TextFileWriter &) = delete;

    // Creates the file, or truncates an existing one.
    void Create(const std::string &fileName);
    // Creates a file that must not exist yet (O_EXCL; a link under the name counts as taken), with
    // the given permission bits.
    void CreateNew(const std::string &fileName, unsigned mode = 0666);
    // Both are inline while the text fits the block, since a converter writes millions of short
    // lines.
    void WriteLine(std::string_view line)
    {
        if (m_fd >= 0 && line.size() + 2 <= m_buffer.size() - m_used) {
            char *to = m_buffer.data() + m_used;
            std::memcpy(to, line.data(), line.size());
            to[line.size()] = '\r';
            to[line.size() + 1] = '\n';
            m_used += line.size() + 2;
            return;
        }
        Write(line);
        Write("\r\n");
    }
    void Write(std::string_view text)
    {
        if (m_fd >= 0 && text.size() <= m_buffer.size() - m_used) {
            std::memcpy(m_buffer.data() + m_used, text.data(), text.size());
            m_used += text.size();
            return;
        }
        WriteBeyondBlock(text);
    }
    // Room for up to `size` bytes (at most kMaxReserve) written in place at the end of the block,
    // followed by Commit with the number of bytes that count: lets a converter build its output
    // where it lands and decide afterwards how much of it to keep.
    static constexpr size_t kMaxReserve = 64 * 1024;
    char *Reserve(size_t size)
    {
        if (m_fd >= 0 && size <= m_buffer.size() - m_used)
            return m_buffer.data() + m_used;
        return ReserveAfterFlush(size);
    }
    void Commit(size_t size) { m_used += size; }
    void Flush();
    // Flushes and makes the contents durable before a rename puts the file in place.
    void Sync();
    // For a file that will be synced: hands the written blocks to the disk while writing goes
    // on, so that Sync has only the last few left to wait for. Set after each Create.
    void SetWriteBehind(bool on) { m_writeBehind = on; }
    void Close();
    // Closes without writing what is still buffered and without raising: for a file that is
    // about to be removed because the work it was written for failed.
    void Discard() noexcept;
    bool IsOpen() const { return m_fd >= 0; }

private:
    void OpenWith(const std::string &fileName, int flags, unsigned mode);
    void WriteBeyondBlock(std::string_view text);
    char *ReserveAfterFlush(size_t size);
    void Written(size_t bytes);

    int m_fd = -1;
    std::vector<char> m_buffer;
    size_t m_used = 0;
    bool m_writeBehind = false;
    unsigned long long m_written = 0;   // bytes in the file
    unsigned long long m_handedOn = 0;  // of those, handed to the disk by write-behind
};

}  // namespace fw
