// drovanel-ftpget as a command against the scripted server: bytes the server chose reach the
// terminal escaped, and a retrieval that cannot be written fails with the system's text.
#include "common/TempDir.h"
#include "fixtures/ScriptedFtpServer.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

using testutil::FtpSession;
using testutil::ScriptedFtpServer;

struct Outcome {
    int exitCode;
    std::string out;
    std::string errors;
};

Outcome FtpGet(const ScriptedFtpServer &server, const QStringList &rest, std::function<void()> inChild = {})
{
    QProcess process;
    if (inChild)
        process.setChildProcessModifier(inChild);
    process.start(QStringLiteral(DROVANEL_FTPGET_COMMAND),
                  QStringList{"127.0.0.1", QString::number(server.Port()), "drovanel", "secret", "/updates"} + rest);
    EXPECT_TRUE(process.waitForFinished(60000)) << process.errorString().toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return {process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

TEST(FtpGetDriver, ShowsServerBytesEscaped)
{
    ScriptedFtpServer server;
    server.listing = "plain.mdb\r\nred\x1b[31m.mdb\r\nback\\slash\tand\x7f\r\n"
                     "caf\xc3\xa9\r\nlatin\xe9\r\nc1\xc2\x9b\r\n";
    const Outcome list = FtpGet(server, {});
    EXPECT_EQ(list.exitCode, 0) << list.errors;
    EXPECT_EQ(list.out, "plain.mdb\nred\\x1b[31m.mdb\nback\\\\slash\\x09and\\x7f\n"
                        "caf\xc3\xa9\nlatin\\xe9\nc1\\xc2\\x9b\n");

    ScriptedFtpServer refusing;
    refusing.Answer("CWD", "550 \x1b]0;owned\x07 no such folder\r\n");
    const Outcome refused = FtpGet(refusing, {});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.errors, "550 \\x1b]0;owned\\x07 no such folder\n");
}

TEST(FtpGetDriver, PrintsTheBytesReceived)
{
    // The count is the transfer's, not the size of LOCAL: a device such as /dev/null has none.
    ScriptedFtpServer server;
    server.File("map.mdb", std::string(100000, 'x'));
    server.File("empty.mdb", "");
    testutil::TempDir dir;
    struct Case {
        const char *remote;
        std::string destination;
        const char *bytes;
    };
    const Case cases[] = {
        {"map.mdb", "/dev/null", "100000"},
        {"map.mdb", dir.file("temp.mdb"), "100000"},
        {"empty.mdb", "/dev/null", "0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.remote + (" to " + c.destination));
        const Outcome run = FtpGet(server, {c.remote, QString::fromStdString(c.destination)});
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        EXPECT_TRUE(
            QRegularExpression(QStringLiteral("^%1 bytes in [0-9]+\\.[0-9]{3} seconds over IPv4\n$").arg(c.bytes))
                .match(QString::fromStdString(run.out))
                .hasMatch())
            << run.out;
    }
}

TEST(FtpGetDriver, UnwritableDestinationFailsWithTheSystemsText)
{
    ScriptedFtpServer server;
    server.File("map.mdb", std::string(100000, 'x'));
    testutil::TempDir dir;
    struct Case {
        const char *name;
        std::string destination;
        std::function<void()> inChild;
        std::string error;
    };
    const Case cases[] = {
        {"full device", "/dev/full", {}, "No space left on device\n"},
        {"file size limit", dir.file("temp.mdb"),
         [] {
             const rlimit limit{4096, 4096};
             ::setrlimit(RLIMIT_FSIZE, &limit);
         },
         "File too large\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome run = FtpGet(server, {"map.mdb", QString::fromStdString(c.destination)}, c.inChild);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.errors, c.error);
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace

TEST(FtpGetDriver, DataConnectionThatDidNotEndInOrderFails)
{
    const std::string map(100000, 'm');
    struct Case {
        const char *name;
        testutil::ScriptedFtpServer::Handler retr;
        std::string error;
    };
    const Case cases[] = {
        {"reset half-way, then 226",
         [&](FtpSession &s, const std::string &) {
             s.Reply("150 Opening");
             s.SendDataThenReset(map.substr(0, 40000));
             s.Reply("226 Transfer complete");
         },
         "[10054] Connection reset by peer\n"},
        {"226 while the data connection stays open",
         [&](FtpSession &s, const std::string &) {
             s.Reply("150 Opening");
             s.SendDataKeepOpen(map.substr(0, 40000));
             s.Reply("226 Transfer complete");
         },
         "Operation timed out\n"},
        {"preliminary replies without end",
         [](FtpSession &s, const std::string &) {
             while (testutil::SendAll(s.fd, "150 Still opening\r\n")) {
             }
             s.Close();
         },
         "Too many preliminary replies\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        server.On("RETR", c.retr);
        testutil::TempDir dir;
        const Outcome run = FtpGet(server, {"--timeout", "1", "map.mdb", QString::fromStdString(dir.file("temp.mdb"))});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.errors, c.error);
        EXPECT_EQ(run.out, "");
    }
}

// A server that sends its answer one byte a second holds the command no longer than its time-out:
// the log-in is one step, bounded from its start, not an idle wait that each byte restarts.
TEST(FtpGetDriver, ATricklingServerEndsWithinTheTimeOut)
{
    const std::string answer = "331 Password required for drovanel\r\n";
    std::atomic<std::size_t> sent{0};
    ScriptedFtpServer server;
    server.On("USER", [&](FtpSession &s, const std::string &) {
        for (const char byte : answer) {
            if (s.server.release.WaitFor(std::chrono::seconds(1)) || !testutil::SendAll(s.fd, std::string(1, byte)))
                return;
            ++sent;
        }
    });
    const Outcome run = FtpGet(server, {"--timeout", "3"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errors, "Operation timed out\n");
    EXPECT_LT(sent.load(), answer.size()) << "the client did not wait for the whole answer";
    server.release.Open();
}
