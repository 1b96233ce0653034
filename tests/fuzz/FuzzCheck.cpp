#include "FuzzCheck.h"

#include <cstdlib>
#include <unistd.h>

namespace fuzzcheck {

std::string ScratchFolder()
{
    static const std::string folder = [] {
        // Memory-backed when there is such a folder, so a run does not wear on a disk.
        std::string base =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        std::string pattern = base + "/drovanel-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        return pattern;
    }();
    return folder;
}

}  // namespace fuzzcheck
