// A small program around the test form, for the tests that need a process of its own:
//   settings_helper saveloop      restores, then saves changed settings over and over until it is
//                                 killed; prints "saving" after the first save
//   settings_helper run <folder>  restores, shows the form, types <folder> into the download folder
//                                 field, prints "ready" and runs the message loop until a
//                                 termination signal ends it as the main menu's "Salir" would
#include "TestForm.h"
#include "framework/Application.h"
#include "platform/Termination.h"

#include <QApplication>
#include <QElapsedTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>

namespace {

// Every setting of one save derives from its number, so a reader can tell whether a file holds
// one complete save.
void ApplySaveNumber(testforms::TFPral &form, int n)
{
    form.DirectoryEdit1->SetText(QStringLiteral("/home/ana/Mapas/%1").arg(n));
    form.Avisadores->SetItemIndex(n);
    form.ComprobarChk->SetChecked(n % 2 == 0);
    form.Minimizar->SetChecked(n % 2 == 1);
    for (int i = 1; i <= 14; ++i)
        form.cxTrackBar[static_cast<size_t>(i)]->SetPosition(n + i);
    form.ServerTypeRadioGroup->SetItemIndex(n);
    form.ProxyServerEdit1->SetText(QStringLiteral("proxy%1.example.com").arg(n));
    form.ProxyPortEdit1->SetValue(n + 0.5);
}

int SaveLoop()
{
    testforms::TFPral form;
    form.FormStorage1->Restore();
    int n = form.Avisadores->ItemIndex();
    bool announced = false;
    QElapsedTimer running;
    running.start();
    // Bounded, so a helper whose test died does not save for ever.
    while (running.elapsed() < 60000) {
        ApplySaveNumber(form, ++n);
        form.FormStorage1->Save();
        if (!announced) {
            std::puts("saving");
            std::fflush(stdout);
            announced = true;
        }
    }
    return 0;
}

int Run(const char *folder)
{
    QGuiApplication::setQuitOnLastWindowClosed(false);
    platform::InstallTerminationSignals([] { fw::Application().Terminate(); });
    {
        testforms::TFPral form;
        form.FormStorage1->Restore();
        form.show();
        form.DirectoryEdit1->SetText(QString::fromLocal8Bit(folder));
        std::puts("ready");
        std::fflush(stdout);
        fw::Application().Run();
    }
    std::puts("ended");
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test that started it
    QApplication app(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "saveloop") == 0)
        return SaveLoop();
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0)
        return Run(argv[2]);
    std::fputs("usage: settings_helper saveloop | run <folder>\n", stderr);
    return 2;
}
