// Program entry: the single-instance test, the application object, the main form and the
// message loop.
#include "framework/Application.h"
#include "platform/SingleInstance.h"
#include "platform/Termination.h"
#include "shell/Pral.h"
#include "widgets/Forms.h"
#include "widgets/QtDialogs.h"
#include "widgets/Style.h"

#include <QApplication>
#include <memory>
#include <optional>

int main(int argc, char **argv)
{
    // Before anything touches the display: a second start asks the running instance to show its
    // window, as a click on its tray icon would, and ends silently. When no mark can be had at
    // all, the program runs rather than not.
    const platform::SingleInstanceMark mark(QStringLiteral("drovanel.lock"));
    if (mark.Status() == platform::SingleInstanceMark::State::HeldByAnother) {
        platform::RequestActivation(mark.ActivationPath(), 1500);
        return 0;
    }

    QApplication qtApp(argc, argv);
    // One identity on every desktop, that of the installed desktop entry: its id is the Wayland
    // app id; the application's name is the class of WM_CLASS (its StartupWMClass) and the tray
    // item's Id and Title.
    QApplication::setApplicationName(QStringLiteral("Drovanel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("es.drovanel.Drovanel"));
    fw::InstallApplicationStyle();
    // The program ends through its menus and its tray, never because its window was hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    // A signal or the desktop session's end ends the program as "Salir" does: the settings are
    // saved while the main form is destroyed.
    platform::InstallTerminationSignals([] { fw::Application().Terminate(); });
    fw::InstallQtDialogs();
    fw::Application().SetTitle("Drovanel");

    // The main form decides in its creation handler whether it shows itself. Later starts can
    // knock from the moment it exists, also while the creation handler asks its first question.
    const auto form = std::make_unique<TFPral>();
    std::optional<platform::ActivationListener> door;
    if (mark.Status() == platform::SingleInstanceMark::State::Held) {
        door.emplace(mark.ActivationPath());
        QObject::connect(&*door, &platform::ActivationListener::activationRequested, form.get(),
                         [&form] { form->ActivateFromSecondStart(); });
    }
    form->DoCreate();
    fw::Application().Run();
    return 0;
}
