// The keyboard alone: the menu bar's underlined letters (none twice in a menu, the captions
// unchanged), F10, and the keys that press a button.
#include "framework/Ansi.h"
#include "widgets/Controls.h"
#include "widgets/Forms.h"
#include "widgets/Menus.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The texts of a menu's items as Qt shows them ("&" before the underlined letter).
QStringList shown(const QList<QAction *> &actions)
{
    QStringList texts;
    for (const QAction *action : actions)
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

TEST(Keyboard, MenuBarItemsGetLettersThatDoNotRepeatWithinAMenu)
{
    QWidget window;
    fw::TMainMenu bar(&window, "RxMainMenu1");
    fw::TMenuItem *options = bar.Add("Opciones1", "Opciones");
    options->Add("Ocultar1", "Ocultar");
    fw::TMenuItem *settings = bar.Add("Configuracion1", fw::AnsiText("Configuración"));
    settings->Add("General1", "General");
    settings->Add("ConfigurarProxy1", "Configurar Proxy");
    settings->Add("N1", "-");
    fw::TMenuItem *folder = settings->Add("Carpetadedescarga1", "Carpeta de descargas");
    settings->Add("N2", "-");
    settings->Add("Tiposdeavisos1", "Tipos de Avisos");
    bar.Add("Salir1", "Salir");
    // A caption of letters all taken, one with a "&" of its own, one without letters.
    fw::TMenuItem *taken = settings->Add("Taken", "Gt");
    settings->Add("Amp", "P & G");
    settings->Add("Digits", "2026");

    EXPECT_EQ(shown(bar.actions()),
              (QStringList{QStringLiteral("&Opciones"), QStringLiteral("&Configuración"), QStringLiteral("&Salir")}));
    EXPECT_EQ(shown(options->SubMenu()->actions()), QStringList{QStringLiteral("&Ocultar")});
    EXPECT_EQ(shown(settings->SubMenu()->actions()),
              (QStringList{"&General", "&Configurar Proxy", "-", "Carpeta &de descargas", "-", "&Tipos de Avisos", "Gt",
                           "&P && G", "2026"}));
    // The captions keep their words; the program and the settings store see them as given.
    EXPECT_EQ(folder->Caption(), "Carpeta de descargas");
    EXPECT_EQ(folder->property("Caption").toString(), QStringLiteral("Carpeta de descargas"));
    EXPECT_EQ(settings->SubMenu()->title(), QStringLiteral("&Configuración"));

    // A new caption frees its letter and takes another.
    taken->SetCaption("Guardar todo");
    EXPECT_EQ(taken->text(), QStringLiteral("G&uardar todo"));
    folder->SetCaption("Otra carpeta");
    EXPECT_EQ(folder->text(), QStringLiteral("&Otra carpeta"));
}

TEST(Keyboard, PopupMenusKeepTheirCaptionsAsTheyAre)
{
    QWidget owner;
    fw::TPopupMenu menu(&owner, "PopupMenu");
    menu.Add("Activar1", "Descargar");
    menu.Add("RXWebSite1", "Finalizar & salir");
    EXPECT_EQ(shown(menu.actions()), (QStringList{QStringLiteral("Descargar"), QStringLiteral("Finalizar && salir")}));
    EXPECT_EQ(qobject_cast<fw::TMenuItem *>(menu.actions().at(1))->Caption(), "Finalizar & salir");
}

TEST(Keyboard, AltAndTheLetterOpenAMenuAndF10TheFirst)
{
    struct Case {
        QKeySequence keys;
        const char *opened;
    } const cases[] = {
        {QKeySequence(Qt::ALT | Qt::Key_C), "Configuracion1"},
        {QKeySequence(Qt::ALT | Qt::Key_O), "Opciones1"},
        {QKeySequence(Qt::Key_F10), "Opciones1"},
    };
    for (const auto &c : cases) {
        fw::TForm window("Window");
        window.SetClientSize(300, 200);
        auto *bar = new fw::TMainMenu(&window, "RxMainMenu1");
        window.SetMenu(bar);
        bar->Add("Opciones1", "Opciones")->Add("Ocultar1", "Ocultar");
        bar->Add("Configuracion1", fw::AnsiText("Configuración"))->Add("General1", "General");
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keySequence(&window, c.keys);
        ASSERT_NE(bar->activeAction(), nullptr) << c.keys.toString().toStdString();
        EXPECT_EQ(bar->activeAction()->objectName().toStdString(), c.opened);
        EXPECT_TRUE(QTest::qWaitFor([bar] { return bar->activeAction()->menu()->isVisible(); }));
        bar->activeAction()->menu()->close();
    }
}

TEST(Keyboard, ReturnAndEnterPressTheFocusedButton)
{
    const Qt::Key keys[] = {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space};
    for (const Qt::Key key : keys) {
        QWidget window;
        fw::TButton button(&window, "cxButton3");
        button.SetCaption("Guardar");
        int clicks = 0;
        button.OnClick = [&clicks](fw::TObject *) { ++clicks; };
        QTest::keyClick(button.Widget(), key);
        EXPECT_EQ(clicks, 1) << key;
    }
}

}  // namespace
