// The download against the scripted server: its edge cases and failures, exchange by exchange
// where it matters, and the close of the window while a command waits.
#include "ScriptedRoad.h"
#include "common/ExceptionText.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "framework/Ansi.h"
#include "framework/Application.h"
#include "platform/Termination.h"
#include "shell/Conversion.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace roadtest;
using testutil::FtpSession;
using testutil::ReadFile;
using testutil::ScriptedFtpServer;
using testutil::WriteFile;

// ---- The download

TEST_F(Scripted, NoMapOnTheServerGivesTwoMessagesAndNothingElse)
{
    server.listing = ".\r\n..\r\n";
    StartDirect();
    form->cxButton1->Click();

    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(messages(), (Texts{"No hay mapa en el Host", "No hay mapa de puntos en el Host"}));
    EXPECT_EQ(Count(server.Lines(), "RETR"), 0);
    EXPECT_TRUE(form->cxButton1->Enabled());
}

TEST_F(Scripted, SecondPressDownloadsAndConvertsAgainWithoutACheck)
{
    server.listing = kNewest + "\r\n";
    server.File(kNewest, kMap);
    server.File("news.dat", kNews);
    WriteFile(local(kPlaceholder), "");
    StartDirect();
    form->cxButton1->Click();
    ASSERT_EQ(ReadFile(local(kNewest)), kMap);

    server.File(kNewest, "574C otra\r\n");
    form->cxButton1->Click();

    EXPECT_EQ(errors(), Texts{});
    EXPECT_EQ(messages(), (Texts{shell::MapReceivedText(), shell::MapReceivedText()}));
    EXPECT_EQ(ReadFile(local(kNewest)), "574C otra\r\n");
    EXPECT_EQ(melodies(), 2);
    EXPECT_EQ(opened.size(), 1u);
    const Texts lines = server.Lines();
    EXPECT_EQ(Count(lines, "NLST"), 1);
    EXPECT_EQ(Count(lines, "RETR " + kNewest), 2);
    EXPECT_EQ(Count(lines, "USER"), 1) << "one log-in for the whole run";
    EXPECT_EQ(Count(lines, "QUIT"), 0);
}

// The download folder may be shared: a link, or another file, may take the place of the download
// between its placing and its conversion (a model without a conversion keeps the download, and a
// conversion may be asked for later). The conversion takes the download this process placed or
// nothing, never the file a link names.
TEST_F(Scripted, ALinkPutInPlaceOfTheDownloadIsNotConverted)
{
    server.listing = kNewest + "\r\n";
    server.File(kNewest, kMap);
    server.File("news.dat", kNews);
    WriteFile(local(kPlaceholder), "");
    StartDirect([](TFPral &f) { f.Avisadores->SetItemIndex(shell::kGrayRoverII); });
    form->cxButton1->Click();
    ASSERT_EQ(ReadFile(local(shell::kDownloadFileName)), kMap) << "the download was kept";
    dialogs.shown.clear();

    const std::string planted = "574C planted\r\n-0399999+40499V1,120\r\n";
    const std::string elsewhere = local("elsewhere.txt");
    WriteFile(elsewhere, planted);
    ASSERT_EQ(::unlink(local(shell::kDownloadFileName).c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), local(shell::kDownloadFileName).c_str()), 0);
    form->Avisadores->SetItemIndex(shell::kWatcher);
    form->Estado.SetLocal(kNewest);
    EXPECT_EQ(testutil::Message([&] { form->Transformar(folder.path()); }), shell::DownloadReplacedText());
    EXPECT_EQ(messages(), Texts{});
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(local(kNewest))));
    EXPECT_EQ(ReadFile(elsewhere), planted);
}

struct FailureCase {
    const char *name;
    std::function<void(ScriptedFtpServer &)> script;
    std::string error;
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

const std::string kHalf(20000, 'h');

// How a transfer's data connection ends.
enum class DataEnd {
    Closed,  // in order, as after a whole file
    Reset,   // reset by the server
};

// The data of a transfer that stops after kHalf: the data connection ends as `end` says, and
// `reply` is the completion reply that follows.
std::function<void(FtpSession &)> HalfThen(DataEnd end, std::string reply)
{
    return [end, reply = std::move(reply)](FtpSession &session) {
        if (end == DataEnd::Reset)
            session.SendDataThenReset(kHalf);
        else
            session.SendData(kHalf);
        session.Reply(reply);
    };
}

// A RETR handler that gives the preliminary reply and then `data` for every name.
ScriptedFtpServer::Handler Retrieval(std::function<void(FtpSession &)> data)
{
    return [data = std::move(data)](FtpSession &session, const std::string &) {
        session.Reply("150 Opening BINARY mode data connection");
        data(session);
    };
}

// The news, whole, as a well-mannered server sends it.
void WholeNews(FtpSession &session)
{
    session.SendData(kNews);
    session.Reply("226 Transfer complete");
}

// The script of a map published twice as long as what comes of it: after the preliminary reply
// the news is served whole and the map as HalfThen(end, reply) sends it.
void MapBrokenHalfWay(ScriptedFtpServer &server, DataEnd end, std::string reply)
{
    server.File(kNewest, kHalf + kHalf);
    server.On("RETR",
              [news = Retrieval(WholeNews), map = Retrieval(HalfThen(end, std::move(reply)))](
                  FtpSession &session, const std::string &name) { (name == kNewest ? map : news)(session, name); });
}

std::vector<FailureCase> FailureTable()
{
    return {
        {.name = "MissingMap", .script = [](ScriptedFtpServer &) {}, .error = "550 No such file"},
        {.name = "BrokenHalfWay",
         .script = [](ScriptedFtpServer &s) { MapBrokenHalfWay(s, DataEnd::Closed, "426 Transfer aborted"); },
         .error = "426 Transfer aborted"},
        {.name = "ResetWithoutASizeThenComplete",
         .script =
             [](ScriptedFtpServer &s) {
                 s.Answer("SIZE", "550 No size\r\n");
                 MapBrokenHalfWay(s, DataEnd::Reset, "226 Transfer complete");
             },
         .error = "[10054] Connection reset by peer"},
        {.name = "ShortButReportedComplete",
         .script =
             [](ScriptedFtpServer &s) {
                 s.File(kNewest, kHalf);
                 s.Answer("SIZE", "213 40000\r\n");
             },
         .error = shell::IncompleteDownloadText(20000, 40000)},
        {.name = "LongerThanAnnounced",
         .script =
             [](ScriptedFtpServer &s) {
                 s.File(kNewest, kHalf + kHalf);
                 s.Answer("SIZE", "213 20000\r\n");
             },
         .error = shell::OverlongDownloadText(20000)},
    };
}

class DownloadFailures : public Scripted, public ::testing::WithParamInterface<FailureCase> {};

// An unfinished download replaces nothing: the previous download (a conversion that failed keeps
// it) stays byte for byte, and its part file goes.
TEST_P(DownloadFailures, NothingIsConvertedAndThePreviousFilesStay)
{
    const FailureCase &c = GetParam();
    const std::string previous = "574C la descarga anterior\r\n";
    server.listing = kNewest + "\r\n";
    server.File("news.dat", kNews);
    c.script(server);
    WriteFile(local(kPlaceholder), "574C el mapa anterior\r\n");
    WriteFile(local("temp.mdb"), previous);
    StartDirect();
    form->cxButton1->Click();

    EXPECT_EQ(errors(), Texts{c.error + "."});
    EXPECT_EQ(messages(), Texts{});
    EXPECT_EQ(melodies(), 0);
    EXPECT_EQ(ReadFile(local("temp.mdb")), previous);
    EXPECT_EQ(Listing(), (Texts{kPlaceholder, "news.txt", "temp.mdb"})) << "no part file left behind";
    EXPECT_EQ(ReadFile(local(kPlaceholder)), "574C el mapa anterior\r\n");
    EXPECT_EQ(form->Label3->Caption(), kPlaceholder);
    EXPECT_EQ(form->Label4->Caption(), kNewest);
    EXPECT_TRUE(form->Image2->Visible());
    EXPECT_TRUE(form->cxButton1->Enabled());
    EXPECT_FALSE(form->RxTrayIcon1->Animated());
    // The window says it failed, and no bar stays part filled as if the transfer went on.
    EXPECT_EQ(form->StatusBar1->PanelText(0), shell::kDownloadFailedText);
    EXPECT_EQ(form->cxProgressBar2->Position(), 0);
    EXPECT_FALSE(form->cxProgressBar2->Busy());
}

INSTANTIATE_TEST_SUITE_P(Download, DownloadFailures, ::testing::ValuesIn(FailureTable()),
                         [](const auto &info) { return std::string(info.param.name); });

// A news text that does not come whole replaces nothing: the previous news stays byte for byte, no
// part file is left and nothing is handed to the desktop.
struct NewsFailureCase {
    const char *name;
    ScriptedFtpServer::Handler retrieval;
    std::string error;
};

void PrintTo(const NewsFailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class NewsFailures : public Scripted, public ::testing::WithParamInterface<NewsFailureCase> {};

TEST_P(NewsFailures, ThePreviousNewsStays)
{
    const NewsFailureCase &c = GetParam();
    const std::string previous = "Noticias anteriores\r\n";
    server.listing = kNewest + "\r\n";
    server.On("RETR", c.retrieval);
    WriteFile(local(kPlaceholder), "");
    WriteFile(local("news.txt"), previous);
    StartDirect();

    EXPECT_EQ(testutil::Message([&] { form->ComprobarAct1(); }), c.error);
    EXPECT_TRUE(form->Image2->Visible()) << "the new map is still announced";
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(ReadFile(local("news.txt")), previous);
    EXPECT_EQ(Listing(), (Texts{kPlaceholder, "news.txt"}));
    EXPECT_TRUE(form->cxButton1->Enabled());
}

INSTANTIATE_TEST_SUITE_P(
    News, NewsFailures,
    ::testing::Values(NewsFailureCase{.name = "Missing",
                                      .retrieval = [](FtpSession &s,
                                                      const std::string &) { s.Reply("550 No such file"); },
                                      .error = "550 No such file"},
                      NewsFailureCase{.name = "ResetMidway",
                                      .retrieval = Retrieval(HalfThen(DataEnd::Reset, "226 Transfer complete")),
                                      .error = "[10054] Connection reset by peer"},
                      NewsFailureCase{.name = "AbortedMidway",
                                      .retrieval = Retrieval(HalfThen(DataEnd::Closed, "426 Transfer aborted")),
                                      .error = "426 Transfer aborted"},
                      NewsFailureCase{.name = "PastItsCap",
                                      .retrieval = Retrieval([](FtpSession &s) {
                                          s.Reply(s.SendData(std::string(shell::kMaxNewsBytes + 1, 'n'))
                                                      ? "226 Transfer complete"
                                                      : "426 Transfer aborted");
                                      }),
                                      .error = shell::OversizedNewsText(shell::kMaxNewsBytes)}),
    [](const auto &info) { return std::string(info.param.name); });

// A link planted in the download folder (a shared folder) under the name of a file the program
// writes, aimed at a file outside it or at a name there that does not exist yet: the program never
// writes through it. The link is replaced by a file of the program's own with the server's bytes.
struct LinkCase {
    const char *name;
    std::string planted;  // the link's name in the download folder
    int model;
    bool victimExists;  // false: the link names a file that does not exist
};

void PrintTo(const LinkCase &c, std::ostream *os)
{
    *os << c.name;
}

class PlantedLinks : public Scripted, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(PlantedLinks, AreReplacedNeverWrittenThrough)
{
    const LinkCase &c = GetParam();
    testutil::TempDir outside;
    const std::string victim = outside.file("victim");
    if (c.victimExists)
        WriteFile(victim, "victim");
    ASSERT_EQ(::symlink(victim.c_str(), local(c.planted).c_str()), 0);
    server.listing = kNewest + "\r\n";
    server.File(kNewest, kMap);
    server.File("news.dat", kNews);
    WriteFile(local(kPlaceholder), "");
    StartDirect([&](TFPral &f) { f.Avisadores->SetItemIndex(c.model); });
    form->cxButton1->Click();

    EXPECT_EQ(errors(), Texts{});
    EXPECT_EQ(ReadFile(victim), c.victimExists ? "victim" : "");
    EXPECT_EQ(Names(outside.path()), c.victimExists ? Texts{"victim"} : Texts{});
    const auto regular = [&](const std::string &name) {
        return QFileInfo(QString::fromStdString(local(name))).isFile() &&
               !QFileInfo(QString::fromStdString(local(name))).isSymLink();
    };
    EXPECT_TRUE(regular("news.txt"));
    EXPECT_EQ(ReadFile(local("news.txt")), kNews);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].content, kNews);
    if (shell::HasConversion(c.model)) {
        EXPECT_TRUE(regular(kNewest));
        EXPECT_EQ(ReadFile(local(kNewest)), kMap);
        EXPECT_EQ(Listing(), (Texts{kPlaceholder, kNewest, "news.txt"}));
    } else {
        EXPECT_TRUE(regular("temp.mdb"));
        EXPECT_EQ(ReadFile(local("temp.mdb")), kMap);
        EXPECT_EQ(Listing(), (Texts{kPlaceholder, "news.txt", "temp.mdb"}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, PlantedLinks,
    ::testing::Values(
        LinkCase{.name = "NewsToAFile", .planted = "news.txt", .model = shell::kWatcher, .victimExists = true},
        LinkCase{.name = "NewsToNothing", .planted = "news.txt", .model = shell::kWatcher, .victimExists = false},
        LinkCase{.name = "DownloadToAFile", .planted = "temp.mdb", .model = shell::kWatcher, .victimExists = true},
        LinkCase{.name = "DownloadToNothing", .planted = "temp.mdb", .model = shell::kWatcher, .victimExists = false},
        LinkCase{
            .name = "KeptDownloadToAFile", .planted = "temp.mdb", .model = shell::kGrayRoverII, .victimExists = true},
        LinkCase{.name = "KeptDownloadToNothing",
                 .planted = "temp.mdb",
                 .model = shell::kGrayRoverII,
                 .victimExists = false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Scripted, AFolderChangedAfterStartUpServesTheWholeCommand)
{
    // The old folder (the current directory since the start-up) holds a stale download that a
    // conversion reading relative names would take for the new map.
    server.listing = kNewest + "\r\n";
    server.File(kNewest, kMap);
    server.File("news.dat", kNews);
    WriteFile(local("temp.mdb"), "574C un mapa viejo y parcial\r\n");
    WriteFile(local(kPlaceholder), "");
    StartDirect();
    testutil::TempDir other;
    form->DirectoryEdit1->SetText(other.path());  // "Config", "Guardar"
    form->cxButton1->Click();

    EXPECT_EQ(errors(), Texts{});
    EXPECT_EQ(messages(), Texts{shell::MapReceivedText()});
    EXPECT_EQ(ReadFile(other.file(kNewest)), kMap);
    EXPECT_FALSE(Exists(other.file("temp.mdb")));
    EXPECT_EQ(ReadFile(local("temp.mdb")), "574C un mapa viejo y parcial\r\n") << "the old folder untouched";
    EXPECT_FALSE(Present(kNewest));
}

TEST_F(Scripted, AnEmptyFolderTextIsTheStartFolderNeverTheRoot)
{
    server.listing = kNewest + "\r\n";
    server.File(kNewest, kMap);
    server.File("news.dat", kNews);
    WriteFile(local(kPlaceholder), "");
    fw::SetCurrentDir(folder.path());  // where the program was started
    StartDirect([](TFPral &f) { f.DirectoryEdit1->SetText(""); });
    form->cxButton1->Click();

    EXPECT_EQ(errors(), Texts{});
    EXPECT_EQ(ReadFile(local("news.txt")), kNews);
    EXPECT_EQ(ReadFile(local(kNewest)), kMap);
    EXPECT_FALSE(Exists("/news.txt"));
    EXPECT_FALSE(Exists("/temp.mdb"));
}

TEST_F(Scripted, AModelWithoutAConversionKeepsTheDownloadAndSaysSo)
{
    server.listing = kNewest + "\r\n";
    server.File(kNewest, kMap);
    WriteFile(local(kNewest), "574C el mapa anterior\r\n");
    StartDirect([](TFPral &f) { f.Avisadores->SetItemIndex(shell::kGrayRoverII); });
    form->cxButton1->Click();

    EXPECT_EQ(errors(), Texts{});
    EXPECT_EQ(messages(), Texts{shell::NoConversionText(shell::kGrayRoverII)});
    EXPECT_EQ(ReadFile(local("temp.mdb")), kMap) << "the download kept as it came";
    EXPECT_EQ(ReadFile(local(kNewest)), "574C el mapa anterior\r\n") << "no device file written";
    // The download is what the device gets: the map is in place, and greeted.
    EXPECT_EQ(melodies(), 1);
    EXPECT_EQ(form->Label3->Caption(), kNewest);
    EXPECT_FALSE(form->Image2->Visible());
}

// A conversion that cannot write the device's file (the disk full) leaves the window and the
// tray saying the new map still waits, with no melody: nothing the device can take has arrived.
TEST_F(Scripted, AConversionThatCannotWriteLeavesTheMapWaiting)
{
    server.listing = kNewest + "\r\n";
    server.File(kNewest, kMap);
    WriteFile(local(kPlaceholder), "");
    StartDirect();

    // Once the map has arrived, no file may grow past its first byte: every write of the
    // conversion fails as on a full disk.
    ::rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const auto restore = qScopeGuard([&] {
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
    });
    const fw::TNotifyEvent end = form->msFTPClient1->OnDataTransferTerminate;
    form->msFTPClient1->OnDataTransferTerminate = [&before, &end](fw::TObject *sender) {
        end(sender);
        const ::rlimit full{0, before.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &full);
    };
    form->cxButton1->Click();
    ::setrlimit(RLIMIT_FSIZE, &before);
    form->msFTPClient1->OnDataTransferTerminate = end;

    ASSERT_EQ(errors().size(), 1u);
    EXPECT_EQ(messages(), Texts{});
    EXPECT_EQ(melodies(), 0);
    EXPECT_EQ(form->Label3->Caption(), kPlaceholder);
    EXPECT_EQ(form->Label4->Caption(), kNewest);
    EXPECT_EQ(form->Estado.Local(), kPlaceholder);
    EXPECT_TRUE(form->Image2->Visible());
    EXPECT_EQ(form->RxTrayIcon1->Hint(), fw::FromAnsi(shell::NewMapHint(kNewest)));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(local(kNewest))));
    EXPECT_EQ(form->StatusBar1->PanelText(0), shell::kDownloadFailedText);

    // Room again: the next press converts and the map is in place.
    form->cxButton1->Click();
    EXPECT_EQ(ReadFile(local(kNewest)).substr(0, 4), "574C");
    EXPECT_EQ(melodies(), 1);
    EXPECT_FALSE(form->Image2->Visible());
}

// "Salir" and a termination signal (as the desktop session's end) while the start-up check fetches
// the news from a server that sends one byte and then holds the data connection open.
class EndingCases : public Scripted, public ::testing::WithParamInterface<bool> {};

TEST_P(EndingCases, EndingWhileTheNewsTricklesEndsAtOnceAndSavesTheSettings)
{
    const bool bySignal = GetParam();
    platform::InstallTerminationSignals([] { fw::Application().Terminate(); });
    const auto restore = qScopeGuard([] { platform::InstallTerminationSignals([] {}); });
    server.listing = kNewest + "\r\n";
    server.On("RETR", [&](FtpSession &session, const std::string &) {
        session.Reply("150 Opening BINARY mode data connection");
        session.SendDataKeepOpen("H");
        server.release.Wait();
    });
    WriteFile(local(kPlaceholder), "");
    QTimer ending;
    ending.setSingleShot(true);
    Start([&](TFPral &f) {
        ThroughProxy(server.Port(), true)(f);
        f.Avisadores->SetItemIndex(shell::kSentryIII);  // a setting changed, to be saved at the end
        f.msFTPClient1->OnDataTransferProgress = [&](fw::TObject *, std::int32_t) {
            if (!ending.isActive())
                ending.start(50);
        };
        QObject::connect(&ending, &QTimer::timeout, [bySignal, &f] {
            if (bySignal)
                ::raise(SIGTERM);
            else
                f.Salir1->Click();
        });
    });
    // The start-up check returned: its wait was cancelled, not waited out (the time-out is 60 s).
    EXPECT_TRUE(fw::Application().Terminated());
    EXPECT_EQ(errors(), Texts{}) << "the cancel that ending caused is no error";
    EXPECT_EQ(Count(server.Lines(), "QUIT"), 0);
    EXPECT_FALSE(form->FConectado());
    form.reset();  // the program ends: the settings are saved as the window goes
    server.release.Open();
    EXPECT_NE(ReadFile(home() + "/.config/drovanel/registry.reg").find("\"Avisadores_ItemIndex\"=\"0\""),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Ending, EndingCases, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Signal" : "Salir"; });

TEST_F(Scripted, NewsPastItsCapIsRefusedAndNothingIsOpened)
{
    server.listing = kNewest + "\r\n";
    server.File("news.dat", std::string(shell::kMaxNewsBytes + 1, '\0'));
    WriteFile(local(kPlaceholder), "");
    StartDirect();
    EXPECT_EQ(testutil::Message([&] { form->ComprobarAct1(); }), shell::OversizedNewsText(shell::kMaxNewsBytes));
    EXPECT_TRUE(form->Image2->Visible()) << "the new map is still announced";
    EXPECT_FALSE(Present("news.txt"));
    EXPECT_TRUE(opened.empty());
}

TEST_F(Scripted, HostilePublishedNameIsNeverFetched)
{
    StartDirect();
    form->Estado.SetPublished("../x.mdb");
    form->cxButton1->Click();

    EXPECT_EQ(errors(), Texts{shell::InvalidPublishedNameText("../x.mdb")});
    EXPECT_TRUE(server.Lines().empty()) << "nothing was asked of the server";
    EXPECT_FALSE(Present("temp.mdb"));
    EXPECT_TRUE(form->cxButton1->Enabled());
}

TEST_F(Scripted, UnknownSizeShowsABusyBarWhileTheMapArrives)
{
    server.listing = kNewest + "\r\n";
    server.File(kNewest, kMap);
    server.Answer("SIZE", "550 Could not get file size.\r\n");
    WriteFile(local(kNewest), "");  // equal names: no news, only the map's transfer
    StartDirect();
    std::vector<std::pair<bool, int>> seen;
    auto handler = form->msFTPClient1->OnDataTransferProgress;
    form->msFTPClient1->OnDataTransferProgress = [&, handler](fw::TObject *sender, std::int32_t byteCount) {
        handler(sender, byteCount);
        seen.emplace_back(form->cxProgressBar2->Busy(), form->cxProgressBar2->Max());
    };
    form->cxButton1->Click();

    EXPECT_EQ(errors(), Texts{});
    EXPECT_EQ(ReadFile(local(kNewest)), kMap);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), std::make_pair(true, -1));
    EXPECT_FALSE(form->cxProgressBar2->Busy()) << "at rest once the transfer has ended";
}

TEST_F(Scripted, AStalledTransferShowsTheLastCountReceived)
{
    testutil::Gate second, rest;
    const std::string partA(1000, 'a'), partB(700, 'b');
    server.listing = kNewest + "\r\n";
    server.File(kNewest, partA + partB + "tail");
    server.On("RETR", [&](FtpSession &s, const std::string &) {
        s.Reply("150 Opening BINARY mode data connection");
        s.OpenData();
        testutil::SendAll(s.dataFd, partA);
        second.WaitFor(std::chrono::seconds(10));
        testutil::SendAll(s.dataFd, partB);
        rest.WaitFor(std::chrono::seconds(3));  // silent until the window has shown partB
        testutil::SendAll(s.dataFd, "tail");
        s.CloseData();
        s.Reply("226 Transfer complete");
    });
    WriteFile(local(kNewest), "");
    StartDirect();
    const std::string stalledAt = std::to_string(partA.size() + partB.size()) + " Bytes.";
    bool shownWhileStalled = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (form->StatusBar1->PanelText(1) == stalledAt) {
            shownWhileStalled = true;
            rest.Open();
        }
    });
    auto handler = form->msFTPClient1->OnDataTransferProgress;
    form->msFTPClient1->OnDataTransferProgress = [&, handler](fw::TObject *sender, std::int32_t byteCount) {
        handler(sender, byteCount);
        if (byteCount == static_cast<std::int32_t>(partA.size())) {  // the map's first block
            second.Open();
            watch.start(5);
        }
    };
    form->cxButton1->Click();
    rest.Open();

    EXPECT_TRUE(shownWhileStalled);
    EXPECT_EQ(form->StatusBar1->PanelText(1), std::to_string(partA.size() + partB.size() + 4) + " Bytes.");
}

// ---- Closing the window

TEST_F(Scripted, CloseDuringATransferCancelsItAndEndsWithoutQuit)
{
    server.listing = kNewest + "\r\n";
    server.On("RETR", [&](FtpSession &s, const std::string &) {
        s.Reply("150 Opening BINARY mode data connection");
        s.SendDataKeepOpen(kMap.substr(0, 1000));
        server.release.Wait();  // and then nothing: a server that hangs
    });
    WriteFile(local(kNewest), "previous map");
    StartDirect();
    form->msFTPClient1->SetTimeOut(60);  // not waited out: the close cancels the wait
    bool asked = false, closedAtOnce = true;
    auto handler = form->msFTPClient1->OnDataTransferProgress;
    form->msFTPClient1->OnDataTransferProgress = [&, handler](fw::TObject *sender, std::int32_t byteCount) {
        handler(sender, byteCount);
        if (asked)
            return;
        asked = true;
        // As the user would, from the tray's "Finalizar" or the window manager, while RETR waits.
        closedAtOnce = form->Close();
    };
    form->cxButton1->Click();

    ASSERT_TRUE(asked);
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(errors(), Texts{}) << "the cancel that ending caused is no error";
    EXPECT_EQ(messages(), Texts{});
    EXPECT_EQ(ReadFile(local(kNewest)), "previous map") << "nothing converted";
    EXPECT_EQ(Listing(), Texts{kNewest}) << "the cancelled download's part file is gone";

    // The close that waited runs now: no QUIT (the server still owes a reply), the program ends.
    ASSERT_TRUE(testutil::PumpUntil([] { return fw::Application().Terminated(); }));
    server.release.Open();
    EXPECT_EQ(Count(server.Lines(), "QUIT"), 0);
    EXPECT_FALSE(form->FConectado());
}

struct CloseCase {
    const char *name;
    bool connected;
    std::string quitReply;
    bool closes;
    Texts errors = {};
};

void PrintTo(const CloseCase &c, std::ostream *os)
{
    *os << c.name;
}

class CloseCases : public Scripted, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseCases, QuitOverAnOpenConnection)
{
    const CloseCase &c = GetParam();
    server.Answer("QUIT", c.quitReply);
    server.listing = ".\r\n..\r\n";
    StartDirect();
    if (c.connected)
        form->ComprobarAct1();
    ASSERT_EQ(form->FConectado(), c.connected);

    EXPECT_EQ(form->Close(), c.closes);
    EXPECT_EQ(fw::Application().Terminated(), c.closes);
    EXPECT_EQ(errors(), c.errors);
    EXPECT_EQ(Count(server.Lines(), "QUIT"), c.connected ? 1 : 0);
    EXPECT_EQ(form->FConectado(), c.connected && !c.closes);
}

INSTANTIATE_TEST_SUITE_P(
    Close, CloseCases,
    ::testing::Values(
        CloseCase{.name = "NotConnected", .connected = false, .quitReply = "221 Goodbye\r\n", .closes = true},
        CloseCase{.name = "Connected", .connected = true, .quitReply = "221 Goodbye\r\n", .closes = true},
        CloseCase{.name = "QuitRefused",
                  .connected = true,
                  .quitReply = "500 Syntax error\r\n",
                  .closes = false,
                  .errors = {"500 Syntax error."}}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
