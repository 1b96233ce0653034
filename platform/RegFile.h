#pragma once
// The registry hive in memory and its .reg text form (the format Windows' regedit exports and
// imports): CR LF line ends, a "REGEDIT4" first line, one "[HKEY_CURRENT_USER\...]" block per key,
// values as "name"="text", dword:xxxxxxxx, hex:.. or hex(type):.. lines. Texts are UTF-8.
#include "platform/WinTypes.h"

#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::regfile {

struct Value {
    std::string name;  // empty: the key's default value ("@")
    DWORD type;
    std::string data;
};

class Key {
public:
    std::string name;
    bool isVolatile = false;
    // In the order they were first set, as Windows lists them. Changed only through Set and
    // RemoveValue, which keep the index by folded name that makes every lookup constant time (a
    // file of many values loads in linear time).
    std::list<Value> values;
    // By folded name: names are compared without regard to letter case and listed in that order.
    std::map<std::string, std::unique_ptr<Key>> children;

    Key *Find(std::string_view childName) const;
    // The existing child of that name, or a new one.
    Key *Add(std::string_view childName, bool childIsVolatile);
    void Remove(std::string_view childName);

    const Value *FindValue(std::string_view valueName) const;
    // Returns true when the value did not exist or had another type or other bytes.
    bool Set(std::string_view valueName, DWORD type, std::string data);
    void RemoveValue(std::string_view valueName);

private:
    std::unordered_map<std::string, std::list<Value>::iterator> m_valueIndex;
};

// ASCII and Latin-1 letters (in UTF-8) folded to upper case: the registry's letter-case-blind
// comparison. The folded text has the length of the text.
std::string Fold(std::string_view text);

// Windows allows 512 levels of keys below a root; deeper keys of a file are skipped.
inline constexpr size_t kMaxKeyDepth = 512;

struct ParseResult {
    std::unique_ptr<Key> root;    // never null: what could be read
    std::vector<size_t> skipped;  // numbers (from 1) of the lines that were not used
    bool Clean() const { return skipped.empty(); }
};

// The hive of a .reg file's bytes, read as regedit would and tolerant of hand edits: a UTF-8
// byte-order mark, the "REGEDIT4" and the "Windows Registry Editor Version 5.00" headers, and a
// UTF-16LE file with its byte-order mark are accepted; a file that is not valid UTF-8 is read as
// Windows-1252. A line that cannot be read, a value with no key above it, the blocks of other
// root keys and keys nested deeper than kMaxKeyDepth are skipped and reported; everything else is
// used. Deletions ("[-key]", "name"=-) are applied in file order. A pure function of its input.
ParseResult Parse(std::string_view bytes);
// The REGEDIT4 text of the hive; volatile keys are left out. A key gets its own block when it has
// values or no written subkeys; a key with subkeys only is implied by theirs, so the text grows
// linearly with the hive even for deep keys.
std::string Write(const Key &root);

}  // namespace platform::regfile
