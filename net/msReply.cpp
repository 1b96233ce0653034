#include "net/msReply.h"

#include "net/Mssocket.h"

#include <algorithm>

namespace net {
namespace {

// A line that the peer's close cut off from its LF is taken as a final line only with this form.
bool HasFinalLineForm(const std::string &line, int code)
{
    return code > 0 && (line.size() == 3 || (line.size() > 3 && line[3] == ' '));
}

}  // namespace

bool LineAssembler::Add(char byte)
{
    ++m_consumed;
    if (byte == '\n') {
        m_complete = true;
        return true;
    }
    if (m_kept < kLineBufferSize - 2) {
        m_buffer[m_kept++] = byte;
        m_zeroByte = m_zeroByte || byte == '\0';
    } else {
        m_tooLong = true;  // the rest of the line is consumed and dropped
    }
    if (m_consumed >= kMaxLineBytes)
        throw EmsLineError("Line too long");
    return false;
}

std::string LineAssembler::Take() const
{
    if (m_tooLong)
        throw EmsLineError("Line too long");
    if (m_zeroByte)
        throw EmsLineError("Line holds a zero byte");
    std::string line(m_buffer, static_cast<size_t>(m_kept));
    if (const auto cr = line.find('\r'); cr != std::string::npos)
        line.erase(cr, 1);
    return line;
}

int FtpReplyCode(const std::string &line)
{
    if (line.size() < 3 || !std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool ReplyAssembler::Add(const std::string &line, int code, bool lineComplete)
{
    if (m_lines++ == 0) {
        m_code = code;
        m_multiLine = code > 0 && line.find('-') == 3;
        if (!m_multiLine) {
            m_complete = lineComplete || HasFinalLineForm(line, code);
            return true;
        }
        m_bytes = line.size();
        return !lineComplete;
    }
    m_bytes += line.size();
    if (m_lines > kMaxReplyLines || m_bytes > kMaxReplyBytes)
        throw EmsLineError("Reply too long");
    // A read that runs into the peer's close ends the reply too: every further line would be
    // empty. The close notice alone does not: it comes while lines may still be unread.
    const bool ended = code == m_code && line.find(' ') == 3;
    m_complete = ended;  // such a line has the final form even when the close cut it off
    return ended || !lineComplete;
}

}  // namespace net
