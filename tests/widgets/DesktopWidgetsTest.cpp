// Dialogs, hint balloons and the folder browser as a desktop shows them: message boxes centred by
// the size they end up with, over their window or the screen, "Si" as the default of a question, a long path
// wrapped within the screen and read whole, Escape on every kind of box, balloons cut to their
// shape where no compositor draws translucency, and a folder browser that opens with its folder in view.
#include "common/TempDir.h"
#include "widgets/FileCtrl.h"
#include "widgets/Forms.h"
#include "widgets/Hints.h"
#include "widgets/QtDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

namespace {

// A test before this one may have ended the application's loop; a modal loop would then return
// at once. A loop of the application's own clears that.
void clearEndedLoop()
{
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QApplication::exec();
}

struct SeenBox {
    QRect frame;
    QString defaultButton;
    bool seen = false;
};

// Shows one dialog through the real backend and looks at it while it waits for the user.
SeenBox look(fw::DialogKind kind, const std::string &text)
{
    SeenBox seen;
    QTimer::singleShot(0, [&seen] {
        (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.seen = true;
        seen.frame = box->frameGeometry();
        if (box->defaultButton())
            seen.defaultButton = box->defaultButton()->text();
        // Enter answers with the default button.
        QTest::keyClick(box, Qt::Key_Return);
    });
    fw::QtDialogBackend backend;
    backend.Show(kind, "Drovanel", text);
    return seen;
}

SeenBox showAndLook(fw::DialogKind kind, const std::string &text)
{
    clearEndedLoop();
    return look(kind, text);
}

TEST(DesktopDialogs, MessageBoxesAreCentredByTheirFinalSize)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const std::string texts[] = {
        "Corto",
        "Es la primera vez que arranca esta aplicación\ry antes de nada deberá configurar la carpeta de descarga de "
        "las actualizaciones? Un texto tan largo que el cuadro lo parte en varias líneas al mostrarse, y con ello "
        "cambia de alto y de ancho después de haberse colocado.",
    };
    for (const auto &text : texts) {
        const SeenBox seen = showAndLook(fw::DialogKind::Warning, text);
        ASSERT_TRUE(seen.seen);
        EXPECT_LE(std::abs(seen.frame.center().x() - screen.center().x()), 1) << text;
        EXPECT_LE(std::abs(seen.frame.center().y() - screen.center().y()), 1) << text;
    }
}

// Over the window it belongs to: the active window, or else the program's main form while it is
// shown; with no window manager to place them too (nothing but the program moves its windows).
TEST(DesktopDialogs, MessageBoxesAreCentredOverTheirWindow)
{
    clearEndedLoop();  // before the windows: ending a loop closes every window
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    fw::TForm main("MainForm");
    main.MainForm = true;
    main.SetClientSize(405, 300);
    main.move(screen.left() + 100, screen.top() + 60);
    QWidget other;
    other.setGeometry(screen.right() - 600, screen.bottom() - 400, 300, 220);
    const std::string longText =
        "Este nuevo fichero de datos le servirá para cargar su Sentry III o Watcher. Un texto tan largo que el "
        "cuadro lo parte en varias líneas al mostrarse y cambia de tamaño después de haberse colocado.";

    struct Case {
        const char *name;
        bool otherActive;
        const QWidget *over;
    } const cases[] = {
        {"the main form, not active", false, &main},
        {"another window, active", true, &other},
    };
    main.show();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string &text : {std::string("¡¡Fichero recibido!!"), longText}) {
            if (c.otherActive) {
                other.show();
                other.activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
            }
            const SeenBox seen = look(fw::DialogKind::Message, text);
            ASSERT_TRUE(seen.seen);
            const QPoint centre = c.over->frameGeometry().center();
            EXPECT_LE(std::abs(seen.frame.center().x() - centre.x()), 2)
                << text << " at " << seen.frame.x() << "," << seen.frame.y() << " " << seen.frame.width() << "x"
                << seen.frame.height() << " over " << centre.x() << "," << centre.y();
            EXPECT_LE(std::abs(seen.frame.center().y() - centre.y()), 2) << text << " at " << seen.frame.y();
            EXPECT_TRUE(screen.contains(seen.frame)) << text;
        }
    }
    other.hide();
    main.hide();
}

TEST(DesktopDialogs, CtrlCCopiesTheMessage)
{
    clearEndedLoop();
    QGuiApplication::clipboard()->clear();
    QString copied;
    QTimer::singleShot(0, [&copied] {
        (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
        QWidget *box = QApplication::activeModalWidget();
        if (!box)
            return;
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        copied = QGuiApplication::clipboard()->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    fw::QtDialogBackend backend;
    const fw::DialogResult result = backend.Show(fw::DialogKind::Error, "Drovanel", "Cannot create file \"temp.mdb\".");
    EXPECT_EQ(result, fw::DialogResult::Ok) << "Ctrl+C leaves the box open";
    const QString line = QStringLiteral("---------------------------\n");
    EXPECT_EQ(copied, line + "Drovanel\n" + line + "Cannot create file \"temp.mdb\".\n" + line + "OK\n" + line);
}

TEST(DesktopDialogs, QuestionDefaultsToYes)
{
    clearEndedLoop();
    SeenBox seen;
    fw::DialogResult result = fw::DialogResult::No;
    QTimer::singleShot(0, [&seen] {
        (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.seen = true;
        seen.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        QTest::keyClick(box, Qt::Key_Return);
    });
    fw::QtDialogBackend backend;
    result = backend.Show(fw::DialogKind::Confirmation, "Confirmación", "¿Crear la carpeta?");
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.defaultButton, QStringLiteral("&Si"));
    EXPECT_EQ(result, fw::DialogResult::Yes) << "Enter accepts what the question proposes";
}

TEST(DesktopHints, BalloonIsCutToItsShape)
{
    QWidget window;
    window.resize(300, 200);
    window.show();
    fw::THintBalloon balloon(&window);
    balloon.ShowHint(QStringLiteral("Aviso Máximo\r\nAvisa con indicación del tipo de punto"), QPoint(50, 50));
    const QRegion mask = balloon.mask();
    ASSERT_FALSE(mask.isEmpty()) << "no mask: a black rectangle without a compositor";
    const QRect r = balloon.rect();
    EXPECT_TRUE(mask.contains(r.center()));
    // The rounded corners and the space beside the pointer lie outside the balloon.
    EXPECT_FALSE(mask.contains(QPoint(r.right(), r.bottom())));
    EXPECT_FALSE(mask.contains(QPoint(r.left(), r.bottom())));
    EXPECT_FALSE(mask.contains(QPoint(r.right(), r.top() + 2)));
    EXPECT_FALSE(mask.contains(QPoint(r.right(), r.top() + 12)));
}

TEST(DesktopFolderBrowser, OpensScrolledToItsFolder)
{
    testutil::TempDir dir;
    // Many folders before the start folder, so it lies far below the first screenful.
    for (int i = 0; i < 150; ++i)
        ASSERT_TRUE(
            QDir().mkpath(QString::fromStdString(dir.path()) + QStringLiteral("/a%1").arg(i, 3, 10, QChar('0'))));
    const QString start = QString::fromStdString(dir.path()) + QStringLiteral("/zz destino");
    ASSERT_TRUE(QDir().mkpath(start));

    fw::TFolderBrowser browser(nullptr, QStringLiteral("Carpeta"), start);
    browser.show();
    QTreeView *tree = browser.Tree();
    auto *model = qobject_cast<QFileSystemModel *>(tree->model());
    ASSERT_TRUE(model);
    const QModelIndex target = model->index(start);
    // Until its siblings have been read the folder is trivially in view; wait for them.
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(target.parent()) >= 151; }, 10000));
    // Once they are read (and sorted) the browser scrolls down to the folder, a posted step later.
    const auto scrolledToIt = [&] {
        return tree->verticalScrollBar()->value() > 0 &&
               tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex()));
    };
    EXPECT_TRUE(QTest::qWaitFor(scrolledToIt, 10000)) << "the start folder is out of view";
    EXPECT_EQ(browser.SelectedFolder(), start);
}

}  // namespace

namespace {

struct AnsweredBox {
    bool seen = false;
    QRect frame;
    QString name;
    QString description;
    // Whether the text, laid out in the box's label, fits the label's width (no line cut off).
    bool textFits = false;
    fw::DialogResult result = fw::DialogResult::Ok;
};

// Shows one dialog and answers it with `key` once it waits for the user.
AnsweredBox answerWith(fw::DialogKind kind, const std::string &title, const std::string &text, Qt::Key key)
{
    clearEndedLoop();
    AnsweredBox answered;
    QTimer::singleShot(0, [&answered, key] {
        (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        answered.seen = true;
        answered.frame = box->frameGeometry();
        answered.name = box->accessibleName();
        answered.description = box->accessibleDescription();
        if (const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
            const QRect room = label->contentsRect();
            answered.textFits =
                label->fontMetrics().boundingRect(room, Qt::TextWordWrap, label->text()).width() <= room.width();
        }
        QTest::keyClick(box, key);
    });
    fw::QtDialogBackend backend;
    answered.result = backend.Show(kind, title, text);
    return answered;
}

}  // namespace

TEST(DesktopDialogs, ALongPathWrapsWithinTheScreenAndIsReadWhole)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // Folders in a path, and one name wider than the screen with no place to break of its own.
    std::string name = "Descargas";
    while (QFontMetrics(QApplication::font()).horizontalAdvance(QString::fromStdString(name)) < screen.width())
        name += "_de_actualizaciones";
    const std::string folder = "/home/usuario/Escritorio/ActDrovanel/" + name;
    const std::string text = "No se puede crear el archivo \"" + folder + "/temp.mdb\".";
    const AnsweredBox answered = answerWith(fw::DialogKind::Error, "Drovanel", text, Qt::Key_Return);
    ASSERT_TRUE(answered.seen);
    EXPECT_TRUE(screen.contains(answered.frame)) << answered.frame.width() << "x" << answered.frame.height();
    EXPECT_TRUE(answered.textFits) << "the path is cut off";
    // A reader gets the text as written, without the marks where lines may break.
    EXPECT_EQ(answered.name, QStringLiteral("Drovanel"));
    EXPECT_EQ(answered.description, QString::fromStdString(text));
}

TEST(DesktopDialogs, CtrlCCopiesAWrappedPathWhole)
{
    clearEndedLoop();
    QString copied;
    QTimer::singleShot(0, [&copied] {
        (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
        QWidget *box = QApplication::activeModalWidget();
        if (!box)
            return;
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        copied = QGuiApplication::clipboard()->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    const std::string path = "/home/usuario/Escritorio/ActDrovanel/" + std::string(60, 'x') + "/temp.mdb";
    fw::QtDialogBackend backend;
    backend.Show(fw::DialogKind::Error, "Drovanel", path);
    EXPECT_TRUE(copied.contains(QString::fromStdString(path))) << copied.toStdString();
}

TEST(DesktopDialogs, EscapeClosesEveryKindOfBox)
{
    struct Case {
        fw::DialogKind kind;
        fw::DialogResult result;
    } const cases[] = {
        {fw::DialogKind::Message, fw::DialogResult::Ok},      {fw::DialogKind::Information, fw::DialogResult::Ok},
        {fw::DialogKind::Warning, fw::DialogResult::Ok},      {fw::DialogKind::Error, fw::DialogResult::Ok},
        {fw::DialogKind::Confirmation, fw::DialogResult::No},
    };
    for (const auto &c : cases) {
        const AnsweredBox answered = answerWith(c.kind, "Drovanel", "Texto", Qt::Key_Escape);
        ASSERT_TRUE(answered.seen) << static_cast<int>(c.kind);
        EXPECT_EQ(answered.result, c.result) << static_cast<int>(c.kind);
    }
}
