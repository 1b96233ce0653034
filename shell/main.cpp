// Program entry: the application object, the main window and the message loop.
#include "ui/Application.h"
#include "ui/widgets/QtDialogs.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication qtApp(argc, argv);
    ui::InstallQtDialogs();
    ui::Application().SetTitle("Drovanel");
    QWidget window;
    window.setWindowTitle(QStringLiteral("Drovanel"));
    window.setFixedSize(396, 291);
    window.show();
    ui::Application().Run();
    return 0;
}
