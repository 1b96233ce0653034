#pragma once
// The dialog service's real backend: modal Qt message boxes with Spanish buttons, centred on the
// screen.
#include "ui/Dialogs.h"

namespace ui {

class QtDialogBackend final : public DialogBackend {
public:
    DialogResult Show(DialogKind kind, const std::string &title, const std::string &text) override;
};

// Installs the Qt backend for the rest of the process.
void InstallQtDialogs();

}  // namespace ui
