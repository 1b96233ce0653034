// The program while it stays resident: the update check again at an interval, the new-map mark
// with the tray's tooltip, and the desktop notification of a newly published map.
#include "framework/Ansi.h"
#include "framework/Dialogs.h"
#include "shell/Pral.h"

#include <QApplication>
#include <QScopedValueRollback>
#include <chrono>
#include <cstdio>
#include <exception>

void TFPral::buildRecheck()
{
    // A day between ticks needs no precision: the coarse timer lets the system gather wake-ups.
    m_recheckTimer = new QTimer(this);
    m_recheckTimer->setTimerType(Qt::VeryCoarseTimer);
    connect(m_recheckTimer, &QTimer::timeout, this, [this] { RecheckTimerTimer(); });
    // A click on the notification of a new map brings the window, as a click on the icon does.
    RxTrayIcon1->OnBalloonClick = [this](fw::TObject *sender) { RxTrayIcon1Click(sender, fw::mbLeft, {}, 0, 0); };
}

void TFPral::RecheckTimerTimer()
{
    // A tick that finds the program busy (a command on the network, a dialog waiting for an
    // answer, a menu open) leaves the check to the next one.
    if (!ComprobarChk->Checked() || FtpBusy() || Ending() || QApplication::activeModalWidget() ||
        QApplication::activePopupWidget())
        return;
    const QScopedValueRollback recheck(m_recomprobando, true);
    try {
        RunFtpCommand([this] { ComprobarAct1(); });
    } catch (const std::exception &e) {
        // No box: a machine left offline overnight would find a pile of them. The next tick tries
        // again.
        std::fprintf(stderr, "drovanel: la comprobación de mapas nuevos ha fallado: %s\n",
                     fw::OneLineText(e.what()).c_str());
    }
}

void TFPral::AvisoComprobacion(const std::string &text)
{
    if (m_recomprobando)
        std::fprintf(stderr, "drovanel: %s\n", fw::OneLineText(text).c_str());
    else
        fw::ShowMessage(text);
}

void TFPral::MarcaNuevoMapa(bool visible)
{
    Image2->SetVisible(visible);
    RxTrayIcon1->SetHint(fw::FromAnsi(visible ? shell::NewMapHint(FUltimaPublicada) : shell::kTrayTitle));
    // Once a run for each published name, and only where an icon can carry it: without one the
    // window's mark is all there is.
    if (visible && !m_avisados.contains(FUltimaPublicada) &&
        RxTrayIcon1->ShowMessage(QString::fromLatin1(shell::kTrayTitle),
                                 fw::FromAnsi(shell::NewMapText(FUltimaPublicada))))
        m_avisados.insert(FUltimaPublicada);
}
