#pragma once
// The main form: the program's only window, owner of every component of the program. Its pages
// hold the main view (names of the newest maps, the new-map mark, the download button) and the
// settings (download folder, device model, start-up options, alert levels, FTP proxy).
#include "net/msFTP.h"
#include "settings/Placemnt.h"
#include "ui/Classes.h"
#include "ui/TextFile.h"
#include "ui/widgets/AppEvnts.h"
#include "ui/widgets/ComCtrls.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/FileCtrl.h"
#include "ui/widgets/Forms.h"
#include "ui/widgets/Menus.h"
#include "ui/widgets/TrayIcon.h"

#include <string>

class TFPral : public ui::TForm {
    Q_OBJECT
public:
    explicit TFPral(QWidget *parent = nullptr);
    ~TFPral() override;

    // ---- Own state, shared by the start-up, the update check, the download and the conversion.
    bool FConectado = false;       // the FTP control connection is open
    std::string FVersion;          // version shown in the caption
    std::string FUltimaPublicada;  // newest map published on the update server
    std::string FUltimaLocal;      // newest map in the download folder
    ui::TextFileReader FOrigen;    // the conversion's source, open only while it runs
    ui::TextFileWriter FDestino;   // the conversion's destination, open only while it runs

    // ---- Components, by the names that the settings store and the other parts look for.
    ui::TNotebook *Notebook1;
    ui::TStatusBar *StatusBar1;
    ui::TMainMenu *RxMainMenu1;
    ui::TMenuItem *Opciones1, *Ocultar1;
    ui::TMenuItem *Configuracion1, *General1, *ConfigurarProxy1, *N1, *Carpetadedescarga1, *N2, *Tiposdeavisos1;
    ui::TMenuItem *Salir1;

    // Page "Default"
    ui::TImage *Image1;
    ui::TLabel *cxLabel1, *Label1, *Label3, *Label2, *Label4;
    ui::TImage *Image2;  // the new-map mark
    ui::TPanel *Panel2;
    ui::TProgressBar *cxProgressBar2;
    ui::TButton *cxButton1;
    ui::TFileListBox *FileListBox1;

    // Page "Config"
    ui::TGroupBox *cxCheckGroup1;
    ui::TDirectoryEdit *DirectoryEdit1;
    ui::TButton *cxButton2;

    // Page "General"
    ui::TRadioGroup *Avisadores;
    ui::TCheckBox *ComprobarChk, *Minimizar;
    ui::TButton *cxButton3;

    // Page "Avisos" (Watcher): rows for the point types, top to bottom.
    ui::TGroupBox *cxCheckGroup2;
    ui::TLabel *cxLabel10, *cxLabel8, *cxLabel9, *cxLabel7;
    ui::TTrackBar *cxTrackBar1, *cxTrackBar11, *cxTrackBar12, *cxTrackBar2, *cxTrackBar3, *cxTrackBar4, *cxTrackBar5;
    ui::TButton *cxButton4;

    // Page "AvisosSentry3" (Sentry III)
    ui::TGroupBox *cxCheckGroup3;
    ui::TLabel *cxLabel19, *cxLabel18, *cxLabel16;
    ui::TTrackBar *cxTrackBar6, *cxTrackBar13, *cxTrackBar14, *cxTrackBar7, *cxTrackBar8, *cxTrackBar9, *cxTrackBar10;
    ui::TButton *cxButton5;

    // Page "Proxy"
    ui::TBevel *Bevel1;
    ui::TLabel *Label10, *Label5, *Label9;
    ui::TEdit *ProxyServerEdit1;
    ui::TSpinEdit *ProxyPortEdit1;
    ui::TRadioGroup *ServerTypeRadioGroup;
    ui::TButton *cxButton6;

    // Not shown in the window
    ui::TRxTrayIcon *RxTrayIcon1;
    ui::TAppEvents *AppEvents;
    ui::TPopupMenu *PopupMenu;
    ui::TMenuItem *Activar1, *Pausa1, *N3, *RXWebSite1;
    settings::TFormStorage *FormStorage1;
    net::TmsFTPClient *msFTPClient1;

    // ---- Handlers
    void FormCreate(ui::TObject *Sender);
    void cxButton2Click(ui::TObject *Sender);  // every "Guardar": back to the main page
    void General1Click(ui::TObject *Sender);
    void ConfigurarProxy1Click(ui::TObject *Sender);
    void Carpetadedescarga1Click(ui::TObject *Sender);
    void Tiposdeavisos1Click(ui::TObject *Sender);
    void AvisadoresPropertiesChange(ui::TObject *Sender);
    void Ocultar1Click(ui::TObject *Sender);
    void Salir1Click(ui::TObject *Sender);
    void Activar1Click(ui::TObject *Sender);
    void RXWebSite1Click(ui::TObject *Sender);

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
    ui::TTrackBar *addLevelRow(QWidget *page, std::string_view label, std::string_view labelName,
                               std::string_view barName, int top, int max);
    void buildWatcherPage(QWidget *page);
    void buildSentryPage(QWidget *page);
    void buildProxyPage(QWidget *page);
    void buildMenus();
    ui::TButton *addSaveButton(QWidget *page, std::string_view name);
    ui::TLabel *addColumnLabel(QWidget *page, std::string_view name, std::string_view caption, int left,
                               std::string_view hint);

    // Start-up steps that other parts of the program fill in.
    void RestoreSettings();
    void ConfigurarFTP();
    void PrimeraVez();
};
