#pragma once
// The framework's file routines over the program's path texts. A path text is UTF-8, as every
// text of the program, and it is the file-system name itself: every call here hands its bytes to
// the system unchanged, so any folder name the system allows (accents, Cyrillic, "?" or "*")
// works.
#include <QString>
#include <string>
#include <string_view>

namespace fw {

// A path text for the widgets (UTF-8 decoded), and a widget's path back to the path text.
QString PathFromAnsi(std::string_view path);
std::string PathToAnsi(const QString &path);

// A folder text and a file name joined with the platform's separator.
std::string JoinPath(std::string_view folder, std::string_view name);

bool FileExists(std::string_view path);       // an existing file that is not a folder
bool DirectoryExists(std::string_view path);  // an existing folder

// Creates one folder; its parent must exist and the folder must not. Raises EInOutError.
void CreateDir(std::string_view path);
// Creates a new empty file; a name already taken (a link included, which is never followed) is
// refused with EEXIST. Raises EInOutError.
void CreateEmptyFile(std::string_view path);
// Makes `path` the process's current directory. Raises EInOutError.
void SetCurrentDir(std::string_view path);
// The process's current directory as a full path. Raises EInOutError.
std::string GetCurrentDir();

}  // namespace fw
