#include "platform/RegFile.h"

#include "platform/Text.h"

#include <QString>
#include <cstdio>
#include <optional>

namespace platform::regfile {
namespace {

constexpr DWORD kRegSz = 1;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";
constexpr std::string_view kRootShort = "HKCU";
// regedit starts a continuation line before a hex line would pass 80 columns.
constexpr size_t kHexLineLimit = 77;

// Folds one byte; `previous` is the byte before it, which tells a UTF-8 Latin-1 letter.
char foldChar(char previous, char c)
{
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z')
        return static_cast<char>(b - 0x20);
    // U+00E0..U+00FE (but the division sign) is C3 A0..BE; their capitals are C3 80..9E.
    if (static_cast<unsigned char>(previous) == 0xC3 && b >= 0xA0 && b <= 0xBE && b != 0xB7)
        return static_cast<char>(b - 0x20);
    return c;
}

bool equalFolded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char pa = i ? a[i - 1] : '\0';
        const char pb = i ? b[i - 1] : '\0';
        if (foldChar(pa, a[i]) != foldChar(pb, b[i]))
            return false;
    }
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<DWORD> parseHexNumber(std::string_view digits)
{
    if (digits.empty() || digits.size() > 8)
        return std::nullopt;
    DWORD value = 0;
    for (const char c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + static_cast<DWORD>(d);
    }
    return value;
}

bool startsWithFolded(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalFolded(text.substr(0, prefix.size()), prefix);
}

std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// A quoted text from text[pos] (the opening quote) on; pos ends after the closing quote.
// regedit escapes only "\\" and "\""; any other backslash is kept as typed (a path edited by hand).
bool parseQuoted(std::string_view text, size_t &pos, std::string &out)
{
    if (pos >= text.size() || text[pos] != '"')
        return false;
    ++pos;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) {
            out += text[pos + 1];
            pos += 2;
        } else if (c == '"') {
            ++pos;
            return true;
        } else {
            out += c;
            ++pos;
        }
    }
    return false;
}

std::optional<std::string> parseHexBytes(std::string_view list)
{
    std::string bytes;
    list = trimBlanks(list);
    if (list.empty())
        return bytes;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        const std::string_view token =
            trimBlanks(list.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos && token.empty())
            return bytes;  // a trailing comma
        if (token.empty() || token.size() > 2)
            return std::nullopt;
        const auto value = parseHexNumber(token);
        if (!value)
            return std::nullopt;
        bytes += static_cast<char>(*value);
        if (comma == std::string_view::npos)
            return bytes;
        start = comma + 1;
    }
}

// The key names of a block header, without the root; nullopt when it names no key of ours.
std::optional<std::vector<std::string>> parseHeaderPath(std::string_view path)
{
    std::vector<std::string> names;
    size_t start = 0;
    bool first = true;
    for (;;) {
        const size_t end = path.find('\\', start);
        const std::string_view name = path.substr(start, end == std::string_view::npos ? end : end - start);
        if (first) {
            if (!equalFolded(name, kRoot) && !equalFolded(name, kRootShort))
                return std::nullopt;
            first = false;
        } else {
            if (name.empty() || name.size() > 255)
                return std::nullopt;
            names.emplace_back(name);
        }
        if (end == std::string_view::npos)
            return names;
        start = end + 1;
    }
}

void appendQuoted(std::string &out, std::string_view text)
{
    out += '"';
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
}

void appendHex(std::string &out, std::string_view bytes)
{
    const size_t lineStart = out.rfind('\n');
    size_t column = lineStart == std::string::npos ? out.size() : out.size() - lineStart - 1;
    char cell[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        const bool last = i + 1 == bytes.size();
        if (column + (last ? 2 : 3) > kHexLineLimit) {
            out += "\\\r\n  ";
            column = 2;
        }
        std::snprintf(cell, sizeof cell, last ? "%02x" : "%02x,", static_cast<unsigned char>(bytes[i]));
        out += cell;
        column += last ? 2 : 3;
    }
}

// A text of REG_SZ that the quoted form carries exactly: one NUL at its end, no line break, and
// UTF-8 (other bytes would be read back as Windows-1252, so they go as hex(1)).
bool isPlainText(const Value &value)
{
    const std::string &d = value.data;
    return value.type == kRegSz && !d.empty() && d.back() == '\0' &&
           d.find_first_of(std::string_view("\0\r\n", 3)) == d.size() - 1 && IsValidUtf8(d);
}

void appendValue(std::string &out, const Value &value)
{
    if (value.name.empty())
        out += '@';
    else
        appendQuoted(out, value.name);
    out += '=';
    if (isPlainText(value)) {
        appendQuoted(out, std::string_view(value.data).substr(0, value.data.size() - 1));
    } else if (value.type == kRegDword && value.data.size() == 4) {
        DWORD number = 0;
        for (int i = 3; i >= 0; --i)
            number = number << 8 | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
        out += text;
    } else {
        if (value.type == kRegBinary) {
            out += "hex:";
        } else {
            char prefix[24];
            std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
            out += prefix;
        }
        appendHex(out, value.data);
    }
    out += "\r\n";
}

// The text of a file: a UTF-16LE file (regedit's own export) is converted to UTF-8, a UTF-8
// byte-order mark dropped. Lines that are not UTF-8 are read as Windows-1252 later, one by one.
std::string decodeFile(std::string_view bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        bytes.remove_prefix(2);
        QString text(static_cast<qsizetype>(bytes.size() / 2), Qt::Uninitialized);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                    static_cast<unsigned char>(bytes[i + 1]) << 8);
            text[static_cast<qsizetype>(i / 2)] = QChar(unit);
        }
        // An odd last byte is half a character; a lone surrogate becomes a replacement mark.
        const QByteArray utf8 = text.toUtf8();
        return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    return std::string(bytes);
}

bool isHeader(std::string_view line)
{
    return line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00";
}

// The value of one value line: its type and bytes, or a deletion; nullopt when it cannot be read.
struct ParsedValue {
    std::string name;
    DWORD type = 0;
    std::string bytes;
    bool remove = false;
};

std::optional<ParsedValue> parseValueLine(std::string_view line, const std::string &hexList, bool isHex)
{
    ParsedValue v;
    size_t pos = 0;
    if (line.front() == '@') {
        pos = 1;
    } else if (!parseQuoted(line, pos, v.name)) {
        return std::nullopt;
    }
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    if (pos >= line.size() || line[pos] != '=')
        return std::nullopt;
    ++pos;
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    const std::string_view data = line.substr(pos);
    if (isHex) {
        std::string_view rest = data.substr(3);
        v.type = kRegBinary;
        if (!rest.empty() && rest.front() == '(') {
            const size_t close = rest.find(')');
            if (close == std::string_view::npos)
                return std::nullopt;
            const auto number = parseHexNumber(rest.substr(1, close - 1));
            if (!number)
                return std::nullopt;
            v.type = *number;
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != ':')
            return std::nullopt;
        auto parsed = parseHexBytes(hexList);
        if (!parsed)
            return std::nullopt;
        v.bytes = std::move(*parsed);
    } else if (!data.empty() && data.front() == '"') {
        size_t p = 0;
        if (!parseQuoted(data, p, v.bytes) || !trimBlanks(data.substr(p)).empty())
            return std::nullopt;
        v.bytes += '\0';
        v.type = kRegSz;
    } else if (data == "-") {
        v.remove = true;
    } else if (startsWithFolded(data, "dword:")) {
        const auto number = parseHexNumber(data.substr(6));
        if (!number)
            return std::nullopt;
        for (int b = 0; b < 4; ++b)
            v.bytes += static_cast<char>((*number >> (8 * b)) & 0xFF);
        v.type = kRegDword;
    } else {
        return std::nullopt;
    }
    return v;
}

// Where the data of a hex value line begins ("hex..."), or npos for any other line.
size_t hexDataPosition(std::string_view line)
{
    size_t pos = 0;
    std::string name;
    if (line.front() == '@') {
        pos = 1;
    } else if (!parseQuoted(line, pos, name)) {
        return std::string_view::npos;
    }
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    if (pos >= line.size() || line[pos] != '=')
        return std::string_view::npos;
    ++pos;
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    return startsWithFolded(line.substr(pos), "hex") ? pos : std::string_view::npos;
}

// Reads the decoded lines of a file into a hive, one kind of line at a time: the file's header,
// blank lines and comments, key headers, value lines with the continuation lines of a hex list.
class LineReader {
public:
    explicit LineReader(std::vector<std::string_view> lines) : m_lines(std::move(lines))
    {
        m_result.root = std::make_unique<Key>();
    }

    ParseResult Read() &&
    {
        for (m_at = firstAfterFileHeader(); m_at < m_lines.size(); ++m_at) {
            const std::string_view line = trimBlanks(m_lines[m_at]);
            if (line.empty() || line.front() == ';')
                continue;  // blank, or a comment
            if (line.find('\0') != std::string_view::npos)
                skip(m_at, m_at);
            else if (line.front() == '[')
                keyHeader(line);
            else
                valueLine(line);
        }
        return std::move(m_result);
    }

private:
    // Blank lines and the header line are passed over. A file without a header is still read:
    // what follows may well be good.
    size_t firstAfterFileHeader() const
    {
        size_t i = 0;
        while (i < m_lines.size() && trimBlanks(m_lines[i]).empty())
            ++i;
        if (i < m_lines.size() && isHeader(trimBlanks(m_lines[i])))
            ++i;
        return i;
    }

    void skip(size_t first, size_t last)
    {
        for (size_t n = first; n <= last; ++n)
            m_result.skipped.push_back(n + 1);
    }

    // "[key]" makes the key current (created when missing); "[-key]" removes it.
    void keyHeader(std::string_view line)
    {
        // Whatever happens to the header, the values below it belong to no key we know until it
        // has been read.
        m_current = nullptr;
        m_underDeletion = false;
        std::optional<std::vector<std::string>> names;
        bool remove = false;
        if (line.size() >= 2 && line.back() == ']') {
            std::string_view inner = line.substr(1, line.size() - 2);
            remove = !inner.empty() && inner.front() == '-';
            if (remove)
                inner.remove_prefix(1);
            names = parseHeaderPath(inner);
        }
        if (!names || names->size() > kMaxKeyDepth) {
            skip(m_at, m_at);
            return;
        }
        if (remove) {
            Key *parent = m_result.root.get();
            for (size_t n = 0; parent && n + 1 < names->size(); ++n)
                parent = parent->Find((*names)[n]);
            if (names->empty()) {
                m_result.root = std::make_unique<Key>();
            } else if (parent) {
                parent->Remove(names->back());
            }
            m_underDeletion = true;
        } else {
            m_current = m_result.root.get();
            for (const auto &name : *names)
                m_current = m_current->Add(name, false);
        }
    }

    // A value line, set in (or removed from) the current key; a hex list may go on in the lines
    // after it, each ending in a backslash. Any other line is skipped, with the lines it took.
    void valueLine(std::string_view line)
    {
        const size_t first = m_at;
        std::string hexList;
        const bool named = line.front() == '"' || line.front() == '@';
        const size_t hexAt = named ? hexDataPosition(line) : std::string_view::npos;
        const bool hex = hexAt != std::string_view::npos;
        const bool complete = !hex || readHexList(line, hexAt, hexList);
        if (m_underDeletion)
            return;  // values below a "[-key]" header are ignored, as regedit does
        std::optional<ParsedValue> value;
        if (complete && named)
            value = parseValueLine(line, hexList, hex);
        if (!value || !m_current) {
            skip(first, m_at);
            return;
        }
        if (value->remove)
            m_current->RemoveValue(value->name);
        else
            m_current->Set(value->name, value->type, std::move(value->bytes));
    }

    // The bytes of a hex list from its value line and the continuation lines after it, which it
    // takes; false when the list breaks off (at the end of the file, or at a line with a NUL).
    bool readHexList(std::string_view line, size_t hexAt, std::string &hexList)
    {
        const size_t colon = line.find(':', hexAt);
        std::string_view rest = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
        for (;;) {
            rest = trimBlanks(rest);
            if (rest.empty() || rest.back() != '\\') {
                hexList += rest;
                return true;
            }
            rest.remove_suffix(1);
            hexList += rest;
            if (m_at + 1 == m_lines.size())
                return false;
            rest = m_lines[++m_at];
            if (rest.find('\0') != std::string_view::npos)
                return false;
        }
    }

    const std::vector<std::string_view> m_lines;
    ParseResult m_result;
    size_t m_at = 0;  // the line being read
    Key *m_current = nullptr;
    bool m_underDeletion = false;  // below a "[-key]" header
};

}  // namespace

std::string Fold(std::string_view text)
{
    std::string out(text);
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = foldChar(i ? text[i - 1] : '\0', text[i]);
    return out;
}

Key *Key::Find(std::string_view childName) const
{
    const auto it = children.find(Fold(childName));
    return it == children.end() ? nullptr : it->second.get();
}

Key *Key::Add(std::string_view childName, bool childIsVolatile)
{
    auto &slot = children[Fold(childName)];
    if (!slot) {
        slot = std::make_unique<Key>();
        slot->name = std::string(childName);
        slot->isVolatile = childIsVolatile;
    }
    return slot.get();
}

void Key::Remove(std::string_view childName)
{
    children.erase(Fold(childName));
}

const Value *Key::FindValue(std::string_view valueName) const
{
    const auto it = m_valueIndex.find(Fold(valueName));
    return it == m_valueIndex.end() ? nullptr : &*it->second;
}

bool Key::Set(std::string_view valueName, DWORD type, std::string data)
{
    std::string folded = Fold(valueName);
    const auto it = m_valueIndex.find(folded);
    if (it == m_valueIndex.end()) {
        values.push_back(Value{std::string(valueName), type, std::move(data)});
        try {
            m_valueIndex.emplace(std::move(folded), std::prev(values.end()));
        } catch (...) {
            values.pop_back();
            throw;
        }
        return true;
    }
    Value &value = *it->second;
    if (value.type == type && value.data == data)
        return false;
    value.type = type;
    value.data = std::move(data);
    return true;
}

void Key::RemoveValue(std::string_view valueName)
{
    const auto it = m_valueIndex.find(Fold(valueName));
    if (it == m_valueIndex.end())
        return;
    values.erase(it->second);
    m_valueIndex.erase(it);
}

ParseResult Parse(std::string_view bytes)
{
    const std::string text = decodeFile(bytes);
    // A line that is not UTF-8 is Windows-1252: what earlier versions of this file, regedit's
    // REGEDIT4 export and a hand edit in an old editor hold. Decided line by line, so one such
    // line changes the reading of no other.
    std::vector<std::string> decoded;
    for (const std::string_view line : splitLines(text))
        decoded.push_back(Utf8FromAnyText(line));
    return LineReader(std::vector<std::string_view>(decoded.begin(), decoded.end())).Read();
}

std::string Write(const Key &root)
{
    std::string out = "REGEDIT4\r\n\r\n";
    // Depth first without recursion: a deep hive must not exhaust the stack. `path` holds the
    // names down to the key on top; each entry remembers how long it was above the key.
    struct Entry {
        const Key *key;
        size_t parentLength;
    };
    std::string path(kRoot);
    std::vector<Entry> stack{{&root, 0}};
    const auto hasWrittenChild = [](const Key &key) {
        for (const auto &[folded, child] : key.children) {
            if (!child->isVolatile)
                return true;
        }
        return false;
    };
    while (!stack.empty()) {
        const Entry entry = stack.back();
        stack.pop_back();
        const Key &key = *entry.key;
        if (key.isVolatile)
            continue;
        if (&key != &root) {
            path.resize(entry.parentLength);
            path += '\\';
            path += key.name;
        }
        const bool isRoot = &key == &root;
        if (!key.values.empty() || (!isRoot && !hasWrittenChild(key))) {
            out += '[';
            out += path;
            out += "]\r\n";
            for (const auto &value : key.values)
                appendValue(out, value);
            out += "\r\n";
        }
        // Pushed in reverse, so the children come out in their listed order.
        for (auto it = key.children.rbegin(); it != key.children.rend(); ++it)
            stack.push_back(Entry{it->second.get(), path.size()});
    }
    return out;
}

}  // namespace platform::regfile
