#pragma once
// Menus: items with captions and click events, the window's menu bar and popup menus.
//
// The menu bar's menus and items are reached from the keyboard: each gets an underlined letter
// (Alt and the letter) chosen from its caption so that none repeats within its menu; the caption
// itself keeps its words. Popup menus (the tray's, whose labels the desktop shows as they are)
// get none.
#include "framework/Classes.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <functional>
#include <string_view>

class QPainter;

namespace fw {

class TMenuItem : public QAction {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)
public:
    // A separator when `caption` is "-".
    TMenuItem(QObject *owner, std::string_view name, std::string_view caption);

    std::string Caption() const;
    void SetCaption(std::string_view caption);
    // The caption as given, without the underlined letter's mark (text() has it).
    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

    // Adds an item to this item's submenu (made on first use).
    TMenuItem *Add(std::string_view name, std::string_view caption);
    QMenu *SubMenu() const { return m_subMenu; }
    // Clicks the item as the user would (runs OnClick when enabled).
    void Click() { trigger(); }

    TNotifyEvent OnClick;

private:
    friend class TMainMenu;
    QMenu *m_subMenu = nullptr;
    QString m_caption;
    bool m_mnemonics = false;  // an item of the menu bar or of its menus
};

// Underlines a letter in each item's caption, none twice among `actions` (the items of one menu).
void AssignMnemonics(const QList<QAction *> &actions);

// The menu bar of a window. Its items are the menus; an item without subitems is a command of
// its own.
class TMainMenu : public QMenuBar {
    Q_OBJECT
public:
    TMainMenu(QWidget *window, std::string_view name);
    TMenuItem *Add(std::string_view name, std::string_view caption);
    // Opens the first menu for the keyboard, as F10 does.
    void OpenFirstMenu();
};

class TPopupMenu : public QMenu {
    Q_OBJECT
public:
    TPopupMenu(QWidget *owner, std::string_view name);
    TMenuItem *Add(std::string_view name, std::string_view caption);
};

// A popup menu with a strip of its own left of its items, drawn by its owner: the items stand
// LeftMargin + 1 pixels further right, and the menu is as much wider. Items carry no check marks.
class TRxPopupMenu : public TPopupMenu {
    Q_OBJECT
public:
    TRxPopupMenu(QWidget *owner, std::string_view name);

    int LeftMargin() const { return m_leftMargin; }
    void SetLeftMargin(int pixels);

    // Draws the strip: Rect runs from x 0 to x LeftMargin (exclusive) over the whole menu.
    std::function<void(TObject *Sender, QPainter &Canvas, const QRect &Rect)> OnDrawMargin;

protected:
    void paintEvent(QPaintEvent *e) override;
    void changeEvent(QEvent *e) override;

private:
    void placeItems();

    int m_leftMargin = 30;
};

}  // namespace fw
