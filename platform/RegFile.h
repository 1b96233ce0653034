#pragma once
// The registry hive in memory and its REGEDIT4 text form (the format Windows' regedit exports and
// imports): single-byte text, CR LF line ends, a "REGEDIT4" first line, one "[HKEY_CURRENT_USER\...]"
// block per key, values as "name"="text", dword:xxxxxxxx, hex:.. or hex(type):.. lines.
#include "platform/WinTypes.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
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
    std::vector<Value> values;  // in the order they were first set, as Windows lists them
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
};

// Windows-1252 letters folded to upper case: the registry's letter-case-blind comparison.
std::string Fold(std::string_view text);

// The hive of a REGEDIT4 file, or nullptr when the text is not one. Only HKEY_CURRENT_USER keys
// are accepted. Deletions ("[-key]", "name"=-) are applied in file order.
std::unique_ptr<Key> Parse(std::string_view text);
// The REGEDIT4 text of the hive; volatile keys are left out.
std::string Write(const Key &root);

}  // namespace platform::regfile
