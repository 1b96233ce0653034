// The FTP client over IPv6: EPSV and EPRT on an IPv6 control connection (PASV and PORT stay on
// IPv4), exact exchanges with the scripted server, and byte-exact retrievals from pyftpdlib and vsftpd on ::1,
// through the client and through drovanel-ftpget, and from vsftpd likewise.
#include "FtpTestSupport.h"
#include "common/TempDir.h"
#include "fixtures/PyFtpServer.h"
#include "fixtures/VsftpdServer.h"

#include <QProcess>
#include <QRegularExpression>

namespace {

using namespace ftptest;

struct FamilyCase {
    int family;
    bool passive;
    const char *host;
    const char *setUp;  // the command that sets the data connection up, up to its argument
};

class FamilyTransfer : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(FamilyTransfer, RetrievesWithTheFamilysCommands)
{
    const FamilyCase c = GetParam();
    ScriptedFtpServer server(c.family);
    const std::string data = Pattern(300000);
    server.File("map.mdb", data);
    RecordingClient rc(server.Port(), c.passive);
    rc.client.SetHost(c.host);
    rc.client.SetPort(server.Port());
    rc.client.Login();
    fw::TMemoryStream stream;
    rc.client.RetrieveFile("map.mdb", stream);
    EXPECT_EQ(std::string(stream.Memory(), static_cast<size_t>(stream.Size())), data);
    const Lines lines = server.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3].substr(0, std::string(c.setUp).size()), c.setUp) << lines[3];
    EXPECT_EQ(lines[4], "RETR map.mdb");
}

INSTANTIATE_TEST_SUITE_P(Families, FamilyTransfer,
                         ::testing::Values(FamilyCase{AF_INET6, true, "::1", "EPSV"},
                                           FamilyCase{AF_INET6, false, "[::1]", "EPRT |2|::1|"},
                                           FamilyCase{AF_INET, true, "127.0.0.1", "PASV"},
                                           FamilyCase{AF_INET, false, "127.0.0.1", "PORT 127,0,0,1,"}),
                         [](const auto &info) {
                             return std::string(info.param.family == AF_INET6 ? "IPv6" : "IPv4") +
                                    (info.param.passive ? "Passive" : "Active");
                         });

TEST(EpsvReply, Forms)
{
    struct Case {
        const char *reply;
        bool ok;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"229 Entering Extended Passive Mode (|||6446|)", true, 6446},
        {"229 Entering Extended Passive Mode (|||6446|).", true, 6446},
        {"229 (!!!65535!)", true, 65535},
        {"229 Entering Extended Passive Mode (|||6446|", false, 0},
        {"229 Entering Extended Passive Mode (||6446|)", false, 0},
        {"229 Entering Extended Passive Mode (|||6446!)", false, 0},
        {"229 Entering Extended Passive Mode (|||0|)", false, 0},
        {"229 Entering Extended Passive Mode (|||65536|)", false, 0},
        {"229 Entering Extended Passive Mode (|||64a6|)", false, 0},
        {"229 Entering Extended Passive Mode (|||-1|)", false, 0},
        {"229 Entering Extended Passive Mode (||||)", false, 0},
        {"229 Entering Extended Passive Mode (11161)", false, 0},
        {"229 Entering Extended Passive Mode", false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        std::uint16_t port = 0;
        EXPECT_EQ(TmsFTPClient::ParseEpsvReply(c.reply, port), c.ok);
        if (c.ok) {
            EXPECT_EQ(port, c.port);
        }
    }
}

// Whatever the delimiter, the data connection goes to the control connection's peer.
TEST(EpsvExchange, OtherDelimiterAndARefusal)
{
    {
        ScriptedFtpServer server(AF_INET6);
        server.File("map.mdb", "points");
        server.On("EPSV", [](FtpSession &s, const std::string &) {
            s.pasvFd = testutil::ListenLoopback(0, AF_INET6);
            s.passive = true;
            s.Reply("229 Extended (!!!" + std::to_string(testutil::LocalPort(s.pasvFd)) + "!)");
        });
        RecordingClient rc(server.Port(), true);
        rc.client.SetHost("::1");
        rc.client.SetPort(server.Port());
        rc.client.Login();
        fw::TMemoryStream stream;
        rc.client.RetrieveFile("map.mdb", stream);
        EXPECT_EQ(std::string(stream.Memory(), static_cast<size_t>(stream.Size())), "points");
    }
    {
        // A server that refuses EPSV on IPv6 has no passive mode there: its reply is the error,
        // and PASV, which could not name an IPv6 address, is never tried.
        ScriptedFtpServer server(AF_INET6);
        server.File("map.mdb", "points");
        server.Answer("EPSV", "500 EPSV not understood\r\n");
        RecordingClient rc(server.Port(), true);
        rc.client.SetHost("::1");
        rc.client.SetPort(server.Port());
        rc.client.Login();
        fw::TMemoryStream stream;
        EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", stream); }), "500 EPSV not understood");
        const Lines lines = server.Lines();
        EXPECT_EQ(lines.back(), "EPSV");
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "PASV"), 0);
    }
    {
        ScriptedFtpServer server(AF_INET6);
        server.Answer("EPSV", "229 Entering Extended Passive Mode (|||x|)\r\n");
        RecordingClient rc(server.Port(), true);
        rc.client.SetHost("::1");
        rc.client.SetPort(server.Port());
        rc.client.Login();
        fw::TMemoryStream stream;
        EXPECT_EQ(Message([&] { rc.client.RetrieveFile("map.mdb", stream); }), "Problems getting the parameters");
    }
}

struct RealServerCase {
    bool vsftpd;
    bool passive;
};

class RealServerIPv6 : public ::testing::TestWithParam<RealServerCase> {};

// pyftpdlib and vsftpd on ::1, passive (EPSV) and active (EPRT): the same bytes through the
// client and through drovanel-ftpget, which says it went over IPv6.
TEST_P(RealServerIPv6, ByteExactRetrievalOnLoopback)
{
    const RealServerCase c = GetParam();
    testutil::TempDir root;
    const std::string data = Pattern(1 << 20);
    testutil::WriteFile(root.file("map.mdb"), data);
    std::unique_ptr<testutil::PyFtpServer> pyftpdlib;
    std::unique_ptr<testutil::VsftpdServer> vsftpd;
    std::uint16_t port = 0;
    if (c.vsftpd) {
        vsftpd = std::make_unique<testutil::VsftpdServer>(root.path(), AF_INET6);
        port = vsftpd->Port();
        if (port == 0)
            GTEST_SKIP() << "vsftpd runs as root only";
    } else {
        pyftpdlib = std::make_unique<testutil::PyFtpServer>(root.path(), "drovanel", "secret", "::1");
        port = pyftpdlib->Port();
        ASSERT_NE(port, 0) << "pyftpdlib did not start on ::1";
    }
    const std::string user = c.vsftpd ? "anonymous" : "drovanel";
    testutil::TempDir out;
    {
        TmsFTPClient client;
        client.SetHost("::1");
        client.SetPort(port);
        client.SetUserName(user);
        client.SetPassword("secret");
        client.SetPassiveMode(c.passive);
        client.Login();
        client.RetrieveFile("map.mdb", out.file("client.mdb"));
        EXPECT_TRUE(client.Peer().IsIPv6());
        client.Logout();
    }
    EXPECT_EQ(testutil::ReadFile(out.file("client.mdb")), data);

    QProcess process;
    QStringList arguments;
    if (c.passive)
        arguments << QStringLiteral("--passive");
    arguments << QStringLiteral("[::1]") << QString::number(port) << QString::fromStdString(user)
              << QStringLiteral("secret") << QStringLiteral("/") << QStringLiteral("map.mdb")
              << QString::fromStdString(out.file("ftpget.mdb"));
    process.start(QStringLiteral(DROVANEL_FTPGET_COMMAND), arguments);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QString said = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^1048576 bytes in [0-9.]+ seconds over IPv6\n$")).match(said).hasMatch())
        << said.toStdString();
    EXPECT_EQ(testutil::ReadFile(out.file("ftpget.mdb")), data);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerIPv6,
                         ::testing::Values(RealServerCase{false, false}, RealServerCase{false, true},
                                           RealServerCase{true, false}, RealServerCase{true, true}),
                         [](const auto &info) {
                             return std::string(info.param.vsftpd ? "Vsftpd" : "Pyftpdlib") +
                                    (info.param.passive ? "Passive" : "Active");
                         });

}  // namespace
