// The update check: the greatest name of the server's updates folder against the greatest local
// map name; when the published one is greater, the new-map mark and the server's news.
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"
#include "framework/PartFile.h"
#include "shell/FtpWork.h"
#include "shell/Pral.h"
#include "shell/Updates.h"

#include <QScopeGuard>
#include <exception>

void TFPral::ComprobarAct1()
{
    const FtpWork work(*this);
    FListaHost = std::make_unique<fw::TStringList>();
    FListaLocal = std::make_unique<fw::TStringList>();
    // The ending steps below run however this part is left; its exception goes on after them.
    std::exception_ptr failure;
    try {
        cxButton1->SetEnabled(false);
        // The local maps as they are now, in the command's folder: a map downloaded since the
        // last check (a resident program checks again) counts.
        FileListBox1->ApplyFilePath(CarpetaDescarga());
        if (listPublishedMaps())
            compareWithLocalMaps();
    } catch (...) {
        failure = std::current_exception();
    }

    FListaHost.reset();
    FListaLocal.reset();
    cxProgressBar2->SetPosition(0);
    // A re-check opens the news of each published map once a run.
    const bool news = Image2->Visible() && !(Recomprobando() && m_noticiasAbiertas.contains(FUltimaPublicada));
    // With news to fetch the button stays off until the news has been handed over: a download
    // started meanwhile would enter the FTP client while it waits.
    if (!news)
        cxButton1->SetEnabled(true);
    StatusBar1->SetPanelText(1, "");
    // A program that is ending starts nothing more on the network.
    if (news && !Ending())
        fetchNews();
    if (failure)
        std::rethrow_exception(failure);
}

bool TFPral::listPublishedMaps()
{
    if (!FConectado)
        msFTPClient1->Login();
    msFTPClient1->ChangeDir(shell::kUpdatesDir);
    msFTPClient1->NameList(*FListaHost);
    FListaHost->Sort();
    // A server that lists only "." and ".." (or, like most, nothing at all) has no map.
    const bool onlyDots = FListaHost->Count() == 2 && FListaHost->Last().find("..") != std::string::npos;
    if (onlyDots || FListaHost->Empty()) {
        AvisoComprobacion("No hay mapa en el Host");
        return false;
    }
    const std::string &publicada = FListaHost->Last();
    // The name becomes a file of the download folder: nothing but a plain name may pass.
    if (!shell::IsPlainFileName(publicada))
        throw fw::Exception(shell::InvalidPublishedNameText(publicada));
    FUltimaPublicada = publicada;
    Label4->SetCaption(FUltimaPublicada);
    return true;
}

void TFPral::compareWithLocalMaps()
{
    if (FileListBox1->Count() == 0)
        return;
    for (const std::string &name : FileListBox1->Items())
        if (shell::IsLocalCandidate(name, Avisadores->ItemIndex()))
            FListaLocal->Add(name);
    // Without a candidate there is no local name to compare with: nothing is taken.
    if (FListaLocal->Empty())
        return;
    FListaLocal->Sort();
    FUltimaLocal = FListaLocal->Last();
    Label3->SetCaption(FUltimaLocal);
    if (shell::IsNewerName(FUltimaPublicada, FUltimaLocal))
        MarcaNuevoMapa(true);
}

void TFPral::fetchNews()
{
    const auto enable = qScopeGuard([this] { cxButton1->SetEnabled(true); });
    const std::string path = fw::JoinPath(CarpetaDescarga(), shell::kNewsFileName);
    if (!FConectado)
        msFTPClient1->Login();
    msFTPClient1->ChangeDir(shell::kDocsDir);
    msFTPClient1->SetMaxFileSize(shell::kMaxNewsBytes);
    {
        // A news text that did not come whole (refused, cut, past its cap) replaces nothing:
        // its part file goes and the previous news.txt stays as it was.
        fw::PartFileStream download(path);
        try {
            msFTPClient1->RetrieveFile(shell::kNewsRemoteName, download.Stream());
        } catch (const net::EmsFileSizeError &e) {
            throw fw::Exception(shell::OversizedNewsText(e.Limit()));
        }
        download.Place();
    }
    shell::OpenDocument(path);  // a desktop without a program for it leaves the file where it is
    m_noticiasAbiertas.insert(FUltimaPublicada);
    cxProgressBar2->SetPosition(0);
    StatusBar1->SetPanelText(1, "");
}
