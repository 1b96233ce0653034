#pragma once
// How the desktop knows the installed program: its desktop entry's id (the file name of
// packaging/es.drovanel.Drovanel.desktop without ".desktop") and its icon's name in the icon theme.
// A notification and the session's autostart entry name the program by them.

namespace shell {

inline constexpr const char *kDesktopEntryId = "es.drovanel.Drovanel";
inline constexpr const char *kIconName = "drovanel";

}  // namespace shell
