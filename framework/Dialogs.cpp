#include "framework/Dialogs.h"

#include "framework/Ansi.h"
#include "framework/Application.h"

namespace fw {
namespace {

class SilentBackend final : public DialogBackend {
public:
    DialogResult Show(DialogKind kind, const std::string &, const std::string &) override
    {
        return kind == DialogKind::Confirmation ? DialogResult::No : DialogResult::Ok;
    }
};

SilentBackend g_silent;
DialogBackend *g_backend = nullptr;

DialogResult show(DialogKind kind, const std::string &title, std::string_view text)
{
    return CurrentDialogBackend()->Show(kind, title, std::string(text));
}

}  // namespace

void SetDialogBackend(DialogBackend *backend)
{
    g_backend = backend;
}

DialogBackend *CurrentDialogBackend()
{
    return g_backend ? g_backend : &g_silent;
}

void ShowMessage(std::string_view text)
{
    show(DialogKind::Message, Application().Title(), text);
}

void ShowInformation(std::string_view text)
{
    show(DialogKind::Information, AnsiText("Información"), text);
}

void ShowWarning(std::string_view text)
{
    show(DialogKind::Warning, "Aviso", text);
}

bool Confirm(std::string_view text)
{
    return show(DialogKind::Confirmation, AnsiText("Confirmación"), text) == DialogResult::Yes;
}

std::string ErrorReportText(std::string_view message)
{
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text += '.';
    return text;
}

void ShowErrorReport(std::string_view message)
{
    show(DialogKind::Error, Application().Title(), ErrorReportText(message));
}

}  // namespace fw
