#include "net/msFtpCls.h"

#include "framework/Exceptions.h"
#include "net/Mssocket.h"

#include <charconv>

namespace net {
namespace {

// Trimming drops leading and trailing characters whose code is 32 or less.
std::string Trim(const std::string &s)
{
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && blank(s[begin]))
        ++begin;
    while (end > begin && blank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

}  // namespace

TmsFTPDirList::~TmsFTPDirList()
{
    Clear();
}

TmsFTPDirEntry &TmsFTPDirList::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw fw::Exception("List index out of bounds (" + std::to_string(index) + ")");
    return *m_items[static_cast<size_t>(index)];
}

int TmsFTPDirList::Add(std::unique_ptr<TmsFTPDirEntry> entry)
{
    m_items.push_back(std::move(entry));
    return Count() - 1;
}

void TmsFTPDirList::Clear()
{
    // Freed from the last to the first.
    while (!m_items.empty())
        m_items.pop_back();
}

void TmsFTPDirList::Assign(const QObject *source)
{
    const auto *other = dynamic_cast<const TmsFTPDirList *>(source);
    if (!other) {
        const std::string from = source ? source->metaObject()->className() : "nil";
        throw fw::EConvertError("Cannot assign a " + from + " to a TmsFTPDirList");
    }
    if (other == this)
        return;
    Clear();
    for (const auto &e : other->m_items) {
        auto copy = std::make_unique<TmsFTPDirEntry>();
        copy->Kind = e->Kind;
        copy->Name = e->Name;
        copy->Size = e->Size;
        copy->Date = e->Date;
        copy->Attributes = e->Attributes;
        Add(std::move(copy));
    }
}

std::string FetchWord(const std::string &text, int index, bool singleWord)
{
    std::string s = text;
    for (int i = 0; i < index; ++i) {
        const auto blank = s.find(' ');
        if (blank == std::string::npos)
            return {};
        s = Trim(s.substr(blank + 1));
    }
    if (singleWord) {
        const auto blank = s.find(' ');
        s = Trim(blank != std::string::npos ? s.substr(0, blank) : s);
    }
    return Trim(s);
}

std::int32_t FetchWordAsInteger(const std::string &text, int index)
{
    std::string word = FetchWord(text, index, true);
    if (word.size() > 1 && word[0] == '+' && word[1] != '-')
        word.erase(0, 1);
    if (word.empty())
        return -1;
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, 10);
    if (ec != std::errc() || end != word.data() + word.size())
        return -1;
    return value;
}

std::int64_t AnnouncedSize(const std::string &reply)
{
    const auto open = reply.rfind('(');
    if (open == std::string::npos)
        return -1;
    size_t end = open + 1;
    std::int64_t value = 0;
    const auto [last, ec] = std::from_chars(reply.data() + end, reply.data() + reply.size(), value, 10);
    if (ec != std::errc() || value < 0 || reply[end] < '0' || reply[end] > '9')
        return -1;
    end = static_cast<size_t>(last - reply.data());
    std::string unit = reply.substr(end, 7);
    for (char &c : unit)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return unit == " bytes)" ? value : -1;
}

std::vector<std::string> SplitNameList(std::string_view bytes, std::size_t maxNames)
{
    const std::string_view text = bytes.substr(0, bytes.find('\0'));
    std::vector<std::string> names;
    const auto add = [&](std::string_view name) {
        // Checked before the name is kept, so an endless run of short names costs no memory.
        if (names.size() >= maxNames)
            throw EmsLimitError("The name list holds more than " + std::to_string(maxNames) + " names");
        names.emplace_back(name);
    };
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        add(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        add(text.substr(start));
    return names;
}

}  // namespace net
