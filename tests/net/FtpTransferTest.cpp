// FTP data transfers, active and passive, against the scripted server and a real pyftpdlib.
#include "FtpTestSupport.h"
#include "common/TempDir.h"
#include "fixtures/PyFtpServer.h"

#include <gtest/gtest.h>
#include <regex>

namespace {

using namespace ftptest;

TEST(ParsePasvReply, Cases)
{
    struct Case {
        const char *reply;
        bool ok;
        const char *host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"227 Entering Passive Mode (192,168,1,2,19,137).", true, "192.168.1.2", 5001},
        {"227 Entering Passive Mode 192,168,1,2,19,137", false, "", 0},
        {"227 (1,2,3,4,5)", false, "", 0},
        {"227 (1,2,3,4,0,21)", true, "1.2.3.4", 21},
        {"227 ()", false, "", 0},
        {"227 )1,2,3,4,5,6(", false, "", 0},
        {"227 (1,2,3,4,5,x)", false, "", 0},
        {"227 (1,2,,4,5,6)", false, "", 0},
        {"227 (1,2,3,4,-1,6)", false, "", 0},
        {"227 (1,2,3,4,5,6,7)", false, "", 0},  // the sixth number is the rest: "6,7"
        // A number outside 0 to 255 is no address byte or port byte: refused, never wrapped (the
        // port arithmetic overflowed from 8388608 on).
        {"227 (300,2,3,4,1,1)", false, "", 0},
        {"227 (127,0,0,1,8388608,1)", false, "", 0},
        {"227 (127,0,0,1,2147483647,2147483647)", false, "", 0},
        {"227 (127,0,0,1,256,0)", false, "", 0},
        {"227 (127,0,0,1,1,-2)", false, "", 0},
        {"227 (255,255,255,255,255,255)", true, "255.255.255.255", 65535},
    };
    for (const auto &c : cases) {
        std::string host;
        std::uint16_t port = 0;
        EXPECT_EQ(TmsFTPClient::ParsePasvReply(c.reply, host, port), c.ok) << c.reply;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.reply;
            EXPECT_EQ(port, c.port) << c.reply;
        }
    }
}

class Transfer : public ::testing::TestWithParam<bool> {};

TEST_P(Transfer, RetrievesWithProgressPerBlock)
{
    const bool passive = GetParam();
    ScriptedFtpServer server;
    const std::string data = Pattern(100000);
    server.File("map.mdb", data);
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), passive);
    rc.client.Login();
    rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
    EXPECT_EQ(testutil::ReadFile(dir.file("temp.mdb")), data);
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
    ASSERT_FALSE(rc.progress.empty());
    EXPECT_EQ(rc.progress.back(), 100000);
    for (size_t i = 0; i < rc.progress.size(); ++i) {
        const int before = i == 0 ? 0 : rc.progress[i - 1];
        EXPECT_GT(rc.progress[i], before);
        EXPECT_LE(rc.progress[i] - before, kTransferBlockSize);
    }
    const Lines lines = server.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "TYPE I");
    if (passive) {
        EXPECT_EQ(lines[3], "PASV");
    } else {
        // The control connection's local address, then the listener's port, high byte first.
        EXPECT_TRUE(std::regex_match(lines[3], std::regex("PORT 127,0,0,1,[0-9]+,[0-9]+"))) << lines[3];
    }
    EXPECT_EQ(lines[4], "RETR map.mdb");
}

TEST_P(Transfer, RestartSendsRestAndCountsFromTheOffset)
{
    const bool passive = GetParam();
    ScriptedFtpServer server;
    const std::string data = Pattern(5000);
    server.File("map.mdb", data);
    RecordingClient rc(server.Port(), passive);
    rc.client.Login();
    fw::TMemoryStream stream;
    stream.WriteBuffer(data.data(), 1000);
    rc.client.TransferData("RETR map.mdb", stream, false, 1000);
    EXPECT_EQ(rc.client.ReadReply(), 226);
    EXPECT_EQ(stream.ToString(), data);
    ASSERT_FALSE(rc.progress.empty());
    EXPECT_GT(rc.progress.front(), 1000);
    EXPECT_EQ(rc.progress.back(), 5000);
    const Lines lines = server.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "REST 1000");
    EXPECT_EQ(lines[4], "RETR map.mdb");
}

TEST_P(Transfer, EmptyRemoteFile)
{
    ScriptedFtpServer server;
    server.File("empty.mdb", "");
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("temp.mdb"), "old content");
    RecordingClient rc(server.Port(), GetParam());
    rc.client.Login();
    rc.client.RetrieveFile("empty.mdb", dir.file("temp.mdb"));
    EXPECT_EQ(testutil::ReadFile(dir.file("temp.mdb")), "");
    EXPECT_TRUE(rc.progress.empty());
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
}

TEST_P(Transfer, AsciiTypeStoresBytesUnchanged)
{
    ScriptedFtpServer server;
    const std::string data = "line 1\r\nline 2\nline 3\r\x1A\xE9";
    server.File("news.dat", data);
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), GetParam());
    rc.client.SetTransferType(ttASCII);
    rc.client.Login();
    rc.client.RetrieveFile("news.dat", dir.file("news.txt"));
    EXPECT_EQ(testutil::ReadFile(dir.file("news.txt")), data);
    EXPECT_EQ(server.Lines()[2], "TYPE A");
}

// The caller's stream takes the bytes, held to the same limits; after a refusal it holds what came
// before it, and the client stays in step for the next command.
TEST_P(Transfer, RetrievesIntoTheCallersStream)
{
    ScriptedFtpServer server;
    const std::string data = Pattern(100000);
    server.File("map.mdb", data);
    RecordingClient rc(server.Port(), GetParam());
    rc.client.Login();
    fw::TMemoryStream whole;
    rc.client.RetrieveFile("map.mdb", whole);
    EXPECT_EQ(whole.ToString(), data);

    fw::TMemoryStream capped;
    EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", capped, {.MaxBytes = 50000}); }),
              "The file is larger than 50000 bytes");
    EXPECT_LE(capped.Size(), 50000);
    EXPECT_TRUE(data.starts_with(capped.ToString()));
    EXPECT_EQ(Message([&] { rc.client.ChangeDir("/next"); }), "(no exception)");
    // The cap was the call's own: the next retrieval takes the whole file again.
    fw::TMemoryStream again;
    rc.client.RetrieveFile("map.mdb", again);
    EXPECT_EQ(again.ToString(), data);
    EXPECT_EQ(rc.events, (Lines{"start", "terminate", "start", "terminate", "start", "terminate"}));
}

TEST_P(Transfer, MissingRemoteFileLeavesAnEmptyLocalFile)
{
    ScriptedFtpServer server;
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("temp.mdb"), "old content");
    RecordingClient rc(server.Port(), GetParam());
    rc.client.Login();
    EXPECT_EQ(Message([&] { rc.client.RetrieveFile("missing.mdb", dir.file("temp.mdb")); }), "550 No such file");
    EXPECT_EQ(testutil::ReadFile(dir.file("temp.mdb")), "");
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
    EXPECT_TRUE(rc.progress.empty());
    EXPECT_EQ(server.Lines().back(), "RETR missing.mdb");
}

INSTANTIATE_TEST_SUITE_P(Modes, Transfer, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });

TEST(TransferFailures, RefusalsAtEveryStep)
{
    struct Case {
        const char *name;
        bool passive;
        const char *verb;
        std::string reply;
        std::string error;
        bool dataEvents;  // start and terminate fired
    };
    const Case cases[] = {
        {"TYPE refused", false, "TYPE", "504 Type not supported\r\n", "504 Type not supported", false},
        {"PORT refused", false, "PORT", "421 No active mode\r\n", "421 No active mode", true},
        {"PASV refused", true, "PASV", "500 PASV not understood\r\n", "500 PASV not understood", true},
        {"PASV without parentheses", true, "PASV", "227 Entering Passive Mode 127,0,0,1,19,137\r\n",
         "Problems getting the parameters", true},
        {"PASV with five numbers", true, "PASV", "227 (127,0,0,1,19)\r\n", "Problems getting the parameters", true},
        {"RETR refused", true, "RETR", "550 Permission denied\r\n", "550 Permission denied", true},
        {"RETR answered class 2", false, "RETR", "250 Odd\r\n",
         "Out of step with the server: \"250 Odd\" does not answer RETR", true},
        {"completion 426", true, "RETR", "", "426 Connection closed; transfer aborted", true},
        {"completion 426 active", false, "RETR", "", "426 Connection closed; transfer aborted", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        server.File("map.mdb", Pattern(1000));
        if (c.reply.empty()) {
            server.On("RETR", [](FtpSession &s, const std::string &) {
                s.Reply("150 Opening");
                s.SendData("partial");
                s.Reply("426 Connection closed; transfer aborted");
            });
        } else {
            server.Answer(c.verb, c.reply);
        }
        testutil::TempDir dir;
        RecordingClient rc(server.Port(), c.passive);
        rc.client.Login();
        EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb")); }), c.error);
        EXPECT_EQ(rc.events, c.dataEvents ? (Lines{"start", "terminate"}) : Lines{});
    }
}

TEST(TransferFailures, NoDataConnectionInActiveModeTimesOut)
{
    ScriptedFtpServer server;
    server.On("RETR", [](FtpSession &s, const std::string &) { s.Reply("150 Opening, but never connecting"); });
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), false);
    rc.client.Login();
    rc.client.SetTimeOut(1);
    EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb")); }), "Operation timed out");
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
}

TEST(TransferFailures, PreliminaryReplyFollowedByNothing)
{
    // The data connection opens and closes empty; then the server says nothing more.
    ScriptedFtpServer server;
    server.On("RETR", [&server](FtpSession &s, const std::string &) {
        s.Reply("150 Opening");
        s.SendData("");
        server.release.Wait();
    });
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), true);
    rc.client.Login();
    rc.client.SetTimeOut(1);
    EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb")); }), "Operation timed out");
    EXPECT_EQ(rc.events, (Lines{"start", "terminate"}));
}

TEST(TransferFailures, StartHandlerMayUseTheControlConnection)
{
    ScriptedFtpServer server;
    server.File("map.mdb", Pattern(3000));
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), false);
    std::int32_t size = 0;
    rc.client.OnDataTransferStart = [&](fw::TObject *) { size = rc.client.GetFileSize("map.mdb"); };
    rc.client.Login();
    rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
    EXPECT_EQ(size, 3000);
    EXPECT_EQ(testutil::ReadFile(dir.file("temp.mdb")).size(), 3000u);
}

TEST(TransferFailures, LocalFileThatCannotBeCreated)
{
    ScriptedFtpServer server;
    RecordingClient rc(server.Port(), false);
    rc.client.Login();
    const std::string error = Message([&] { rc.client.RetrieveFile("map.mdb", "/nonexistent-folder/temp.mdb"); });
    EXPECT_EQ(error.rfind("Cannot create file", 0), 0u) << error;
    EXPECT_EQ(server.Lines().size(), 2u) << "nothing sent";
}

// ---- A real server ----

class RealServer : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        testutil::WriteFile(root.file("map.mdb"), data);
        testutil::WriteFile(root.file("news.dat"), "Novedades\r\n");
        server = std::make_unique<testutil::PyFtpServer>(root.path(), "drovanel", "secret");
        ASSERT_NE(server->Port(), 0) << "pyftpdlib did not start";
    }
    testutil::TempDir root;
    testutil::TempDir local;
    const std::string data = Pattern(300000);
    std::unique_ptr<testutil::PyFtpServer> server;
};

TEST_P(RealServer, LoginListSizeRetrieveLogout)
{
    RecordingClient rc(server->Port(), GetParam());
    rc.client.Login();
    rc.client.ChangeDir("/");
    fw::TStringList names;
    names.Add("stale");
    rc.client.NameList(names);
    names.Sort();
    EXPECT_EQ(names.Items(), (Lines{"map.mdb", "news.dat"}));
    // As the program does: the size is asked when the transfer starts, after TYPE I (the server
    // refuses SIZE in ASCII mode).
    std::int32_t size = 0;
    std::int32_t missing = 0;
    rc.client.OnDataTransferStart = [&](fw::TObject *) {
        size = rc.client.GetFileSize("map.mdb");
        missing = rc.client.GetFileSize("missing.mdb");
    };
    rc.progress.clear();
    rc.client.RetrieveFile("map.mdb", local.file("temp.mdb"));
    EXPECT_EQ(size, 300000);
    EXPECT_EQ(missing, -1);
    EXPECT_EQ(testutil::ReadFile(local.file("temp.mdb")), data);
    EXPECT_EQ(rc.progress.back(), 300000);
    EXPECT_EQ(Message([&] { rc.client.ChangeDir("/missing"); }).substr(0, 3), "550");
    rc.client.Logout();
}

TEST_P(RealServer, RestartAtAnOffset)
{
    RecordingClient rc(server->Port(), GetParam());
    rc.client.Login();
    rc.client.SendLine("TYPE I");
    ASSERT_EQ(rc.client.ReadReply() / 100, 2);
    fw::TMemoryStream stream;
    stream.WriteBuffer(data.data(), 1000);
    rc.client.TransferData("RETR map.mdb", stream, false, 1000);
    EXPECT_EQ(rc.client.ReadReply() / 100, 2);
    EXPECT_EQ(stream.ToString(), data);
    EXPECT_GT(rc.progress.front(), 1000);
    rc.client.Logout();
}

INSTANTIATE_TEST_SUITE_P(Modes, RealServer, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });

}  // namespace
