// The update check's rules that need no window, straight on the shell's core: which names of the
// download folder count as local maps, how names are ordered, the bounds of the re-check interval,
// and the update state that the window shows.
#include "shell/DeviceModel.h"
#include "shell/UpdateState.h"
#include "shell/Updates.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

TEST(UpdateRules, LocalCandidates)
{
    struct Case {
        const char *name;
        int model;
        bool candidate;
    };
    const Case cases[] = {
        {"Watcher-250301.mdb", shell::kWatcher, true},
        {"Watcher-250301.MDB", shell::kWatcher, true},      // the letter case of ".mdb" does not count
        {"Sentry-2503011.mdb", shell::kSentryIII, true},    // any 18 characters with ".mdb" in them
        {"ABC.mdb.backup.txt", shell::kGrayRoverII, true},  // ".mdb" anywhere, not only at the end
        {"Watcher-250301.mdb", -1, false},                  // no device model chosen
        {"Watcher-250301.mdb", shell::kGrayRoverII + 1, false},
        {"Watcher-25030.mdb", shell::kWatcher, false},    // 17 characters
        {"Watcher-2503011.mdb", shell::kWatcher, false},  // 19 characters
        {"Watcher-250301.txt", shell::kWatcher, false},   // no ".mdb"
        {"", shell::kWatcher, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(shell::IsLocalCandidate(c.name, c.model), c.candidate) << c.name << " model " << c.model;
}

TEST(UpdateRules, NameOrder)
{
    struct Case {
        std::string published, local;
        bool newer;
    };
    const std::vector<Case> cases = {
        {"Watcher-250301.mdb", "Watcher-010101.mdb", true},
        {"Watcher-010101.mdb", "Watcher-250301.mdb", false},
        {"Watcher-250301.mdb", "Watcher-250301.mdb", false},  // the same map is not newer
        {"Watcher-250301.mdb", "", true},                     // anything is newer than nothing
        {"Watcher-250301.mdb", "Watcher-250301", true},       // a prefix is the smaller
        {"watcher-010101.mdb", "Watcher-990101.mdb", true},   // letter case counts: 'w' > 'W'
        {"Watcher-\xe9.mdb", "Watcher-z.mdb", true},          // bytes compare unsigned
    };
    for (const auto &c : cases)
        EXPECT_EQ(shell::IsNewerName(c.published, c.local), c.newer) << c.published << " vs " << c.local;
}

TEST(UpdateRules, RecheckIntervalBounds)
{
    struct Case {
        int stored, minutes;
    };
    const Case cases[] = {
        {0, 0},  // off
        {1, 1},
        {60, 60},
        {shell::kMaxRecheckMinutes, shell::kMaxRecheckMinutes},
        {shell::kMaxRecheckMinutes + 1, shell::kDefaultRecheckMinutes},  // past what a timer can wait
        {-1, shell::kDefaultRecheckMinutes},
        {std::numeric_limits<int>::min(), shell::kDefaultRecheckMinutes},
        {std::numeric_limits<int>::max(), shell::kDefaultRecheckMinutes},
    };
    for (const auto &c : cases)
        EXPECT_EQ(shell::RecheckMinutes(c.stored), c.minutes) << c.stored;
    // The largest interval still fits a timer's milliseconds.
    EXPECT_LE(std::int64_t{shell::kMaxRecheckMinutes} * 60000, std::numeric_limits<int>::max());
}

TEST(UpdateStateModel, TellsItsViewOfEveryChangeAndKeepsWhatWasShown)
{
    shell::UpdateState state;
    std::vector<std::string> seen;
    state.OnChange = [&] {
        seen.push_back(state.Published() + "|" + state.Local() + "|" + (state.NewMapWaits() ? "new" : "-"));
    };
    EXPECT_EQ(state.Published(), "");
    EXPECT_EQ(state.Local(), "");
    EXPECT_FALSE(state.NewMapWaits());

    state.SetPublished("Watcher-250301.mdb");
    state.SetLocal("Watcher-010101.mdb");
    state.SetNewMapWaits(true);
    state.SetNewMapWaits(true);  // told again: a view that could not show it tries again
    state.SetLocal("Watcher-250301.mdb");
    state.SetNewMapWaits(false);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "Watcher-250301.mdb||-", "Watcher-250301.mdb|Watcher-010101.mdb|-",
                        "Watcher-250301.mdb|Watcher-010101.mdb|new", "Watcher-250301.mdb|Watcher-010101.mdb|new",
                        "Watcher-250301.mdb|Watcher-250301.mdb|new", "Watcher-250301.mdb|Watcher-250301.mdb|-"}));

    // The news shown and the notifications sent are kept per name, and are no change to show.
    seen.clear();
    EXPECT_FALSE(state.NewsShown("Watcher-250301.mdb"));
    state.SetNewsShown("Watcher-250301.mdb");
    state.SetTold("Watcher-250301.mdb");
    EXPECT_TRUE(state.NewsShown("Watcher-250301.mdb"));
    EXPECT_TRUE(state.Told("Watcher-250301.mdb"));
    EXPECT_FALSE(state.NewsShown("Watcher-260301.mdb"));
    EXPECT_FALSE(state.Told("Watcher-260301.mdb"));
    EXPECT_TRUE(seen.empty());
}

}  // namespace
