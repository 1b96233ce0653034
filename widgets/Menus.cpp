#include "widgets/Menus.h"

#include "framework/Ansi.h"
#include "framework/Application.h"

#include <QEvent>
#include <QKeySequence>
#include <QPainter>
#include <QSet>
#include <QShortcut>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

namespace fw {
namespace {

// A caption as Qt shows it: a "&" of the caption stays a "&", and the letter at `mnemonic` (if
// not -1) is underlined.
QString shownText(const QString &caption, qsizetype mnemonic)
{
    QString text;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (i == mnemonic)
            text += QLatin1Char('&');
        text += caption.at(i);
        if (caption.at(i) == QLatin1Char('&'))
            text += QLatin1Char('&');
    }
    return text;
}

// Where the mnemonic of `caption` goes: the first letter of a word not yet taken in the menu,
// else any letter not taken; -1 when every letter is. Only letters a keyboard types with Alt
// (plain ASCII) are chosen.
qsizetype chooseMnemonic(const QString &caption, QSet<QChar> &taken)
{
    const auto usable = [&](qsizetype i) {
        const QChar c = caption.at(i);
        return c.unicode() < 0x80 && c.isLetter() && !taken.contains(c.toLower());
    };
    qsizetype chosen = -1;
    for (qsizetype i = 0; i < caption.size() && chosen < 0; ++i) {
        const bool wordStart = i == 0 || !caption.at(i - 1).isLetterOrNumber();
        if (wordStart && usable(i))
            chosen = i;
    }
    for (qsizetype i = 0; i < caption.size() && chosen < 0; ++i) {
        if (usable(i))
            chosen = i;
    }
    if (chosen >= 0)
        taken.insert(caption.at(chosen).toLower());
    return chosen;
}

}  // namespace

void AssignMnemonics(const QList<QAction *> &actions)
{
    QSet<QChar> taken;
    for (QAction *action : actions) {
        auto *item = qobject_cast<TMenuItem *>(action);
        if (!item || item->isSeparator())
            continue;
        item->setText(shownText(item->caption(), chooseMnemonic(item->caption(), taken)));
        if (item->SubMenu())
            item->SubMenu()->setTitle(item->text());
    }
}

TMenuItem::TMenuItem(QObject *owner, std::string_view name, std::string_view caption) : QAction(owner)
{
    setObjectName(FromAnsi(name));
    if (caption == "-")
        setSeparator(true);
    else
        setCaption(FromAnsi(caption));
    connect(this, &QAction::triggered, this, [this] { FireFromSignal(this, OnClick, this); });
}

std::string TMenuItem::Caption() const
{
    return ToAnsi(caption());
}

void TMenuItem::SetCaption(std::string_view caption)
{
    setCaption(FromAnsi(caption));
}

void TMenuItem::setCaption(const QString &caption)
{
    m_caption = caption;
    if (!m_mnemonics) {
        setText(shownText(caption, -1));
        return;
    }
    // The letters of the whole menu are chosen again: a new caption may free or take one.
    if (auto *bar = qobject_cast<QMenuBar *>(parent()))
        AssignMnemonics(bar->actions());
    else if (auto *owner = qobject_cast<TMenuItem *>(parent()); owner && owner->SubMenu())
        AssignMnemonics(owner->SubMenu()->actions());
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
    if (m_mnemonics) {
        item->m_mnemonics = true;
        AssignMnemonics(m_subMenu->actions());
    }
    return item;
}

TMainMenu::TMainMenu(QWidget *window, std::string_view name) : QMenuBar(window)
{
    setObjectName(FromAnsi(name));
    setNativeMenuBar(false);  // the menu belongs to the window, on every desktop
    // F10 opens the first menu, as on the usual desktops.
    auto *f10 = new QShortcut(QKeySequence(Qt::Key_F10), window);
    connect(f10, &QShortcut::activated, this, &TMainMenu::OpenFirstMenu);
}

void TMainMenu::OpenFirstMenu()
{
    for (QAction *action : actions()) {
        if (action->isVisible() && action->isEnabled() && !action->isSeparator()) {
            setActiveAction(action);
            return;
        }
    }
}

TMenuItem *TMainMenu::Add(std::string_view name, std::string_view caption)
{
    auto *item = new TMenuItem(this, name, caption);
    item->m_mnemonics = true;
    addAction(item);
    AssignMnemonics(actions());
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
