// e2e_clipboard: prints the text on the clipboard of the X display in DISPLAY and ends. The
// black-box tests read a message box's text this way: Ctrl+C in a message box copies its title,
// text and buttons to the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    const QGuiApplication app(argc, argv);
    const QByteArray text = QGuiApplication::clipboard()->text().toUtf8();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    return 0;
}
