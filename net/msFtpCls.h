#pragma once
// The FTP client's directory list classes and the small text functions that read a size out of
// a reply.
#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace net {

enum TmsServerType : std::uint8_t { stAuto, stUnix, stDos, stHP3000, stAS400 };

// One entry of a long directory listing. Nothing in the client fills entries; they are made by
// TmsFTPDirList::Assign, as copies.
class TmsFTPDirEntry : public QObject {
public:
    std::uint8_t Kind = 0;   // file, directory or link, as a parser would tell
    std::string Name;        // at most 255 characters
    std::int32_t Size = 0;   // bytes
    double Date = 0;         // days since 1899-12-30, time of day as the fraction
    std::string Attributes;  // permission text, at most 255 characters
};

class TmsFTPDirList : public QObject {
public:
    TmsFTPDirList() = default;
    ~TmsFTPDirList() override;

    int Count() const { return static_cast<int>(m_items.size()); }
    // Raises when the index is outside 0 .. Count - 1.
    TmsFTPDirEntry &Items(int index) const;
    int Add(std::unique_ptr<TmsFTPDirEntry> entry);
    void Clear();
    // Copies the entries of another directory list (not its ServerType); any other source is
    // refused with the framework's assignment error.
    void Assign(const QObject *source);

    TmsServerType ServerType = stAuto;

private:
    std::vector<std::unique_ptr<TmsFTPDirEntry>> m_items;
};

// The word at `index` (counted from 0, separated by blanks) of `text`; with singleWord false,
// the rest of the text from that word on. Empty when there are not that many words.
std::string FetchWord(const std::string &text, int index, bool singleWord);
// FetchWord (text, index, true) as a signed decimal 32-bit integer, or -1.
std::int32_t FetchWordAsInteger(const std::string &text, int index);

// The size that a preliminary reply announces as "(N bytes)", as many servers write after the
// file name, or -1 when it announces none.
std::int64_t AnnouncedSize(const std::string &reply);

// The names of a name listing: the bytes cut into lines at CR LF, at a lone LF or at a lone CR;
// the text ends at its first zero byte; a line end at the very end adds no empty line; each line
// is a name, unchanged. Raises EmsLimitError when there are more than `maxNames`.
std::vector<std::string> SplitNameList(std::string_view bytes, std::size_t maxNames);

}  // namespace net
