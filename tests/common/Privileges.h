#pragma once
// Root passes every file permission check, so a read-only folder is not read-only to it, and CI
// runs as root. A permission case therefore runs its subject in a child process that has given up
// root for good: user and group 65534 ("nobody"), no supplementary groups, as
// `setpriv --reuid=65534 --regid=65534 --clear-groups` would start it. The child runs the test's
// own checks (GoogleTest prints each failure there as it happens) and its exit status carries
// whether any failed back to the test. The child is a fork of the test process: it needs nothing
// from the build tree that the test has not loaded already, so it runs wherever the tree lies (a
// clone in a folder only root may enter included). A subject that would load a library from the
// tree at run time (the socket library, the audio module) must load it before giving up root, or
// run a copy of the program instead (testutil::ProgramRun::StartWithoutRoot).
#include <cstdio>
#include <dirent.h>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

inline constexpr uid_t kNobody = 65534;

// Gives `path` and everything below it to the unprivileged user, so the child owns its test
// folder as a user owns their configuration folder. Does nothing when not root.
inline void GiveToUnprivilegedUser(const std::string &path)
{
    if (::geteuid() != 0)
        return;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return;
    ::lchown(path.c_str(), kNobody, kNobody);
    if (!S_ISDIR(st.st_mode))
        return;
    if (DIR *d = ::opendir(path.c_str())) {
        while (const dirent *entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                GiveToUnprivilegedUser(path + "/" + name);
        }
        ::closedir(d);
    }
}

// Runs `subject` in a child process without root and fails the test when the child could not drop
// root or any check in it failed. Without root, the child simply runs as the current user.
inline void RunWithoutRoot(const std::function<void()> &subject)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0) << "fork failed";
    if (pid == 0) {
        if (::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                ::setresuid(kNobody, kNobody, kNobody) != 0 || ::geteuid() == 0) {
                std::fputs("could not give up root\n", stderr);
                std::fflush(stderr);
                ::_exit(3);
            }
        }
        subject();
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the unprivileged child died, status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a check failed in the unprivileged child (its output above)";
}

}  // namespace testutil
