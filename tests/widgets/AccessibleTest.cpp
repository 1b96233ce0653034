// What a screen reader learns of the controls through Qt's accessibility: roles, names, values
// and the tree without hidden controls (the changes announced are heard on the real bus, in
// tests/desktop).
#include "framework/Ansi.h"
#include "widgets/Accessible.h"
#include "widgets/ComCtrls.h"
#include "widgets/Controls.h"

#include <QAccessible>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <gtest/gtest.h>

namespace {

QAccessibleInterface *iface(QObject *object)
{
    return QAccessible::queryAccessibleInterface(object);
}

QString nameOf(QObject *object)
{
    return iface(object)->text(QAccessible::Name);
}

// The names of an interface's children, in order.
QStringList childNames(QAccessibleInterface *parent)
{
    QStringList names;
    for (int i = 0; i < parent->childCount(); ++i)
        names.append(parent->child(i)->text(QAccessible::Name));
    return names;
}

TEST(Accessible, SelfPaintedControlsHaveTheirRolesAndNames)
{
    QWidget page;
    fw::TLabel label(&page, "Label1");
    label.SetCaption(fw::AnsiText("Última versión en PC"));
    fw::TImage picture(&page, "Image1");
    picture.setAccessibleName(QStringLiteral("Avisador GPS Drovanel"));
    fw::TGroupBox frame(&page, "cxCheckGroup2");
    frame.SetCaption("Niveles de aviso Drovanel Watcher");
    fw::TProgressBar progress(&page, "cxProgressBar2");
    fw::TStatusBar status(&page, "StatusBar1");

    struct Case {
        QObject *object;
        QAccessible::Role role;
        QString name;
    } const cases[] = {
        {&label, QAccessible::StaticText, QStringLiteral("Última versión en PC")},
        {&picture, QAccessible::Graphic, QStringLiteral("Avisador GPS Drovanel")},
        {&frame, QAccessible::Grouping, QStringLiteral("Niveles de aviso Drovanel Watcher")},
        {&progress, QAccessible::ProgressBar, QString()},
        {&status, QAccessible::StatusBar, QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.object->objectName().toStdString());
        QAccessibleInterface *i = iface(c.object);
        ASSERT_NE(i, nullptr);
        EXPECT_EQ(i->role(), c.role);
        EXPECT_EQ(i->text(QAccessible::Name), c.name);
    }
}

TEST(Accessible, StatusPanelsAreChildrenWithTheirTexts)
{
    QWidget window;
    fw::TStatusBar status(&window, "StatusBar1");
    status.SetBounds(0, 0, 385, 19);
    status.SetPanels({300, 0});
    status.SetPanelText(0, "Conectado");
    status.SetPanelText(1, "  Watcher");

    QAccessibleInterface *bar = iface(&status);
    ASSERT_EQ(bar->childCount(), 2);
    EXPECT_EQ(childNames(bar), (QStringList{QStringLiteral("Conectado"), QStringLiteral("  Watcher")}));
    QAccessibleInterface *second = bar->child(1);
    EXPECT_EQ(second->role(), QAccessible::StaticText);
    EXPECT_EQ(second->parent(), bar);
    EXPECT_EQ(bar->indexOfChild(second), 1);
    EXPECT_EQ(bar->child(2), nullptr);
}

TEST(Accessible, ProgressBarReadsItsValueAndPart)
{
    QWidget page;
    fw::TProgressBar progress(&page, "cxProgressBar2");
    struct Case {
        int min, max, position;
        bool busy;
        QString text;
    } const cases[] = {
        {0, 200, 0, false, QStringLiteral("0 %")},
        {0, 200, 80, false, QStringLiteral("40 %")},
        {0, 200, 200, false, QStringLiteral("100 %")},
        {0, 0, 50, false, QString()},  // size unknown
        {0, 100, 30, true, QString()},
    };
    for (const auto &c : cases) {
        progress.SetMin(c.min);
        progress.SetMax(c.max);
        progress.SetBusy(c.busy);
        progress.SetPosition(c.position);
        QAccessibleInterface *i = iface(&progress);
        ASSERT_NE(i->valueInterface(), nullptr);
        EXPECT_EQ(i->valueInterface()->currentValue().toInt(), c.position);
        EXPECT_EQ(i->valueInterface()->maximumValue().toInt(), c.max);
        EXPECT_EQ(i->text(QAccessible::Value), c.text) << c.position << "/" << c.max;
    }
}

TEST(Accessible, HiddenControlsAreOutOfTheTree)
{
    QWidget window;
    fw::TNotebook notebook(&window, "Notebook1");
    QWidget *main = notebook.AddPage("Default");
    QWidget *other = notebook.AddPage("Config");
    fw::TLabel name(main, "Label4");
    name.SetCaption("mapa.mdb");
    fw::TImage mark(main, "Image2");
    mark.setAccessibleName(QStringLiteral("Existe nuevo mapa"));
    mark.SetVisible(false);
    window.show();

    QAccessibleInterface *page = iface(main);
    EXPECT_EQ(childNames(page), QStringList{QStringLiteral("mapa.mdb")});
    EXPECT_EQ(page->indexOfChild(iface(&mark)), -1);
    mark.SetVisible(true);
    EXPECT_EQ(childNames(page), (QStringList{QStringLiteral("mapa.mdb"), QStringLiteral("Existe nuevo mapa")}));
    EXPECT_EQ(page->indexOfChild(iface(&mark)), 1);
    mark.SetVisible(false);
    EXPECT_EQ(childNames(page), QStringList{QStringLiteral("mapa.mdb")});

    // Only the shown page is in the notebook's tree.
    QAccessibleInterface *pages = iface(&notebook);
    ASSERT_EQ(pages->childCount(), 1);
    EXPECT_EQ(pages->child(0)->object(), main);
    notebook.SetPageIndex(1);
    ASSERT_EQ(pages->childCount(), 1);
    EXPECT_EQ(pages->child(0)->object(), other);
}

TEST(Accessible, LevelBarIsNamedByItsRowAndReadsTheLevelsWord)
{
    QWidget page;
    fw::TLabel row(&page, "cxLabel2");
    row.SetCaption(fw::AnsiText("Cámaras fijas y tramos controlados"));
    fw::TTrackBar bar(&page, "cxTrackBar1");
    bar.SetMax(3);
    bar.SetPositionTexts({"Sin", "Min", "Med", fw::AnsiText("Máx")});
    row.SetFocusControl(&bar);

    QAccessibleInterface *slider = iface(bar.Widget());
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->role(), QAccessible::Slider);
    EXPECT_EQ(slider->text(QAccessible::Name), QStringLiteral("Cámaras fijas y tramos controlados"));
    EXPECT_TRUE(slider->state().focusable);

    const QStringList words{QStringLiteral("Sin"), QStringLiteral("Min"), QStringLiteral("Med"), QStringLiteral("Máx")};
    for (int position = 0; position <= 3; ++position) {
        bar.SetPosition(position);
        EXPECT_EQ(slider->text(QAccessible::Value), words.at(position));
        EXPECT_EQ(slider->text(QAccessible::Description), words.at(position));
        EXPECT_EQ(slider->valueInterface()->currentValue().toInt(), position);
    }
    // A reader can set the level too.
    slider->valueInterface()->setCurrentValue(1);
    EXPECT_EQ(bar.Position(), 1);

    const auto labels = slider->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.first().first->object(), &row);
    const auto labelled = iface(&row)->relations(QAccessible::Labelled);
    ASSERT_EQ(labelled.size(), 1);
    EXPECT_EQ(labelled.first().first->object(), bar.Widget());
}

TEST(Accessible, LevelBarWithoutWordsReadsItsNumber)
{
    QWidget page;
    fw::TTrackBar bar(&page, "cxTrackBar6");
    bar.SetMax(2);
    bar.SetPositionTexts({"Sin", "Med"});
    bar.SetPosition(2);
    EXPECT_EQ(iface(bar.Widget())->text(QAccessible::Value), QStringLiteral("2"));
}

TEST(Accessible, RadioGroupIsOneChoiceOfRadioButtonsInANamedGroup)
{
    QWidget page;
    fw::TRadioGroup models(&page, "Avisadores");
    models.SetBounds(8, 8, 377, 65);
    models.SetCaption("Avisador GPS");
    models.SetColumns(2);
    models.SetItems({"Sentry III", "Watcher", "Gray Rover II"});
    models.SetItemIndex(1);

    QAccessibleInterface *group = iface(models.Button(0)->parentWidget());
    EXPECT_EQ(group->role(), QAccessible::Grouping);
    EXPECT_EQ(group->text(QAccessible::Name), QStringLiteral("Avisador GPS"));
    const char *const names[] = {"Sentry III", "Watcher", "Gray Rover II"};
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface *button = iface(models.Button(i));
        EXPECT_EQ(button->role(), QAccessible::RadioButton) << i;
        EXPECT_EQ(button->text(QAccessible::Name), QString::fromLatin1(names[i]));
        EXPECT_EQ(button->state().checked, i == 1) << i;
        EXPECT_EQ(button->parent()->object(), group->object());
    }
    // A reader presses a button as a click does.
    iface(models.Button(2))->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(models.ItemIndex(), 2);
    EXPECT_TRUE(iface(models.Button(2))->state().checked);
    EXPECT_FALSE(iface(models.Button(1))->state().checked);
}

TEST(Accessible, LabelNamesTheFieldItPointsAtAlsoWhenTheEditorComesLater)
{
    QWidget page;
    fw::TLabel host(&page, "Label5");
    host.SetCaption("Nombre Host:");
    fw::TEdit edit(&page, "ProxyServerEdit1");
    host.SetFocusControl(&edit);
    // The editor is made when the field is first used, after the label named it.
    EXPECT_EQ(nameOf(edit.Widget()), QStringLiteral("Nombre Host"));

    fw::TEdit named(&page, "Other");
    named.SetAccessibleName(QStringLiteral("Servidor"));
    fw::TLabel other(&page, "Label6");
    other.SetCaption("Otro:");
    other.SetFocusControl(&named);  // a name of its own stays
    EXPECT_EQ(nameOf(named.Widget()), QStringLiteral("Servidor"));
}

}  // namespace
