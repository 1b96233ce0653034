#pragma once
// An orderly end when the system or the desktop asks the program to stop: SIGTERM, SIGINT and
// SIGHUP, and the desktop session's end (the session manager's request to save before logging
// out). The program then ends as if the user had chosen to quit, so it saves its settings on the
// way out instead of dying with them unsaved.
#include <functional>

namespace platform {

// `onTerminate` runs on the thread of the application object, from its event loop (also from a
// nested one), never inside the signal handler itself; it runs once per request. Call after the
// application object exists. A second call replaces the handler.
void InstallTerminationSignals(std::function<void()> onTerminate);

}  // namespace platform
