// The update check's rules that need no window: which names of the server's listing are maps, and
// the newest of them.
#include "shell/Updates.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(PublishedMaps, OnlyNamesOfTheFormOfAMapCount)
{
    struct Case {
        std::string name;
        bool map;
    } const cases[] = {
        {"Watcher-261101.mdb", true},
        {"WATCHER-261101.MDB", true},
        {"Sentry3-2611.mdb.x", true},  // ".mdb" anywhere, as the conversion takes it
        {".", false},
        {"..", false},
        {"zz", false},
        {"readme", false},
        {"readme-2611011.txt", false},   // the length of a map, no ".mdb"
        {"Watcher-2611011.mdb", false},  // one byte too long
        {"Watcher-26110.mdb", false},    // one byte too short
        {"zz\rq.mdb", false},
        {"Watcher\r261101.mdb", false},  // a lone CR in a name of the right length
        {"Watcher/261101.mdb", false},
        {"Watcher\\261101.mdb", false},
        {"Watcher:261101.mdb", false},
        {std::string("Watcher\0"
                     "261101.mdb",
                     18),
         false},
        {"", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(shell::IsPublishedMapName(c.name), c.map) << c.name;
}

TEST(PublishedMaps, TheNewestMapIsTakenAndOtherNamesArePassedOver)
{
    struct Case {
        const char *what;
        std::vector<std::string> listing;
        std::string newest;
    } const cases[] = {
        {"maps only", {"Watcher-261101.mdb", "Watcher-261115.mdb", "Watcher-261108.mdb"}, "Watcher-261115.mdb"},
        {"names that sort after the maps",
         {".", "..", "Watcher-261101.mdb", "zz", "readme", "Watcher-261115.mdb", "zz\rq.mdb"},
         "Watcher-261115.mdb"},
        {"a name the length of a map that is none", {"Watcher-261115.mdb", "zzzzzzzzzzzzzzzzzz"}, "Watcher-261115.mdb"},
        {"the list's order, letter case second", {"watcher-261101.mdb", "Watcher-261115.mdb"}, "Watcher-261115.mdb"},
        {"one name in two cases: the later listed", {"watcher-261115.mdb", "Watcher-261115.mdb"}, "Watcher-261115.mdb"},
        {"no map at all", {".", "..", "zz", "readme"}, ""},
        {"an empty listing", {}, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(shell::NewestPublishedMap(c.listing), c.newest) << c.what;
}

}  // namespace
