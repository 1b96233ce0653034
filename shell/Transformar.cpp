// The main form's conversion: reads the device model and the level bars from the controls and
// converts the download into the map named FUltimaLocal (shell/Conversion does the file work).
#include "framework/Dialogs.h"
#include "shell/Conversion.h"
#include "shell/Pral.h"

void TFPral::Transformar()
{
    if (!shell::IsPointsFileName(FUltimaLocal)) {
        fw::ShowMessage(shell::InvalidDestinationNameText());
        return;
    }
    const int model = Avisadores->ItemIndex();
    const shell::AlertLevels levels = shell::ReadAlertLevels(model, [this](const char *barName) {
        const auto *bar = qobject_cast<const fw::TTrackBar *>(fw::FindComponent(this, barName));
        return bar ? bar->Position() : 0;
    });
    // File errors leave as EInOutError for the caller's error report; the download stays for
    // another try.
    if (shell::ConvertPointsFile(FOrigen, FDestino, shell::kDownloadFileName, FUltimaLocal, model, levels) ==
        shell::ConversionResult::InvalidHeader) {
        fw::ShowMessage(shell::InvalidPointsFileText());
        return;
    }
    fw::ShowMessage(shell::MapReceivedText());
    shell::DeleteDownload(DirectoryEdit1->Text());
}

std::string TFPral::SinVel(std::string_view linea)
{
    return shell::AlertVariant(linea, '0');
}
