// The controls' published properties, as the settings store and the program reach them.
#include "common/ScriptedDialogs.h"
#include "framework/Ansi.h"
#include "framework/Exceptions.h"
#include "widgets/ComCtrls.h"
#include "widgets/Controls.h"
#include "widgets/Menus.h"
#include "widgets/Style.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

namespace {

// The kind of a published property as Qt's meta-object tells it.
QMetaType::Type propertyType(const QObject &object, const char *name)
{
    const QMetaObject *meta = object.metaObject();
    const int index = meta->indexOfProperty(name);
    if (index < 0)
        return QMetaType::UnknownType;
    return static_cast<QMetaType::Type>(meta->property(index).metaType().id());
}

TEST(Controls, PublishedPropertiesHaveTheFrameworkNamesAndKinds)
{
    QWidget page;
    fw::TLabel label(&page, "Label1");
    fw::TButton button(&page, "cxButton1");
    fw::TCheckBox check(&page, "ComprobarChk");
    fw::TEdit edit(&page, "ProxyServerEdit1");
    fw::TSpinEdit spin(&page, "ProxyPortEdit1");
    fw::TRadioGroup radio(&page, "Avisadores");
    fw::TTrackBar track(&page, "cxTrackBar1");
    fw::TProgressBar progress(&page, "cxProgressBar2");
    fw::TGroupBox group(&page, "cxCheckGroup1");
    fw::TNotebook notebook(&page, "Notebook1");
    fw::TMenuItem item(&page, "General1", "General");

    struct Case {
        const QObject *object;
        const char *property;
        QMetaType::Type type;
    } const cases[] = {
        {&label, "Caption", QMetaType::QString},       {&button, "Caption", QMetaType::QString},
        {&check, "Caption", QMetaType::QString},       {&check, "Checked", QMetaType::Bool},
        {&edit, "Text", QMetaType::QString},           {&spin, "Value", QMetaType::Double},
        {&radio, "Caption", QMetaType::QString},       {&radio, "ItemIndex", QMetaType::Int},
        {&track, "Position", QMetaType::Int},          {&track, "Max", QMetaType::Int},
        {&progress, "Position", QMetaType::Int},       {&progress, "Max", QMetaType::Int},
        {&group, "Caption", QMetaType::QString},       {&notebook, "PageIndex", QMetaType::Int},
        {&notebook, "ActivePage", QMetaType::QString}, {&label, "Visible", QMetaType::Bool},
        {&label, "Enabled", QMetaType::Bool},          {&label, "Hint", QMetaType::QString},
        {&item, "Caption", QMetaType::QString},        {&item, "Enabled", QMetaType::Bool},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(propertyType(*c.object, c.property), c.type)
            << c.object->objectName().toStdString() << "." << c.property;
    }
}

TEST(Controls, PropertiesWrittenThroughTheMetaObjectReachTheControl)
{
    QWidget page;
    fw::TCheckBox check(&page, "Minimizar");
    fw::TEdit edit(&page, "ProxyServerEdit1");
    fw::TSpinEdit spin(&page, "ProxyPortEdit1");
    spin.SetRange(0, 65535);
    fw::TRadioGroup radio(&page, "ServerTypeRadioGroup");
    radio.SetItems({"Usuario con no Logon", "Proxy OPEN"});
    fw::TTrackBar track(&page, "cxTrackBar6");
    track.SetMax(2);

    ASSERT_TRUE(check.setProperty("Checked", true));
    EXPECT_TRUE(check.Checked());
    EXPECT_TRUE(check.Widget()->isChecked());
    ASSERT_TRUE(edit.setProperty("Text", QString::fromUtf8("proxy.espa\u00f1a")));
    EXPECT_EQ(edit.Text(), "proxy.españa");  // UTF-8 on the program's side
    ASSERT_TRUE(spin.setProperty("Value", 8021.0));
    EXPECT_EQ(spin.Value(), 8021.0);
    EXPECT_EQ(spin.Widget()->value(), 8021.0);
    ASSERT_TRUE(radio.setProperty("ItemIndex", 1));
    EXPECT_EQ(radio.ItemIndex(), 1);
    EXPECT_TRUE(radio.Button(1)->isChecked());
    ASSERT_TRUE(track.setProperty("Position", 1));
    EXPECT_EQ(track.Position(), 1);
    EXPECT_EQ(track.Widget()->value(), 1);
}

TEST(Controls, TextsCrossTheWidgetBoundaryAsUtf8)
{
    QWidget page;
    fw::TLabel label(&page, "cxLabel7");
    label.SetCaption(fw::AnsiText("Máx"));
    EXPECT_EQ(label.caption(), QString::fromUtf8("M\u00e1x"));
    label.setCaption(QString::fromUtf8("\u00daltima \u20ac"));
    EXPECT_EQ(label.Caption(), "Última €");
    // Every script arrives whole: nothing becomes "?".
    label.setCaption(QString::fromUtf8("\u0416 \u5730\u56fe"));
    EXPECT_EQ(label.Caption(), "Ж 地图");
    // Bytes that are not UTF-8 (a server reply from Windows) show as Windows-1252.
    label.SetCaption("\xDAltima \x80");
    EXPECT_EQ(label.caption(), QString::fromUtf8("\u00daltima \u20ac"));
}

TEST(Controls, VisibleAndEnabledAreTheControlsOwnFlags)
{
    QWidget window;
    auto *hiddenPage = new QWidget(&window);
    auto *label = new fw::TLabel(hiddenPage, "Label3");
    hiddenPage->hide();
    window.show();
    EXPECT_TRUE(label->Visible());  // on a hidden page, but not hidden itself
    EXPECT_FALSE(label->isVisible());
    label->SetVisible(false);
    EXPECT_FALSE(label->Visible());
    EXPECT_FALSE(label->property("Visible").toBool());
    label->setProperty("Visible", true);
    EXPECT_TRUE(label->Visible());

    hiddenPage->setEnabled(false);
    EXPECT_TRUE(label->Enabled());
    label->SetEnabled(false);
    EXPECT_FALSE(label->Enabled());
}

TEST(Controls, AutoSizeLabelFitsItsTextAndRightAlignedOneKeepsItsRightEdge)
{
    QWidget page;
    fw::TLabel label(&page, "Label4");
    label.move(228, 135);
    label.SetCaption("Watcher-010101.mdb");
    const int shortWidth = label.width();
    EXPECT_GE(label.width(), label.TextSize().width());
    EXPECT_GE(label.height(), label.TextSize().height());
    label.SetCaption("Watcher-010101.mdb and more");
    EXPECT_GT(label.width(), shortWidth);
    EXPECT_EQ(label.pos(), QPoint(228, 135));

    fw::TLabel right(&page, "Label5");
    right.move(34, 87);
    right.SetAlignment(Qt::AlignRight | Qt::AlignTop);
    right.SetRightEdge(114);
    right.SetCaption("Nombre Host:");
    EXPECT_EQ(right.geometry().right() + 1, 114);
    right.SetCaption("Host:");
    EXPECT_EQ(right.geometry().right() + 1, 114);
    EXPECT_EQ(right.y(), 87);
}

TEST(RadioGroup, ItemIndexOutsideTheItemsMeansNoneAndChangesAreReported)
{
    QWidget page;
    fw::TRadioGroup group(&page, "Avisadores");
    group.SetItems({"Sentry III", "Watcher", "Gray Rover II"});
    int changes = 0;
    group.OnChange = [&](fw::TObject *sender) {
        EXPECT_EQ(sender, &group);
        ++changes;
    };
    struct Case {
        int set, expected, changesAfter;
    } const cases[] = {
        {1, 1, 1},   {1, 1, 1},   // the same value again is no change
        {0, 0, 2},   {3, -1, 3},  // past the last item: none
        {-5, -1, 3}, {2, 2, 4},  {-1, -1, 5},
    };
    for (const auto &c : cases) {
        group.SetItemIndex(c.set);
        EXPECT_EQ(group.ItemIndex(), c.expected) << c.set;
        EXPECT_EQ(changes, c.changesAfter) << c.set;
        for (int i = 0; i < group.Count(); ++i)
            EXPECT_EQ(group.Button(i)->isChecked(), i == c.expected) << c.set << " item " << i;
    }
}

TEST(RadioGroup, AClickChoosesTheItemAndItemsFillColumnByColumn)
{
    QWidget page;
    page.resize(400, 100);
    fw::TRadioGroup group(&page, "Avisadores");
    group.SetBounds(8, 8, 377, 65);
    group.SetColumns(2);
    group.SetItems({"Sentry III", "Watcher", "Gray Rover II"});
    group.SetItemIndex(1);
    page.show();
    int changes = 0;
    group.OnChange = [&](fw::TObject *) { ++changes; };

    QTest::mouseClick(group.Button(2), Qt::LeftButton, {}, QPoint(8, group.Button(2)->height() / 2));
    EXPECT_EQ(group.ItemIndex(), 2);
    EXPECT_EQ(changes, 1);
    // Clicking the chosen item again keeps it chosen.
    QTest::mouseClick(group.Button(2), Qt::LeftButton, {}, QPoint(8, group.Button(2)->height() / 2));
    EXPECT_EQ(group.ItemIndex(), 2);
    EXPECT_TRUE(group.Button(2)->isChecked());
    EXPECT_EQ(changes, 1);

    // Three items in two columns: two in the first column, one in the second.
    EXPECT_EQ(group.Button(0)->x(), group.Button(1)->x());
    EXPECT_LT(group.Button(0)->y(), group.Button(1)->y());
    EXPECT_GT(group.Button(2)->x(), group.Button(0)->x());
    EXPECT_EQ(group.Button(2)->y(), group.Button(0)->y());

    // Items given while the group is on the screen show at once, as those given before it showed.
    group.SetItems({"Sentry III", "Watcher"});
    EXPECT_TRUE(group.Button(0)->isVisible());
    EXPECT_TRUE(group.Button(1)->isVisible());
}

// A field's editor is made when the field is first shown: what was given before shows in it, what
// is given or typed after goes through it.
TEST(Controls, FieldsShowWhatTheyWereGivenBeforeTheyFirstShowed)
{
    QWidget page;
    fw::TEdit edit(&page, "ProxyServerEdit1");
    edit.SetText("proxy.example");
    edit.SetFlat(true);
    fw::TSpinEdit spin(&page, "ProxyPortEdit1");
    spin.SetRange(0, 65535);
    spin.SetDecimals(1);
    spin.SetValue(8021.5);
    EXPECT_EQ(edit.Text(), "proxy.example");
    EXPECT_EQ(spin.Value(), 8021.5);

    page.show();
    EXPECT_TRUE(edit.Widget()->isVisible());
    EXPECT_EQ(edit.Widget()->text(), "proxy.example");
    EXPECT_FALSE(edit.Widget()->styleSheet().isEmpty());
    EXPECT_TRUE(spin.Widget()->isVisible());
    EXPECT_EQ(spin.Widget()->maximum(), 65535);
    EXPECT_EQ(spin.Widget()->decimals(), 1);
    EXPECT_EQ(spin.Widget()->value(), 8021.5);

    edit.SetText("other.example");
    EXPECT_EQ(edit.Widget()->text(), "other.example");
    edit.Widget()->setText("typed.example");
    EXPECT_EQ(edit.Text(), "typed.example");
    spin.Widget()->setValue(3128);
    EXPECT_EQ(spin.Value(), 3128);
}

TEST(SpinEdit, ValueKeepsWhatIsSetWithinTheRange)
{
    QWidget page;
    fw::TSpinEdit spin(&page, "ProxyPortEdit1");
    spin.SetRange(0, 65535);
    struct Case {
        double set, value;
        int asInteger;
    } const cases[] = {
        {21, 21, 21}, {21.5, 21.5, 22},      {21.4, 21.4, 21},      {8021, 8021, 8021},
        {-3, 0, 0},   {70000, 65535, 65535}, {1e300, 65535, 65535}, {-std::numeric_limits<double>::infinity(), 0, 0},
    };
    for (const auto &c : cases) {
        spin.SetValue(c.set);
        EXPECT_EQ(spin.Value(), c.value) << c.set;
        EXPECT_EQ(spin.AsInteger(), c.asInteger) << c.set;
    }
    spin.SetValue(21);
    spin.SetValue(std::nan(""));  // not a number: unchanged
    EXPECT_EQ(spin.Value(), 21);
}

TEST(SpinEdit, StepsByTheUserChangeTheValue)
{
    QWidget page;
    fw::TSpinEdit spin(&page, "ProxyPortEdit1");
    spin.SetRange(0, 65535);
    spin.SetValue(21);
    spin.Widget()->stepUp();
    EXPECT_EQ(spin.Value(), 22);
    spin.Widget()->stepDown();
    spin.Widget()->stepDown();
    EXPECT_EQ(spin.Value(), 20);
}

TEST(TrackBar, PositionsStayWithinTheRange)
{
    QWidget page;
    fw::TTrackBar bar(&page, "cxTrackBar1");
    bar.SetBounds(208, 27, 177, 25);
    bar.SetMin(0);
    bar.SetMax(3);
    bar.SetTrackColor(QColor(240, 251, 255));
    EXPECT_EQ(bar.TrackColor(), QColor(240, 251, 255));
    struct Case {
        int set, position;
    } const cases[] = {{3, 3}, {0, 0}, {2, 2}, {4, 3}, {-1, 0}};
    for (const auto &c : cases) {
        bar.SetPosition(c.set);
        EXPECT_EQ(bar.Position(), c.position) << c.set;
    }
    // The keyboard moves it one position at a time.
    page.show();
    bar.SetPosition(1);
    bar.Widget()->setFocus();
    QTest::keyClick(bar.Widget(), Qt::Key_Right);
    EXPECT_EQ(bar.Position(), 2);
}

TEST(ProgressBar, LightsSegmentsInProportionAndNothingForAnUnknownSize)
{
    QWidget page;
    fw::TProgressBar bar(&page, "cxProgressBar2");
    bar.SetBounds(16, 10, 185, 21);
    const int all = bar.SegmentCount();
    ASSERT_GT(all, 10);
    struct Case {
        int max, position, lit;
    } const cases[] = {
        {100, 0, 0},    {100, 50, all / 2}, {100, 100, all}, {100, 250, all},  // past the end: full
        {-1, 65536, 0},                                                        // size unknown
        {0, 10, 0},     {1000, -5, 0},
    };
    for (const auto &c : cases) {
        bar.SetMax(c.max);
        bar.SetPosition(c.position);
        EXPECT_EQ(bar.LitSegments(), c.lit) << c.max << " " << c.position;
        EXPECT_EQ(bar.Position(), c.position);  // kept as set
    }
    // Drawn without text, in the gradient's colours.
    bar.SetColors(QColor(128, 255, 128), QColor(255, 255, 0));
    bar.SetMax(100);
    bar.SetPosition(100);
    const QImage image = bar.grab().toImage();
    EXPECT_EQ(QColor(image.pixel(3, 10)), QColor(128, 255, 128));
    const QColor last(image.pixel(2 + (all - 1) * 8 + 2, 10));
    EXPECT_EQ(last, QColor(255, 255, 0));
}

TEST(ProgressBar, BusyShowsARunThatMovesWithEveryNewPosition)
{
    QWidget page;
    fw::TProgressBar bar(&page, "cxProgressBar2");
    bar.SetBounds(16, 10, 185, 21);
    bar.SetMax(-1);
    const auto lit = [&bar](int segment) {
        const QImage image = bar.grab().toImage();
        return QColor(image.pixel(2 + segment * 8 + 2, 10)) != QColor(Qt::white);
    };
    EXPECT_FALSE(lit(0)) << "an unknown size alone lights nothing";

    bar.SetBusy(true);
    EXPECT_TRUE(lit(0));
    EXPECT_FALSE(lit(10));
    bar.SetPosition(32768);
    bar.SetPosition(65536);
    EXPECT_FALSE(lit(0));
    EXPECT_TRUE(lit(2));
    bar.SetPosition(65536);  // no new position: the run stays
    EXPECT_TRUE(lit(2));

    bar.SetBusy(false);
    EXPECT_FALSE(lit(2));
}

TEST(StatusBar, FirstPanelHasItsWidthAndTheLastFillsTheRest)
{
    QWidget window;
    fw::TStatusBar bar(&window, "StatusBar1");
    bar.SetBounds(0, 272, 396, 19);
    bar.SetPanels({300, 0});
    ASSERT_EQ(bar.PanelCount(), 2);
    EXPECT_EQ(bar.PanelRect(0).left(), 0);
    EXPECT_EQ(bar.PanelRect(1).left(), 300);
    EXPECT_EQ(bar.PanelRect(1).right(), 396 - 3);
    EXPECT_EQ(bar.PanelText(1), "");
    bar.SetPanelText(1, "  Watcher");
    bar.SetPanelText(0, "Abriendo conexion con ftp.example.org");
    EXPECT_EQ(bar.PanelText(1), "  Watcher");
    EXPECT_EQ(bar.PanelText(0), "Abriendo conexion con ftp.example.org");
    EXPECT_THROW(bar.SetPanelText(2, "x"), std::out_of_range);
}

TEST(Notebook, PagesAreSelectedByNameAndOnlyOneShows)
{
    QWidget window;
    window.resize(396, 291);
    fw::TNotebook notebook(&window, "Notebook1");
    notebook.SetBounds(0, 0, 396, 272);
    for (const char *name : {"Default", "Config", "General", "Proxy"})
        notebook.AddPage(name);
    window.show();
    EXPECT_EQ(notebook.ActivePage(), "Default");
    struct Case {
        const char *select, *active;
    } const cases[] = {
        {"Config", "Config"}, {"proxy", "Proxy"},  // letter case does not matter
        {"Nowhere", "Proxy"},                      // unknown: the current page stays
        {"", "Proxy"},        {"Default", "Default"},
    };
    for (const auto &c : cases) {
        notebook.SetActivePage(c.select);
        EXPECT_EQ(notebook.ActivePage(), c.active) << c.select;
        for (int i = 0; i < notebook.PageCount(); ++i)
            EXPECT_EQ(notebook.Page(i)->isVisible(), notebook.PageName(i) == c.active) << c.select << " " << i;
    }
    ASSERT_TRUE(notebook.setProperty("PageIndex", 2));
    EXPECT_EQ(notebook.ActivePage(), "General");
    EXPECT_EQ(notebook.Page("general"), notebook.Page(2));
    EXPECT_EQ(notebook.Page("x"), nullptr);
}

TEST(Buttons, ClickRunsOnClickOnlyWhenEnabled)
{
    QWidget page;
    fw::TButton button(&page, "cxButton1");
    button.SetCaption("Descargar");
    button.SetTabStop(false);
    EXPECT_EQ(button.Widget()->focusPolicy(), Qt::ClickFocus);
    int clicks = 0;
    button.OnClick = [&](fw::TObject *sender) {
        EXPECT_EQ(sender, &button);
        ++clicks;
    };
    button.Click();
    EXPECT_EQ(clicks, 1);
    button.SetEnabled(false);
    button.Click();
    EXPECT_EQ(clicks, 1);
}

// What the user does with a control reaches its handler from inside Qt's event loop, which no
// exception may cross: a handler's exception ends in the standard error report.
TEST(Controls, AHandlersExceptionFromUserInputGoesToTheErrorReport)
{
    testutil::ScriptedDialogs dialogs;
    QWidget page;
    fw::TButton button(&page, "cxButton1");
    fw::TCheckBox check(&page, "ComprobarChk");
    fw::TTrackBar bar(&page, "cxTrackBar1");
    fw::TRadioGroup group(&page, "Avisadores");
    group.SetItems({"Sentry III", "Watcher"});
    fw::TMainMenu menu(&page, "RxMainMenu1");
    fw::TMenuItem *item = menu.Add("Salir1", "Salir");
    const auto thrower = [](const char *what) { return [what](fw::TObject *) { throw fw::Exception(what); }; };
    button.OnClick = thrower("boton");
    check.OnChange = thrower("casilla");
    bar.OnChange = thrower("barra");
    group.OnChange = thrower("grupo");
    item->OnClick = thrower("menu");
    page.show();

    QTest::mouseClick(button.Widget(), Qt::LeftButton);
    page.findChild<QCheckBox *>()->click();
    page.findChild<QSlider *>()->setValue(1);
    group.Button(1)->click();
    item->trigger();

    std::vector<std::string> texts;
    for (const auto &d : dialogs.shown) {
        EXPECT_EQ(d.kind, fw::DialogKind::Error);
        texts.push_back(d.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"boton.", "casilla.", "barra.", "grupo.", "menu."}));
    // The click that failed still chose its item.
    EXPECT_EQ(group.ItemIndex(), 1);
}

TEST(Menus, ItemsAreFoundByNameAndRunTheirHandlers)
{
    QWidget window;
    fw::TMainMenu menu(&window, "RxMainMenu1");
    fw::TMenuItem *config = menu.Add("Configuracion1", fw::AnsiText("Configuración"));
    fw::TMenuItem *general = config->Add("General1", "General");
    fw::TMenuItem *separator = config->Add("N1", "-");
    fw::TMenuItem *quit = menu.Add("Salir1", "Salir");
    EXPECT_EQ(config->Caption(), fw::AnsiText("Configuración"));
    EXPECT_TRUE(separator->isSeparator());
    ASSERT_NE(config->SubMenu(), nullptr);
    EXPECT_EQ(config->SubMenu()->actions().size(), 2);
    EXPECT_EQ(quit->SubMenu(), nullptr);  // a command of its own
    EXPECT_EQ(fw::FindComponent(&window, "general1"), general);

    std::vector<std::string> clicked;
    general->OnClick = [&](fw::TObject *sender) {
        clicked.push_back(static_cast<QObject *>(sender)->objectName().toStdString());
    };
    quit->OnClick = general->OnClick;
    general->Click();
    quit->Click();
    general->setEnabled(false);
    general->Click();
    EXPECT_EQ(clicked, (std::vector<std::string>{"General1", "Salir1"}));
}

}  // namespace

namespace {

QImage iconImage(const QIcon &icon, int side)
{
    return icon.pixmap(side, side).toImage();
}

}  // namespace

// The extension buttons' icons are read only when wanted, and are then those of the style
// underneath; the other standard icons come straight from it.
TEST(ApplicationStyle, DeferredExtensionIconsAreTheBaseStylesIcons)
{
    fw::TApplicationStyle style;
    QStyle *base = style.baseStyle();
    for (const auto pixmap : {QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_ToolBarVerticalExtensionButton,
                              QStyle::SP_DirOpenIcon, QStyle::SP_MessageBoxWarning}) {
        const QIcon ours = style.standardIcon(pixmap);
        const QIcon copy = ours;  // a copy taken before the icon was first wanted
        const QIcon theirs = base->standardIcon(pixmap);
        EXPECT_EQ(ours.isNull(), theirs.isNull()) << pixmap;
        EXPECT_EQ(ours.availableSizes(), theirs.availableSizes()) << pixmap;
        for (const int side : {8, 16, 32})
            EXPECT_EQ(iconImage(ours, side), iconImage(theirs, side)) << pixmap << " at " << side;
        EXPECT_EQ(iconImage(copy, 16), iconImage(theirs, 16)) << pixmap;
    }
}
