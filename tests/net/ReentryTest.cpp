// The re-entry check of the socket waits: a debug build stops when a handler that runs inside a
// component's wait enters that component again, and lets the one permitted entry through (an FTP
// command from OnDataTransferStart, before the transfer has sent anything).
#include "FtpTestSupport.h"
#include "common/LoopbackPeer.h"
#include "common/TempDir.h"

#include <QScopeGuard>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using namespace ftptest;

constexpr const char *kReentryMessage = "entered a second time from a handler inside its own wait";

// A download whose progress handler asks the size on the control connection, while the data
// socket that the client owns is still receiving.
void SizeFromProgressHandler(bool passive)
{
    ScriptedFtpServer server;
    server.File("map.mdb", std::string(100000, 'x'));
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), passive);
    rc.client.OnDataTransferProgress = [&](fw::TObject *, std::int32_t) { rc.client.GetFileSize("map.mdb"); };
    rc.client.Login();
    rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
}

// A plain socket whose read notice handler sends on the same socket while a line is awaited.
void SendFromReadNoticeHandler()
{
    // The peer answers only once ReadLine waits (a timer that fires inside the wait tells it), so
    // the answer and its notice arrive inside the wait: an answer that came earlier would be read
    // at once, with no wait and no notice inside it.
    testutil::Gate waiting;
    testutil::LoopbackPeer peer([&](int fd) {
        waiting.Wait();
        testutil::SendAll(fd, "line\r\n");
        testutil::ReceiveAll(fd);
    });
    const auto release = qScopeGuard([&] { waiting.Open(); });  // however ReadLine ends
    net::TmsClientSocket socket;
    socket.SetHost("127.0.0.1");
    socket.SetPort(peer.port());
    socket.Connect();
    socket.OnReadReady = [&](fw::TObject *) { socket.SendLine("again"); };
    QTimer::singleShot(0, [&] { waiting.Open(); });
    socket.ReadLine();
}

class ForbiddenReentry : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef NDEBUG
        GTEST_SKIP() << "the re-entry check is compiled into debug builds only";
#endif
        // The fixtures run threads; the dying child is started afresh instead of forked.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

TEST_F(ForbiddenReentry, CommandFromTheProgressOfAPassiveTransfer)
{
    EXPECT_DEATH(SizeFromProgressHandler(true), kReentryMessage);
}

TEST_F(ForbiddenReentry, CommandFromTheProgressOfAnActiveTransfer)
{
    EXPECT_DEATH(SizeFromProgressHandler(false), kReentryMessage);
}

TEST_F(ForbiddenReentry, SendFromANoticeInsideReadLine)
{
    EXPECT_DEATH(SendFromReadNoticeHandler(), kReentryMessage);
}

class PermittedReentry : public ::testing::TestWithParam<bool> {};

// The start handler runs before any line of the transfer: the size query is allowed in either
// mode, and the download goes on.
TEST_P(PermittedReentry, SizeFromTheStartOfATransfer)
{
    ScriptedFtpServer server;
    server.File("map.mdb", std::string(100000, 'x'));
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), GetParam());
    std::int32_t size = 0;
    rc.client.OnDataTransferStart = [&](fw::TObject *) { size = rc.client.GetFileSize("map.mdb"); };
    rc.client.Login();
    rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
    EXPECT_EQ(size, 100000);
    EXPECT_EQ(testutil::ReadFile(dir.file("temp.mdb")).size(), 100000u);
}

// Waiting on one component from a handler inside another's wait is no re-entry.
TEST_P(PermittedReentry, AnotherComponentFromTheProgressHandler)
{
    ScriptedFtpServer server;
    server.File("map.mdb", std::string(100000, 'x'));
    ScriptedFtpServer other;
    other.File("news.dat", "Novedades");
    testutil::TempDir dir;
    RecordingClient rc(server.Port(), GetParam());
    RecordingClient second(other.Port(), GetParam());
    second.client.Login();
    std::int32_t size = 0;
    rc.client.OnDataTransferProgress = [&](fw::TObject *, std::int32_t) {
        if (size == 0)
            size = second.client.GetFileSize("news.dat");
    };
    rc.client.Login();
    rc.client.RetrieveFile("map.mdb", dir.file("temp.mdb"));
    EXPECT_EQ(size, 9);
}

INSTANTIATE_TEST_SUITE_P(BothModes, PermittedReentry, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });

}  // namespace
