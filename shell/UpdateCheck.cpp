#include "shell/UpdateCheck.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"
#include "framework/PartFile.h"
#include "framework/Streams.h"
#include "shell/Pral.h"
#include "shell/Updates.h"
#include "widgets/NewsWindow.h"

#include <QApplication>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <chrono>
#include <cstdio>
#include <exception>

namespace shell {

UpdateCheck::UpdateCheck(TFPral &form) : m_form(form), m_recheckTimer(new QTimer(&form))
{
    // A day between ticks needs no precision: the coarse timer lets the system gather wake-ups.
    m_recheckTimer->setTimerType(Qt::VeryCoarseTimer);
    QObject::connect(m_recheckTimer, &QTimer::timeout, &form,
                     [this] { fw::CallFromSignal(&m_form, [this] { Recheck(); }); });
}

void UpdateCheck::StartRechecks()
{
    if (m_form.FIntervaloComprobacion > 0)
        m_recheckTimer->start(std::chrono::minutes(m_form.FIntervaloComprobacion));
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
    if (news && !m_form.Ending())
        fetchNews();
    if (failure)
        std::rethrow_exception(failure);
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
    // A tick that finds the program busy (a command on the network, a dialog waiting for an
    // answer, a menu open) leaves the check to the next one.
    if (!m_form.ComprobarChk->Checked() || m_form.FtpBusy() || m_form.Ending() || QApplication::activeModalWidget() ||
        QApplication::activePopupWidget())
        return;
    const QScopedValueRollback recheck(m_rechecking, true);
    try {
        m_form.Commands().Run([this] { m_form.ComprobarAct1(); });
    } catch (const std::exception &e) {
        // No box: a machine left offline overnight would find a pile of them. The next tick tries
        // again.
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
