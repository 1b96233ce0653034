// The update check against the scripted server: its table of listings and local maps, the names a
// server may publish, and its failures, exchange by exchange where it matters.
#include "ScriptedRoad.h"
#include "common/ExceptionText.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "framework/Ansi.h"
#include "framework/Application.h"
#include "platform/Termination.h"
#include "shell/Conversion.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <unistd.h>

namespace {

using namespace roadtest;
using testutil::FtpSession;
using testutil::ReadFile;
using testutil::ScriptedFtpServer;
using testutil::WriteFile;

// ---- The update check

struct CheckCase {
    const char *name;
    std::string listing;
    Texts localFiles;
    int model = 1;
    std::string error = {};  // the check's exception, empty for none
    Texts messages = {};
    std::string published = "antes";  // Label4 afterwards; "antes" is what it showed before
    std::string local = "antes";      // Label3 afterwards
    bool mark = false;                // mark shown, news fetched and handed over
    bool newsServed = true;
};

void PrintTo(const CheckCase &c, std::ostream *os)
{
    *os << c.name;
}

class CheckCases : public Scripted, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckCases, LabelsMarkAndNews)
{
    const CheckCase &c = GetParam();
    server.listing = c.listing;
    if (c.newsServed)
        server.File("news.dat", kNews);
    for (const auto &name : c.localFiles)
        WriteFile(local(name), "");
    StartDirect([&](TFPral &f) { f.Avisadores->SetItemIndex(c.model); });
    // What the window showed before the check: the state's names, which the check replaces or not.
    form->Estado.SetLocal("antes");
    form->Estado.SetPublished("antes");

    std::string error;
    try {
        form->ComprobarAct1();
    } catch (const std::exception &e) {
        error = e.what();
    }

    EXPECT_EQ(error, c.error);
    EXPECT_EQ(messages(), c.messages);
    EXPECT_EQ(form->Label4->Caption(), c.published);
    EXPECT_EQ(form->Label3->Caption(), c.local);
    EXPECT_EQ(form->Image2->Visible(), c.mark);
    EXPECT_EQ(form->Estado.Published(), c.published);
    EXPECT_EQ(form->Estado.Local(), c.local);
    EXPECT_EQ(form->Estado.NewMapWaits(), c.mark);
    EXPECT_TRUE(form->cxButton1->Enabled());
    EXPECT_EQ(form->cxProgressBar2->Position(), 0);
    EXPECT_EQ(form->StatusBar1->PanelText(1), "");
    EXPECT_EQ(form->FListaHost, nullptr);
    EXPECT_EQ(form->FListaLocal, nullptr);
    if (c.mark && c.newsServed) {
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].path, local("news.txt"));
        EXPECT_EQ(opened[0].content, kNews);
        EXPECT_FALSE(opened[0].buttonEnabled);
    } else {
        EXPECT_TRUE(opened.empty());
        // Without the mark nothing is fetched; a refused news writes nothing.
        EXPECT_FALSE(Present("news.txt"));
    }
    EXPECT_EQ(PartFiles(), Texts{});
    if (std::find(c.localFiles.begin(), c.localFiles.end(), "temp.mdb") == c.localFiles.end()) {
        EXPECT_FALSE(Present("temp.mdb"));
    }
}

const std::string kHostile[] = {"../x.mdb",
                                "a/b.mdb",
                                "a\\b.mdb",
                                "C:x.mdb",
                                "Watcher-\x1b[2J.mdb",
                                "..",
                                "temp.mdb",
                                "TeMp.MdB",
                                "Watcher-" + std::string(248, '9') + ".mdb"};

std::vector<CheckCase> CheckTable()
{
    std::vector<CheckCase> cases = {
        {.name = "OnlyDotEntries",
         .listing = ".\r\n..\r\n",
         .localFiles = {kPlaceholder},
         .messages = {"No hay mapa en el Host"}},
        {.name = "EmptyListing", .listing = "", .localFiles = {kPlaceholder}, .messages = {"No hay mapa en el Host"}},
        {.name = "OneNameNewer",
         .listing = kNewest + "\r\n",
         .localFiles = {kPlaceholder},
         .published = kNewest,
         .local = kPlaceholder,
         .mark = true},
        {.name = "GreatestOfSeveralWhateverTheCase",
         .listing = "watcher-080101.mdb\r\n" + kNewest + "\r\nWATCHER-070101.mdb\r\n",
         .localFiles = {kPlaceholder, "Watcher-050101.mdb"},
         .published = kNewest,
         .local = "Watcher-050101.mdb",
         .mark = true},
        {.name = "NoLocalCandidate",
         .listing = kNewest + "\r\n",
         .localFiles = {"temp.mdb", "Watcher-0101.mdb", "Watcher-0101011.mdb"},
         .published = kNewest},
        {.name = "NoDeviceModel",
         .listing = kNewest + "\r\n",
         .localFiles = {kPlaceholder},
         .model = -1,
         .published = kNewest},
        {.name = "EmptyDownloadFolder", .listing = kNewest + "\r\n", .localFiles = {}, .published = kNewest},
        {.name = "EqualNames",
         .listing = kNewest + "\r\n",
         .localFiles = {kPlaceholder, kNewest},
         .published = kNewest,
         .local = kNewest},
        {.name = "UpperCaseSortsFirst",
         .listing = "Watcher-990101.mdb\r\n",
         .localFiles = {"watcher-010101.mdb"},
         .model = 0,
         .published = "Watcher-990101.mdb",
         .local = "watcher-010101.mdb"},
        {.name = "UpperCaseExtensionCounts",
         .listing = kNewest + "\r\n",
         .localFiles = {"Watcher-010101.MDB"},
         .model = 2,
         .published = kNewest,
         .local = "Watcher-010101.MDB",
         .mark = true},
        {.name = "NewsMissing",
         .listing = kNewest + "\r\n",
         .localFiles = {kPlaceholder},
         .error = "550 No such file",
         .published = kNewest,
         .local = kPlaceholder,
         .mark = true,
         .newsServed = false},
    };
    // A name that is no plain file name is no map: passed over as "." and ".." are, alone and
    // beside a real map that sorts before it.
    for (const auto &name : kHostile) {
        cases.push_back({.name = "HostileName",
                         .listing = name + "\r\n",
                         .localFiles = {kPlaceholder},
                         .messages = {"No hay mapa en el Host"}});
        cases.push_back({.name = "HostileNameBesideAMap",
                         .listing = kPlaceholder + "\r\n" + name + "\r\n" + kNewest + "\r\n",
                         .localFiles = {kPlaceholder},
                         .published = kNewest,
                         .local = kPlaceholder,
                         .mark = true});
    }
    // Names that sort after the map but are none: the map is announced, not them.
    for (const std::string name : {"zz", "readme", "zz\rq.mdb", "zzzzzzzzzzzzzzzzzz"}) {
        cases.push_back({.name = "NotAMapSortsLast",
                         .listing = kNewest + "\r\n" + name + "\r\n",
                         .localFiles = {kPlaceholder},
                         .published = kNewest,
                         .local = kPlaceholder,
                         .mark = true});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Check, CheckCases, ::testing::ValuesIn(CheckTable()),
                         [](const auto &info) { return info.param.name + std::to_string(info.index); });

TEST(PublishedNames, OnlyPlainFileNamesPass)
{
    for (const auto &name : kHostile)
        EXPECT_FALSE(shell::IsPlainFileName(name)) << name;
    EXPECT_FALSE(shell::IsPlainFileName(""));
    EXPECT_FALSE(shell::IsPlainFileName("."));
    EXPECT_FALSE(shell::IsPlainFileName(std::string("a\0b.mdb", 7)));
    EXPECT_FALSE(shell::IsPlainFileName("a\x7f.mdb"));
    EXPECT_TRUE(shell::IsPlainFileName(kNewest));
    EXPECT_TRUE(shell::IsPlainFileName(std::string(255, 'a'))) << "the longest name a folder takes";
    EXPECT_TRUE(shell::IsPlainFileName("temp.mdb.mdb"));
    EXPECT_EQ(shell::InvalidPublishedNameText(std::string(8 << 20, 'a')),
              fw::AnsiText("El mapa publicado tiene un nombre de fichero no válido: \"") + std::string(255, 'a') +
                  "...\"");
    // 200 two-byte letters: the 128th crosses the cut and goes whole, so 127 are shown.
    const auto letters = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += fw::AnsiText("ñ");
        return text;
    };
    EXPECT_EQ(shell::InvalidPublishedNameText(letters(200)),
              fw::AnsiText("El mapa publicado tiene un nombre de fichero no válido: \"") + letters(127) + "...\"");
    EXPECT_TRUE(shell::IsPlainFileName("..a.mdb"));
    EXPECT_TRUE(shell::IsPlainFileName("Mapa \xe1\xe9.mdb"));
    EXPECT_EQ(shell::InvalidPublishedNameText("a\x1b\n.mdb"),
              fw::AnsiText("El mapa publicado tiene un nombre de fichero no válido: \"a??.mdb\""));
}

// News of any content is shown as plain text in the program's own window and handed to no other
// program: markup stays text, control bytes show as spaces, Windows-1252 is read as the map texts
// are; news.txt holds the server's bytes as they came.
TEST_F(Scripted, NewsIsShownAsTextInTheProgramsOwnWindow)
{
    const std::string html = "<html><script>alert(1)</script>\x1b[2J\x07 Se\xf1"
                             "al\r\n%PDF-1.4\tfin\r\n";
    server.listing = kNewest + "\r\n";
    server.File("news.dat", html);
    WriteFile(local(kPlaceholder), "");
    StartDirect();
    form->ComprobarAct1();

    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(ReadFile(local("news.txt")), html);
    const auto windows = form->findChildren<QWidget *>(QStringLiteral("NewsWindow"));
    ASSERT_EQ(windows.size(), 1);
    QWidget *news = windows[0];
    EXPECT_TRUE(news->isVisible());
    EXPECT_TRUE(news->isWindow());
    EXPECT_EQ(news->windowModality(), Qt::NonModal);
    EXPECT_EQ(news->windowTitle(), QStringLiteral("Drovanel - Noticias"));
    const auto *text = news->findChild<QPlainTextEdit *>();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->toPlainText(),
              QString::fromUtf8("<html><script>alert(1)</script> [2J  Se\u00f1al\n%PDF-1.4\tfin\n"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // A newer map's news replaces the text in the same window.
    server.listing = "Watcher-100101.mdb\r\n";
    server.File("news.dat", "Otro mapa\r\n");
    form->ComprobarAct1();
    ASSERT_EQ(form->findChildren<QWidget *>(QStringLiteral("NewsWindow")).size(), 1);
    EXPECT_EQ(text->toPlainText(), QStringLiteral("Otro mapa\n"));
}

TEST_F(Scripted, ARefusedListingRunsTheEndingStepsBeforeItGoesOn)
{
    server.Answer("CWD", "550 No such directory.\r\n");
    StartDirect();
    form->Estado.SetPublished("antes");
    form->cxProgressBar2->SetPosition(5);
    form->StatusBar1->SetPanelText(1, "65536 Bytes.");

    std::string error;
    try {
        form->ComprobarAct1();
    } catch (const std::exception &e) {
        error = e.what();
    }
    EXPECT_EQ(error, "550 No such directory.");
    EXPECT_EQ(form->Label4->Caption(), "antes");
    EXPECT_EQ(form->cxProgressBar2->Position(), 0);
    EXPECT_EQ(form->StatusBar1->PanelText(1), "");
    EXPECT_TRUE(form->cxButton1->Enabled());
    EXPECT_EQ(form->FListaHost, nullptr);
    EXPECT_FALSE(form->FtpBusy());
}

TEST_F(Scripted, RefusedLogInKeepsTheLabelsAndDropsTheConnection)
{
    server.Answer("PASS", "530 Login incorrect.\r\n");
    server.listing = kNewest + "\r\n";
    StartDirect();
    form->cxButton1->Click();

    EXPECT_EQ(errors(), Texts{"530 Login incorrect."});  // the report adds no second full stop
    EXPECT_EQ(messages(), Texts{});
    EXPECT_EQ(form->Label4->Caption(), "");
    EXPECT_FALSE(form->Image2->Visible());
    EXPECT_FALSE(form->FConectado()) << "a refused log-in leaves no connection: the next command logs in";
    EXPECT_TRUE(form->cxButton1->Enabled());
    EXPECT_EQ(Count(server.Lines(), "CWD"), 0);
}

TEST_F(Scripted, StartUpCheckFailureIsReportedAndTheProgramRunsOn)
{
    server.Answer("PASS", "530 Login incorrect.\r\n");
    Start([this](TFPral &f) {
        RoadTest::ThroughProxy(server.Port(), true)(f);
        f.Minimizar->SetChecked(false);  // the window shown: the check's dialogs
    });

    EXPECT_EQ(errors(), Texts{"530 Login incorrect."});
    EXPECT_EQ(server.Lines().at(0), "USER drovanel@" + TFPral::UpdateHost());
    EXPECT_EQ(form->Caption(), "Drovanel - Descargas de actualizaciones 9.3 [Watcher]");
    EXPECT_TRUE(form->cxButton1->Enabled());
    EXPECT_EQ(form->StatusBar1->PanelText(0), shell::kCheckFailedText);
    EXPECT_TRUE(form->Rechecks().RetryPending());
}

// Started into the tray (at log-in, say, before the network is up) the failure is reported as a
// re-check's is: a line of standard error, the status bar, and a retry a minute later, with no box
// waiting for someone to close it.
TEST_F(Scripted, StartUpCheckFailureIntoTheTrayIsReportedAsARecheckIs)
{
    server.Answer("PASS", "530 Login incorrect.\r\n");
    ::testing::internal::CaptureStderr();
    Start(RoadTest::ThroughProxy(server.Port(), true));  // Minimizar ticked
    const std::string written = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(dialogs.shown.size(), 0u);
    const std::string line = "drovanel: la comprobación de mapas nuevos ha fallado: 530 Login incorrect";
    EXPECT_NE(written.find(line), std::string::npos) << written;
    EXPECT_EQ(server.Lines().at(0), "USER drovanel@" + TFPral::UpdateHost());
    EXPECT_TRUE(form->cxButton1->Enabled());
    EXPECT_EQ(form->StatusBar1->PanelText(0), shell::kCheckFailedText);
    EXPECT_TRUE(form->Rechecks().RetryPending());
}

}  // namespace
