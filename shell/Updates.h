#pragma once
// The pieces of the update check and the download that need no window: the server's folders, the
// rules that pick the newest map on each side, the guard on published names, and the texts of
// their errors.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shell {

inline constexpr const char *kUpdatesDir = "/home/drovanel/www/updates";
inline constexpr const char *kDocsDir = "/home/drovanel/www/docs";
inline constexpr const char *kNewsRemoteName = "news.dat";
inline constexpr const char *kNewsFileName = "news.txt";
// The largest news text and map taken from the server: the news is a page of text; real maps
// are a few hundred kilobytes, and a server that sends more fills no disk.
inline constexpr std::int64_t kMaxNewsBytes = std::int64_t{1} << 20;
inline constexpr std::int64_t kMaxMapBytes = std::int64_t{256} << 20;

// The length of a map's name, in bytes ("Watcher-261101.mdb").
inline constexpr std::size_t kMapNameLength = 18;

// A name of the download folder that counts as a local map: a device model is chosen (DeviceModel),
// the name in lower case holds ".mdb", and it is exactly 18 characters long.
bool IsLocalCandidate(std::string_view name, int deviceModel);

// Byte-wise comparison as unsigned characters, letter case counting; a prefix is the smaller.
bool IsNewerName(std::string_view published, std::string_view local);

// A published name that counts as a map: a plain file name (IsPlainFileName) of the form the local
// side counts as a map (IsLocalCandidate: 18 characters, ".mdb" in lower case) and the conversion
// takes (IsPointsFileName). A listing's other names ("readme", "zz", a name a lone CR splits) are
// not maps and are passed over, as "." and ".." are.
bool IsPublishedMapName(std::string_view name);
// The newest of a listing's names that pass IsPublishedMapName: the last of them once the listing
// is sorted as a string list sorts (fw::TStringList::Sort, the user's collation, letter case
// second), as the check has always taken the last name; empty when none does (no map).
std::string NewestPublishedMap(const std::vector<std::string> &names);

// A published name becomes a file of the download folder, so it must name a plain file there:
// not empty, not "." or "..", at most kMaxFileNameBytes long, no folder separator ("/" or "\"),
// no drive mark (":"), no control character (NUL included), and not the download's own name
// "temp.mdb" in any letter case (the conversion would read and then delete its own result).
inline constexpr std::size_t kMaxFileNameBytes = 255;
bool IsPlainFileName(std::string_view name);
// The error for a published name that fails IsPlainFileName; control characters are shown as "?",
// and a name past kMaxFileNameBytes is cut there, or where the character that crosses it starts.
std::string InvalidPublishedNameText(std::string_view name);

// The part after the last "\" or ":": the name the size of a transfer is asked for.
std::string FileNamePart(std::string_view name);

// The error for a download that ended with another byte count than the server announced.
std::string IncompleteDownloadText(std::int64_t received, std::int64_t announced);
// The errors for a news text or a map larger than the program takes.
std::string OversizedNewsText(std::int64_t limit);
std::string OversizedMapText(std::int64_t limit);
// The error for a download that went on past the size the server announced.
std::string OverlongDownloadText(std::int64_t announced);

// The re-checks of a resident program: minutes between them, stored as "IntervaloComprobacion"
// of the main form's key (no control shows it). 0 turns them off; a missing value, a negative one
// or one past what a timer can wait (about 24 days) is the default, a day.
inline constexpr const char *kRecheckIntervalName = "IntervaloComprobacion";
inline constexpr int kDefaultRecheckMinutes = 1440;
inline constexpr int kMaxRecheckMinutes = 35791;  // the largest whole minutes in a timer's int ms
int RecheckMinutes(int stored);

// What the tray says of a published map that waits to be downloaded: the notification's text,
// and the tooltip built on it.
inline constexpr const char *kTrayTitle = "Drovanel";
// The status bar's first panel after a command that failed.
inline constexpr const char *kCheckFailedText = "La comprobacion ha fallado";
inline constexpr const char *kDownloadFailedText = "La descarga ha fallado";
std::string NewMapText(std::string_view name);
std::string NewMapHint(std::string_view name);

}  // namespace shell
