#include "shell/UpdateCheck.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"
#include "framework/PartFile.h"
#include "framework/Streams.h"
#include "shell/Desktop.h"
#include "shell/MachineWatch.h"
#include "shell/Pral.h"
#include "shell/RecheckDriver.h"
#include "shell/Updates.h"
#include "widgets/NewsWindow.h"

#include <QApplication>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <exception>
#include <utility>

namespace shell {

namespace {

TRecheckSchedule::Clock &recheckClock()
{
    static TRecheckSchedule::Clock instance;
    return instance;
}

TRecheckSchedule::Random &recheckRandom()
{
    static TRecheckSchedule::Random instance;
    return instance;
}

// How often a held-back "Comprobar ahora" looks whether the program is free.
constexpr std::chrono::milliseconds kCheckNowRetry{250};

}  // namespace

void SetRecheckClock(TRecheckSchedule::Clock clock, TRecheckSchedule::Random random)
{
    recheckClock() = std::move(clock);
    recheckRandom() = std::move(random);
}

UpdateCheck::UpdateCheck(TFPral &form)
    : m_form(form), m_schedule(std::make_unique<TRecheckSchedule>(
                        kDefaultRecheckMinutes,
                        recheckClock() ? recheckClock() : TRecheckSchedule::Clock(TRecheckSchedule::SystemClock),
                        recheckRandom() ? recheckRandom() : TRecheckSchedule::Random(TRecheckSchedule::SystemRandom))),
      m_watch(new TMachineWatch(MachineBus(), &form)), m_driver(std::make_unique<TRecheckDriver>(*m_schedule, m_watch)),
      m_checkNowLater(new QTimer(&form))
{
    m_driver->OnCheckDue = [this](fw::TObject *) { Recheck(); };
    m_checkNowLater->setInterval(kCheckNowRetry);
    QObject::connect(m_checkNowLater, &QTimer::timeout, &form,
                     [this] { fw::CallFromSignal(&m_form, [this] { tryCheckNow(); }); });
}

UpdateCheck::~UpdateCheck()
{
    // The driver goes before the schedule it drives; the form deletes what is left of its children.
    m_checkNowLater->stop();
    m_driver.reset();
}

QTimer *UpdateCheck::RecheckTimer() const
{
    return m_driver->Timer();
}

void UpdateCheck::StartRechecks()
{
    m_schedule->SetInterval(m_form.FIntervaloComprobacion);
    m_schedule->Start(m_form.FUltimaComprobacion);
    m_driver->Rearm();
}

void UpdateCheck::StartupCheck(bool resident)
{
    if (resident) {
        runResident();
        return;
    }
    m_form.Commands().Run([this] { m_form.ComprobarAct1(); });
}

void UpdateCheck::CheckNow()
{
    m_checkNowPending = true;
    tryCheckNow();
}

void UpdateCheck::tryCheckNow()
{
    if (!m_checkNowPending)
        return;
    if (m_form.Ending()) {
        m_checkNowPending = false;
        m_checkNowLater->stop();
        return;
    }
    // Held back as a re-check is while the program is busy, and run once it is free.
    if (busy()) {
        m_checkNowLater->start();
        return;
    }
    m_checkNowPending = false;
    m_checkNowLater->stop();
    // The user asked: the check's own dialogs, and its failure in the error report.
    m_form.Commands().Run([this] { m_form.ComprobarAct1(); });
}

bool UpdateCheck::busy() const
{
    return m_form.FtpBusy() || m_form.Ending() || QApplication::activeModalWidget() ||
           QApplication::activePopupWidget();
}

void UpdateCheck::Run()
{
    const CommandRunner::Work work(m_form.Commands());
    m_form.FListaHost = std::make_unique<fw::TStringList>();
    m_form.FListaLocal = std::make_unique<fw::TStringList>();
    // The ending steps below run however this part is left; its exception goes on after them.
    std::exception_ptr failure;
    try {
        m_form.cxButton1->SetEnabled(false);
        // The local maps as they are now, in the command's folder: a map downloaded since the
        // last check (a resident program checks again) counts.
        m_form.FileListBox1->ApplyFilePath(m_form.CarpetaDescarga());
        if (listPublishedMaps())
            compareWithLocalMaps();
    } catch (...) {
        failure = std::current_exception();
    }

    m_form.FListaHost.reset();
    m_form.FListaLocal.reset();
    m_form.cxProgressBar2->SetPosition(0);
    const UpdateState &state = m_form.Estado;
    // A re-check shows the news of each published map once a run.
    const bool news = state.NewMapWaits() && !(m_rechecking && state.NewsShown(state.Published()));
    // With news to fetch the button stays off until the news has been shown: a download started
    // meanwhile would enter the FTP client while it waits.
    if (!news)
        m_form.cxButton1->SetEnabled(true);
    m_form.StatusBar1->SetPanelText(1, "");
    // A program that is ending starts nothing more on the network.
    if (!failure && news && !m_form.Ending()) {
        try {
            fetchNews();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (failure) {
        failed();
        std::rethrow_exception(failure);
    }
    succeeded();
}

void UpdateCheck::succeeded()
{
    m_driver->Succeeded();
    m_form.FUltimaComprobacion = m_schedule->LastSuccess();
    if (m_form.FUltimaComprobacion) {
        try {
            m_form.FormStorage1->WriteString(kLastCheckName, LastCheckText(*m_form.FUltimaComprobacion));
        } catch (const std::exception &e) {
            // The check itself went well; the next start checks once more, that is all.
            std::fprintf(stderr, "drovanel: %s\n", fw::OneLineText(e.what()).c_str());
        }
    }
    m_form.ShowLastCheck();
}

void UpdateCheck::failed()
{
    m_driver->Failed();
    m_form.ShowFailure(kCheckFailedText);
}

bool UpdateCheck::listPublishedMaps()
{
    net::TmsFTPClient &client = *m_form.msFTPClient1;
    fw::TStringList &names = *m_form.FListaHost;
    if (!m_form.FConectado())
        client.Login();
    client.ChangeDir(kUpdatesDir);
    client.NameList(names);
    names.Sort();
    // The newest of the names that are maps: a server lists other names too ("." and "..", a
    // "readme", a name a lone CR split), and one that sorts last must not hide the real map, nor
    // be downloaded as one. A map's name becomes a file of the download folder, so it is a plain
    // name. A server that lists no map (like most, nothing at all) has none.
    const std::string published = NewestPublishedMap(names.Items());
    if (published.empty()) {
        Notice("No hay mapa en el Host");
        return false;
    }
    m_form.Estado.SetPublished(published);
    return true;
}

void UpdateCheck::compareWithLocalMaps()
{
    if (m_form.FileListBox1->Count() == 0)
        return;
    fw::TStringList &candidates = *m_form.FListaLocal;
    for (const std::string &name : m_form.FileListBox1->Items())
        if (IsLocalCandidate(name, m_form.Avisadores->ItemIndex()))
            candidates.Add(name);
    // Without a candidate there is no local name to compare with: nothing is taken.
    if (candidates.Empty())
        return;
    candidates.Sort();
    UpdateState &state = m_form.Estado;
    state.SetLocal(candidates.Last());
    if (IsNewerName(state.Published(), state.Local()))
        state.SetNewMapWaits(true);
}

void UpdateCheck::fetchNews()
{
    const auto enable = qScopeGuard([this] { m_form.cxButton1->SetEnabled(true); });
    net::TmsFTPClient &client = *m_form.msFTPClient1;
    const std::string path = fw::JoinPath(m_form.CarpetaDescarga(), kNewsFileName);
    if (!m_form.FConectado())
        client.Login();
    client.ChangeDir(kDocsDir);
    fw::TMemoryStream news;
    {
        // A news text that did not come whole (refused, cut, past its cap) replaces nothing:
        // its part file goes and the previous news.txt stays as it was.
        fw::PartFileStream download(path);
        try {
            client.RetrieveFile(kNewsRemoteName, news, {.MaxBytes = kMaxNewsBytes});
        } catch (const net::EmsFileSizeError &e) {
            throw fw::Exception(OversizedNewsText(e.Limit()));
        }
        download.Stream().WriteBuffer(news.Memory(), news.Size());
        download.Place();
    }
    // The server's bytes are shown as plain text in the program's own window, never handed to
    // another program: over plain FTP anyone on the way chooses them, and a desktop that sniffs
    // a file's content would pick the program that parses them (a browser for HTML, a viewer for
    // a PDF). The bytes shown are the ones placed, not what the folder's name holds by then.
    fw::ShowNews(&m_form, std::string_view(news.Memory(), static_cast<size_t>(news.Size())));
    m_form.Estado.SetNewsShown(m_form.Estado.Published());
    fw::Fire(OnNewsShown, path);
    m_form.cxProgressBar2->SetPosition(0);
    m_form.StatusBar1->SetPanelText(1, "");
}

void UpdateCheck::Recheck()
{
    // A check due while the program is busy (a command on the network, a dialog waiting for an
    // answer, a menu open) comes a minute later; one that the user turned off waits as long.
    if (busy()) {
        m_driver->Deferred();
        return;
    }
    if (!m_form.ComprobarChk->Checked())
        return;
    runResident();
}

void UpdateCheck::runResident()
{
    const QScopedValueRollback recheck(m_rechecking, true);
    try {
        m_form.Commands().Run([this] { m_form.ComprobarAct1(); });
    } catch (const std::exception &e) {
        // No box: a machine left offline overnight would find a pile of them. The schedule tries
        // again soon.
        std::fprintf(stderr, "drovanel: la comprobación de mapas nuevos ha fallado: %s\n",
                     fw::OneLineText(e.what()).c_str());
    }
}

void UpdateCheck::Notice(const std::string &text) const
{
    if (m_rechecking)
        std::fprintf(stderr, "drovanel: %s\n", fw::OneLineText(text).c_str());
    else
        fw::ShowMessage(text);
}

}  // namespace shell
