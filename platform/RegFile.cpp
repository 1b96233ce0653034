#include "platform/RegFile.h"

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

char foldChar(char c)
{
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z')
        return static_cast<char>(b - 0x20);
    if (b >= 0xE0 && b <= 0xFE && b != 0xF7)
        return static_cast<char>(b - 0x20);
    switch (b) {
    case 0x9A:  // s caron
    case 0x9C:  // oe
    case 0x9E:  // z caron
        return static_cast<char>(b - 0x10);
    case 0xFF:  // y diaeresis
        return static_cast<char>(0x9F);
    default: return c;
    }
}

bool equalFolded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (foldChar(a[i]) != foldChar(b[i]))
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

// A text of REG_SZ that the quoted form carries exactly: one NUL at its end and no line break.
bool isPlainText(const Value &value)
{
    const std::string &d = value.data;
    return value.type == kRegSz && !d.empty() && d.back() == '\0' &&
           d.find_first_of(std::string_view("\0\r\n", 3)) == d.size() - 1;
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

void writeKey(std::string &out, const Key &key, const std::string &path, bool isRoot)
{
    if (key.isVolatile)
        return;
    if (!isRoot || !key.values.empty()) {
        out += '[';
        out += path;
        out += "]\r\n";
        for (const auto &value : key.values)
            appendValue(out, value);
        out += "\r\n";
    }
    for (const auto &[folded, child] : key.children)
        writeKey(out, *child, path + "\\" + child->name, false);
}

}  // namespace

std::string Fold(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        c = foldChar(c);
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
    for (const auto &value : values) {
        if (equalFolded(value.name, valueName))
            return &value;
    }
    return nullptr;
}

bool Key::Set(std::string_view valueName, DWORD type, std::string data)
{
    for (auto &value : values) {
        if (equalFolded(value.name, valueName)) {
            if (value.type == type && value.data == data)
                return false;
            value.type = type;
            value.data = std::move(data);
            return true;
        }
    }
    values.push_back(Value{std::string(valueName), type, std::move(data)});
    return true;
}

void Key::RemoveValue(std::string_view valueName)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (equalFolded(it->name, valueName)) {
            values.erase(it);
            return;
        }
    }
}

std::unique_ptr<Key> Parse(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos)
        return nullptr;
    const auto lines = splitLines(text);
    size_t i = 0;
    while (i < lines.size() && trimBlanks(lines[i]).empty())
        ++i;
    if (i == lines.size() || trimBlanks(lines[i]) != "REGEDIT4")
        return nullptr;
    ++i;

    auto root = std::make_unique<Key>();
    Key *current = nullptr;
    bool underDeletion = false;  // values below a "[-key]" header are ignored, as regedit does
    for (; i < lines.size(); ++i) {
        const std::string_view line = trimBlanks(lines[i]);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 2)
                return nullptr;
            std::string_view inner = line.substr(1, line.size() - 2);
            const bool remove = !inner.empty() && inner.front() == '-';
            if (remove)
                inner.remove_prefix(1);
            const auto names = parseHeaderPath(inner);
            if (!names)
                return nullptr;
            if (remove) {
                Key *parent = root.get();
                for (size_t n = 0; parent && n + 1 < names->size(); ++n)
                    parent = parent->Find((*names)[n]);
                if (names->empty()) {
                    root = std::make_unique<Key>();
                } else if (parent) {
                    parent->Remove(names->back());
                }
                current = nullptr;
                underDeletion = true;
            } else {
                current = root.get();
                for (const auto &name : *names)
                    current = current->Add(name, false);
                underDeletion = false;
            }
            continue;
        }
        if (line.front() != '"' && line.front() != '@')
            return nullptr;
        if (!current && !underDeletion)
            return nullptr;

        std::string name;
        size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (!parseQuoted(line, pos, name)) {
            return nullptr;
        }
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            return nullptr;
        ++pos;
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        std::string_view data = line.substr(pos);

        DWORD type = 0;
        std::string bytes;
        bool remove = false;
        if (!data.empty() && data.front() == '"') {
            size_t p = 0;
            if (!parseQuoted(data, p, bytes) || !trimBlanks(data.substr(p)).empty())
                return nullptr;
            bytes += '\0';
            type = kRegSz;
        } else if (data == "-") {
            remove = true;
        } else if (startsWithFolded(data, "dword:")) {
            const auto number = parseHexNumber(data.substr(6));
            if (!number)
                return nullptr;
            for (int b = 0; b < 4; ++b)
                bytes += static_cast<char>((*number >> (8 * b)) & 0xFF);
            type = kRegDword;
        } else if (startsWithFolded(data, "hex")) {
            std::string_view rest = data.substr(3);
            type = kRegBinary;
            if (!rest.empty() && rest.front() == '(') {
                const size_t close = rest.find(')');
                if (close == std::string_view::npos)
                    return nullptr;
                const auto number = parseHexNumber(rest.substr(1, close - 1));
                if (!number)
                    return nullptr;
                type = *number;
                rest.remove_prefix(close + 1);
            }
            if (rest.empty() || rest.front() != ':')
                return nullptr;
            rest.remove_prefix(1);
            // A line ending in a backslash goes on in the next line.
            std::string list;
            for (;;) {
                rest = trimBlanks(rest);
                if (rest.empty() || rest.back() != '\\') {
                    list += rest;
                    break;
                }
                rest.remove_suffix(1);
                list += rest;
                if (++i == lines.size())
                    return nullptr;
                rest = lines[i];
            }
            auto parsed = parseHexBytes(list);
            if (!parsed)
                return nullptr;
            bytes = std::move(*parsed);
        } else {
            return nullptr;
        }
        if (!current)
            continue;
        if (remove)
            current->RemoveValue(name);
        else
            current->Set(name, type, std::move(bytes));
    }
    return root;
}

std::string Write(const Key &root)
{
    std::string out = "REGEDIT4\r\n\r\n";
    writeKey(out, root, std::string(kRoot), true);
    return out;
}

}  // namespace platform::regfile
