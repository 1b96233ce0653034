// The main window as built: its components by name, their places, texts and defaults, the pages
// and the menus.
#include "PralFixture.h"
#include "common/TempDir.h"
#include "framework/Ansi.h"
#include "shell/Autostart.h"
#include "shell/Pictures.h"
#include "widgets/Hints.h"
#include "widgets/TrayIcon.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

namespace {

using fw::AnsiText;

QObject *component(const TFPral &form, const char *name)
{
    return fw::FindComponent(&form, name);
}

// The window caption as built and as BarradeEstado writes it.
const char *const kResourceCaption = "Drovanel - Descargas de actualizaciones de Mapas de Puntos 9.3";

TEST_F(PralTest, StoredSettingsHaveTheirDefaultsAndKinds)
{
    const TFPral form;
    struct Case {
        const char *name, *property;
        QVariant value;
    } const cases[] = {
        {"DirectoryEdit1", "Text", QString()},    {"Avisadores", "ItemIndex", 1},
        {"ComprobarChk", "Checked", true},        {"cxTrackBar1", "Position", 3},
        {"cxTrackBar2", "Position", 3},           {"cxTrackBar3", "Position", 3},
        {"cxTrackBar4", "Position", 3},           {"cxTrackBar5", "Position", 3},
        {"cxTrackBar6", "Position", 2},           {"cxTrackBar7", "Position", 2},
        {"cxTrackBar8", "Position", 2},           {"cxTrackBar9", "Position", 2},
        {"cxTrackBar10", "Position", 2},          {"Minimizar", "Checked", false},
        {"cxTrackBar12", "Position", 3},          {"cxTrackBar11", "Position", 3},
        {"cxTrackBar13", "Position", 2},          {"cxTrackBar14", "Position", 2},
        {"ServerTypeRadioGroup", "ItemIndex", 0}, {"ProxyServerEdit1", "Text", QString()},
        {"ProxyPortEdit1", "Value", 21.0},
    };
    for (const auto &c : cases) {
        const QObject *object = component(form, c.name);
        ASSERT_NE(object, nullptr) << c.name;
        const int index = object->metaObject()->indexOfProperty(c.property);
        ASSERT_GE(index, 0) << c.name << "." << c.property;
        EXPECT_EQ(object->metaObject()->property(index).metaType(), c.value.metaType()) << c.name << "." << c.property;
        EXPECT_EQ(object->property(c.property), c.value) << c.name << "." << c.property;
    }
}

TEST_F(PralTest, LevelBarsHaveTheirRanges)
{
    const TFPral form;
    for (const char *name :
         {"cxTrackBar1", "cxTrackBar11", "cxTrackBar12", "cxTrackBar2", "cxTrackBar3", "cxTrackBar4", "cxTrackBar5"}) {
        const auto *bar = qobject_cast<fw::TTrackBar *>(component(form, name));
        ASSERT_NE(bar, nullptr) << name;
        EXPECT_EQ(bar->Min(), 0) << name;
        EXPECT_EQ(bar->Max(), 3) << name;
        EXPECT_EQ(bar->TrackColor(), QColor(240, 251, 255)) << name;
        EXPECT_TRUE(form.Notebook1->Page("Avisos")->isAncestorOf(bar)) << name;
    }
    for (const char *name :
         {"cxTrackBar6", "cxTrackBar13", "cxTrackBar14", "cxTrackBar7", "cxTrackBar8", "cxTrackBar9", "cxTrackBar10"}) {
        const auto *bar = qobject_cast<fw::TTrackBar *>(component(form, name));
        ASSERT_NE(bar, nullptr) << name;
        EXPECT_EQ(bar->Min(), 0) << name;
        EXPECT_EQ(bar->Max(), 2) << name;
        EXPECT_TRUE(form.Notebook1->Page("AvisosSentry3")->isAncestorOf(bar)) << name;
    }
    EXPECT_EQ(form.ProxyPortEdit1->MinValue(), 0);
    EXPECT_EQ(form.ProxyPortEdit1->MaxValue(), 65535);
}

TEST_F(PralTest, ControlsSitOnTheirPagesAtTheirPlaces)
{
    const TFPral form;
    struct Case {
        const char *name, *page;
        QRect place;  // relative to the control's parent
    } const cases[] = {
        {"Image1", "Default", {1, 1, 184, 168}},
        {"cxLabel1", "Default", {224, 13, 132, 69}},
        {"Image2", "Default", {197, 152, 172, 33}},
        {"Panel2", "Default", {8, 209, 369, 41}},
        {"cxProgressBar2", "Default", {16, 10, 185, 21}},
        {"cxButton1", "Default", {240, 8, 105, 25}},
        {"FileListBox1", "Default", {208, 24, 185, 25}},
        {"cxCheckGroup1", "Config", {0, 0, 396, 272}},
        {"DirectoryEdit1", "Config", {25, 103, 345, 21}},
        {"cxButton2", "Config", {146, 229, 105, 25}},
        {"Avisadores", "General", {8, 8, 377, 65}},
        {"ComprobarChk", "General", {8, 88, 377, 21}},
        {"Minimizar", "General", {8, 104, 377, 21}},
        {"IniciarConSesion", "General", {8, 120, 377, 21}},
        {"cxButton3", "General", {146, 229, 105, 25}},
        {"cxCheckGroup2", "Avisos", {0, 0, 396, 272}},
        {"cxTrackBar1", "Avisos", {208, 27, 177, 25}},
        {"cxTrackBar11", "Avisos", {208, 52, 177, 25}},
        {"cxTrackBar12", "Avisos", {208, 79, 177, 25}},
        {"cxTrackBar2", "Avisos", {208, 111, 177, 25}},
        {"cxTrackBar3", "Avisos", {208, 139, 177, 25}},
        {"cxTrackBar4", "Avisos", {208, 166, 177, 25}},
        {"cxTrackBar5", "Avisos", {208, 193, 177, 25}},
        {"cxButton4", "Avisos", {146, 229, 105, 25}},
        {"cxCheckGroup3", "AvisosSentry3", {0, 0, 396, 272}},
        {"cxTrackBar6", "AvisosSentry3", {208, 27, 177, 25}},
        {"cxTrackBar13", "AvisosSentry3", {208, 52, 177, 25}},
        {"cxTrackBar14", "AvisosSentry3", {208, 79, 177, 25}},
        {"cxTrackBar7", "AvisosSentry3", {208, 108, 177, 25}},
        {"cxTrackBar8", "AvisosSentry3", {208, 136, 177, 25}},
        {"cxTrackBar9", "AvisosSentry3", {208, 163, 177, 25}},
        {"cxTrackBar10", "AvisosSentry3", {208, 190, 177, 25}},
        {"cxButton5", "AvisosSentry3", {146, 229, 105, 25}},
        {"Bevel1", "Proxy", {16, 22, 353, 243}},
        {"ProxyServerEdit1", "Proxy", {120, 84, 233, 19}},
        {"ProxyPortEdit1", "Proxy", {120, 112, 81, 19}},
        {"ServerTypeRadioGroup", "Proxy", {32, 144, 321, 49}},
        {"cxButton6", "Proxy", {146, 229, 105, 25}},
    };
    for (const auto &c : cases) {
        const auto *widget = qobject_cast<QWidget *>(component(form, c.name));
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_EQ(widget->geometry(), c.place) << c.name;
        EXPECT_TRUE(form.Notebook1->Page(c.page)->isAncestorOf(widget)) << c.name;
    }
    // Labels size themselves; their top left corner is their place.
    struct LabelCase {
        const char *name, *page;
        QPoint at;
    } const labels[] = {
        {"Label1", "Default", {240, 88}},         {"Label3", "Default", {228, 104}},
        {"Label2", "Default", {231, 119}},        {"Label4", "Default", {228, 135}},
        {"cxLabel10", "Avisos", {211, 9}},        {"cxLabel8", "Avisos", {259, 9}},
        {"cxLabel9", "Avisos", {307, 9}},         {"cxLabel7", "Avisos", {358, 9}},
        {"cxLabel19", "AvisosSentry3", {211, 9}}, {"cxLabel18", "AvisosSentry3", {284, 9}},
        {"cxLabel16", "AvisosSentry3", {358, 9}}, {"Label10", "Proxy", {48, 56}},
    };
    for (const auto &c : labels) {
        const auto *widget = qobject_cast<QWidget *>(component(form, c.name));
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_EQ(widget->pos(), c.at) << c.name;
        EXPECT_TRUE(form.Notebook1->Page(c.page)->isAncestorOf(widget)) << c.name;
    }
    // The right-aligned labels end where their fields begin.
    EXPECT_EQ(form.Label5->y(), 87);
    EXPECT_EQ(form.Label9->y(), 111);
    EXPECT_EQ(form.Label5->geometry().right(), form.Label9->geometry().right());
    EXPECT_LT(form.Label5->geometry().right(), form.ProxyServerEdit1->x());
    EXPECT_GT(form.Label5->x(), 0);
}

// The pictures compiled in are the PNG files' pixels, as loading each file gives them, and the
// controls show them.
TEST_F(PralTest, CompiledInPicturesAreThoseOfTheFiles)
{
    const char *const names[] = {"device.png", "newmap.png", "download.png", "save.png", "folder.png"};
    ASSERT_EQ(shell::kEmbeddedPictureCount, static_cast<int>(std::size(names)));
    for (const char *name : names) {
        const QPixmap loaded(QStringLiteral(DROVANEL_PICTURES_DIR "/") + QLatin1String(name));
        ASSERT_FALSE(loaded.isNull()) << name;
        const QPixmap compiled = shell::Picture(name);
        EXPECT_EQ(compiled.toImage(), loaded.toImage()) << name;
        EXPECT_EQ(compiled.toImage().format(), loaded.toImage().format()) << name;
        EXPECT_EQ(compiled.devicePixelRatio(), loaded.devicePixelRatio()) << name;
    }
    EXPECT_TRUE(shell::Picture("missing.png").isNull());

    const TFPral form;
    EXPECT_EQ(form.Image1->Picture().toImage(), shell::Picture("device.png").toImage());
    EXPECT_EQ(form.Image2->Picture().toImage(), shell::Picture("newmap.png").toImage());
    EXPECT_EQ(form.cxButton1->Widget()->icon().pixmap(16, 16).toImage(), shell::Picture("download.png").toImage());
    EXPECT_EQ(form.cxButton2->Widget()->icon().pixmap(16, 16).toImage(), shell::Picture("save.png").toImage());
    EXPECT_EQ(form.DirectoryEdit1->BrowseButton()->icon().pixmap(16, 16).toImage(),
              shell::Picture("folder.png").toImage());
}

// The window's icon is the tray icon's still image as its own code draws it, at every size the
// tray icon offers, and the window takes exactly those.
TEST_F(PralTest, CompiledInWindowIconIsTheTrayIconsStillImageAtEverySize)
{
    const TFPral form;
    const QIcon icon = form.windowIcon();
    QList<QSize> expected;
    for (const int side : fw::kTrayIconSizes)
        expected.append({side, side});
    EXPECT_EQ(icon.availableSizes(), expected);
    for (const int side : fw::kTrayIconSizes) {
        const QImage drawn = fw::TrayIconImage(side);
        const QImage compiled = icon.pixmap(side, side).toImage();
        EXPECT_EQ(compiled.convertToFormat(drawn.format()), drawn) << side;
    }
}

TEST_F(PralTest, TextsColoursAndHints)
{
    const TFPral form;
    EXPECT_EQ(form.cxLabel1->Caption(),
              AnsiText("Gestión de descargas de actualizaciones de mapas de puntos para avisadores GPS de Drovanel"));
    EXPECT_EQ(form.Label1->Caption(), AnsiText("Última versión en PC"));
    EXPECT_EQ(form.Label1->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(form.Label2->Caption(), AnsiText("Última versión Publicada"));
    EXPECT_EQ(form.Label2->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(form.Label3->Caption(), "");
    EXPECT_EQ(form.Label4->Caption(), "");
    EXPECT_FALSE(form.Image2->Visible());
    EXPECT_FALSE(form.Image2->Picture().isNull());
    EXPECT_FALSE(form.Image1->Picture().isNull());
    EXPECT_FALSE(form.FileListBox1->Visible());
    EXPECT_EQ(form.FileListBox1->Mask(), "*.mdb");
    EXPECT_EQ(form.cxButton1->Caption(), "Descargar");
    EXPECT_FALSE(form.cxButton1->Widget()->icon().isNull());
    for (const fw::TButton *button : {form.cxButton2, form.cxButton3, form.cxButton4, form.cxButton5, form.cxButton6}) {
        EXPECT_EQ(button->Caption(), "Guardar");
        EXPECT_TRUE(button->Widget()->isFlat());
        EXPECT_FALSE(button->Widget()->icon().isNull());
        EXPECT_NE(button->Widget()->focusPolicy() & Qt::TabFocus, 0);  // a keyboard user leaves the page
    }
    EXPECT_NE(form.cxButton1->Widget()->focusPolicy() & Qt::TabFocus, 0);

    EXPECT_EQ(form.cxCheckGroup1->Caption(), AnsiText("Configuración de la carpeta de descargas"));
    EXPECT_EQ(form.cxCheckGroup2->Caption(), "Niveles de aviso Drovanel Watcher");
    EXPECT_EQ(form.cxCheckGroup3->Caption(), "Niveles de aviso Drovanel Sentry III");
    EXPECT_EQ(form.Avisadores->Caption(), "Avisador GPS");
    ASSERT_EQ(form.Avisadores->Count(), 3);
    EXPECT_EQ(form.Avisadores->Item(0), "Sentry III");
    EXPECT_EQ(form.Avisadores->Item(1), "Watcher");
    EXPECT_EQ(form.Avisadores->Item(2), "Gray Rover II");
    EXPECT_EQ(form.ComprobarChk->Caption(), AnsiText("Comprobar versiones al arrancar la aplicación"));
    EXPECT_EQ(form.Minimizar->Caption(), AnsiText("Ejecutar aplicación minimizada"));
    EXPECT_EQ(form.IniciarConSesion->Caption(), AnsiText("Iniciar con la sesión"));
    EXPECT_FALSE(form.IniciarConSesion->Checked());
    EXPECT_EQ(form.Label10->Caption(), AnsiText("Configurar PROXY (Si está vacio no se utiliza)"));
    EXPECT_EQ(form.Label5->Caption(), "Nombre Host:");
    EXPECT_EQ(form.Label9->Caption(), "Puerto:");
    EXPECT_EQ(form.ServerTypeRadioGroup->Caption(), "Tipo Server");
    ASSERT_EQ(form.ServerTypeRadioGroup->Count(), 2);
    EXPECT_EQ(form.ServerTypeRadioGroup->Item(0), "Usuario con no Logon");
    EXPECT_EQ(form.ServerTypeRadioGroup->Item(1), "Proxy OPEN");

    const std::string sin = "Desactiva el aviso";
    const std::string min = AnsiText("Aviso mínimo\r\nAvisa solo con un sonido");
    const std::string med = AnsiText("Aviso medio\r\nAvisa con indicación del tipo de punto");
    const std::string max = AnsiText(
        "Aviso Máximo\r\nAvisa con indicación del tipo de punto \r\ny controla la velocidad de paso por el punto.");
    struct Column {
        const fw::TLabel *label;
        std::string caption, hint;
    } const columns[] = {
        {form.cxLabel10, "Sin", sin},           {form.cxLabel8, "Min", min},  {form.cxLabel9, "Med", med},
        {form.cxLabel7, AnsiText("Máx"), max},  {form.cxLabel19, "Sin", sin}, {form.cxLabel18, "Med", med},
        {form.cxLabel16, AnsiText("Máx"), max},
    };
    for (const auto &c : columns) {
        EXPECT_EQ(c.label->Caption(), c.caption) << c.label->objectName().toStdString();
        EXPECT_EQ(c.label->Hint(), c.hint) << c.label->objectName().toStdString();
    }
    const std::vector<std::string> rows = {AnsiText("Cámaras fijas y tramos controlados"),
                                           "Inicio de Tramo Controlado",
                                           "Fin de Tramo Controlado",
                                           AnsiText("Radares móviles (Cámara bidireccional)"),
                                           "Puntos peligrosos",
                                           "Puntos Negros",
                                           AnsiText("Zonas de niños")};
    for (const char *page : {"Avisos", "AvisosSentry3"}) {
        // The row labels, top to bottom, each beside its bar.
        std::vector<const fw::TLabel *> found;
        for (const fw::TLabel *label : form.Notebook1->Page(page)->findChildren<fw::TLabel *>()) {
            if (label->x() == 14)
                found.push_back(label);
        }
        std::sort(found.begin(), found.end(), [](auto *a, auto *b) { return a->y() < b->y(); });
        ASSERT_EQ(found.size(), rows.size()) << page;
        for (size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(found[i]->Caption(), rows[i]) << page << " row " << i;
    }
}

// Every text has the room it needs with the fonts at hand: nothing is cut off.
TEST_F(PralTest, EveryTextFitsItsPlace)
{
    TFPral form;
    form.Label3->SetCaption("Watcher-010101.mdb");
    form.Label4->SetCaption("Watcher-250301.mdb");
    form.Show();
    for (int i = 0; i < form.Notebook1->PageCount(); ++i) {
        QWidget *page = form.Notebook1->Page(i);
        for (const fw::TLabel *label : page->findChildren<fw::TLabel *>()) {
            const std::string name = label->objectName().toStdString();
            const QSize need = label->TextSize();
            EXPECT_LE(need.width(), label->width()) << name;
            EXPECT_LE(need.height(), label->height()) << name;
            const QRect inPage(label->mapTo(page, QPoint(0, 0)), label->size());
            EXPECT_TRUE(page->rect().contains(inPage)) << name;
        }
        for (const fw::TCheckBox *check : page->findChildren<fw::TCheckBox *>())
            EXPECT_LE(check->Widget()->sizeHint().width(), check->width()) << check->objectName().toStdString();
        for (const fw::TRadioGroup *group : page->findChildren<fw::TRadioGroup *>()) {
            for (int b = 0; b < group->Count(); ++b) {
                const QRadioButton *button = group->Button(b);
                EXPECT_LE(button->sizeHint().width(), button->width()) << group->Item(b);
                EXPECT_LE(button->sizeHint().height(), button->height()) << group->Item(b);
                EXPECT_TRUE(QRect(QPoint(0, 0), group->size()).contains(button->geometry())) << group->Item(b);
            }
        }
        for (const fw::TButton *button : page->findChildren<fw::TButton *>())
            EXPECT_LE(button->Widget()->sizeHint().width(), button->width()) << button->objectName().toStdString();
        for (const fw::TGroupBox *group : page->findChildren<fw::TGroupBox *>())
            EXPECT_LT(QFontMetrics(group->font()).horizontalAdvance(group->caption()) + 24, group->width());
    }
    EXPECT_LE(QFontMetrics(form.StatusBar1->font()).horizontalAdvance("Transferencia de datos finalizada"),
              form.StatusBar1->PanelRect(0).width() - 4);
}

// Tab goes through each page's fields in the order they stand on it (the order they were made),
// whenever each field's editor was made.
TEST_F(PralTest, TabGoesThroughEachPagesFieldsInTheirOrder)
{
    TFPral form;
    form.Show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    // The control a focused widget belongs to.
    const auto owner = [](QWidget *w) {
        for (; w; w = w->parentWidget()) {
            if (qobject_cast<fw::TControl *>(w))
                return w->objectName().toStdString();
        }
        return std::string("?");
    };
    struct Case {
        const char *page;
        std::vector<std::string> order;
    } const cases[] = {
        // The folder, its browse button, "Guardar", and round again.
        {"Config", {"DirectoryEdit1", "DirectoryEdit1", "cxButton2", "DirectoryEdit1"}},
        // The host, the port, the two kinds of server, "Guardar", and round again.
        {"Proxy",
         {"ProxyServerEdit1", "ProxyPortEdit1", "ServerTypeRadioGroup", "ServerTypeRadioGroup", "cxButton6",
          "ProxyServerEdit1"}},
        {"Default", {"cxButton1", "cxButton1"}},
        {"General",
         {"Avisadores", "Avisadores", "Avisadores", "ComprobarChk", "Minimizar", "IniciarConSesion", "cxButton3",
          "Avisadores"}},
        // The rows top to bottom, then "Guardar".
        {"Avisos",
         {"cxTrackBar1", "cxTrackBar11", "cxTrackBar12", "cxTrackBar2", "cxTrackBar3", "cxTrackBar4", "cxTrackBar5",
          "cxButton4", "cxTrackBar1"}},
        {"AvisosSentry3",
         {"cxTrackBar6", "cxTrackBar13", "cxTrackBar14", "cxTrackBar7", "cxTrackBar8", "cxTrackBar9", "cxTrackBar10",
          "cxButton5", "cxTrackBar6"}},
    };
    for (const Case &c : cases) {
        form.Notebook1->SetActivePage(c.page);
        QWidget *page = form.Notebook1->Page(c.page);
        // The page's first tab stop in the window's focus chain, which the chain runs round from.
        QWidget *first = nullptr;
        for (QWidget *w = page->nextInFocusChain(); w != page; w = w->nextInFocusChain()) {
            if (page->isAncestorOf(w) && w->isVisible() && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy()) {
                first = w;
                break;
            }
        }
        ASSERT_NE(first, nullptr) << c.page;
        first->setFocus(Qt::TabFocusReason);
        std::vector<std::string> seen;
        for (std::size_t i = 0; i < c.order.size(); ++i) {
            seen.push_back(owner(QApplication::focusWidget()));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(seen, c.order) << c.page;
    }
}

// What a screen reader finds on each page (the tree Qt's accessibility builds, without the bus):
// every control that takes the focus has a name, each level bar reads its row, and the pictures
// and the progress bar say what they are.
TEST_F(PralTest, EveryFocusableControlOfEveryPageHasANameForAScreenReader)
{
    TFPral form;
    form.Show();
    for (int index = 0; index < form.Notebook1->PageCount(); ++index) {
        form.Notebook1->SetPageIndex(index);
        QWidget *page = form.Notebook1->Page(index);
        for (QWidget *w : page->findChildren<QWidget *>()) {
            if (!w->isVisible() || !(w->focusPolicy() & Qt::TabFocus) || w->focusProxy())
                continue;
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
            ASSERT_NE(iface, nullptr);
            EXPECT_FALSE(iface->text(QAccessible::Name).isEmpty())
                << form.Notebook1->PageName(index) << ": " << w->metaObject()->className() << " in "
                << w->parentWidget()->objectName().toStdString();
        }
    }
    const auto name = [](QWidget *w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
    EXPECT_EQ(name(form.cxTrackBar2->Widget()), QStringLiteral("Radares móviles (Cámara bidireccional)"));
    EXPECT_EQ(name(form.cxTrackBar10->Widget()), QStringLiteral("Zonas de niños"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.cxTrackBar10->Widget())->text(QAccessible::Value),
              QStringLiteral("Máx"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.cxTrackBar5->Widget())->text(QAccessible::Value),
              QStringLiteral("Máx"));
    form.cxTrackBar5->SetPosition(1);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.cxTrackBar5->Widget())->text(QAccessible::Value),
              QStringLiteral("Min"));
    form.cxTrackBar10->SetPosition(1);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.cxTrackBar10->Widget())->text(QAccessible::Value),
              QStringLiteral("Med"));
    EXPECT_EQ(name(form.Image2), QStringLiteral("Existe nuevo mapa"));
    EXPECT_FALSE(name(form.Image1).isEmpty());
    EXPECT_FALSE(name(form.cxProgressBar2).isEmpty());
    EXPECT_EQ(name(form.ProxyServerEdit1->Widget()), QStringLiteral("Nombre Host"));
    EXPECT_EQ(name(form.ProxyPortEdit1->Widget()), QStringLiteral("Puerto"));
    EXPECT_EQ(name(form.DirectoryEdit1->BrowseButton()), QStringLiteral("Examinar"));
}

TEST_F(PralTest, WindowFrameMenusAndNonVisualComponents)
{
    const TFPral form;
    EXPECT_EQ(form.objectName(), "FPral");
    EXPECT_EQ(form.Client()->size(), QSize(396, 291));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.pos(), QPoint(160, 164));
    EXPECT_EQ(form.Caption(), kResourceCaption);
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinMaxButtonsHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(form.Visible());

    EXPECT_EQ(form.Notebook1->geometry(), QRect(0, 0, 396, 272));
    EXPECT_EQ(form.StatusBar1->geometry(), QRect(0, 272, 396, 19));
    ASSERT_EQ(form.StatusBar1->PanelCount(), 2);
    EXPECT_EQ(form.StatusBar1->PanelRect(1).left(), 300);
    EXPECT_EQ(form.StatusBar1->PanelText(1), "");
    const std::vector<std::string> pages = {"Default",       "Config",        "General",      "Avisos",
                                            "AvisosSentry3", "AvisosSentry1", "AvisosRover2", "Proxy"};
    ASSERT_EQ(form.Notebook1->PageCount(), static_cast<int>(pages.size()));
    for (int i = 0; i < form.Notebook1->PageCount(); ++i)
        EXPECT_EQ(form.Notebook1->PageName(i), pages[static_cast<size_t>(i)]);
    EXPECT_TRUE(form.Notebook1->Page("AvisosSentry1")->children().isEmpty());
    EXPECT_TRUE(form.Notebook1->Page("AvisosRover2")->children().isEmpty());
    EXPECT_EQ(form.Notebook1->Page(0)->palette().color(QPalette::Window), QColor(Qt::white));

    // The menu bar: two menus and a command.
    const auto top = form.RxMainMenu1->actions();
    ASSERT_EQ(top.size(), 3);
    EXPECT_EQ(top[0], form.Opciones1);
    EXPECT_EQ(top[1], form.Configuracion1);
    EXPECT_EQ(top[2], form.Salir1);
    EXPECT_EQ(form.Opciones1->caption(), "Opciones");
    EXPECT_EQ(form.Configuracion1->caption(), QString::fromUtf8("Configuración"));
    EXPECT_EQ(form.Salir1->caption(), "Salir");
    // Each with its letter for Alt, none twice in a menu.
    EXPECT_EQ(top[0]->text(), "&Opciones");
    EXPECT_EQ(top[1]->text(), QString::fromUtf8("&Configuración"));
    EXPECT_EQ(top[2]->text(), "&Salir");
    EXPECT_EQ(form.Salir1->SubMenu(), nullptr);
    std::vector<std::string> items;
    for (const QAction *a : form.Configuracion1->SubMenu()->actions()) {
        const auto *item = qobject_cast<const fw::TMenuItem *>(a);
        items.push_back(a->isSeparator() ? "-"
                                         : a->objectName().toStdString() + "=" + item->Caption() + " (" +
                                               a->text().toStdString() + ")");
    }
    EXPECT_EQ(items, (std::vector<std::string>{"General1=General (&General)",
                                               "ConfigurarProxy1=Configurar Proxy (&Configurar Proxy)", "-",
                                               "Carpetadedescarga1=Carpeta de descargas (Carpeta &de descargas)", "-",
                                               "Tiposdeavisos1=Tipos de Avisos (&Tipos de Avisos)"}));
    EXPECT_EQ(form.Opciones1->SubMenu()->actions().size(), 2);
    EXPECT_EQ(form.ComprobarAhora1->Caption(), "Comprobar ahora");
    EXPECT_EQ(form.Ocultar1->Caption(), "Ocultar");

    // The components that are not shown.
    EXPECT_EQ(component(form, "RxTrayIcon1"), form.RxTrayIcon1);
    EXPECT_EQ(form.RxTrayIcon1->Hint(), "Drovanel");
    EXPECT_TRUE(form.RxTrayIcon1->Animated());  // as built; the start-up switches it off
    EXPECT_EQ(form.RxTrayIcon1->Interval(), 150);
    EXPECT_EQ(component(form, "AppEvents"), form.AppEvents);
    EXPECT_EQ(form.AppEvents->HintPause, 400);
    EXPECT_FALSE(form.AppEvents->ShowMainForm);
    EXPECT_EQ(fw::HintManager::Instance().HintPause, 400);
    std::vector<std::string> popup;
    for (const QAction *a : form.PopupMenu->actions())
        popup.push_back(a->isSeparator() ? "-" : a->objectName().toStdString() + "=" + a->text().toStdString());
    EXPECT_EQ(popup, (std::vector<std::string>{"Activar1=Descargar", "Pausa1=Pausa", "=", "=", "=", "=",
                                               "ComprobarAhora2=Comprobar ahora", "-", "RXWebSite1=Finalizar"}));
}

TEST_F(PralTest, BarradeEstadoShowsTheDeviceModelInCaptionAndStatusBar)
{
    TFPral form;
    form.FVersion = "9.3";
    struct Case {
        int index;
        std::string panel, caption;
    } const cases[] = {
        {0, "  Sentry III", "Drovanel - Descargas de actualizaciones 9.3 [Sentry III]"},
        {1, "  Watcher", "Drovanel - Descargas de actualizaciones 9.3 [Watcher]"},
        {2, "  Gray Rover II", "Drovanel - Descargas de actualizaciones 9.3 [Gray Rover II]"},
    };
    for (const auto &c : cases) {
        form.Avisadores->SetItemIndex(c.index);  // the change handler runs BarradeEstado
        EXPECT_EQ(form.StatusBar1->PanelText(1), c.panel);
        EXPECT_EQ(form.Caption(), c.caption);
        EXPECT_EQ(form.windowTitle().toStdString(), c.caption);
    }
    // No model: both stay as they were.
    for (const int index : {-1, 3}) {
        form.Avisadores->SetItemIndex(index);
        form.BarradeEstado();
        EXPECT_EQ(form.StatusBar1->PanelText(1), "  Gray Rover II");
        EXPECT_EQ(form.Caption(), "Drovanel - Descargas de actualizaciones 9.3 [Gray Rover II]");
    }
}

TEST_F(PralTest, ChoosingAModelOnThePageChangesCaptionAndStatusAtOnce)
{
    TFPral form;
    form.FVersion = "9.3";
    form.Show();
    form.General1->Click();
    // On the indicator: a radio button takes clicks on its indicator and text only.
    QTest::mouseClick(form.Avisadores->Button(0), Qt::LeftButton, {},
                      QPoint(8, form.Avisadores->Button(0)->height() / 2));
    EXPECT_EQ(form.Avisadores->ItemIndex(), 0);
    EXPECT_EQ(form.Caption(), "Drovanel - Descargas de actualizaciones 9.3 [Sentry III]");
    EXPECT_EQ(form.StatusBar1->PanelText(1), "  Sentry III");
}

TEST_F(PralTest, MenuItemsSelectTheirPages)
{
    TFPral form;
    form.Show();
    struct Case {
        fw::TMenuItem *item;
        int model;
        const char *page;
    } const cases[] = {
        {form.General1, 1, "General"},
        {form.ConfigurarProxy1, 1, "Proxy"},
        {form.Carpetadedescarga1, 1, "Config"},
        {form.Tiposdeavisos1, 1, "Avisos"},
        {form.Tiposdeavisos1, 0, "AvisosSentry3"},
    };
    for (const auto &c : cases) {
        form.Notebook1->SetActivePage("Default");
        form.Avisadores->SetItemIndex(c.model);
        c.item->Click();
        EXPECT_EQ(form.Notebook1->ActivePage(), c.page) << c.item->objectName().toStdString();
    }
    // "Tipos de Avisos" with the Gray Rover II, or with no model, leaves the page alone.
    for (const int model : {2, -1}) {
        for (const char *from : {"Default", "Proxy"}) {
            form.Notebook1->SetActivePage(from);
            form.Avisadores->SetItemIndex(model);
            form.Tiposdeavisos1->Click();
            EXPECT_EQ(form.Notebook1->ActivePage(), from) << model;
        }
    }
}

TEST_F(PralTest, EveryGuardarGoesBackToTheMainPage)
{
    TFPral form;
    form.Show();
    struct Case {
        fw::TButton *button;
        const char *page;
    } const cases[] = {
        {form.cxButton2, "Config"},        {form.cxButton3, "General"}, {form.cxButton4, "Avisos"},
        {form.cxButton5, "AvisosSentry3"}, {form.cxButton6, "Proxy"},
    };
    for (const auto &c : cases) {
        form.Notebook1->SetActivePage(c.page);
        ASSERT_TRUE(c.button->isVisible());
        QTest::mouseClick(c.button->Widget(), Qt::LeftButton);
        EXPECT_EQ(form.Notebook1->ActivePage(), "Default") << c.page;
    }
    // Guardar keeps what the pages hold.
    form.Notebook1->SetActivePage("Avisos");
    form.cxTrackBar3->SetPosition(1);
    form.cxButton4->Click();
    EXPECT_EQ(form.cxTrackBar3->Position(), 1);
}

TEST_F(PralTest, HidingShowingAndEnding)
{
    TFPral form;
    form.Show();
    form.Ocultar1->Click();
    EXPECT_FALSE(form.Visible());
    EXPECT_FALSE(fw::Application().Terminated());
    form.Activar1->Click();
    EXPECT_TRUE(form.Visible());
    form.Salir1->Click();  // ends the application without closing the window
    EXPECT_TRUE(fw::Application().Terminated());
    EXPECT_TRUE(form.Visible());

    fw::Application().ResetTerminated();
    form.RXWebSite1->Click();  // closes the main window, which ends the application
    EXPECT_FALSE(form.Visible());
    EXPECT_TRUE(fw::Application().Terminated());
}

// "Iniciar con la sesión" writes and removes the session's autostart entry, which is its only
// record: the box is no stored setting, and a start finds it as the entry says.
TEST_F(PralTest, IniciarConLaSesionWritesAndRemovesTheAutostartEntry)
{
    const QString entry = shell::AutostartEntryPath();
    ASSERT_TRUE(entry.startsWith(m_home.path())) << entry.toStdString();
    {
        TestPral form;
        form.DirectoryEdit1->SetText(home());
        form.DoCreate();
        EXPECT_FALSE(form.IniciarConSesion->Checked());
        EXPECT_FALSE(QFileInfo::exists(entry));

        form.IniciarConSesion->SetChecked(true);
        EXPECT_TRUE(shell::AutostartEnabled());
        const std::string text = testutil::ReadFile(entry.toStdString());
        EXPECT_NE(text.find("Exec=" + shell::DesktopExecValue(QCoreApplication::applicationFilePath())),
                  std::string::npos)
            << text;
        form.GuardarClick(nullptr);
    }
    EXPECT_EQ(testutil::ReadFile(home() + "/.config/drovanel/registry.reg").find("IniciarConSesion"),
              std::string::npos);
    {
        TestPral form;
        form.DoCreate();
        EXPECT_TRUE(form.IniciarConSesion->Checked()) << "the entry is there";
        EXPECT_TRUE(QFileInfo::exists(entry)) << "showing it wrote nothing";

        form.IniciarConSesion->SetChecked(false);
        EXPECT_FALSE(QFileInfo::exists(entry));
        EXPECT_FALSE(shell::AutostartEnabled());
    }
}

}  // namespace
