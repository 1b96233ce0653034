#pragma once
// The main form: the program's only window, owner of every component of the program. Its pages
// hold the main view (names of the newest maps, the new-map mark, the download button) and the
// settings (download folder, device model, start-up options, alert levels, FTP proxy).
#include "framework/Classes.h"
#include "framework/TextFile.h"
#include "net/msFTP.h"
#include "settings/Placemnt.h"
#include "shell/Updates.h"
#include "sound/BTOdeum.h"
#include "widgets/AppEvnts.h"
#include "widgets/ComCtrls.h"
#include "widgets/Controls.h"
#include "widgets/FileCtrl.h"
#include "widgets/Forms.h"
#include "widgets/Menus.h"
#include "widgets/TrayIcon.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TFPral : public fw::TForm {
    Q_OBJECT
public:
    explicit TFPral(QWidget *parent = nullptr);
    ~TFPral() override;

    // ---- Own state, shared by the start-up, the update check, the download and the conversion.
    bool FConectado = false;                       // the FTP control connection is open
    std::string FVersion;                          // version shown in the caption
    std::string FUltimaPublicada;                  // newest map published on the update server
    std::string FUltimaLocal;                      // newest map in the download folder
    std::unique_ptr<fw::TStringList> FListaHost;   // the server's names, while a check runs
    std::unique_ptr<fw::TStringList> FListaLocal;  // the local candidates, while a check runs
    fw::TextFileReader FOrigen;                    // the conversion's source, open only while it runs
    fw::TextFileWriter FDestino;                   // the conversion's destination, open only while it runs

    // ---- Components, by the names that the settings store and the other parts look for.
    fw::TNotebook *Notebook1;
    fw::TStatusBar *StatusBar1;
    fw::TMainMenu *RxMainMenu1;
    fw::TMenuItem *Opciones1, *Ocultar1;
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
    fw::TCheckBox *ComprobarChk, *Minimizar;
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
    fw::TMenuItem *Activar1, *Pausa1, *N3, *RXWebSite1;
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
    void activateFromSecondStart();
    // The program's entry in the taskbar. Where the window itself is the entry, hiding it puts the
    // minimised window away into the tray; that needs an icon in the notification area.
    void HideTaskbarEntry();
    void ShowTaskbarEntry();
    bool TaskbarEntryHidden() const { return m_putAway; }

    // ---- While resident (Recomprobar.cpp)
    // Minutes between the re-checks (0: none), from the stored settings.
    int FIntervaloComprobacion = shell::kDefaultRecheckMinutes;
    // The re-check's timer, running from the start-up while the interval is not 0; each tick
    // checks again when the start-up check is ticked, no FTP command runs and no dialog is open.
    QTimer *RecheckTimer() const { return m_recheckTimer; }
    void RecheckTimerTimer();
    // Shows or takes away the new-map mark for FUltimaPublicada, with the tray's tooltip; a newly
    // marked name is told once per run in a desktop notification.
    void MarcaNuevoMapa(bool visible);
    // A message of the update check: a dialog, or a line of standard error during a re-check
    // (a machine left alone must not collect boxes).
    void AvisoComprobacion(const std::string &text);
    bool Recomprobando() const { return m_recomprobando; }

    // Caption and second status panel for the chosen device model.
    void BarradeEstado();
    // The update check: the newest published map against the newest local one, and the news when
    // the published one is newer (Comprobar.cpp).
    virtual void ComprobarAct1();

    // ---- The download and the FTP client's events (Descarga.cpp)
    void Button1Click(fw::TObject *Sender);  // "Descargar"
    void Descargar();                        // the command behind it
    void FormCloseQuery(fw::TObject *Sender, bool &CanClose);
    void msFTPClient1Connecting(fw::TObject *Sender);
    void msFTPClient1Connected(fw::TObject *Sender);
    void msFTPClient1Disconnected(fw::TObject *Sender);
    void msFTPClient1DataTransferStart(fw::TObject *Sender);
    void msFTPClient1DataTransferProgress(fw::TObject *Sender, std::int32_t ByteCount);
    void msFTPClient1DataTransferTerminate(fw::TObject *Sender);
    // True while the update check or the download waits on the FTP client.
    bool FtpBusy() const { return m_ftpBusy > 0; }
    // Converts the download ("temp.mdb" in `Carpeta`, an absolute folder) into FUltimaLocal in the
    // same folder for the chosen device model by the alert levels, shows its closing message and
    // deletes the download. A model without a conversion keeps the download and says so.
    void Transformar(const std::string &Carpeta);
    // The download folder, made absolute; an empty folder text is the folder the program started
    // in (the current directory). While a command runs, the folder it took when it started.
    std::string CarpetaDescarga() const;
    // True once the program is ending (told to terminate, or a close waits for a command): the
    // running command's waits are cancelled and it starts nothing more on the network.
    bool Ending() const;
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
    void buildTray();  // PralTray.cpp

    // The steps of the start-up (FormCreate, Pral.cpp).
    void RestoreSettings();
    void ConfigurarFTP();
    void PrimeraVez();

    // The update check's phases (Comprobar.cpp). The server's updates folder is listed and its
    // greatest name becomes FUltimaPublicada (false: the server has no map, and the user was told);
    // the greatest local candidate for the device model becomes FUltimaLocal, and a published name
    // greater than it is marked as new; the news of a new map is fetched into the download folder
    // and handed to the desktop, the download button on again however that ends.
    bool listPublishedMaps();
    void compareWithLocalMaps();
    void fetchNews();

    bool m_putAway = false;  // minimised into the tray, see HideTaskbarEntry
    // The download's components and handlers, wired as the window's resources do (Descarga.cpp).
    void buildDownload();
    // Counts the check and the download in progress; the last one out runs a close asked for
    // meanwhile.
    friend class FtpWork;
    int m_ftpBusy = 0;
    bool m_closePending = false;
    // Ends the program's part in a running FTP command: its wait is cancelled, its cancel is no
    // error to report (ending the program caused it).
    void CancelFtpForEnding();
    void RunFtpCommand(const std::function<void()> &command);
    bool m_ftpCancelled = false;
    std::string CarpetaDelTexto() const;
    std::string m_carpetaComando;  // the running command's download folder
    // What the server reported as the size at the start of the last transfer (-1: nothing).
    std::int32_t m_reportedSize = -1;
    // The transfer's feedback is drawn at most every few hundredths of a second: a repaint per
    // block would cost the transfer more than the transfer itself. The last count always shows.
    void showProgress();
    std::int32_t m_pendingByteCount = -1;
    QElapsedTimer m_progressShown;
    QTimer *m_progressLater = nullptr;
    // Saves the settings once more if the process ends without destroying the form.
    void InstallSettingsGuards();
    void buildRecheck();
    QTimer *m_recheckTimer = nullptr;
    bool m_recomprobando = false;
    std::set<std::string> m_avisados;          // published names told in a notification
    std::set<std::string> m_noticiasAbiertas;  // published names whose news has been opened
};
