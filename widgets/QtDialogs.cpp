// The dialog service's Qt backend: the message boxes the user sees, placed over the window they
// belong to.
#include "widgets/QtDialogs.h"

#include "framework/Ansi.h"
#include "widgets/Forms.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

namespace fw {
namespace {

// The mark of a place where a line may break without a visible sign (a zero-width space).
constexpr QChar kBreak(0x200B);
// Runs longer than this without a place to break get one every so many characters.
constexpr int kLongestRun = 40;

// The text with places to break where a message box could not wrap it: after each separator of a
// path, and within any overlong run of characters without a space, so that a long folder wraps
// within the box instead of widening it past the screen.
QString breakable(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    int run = 0;
    for (const QChar c : text) {
        out += c;
        if (c.isSpace()) {
            run = 0;
            continue;
        }
        ++run;
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || run >= kLongestRun) {
            out += kBreak;
            run = 0;
        }
    }
    return out;
}

// The window a message belongs to: the active window, or else the program's main form while it is
// on the screen. None (a message before any window, or with the window away in the tray) means the
// screen.
QWidget *messageOwner()
{
    const auto onScreen = [](const QWidget *w) {
        return w && w->isVisible() && !w->isMinimized() &&
               (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog);
    };
    if (QWidget *active = QApplication::activeWindow(); onScreen(active))
        return active;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        const auto *form = qobject_cast<const TForm *>(top);
        if (form && form->MainForm && onScreen(form))
            return top;
    }
    return nullptr;
}

// A message box lays itself out only as it is shown (a long text wraps then), so it is centred by
// that final size, over its owner's window. A window manager would centre a dialog over its owner
// by itself; without one (a bare X server) nothing but this places it.
class CentredMessageBox final : public QMessageBox {
public:
    explicit CentredMessageBox(QWidget *owner) : m_owner(owner) {}

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);
        centre();
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        // Ctrl+C copies the message, as the system's message boxes do: title, text and buttons
        // between separator lines.
        if (event != QKeySequence::Copy) {
            QMessageBox::keyPressEvent(event);
            return;
        }
        const QString separator = QStringLiteral("---------------------------\n");
        QStringList buttonTexts;
        for (const QAbstractButton *button : buttons())
            buttonTexts.append(button->text().remove(QLatin1Char('&')));
        QGuiApplication::clipboard()->setText(separator + windowTitle() + QLatin1Char('\n') + separator + plainText() +
                                              QLatin1Char('\n') + separator + buttonTexts.join(QStringLiteral("   ")) +
                                              QLatin1Char('\n') + separator);
    }
    void resizeEvent(QResizeEvent *event) override
    {
        QMessageBox::resizeEvent(event);
        // A size that changes after showing (a late layout) would leave the box off centre.
        if (isVisible())
            centre();
    }

private:
    QString plainText() const { return text().remove(kBreak); }

    void centre()
    {
        const QScreen *screen = m_owner ? m_owner->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QRect area = screen->availableGeometry();
        QRect frame = frameGeometry();
        frame.moveCenter(m_owner ? m_owner->frameGeometry().center() : area.center());
        // Over a window near the edge the box stays whole on the screen.
        frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() - frame.width() + 1)));
        frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() - frame.height() + 1)));
        move(frame.topLeft());
    }

    QPointer<QWidget> m_owner;
};

}  // namespace

DialogResult QtDialogBackend::Show(DialogKind kind, const std::string &title, const std::string &text)
{
    CentredMessageBox box(messageOwner());
    box.setWindowTitle(FromAnsi(title));
    box.setTextFormat(Qt::PlainText);
    const QString shown = DialogDisplayText(text);
    box.setText(breakable(shown));
    // A screen reader reads the box as its title and its text, as written.
    box.setAccessibleName(FromAnsi(title));
    box.setAccessibleDescription(shown);
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
