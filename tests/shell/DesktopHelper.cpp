// The real main form as a program of its own, for the tests that kill it or take its display:
//   desktop_helper guardar <folder>   starts as the program does, puts <folder> into the download
//                                     folder field, chooses the Sentry III and the lowest level of
//                                     its first bar, presses "Guardar" on the device page, prints
//                                     "saved" and runs the message loop until it is killed
//   desktop_helper change <folder>    the same changes without "Guardar"; prints "changed"
// The stored settings must name an existing download folder, so the start-up asks nothing.
#include "framework/Application.h"
#include "shell/Pral.h"
#include "widgets/QtDialogs.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>

namespace {

// No update server here: the start-up check does nothing.
class HelperPral : public TFPral {
public:
    void ComprobarAct1() override {}
};

}  // namespace

int main(int argc, char **argv)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test that started it
    QApplication app(argc, argv);
    if (argc < 3 || (std::strcmp(argv[1], "guardar") != 0 && std::strcmp(argv[1], "change") != 0)) {
        std::fputs("usage: desktop_helper guardar|change <folder>\n", stderr);
        return 2;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    fw::InstallQtDialogs();
    fw::Application().SetTitle("Drovanel");
    const auto form = fw::CreateForm<HelperPral>();
    form->DirectoryEdit1->SetText(argv[2]);
    form->Avisadores->SetItemIndex(0);
    form->cxTrackBar6->SetPosition(0);
    const bool guardar = std::strcmp(argv[1], "guardar") == 0;
    if (guardar)
        form->cxButton3->Click();
    std::puts(guardar ? "saved" : "changed");
    std::fflush(stdout);
    fw::Application().Run();
    return 0;
}
