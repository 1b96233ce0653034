// The start-up (FormCreate): the first run, the download folder as current directory, the caption
// for the device model, the start-up check and the sweep of leftover part files.
#include "PralFixture.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "framework/Ansi.h"
#include "framework/FormatSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using fw::AnsiText;
using fw::DialogKind;
using fw::DialogResult;
using testutil::ShownDialog;

const std::string kQuestion = AnsiText("Es la primera vez que arranca esta aplicación\ry antes de nada deberá "
                                       "configurar la carpeta de descarga de las actualizaciones?");
const std::string kDefaultFolderMessage =
    "Por defecto, vamos a crear una carpeta llamada 'ActDrovanel' en el escritorio de su ordenador";
const std::string kCreated = AnsiText("¡La carpeta ActDrovanel se ha creado correctamente!");
const std::string kNotCreated = "No se ha podido crear la carpeta";
const std::string kResourceCaption = "Drovanel - Descargas de actualizaciones de Mapas de Puntos 9.3";

struct Expected {
    DialogKind kind;
    std::string title, text;
};

void expectDialogs(const std::vector<ShownDialog> &shown, const std::vector<Expected> &expected)
{
    ASSERT_EQ(shown.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(shown[i].kind, expected[i].kind) << i;
        EXPECT_EQ(shown[i].title, expected[i].title) << i;
        EXPECT_EQ(shown[i].text, expected[i].text) << i;
    }
}

const Expected question{DialogKind::Confirmation, AnsiText("Confirmación"), kQuestion};
const Expected defaultFolder{DialogKind::Message, "Drovanel", kDefaultFolderMessage};
const Expected created{DialogKind::Information, AnsiText("Información"), kCreated};
const Expected notCreated{DialogKind::Warning, "Aviso", kNotCreated};

bool focusInFolderField(const TFPral &form)
{
    return form.focusWidget() == form.DirectoryEdit1->Edit();
}

TEST_F(PralTest, FirstRunAnsweredNoLeavesTheFolderEmptyAndTheCurrentDirectoryAlone)
{
    TestPral form;
    form.DoCreate();
    expectDialogs(dialogs.shown, {question});
    EXPECT_EQ(form.DirectoryEdit1->Text(), "");
    EXPECT_EQ(fw::GetCurrentDir(), m_cwd);
    EXPECT_EQ(form.FileListBox1->Directory(), m_cwd);
    EXPECT_TRUE(form.Visible());
    EXPECT_EQ(form.Notebook1->ActivePage(), "Default");
    EXPECT_EQ(form.Caption(), "Drovanel - Descargas de actualizaciones 9.3 [Watcher]");
    EXPECT_EQ(form.StatusBar1->PanelText(1), "  Watcher");
    EXPECT_EQ(form.checks, 1);  // the start-up check is ticked by default
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(desktop() + "/ActDrovanel")));
}

TEST_F(PralTest, FirstRunAnsweredYesCreatesTheFolderAndThePlaceholder)
{
    ASSERT_EQ(::mkdir(desktop().c_str(), 0755), 0);
    dialogs.Answer(DialogResult::Yes);
    TestPral form;
    form.DoCreate();
    const std::string folder = desktop() + "/ActDrovanel";
    expectDialogs(dialogs.shown, {question, defaultFolder, created});
    EXPECT_EQ(form.DirectoryEdit1->Text(), folder);
    const QFileInfo placeholder(QString::fromStdString(folder + "/Watcher-010101.mdb"));
    EXPECT_TRUE(placeholder.isFile());
    EXPECT_EQ(placeholder.size(), 0);
    EXPECT_TRUE(form.Visible());
    EXPECT_EQ(form.Notebook1->ActivePage(), "Config");
    EXPECT_TRUE(focusInFolderField(form));
    // The new folder is the current directory, and the file list holds the placeholder.
    EXPECT_EQ(fw::GetCurrentDir(), folder);
    EXPECT_EQ(form.FileListBox1->Items(), (std::vector<std::string>{"Watcher-010101.mdb"}));
    EXPECT_EQ(form.Caption(), "Drovanel - Descargas de actualizaciones 9.3 [Watcher]");
    EXPECT_EQ(form.checks, 1);
}

TEST_F(PralTest, FirstRunWithTheFolderAlreadyThereWarnsAndStillShowsTheFolderPage)
{
    ASSERT_EQ(::mkdir(desktop().c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((desktop() + "/ActDrovanel").c_str(), 0755), 0);
    dialogs.Answer(DialogResult::Yes);
    TestPral form;
    form.DoCreate();
    expectDialogs(dialogs.shown, {question, defaultFolder, notCreated});
    EXPECT_EQ(form.DirectoryEdit1->Text(), "");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(desktop() + "/ActDrovanel/Watcher-010101.mdb")));
    EXPECT_TRUE(form.Visible());
    EXPECT_EQ(form.Notebook1->ActivePage(), "Config");
    EXPECT_TRUE(focusInFolderField(form));
    EXPECT_EQ(fw::GetCurrentDir(), m_cwd);
    EXPECT_EQ(form.checks, 1);
}

TEST_F(PralTest, FirstRunWithoutADesktopFolderCreatesNoParents)
{
    dialogs.Answer(DialogResult::Yes);
    TestPral form;
    form.DoCreate();
    expectDialogs(dialogs.shown, {question, defaultFolder, notCreated});
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(desktop())));
    EXPECT_EQ(form.DirectoryEdit1->Text(), "");
}

TEST_F(PralTest, FirstRunWithAReadOnlyDesktopWarns)
{
    FirstRunOnAReadOnlyDesktop(ReadOnlyDesktop::Created, [&](TestPral &) {
        expectDialogs(dialogs.shown, {question, defaultFolder, notCreated});
    });
}

TEST_F(PralTest, StartingMinimisedStillAsksOnTheFirstRunAndThenShowsTheFolderPage)
{
    ASSERT_EQ(::mkdir(desktop().c_str(), 0755), 0);
    dialogs.Answer(DialogResult::Yes);
    TestPral form;
    form.Minimizar->SetChecked(true);
    form.DoCreate();
    expectDialogs(dialogs.shown, {question, defaultFolder, created});
    EXPECT_TRUE(form.Visible());
    EXPECT_EQ(form.Notebook1->ActivePage(), "Config");
    EXPECT_TRUE(focusInFolderField(form));
}

TEST_F(PralTest, StartingMinimisedAndAnsweringNoKeepsTheWindowHidden)
{
    TestPral form;
    form.Minimizar->SetChecked(true);
    form.DoCreate();
    expectDialogs(dialogs.shown, {question});
    EXPECT_FALSE(form.Visible());
}

TEST_F(PralTest, ConfiguredStartMakesTheFolderCurrentAndListsItsMaps)
{
    testutil::TempDir maps;
    for (const char *name : {"Watcher-010101.mdb", "Watcher-250301.MDB", ".Watcher-260101.mdb", "temp.mdb", "news.txt"})
        testutil::WriteFile(maps.file(name), "");
    ASSERT_EQ(::mkdir(maps.file("Watcher-990101.mdb").c_str(), 0755), 0);
    TestPral form;
    form.DirectoryEdit1->SetText(maps.path());
    form.DoCreate();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(form.Visible());
    EXPECT_EQ(form.Notebook1->ActivePage(), "Default");
    EXPECT_EQ(fw::GetCurrentDir(), maps.path());
    EXPECT_EQ(form.FileListBox1->Items(),
              (std::vector<std::string>{"temp.mdb", "Watcher-010101.mdb", "Watcher-250301.MDB"}));
    EXPECT_EQ(form.checks, 1);
}

TEST_F(PralTest, StartingMinimisedWithAFolderStaysInTheTray)
{
    testutil::TempDir maps;
    TestPral form;
    form.DirectoryEdit1->SetText(maps.path());
    form.Minimizar->SetChecked(true);
    form.DoCreate();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(form.checks, 1);  // the check runs whether or not the window shows
}

TEST_F(PralTest, AFolderThatNoLongerExistsIsReportedAndStopsTheStartUpThere)
{
    testutil::TempDir parent;
    const std::string gone = parent.file("ActDrovanel");
    TestPral form;
    form.DirectoryEdit1->SetText(gone);
    form.DoCreate();
    expectDialogs(dialogs.shown, {{DialogKind::Error, "Drovanel", std::string(std::strerror(ENOENT)) + "."}});
    EXPECT_EQ(form.Caption(), kResourceCaption);
    EXPECT_EQ(form.StatusBar1->PanelText(1), "");
    EXPECT_EQ(form.checks, 0);
    EXPECT_EQ(fw::GetCurrentDir(), m_cwd);
    EXPECT_TRUE(form.Visible());  // the program runs on with what the start-up set up
    EXPECT_EQ(form.DirectoryEdit1->Text(), gone);
}

TEST_F(PralTest, UntickedStartUpCheckDoesNotRun)
{
    testutil::TempDir maps;
    TestPral form;
    form.DirectoryEdit1->SetText(maps.path());
    form.ComprobarChk->SetChecked(false);
    form.DoCreate();
    EXPECT_EQ(form.checks, 0);
}

TEST_F(PralTest, StartUpSetsItsFixedValues)
{
    testutil::TempDir maps;
    TestPral form;
    form.DirectoryEdit1->SetText(maps.path());
    form.Notebook1->SetActivePage("Proxy");
    fw::FormatSettings().ShortDateFormat = "M/d/yy";
    form.DoCreate();
    EXPECT_FALSE(form.FConectado());
    EXPECT_EQ(form.FVersion, "9.3");
    EXPECT_FALSE(form.RxTrayIcon1->Animated());
    EXPECT_EQ(form.Notebook1->ActivePage(), "Default");
    EXPECT_EQ(fw::FormatSettings().ShortDateFormat, "dd/mm/yyyy");
    EXPECT_EQ(form.Estado.Local(), "");
    EXPECT_EQ(form.Estado.Published(), "");
}

TEST_F(PralTest, DeviceModelIndexOutsideTheListKeepsTheResourceCaption)
{
    testutil::TempDir maps;
    for (const int index : {-1, 3}) {
        TestPral form;
        form.DirectoryEdit1->SetText(maps.path());
        form.Avisadores->SetItemIndex(index);
        form.DoCreate();
        EXPECT_EQ(form.Caption(), kResourceCaption) << index;
        EXPECT_EQ(form.StatusBar1->PanelText(1), "") << index;
        EXPECT_EQ(form.checks, 1);
    }
}

// Part files of conversions killed in an earlier run go at start-up, once the window is up, from the
// download folder as the start-up found it; a part file of this process's own stays.
TEST_F(PralTest, StartUpSweepsThePartFilesOfEndedConversionsFromTheDownloadFolder)
{
    testutil::TempDir maps;
    const pid_t ended = ::fork();  // a process that has ended: its id is free for now
    if (ended == 0)
        ::_exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const std::string endedPart = maps.file(".drovanel-" + std::to_string(ended) + "-0.part");
    const std::string ownPart = maps.file(".drovanel-" + std::to_string(::getpid()) + "-0.part");
    testutil::WriteFile(endedPart, "574C half");
    testutil::WriteFile(ownPart, "574C");
    TestPral form;
    form.DirectoryEdit1->SetText(maps.path());
    form.DoCreate();
    fw::SetCurrentDir(m_cwd);  // the folder was taken when the start-up made it current
    EXPECT_TRUE(testutil::PumpUntil([&] { return !QFileInfo::exists(QString::fromStdString(endedPart)); }, 5000));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(ownPart)));
    EXPECT_TRUE(dialogs.shown.empty());
}

// The sweep takes only what the program can have written: names that merely look like a part
// file's, and a link under a part file's name, stay.
TEST_F(PralTest, StartUpSweepLeavesWhatTheProgramNeverWrote)
{
    testutil::TempDir maps;
    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const std::string dead = std::to_string(ended);
    const std::string endedPart = maps.file(".drovanel-" + dead + "-0.part");
    testutil::WriteFile(endedPart, "574C half");
    const std::vector<std::string> notOurs = {maps.file(".drovanel-" + dead + "-notes.part"),
                                              maps.file(".drovanel-+" + dead + "-5.part")};
    for (const auto &path : notOurs)
        testutil::WriteFile(path, "the user's");
    const std::string link = maps.file(".drovanel-" + dead + "-1.part");
    ASSERT_EQ(::symlink("Watcher-261101.mdb", link.c_str()), 0);
    TestPral form;
    form.DirectoryEdit1->SetText(maps.path());
    form.DoCreate();
    fw::SetCurrentDir(m_cwd);
    ASSERT_TRUE(testutil::PumpUntil([&] { return !QFileInfo::exists(QString::fromStdString(endedPart)); }, 5000));
    for (const auto &path : notOurs)
        EXPECT_EQ(testutil::ReadFile(path), "the user's") << path;
    EXPECT_TRUE(QFileInfo(QString::fromStdString(link)).isSymLink());
}

TEST_F(PralTest, DefaultFolderIsOnTheDesktopAndTheUpdateHostIsTheBuildOption)
{
    EXPECT_EQ(TFPral::DefaultFolder(), desktop() + "/ActDrovanel");
    // Where the folder browser starts while no folder is set, once the default folder exists.
    TestPral form;
    EXPECT_EQ(form.DirectoryEdit1->BrowseStart(), "/");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(desktop() + "/ActDrovanel")));
    EXPECT_EQ(form.DirectoryEdit1->BrowseStart(), QString::fromStdString(desktop() + "/ActDrovanel"));
    EXPECT_FALSE(TFPral::UpdateHost().empty());
    EXPECT_LE(TFPral::UpdateHost().size(), 255u);
}

}  // namespace
