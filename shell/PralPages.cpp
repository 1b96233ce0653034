// The main form's pages: the controls of the main view and of the settings pages, built by name
// and place as the window's resources lay them out (the constructor in Pral.cpp calls in here).
#include "shell/Pral.h"

#include "framework/Ansi.h"
#include "framework/FileSystem.h"
#include "shell/DeviceModel.h"
#include "shell/Pictures.h"

namespace {

using fw::AnsiText;

// The level bars' track colour.
const QColor kTrackColor(240, 251, 255);

QPixmap picture(const char *name)
{
    return shell::Picture(name);
}

}  // namespace

fw::TButton *TFPral::addSaveButton(QWidget *page, std::string_view name)
{
    auto *button = new fw::TButton(page, name);
    button->SetBounds(146, 229, 105, 25);
    button->SetCaption("Guardar");
    button->SetGlyph(picture("save.png"));
    button->SetFlat(true);
    // The way off a settings page: a keyboard user reaches it with Tab, last on its page.
    button->OnClick = [this](fw::TObject *sender) { GuardarClick(sender); };
    return button;
}

void TFPral::buildDefaultPage(QWidget *page)
{
    Image1 = new fw::TImage(page, "Image1");
    Image1->SetBounds(1, 1, 184, 168);
    Image1->SetPicture(picture("device.png"));
    Image1->setAccessibleName(QStringLiteral("Avisador GPS Drovanel"));

    cxLabel1 = new fw::TLabel(page, "cxLabel1");
    cxLabel1->SetBounds(224, 13, 132, 69);
    cxLabel1->SetWordWrap(true);
    cxLabel1->SetAlignment(Qt::AlignHCenter | Qt::AlignTop);
    cxLabel1->SetCaption(
        AnsiText("Gestión de descargas de actualizaciones de mapas de puntos para avisadores GPS de Drovanel"));

    const auto plainLabel = [page](std::string_view name, int left, int top) {
        auto *label = new fw::TLabel(page, name);
        label->setFont(fw::SansSerifFont());
        label->move(left, top);
        return label;
    };
    Label1 = plainLabel("Label1", 240, 88);
    Label1->SetCaption(AnsiText("Última versión en PC"));
    Label1->SetFontColor(Qt::red);
    Label3 = plainLabel("Label3", 228, 104);
    Label2 = plainLabel("Label2", 231, 119);
    Label2->SetCaption(AnsiText("Última versión Publicada"));
    Label2->SetFontColor(Qt::blue);
    Label4 = plainLabel("Label4", 228, 135);

    Image2 = new fw::TImage(page, "Image2");
    Image2->SetBounds(197, 152, 172, 33);
    Image2->SetPicture(picture("newmap.png"));
    Image2->setAccessibleName(QStringLiteral("Existe nuevo mapa"));
    Image2->SetVisible(false);

    Panel2 = new fw::TPanel(page, "Panel2");
    Panel2->SetBounds(8, 209, 369, 41);
    Panel2->SetColor(Qt::white);

    cxProgressBar2 = new fw::TProgressBar(Panel2, "cxProgressBar2");
    cxProgressBar2->SetBounds(16, 10, 185, 21);
    cxProgressBar2->SetColors(QColor(128, 255, 128), QColor(255, 255, 0));
    cxProgressBar2->setAccessibleName(QStringLiteral("Progreso de la descarga"));

    cxButton1 = new fw::TButton(Panel2, "cxButton1");
    cxButton1->SetBounds(240, 8, 105, 25);
    cxButton1->SetCaption("Descargar");
    cxButton1->SetGlyph(picture("download.png"));

    FileListBox1 = new fw::TFileListBox(page, "FileListBox1");
    FileListBox1->SetBounds(208, 24, 185, 25);
    FileListBox1->SetMask("*.mdb");
    FileListBox1->SetVisible(false);
}

void TFPral::buildConfigPage(QWidget *page)
{
    cxCheckGroup1 = new fw::TGroupBox(page, "cxCheckGroup1");
    cxCheckGroup1->SetBounds(0, 0, page->width(), page->height());
    cxCheckGroup1->SetCaption(AnsiText("Configuración de la carpeta de descargas"));

    DirectoryEdit1 = new fw::TDirectoryEdit(cxCheckGroup1, "DirectoryEdit1");
    DirectoryEdit1->SetBounds(25, 103, 345, 21);
    DirectoryEdit1->SetDialogText("Carpeta de descarga de actualizaciones Drovanel");
    DirectoryEdit1->SetDefaultFolder([] { return fw::PathFromAnsi(DefaultFolder()); });
    DirectoryEdit1->SetGlyph(picture("folder.png"));
    DirectoryEdit1->SetAccessibleName(QStringLiteral("Carpeta de descargas"));

    cxButton2 = addSaveButton(cxCheckGroup1, "cxButton2");
}

void TFPral::buildGeneralPage(QWidget *page)
{
    Avisadores = new fw::TRadioGroup(page, "Avisadores");
    Avisadores->SetBounds(8, 8, 377, 65);
    Avisadores->SetCaption("Avisador GPS");
    Avisadores->SetColumns(2);
    // In the order of shell::DeviceModel: an item's index is its model.
    Avisadores->SetItems({"Sentry III", "Watcher", "Gray Rover II"});
    Avisadores->SetItemIndex(shell::kWatcher);
    Avisadores->OnChange = [this](fw::TObject *sender) { AvisadoresPropertiesChange(sender); };

    ComprobarChk = new fw::TCheckBox(page, "ComprobarChk");
    ComprobarChk->SetBounds(8, 88, 377, 21);
    ComprobarChk->SetCaption(AnsiText("Comprobar versiones al arrancar la aplicación"));
    ComprobarChk->SetChecked(true);

    Minimizar = new fw::TCheckBox(page, "Minimizar");
    Minimizar->SetBounds(8, 104, 377, 21);
    Minimizar->SetCaption(AnsiText("Ejecutar aplicación minimizada"));
    Minimizar->SetChecked(false);

    // Not a stored setting: the session's autostart entry is the record (FormCreate reads it).
    IniciarConSesion = new fw::TCheckBox(page, "IniciarConSesion");
    IniciarConSesion->SetBounds(8, 120, 377, 21);
    IniciarConSesion->SetCaption(AnsiText("Iniciar con la sesión"));
    IniciarConSesion->SetChecked(false);
    IniciarConSesion->OnChange = [this](fw::TObject *sender) { IniciarConSesionChange(sender); };

    cxButton3 = addSaveButton(page, "cxButton3");
}

fw::TLabel *TFPral::addColumnLabel(QWidget *page, std::string_view name, std::string_view caption, int left,
                                   std::string_view hint)
{
    auto *label = new fw::TLabel(page, name);
    label->setFont(fw::SansSerifFont());
    label->move(left, 9);
    label->SetCaption(caption);
    label->SetHint(hint);
    return label;
}

fw::TTrackBar *TFPral::addLevelRow(QWidget *page, std::string_view label, std::string_view labelName,
                                   std::string_view barName, int top, const std::vector<std::string> &levels)
{
    // A row label too long for one line wraps into two, centred on its bar; the rows are far
    // enough apart for that.
    auto *rowLabel = new fw::TLabel(page, labelName);
    rowLabel->setFont(fw::SansSerifFont());
    rowLabel->SetWordWrap(true);
    rowLabel->SetAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    rowLabel->SetBounds(14, top - 2, 190, 29);
    rowLabel->SetCaption(label);

    auto *bar = new fw::TTrackBar(page, barName);
    bar->SetBounds(208, top, 177, 25);
    const int max = static_cast<int>(levels.size()) - 1;
    bar->SetMin(0);
    bar->SetMax(max);
    bar->SetPosition(max);
    bar->SetTrackColor(kTrackColor);
    // A screen reader names the bar by its row and reads its level as the column's word.
    bar->SetPositionTexts(levels);
    rowLabel->SetFocusControl(bar);
    return bar;
}

namespace {

// The row labels of both level pages, top to bottom.
const char *const kRowLabels[] = {"Cámaras fijas y tramos controlados",
                                  "Inicio de Tramo Controlado",
                                  "Fin de Tramo Controlado",
                                  "Radares móviles (Cámara bidireccional)",
                                  "Puntos peligrosos",
                                  "Puntos Negros",
                                  "Zonas de niños"};

const char *const kHintSin = "Desactiva el aviso";
const char *const kHintMin = "Aviso mínimo\r\nAvisa solo con un sonido";
const char *const kHintMed = "Aviso medio\r\nAvisa con indicación del tipo de punto";
const char *const kHintMax =
    "Aviso Máximo\r\nAvisa con indicación del tipo de punto \r\ny controla la velocidad de paso por el punto.";

}  // namespace

void TFPral::buildWatcherPage(QWidget *page)
{
    cxCheckGroup2 = new fw::TGroupBox(page, "cxCheckGroup2");
    cxCheckGroup2->SetBounds(0, 0, page->width(), page->height());
    cxCheckGroup2->SetCaption("Niveles de aviso Drovanel Watcher");
    QWidget *g = cxCheckGroup2;

    cxLabel10 = addColumnLabel(g, "cxLabel10", "Sin", 211, AnsiText(kHintSin));
    cxLabel8 = addColumnLabel(g, "cxLabel8", "Min", 259, AnsiText(kHintMin));
    cxLabel9 = addColumnLabel(g, "cxLabel9", "Med", 307, AnsiText(kHintMed));
    cxLabel7 = addColumnLabel(g, "cxLabel7", AnsiText("Máx"), 358, AnsiText(kHintMax));

    const std::vector<std::string> levels{"Sin", "Min", "Med", AnsiText("Máx")};
    cxTrackBar1 = addLevelRow(g, AnsiText(kRowLabels[0]), "cxLabel2", "cxTrackBar1", 27, levels);
    cxTrackBar11 = addLevelRow(g, AnsiText(kRowLabels[1]), "cxLabel3", "cxTrackBar11", 52, levels);
    cxTrackBar12 = addLevelRow(g, AnsiText(kRowLabels[2]), "cxLabel4", "cxTrackBar12", 79, levels);
    cxTrackBar2 = addLevelRow(g, AnsiText(kRowLabels[3]), "cxLabel5", "cxTrackBar2", 111, levels);
    cxTrackBar3 = addLevelRow(g, AnsiText(kRowLabels[4]), "cxLabel6", "cxTrackBar3", 139, levels);
    cxTrackBar4 = addLevelRow(g, AnsiText(kRowLabels[5]), "cxLabel11", "cxTrackBar4", 166, levels);
    cxTrackBar5 = addLevelRow(g, AnsiText(kRowLabels[6]), "cxLabel12", "cxTrackBar5", 193, levels);

    cxButton4 = addSaveButton(g, "cxButton4");
}

void TFPral::buildSentryPage(QWidget *page)
{
    cxCheckGroup3 = new fw::TGroupBox(page, "cxCheckGroup3");
    cxCheckGroup3->SetBounds(0, 0, page->width(), page->height());
    cxCheckGroup3->SetCaption("Niveles de aviso Drovanel Sentry III");
    QWidget *g = cxCheckGroup3;

    cxLabel19 = addColumnLabel(g, "cxLabel19", "Sin", 211, AnsiText(kHintSin));
    cxLabel18 = addColumnLabel(g, "cxLabel18", "Med", 284, AnsiText(kHintMed));
    cxLabel16 = addColumnLabel(g, "cxLabel16", AnsiText("Máx"), 358, AnsiText(kHintMax));

    const std::vector<std::string> levels{"Sin", "Med", AnsiText("Máx")};
    cxTrackBar6 = addLevelRow(g, AnsiText(kRowLabels[0]), "cxLabel13", "cxTrackBar6", 27, levels);
    cxTrackBar13 = addLevelRow(g, AnsiText(kRowLabels[1]), "cxLabel14", "cxTrackBar13", 52, levels);
    cxTrackBar14 = addLevelRow(g, AnsiText(kRowLabels[2]), "cxLabel15", "cxTrackBar14", 79, levels);
    cxTrackBar7 = addLevelRow(g, AnsiText(kRowLabels[3]), "cxLabel17", "cxTrackBar7", 108, levels);
    cxTrackBar8 = addLevelRow(g, AnsiText(kRowLabels[4]), "cxLabel20", "cxTrackBar8", 136, levels);
    cxTrackBar9 = addLevelRow(g, AnsiText(kRowLabels[5]), "cxLabel21", "cxTrackBar9", 163, levels);
    cxTrackBar10 = addLevelRow(g, AnsiText(kRowLabels[6]), "cxLabel22", "cxTrackBar10", 190, levels);

    cxButton5 = addSaveButton(g, "cxButton5");
}

void TFPral::buildProxyPage(QWidget *page)
{
    Bevel1 = new fw::TBevel(page, "Bevel1");
    Bevel1->SetBounds(16, 22, 353, 243);

    Label10 = new fw::TLabel(page, "Label10");
    Label10->move(48, 56);
    Label10->SetCaption(AnsiText("Configurar PROXY (Si está vacio no se utiliza)"));

    // Right-aligned labels end just left of their fields.
    constexpr int labelRight = 114;
    Label5 = new fw::TLabel(page, "Label5");
    Label5->move(34, 87);
    Label5->SetAlignment(Qt::AlignRight | Qt::AlignTop);
    Label5->SetRightEdge(labelRight);
    Label5->SetCaption("Nombre Host:");

    ProxyServerEdit1 = new fw::TEdit(page, "ProxyServerEdit1");
    ProxyServerEdit1->SetBounds(120, 84, 233, 19);
    ProxyServerEdit1->SetFlat(true);
    Label5->SetFocusControl(ProxyServerEdit1);

    Label9 = new fw::TLabel(page, "Label9");
    Label9->move(71, 111);
    Label9->SetAlignment(Qt::AlignRight | Qt::AlignTop);
    Label9->SetRightEdge(labelRight);
    Label9->SetCaption("Puerto:");

    ProxyPortEdit1 = new fw::TSpinEdit(page, "ProxyPortEdit1");
    ProxyPortEdit1->SetBounds(120, 112, 81, 19);
    ProxyPortEdit1->SetRange(0, 65535);
    ProxyPortEdit1->SetValue(21);
    Label9->SetFocusControl(ProxyPortEdit1);

    ServerTypeRadioGroup = new fw::TRadioGroup(page, "ServerTypeRadioGroup");
    ServerTypeRadioGroup->SetBounds(32, 144, 321, 49);
    ServerTypeRadioGroup->SetCaption("Tipo Server");
    ServerTypeRadioGroup->SetColumns(2);
    ServerTypeRadioGroup->SetItems({"Usuario con no Logon", "Proxy OPEN"});
    ServerTypeRadioGroup->SetItemIndex(0);

    cxButton6 = addSaveButton(page, "cxButton6");
}
