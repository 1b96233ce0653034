#include "FuzzCheck.h"

#include <QCoreApplication>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace fuzzcheck {
namespace {

// The folder's name outlives every static object, for the removal at exit.
char folderName[4096];

}  // namespace

std::string ScratchFolder()
{
    if (folderName[0] == '\0') {
        // Memory-backed when there is such a folder, so a run does not wear on a disk.
        const char *tmp = std::getenv("TMPDIR");
        const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp ? tmp : "/tmp");
        std::string pattern = base + "/drovanel-fuzz-XXXXXX";
        if (pattern.size() >= sizeof folderName || !mkdtemp(pattern.data()))
            std::abort();
        std::memcpy(folderName, pattern.c_str(), pattern.size() + 1);
        // Removed when the run ends (libFuzzer ends by exit); a crashed run leaves it behind.
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folderName, ignored);
        });
    }
    return folderName;
}

void EnsureApplication()
{
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

}  // namespace fuzzcheck
