#pragma once
// The current user's registry: keys, subkeys and typed values behind the advapi32 calls that the
// settings store uses, with Windows' argument orders, results and error codes.
//
// The hive lives in one Windows .reg text file (REGEDIT4, UTF-8, CR LF) in the user's
// configuration folder, so a user can read, back up or edit it. It is read at the first open of a
// key and kept in memory for the rest of the process. When the last open key is closed and
// something changed, the whole hive is written to a temporary file beside it, flushed to the disk
// and renamed over it: a crash or a full disk leaves either the old or the new file, never a torn
// one. A file edited by hand is read line by line (platform/RegFile.h): a line that cannot be read
// is skipped and the rest used; a copy of the file as it was is then kept beside it under a new
// name, and the hive is never written over the file before that copy exists. A settings path that
// is no regular file (a folder, a FIFO) fails at once with ERROR_BAD_FILE_TYPE; a symbolic link is
// written through and stays.
//
// Departures from Windows, all on the side of a file that can always be read back: key and value
// names holding a line break are refused (ERROR_INVALID_PARAMETER), and RegCloseKey of the last
// open key reports a failed write of the file (the change stays pending in memory and the next
// last close tries again). Only HKEY_CURRENT_USER exists; the other root keys are invalid handles.
#include "platform/WinTypes.h"

#include <QString>
#include <cstdint>

namespace platform {

using HKEY = std::uintptr_t;
using LONG = std::int32_t;
using REGSAM = DWORD;
using BYTE = std::uint8_t;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_DISK_FULL = 112;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_BAD_FILE_TYPE = 222;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr LONG ERROR_CHILD_MUST_BE_VOLATILE = 1021;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_OPTION_VOLATILE = 1;  // kept in memory only, never written to the file

inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens the subkey, creating it and every missing key on its path. An empty subkey opens hKey
// again. lpClass and lpSecurityAttributes are accepted and ignored.
LONG RegCreateKeyExA(HKEY hKey, const char *lpSubKey, DWORD Reserved, char *lpClass, DWORD dwOptions, REGSAM samDesired,
                     const void *lpSecurityAttributes, HKEY *phkResult, DWORD *lpdwDisposition);
LONG RegOpenKeyExA(HKEY hKey, const char *lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY *phkResult);
// A null or empty name is the key's default value. The bytes are stored as given.
LONG RegSetValueExA(HKEY hKey, const char *lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData, DWORD cbData);
// Without lpData: the type and size only. A buffer too small gives ERROR_MORE_DATA and the size
// needed.
LONG RegQueryValueExA(HKEY hKey, const char *lpValueName, DWORD *lpReserved, DWORD *lpType, BYTE *lpData,
                      DWORD *lpcbData);
LONG RegCloseKey(HKEY hKey);

// Where the hive file lives: <user configuration folder>/drovanel/registry.reg.
QString RegistryDefaultFile();
QString RegistryFile();
// Forgets the hive in memory (pending changes included) and uses `path` from the next open on;
// an empty path means the default file. Returns false, changing nothing, while a key is open.
bool RegistryUseFile(const QString &path);
// The path of the copy kept of a settings file whose lines were not all read (or that was too
// large to read), once: later calls give an empty text until another copy is kept.
QString RegistryTakeSkippedCopy();
// Number of key handles open now (not counting the predefined root keys).
int RegistryOpenKeyCount();

}  // namespace platform
