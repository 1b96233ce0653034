// Renders each page of the main window, the main page with the new-map mark, and a hint balloon
// to PNG files, with the window's own drawing (no window manager frame).
//   drovanel-screenshots OUTPUT_FOLDER
#include "framework/Ansi.h"
#include "shell/Pral.h"
#include "widgets/Hints.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QPainter>
#include <QTimer>
#include <cstdio>

namespace {

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool save(const QImage &image, const QDir &out, const QString &name)
{
    if (image.save(out.filePath(name)))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(out.filePath(name)));
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drovanel-screenshots OUTPUT_FOLDER\n");
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    // The window as the start-up leaves it on a configured installation, without the start-up's
    // dialogs and update check.
    TFPral form;
    form.FVersion = "9.3";
    form.BarradeEstado();
    form.DirectoryEdit1->SetText("/home/usuario/Escritorio/ActDrovanel");
    form.ProxyServerEdit1->SetText("proxy.example.net");
    form.Show();
    settle();

    bool ok = true;
    for (int i = 0; i < form.Notebook1->PageCount(); ++i) {
        form.Notebook1->SetPageIndex(i);
        settle();
        const QString name = QStringLiteral("page-%1-%2.png").arg(i).arg(fw::FromAnsi(form.Notebook1->PageName(i)));
        ok = save(form.grab().toImage(), out, name) && ok;
    }

    // The main page after an update check that found a newer map.
    form.Notebook1->SetActivePage("Default");
    form.Label3->SetCaption("Watcher-010101.mdb");
    form.Label4->SetCaption("Watcher-250301.mdb");
    form.Image2->SetVisible(true);
    form.StatusBar1->SetPanelText(0, "Transferencia de datos finalizada");
    settle();
    ok = save(form.grab().toImage(), out, QStringLiteral("new-map.png")) && ok;

    // A hint balloon over the "Máx" column of the Watcher levels.
    form.Notebook1->SetActivePage("Avisos");
    settle();
    fw::TLabel *label = form.cxLabel7;
    QCursor::setPos(label->mapToGlobal(label->rect().center()));
    QEventLoop wait;
    QObject::connect(&fw::HintManager::Instance(), &fw::HintManager::hintShown, &wait, &QEventLoop::quit);
    QTimer::singleShot(5000, &wait, &QEventLoop::quit);
    fw::HintManager::Instance().Enter(label);
    wait.exec();
    if (fw::THintBalloon *balloon = fw::HintManager::Instance().Balloon()) {
        // The balloon may reach past the window's edge, as it does on a desktop: the picture
        // holds both.
        const QRect windowRect(form.mapToGlobal(QPoint(0, 0)), form.size());
        const QRect balloonRect(balloon->pos(), balloon->size());
        const QRect all = windowRect.united(balloonRect);
        QImage shot(all.size(), QImage::Format_ARGB32_Premultiplied);
        shot.fill(Qt::transparent);
        QPainter p(&shot);
        p.drawImage(windowRect.topLeft() - all.topLeft(), form.grab().toImage());
        p.drawImage(balloonRect.topLeft() - all.topLeft(), balloon->grab().toImage());
        p.end();
        ok = save(shot, out, QStringLiteral("hint.png")) && ok;
    } else {
        std::fprintf(stderr, "the hint balloon did not show\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
