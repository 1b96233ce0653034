// The news window: the server's text shown as plain text in a window of the program's own, closed
// with "Aceptar" or Escape, not modal, one per owner and reused.
#include "common/Pump.h"
#include "common/TempDir.h"
#include "widgets/NewsWindow.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

QString Shown(QWidget *window)
{
    return window->findChild<QPlainTextEdit *>()->toPlainText();
}

TEST(NewsWindow, TextIsDecodedAsTheMapTextsAndControlsShowAsSpaces)
{
    struct Case {
        const char *what;
        std::string bytes;
        QString shown;
    } const cases[] = {
        {"UTF-8", "Informaci\xc3\xb3n de mapas\r\n", QString::fromUtf8("Información de mapas\n")},
        {"Windows-1252", "Informaci\xf3n \x80 5\r\n", QString::fromUtf8("Información € 5\n")},
        {"line ends: CR LF, a lone CR, a lone LF", "a\r\nb\rc\nd", "a\nb\nc\nd"},
        {"a TAB stays", "a\tb", "a\tb"},
        {"control bytes as spaces",
         std::string("a\0b\x1b[31mc\x07\x7f"
                     "d",
                     12),
         "a b [31mc  d"},
        {"C1 controls as spaces",
         "a\xc2\x85"
         "b\xc2\x9b"
         "c",
         "a b c"},
        {"an unassigned Windows-1252 byte",
         "a\x81"
         "b\xe9",
         QString::fromUtf8("a bé")},
        {"markup is text", "<html><b>x</b><script>y</script>", "<html><b>x</b><script>y</script>"},
        {"a PDF's first bytes", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n", QString::fromUtf8("%PDF-1.4\n%âãÏÓ\n")},
        {"nothing", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(fw::NewsDisplayText(c.bytes), c.shown);
        QWidget owner;
        QWidget *window = fw::ShowNews(&owner, c.bytes);
        EXPECT_EQ(Shown(window), c.shown);
    }
}

TEST(NewsWindow, IsAReadOnlyWindowOfItsOwnThatIsNotModal)
{
    QWidget owner;
    owner.show();
    QWidget *window = fw::ShowNews(&owner, "Noticias");
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Drovanel - Noticias");
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(window->findChild<QPlainTextEdit *>()->isReadOnly());
    EXPECT_TRUE(owner.isEnabled());
}

TEST(NewsWindow, AceptarAndEscapeCloseIt)
{
    struct Case {
        const char *what;
        void (*close)(QWidget *window);
    } const cases[] = {
        {"Aceptar",
         [](QWidget *window) {
             QPushButton *accept = nullptr;
             for (auto *button : window->findChildren<QPushButton *>())
                 if (button->text() == "Aceptar")
                     accept = button;
             ASSERT_TRUE(accept);
             QTest::mouseClick(accept, Qt::LeftButton);
         }},
        {"Escape in the text",
         [](QWidget *window) { QTest::keyClick(window->findChild<QPlainTextEdit *>(), Qt::Key_Escape); }},
        {"Escape on the window", [](QWidget *window) { QTest::keyClick(window, Qt::Key_Escape); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QWidget owner;
        QWidget *window = fw::ShowNews(&owner, "Noticias");
        ASSERT_TRUE(window->isVisible());
        c.close(window);
        EXPECT_TRUE(testutil::PumpUntil([&] { return !window->isVisible(); }, 2000));
    }
}

TEST(NewsWindow, OneWindowIsReusedWithTheNewText)
{
    QWidget owner;
    QWidget *first = fw::ShowNews(&owner, "primera");
    first->close();
    ASSERT_FALSE(first->isVisible());
    QWidget *second = fw::ShowNews(&owner, "segunda");
    EXPECT_EQ(second, first);
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(Shown(second), "segunda");
    EXPECT_EQ(fw::ShowNews(&owner, "tercera"), first) << "while it is open too";
    EXPECT_EQ(Shown(first), "tercera");
    EXPECT_EQ(owner.findChildren<QPlainTextEdit *>().size(), 1);
}

TEST(NewsWindow, AFileIsShownWithoutFollowingALinkAndUpToItsCap)
{
    testutil::TempDir dir;
    const std::string news = dir.file("news.txt");
    testutil::WriteFile(news, "Noticias del servidor");
    const std::string secret = dir.file("secret");
    testutil::WriteFile(secret, "not news");
    const std::string link = dir.file("link.txt");
    ASSERT_EQ(::symlink(secret.c_str(), link.c_str()), 0);

    QWidget owner;
    EXPECT_TRUE(fw::ShowNewsFile(&owner, news, 1 << 20));
    auto *text = owner.findChild<QPlainTextEdit *>();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->toPlainText(), "Noticias del servidor");
    EXPECT_TRUE(fw::ShowNewsFile(&owner, news, 8));
    EXPECT_EQ(text->toPlainText(), "Noticias");
    EXPECT_FALSE(fw::ShowNewsFile(&owner, link, 1 << 20));
    EXPECT_FALSE(fw::ShowNewsFile(&owner, dir.file("missing.txt"), 1 << 20));
    EXPECT_EQ(text->toPlainText(), "Noticias");
}

}  // namespace
