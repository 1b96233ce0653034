// The framework without widgets: the standard error report, the dialog service, component lookup
// by name, string lists, the byte-string conversion, the streams and the exclusive file creation.
#include "common/ScriptedDialogs.h"
#include "common/TempDir.h"
#include "framework/Ansi.h"
#include "framework/Application.h"
#include "framework/Classes.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"
#include "framework/Streams.h"
#include "framework/TextFile.h"

#include <QFileInfo>
#include <QLocale>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(ErrorReport, FullStopAppendedOnlyWhenLastCharacterSortsAfterDot)
{
    struct Case {
        std::string message, shown;
    } const cases[] = {
        {"Connection refused", "Connection refused."},
        {"Ya termina.", "Ya termina."},
        {"Hecho!", "Hecho!"},     // "!" sorts before "."
        {"Seguro?", "Seguro?."},  // "?" sorts after "."
        {"abc ", "abc "},
        {"", ""},
        {"Error 5", "Error 5."},
        {"Carpeta no v\xE1lida\xE1", "Carpeta no v\xE1lida\xE1."},  // high bytes sort after "."
    };
    for (const auto &c : cases)
        EXPECT_EQ(fw::ErrorReportText(c.message), c.shown) << c.message;
}

TEST(ErrorReport, ExceptionLeavingAHandlerIsShownWithTheApplicationTitle)
{
    testutil::ScriptedDialogs dialogs;
    try {
        throw fw::EOutOfResources("Not enough timers");
    } catch (...) {
        fw::Application().HandleException(nullptr);
    }
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, fw::DialogKind::Error);
    EXPECT_EQ(dialogs.shown[0].title, "Drovanel");
    EXPECT_EQ(dialogs.shown[0].text, "Not enough timers.");
}

TEST(Dialogs, TitlesAndAnswers)
{
    testutil::ScriptedDialogs dialogs;
    dialogs.Answer(fw::DialogResult::Yes);
    EXPECT_TRUE(fw::Confirm("¿Seguro?"));
    EXPECT_FALSE(fw::Confirm("¿Seguro?"));  // no answer queued: "No"
    fw::ShowMessage("m");
    fw::ShowInformation("i");
    fw::ShowWarning("w");
    ASSERT_EQ(dialogs.shown.size(), 5u);
    EXPECT_EQ(dialogs.shown[0].title, fw::AnsiText("Confirmación"));
    EXPECT_EQ(dialogs.shown[2].title, "Drovanel");
    EXPECT_EQ(dialogs.shown[3].title, fw::AnsiText("Información"));
    EXPECT_EQ(dialogs.shown[4].title, "Aviso");
}

TEST(Components, LookupByNameIgnoresLetterCaseAndReachesNestedChildren)
{
    fw::TComponent form;
    form.SetName("FPral");
    auto *panel = new fw::TComponent(&form);
    panel->SetName("Panel1");
    auto *edit = new fw::TComponent(panel);
    edit->SetName("DirectoryEdit1");
    EXPECT_EQ(form.FindComponent("directoryedit1"), edit);
    EXPECT_EQ(form.FindComponent("DIRECTORYEDIT1"), edit);
    EXPECT_EQ(form.FindComponent("panel1"), panel);
    EXPECT_EQ(form.FindComponent("Missing"), nullptr);
    EXPECT_EQ(form.FindComponent(""), nullptr);
    EXPECT_EQ(edit->Owner(), panel);
}

TEST(Components, AnIndexFindsWhatTheLookupFinds)
{
    // Two objects whose names differ only in letter case, one deeper than the other, and an
    // accented name: the index must answer each name with the object FindComponent returns.
    fw::TComponent form;
    auto *page = new fw::TComponent(&form);
    page->SetName("Page");
    auto *deep = new fw::TComponent(page);
    deep->SetName("cxLabel1");
    auto *shallow = new fw::TComponent(&form);
    shallow->SetName("CXLABEL1");
    auto *accented = new fw::TComponent(&form);
    accented->setObjectName(QString::fromUtf8("Configuraci\u00f3n1"));
    new fw::TComponent(&form);  // no name

    const fw::TComponentIndex index(&form);
    for (const std::string name :
         {"cxlabel1", "CxLabel1", "page", "Missing", "", "Configuraci\xf3n1", "CONFIGURACI\xd3N1"}) {
        EXPECT_EQ(index.Find(name), form.FindComponent(name)) << name;
    }
    EXPECT_NE(index.Find("cxlabel1"), nullptr);
    EXPECT_NE(index.Find("CONFIGURACI\xd3N1"), nullptr);
    EXPECT_EQ(fw::TComponentIndex(nullptr).Find("Page"), nullptr);
}

TEST(StringList, SortsByTheUserLocaleWithoutRegardToLetterCase)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    fw::TStringList list;
    for (const char *s : {"watcher-070101.mdb", "Zeta", "\xE1rbol", "Watcher-060101.mdb", "beta", "Alfa"})
        list.Add(s);
    list.Sort();
    const std::vector<std::string> expected = {"Alfa", "\xE1rbol", "beta", "Watcher-060101.mdb", "watcher-070101.mdb",
                                               "Zeta"};
    EXPECT_EQ(list.Items(), expected);
    EXPECT_EQ(list.IndexOf("ZETA"), 5);
    EXPECT_EQ(list.Text().substr(0, 6), "Alfa\r\n");
    QLocale::setDefault(saved);
}

TEST(Ansi, TextsAreUtf8AndOtherBytesReadAsWindows1252)
{
    // Every character, from every script, survives the way to the widgets and back.
    const std::string utf8 = "/home/ana/Música/Карты/地图/a?b*c €\x01\x7F";
    EXPECT_EQ(fw::FromAnsi(utf8), QString::fromUtf8(utf8.c_str()));
    EXPECT_EQ(fw::ToAnsi(fw::FromAnsi(utf8)), utf8);
    EXPECT_EQ(fw::ToAnsi(QString::fromUtf8("¡Año!")), "¡Año!");
    EXPECT_EQ(fw::AnsiText("¡Año!"), "¡Año!");
    // A text that is not UTF-8 (a server reply from Windows) shows as Windows-1252, every byte a
    // character.
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const QString shown = fw::FromAnsi(all);
    EXPECT_EQ(shown.size(), 255);
    EXPECT_EQ(shown.at(0x80 - 1), QChar(0x20AC));
    EXPECT_EQ(shown.at(0xF1 - 1), QChar(0xF1));
    EXPECT_EQ(fw::FromAnsi("550 Direcci\xF3n no v\xE1lida"), QString::fromUtf8("550 Dirección no válida"));
    EXPECT_EQ(fw::FromAnsi("550 Dirección no válida"), QString::fromUtf8("550 Dirección no válida"));
}

TEST(Streams, MemoryStreamReadsWritesAndSeeks)
{
    fw::TMemoryStream s;
    s.WriteBuffer("hello", 5);
    EXPECT_EQ(s.Size(), 5);
    s.SetPosition(1);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 4);
    EXPECT_STREQ(buf, "ello");
    EXPECT_EQ(s.Read(buf, 8), 0);
    EXPECT_THROW(s.ReadBuffer(buf, 1), fw::EStreamError);
}

TEST(Streams, FileStreamCreateErrorNamesTheFile)
{
    try {
        fw::TFileStream f("/nonexistent-folder/x.mdb", fw::FileMode::Create);
        FAIL();
    } catch (const fw::EFCreateError &e) {
        EXPECT_NE(e.Message().find("/nonexistent-folder/x.mdb"), std::string::npos);
        EXPECT_EQ(e.ErrorCode(), ENOENT);
    }
}

// The exclusive creators make a new file only: whatever holds the name already, a link above all,
// is left alone and refused, so nothing is ever written through a link planted under that name.
TEST(Files, ExclusiveCreationNeverTakesATakenName)
{
    // Each makes the file, writes "new" into it and gives 0, or gives the system's error code.
    const std::pair<const char *, std::function<int(const std::string &)>> creators[] = {
        {"TFileStream CreateNew",
         [](const std::string &path) {
             try {
                 fw::TFileStream f(path, fw::FileMode::CreateNew);
                 f.WriteBuffer("new", 3);
                 EXPECT_EQ(::fcntl(f.Handle(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
                 return 0;
             } catch (const fw::EFCreateError &e) {
                 EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
                 return e.ErrorCode();
             }
         }},
        {"TextFileWriter CreateNew",
         [](const std::string &path) {
             try {
                 fw::TextFileWriter out;
                 out.CreateNew(path);
                 out.Write("new");
                 out.Close();
                 return 0;
             } catch (const fw::EInOutError &e) {
                 return e.ErrorCode();
             }
         }},
        {"CreateEmptyFile",
         [](const std::string &path) {
             try {
                 fw::CreateEmptyFile(path);
                 testutil::WriteFile(path, "new");
                 return 0;
             } catch (const fw::EInOutError &e) {
                 return e.ErrorCode();
             }
         }},
    };
    struct Plant {
        const char *name;
        void (*plant)(const testutil::TempDir &dir);
        const char *kept;  // what the name reads afterwards; "new" when it was free
    } const plants[] = {
        {"free name", [](const testutil::TempDir &) {}, "new"},
        {"existing file", [](const testutil::TempDir &dir) { testutil::WriteFile(dir.file("new"), "previous"); },
         "previous"},
        {"link to a file",
         [](const testutil::TempDir &dir) { ASSERT_EQ(::symlink("victim", dir.file("new").c_str()), 0); }, "victim"},
        {"link to nothing",
         [](const testutil::TempDir &dir) { ASSERT_EQ(::symlink("absent", dir.file("new").c_str()), 0); }, ""},
    };
    const mode_t mask = ::umask(022);
    for (const auto &[creatorName, create] : creators) {
        for (const auto &p : plants) {
            SCOPED_TRACE(std::string(creatorName) + ", " + p.name);
            testutil::TempDir dir;
            testutil::WriteFile(dir.file("victim"), "victim");
            p.plant(dir);
            const bool free = std::string(p.kept) == "new";
            EXPECT_EQ(create(dir.file("new")), free ? 0 : EEXIST);
            EXPECT_EQ(testutil::ReadFile(dir.file("new")), p.kept);
            EXPECT_EQ(testutil::ReadFile(dir.file("victim")), "victim");
            EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dir.file("absent"))));
            struct stat st {};
            ASSERT_EQ(::lstat(dir.file("new").c_str(), &st), 0);
            if (free) {
                EXPECT_EQ(st.st_mode & (S_IFMT | 0777), S_IFREG | 0644u);
            }
        }
    }
    ::umask(mask);
}

}  // namespace
