// The yardstick of the start-up benchmark: a minimal Qt Widgets program showing one window of the
// main window's size with one line of text, and nothing else.
#include <QApplication>
#include <QLabel>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Drovanel"));
    window.setWindowTitle(QStringLiteral("Minimal Qt Widgets program"));
    window.setAlignment(Qt::AlignCenter);
    window.setFixedSize(396, 309);
    window.show();
    return app.exec();
}
