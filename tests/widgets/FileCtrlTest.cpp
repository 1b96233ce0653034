// The file list and the folder field on real folders.
#include "common/TempDir.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"
#include "widgets/FileCtrl.h"

#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every test leaves the process in the directory where it found it.
class FileListTest : public ::testing::Test {
protected:
    void SetUp() override { m_cwd = fw::GetCurrentDir(); }
    void TearDown() override { fw::SetCurrentDir(m_cwd); }

    std::string m_cwd;
    testutil::TempDir m_dir;
    QWidget m_page;
};

TEST_F(FileListTest, StartsAtTheCurrentDirectoryAndAnEmptyTextChangesNothing)
{
    fw::SetCurrentDir(m_dir.path());
    fw::TFileListBox list(&m_page, "FileListBox1");
    fw::SetCurrentDir(m_cwd);
    EXPECT_EQ(list.Directory(), m_dir.path());
    list.ApplyFilePath("");
    EXPECT_EQ(list.Directory(), m_dir.path());
    EXPECT_EQ(fw::GetCurrentDir(), m_cwd);
}

TEST_F(FileListTest, ApplyFilePathEntersTheFolderThatTheTextNames)
{
    const std::string maps = m_dir.file("maps");
    fw::CreateDir(maps);
    fw::CreateDir(maps + "/sub");
    testutil::WriteFile(maps + "/Watcher-010101.mdb", "");
    struct Case {
        std::string text, directory;
    } const cases[] = {
        {maps, maps},
        {maps + "/", maps},                    // a trailing separator
        {maps + "/sub/..", maps},              // resolved as the system resolves it
        {maps + "/Watcher-010101.mdb", maps},  // an existing file: its folder
        {maps + "/*.mdb", maps},               // a mask: its folder
        {maps + "/Watch?r.mdb", maps},
        {maps + "/sub", maps + "/sub"},
        {"/", "/"},
    };
    for (const auto &c : cases) {
        fw::SetCurrentDir(m_cwd);
        fw::TFileListBox list(&m_page, "FileListBox1");
        list.ApplyFilePath(c.text);
        EXPECT_EQ(list.Directory(), c.directory) << c.text;
        EXPECT_EQ(fw::GetCurrentDir(), c.directory) << c.text;
    }
}

TEST_F(FileListTest, RelativeTextsAreTakenFromTheCurrentDirectory)
{
    fw::CreateDir(m_dir.file("maps"));
    fw::SetCurrentDir(m_dir.path());
    fw::TFileListBox list(&m_page, "FileListBox1");
    list.ApplyFilePath("maps");
    EXPECT_EQ(list.Directory(), m_dir.file("maps"));
}

TEST_F(FileListTest, AMissingFolderRaisesAnIOErrorAndLeavesEverythingAsItWas)
{
    fw::TFileListBox list(&m_page, "FileListBox1");
    const std::string before = list.Directory();
    testutil::WriteFile(m_dir.file("plain.txt"), "x");
    struct Case {
        std::string text;
        int error;
    } const cases[] = {
        {m_dir.file("gone"), ENOENT},
        {m_dir.file("gone/deeper"), ENOENT},
        {m_dir.file("plain.txt/x"), ENOTDIR},
        {"C:\\Documents and Settings\\All Users\\Escritorio\\ActDrovanel", ENOENT},
    };
    for (const auto &c : cases) {
        try {
            list.ApplyFilePath(c.text);
            ADD_FAILURE() << "no error for " << c.text;
        } catch (const fw::EInOutError &e) {
            EXPECT_EQ(e.ErrorCode(), c.error) << c.text;
            EXPECT_EQ(e.Message(), std::strerror(c.error));
        }
        EXPECT_EQ(list.Directory(), before);
        EXPECT_EQ(fw::GetCurrentDir(), m_cwd);
    }
}

TEST_F(FileListTest, ListsOrdinaryVisibleFilesMatchingTheMaskWithoutRegardToCase)
{
    const std::string d = m_dir.path();
    for (const char *name :
         {"Watcher-010101.mdb", "Watcher-250301.MDB", "b.Mdb", "notes.txt", "mdb", ".hidden.mdb", "temp.mdb.bak"})
        testutil::WriteFile(d + "/" + name, "");
    fw::CreateDir(d + "/Watcher-990101.mdb");  // a folder named like a map
    ASSERT_EQ(::symlink((d + "/Watcher-010101.mdb").c_str(), (d + "/link.mdb").c_str()), 0);
    ASSERT_EQ(::symlink((d + "/nowhere").c_str(), (d + "/broken.mdb").c_str()), 0);
    ASSERT_EQ(::mkfifo((d + "/pipe.mdb").c_str(), 0600), 0);

    fw::TFileListBox list(&m_page, "FileListBox1");
    list.SetMask("*.mdb");
    list.ApplyFilePath(d);
    EXPECT_EQ(list.Items(),
              (std::vector<std::string>{"b.Mdb", "link.mdb", "Watcher-010101.mdb", "Watcher-250301.MDB"}));
}

TEST_F(FileListTest, ReadsOnceOnFirstUseAndThenAgainInItsOwnFolder)
{
    const std::string d = m_dir.path();
    testutil::WriteFile(d + "/Watcher-010101.mdb", "");
    fw::TFileListBox list(&m_page, "FileListBox1");
    list.SetMask("*.mdb");
    list.ApplyFilePath(d);
    fw::SetCurrentDir(m_cwd);
    testutil::WriteFile(d + "/Watcher-020202.mdb", "");  // before the first use: seen
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(fw::GetCurrentDir(), d);                   // reading makes the list's folder current again
    testutil::WriteFile(d + "/Watcher-030303.mdb", "");  // after it: not seen until Update
    EXPECT_EQ(list.Count(), 2);
    list.Update();
    EXPECT_EQ(list.Count(), 3);
}

// A list that is shown shows the names it read, those read before it showed and those read after.
TEST_F(FileListTest, AShownListShowsTheNamesItRead)
{
    const std::string d = m_dir.path();
    testutil::WriteFile(d + "/Watcher-010101.mdb", "");
    fw::TFileListBox list(&m_page, "FileListBox1");
    list.SetMask("*.mdb");
    list.ApplyFilePath(d);
    ASSERT_EQ(list.Count(), 1);
    const auto shown = [&] {
        QStringList names;
        if (const auto *view = list.findChild<QListWidget *>()) {
            for (int i = 0; i < view->count(); ++i)
                names << view->item(i)->text();
        }
        return names;
    };
    m_page.show();
    EXPECT_EQ(shown(), QStringList{"Watcher-010101.mdb"});
    testutil::WriteFile(d + "/Watcher-020202.mdb", "");
    list.Update();
    EXPECT_EQ(shown(), (QStringList{"Watcher-010101.mdb", "Watcher-020202.mdb"}));
}

TEST_F(FileListTest, ReadingAFolderThatHasGoneRaisesAnIOError)
{
    const std::string d = m_dir.file("maps");
    fw::CreateDir(d);
    fw::TFileListBox list(&m_page, "FileListBox1");
    list.ApplyFilePath(d);
    fw::SetCurrentDir(m_cwd);
    ASSERT_EQ(::rmdir(d.c_str()), 0);
    EXPECT_THROW(list.Items(), fw::EInOutError);
}

TEST_F(FileListTest, ACurrentDirectoryThatWasDeletedIsReportedOnlyWhenTheListIsRead)
{
    const std::string d = m_dir.file("gone");
    fw::CreateDir(d);
    fw::SetCurrentDir(d);
    ASSERT_EQ(::rmdir(d.c_str()), 0);
    fw::TFileListBox list(&m_page, "FileListBox1");
    EXPECT_EQ(list.Directory(), "");
    EXPECT_THROW(list.Items(), fw::EInOutError);
    list.ApplyFilePath(m_dir.path());  // a folder that exists mends it
    EXPECT_EQ(list.Count(), 0);
}

class DirectoryEditTest : public FileListTest {
protected:
    // A browser that records where it starts and answers from a script.
    void script(std::optional<QString> answer)
    {
        m_edit.Browser = [this, answer](QWidget *, const QString &text, const QString &start) {
            m_texts.push_back(text);
            m_starts.push_back(start);
            return answer;
        };
    }

    fw::TDirectoryEdit m_edit{&m_page, "DirectoryEdit1"};
    std::vector<QString> m_texts, m_starts;
};

TEST_F(DirectoryEditTest, BrowserStartsAtTheFieldsFolderTheDefaultOrTheRoot)
{
    const QString existing = QString::fromStdString(m_dir.path());
    const QString fallback = QString::fromStdString(m_dir.file("ActDrovanel"));
    int asked = 0;
    m_edit.SetDefaultFolder([&] {
        ++asked;
        return fallback;
    });
    struct Case {
        QString text;
        bool defaultExists;
        QString start;
    } const cases[] = {
        {existing, false, existing},     {existing, true, existing}, {"", true, fallback}, {"", false, "/"},
        {existing + "/gone", true, "/"},  // a field naming nothing: the root
    };
    for (const auto &c : cases) {
        if (c.defaultExists)
            QDir().mkpath(fallback);
        else
            QDir(fallback).removeRecursively();
        m_edit.setText(c.text);
        EXPECT_EQ(m_edit.BrowseStart(), c.start) << c.text.toStdString() << " " << c.defaultExists;
    }
    // The default folder is asked for only with an empty field, where it is the start.
    EXPECT_EQ(asked, 2);
}

// The browse button shows the glyph it was given, or without one the style's folder icon.
TEST_F(DirectoryEditTest, BrowseButtonShowsItsGlyphOrTheStylesFolderIcon)
{
    QPixmap glyph(16, 16);
    glyph.fill(QColor(200, 30, 40));
    fw::TDirectoryEdit withGlyph(&m_page, "WithGlyph");
    withGlyph.SetGlyph(glyph);
    m_page.show();
    const QImage shown = withGlyph.BrowseButton()->icon().pixmap(16, 16).toImage();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.pixelColor(8, 8), QColor(200, 30, 40));
    EXPECT_EQ(withGlyph.BrowseButton()->iconSize(), QSize(16, 16));

    // m_edit got no glyph: once shown, the style's icon, the same picture as the style's own.
    const QIcon styleIcon = m_edit.style()->standardIcon(QStyle::SP_DirOpenIcon);
    ASSERT_FALSE(m_edit.BrowseButton()->icon().isNull());
    EXPECT_EQ(m_edit.BrowseButton()->icon().pixmap(16, 16).toImage(), styleIcon.pixmap(16, 16).toImage());
}

TEST_F(DirectoryEditTest, AChoiceReplacesTheTextAndBecomesTheStartingFolder)
{
    const QString chosen = QString::fromStdString(m_dir.file("maps"));
    QDir().mkpath(chosen);
    m_edit.SetDialogText("Carpeta de descarga de actualizaciones Drovanel");
    m_edit.setText("typed by hand");
    script(chosen + "/");
    m_edit.BrowseButton()->click();
    EXPECT_EQ(m_edit.text(), chosen);  // no trailing separator
    ASSERT_EQ(m_texts.size(), 1u);
    EXPECT_EQ(m_texts[0], "Carpeta de descarga de actualizaciones Drovanel");
    EXPECT_EQ(m_starts[0], "/");

    script(std::nullopt);  // cancelled: nothing changes
    m_edit.setText("");
    m_edit.DoBrowse();
    EXPECT_EQ(m_starts.back(), chosen);
    EXPECT_EQ(m_edit.text(), "");

    script(QString("/"));  // the root keeps its separator
    m_edit.DoBrowse();
    EXPECT_EQ(m_edit.text(), "/");
}

TEST_F(DirectoryEditTest, TypedTextIsKeptAsTyped)
{
    m_edit.Edit()->setText(" /some where/ ");
    EXPECT_EQ(m_edit.Text(), " /some where/ ");
    EXPECT_EQ(m_edit.property("Text").toString(), " /some where/ ");
}

TEST(FolderBrowser, ShowsTheTextAboveAFolderTreeStartingAtTheStartFolder)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("a-file.mdb"), "");
    const QString start = QString::fromStdString(dir.path());
    fw::TFolderBrowser browser(nullptr, "Carpeta de descarga de actualizaciones Drovanel", start);
    const auto labels = browser.findChildren<QLabel *>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->text(), "Carpeta de descarga de actualizaciones Drovanel");
    EXPECT_EQ(browser.SelectedFolder(), start);
    const auto *model = qobject_cast<QFileSystemModel *>(browser.Tree()->model());
    ASSERT_NE(model, nullptr);
    EXPECT_FALSE(model->filter().testFlag(QDir::Files));  // folders only
}

}  // namespace
