#include "widgets/QtDialogs.h"

#include "framework/Ansi.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace fw {
namespace {

// A message box lays itself out only as it is shown (a long text wraps then): it is centred on
// the screen by that final size, not by the size it had before.
class CentredMessageBox final : public QMessageBox {
protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
};

}  // namespace

DialogResult QtDialogBackend::Show(DialogKind kind, const std::string &title, const std::string &text)
{
    CentredMessageBox box;
    box.setWindowTitle(FromAnsi(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(DialogDisplayText(text));
    box.setWindowModality(Qt::ApplicationModal);
    QPushButton *yes = nullptr;
    switch (kind) {
    case DialogKind::Message: box.setIcon(QMessageBox::NoIcon); break;
    case DialogKind::Information: box.setIcon(QMessageBox::Information); break;
    case DialogKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case DialogKind::Confirmation: box.setIcon(QMessageBox::Question); break;
    case DialogKind::Error: box.setIcon(QMessageBox::Critical); break;
    }
    if (kind == DialogKind::Confirmation) {
        // Yes is the default: Enter accepts what the question proposes.
        yes = box.addButton(QStringLiteral("&Si"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
    } else if (kind == DialogKind::Error) {
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    } else {
        box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
    }
    box.exec();
    if (kind == DialogKind::Confirmation)
        return box.clickedButton() == yes ? DialogResult::Yes : DialogResult::No;
    return DialogResult::Ok;
}

QString DialogDisplayText(const std::string &text)
{
    QString shown = FromAnsi(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

void InstallQtDialogs()
{
    static QtDialogBackend backend;
    SetDialogBackend(&backend);
}

}  // namespace fw
