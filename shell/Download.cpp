#include "shell/Download.h"

#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"
#include "framework/PartFile.h"
#include "shell/Conversion.h"
#include "shell/Pral.h"
#include "shell/Updates.h"

#include <QScopeGuard>
#include <QScopedValueRollback>

namespace shell {

namespace {

// How often the window shows a running transfer's count: often enough to look continuous.
constexpr int kProgressIntervalMs = 40;

}  // namespace

Download::Download(TFPral &form) : m_form(form), m_progressLater(new QTimer(&form))
{
    m_progressLater->setSingleShot(true);
    m_progressLater->setInterval(kProgressIntervalMs);
    QObject::connect(m_progressLater, &QTimer::timeout, &form,
                     [this] { fw::CallFromSignal(&m_form, [this] { showProgress(); }); });

    m_form.BTBeeper1 = new sound::TBTBeeper(&form);
    m_form.BTBeeper1->setObjectName(QStringLiteral("BTBeeper1"));
    m_form.BTBeeper1->BeatDuration = sound::bd_500;
    m_form.BTBeeper1->DefaultSound = sound::psClimb;
}

void Download::Run()
{
    try {
        fetch();
    } catch (...) {
        m_form.ShowFailure(kDownloadFailedText);
        throw;
    }
}

void Download::fetch()
{
    const CommandRunner::Work work(m_form.Commands());
    UpdateState &state = m_form.Estado;
    if (state.Published().empty())
        m_form.ComprobarAct1();
    m_form.cxButton1->SetEnabled(false);
    const auto enable = qScopeGuard([this] { m_form.cxButton1->SetEnabled(true); });
    if (state.Published().empty()) {
        fw::ShowMessage("No hay mapa de puntos en el Host");
        return;
    }
    const std::string published = state.Published();
    if (!IsPlainFileName(published))
        throw fw::Exception(InvalidPublishedNameText(published));
    const std::string folder = m_form.CarpetaDescarga();
    net::TmsFTPClient &client = *m_form.msFTPClient1;
    if (!m_form.FConectado())
        client.Login();
    client.ChangeDir(kUpdatesDir);
    // Made before anything is sent, so that a folder that cannot take it refuses the download
    // with no transfer started. On every way out before Place the part file goes, and the
    // previous temp.mdb stays as it was.
    fw::PartFileStream download(fw::JoinPath(folder, kDownloadFileName));
    {
        // The size the server gives for the map, asked before the transfer's own commands: the
        // transfer is held to it (a map cut short, even with a completion reply, is no map) and
        // the progress bar fills to it.
        const QScopedValueRollback mapTransfer(m_mapTransfer, true);
        m_mapSize = client.GetFileSize(FileNamePart(published));
        try {
            client.RetrieveFile(published, download.Stream(), {.MaxBytes = kMaxMapBytes, .AnnouncedBytes = m_mapSize});
        } catch (const net::EmsAnnouncedSizeError &e) {
            throw fw::Exception(OverlongDownloadText(e.Announced()));
        } catch (const net::EmsShortTransferError &e) {
            throw fw::Exception(IncompleteDownloadText(e.Received(), e.Announced()));
        } catch (const net::EmsFileSizeError &e) {
            throw fw::Exception(OversizedMapText(e.Limit()));
        }
    }
    m_form.cxProgressBar2->SetPosition(0);
    download.Place();
    // The labels, the mark and the tooltip name the map, and the melody greets it, only once the
    // device can take it: a conversion that fails (a full disk) leaves the map announced as
    // waiting.
    Convert(folder, published, [this, &state, &published] {
        state.SetLocal(published);
        state.SetNewMapWaits(false);
        m_form.BTBeeper1->PlayPreset(sound::psClimb);
    });
}

void Download::Convert(const std::string &folder)
{
    Convert(folder, m_form.Estado.Local(), [] {});
}

void Download::Convert(const std::string &folder, const std::string &name, const std::function<void()> &ready)
{
    const std::string &local = name;
    if (!IsPointsFileName(local)) {
        fw::ShowMessage(InvalidDestinationNameText());
        return;
    }
    const int model = m_form.Avisadores->ItemIndex();
    // A device file of the header alone would pass for a map: the download stays as it came, and
    // is what the device gets.
    if (!HasConversion(model)) {
        ready();
        fw::ShowMessage(NoConversionText(model));
        return;
    }
    const AlertLevels levels = ReadAlertLevels(model, [this](const char *barName) {
        const auto *bar = qobject_cast<const fw::TTrackBar *>(fw::FindComponent(&m_form, barName));
        return bar ? bar->Position() : 0;
    });
    // File errors leave as EInOutError for the caller's error report; the download stays for
    // another try.
    const std::string source = fw::JoinPath(folder, kDownloadFileName);
    const std::string destination = fw::JoinPath(folder, local);
    if (ConvertPointsFile(m_form.FOrigen, m_form.FDestino, source, destination, model, levels) ==
        ConversionResult::InvalidHeader) {
        fw::ShowMessage(InvalidPointsFileText());
        return;
    }
    ready();
    fw::ShowMessage(MapReceivedText());
    DeleteDownload(folder);
}

void Download::TransferStarted()
{
    m_form.StatusBar1->SetPanelText(0, "Iniciando transferencia de datos");
    // Nothing of the transfer is on the wire yet, so the control connection is free for SIZE. The
    // map's own transfer asked it already; the others ask for the map's name where they are, as
    // the window always has.
    const std::int32_t size =
        m_mapTransfer ? m_mapSize : m_form.msFTPClient1->GetFileSize(FileNamePart(m_form.Estado.Published()));
    m_form.cxProgressBar2->SetMax(size);
    // An unknown size shows activity instead of a bar that cannot fill.
    m_form.cxProgressBar2->SetBusy(size < 0);
    m_form.RxTrayIcon1->SetAnimated(true);
    m_progressShown.invalidate();  // the first block shows at once
}

void Download::TransferProgress(std::int32_t byteCount)
{
    m_pendingByteCount = byteCount;
    if (!m_progressShown.isValid() || m_progressShown.elapsed() >= kProgressIntervalMs)
        showProgress();
    else if (!m_progressLater->isActive())
        m_progressLater->start();  // a transfer that stalls now still shows its last count
}

void Download::showProgress()
{
    m_progressLater->stop();
    if (m_pendingByteCount < 0)
        return;
    m_form.StatusBar1->SetPanelText(1, std::to_string(m_pendingByteCount) + " Bytes.");
    m_form.cxProgressBar2->SetPosition(m_pendingByteCount);
    m_pendingByteCount = -1;
    m_progressShown.restart();
}

void Download::TransferEnded()
{
    showProgress();
    m_form.StatusBar1->SetPanelText(0, "Transferencia de datos finalizada");
    m_form.cxProgressBar2->SetBusy(false);
    m_form.RxTrayIcon1->SetAnimated(false);
}

}  // namespace shell
