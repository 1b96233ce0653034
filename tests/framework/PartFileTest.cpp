// Part files: a file written anew beside its target and put in place only when whole, whatever
// holds the target's name or the part file names that can be foreseen.
#include "common/TempDir.h"
#include "framework/Exceptions.h"
#include "framework/PartFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testutil::ReadFile;
using testutil::WriteFile;
using Names = std::vector<std::string>;

Names Listing(const std::string &folder)
{
    Names names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void Write(fw::PartFileStream &file, const std::string &bytes)
{
    file.Stream().WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// Whatever holds the target's name (nothing, a file, a link to a file outside, a link to nothing)
// is replaced by the new file only when it is put in place; until then it stays as it was, and an
// unplaced part file goes with its object.
TEST(PartFile, ReplacesTheTargetOnlyWhenPlaced)
{
    struct Case {
        const char *name;
        void (*plant)(const std::string &target, const std::string &victim);
        const char *before;  // what the target reads until the new file is placed
    } const cases[] = {
        {"nothing", [](const std::string &, const std::string &) {}, ""},
        {"a file", [](const std::string &target, const std::string &) { WriteFile(target, "previous"); }, "previous"},
        {"a link to a file",
         [](const std::string &target, const std::string &victim) {
             ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);
         },
         "victim"},
        {"a link to nothing",
         [](const std::string &target, const std::string &victim) {
             ASSERT_EQ(::symlink((victim + "-absent").c_str(), target.c_str()), 0);
         },
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::TempDir dir, outside;
        const std::string target = dir.file("news.txt");
        const std::string victim = outside.file("victim");
        WriteFile(victim, "victim");
        c.plant(target, victim);
        const Names planted = Listing(dir.path());
        {
            fw::PartFileStream dropped(target);
            Write(dropped, "cut");
            EXPECT_EQ(ReadFile(target), c.before);
        }
        EXPECT_EQ(Listing(dir.path()), planted) << "an unplaced part file is removed";
        {
            fw::PartFileStream file(target);
            Write(file, "whole");
            EXPECT_EQ(ReadFile(target), c.before);
            file.Place();
        }
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
        EXPECT_EQ(ReadFile(target), "whole");
        EXPECT_EQ(Listing(dir.path()), Names{"news.txt"});
        EXPECT_EQ(Listing(outside.path()), Names{"victim"});
        EXPECT_EQ(ReadFile(victim), "victim");
    }
}

// A part file name that is taken already (a leftover of an earlier process with this id, or a link
// planted under a name that can be foreseen) is passed over and never written through; a long run
// of taken names ends in the system's error with the target untouched.
TEST(PartFile, TakenPartFileNamesArePassedOver)
{
    testutil::TempDir dir;
    const std::string victim = dir.file("victim");
    const std::string target = dir.file("temp.mdb");
    WriteFile(victim, "victim");
    WriteFile(target, "previous");
    // The next part file's number, from a part file made and dropped.
    unsigned next = 0;
    const std::string prefix = ".drovanel-" + std::to_string(::getpid()) + "-";
    {
        const fw::PartFileStream probe(target);
        const auto names = Listing(dir.path());
        const auto part =
            std::find_if(names.begin(), names.end(), [&](const auto &n) { return n.starts_with(prefix); });
        ASSERT_NE(part, names.end());
        EXPECT_EQ(part->find(".mdb"), std::string::npos) << "never taken for a points map";
        next = std::stoul(part->substr(prefix.size())) + 1;
    }
    const auto plant = [&](unsigned from, unsigned count) {
        for (unsigned n = from; n < from + count; ++n)
            ASSERT_EQ(::symlink(victim.c_str(), dir.file(prefix + std::to_string(n) + ".part").c_str()), 0);
    };

    plant(next, 10);
    {
        fw::PartFileStream file(target);
        Write(file, "new");
        file.Place();
    }
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(ReadFile(victim), "victim");

    plant(next + 11, 100);
    try {
        fw::PartFileStream file(target);
        FAIL() << "made a part file with no free name";
    } catch (const fw::EFCreateError &e) {
        EXPECT_EQ(e.ErrorCode(), EEXIST);
        EXPECT_EQ(e.Message(), "Cannot create file \"" + target + "\". " + std::strerror(EEXIST));
    }
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(ReadFile(victim), "victim");
}

// A part file that cannot be made is reported with the target's name, the one the user knows.
TEST(PartFile, AFolderThatCannotTakeItNamesTheTarget)
{
    testutil::TempDir dir;
    const std::string target = dir.file("missing/temp.mdb");
    try {
        fw::PartFileStream file(target);
        FAIL() << "made a part file in a missing folder";
    } catch (const fw::EFCreateError &e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_EQ(e.Message(), "Cannot create file \"" + target + "\". " + std::strerror(ENOENT));
    }
}

// The sweep of leftovers removes only what this program can have written: regular files of this
// user named exactly as its part files are, of a process that has ended.
TEST(PartFile, SweepRemovesOnlyTheLeftoversOfThisProgram)
{
    testutil::TempDir dir;
    const pid_t ended = ::fork();  // a process that has ended: its id is free for now
    if (ended == 0)
        ::_exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const std::string dead = std::to_string(ended);
    const std::string victim = dir.file("victim");
    WriteFile(victim, "keep me");

    enum Kind { File, Link, Folder, OtherUsers };
    struct Case {
        std::string name;
        Kind kind;
        bool removed;
    } const cases[] = {
        {".drovanel-" + dead + "-0.part", File, true},
        {".drovanel-" + dead + "-4000000.part", File, true},
        {".drovanel-" + dead + "-notes.part", File, false},
        {".drovanel-+" + dead + "-5.part", File, false},
        {".drovanel- " + dead + "-5.part", File, false},
        {".drovanel-" + dead + "--5.part", File, false},
        {".drovanel-" + dead + "-5-6.part", File, false},
        {".drovanel-" + dead + "-.part", File, false},
        {".drovanel--5.part", File, false},
        {".drovanel-" + dead + ".part", File, false},
        {".drovanel-" + dead + "-5.part~", File, false},
        {".drovanel-99999999999999999999-5.part", File, false},
        {".drovanel-0-5.part", File, false},
        {"drovanel-" + dead + "-5.part", File, false},
        {".drovanel-" + dead + "-7.part", Link, false},
        {".drovanel-" + dead + "-8.part", Folder, false},
        {".drovanel-" + dead + "-9.part", OtherUsers, false},
        {".drovanel-1-0.part", File, false},  // process 1 always runs
        {".drovanel-" + std::to_string(::getpid()) + "-0.part", File, false},
    };
    for (const Case &c : cases) {
        const std::string path = dir.file(c.name);
        switch (c.kind) {
        case File: WriteFile(path, "574C"); break;
        case Link: ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0); break;
        case Folder: ASSERT_EQ(::mkdir(path.c_str(), 0700), 0); break;
        case OtherUsers:
            WriteFile(path, "574C");
            // Only root can give a file away; as anyone else the case is one of this user's files.
            if (::geteuid() != 0)
                continue;
            ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
            break;
        }
    }

    fw::RemoveLeftoverPartFiles(dir.path());

    for (const Case &c : cases) {
        const bool removed = !fs::exists(fs::symlink_status(dir.file(c.name)));
        if (c.kind == OtherUsers && ::geteuid() != 0)
            EXPECT_TRUE(removed) << c.name;
        else
            EXPECT_EQ(removed, c.removed) << c.name;
    }
    EXPECT_EQ(ReadFile(victim), "keep me");
}

}  // namespace
