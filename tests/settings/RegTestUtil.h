#pragma once
// Small helpers for tests that read and write the registry stand-in directly.
#include "platform/Registry.h"

#include <QDir>
#include <QFileInfo>
#include <optional>
#include <string>

namespace testutil {

inline platform::LONG SetText(platform::HKEY key, const std::string &name, const std::string &text,
                              platform::DWORD type = platform::REG_SZ)
{
    const std::string data = text + '\0';
    return platform::RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const platform::BYTE *>(data.data()),
                                    static_cast<platform::DWORD>(data.size()));
}

inline platform::LONG SetBytes(platform::HKEY key, const std::string &name, platform::DWORD type,
                               const std::string &bytes)
{
    return platform::RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const platform::BYTE *>(bytes.data()),
                                    static_cast<platform::DWORD>(bytes.size()));
}

inline platform::LONG SetDword(platform::HKEY key, const std::string &name, platform::DWORD number)
{
    return platform::RegSetValueExA(key, name.c_str(), 0, platform::REG_DWORD,
                                    reinterpret_cast<const platform::BYTE *>(&number), sizeof number);
}

struct StoredValue {
    platform::DWORD type = 0;
    std::string bytes;
};

// The value's type and bytes, or nullopt when it (or its key) is missing.
inline std::optional<StoredValue> Query(const std::string &keyPath, const std::string &name)
{
    platform::HKEY key = 0;
    if (platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, keyPath.c_str(), 0, platform::KEY_READ, &key) !=
        platform::ERROR_SUCCESS)
        return std::nullopt;
    StoredValue out;
    platform::DWORD size = 0;
    std::optional<StoredValue> result;
    if (platform::RegQueryValueExA(key, name.c_str(), nullptr, &out.type, nullptr, &size) == platform::ERROR_SUCCESS) {
        out.bytes.resize(size);
        if (platform::RegQueryValueExA(key, name.c_str(), nullptr, &out.type,
                                       reinterpret_cast<platform::BYTE *>(out.bytes.data()),
                                       &size) == platform::ERROR_SUCCESS)
            result = out;
    }
    platform::RegCloseKey(key);
    return result;
}

// A REG_SZ value's text (up to its first NUL), or nullopt.
inline std::optional<std::string> QueryText(const std::string &keyPath, const std::string &name)
{
    const auto value = Query(keyPath, name);
    if (!value)
        return std::nullopt;
    return value->bytes.substr(0, value->bytes.find('\0'));
}

inline bool KeyExists(const std::string &keyPath)
{
    platform::HKEY key = 0;
    if (platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, keyPath.c_str(), 0, platform::KEY_READ, &key) !=
        platform::ERROR_SUCCESS)
        return false;
    platform::RegCloseKey(key);
    return true;
}

// Files of a folder whose names start with `prefix`.
inline QStringList FilesStartingWith(const std::string &folder, const std::string &prefix)
{
    return QDir(QString::fromStdString(folder))
        .entryList({QString::fromStdString(prefix) + "*"}, QDir::Files | QDir::Hidden | QDir::System);
}

}  // namespace testutil
