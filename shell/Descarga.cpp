// The download command ("Descargar"), the FTP client's events as the window shows them, and the
// close of the main window over an open FTP connection.
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"
#include "framework/PartFile.h"
#include "shell/Conversion.h"
#include "shell/FtpWork.h"
#include "shell/Pral.h"
#include "shell/Updates.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>

namespace {

// How often the window shows a running transfer's count: often enough to look continuous.
constexpr int kProgressIntervalMs = 40;

}  // namespace

void TFPral::buildDownload()
{
    m_progressLater = new QTimer(this);
    m_progressLater->setSingleShot(true);
    m_progressLater->setInterval(kProgressIntervalMs);
    connect(m_progressLater, &QTimer::timeout, this, [this] { showProgress(); });

    BTBeeper1 = new sound::TBTBeeper(this);
    BTBeeper1->setObjectName(QStringLiteral("BTBeeper1"));
    BTBeeper1->BeatDuration = sound::bd_500;
    BTBeeper1->DefaultSound = sound::psClimb;

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
            form->CancelFtpForEnding();
    };
}

bool TFPral::Ending() const
{
    return m_ftpCancelled || fw::Application().Terminated();
}

void TFPral::CancelFtpForEnding()
{
    if (!FtpBusy())
        return;
    m_ftpCancelled = true;
    msFTPClient1->Cancel();
}

void TFPral::RunFtpCommand(const std::function<void()> &command)
{
    try {
        command();
    } catch (const net::EmsCanceledError &) {
        if (!Ending())
            throw;
    }
}

std::string TFPral::CarpetaDescarga() const
{
    return FtpBusy() ? m_carpetaComando : CarpetaDelTexto();
}

std::string TFPral::CarpetaDelTexto() const
{
    const std::string text = DirectoryEdit1->Text();
    // Never the file system's root for an empty text: the folder the program started in.
    const QString folder = text.empty() ? QDir::currentPath() : QFileInfo(fw::PathFromAnsi(text)).absoluteFilePath();
    return fw::PathToAnsi(QDir::cleanPath(folder));
}

void TFPral::Button1Click(fw::TObject *)
{
    // The button is off while the FTP client works; a click that comes through all the same (from
    // code, say) must not enter the client a second time.
    if (FtpBusy())
        return;
    RunFtpCommand([this] { Descargar(); });
}

void TFPral::Descargar()
{
    const FtpWork work(*this);
    if (Label4->Caption().empty())
        ComprobarAct1();
    cxButton1->SetEnabled(false);
    const auto enable = qScopeGuard([this] { cxButton1->SetEnabled(true); });
    if (Label4->Caption().empty()) {
        fw::ShowMessage("No hay mapa de puntos en el Host");
        return;
    }
    if (!shell::IsPlainFileName(FUltimaPublicada))
        throw fw::Exception(shell::InvalidPublishedNameText(FUltimaPublicada));
    const std::string carpeta = CarpetaDescarga();
    if (!FConectado)
        msFTPClient1->Login();
    msFTPClient1->ChangeDir(shell::kUpdatesDir);
    const std::string target = fw::JoinPath(carpeta, shell::kDownloadFileName);
    m_reportedSize = -1;
    msFTPClient1->SetMaxFileSize(shell::kMaxMapBytes);
    // Made before anything is sent, so that a folder that cannot take it refuses the download
    // with no transfer started. On every way out before Place the part file goes, and the
    // previous temp.mdb stays as it was.
    fw::PartFileStream download(target);
    try {
        msFTPClient1->RetrieveFile(FUltimaPublicada, download.Stream());
    } catch (const net::EmsAnnouncedSizeError &e) {
        throw fw::Exception(shell::OverlongDownloadText(e.Announced()));
    } catch (const net::EmsFileSizeError &e) {
        throw fw::Exception(shell::OversizedMapText(e.Limit()));
    }
    cxProgressBar2->SetPosition(0);
    // A transfer cut short may still end with a class-2 reply; a map that is not whole must never
    // be converted, nor replace the previous download.
    const std::int64_t received = download.Size();
    if (m_reportedSize >= 0 && received != m_reportedSize)
        throw fw::Exception(shell::IncompleteDownloadText(received, m_reportedSize));
    download.Place();
    FUltimaLocal = FUltimaPublicada;
    Label3->SetCaption(FUltimaLocal);
    MarcaNuevoMapa(false);
    BTBeeper1->PlayPreset(sound::psClimb);
    Transformar(carpeta);
}

void TFPral::FormCloseQuery(fw::TObject *, bool &CanClose)
{
    // QUIT now would land in the middle of the running command: the close waits for its end, and
    // a wait for the server is cancelled rather than waited out.
    if (FtpBusy()) {
        m_closePending = true;
        CanClose = false;
        CancelFtpForEnding();
        return;
    }
    if (!FConectado)
        return;
    // After a cancel the server is owed a reply; a QUIT would only wait for it.
    if (m_ftpCancelled)
        msFTPClient1->Disconnect();
    else
        msFTPClient1->Logout();
}

void TFPral::msFTPClient1Connecting(fw::TObject *)
{
    StatusBar1->SetPanelText(0, "Abriendo conexion con " + msFTPClient1->Host());
}

void TFPral::msFTPClient1Connected(fw::TObject *)
{
    StatusBar1->SetPanelText(0, "Conectado");
    FConectado = true;
}

void TFPral::msFTPClient1Disconnected(fw::TObject *)
{
    FConectado = false;
}

void TFPral::msFTPClient1DataTransferStart(fw::TObject *)
{
    StatusBar1->SetPanelText(0, "Iniciando transferencia de datos");
    // Nothing of the transfer is on the wire yet, so the control connection is free for SIZE.
    m_reportedSize = msFTPClient1->GetFileSize(shell::FileNamePart(FUltimaPublicada));
    cxProgressBar2->SetMax(m_reportedSize);
    // An unknown size shows activity instead of a bar that cannot fill.
    cxProgressBar2->SetBusy(m_reportedSize < 0);
    RxTrayIcon1->SetAnimated(true);
    m_progressShown.invalidate();  // the first block shows at once
}

void TFPral::msFTPClient1DataTransferProgress(fw::TObject *, std::int32_t ByteCount)
{
    m_pendingByteCount = ByteCount;
    if (!m_progressShown.isValid() || m_progressShown.elapsed() >= kProgressIntervalMs)
        showProgress();
    else if (!m_progressLater->isActive())
        m_progressLater->start();  // a transfer that stalls now still shows its last count
}

void TFPral::showProgress()
{
    m_progressLater->stop();
    if (m_pendingByteCount < 0)
        return;
    StatusBar1->SetPanelText(1, std::to_string(m_pendingByteCount) + " Bytes.");
    cxProgressBar2->SetPosition(m_pendingByteCount);
    m_pendingByteCount = -1;
    m_progressShown.restart();
}

void TFPral::msFTPClient1DataTransferTerminate(fw::TObject *)
{
    showProgress();
    StatusBar1->SetPanelText(0, "Transferencia de datos finalizada");
    cxProgressBar2->SetBusy(false);
    RxTrayIcon1->SetAnimated(false);
}
