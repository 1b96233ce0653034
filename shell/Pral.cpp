// The main form: its construction (the pages' controls are built in PralPages.cpp), the start-up,
// the caption for the device model, the menus that switch pages, the update state on the main page,
// and the handlers that forward to the form's parts.
#include "shell/Pral.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"
#include "framework/FormatSettings.h"
#include "framework/PartFile.h"
#include "shell/Autostart.h"
#include "shell/Conversion.h"
#include "shell/DeviceModel.h"
#include "shell/StoredProperties.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QTimer>

namespace {

using fw::AnsiText;

constexpr int kClientWidth = 396;
constexpr int kClientHeight = 291;
constexpr int kStatusHeight = 19;

}  // namespace

TFPral::TFPral(QWidget *parent) : fw::TForm("FPral", parent)
{
    MainForm = true;
    SetCaption("Drovanel - Descargas de actualizaciones de Mapas de Puntos 9.3");
    SetBareTitleBar();
    SetClientSize(kClientWidth, kClientHeight);
    move(160, 164);
    OnCreate = [this](fw::TObject *sender) { FormCreate(sender); };

    RxMainMenu1 = new fw::TMainMenu(this, "RxMainMenu1");
    SetMenu(RxMainMenu1);
    buildMenus();

    Notebook1 = new fw::TNotebook(Client(), "Notebook1");
    Notebook1->SetBounds(0, 0, kClientWidth, kClientHeight - kStatusHeight);
    buildDefaultPage(Notebook1->AddPage("Default"));
    buildConfigPage(Notebook1->AddPage("Config"));
    buildGeneralPage(Notebook1->AddPage("General"));
    buildWatcherPage(Notebook1->AddPage("Avisos"));
    buildSentryPage(Notebook1->AddPage("AvisosSentry3"));
    Notebook1->AddPage("AvisosSentry1");
    Notebook1->AddPage("AvisosRover2");
    buildProxyPage(Notebook1->AddPage("Proxy"));

    StatusBar1 = new fw::TStatusBar(Client(), "StatusBar1");
    StatusBar1->SetBounds(0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight);
    StatusBar1->SetPanels({300, 0});

    m_tray = std::make_unique<shell::Tray>(*this);

    // The update server's client, as the window's resources set it up; FormCreate adds the account
    // and the proxy.
    msFTPClient1 = new net::TmsFTPClient(this);
    msFTPClient1->setObjectName(QStringLiteral("msFTPClient1"));
    msFTPClient1->SetPort(21);
    msFTPClient1->SetPassiveMode(false);
    msFTPClient1->SetTransferType(net::ttBinary);
    msFTPClient1->SetServerType(net::stAuto);
    // Posted, not called: the command unwinds first, and the close then runs from the message
    // loop like the user's own.
    const QPointer<TFPral> self(this);
    m_commands = std::make_unique<shell::CommandRunner>(
        *msFTPClient1,
        // A re-check works in the folder last saved (or started with), never in text being typed
        // on the page "Config": what the user has not saved is not the user's choice yet.
        [this] { return m_check && m_check->Rechecking() ? absoluteFolder(m_savedFolder) : folderText(); },
        [self] {
            QMetaObject::invokeMethod(
                self, [self] { fw::CallFromSignal(self, [self] { self->Close(); }); }, Qt::QueuedConnection);
        });
    m_download = std::make_unique<shell::Download>(*this);
    m_check = std::make_unique<shell::UpdateCheck>(*this);
    Estado.OnChange = [this] { showUpdateState(); };
    wireEvents();

    // Last, once every control it stores exists under its name.
    FormStorage1 = new settings::TFormStorage(this);
    FormStorage1->setObjectName(QStringLiteral("FormStorage1"));
    FormStorage1->SetStoredProps(shell::MainFormStoredProps());
    FormStorage1->Loaded();
    InstallSettingsGuards();
}

TFPral::~TFPral()
{
    // While the controls still exist: saves what no save has covered since the last restore.
    fw::CallFromSignal(this, [this] { FormStorage1->FormDestroy(); });
}

void TFPral::buildMenus()
{
    Opciones1 = RxMainMenu1->Add("Opciones1", "Opciones");
    ComprobarAhora1 = Opciones1->Add("ComprobarAhora1", "Comprobar ahora");
    ComprobarAhora1->OnClick = [this](fw::TObject *sender) { ComprobarAhora1Click(sender); };
    Ocultar1 = Opciones1->Add("Ocultar1", "Ocultar");
    Ocultar1->OnClick = [this](fw::TObject *sender) { Ocultar1Click(sender); };

    Configuracion1 = RxMainMenu1->Add("Configuracion1", AnsiText("Configuración"));
    General1 = Configuracion1->Add("General1", "General");
    General1->OnClick = [this](fw::TObject *sender) { General1Click(sender); };
    ConfigurarProxy1 = Configuracion1->Add("ConfigurarProxy1", "Configurar Proxy");
    ConfigurarProxy1->OnClick = [this](fw::TObject *sender) { ConfigurarProxy1Click(sender); };
    N1 = Configuracion1->Add("N1", "-");
    Carpetadedescarga1 = Configuracion1->Add("Carpetadedescarga1", "Carpeta de descargas");
    Carpetadedescarga1->OnClick = [this](fw::TObject *sender) { Carpetadedescarga1Click(sender); };
    N2 = Configuracion1->Add("N2", "-");
    Tiposdeavisos1 = Configuracion1->Add("Tiposdeavisos1", "Tipos de Avisos");
    Tiposdeavisos1->OnClick = [this](fw::TObject *sender) { Tiposdeavisos1Click(sender); };

    Salir1 = RxMainMenu1->Add("Salir1", "Salir");
    Salir1->OnClick = [this](fw::TObject *sender) { Salir1Click(sender); };
}

std::string TFPral::DefaultFolder()
{
    return fw::JoinPath(fw::PathToAnsi(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)),
                        "ActDrovanel");
}

std::string TFPral::UpdateHost()
{
    return DROVANEL_UPDATE_HOST;
}

// ---- Start-up

void TFPral::FormCreate(fw::TObject *)
{
    fw::FormatSettings().ShortDateFormat = "dd/mm/yyyy";
    RxTrayIcon1->SetAnimated(false);
    Notebook1->SetActivePage("Default");
    RestoreSettings();
    showAutostart();
    FVersion = "9.3";
    ConfigurarFTP();
    if (!Minimizar->Checked()) {
        SetWindowStateNormal();
        Show();
    } else if (!RxTrayIcon1->Added()) {
        // Without an icon in the notification area a hidden window could never be reached again.
        setWindowState(windowState() | Qt::WindowMinimized);
        Show();
    }
    if (DirectoryEdit1->Text().empty()) {
        PrimeraVez();
        // The folder the first run made is the one the program works in from now on.
        m_savedFolder = DirectoryEdit1->Text();
    }
    // The download folder becomes the current directory (the folder of an empty folder text, and
    // the list of local maps, start there); commands work on absolute paths of their own folder.
    FileListBox1->ApplyFilePath(DirectoryEdit1->Text());
    // Part files of killed conversions go once the window is up: the sweep is no part of what the
    // user waits for. It spares this process's own part files, so a conversion that starts first
    // keeps its own.
    QTimer::singleShot(0, this, [this, folder = FileListBox1->Directory()] {
        fw::CallFromSignal(this, [&folder] { fw::RemoveLeftoverPartFiles(folder); });
    });
    BarradeEstado();
    // From the start-up on, so that a failed start-up check does not stop the later ones.
    m_check->StartRechecks();
    ShowLastCheck();
    // Started into the tray (at log-in, say, before the network is up) a failure is reported as a
    // re-check's is and retried soon: no box waits there for someone to close it.
    if (ComprobarChk->Checked())
        m_check->StartupCheck(Minimizar->Checked());
}

void TFPral::RestoreSettings()
{
    // Before anything reads the controls; a registry error ends the start-up like any other.
    FormStorage1->Restore();
    FIntervaloComprobacion =
        shell::RecheckMinutes(FormStorage1->ReadInteger(shell::kRecheckIntervalName, shell::kDefaultRecheckMinutes));
    FUltimaComprobacion = shell::ParseLastCheck(FormStorage1->ReadString(shell::kLastCheckName, ""));
    m_savedFolder = DirectoryEdit1->Text();
}

void TFPral::ConfigurarFTP()
{
    // Read here only: proxy changes count from the next start, once they have been saved.
    msFTPClient1->SetHost(UpdateHost());
    msFTPClient1->SetPassword("61840293k");
    msFTPClient1->SetUserName("drovanel");
    msFTPClient1->SetProxy(ProxyServerEdit1->Text().substr(0, 255));
    // The port field's value replaces a port given after a colon in the proxy text.
    msFTPClient1->SetProxyPort(static_cast<std::uint16_t>(ProxyPortEdit1->AsInteger()));
    msFTPClient1->SetProxyType(ServerTypeRadioGroup->ItemIndex() == 1 ? net::fpProxyOpen : net::fpUserNoLogon);
}

// First run: no download folder yet. Offers to create the default one with its placeholder map,
// whose name sorts before any published map, so the first check announces a new map.
void TFPral::PrimeraVez()
{
    if (!fw::Confirm(AnsiText("Es la primera vez que arranca esta aplicación\ry antes de nada deberá configurar la "
                              "carpeta de descarga de las actualizaciones?")))
        return;
    fw::ShowMessage("Por defecto, vamos a crear una carpeta llamada 'ActDrovanel' en el escritorio de su ordenador");
    const std::string folder = DefaultFolder();
    try {
        fw::CreateDir(folder);
        fw::ShowInformation(AnsiText("¡La carpeta ActDrovanel se ha creado correctamente!"));
        DirectoryEdit1->SetText(folder);
        DirectoryEdit1->repaint();
        fw::CreateEmptyFile(fw::JoinPath(folder, "Watcher-010101.mdb"));
    } catch (const std::exception &) {
        fw::ShowWarning("No se ha podido crear la carpeta");
    }
    Show();
    Notebook1->SetActivePage("Config");
    DirectoryEdit1->setFocus();
}

void TFPral::BarradeEstado()
{
    const char *model = nullptr;
    switch (Avisadores->ItemIndex()) {
    case shell::kSentryIII: model = "Sentry III"; break;
    case shell::kWatcher: model = "Watcher"; break;
    case shell::kGrayRoverII: model = "Gray Rover II"; break;
    default: return;
    }
    StatusBar1->SetPanelText(1, std::string("  ") + model);
    SetCaption("Drovanel - Descargas de actualizaciones " + FVersion + " [" + model + "]");
}

// ---- Pages and menus

void TFPral::cxButton2Click(fw::TObject *)
{
    Notebook1->SetActivePage("Default");
}

void TFPral::General1Click(fw::TObject *)
{
    Notebook1->SetActivePage("General");
}

void TFPral::ConfigurarProxy1Click(fw::TObject *)
{
    Notebook1->SetActivePage("Proxy");
}

void TFPral::Carpetadedescarga1Click(fw::TObject *)
{
    Notebook1->SetActivePage("Config");
}

void TFPral::Tiposdeavisos1Click(fw::TObject *)
{
    switch (Avisadores->ItemIndex()) {
    case shell::kSentryIII: Notebook1->SetActivePage("AvisosSentry3"); break;
    case shell::kWatcher: Notebook1->SetActivePage("Avisos"); break;
    default: break;  // no alert-level page for this model
    }
}

void TFPral::AvisadoresPropertiesChange(fw::TObject *)
{
    // Not while the start-up restores the device model, before the version is known: a start-up
    // that then fails keeps the caption the window was built with.
    if (!FVersion.empty())
        BarradeEstado();
}

void TFPral::IniciarConSesionChange(fw::TObject *)
{
    if (m_showingAutostart)
        return;
    try {
        shell::SetAutostart(IniciarConSesion->Checked(), QCoreApplication::applicationFilePath());
    } catch (...) {
        // The box goes back to what the session will do; the error goes to the report.
        showAutostart();
        throw;
    }
}

void TFPral::showAutostart()
{
    const QScopedValueRollback showing(m_showingAutostart, true);
    IniciarConSesion->SetChecked(shell::AutostartEnabled());
}

void TFPral::Salir1Click(fw::TObject *)
{
    saveBeforeEnding();
    fw::Application().Terminate();
}

void TFPral::saveBeforeEnding()
{
    // Once the program is told to end, an error can go to standard error only: saved now, while a
    // box can still show it, as "Guardar" shows it. The save as the window goes follows all the
    // same.
    fw::CallFromSignal(this, [this] { FormStorage1->SaveNow(); });
}

// ---- The update state on the main page

void TFPral::ShowLastCheck()
{
    if (FUltimaComprobacion)
        StatusBar1->SetPanelText(0, shell::LastCheckStatusText(*FUltimaComprobacion));
    m_tray->ShowUpdateState(Estado);
}

void TFPral::ShowFailure(const std::string &text)
{
    StatusBar1->SetPanelText(0, text);
    cxProgressBar2->SetBusy(false);
    cxProgressBar2->SetPosition(0);
    RxTrayIcon1->SetAnimated(false);
}

void TFPral::ComprobarAhora1Click(fw::TObject *)
{
    m_check->CheckNow();
}

void TFPral::showUpdateState()
{
    Label3->SetCaption(Estado.Local());
    Label4->SetCaption(Estado.Published());
    Image2->SetVisible(Estado.NewMapWaits());
    m_tray->ShowUpdateState(Estado);
}

// ---- The parts' handlers, as the window's resources wire them

void TFPral::wireEvents()
{
    // A failed download ends in the standard error report, as the button reports any handler's
    // exception.
    cxButton1->OnClick = [this](fw::TObject *sender) { Button1Click(sender); };
    OnCloseQuery = [this](fw::TObject *sender, bool &canClose) { FormCloseQuery(sender, canClose); };
    msFTPClient1->OnConnecting = [this](fw::TObject *sender) { msFTPClient1Connecting(sender); };
    msFTPClient1->OnConnected = [this](fw::TObject *sender) { msFTPClient1Connected(sender); };
    msFTPClient1->OnDisconnected = [this](fw::TObject *sender) { msFTPClient1Disconnected(sender); };
    msFTPClient1->OnDataTransferStart = [this](fw::TObject *sender) { msFTPClient1DataTransferStart(sender); };
    msFTPClient1->OnDataTransferProgress = [this](fw::TObject *sender, std::int32_t byteCount) {
        msFTPClient1DataTransferProgress(sender, byteCount);
    };
    msFTPClient1->OnDataTransferTerminate = [this](fw::TObject *sender) { msFTPClient1DataTransferTerminate(sender); };

    // "Salir", a termination signal or the end of the desktop session: a command that waits for
    // the server must not hold the program.
    const QPointer<TFPral> form(this);
    fw::Application().OnTerminate = [form](fw::TObject *) {
        if (form)
            form->m_commands->CancelForEnding();
    };
}

void TFPral::ComprobarAct1()
{
    m_check->Run();
}

void TFPral::Button1Click(fw::TObject *)
{
    // The button is off while the FTP client works; a click that comes through all the same (from
    // code, say) must not enter the client a second time.
    if (FtpBusy())
        return;
    m_commands->Run([this] { Descargar(); });
}

void TFPral::FormCloseQuery(fw::TObject *, bool &CanClose)
{
    m_commands->CloseQuery(FConectado(), CanClose);
    // "Finalizar" ends the program: its settings are saved before, where their error can show.
    if (CanClose && m_endingByUser) {
        m_endingByUser = false;
        saveBeforeEnding();
    }
}

void TFPral::msFTPClient1Connecting(fw::TObject *)
{
    StatusBar1->SetPanelText(0, "Abriendo conexion con " + msFTPClient1->Host());
}

void TFPral::msFTPClient1Connected(fw::TObject *)
{
    StatusBar1->SetPanelText(0, "Conectado");
}

void TFPral::msFTPClient1Disconnected(fw::TObject *)
{
    // The panels keep what they said; whether the connection is open is read from the client.
}

std::string TFPral::folderText() const
{
    return absoluteFolder(DirectoryEdit1->Text());
}

std::string TFPral::absoluteFolder(const std::string &text)
{
    // Never the file system's root for an empty text: the folder the program started in.
    const QString folder = text.empty() ? QDir::currentPath() : QFileInfo(fw::PathFromAnsi(text)).absoluteFilePath();
    return fw::PathToAnsi(QDir::cleanPath(folder));
}

std::string TFPral::SinVel(std::string_view linea)
{
    return shell::AlertVariant(linea, '0');
}

void TFPral::RxTrayIcon1Click(fw::TObject *, fw::TMouseButton, fw::TShiftState, int, int)
{
    m_tray->Click();
}

void TFPral::RxTrayIcon1DblClick(fw::TObject *) {}

void TFPral::Activar1Click(fw::TObject *)
{
    m_tray->Activate();
}

void TFPral::RXWebSite1Click(fw::TObject *)
{
    // Kept while a running command holds the close back: the close that follows it is this one.
    m_endingByUser = true;
    Close();
}

void TFPral::Ocultar1Click(fw::TObject *)
{
    m_tray->HideWindow();
}

void TFPral::AppEventsActivate(fw::TObject *)
{
    m_tray->ApplicationActivated();
}

void TFPral::AppEventsMinimize(fw::TObject *)
{
    m_tray->ApplicationMinimized();
}

void TFPral::AppEventsRestore(fw::TObject *)
{
    m_tray->ApplicationRestored();
}

void TFPral::PopupMenuDrawMargin(fw::TObject *Sender, QPainter &Canvas, const QRect &Rect)
{
    shell::Tray::DrawMargin(Sender, Canvas, Rect);
}

void TFPral::ActivateFromSecondStart()
{
    fw::CallFromSignal(this, [this] { m_tray->Click(); });
}
