// The main form's conversion: reads the device model and the level bars from the controls and
// converts the download into the map named FUltimaLocal (shell/Conversion does the file work).
#include "framework/Dialogs.h"
#include "framework/FileSystem.h"
#include "shell/Conversion.h"
#include "shell/Pral.h"

void TFPral::Transformar(const std::string &Carpeta)
{
    if (!shell::IsPointsFileName(FUltimaLocal)) {
        fw::ShowMessage(shell::InvalidDestinationNameText());
        return;
    }
    const int model = Avisadores->ItemIndex();
    // A device file of the header alone would pass for a map: the download stays as it came.
    if (!shell::HasConversion(model)) {
        fw::ShowMessage(shell::NoConversionText(model));
        return;
    }
    const shell::AlertLevels levels = shell::ReadAlertLevels(model, [this](const char *barName) {
        const auto *bar = qobject_cast<const fw::TTrackBar *>(fw::FindComponent(this, barName));
        return bar ? bar->Position() : 0;
    });
    // File errors leave as EInOutError for the caller's error report; the download stays for
    // another try.
    const std::string source = fw::JoinPath(Carpeta, shell::kDownloadFileName);
    const std::string destination = fw::JoinPath(Carpeta, FUltimaLocal);
    if (shell::ConvertPointsFile(FOrigen, FDestino, source, destination, model, levels) ==
        shell::ConversionResult::InvalidHeader) {
        fw::ShowMessage(shell::InvalidPointsFileText());
        return;
    }
    fw::ShowMessage(shell::MapReceivedText());
    shell::DeleteDownload(Carpeta);
}

std::string TFPral::SinVel(std::string_view linea)
{
    return shell::AlertVariant(linea, '0');
}
