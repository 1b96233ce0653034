#include "widgets/Menus.h"

#include "framework/Ansi.h"
#include "framework/Application.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

namespace fw {

TMenuItem::TMenuItem(QObject *owner, std::string_view name, std::string_view caption) : QAction(owner)
{
    setObjectName(FromAnsi(name));
    if (caption == "-")
        setSeparator(true);
    else
        setText(FromAnsi(caption));
    connect(this, &QAction::triggered, this, [this] { FireFromSignal(this, OnClick, this); });
}

std::string TMenuItem::Caption() const
{
    return ToAnsi(text());
}

void TMenuItem::SetCaption(std::string_view caption)
{
    setText(FromAnsi(caption));
}

TMenuItem *TMenuItem::Add(std::string_view name, std::string_view caption)
{
    if (!m_subMenu) {
        // The submenu belongs to the widget that shows this item; this item only points to it.
        auto *host = qobject_cast<QWidget *>(parent());
        m_subMenu = new QMenu(host);
        m_subMenu->setTitle(text());
        setMenu(m_subMenu);
    }
    auto *item = new TMenuItem(this, name, caption);
    m_subMenu->addAction(item);
    return item;
}

TMainMenu::TMainMenu(QWidget *window, std::string_view name) : QMenuBar(window)
{
    setObjectName(FromAnsi(name));
    setNativeMenuBar(false);  // the menu belongs to the window, on every desktop
}

TMenuItem *TMainMenu::Add(std::string_view name, std::string_view caption)
{
    auto *item = new TMenuItem(this, name, caption);
    addAction(item);
    return item;
}

TPopupMenu::TPopupMenu(QWidget *owner, std::string_view name) : QMenu(owner)
{
    setObjectName(FromAnsi(name));
}

TMenuItem *TPopupMenu::Add(std::string_view name, std::string_view caption)
{
    auto *item = new TMenuItem(this, name, caption);
    addAction(item);
    return item;
}

TRxPopupMenu::TRxPopupMenu(QWidget *owner, std::string_view name) : TPopupMenu(owner, name)
{
    placeItems();
}

void TRxPopupMenu::SetLeftMargin(int pixels)
{
    m_leftMargin = std::max(pixels, 0);
    placeItems();
}

void TRxPopupMenu::placeItems()
{
    // The menu puts its items after its frame and the style's margin; the contents margin makes up
    // the rest, so that the items begin exactly one pixel right of the strip whatever the style.
    QStyleOption opt;
    opt.initFrom(this);
    const int frame = style()->pixelMetric(QStyle::PM_MenuPanelWidth, &opt, this) +
                      style()->pixelMetric(QStyle::PM_MenuHMargin, &opt, this);
    QMargins margins = contentsMargins();
    margins.setLeft(std::max(0, m_leftMargin + 1 - frame));
    setContentsMargins(margins);
    update();
}

void TRxPopupMenu::changeEvent(QEvent *e)
{
    TPopupMenu::changeEvent(e);
    if (e->type() == QEvent::StyleChange)
        placeItems();
}

void TRxPopupMenu::paintEvent(QPaintEvent *e)
{
    TPopupMenu::paintEvent(e);
    if (!OnDrawMargin || m_leftMargin == 0)
        return;
    QPainter canvas(this);
    FireFromSignal(this, OnDrawMargin, this, canvas, QRect(0, 0, m_leftMargin, height()));
}

}  // namespace fw
