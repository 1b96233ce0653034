#pragma once
// The main form: the program's only window, owner of every component of the program. Its pages
// hold the main view (names of the newest maps, the new-map mark, the download button) and the
// settings (download folder, device model, start-up options, alert levels, FTP proxy).
#include "framework/Classes.h"
#include "framework/TextFile.h"
#include "net/msFTP.h"
#include "settings/Placemnt.h"
#include "widgets/AppEvnts.h"
#include "widgets/ComCtrls.h"
#include "widgets/Controls.h"
#include "widgets/FileCtrl.h"
#include "widgets/Forms.h"
#include "widgets/Menus.h"
#include "widgets/TrayIcon.h"

#include <string>

class TFPral : public fw::TForm {
    Q_OBJECT
public:
    explicit TFPral(QWidget *parent = nullptr);
    ~TFPral() override;

    // ---- Own state, shared by the start-up, the update check, the download and the conversion.
    bool FConectado = false;       // the FTP control connection is open
    std::string FVersion;          // version shown in the caption
    std::string FUltimaPublicada;  // newest map published on the update server
    std::string FUltimaLocal;      // newest map in the download folder
    fw::TextFileReader FOrigen;    // the conversion's source, open only while it runs
    fw::TextFileWriter FDestino;   // the conversion's destination, open only while it runs

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
    fw::TPopupMenu *PopupMenu;
    fw::TMenuItem *Activar1, *Pausa1, *N3, *RXWebSite1;
    settings::TFormStorage *FormStorage1;
    net::TmsFTPClient *msFTPClient1;

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

    // Caption and second status panel for the chosen device model.
    void BarradeEstado();
    // The update check. It arrives with the update-check work; until then it does nothing.
    virtual void ComprobarAct1();
    // Converts the download ("temp.mdb" in the current directory) into FUltimaLocal for the chosen
    // device model by the alert levels, shows its closing message and deletes the download.
    void Transformar();
    // A record with its alert character replaced by "0": the point without its speed warning.
    static std::string SinVel(std::string_view linea);

    // The first-run default download folder: "ActDrovanel" in the user's desktop folder.
    static std::string DefaultFolder();
    // The update server's host name (a build option).
    static std::string UpdateHost();

private:
    void buildDefaultPage(QWidget *page);
    void buildConfigPage(QWidget *page);
    void buildGeneralPage(QWidget *page);
    fw::TTrackBar *addLevelRow(QWidget *page, std::string_view label, std::string_view labelName,
                               std::string_view barName, int top, int max);
    void buildWatcherPage(QWidget *page);
    void buildSentryPage(QWidget *page);
    void buildProxyPage(QWidget *page);
    void buildMenus();
    fw::TButton *addSaveButton(QWidget *page, std::string_view name);
    fw::TLabel *addColumnLabel(QWidget *page, std::string_view name, std::string_view caption, int left,
                               std::string_view hint);

    // Start-up steps that other parts of the program fill in.
    void RestoreSettings();
    void ConfigurarFTP();
    void PrimeraVez();
    // Saves the settings once more if the process ends without destroying the form.
    void InstallSettingsGuards();
};
