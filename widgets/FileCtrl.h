#pragma once
// File controls: the list of a folder's files, the folder field with its browse button, and the
// folder browser behind that button.
#include "widgets/Controls.h"

#include <QDialog>
#include <QPersistentModelIndex>
#include <functional>
#include <optional>

class QListWidget;
class QToolButton;
class QTreeView;
class QFileSystemModel;

namespace fw {

// The names (without folder) of the ordinary files of one folder that match a mask, without
// regard to letter case; folders, hidden files (names starting with ".") and special files are
// left out. The list starts at the current directory of the moment it is made, reads its folder
// when it is first used, and then keeps what it read until Update.
class TFileListBox : public TControl {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget *parent, std::string_view name = {});

    std::string Mask() const { return m_mask; }
    void SetMask(std::string_view mask);
    // The list's folder, a full path.
    std::string Directory() const { return m_directory; }

    // Points the list at the folder named by `text`; an empty text changes nothing. The last
    // component is entered as a folder unless it names an existing file, or holds "*" or "?" and
    // names no existing folder.
    // The process's current directory becomes that folder. Raises EInOutError when it cannot be
    // entered.
    void ApplyFilePath(std::string_view text);

    // The names, read on first use (which makes the list's folder the current directory again).
    const std::vector<std::string> &Items();
    int Count() { return static_cast<int>(Items().size()); }
    // Reads the folder again.
    void Update();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void read();
    void fillList();

    QListWidget *m_list = nullptr;
    std::string m_directory;
    std::string m_mask = "*.*";
    std::vector<std::string> m_items;
    bool m_read = false;
};

// The folder browser: a modal dialog with a text above a tree of the file system's folders.
class TFolderBrowser final : public QDialog {
    Q_OBJECT
public:
    TFolderBrowser(QWidget *parent, const QString &text, const QString &start);
    QString SelectedFolder() const;
    QTreeView *Tree() const { return m_tree; }
    // Brings the start folder into view, unless the user has moved on to another one.
    void ScrollToStart();

    // Shows the browser; the chosen folder, or nothing when the user cancels.
    static std::optional<QString> Execute(QWidget *parent, const QString &text, const QString &start);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QTreeView *m_tree;
    QFileSystemModel *m_model;
    QPersistentModelIndex m_start;
};

// A text field for a folder with a button that opens the folder browser. The browser starts at
// the folder in the field if it exists; with an empty field, at the folder last chosen in this
// run or, before any choice, at the default folder, if that exists; otherwise at the root. A chosen
// folder replaces the field's text.
class TDirectoryEdit : public TControl {
    Q_OBJECT
    Q_PROPERTY(QString Text READ text WRITE setText)
public:
    explicit TDirectoryEdit(QWidget *parent, std::string_view name = {});
    std::string Text() const;
    void SetText(std::string_view text);
    QString text() const;
    void setText(const QString &text);

    void SetDialogText(std::string_view text);
    // The default folder is asked for only when the browser needs it (it may take a look-up).
    void SetDefaultFolder(std::function<QString()> folder) { m_defaultFolder = std::move(folder); }
    // The browse button's picture (without one, the style's folder icon once the control shows).
    void SetGlyph(const QPixmap &glyph);
    // The folder where the browser opens now.
    QString BrowseStart() const;
    // Opens the browser as the button does.
    void DoBrowse();

    // The editor and its button, made when the field is first shown or asked for them.
    QLineEdit *Edit() const;
    QToolButton *BrowseButton() const;

    // The browser; tests replace it. Gets the dialog text and the start folder.
    std::function<std::optional<QString>(QWidget *parent, const QString &text, const QString &start)> Browser =
        TFolderBrowser::Execute;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void makeEditor() const;

    mutable QLineEdit *m_edit = nullptr;
    mutable QToolButton *m_button = nullptr;
    QString m_text;   // until the editor is made
    QPixmap m_glyph;  // likewise
    QString m_dialogText;
    std::function<QString()> m_defaultFolder;
    QString m_lastChoice;
    bool m_hasGlyph = false;
};

}  // namespace fw
