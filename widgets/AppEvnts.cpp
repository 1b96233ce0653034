#include "widgets/AppEvnts.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "widgets/Hints.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace fw {

TAppEvents::TAppEvents(QObject *owner, std::string_view name) : TComponent(owner)
{
    setObjectName(FromAnsi(name));
    if (auto *window = qobject_cast<QWidget *>(owner))
        window->installEventFilter(this);
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                FireFromSignal(this, OnActivate, this);
        });
    }
}

void TAppEvents::Apply() const
{
    HintManager &hints = HintManager::Instance();
    hints.HintPause = HintPause;
    hints.HintShortPause = HintShortPause;
    hints.HintHidePause = HintHidePause;
    hints.ShowHint = ShowHint;
    // The application never shows its main form by itself and never reloads locale formats, so
    // ShowMainForm and UpdateFormatSettings have nothing more to switch off here.
}

bool TAppEvents::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && watched == parent()) {
        const bool was = static_cast<QWindowStateChangeEvent *>(event)->oldState().testFlag(Qt::WindowMinimized);
        const bool is = static_cast<QWidget *>(watched)->windowState().testFlag(Qt::WindowMinimized);
        if (!was && is)
            FireFromSignal(this, OnMinimize, this);
        else if (was && !is)
            FireFromSignal(this, OnRestore, this);
    }
    return false;
}

}  // namespace fw
