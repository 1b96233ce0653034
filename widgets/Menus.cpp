#include "widgets/Menus.h"

#include "framework/Ansi.h"

namespace fw {

TMenuItem::TMenuItem(QObject *owner, std::string_view name, std::string_view caption) : QAction(owner)
{
    setObjectName(FromAnsi(name));
    if (caption == "-")
        setSeparator(true);
    else
        setText(FromAnsi(caption));
    connect(this, &QAction::triggered, this, [this] { Fire(OnClick, this); });
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

}  // namespace fw
