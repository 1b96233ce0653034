#pragma once
// The dialog service's real backend: modal Qt message boxes with Spanish buttons, centred over the
// active window or the shown main form, or else on the screen. A long text wraps within the box
// (a path at its separators, an overlong name anywhere); a screen reader reads the box as its title
// and its text.
#include "framework/Dialogs.h"

#include <QString>

namespace fw {

class QtDialogBackend final : public DialogBackend {
public:
    DialogResult Show(DialogKind kind, const std::string &title, const std::string &text) override;
};

// Installs the Qt backend for the rest of the process.
void InstallQtDialogs();

// A dialog's text as the message box shows it: a CR (alone or before an LF) breaks the line, as
// it does in the system's message boxes.
QString DialogDisplayText(const std::string &text);

}  // namespace fw
