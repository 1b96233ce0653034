#pragma once
// The reading rules of the control connection as plain functions of the bytes, apart from the
// socket that waits for them: how bytes make a line, how lines make a reply, and the reply code
// of a line. The sockets feed them as bytes arrive; the fuzz targets feed them arbitrary input.
#include <cstddef>
#include <string>

namespace net {

// ReadLine keeps a line in a buffer of this size: up to 2046 bytes of text and the LF.
inline constexpr int kLineBufferSize = 2048;
// A line that goes on this long without an LF is given up: reading stops and the line is refused.
inline constexpr int kMaxLineBytes = 65536;
// A multi-line reply may hold this many lines and this many bytes of text; a server that goes on
// beyond them (an endless reply) is refused instead of being read for ever.
inline constexpr int kMaxReplyLines = 2000;
inline constexpr std::size_t kMaxReplyBytes = 256 * 1024;

// One line assembled byte by byte from what the socket received (the socket feeds it up to the
// line's LF and keeps what follows for its next read).
class LineAssembler {
public:
    // Takes one received byte; true when it was the line's LF. Raises EmsLineError when the line
    // runs past kMaxLineBytes without an LF (reading must stop there).
    bool Add(char byte);
    // The line once it has ended, by its LF or by the peer's close: without the LF and without its
    // first CR (wherever it stands). Raises EmsLineError for a line longer than the buffer or one
    // that holds a zero byte; such a line has been consumed up to its LF.
    std::string Take() const;
    // Whether the line ended at an LF.
    bool Complete() const { return m_complete; }

private:
    char m_buffer[kLineBufferSize - 2] = {};
    int m_kept = 0;      // bytes of the line in the buffer
    int m_consumed = 0;  // bytes of the line received, its LF included
    bool m_tooLong = false;
    bool m_zeroByte = false;
    bool m_complete = false;
};

// The FTP reply code of a line: its first three characters as a decimal number, or -1.
int FtpReplyCode(const std::string &line);

// One reply assembled from its lines. A reply whose first line has a code above 0 and its first
// "-" as the fourth character goes on until a line with the same code and its first blank as the
// fourth character; any other reply is its first line.
class ReplyAssembler {
public:
    // Takes the next line of the reply with its code and whether it ended at an LF (false: the
    // peer closed the connection first, so no line follows). True when the reply has ended, whole
    // or cut short. Raises EmsLineError when a multi-line reply goes past kMaxReplyLines or
    // kMaxReplyBytes.
    bool Add(const std::string &line, int code, bool lineComplete);
    int Code() const { return m_code; }
    // Whether the reply arrived whole. A final line that the peer's close cut off from its line
    // end still counts when it has the form of a final line (a code above 0, then a blank or
    // nothing), so "221 Goodbye" and a close is whole while "221-Goodbye" and a close, or nothing
    // at all, is not.
    bool Complete() const { return m_complete; }

private:
    int m_code = 0;
    int m_lines = 0;
    std::size_t m_bytes = 0;
    bool m_multiLine = false;
    bool m_complete = false;
};

}  // namespace net
