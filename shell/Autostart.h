#pragma once
// Start with the session: the user's XDG autostart entry for the program,
// $XDG_CONFIG_HOME/autostart/<desktop entry id>.desktop, written or removed as the user asks.
// The session starts what the entry's Exec names, so the entry names the program by its absolute
// path: an installation under any prefix is started, not whatever "drovanel" the path finds.
#include <QString>
#include <string>

namespace shell {

// The entry's path for the current user.
QString AutostartEntryPath();

// Whether the session starts the program: the entry is there and neither hidden (Hidden=true, as
// a session's settings mark an entry the user turned off) nor disabled
// (X-GNOME-Autostart-enabled=false).
bool AutostartEnabled();

// Writes the entry that starts `program` (an absolute path), replacing one that is there, or
// removes it; the folder is made when missing. Written whole beside the entry and renamed over it,
// never through a link planted under its name. Raises EFCreateError or EInOutError.
void SetAutostart(bool enabled, const QString &program);

// `program` as an Exec value of a desktop entry: quoted when it holds a character the format
// reserves, with its escapes, and "%" doubled.
std::string DesktopExecValue(const QString &program);

}  // namespace shell
