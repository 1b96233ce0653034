// Name lists, directory changes, size queries, and the directory list classes.
#include "FtpTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace ftptest;

TEST(FetchWord, Cases)
{
    struct Case {
        const char *text;
        int index;
        bool single;
        const char *word;
    };
    const Case cases[] = {
        {"a b c", 1, true, "b"},
        {"a b c", 1, false, "b c"},
        {"a", 1, true, ""},
        {"a b", 0, true, "a"},
        {"a b c", 2, true, "c"},
        {"a b c", 3, true, ""},
        {"213   12345  ", 1, true, "12345"},
        {"213 12345 bytes", 1, true, "12345"},
        {"213 12345 bytes", 1, false, "12345 bytes"},
        {"", 0, true, ""},
        {"x\ty z", 1, true, "z"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FetchWord(c.text, c.index, c.single), c.word) << c.text << " / " << c.index;
}

TEST(FetchWordAsInteger, Cases)
{
    const std::pair<const char *, std::int32_t> cases[] = {
        {"213 12345", 12345},   {"213 -5", -5},
        {"213 +7", 7},          {"213", -1},
        {"213 abc", -1},        {"213 2147483647", 2147483647},
        {"213 2147483648", -1}, {"213 -2147483648", -2147483647 - 1},
        {"213 12x", -1},        {"213 +-5", -1},
        {"213 0x10", -1},
    };
    for (const auto &[text, value] : cases)
        EXPECT_EQ(FetchWordAsInteger(text, 1), value) << text;
}

TEST(GetFileSize, Replies)
{
    const std::pair<std::string, std::int32_t> cases[] = {
        {"213 12345\r\n", 12345},
        {"213    12345   \r\n", 12345},
        {"213 12345 bytes\r\n", 12345},
        {"213\r\n", -1},
        {"213 -5\r\n", -5},
        {"213 2147483648\r\n", -1},
        {"550 Not a plain file\r\n", -1},
        {"213-Status\r\n213 777\r\n", 777},
        {"Size is 12\r\n", -1},
    };
    for (const auto &[reply, size] : cases) {
        SCOPED_TRACE(reply);
        ScriptedFtpServer server;
        server.Answer("SIZE", reply);
        RecordingClient rc(server.Port());
        rc.client.Login();
        EXPECT_EQ(rc.client.GetFileSize("map.mdb"), size);
        EXPECT_EQ(server.Lines().back(), "SIZE map.mdb");
    }
}

TEST(ChangeDir, Replies)
{
    const std::pair<const char *, std::string> cases[] = {
        {"250 OK\r\n", "(no exception)"},
        {"200 Fine\r\n", "(no exception)"},
        {"550 No such directory\r\n", "550 No such directory"},
        {"350 Odd\r\n", "Out of step with the server: \"350 Odd\" does not answer CWD"},
    };
    for (const auto &[reply, outcome] : cases) {
        ScriptedFtpServer server;
        server.Answer("CWD", reply);
        RecordingClient rc(server.Port());
        rc.client.Login();
        EXPECT_EQ(Message([&] { rc.client.ChangeDir("/home/drovanel/www/updates"); }), outcome);
        EXPECT_EQ(server.Lines().back(), "CWD /home/drovanel/www/updates");
    }
}

TEST(NameList, LineSplitting)
{
    struct Case {
        const char *name;
        std::string listing;
        Lines names;
    };
    const Case cases[] = {
        {"CR LF, LF and none at the end", "a\r\nb\nc", {"a", "b", "c"}},
        {"lone CR", "a\rb\r\n", {"a", "b"}},
        {"line end at the end adds nothing", "x\r\n", {"x"}},
        {"empty listing", "", {}},
        {"empty lines inside stay", "a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"stops at a zero byte", std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
        {"names kept as they are", " spaced name \r\n.\r\n..\r\n", {" spaced name ", ".", ".."}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        server.listing = c.listing;
        RecordingClient rc(server.Port());
        rc.client.Login();
        fw::TStringList list;
        list.Add("old 1");
        list.Add("old 2");
        rc.client.NameList(list);
        EXPECT_EQ(list.Items(), c.names);
        EXPECT_EQ(server.Lines()[2], "TYPE A");
        EXPECT_EQ(server.Lines().back(), "NLST");
        EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
    }
}

TEST(NameList, FailuresKeepTheOldLines)
{
    struct Case {
        const char *verb;
        std::string reply;
        std::string error;
        Lines events;
    };
    const Case cases[] = {
        {"TYPE", "530 Not logged in\r\n", "530 Not logged in", {}},
        {"NLST", "550 No files\r\n", "550 No files", {"start", "terminate"}},
        {"NLST", "", "451 Aborted", {"start", "terminate"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        ScriptedFtpServer server;
        if (c.reply.empty()) {
            server.On("NLST", [](FtpSession &s, const std::string &) {
                s.Reply("150 Listing");
                s.SendData("new\r\n");
                s.Reply("451 Aborted");
            });
        } else {
            server.Answer(c.verb, c.reply);
        }
        RecordingClient rc(server.Port(), true);
        rc.client.Login();
        fw::TStringList list;
        list.Add("kept");
        EXPECT_EQ(Message([&] { rc.client.NameList(list); }), c.error);
        EXPECT_EQ(list.Items(), (Lines{"kept"}));
        EXPECT_EQ(rc.events, c.events);
    }
}

TEST(DirList, AssignCopiesEntriesButNotServerType)
{
    TmsFTPDirList source;
    source.ServerType = stUnix;
    for (int i = 0; i < 2; ++i) {
        auto e = std::make_unique<TmsFTPDirEntry>();
        e->Kind = static_cast<std::uint8_t>(i + 1);
        e->Name = "file" + std::to_string(i);
        e->Size = 100 * (i + 1);
        e->Date = 45000.5 + i;
        e->Attributes = "-rw-r--r--";
        EXPECT_EQ(source.Add(std::move(e)), i);
    }
    TmsFTPDirList target;
    target.ServerType = stDos;
    target.Add(std::make_unique<TmsFTPDirEntry>());
    target.Assign(&source);
    ASSERT_EQ(target.Count(), 2);
    EXPECT_EQ(target.ServerType, stDos);
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(&target.Items(i), &source.Items(i)) << "new entries";
        EXPECT_EQ(target.Items(i).Kind, source.Items(i).Kind);
        EXPECT_EQ(target.Items(i).Name, source.Items(i).Name);
        EXPECT_EQ(target.Items(i).Size, source.Items(i).Size);
        EXPECT_EQ(target.Items(i).Date, source.Items(i).Date);
        EXPECT_EQ(target.Items(i).Attributes, source.Items(i).Attributes);
    }
    target.Assign(&target);
    EXPECT_EQ(target.Count(), 2) << "assigning itself keeps the entries";
}

TEST(DirList, AssignFromAnotherClassFails)
{
    TmsFTPDirList list;
    TmsFTPClient client;
    EXPECT_THROW(list.Assign(&client), fw::EConvertError);
    EXPECT_EQ(Message([&] { list.Assign(&client); }), "Cannot assign a net::TmsFTPClient to a TmsFTPDirList");
    EXPECT_EQ(Message([&] { list.Assign(nullptr); }), "Cannot assign a nil to a TmsFTPDirList");
    EXPECT_EQ(Message([&] { list.Items(0); }), "List index out of bounds (0)");
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
