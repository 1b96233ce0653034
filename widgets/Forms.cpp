#include "widgets/Forms.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "widgets/Controls.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QVBoxLayout>

namespace fw {

TForm::TForm(std::string_view name, QWidget *parent) : QWidget(parent, Qt::Window), m_client(new QWidget(this))
{
    setObjectName(FromAnsi(name));
    setFont(VerdanaFont());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(m_client);
}

TForm::~TForm()
{
    // The controls are still there: they go with the widget, after this.
    FireFromSignal(this, OnDestroy, this);
}

std::string TForm::Caption() const
{
    return ToAnsi(windowTitle());
}

void TForm::SetCaption(std::string_view caption)
{
    setWindowTitle(FromAnsi(caption));
}

void TForm::SetClientSize(int width, int height)
{
    m_client->setFixedSize(width, height);
    // The window has its final size before it is first shown: its placement is read and written
    // while it is still hidden.
    layout()->activate();
}

void TForm::SetMenu(QMenuBar *menu)
{
    m_menu = menu;
    layout()->setMenuBar(menu);
    layout()->activate();
}

void TForm::SetBareTitleBar()
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}

void TForm::SetWindowStateNormal()
{
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void TForm::DoCreate()
{
    FireFromSignal(this, OnCreate, this);
}

void TForm::showEvent(QShowEvent *e)
{
    if (!e->spontaneous())
        FireFromSignal(this, OnShow, this);
    QWidget::showEvent(e);
}

void TForm::closeEvent(QCloseEvent *e)
{
    bool canClose = true;
    // A handler that fails has not said yes: the form stays.
    if (!FireFromSignal(this, OnCloseQuery, this, canClose))
        canClose = false;
    if (!canClose) {
        e->ignore();
        return;
    }
    e->accept();
    if (MainForm)
        Application().Terminate();
}

}  // namespace fw
