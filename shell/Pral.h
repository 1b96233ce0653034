#pragma once
// The main form: the program's only window, owner of every component of the program. Its pages
// hold the main view (names of the newest maps, the new-map mark, the download button) and the
// settings (download folder, device model, start-up options, alert levels, FTP proxy). The form
// builds the window, runs the start-up and shows the update state; what it does beyond that lives
// in four parts it owns, its handlers forwarding to them: the command runner (one FTP command at a
// time), the update check, the download and the tray.
#include "framework/Classes.h"
#include "framework/TextFile.h"
#include "net/msFTP.h"
#include "settings/Placemnt.h"
#include "shell/CommandRunner.h"
#include "shell/Download.h"
#include "shell/Tray.h"
#include "shell/UpdateCheck.h"
#include "shell/UpdateState.h"
#include "shell/Updates.h"
#include "sound/BTOdeum.h"
#include "widgets/AppEvnts.h"
#include "widgets/ComCtrls.h"
#include "widgets/Controls.h"
#include "widgets/FileCtrl.h"
#include "widgets/Forms.h"
#include "widgets/Menus.h"
#include "widgets/TrayIcon.h"

#include <QDateTime>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TFPral : public fw::TForm {
    Q_OBJECT
public:
    explicit TFPral(QWidget *parent = nullptr);
    ~TFPral() override;

    // ---- Own state, shared by the start-up, the update check, the download and the conversion.
    // The FTP control connection is open and in step: judged from the connection itself (a server
    // that said "421" and closed, a refused log-in, a session out of step all count as closed), so
    // the next command logs in afresh.
    bool FConectado() const { return msFTPClient1->Connected(); }
    std::string FVersion;  // version shown in the caption
    // The published and the local map's names (FUltimaPublicada, FUltimaLocal), the new-map mark
    // and the news shown, which the labels, the mark and the tray show.
    shell::UpdateState Estado;
    std::unique_ptr<fw::TStringList> FListaHost;   // the server's names, while a check runs
    std::unique_ptr<fw::TStringList> FListaLocal;  // the local candidates, while a check runs
    fw::TextFileReader FOrigen;                    // the conversion's source, open only while it runs
    fw::TextFileWriter FDestino;                   // the conversion's destination, open only while it runs

    // ---- Components, by the names that the settings store and the other parts look for.
    fw::TNotebook *Notebook1;
    fw::TStatusBar *StatusBar1;
    fw::TMainMenu *RxMainMenu1;
    fw::TMenuItem *Opciones1, *ComprobarAhora1, *Ocultar1;
    fw::TMenuItem *Configuracion1, *General1, *ConfigurarProxy1, *N1, *Carpetadedescarga1, *N2, *Tiposdeavisos1;
    fw::TMenuItem *Salir1;

    // Page "Default"
    fw::TImage *Image1;
    fw::TLabel *cxLabel1, *Label1, *Label3, *Label2, *Label4;
    fw::TImage *Image2;  // the new-map mark
    fw::TPanel *Panel2;
    fw::TProgressBar *cxProgressBar2;
    fw::TButton *cxButton1;
    fw::TFileListBox *FileListBox1;

    // Page "Config"
    fw::TGroupBox *cxCheckGroup1;
    fw::TDirectoryEdit *DirectoryEdit1;
    fw::TButton *cxButton2;

    // Page "General"
    fw::TRadioGroup *Avisadores;
    fw::TCheckBox *ComprobarChk, *Minimizar, *IniciarConSesion;
    fw::TButton *cxButton3;

    // Page "Avisos" (Watcher): rows for the point types, top to bottom.
    fw::TGroupBox *cxCheckGroup2;
    fw::TLabel *cxLabel10, *cxLabel8, *cxLabel9, *cxLabel7;
    fw::TTrackBar *cxTrackBar1, *cxTrackBar11, *cxTrackBar12, *cxTrackBar2, *cxTrackBar3, *cxTrackBar4, *cxTrackBar5;
    fw::TButton *cxButton4;

    // Page "AvisosSentry3" (Sentry III)
    fw::TGroupBox *cxCheckGroup3;
    fw::TLabel *cxLabel19, *cxLabel18, *cxLabel16;
    fw::TTrackBar *cxTrackBar6, *cxTrackBar13, *cxTrackBar14, *cxTrackBar7, *cxTrackBar8, *cxTrackBar9, *cxTrackBar10;
    fw::TButton *cxButton5;

    // Page "Proxy"
    fw::TBevel *Bevel1;
    fw::TLabel *Label10, *Label5, *Label9;
    fw::TEdit *ProxyServerEdit1;
    fw::TSpinEdit *ProxyPortEdit1;
    fw::TRadioGroup *ServerTypeRadioGroup;
    fw::TButton *cxButton6;

    // Not shown in the window
    fw::TRxTrayIcon *RxTrayIcon1;
    fw::TAppEvents *AppEvents;
    fw::TRxPopupMenu *PopupMenu;
    fw::TMenuItem *Activar1, *Pausa1, *ComprobarAhora2, *N3, *RXWebSite1;
    settings::TFormStorage *FormStorage1;
    net::TmsFTPClient *msFTPClient1;
    sound::TBTBeeper *BTBeeper1;

    // ---- Handlers
    void FormCreate(fw::TObject *Sender);
    void cxButton2Click(fw::TObject *Sender);  // every "Guardar": back to the main page
    void GuardarClick(fw::TObject *Sender);    // ... and the settings saved at once
    void General1Click(fw::TObject *Sender);
    void ConfigurarProxy1Click(fw::TObject *Sender);
    void Carpetadedescarga1Click(fw::TObject *Sender);
    void Tiposdeavisos1Click(fw::TObject *Sender);
    void AvisadoresPropertiesChange(fw::TObject *Sender);
    // "Iniciar con la sesión": writes or removes the session's autostart entry for this program.
    void IniciarConSesionChange(fw::TObject *Sender);
    void Ocultar1Click(fw::TObject *Sender);
    void Salir1Click(fw::TObject *Sender);
    void Activar1Click(fw::TObject *Sender);
    void RXWebSite1Click(fw::TObject *Sender);
    // Tray icon, tray menu and application events.
    void RxTrayIcon1Click(fw::TObject *Sender, fw::TMouseButton Button, fw::TShiftState Shift, int X, int Y);
    void RxTrayIcon1DblClick(fw::TObject *Sender);
    void AppEventsActivate(fw::TObject *Sender);
    void AppEventsMinimize(fw::TObject *Sender);
    void AppEventsRestore(fw::TObject *Sender);
    void PopupMenuDrawMargin(fw::TObject *Sender, QPainter &Canvas, const QRect &Rect);

    // Another start of the program asks this one to come forward: as a click on the tray icon.
    void ActivateFromSecondStart();
    // The program's own desktop notification (shell/Notifications.h).
    shell::TDesktopNotifier &Notifications() const { return m_tray->Notifier(); }
    void HideTaskbarEntry() { m_tray->HideTaskbarEntry(); }
    void ShowTaskbarEntry() { m_tray->ShowTaskbarEntry(); }
    bool TaskbarEntryHidden() const { return m_tray->TaskbarEntryHidden(); }

    // ---- While resident: minutes between the re-checks (0: none), from the stored settings, the
    // time of the last successful check (stored as "UltimaComprobacion"), and the re-checks' timer,
    // armed from the start-up while the interval is not 0.
    int FIntervaloComprobacion = shell::kDefaultRecheckMinutes;
    std::optional<QDateTime> FUltimaComprobacion;
    QTimer *RecheckTimer() const { return m_check->RecheckTimer(); }
    const shell::TRecheckSchedule &Rechecks() const { return m_check->Schedule(); }
    void RecheckTimerTimer() { m_check->Recheck(); }
    bool Recomprobando() const { return m_check->Rechecking(); }
    // "Comprobar ahora" (tray menu and "Opciones"): the check at once, once the program is free.
    void ComprobarAhora1Click(fw::TObject *Sender);
    bool ComprobacionPendiente() const { return m_check->CheckNowPending(); }
    // The last successful check on the status bar and in the tooltip.
    void ShowLastCheck();
    // A command failed: the status bar says so and the progress bar is empty.
    void ShowFailure(const std::string &text);

    // Caption and second status panel for the chosen device model.
    void BarradeEstado();
    // The update check (shell/UpdateCheck.h); tests count it instead.
    virtual void ComprobarAct1();
    shell::UpdateCheck &Check() { return *m_check; }

    // ---- The download and the FTP client's events (shell/Download.h)
    void Button1Click(fw::TObject *Sender);  // "Descargar"
    void Descargar() { m_download->Run(); }
    void FormCloseQuery(fw::TObject *Sender, bool &CanClose);
    void msFTPClient1Connecting(fw::TObject *Sender);
    void msFTPClient1Connected(fw::TObject *Sender);
    void msFTPClient1Disconnected(fw::TObject *Sender);
    void msFTPClient1DataTransferStart(fw::TObject *) { m_download->TransferStarted(); }
    void msFTPClient1DataTransferProgress(fw::TObject *, std::int32_t ByteCount)
    {
        m_download->TransferProgress(ByteCount);
    }
    void msFTPClient1DataTransferTerminate(fw::TObject *) { m_download->TransferEnded(); }
    void Transformar(const std::string &Carpeta) { m_download->Convert(Carpeta); }

    // ---- The FTP commands (shell/CommandRunner.h)
    shell::CommandRunner &Commands() { return *m_commands; }
    bool FtpBusy() const { return m_commands->Busy(); }
    bool Ending() const { return m_commands->Ending(); }
    // The download folder, made absolute; an empty folder text is the folder the program started
    // in (the current directory). While a command runs, the folder it took when it started.
    std::string CarpetaDescarga() const { return m_commands->Folder(); }
    // A record with its alert character replaced by "0": the point without its speed warning.
    static std::string SinVel(std::string_view linea);

    // The first-run default download folder: "ActDrovanel" in the user's desktop folder.
    static std::string DefaultFolder();
    // The update server's host name (a build option).
    static std::string UpdateHost();

private:
    // The pages' controls (PralPages.cpp).
    void buildDefaultPage(QWidget *page);
    void buildConfigPage(QWidget *page);
    void buildGeneralPage(QWidget *page);
    // A row of a level page: its label and its bar, whose positions are the `levels` from none up.
    fw::TTrackBar *addLevelRow(QWidget *page, std::string_view label, std::string_view labelName,
                               std::string_view barName, int top, const std::vector<std::string> &levels);
    void buildWatcherPage(QWidget *page);
    void buildSentryPage(QWidget *page);
    void buildProxyPage(QWidget *page);
    fw::TButton *addSaveButton(QWidget *page, std::string_view name);
    fw::TLabel *addColumnLabel(QWidget *page, std::string_view name, std::string_view caption, int left,
                               std::string_view hint);
    void buildMenus();

    // The steps of the start-up (FormCreate, Pral.cpp).
    void RestoreSettings();
    void ConfigurarFTP();
    void PrimeraVez();

    // The update state on the main page: the two names and the mark, and the tray's part.
    void showUpdateState();
    // The client's, the download button's and the close's handlers, and the end of the program.
    void wireEvents();
    // The download folder as the page "Config" shows it, made absolute.
    std::string folderText() const;
    // A folder text made absolute; an empty one is the current directory.
    static std::string absoluteFolder(const std::string &text);
    // Saves the settings once more if the process ends without destroying the form.
    void InstallSettingsGuards();

    // The box shows the autostart entry as it is: set from it, not by the user.
    void showAutostart();
    bool m_showingAutostart = false;
    // "Salir" and "Finalizar" save the settings before the program is told to end.
    void saveBeforeEnding();
    bool m_endingByUser = false;
    // The download folder's text as last restored or saved: the re-checks' folder.
    std::string m_savedFolder;

    std::unique_ptr<shell::CommandRunner> m_commands;
    std::unique_ptr<shell::Tray> m_tray;
    std::unique_ptr<shell::Download> m_download;
    std::unique_ptr<shell::UpdateCheck> m_check;
};
