// drovanel-downloadbench download PORT NAME FOLDER
//   The main window, shown, downloads the published map NAME from the update server at
//   127.0.0.1:PORT into FOLDER by its "Descargar" button, with every progress event, status bar
//   and progress bar update and repaint of a real download. Prints "BYTES WALL CPU": the bytes of
//   "temp.mdb" (or of the converted map), the wall time and the process's CPU time (user + system,
//   all threads) from the press to the end of the command.
// drovanel-downloadbench idle PORT SECONDS FOLDER
//   The same press against a server that never answers, with the FTP client's time-out set to
//   SECONDS; prints "WALL CPU" of the wait until the time-out ends the command.
// Dialogs are answered at once and written to standard error; melodies are silent and take no
// time, so the figures are the transfer's and the window's.
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "framework/FileSystem.h"
#include "shell/Pral.h"
#include "sound/BTOdeum.h"

#include <QApplication>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class AnsweringDialogs final : public fw::DialogBackend {
public:
    fw::DialogResult Show(fw::DialogKind, const std::string &, const std::string &text) override
    {
        std::fprintf(stderr, "dialog: %s\n", text.c_str());
        return fw::DialogResult::Ok;
    }
};

class NoTones final : public sound::TToneSink {
public:
    void PlayTone(std::uint16_t, std::int32_t) override {}
};

int Usage()
{
    std::fprintf(stderr, "usage: drovanel-downloadbench download PORT NAME FOLDER\n"
                         "       drovanel-downloadbench idle PORT SECONDS FOLDER\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5)
        return Usage();
    const std::string mode = argv[1];
    if (mode != "download" && mode != "idle")
        return Usage();
    const std::string port = argv[2];
    const std::string folder = argv[4];

    QApplication app(argc, argv);
    AnsweringDialogs dialogs;
    fw::SetDialogBackend(&dialogs);
    NoTones tones;
    sound::TBTBeeper::SetToneSink(&tones);

    TFPral form;
    form.DirectoryEdit1->SetText(folder);
    form.ComprobarChk->SetChecked(false);
    form.Minimizar->SetChecked(false);
    form.DoCreate();
    form.msFTPClient1->SetHost("127.0.0.1:" + port);
    if (mode == "download") {
        // A map already found by a check: the press goes straight to the download.
        form.Estado.SetPublished(argv[3]);
    } else {
        form.msFTPClient1->SetTimeOut(std::atoi(argv[3]));
    }
    app.processEvents();

    const double wall0 = Now();
    const double cpu0 = CpuSeconds();
    form.cxButton1->Click();
    const double wall = Now() - wall0;
    const double cpu = CpuSeconds() - cpu0;

    if (mode == "idle") {
        std::printf("%.3f %.4f\n", wall, cpu);
    } else {
        QFileInfo download(fw::PathFromAnsi(fw::JoinPath(folder, "temp.mdb")));
        if (!download.exists())
            download = QFileInfo(fw::PathFromAnsi(fw::JoinPath(folder, argv[3])));
        std::printf("%lld %.3f %.3f\n", static_cast<long long>(download.size()), wall, cpu);
    }
    sound::TBTBeeper::SetToneSink(nullptr);
    fw::SetDialogBackend(nullptr);
    return 0;
}
