#pragma once
// The dialog service: the four message dialogs and the standard error report. Every dialog of the
// program goes through here, so that tests can answer and record them (see SetDialogBackend).
#include <string>
#include <string_view>

namespace fw {

enum class DialogKind {
    Message,       // plain: the application title, no icon, "Aceptar"
    Information,   // "Información", information icon, "Aceptar"
    Warning,       // "Aviso", exclamation icon, "Aceptar"
    Confirmation,  // "Confirmación", question icon, "&Si" and "&No"
    Error,         // the error report: the application title, error icon, one OK button
};

enum class DialogResult { Ok, Yes, No };

class DialogBackend {
public:
    virtual ~DialogBackend() = default;
    // Shows a modal dialog centred over the window it belongs to (the screen when there is none)
    // and returns the user's answer.
    virtual DialogResult Show(DialogKind kind, const std::string &title, const std::string &text) = 0;
};

// Installs the backend (not owned); nullptr restores the default, which answers Ok/No silently
// (as a process without a display must).
void SetDialogBackend(DialogBackend *backend);
DialogBackend *CurrentDialogBackend();

void ShowMessage(std::string_view text);
void ShowInformation(std::string_view text);
void ShowWarning(std::string_view text);
// True when the user answers "Si".
bool Confirm(std::string_view text);
// The standard error report of an exception's message.
void ShowErrorReport(std::string_view message);

// The report's text: the message with a full stop appended when its last character sorts after ".".
std::string ErrorReportText(std::string_view message);

}  // namespace fw
