// Loads a settings file through the registry stand-in, as the first window does, or writes one
// with many values under one key for it to load.
//   drovanel-settingsbench make FILE COUNT   writes FILE: COUNT values "v<n>"="x" under one key
//   drovanel-settingsbench load FILE         loads FILE and reads one value back
#include "platform/Registry.h"

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace platform;

namespace {

constexpr const char *kKey = "Software\\Drovanel\\Bench";

int make(const char *path, long count)
{
    std::FILE *out = std::fopen(path, "wb");
    if (!out)
        return 1;
    std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + std::string(kKey) + "]\r\n";
    for (long i = 0; i < count; ++i)
        text += "\"v" + std::to_string(i) + "\"=\"x\"\r\n";
    text += "\r\n";
    const bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && ok ? 0 : 1;
}

int load(const char *path)
{
    if (!RegistryUseFile(QString::fromLocal8Bit(path)))
        return 1;
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 1;
    char data[16] = {};
    DWORD size = sizeof data;
    const LONG result = RegQueryValueExA(key, "v0", nullptr, nullptr, reinterpret_cast<BYTE *>(data), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && std::strcmp(data, "x") == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "make") == 0)
        return make(argv[2], std::strtol(argv[3], nullptr, 10));
    if (argc == 3 && std::strcmp(argv[1], "load") == 0)
        return load(argv[2]);
    std::fprintf(stderr, "usage: drovanel-settingsbench make FILE COUNT | load FILE\n");
    return 2;
}
