// The main form's settings outside the store's own hooks: saved when a settings page's "Guardar"
// is pressed, and once more when the process ends without the window's destruction (the display
// connection lost), so a crash, a killed X server or a power cut loses no setting that was saved.
#include "shell/Pral.h"

#include "framework/ProcessEnd.h"
#include "platform/Registry.h"

#include <QPointer>

namespace {

// The form whose settings the exit handler saves; null once the form is gone.
QPointer<TFPral> g_settingsForm;

// Qt ends the process with exit() when the connection to the display breaks: the message loop
// never returns and the form is never destroyed. The controls still hold their values (reading
// them needs no display), so the settings are saved here, without any dialog.
void saveAtExit()
{
    TFPral *form = g_settingsForm.data();
    if (!form || !form->FormStorage1)
        return;
    try {
        if (form->FormStorage1->IsRestored() && !form->FormStorage1->IsSaved())
            form->FormStorage1->SaveNow();
    } catch (...) {
        // Nothing can be shown any more; the file keeps the last complete save.
    }
}

}  // namespace

void TFPral::GuardarClick(fw::TObject *Sender)
{
    cxButton2Click(Sender);
    // Durable at once: a crash or a power cut after "Guardar" keeps what the user saved. An error
    // reaches the framework's report.
    FormStorage1->SaveNow();
    m_savedFolder = DirectoryEdit1->Text();
}

void TFPral::InstallSettingsGuards()
{
    // Exit steps and the destructors of static objects run in the reverse order of their making:
    // the registry's own state must exist before the step is added, so that it outlives the save.
    platform::RegistryFile();
    static const bool added = (fw::AtExit(saveAtExit), true);
    (void)added;
    g_settingsForm = this;
}
