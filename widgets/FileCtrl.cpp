#include "widgets/FileCtrl.h"

#include "framework/Ansi.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace fw {

// ---- TFileListBox

TFileListBox::TFileListBox(QWidget *parent, std::string_view name) : TControl(parent, name)
{
    try {
        m_directory = GetCurrentDir();
    } catch (const EInOutError &) {
        // Started in a folder that has been deleted: the list has no folder until it is pointed
        // at one, and reading it before then reports the error.
    }
}

void TFileListBox::SetMask(std::string_view mask)
{
    m_mask = mask;
    m_read = false;
}

void TFileListBox::ApplyFilePath(std::string_view text)
{
    if (text.empty())
        return;
    const QFileInfo info(PathFromAnsi(text));
    const QString last = info.fileName();
    // A folder whose real name holds "*" or "?" is entered like any other: only a last component
    // that names no folder is taken for a file mask.
    const bool wildcard =
        (last.contains(QLatin1Char('*')) || last.contains(QLatin1Char('?'))) && !DirectoryExists(text);
    const bool existingFile = info.exists() && !info.isDir();
    std::string folder(text);
    if (wildcard || existingFile)
        folder = PathToAnsi(info.path());  // the folder part alone; "." for a bare name
    SetCurrentDir(folder);
    m_directory = GetCurrentDir();
    m_read = false;
}

const std::vector<std::string> &TFileListBox::Items()
{
    if (!m_read)
        read();
    return m_items;
}

void TFileListBox::Update()
{
    read();
}

void TFileListBox::read()
{
    SetCurrentDir(m_directory);
    // QDir leaves out hidden and special files unless asked for them; name filters ignore case.
    const QDir dir(PathFromAnsi(m_directory), FromAnsi(m_mask), QDir::Name | QDir::IgnoreCase,
                   QDir::Files | QDir::NoDotAndDotDot);
    m_items.clear();
    for (const QString &name : dir.entryList())
        m_items.push_back(PathToAnsi(name));
    m_read = true;
    fillList();
}

void TFileListBox::fillList()
{
    if (!m_list)
        return;
    m_list->clear();
    for (const std::string &name : m_items)
        m_list->addItem(PathFromAnsi(name));
}

void TFileListBox::showEvent(QShowEvent *event)
{
    // The list a user sees is made when it is first shown: a hidden list, as the main form keeps
    // its own, only reads the folder's names.
    if (!m_list) {
        m_list = new QListWidget(this);
        SetInner(m_list);
        fillList();
        m_list->show();
    }
    TControl::showEvent(event);
}

// ---- TFolderBrowser

TFolderBrowser::TFolderBrowser(QWidget *parent, const QString &text, const QString &start)
    : QDialog(parent), m_tree(new QTreeView(this)), m_model(new QFileSystemModel(this))
{
    setWindowTitle(QStringLiteral("Buscar carpeta"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(text, this);
    label->setWordWrap(true);
    layout->addWidget(label);

    m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    m_model->setRootPath(QStringLiteral("/"));
    m_tree->setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->header()->hide();
    // The model reads folders in the background: the rows above the start folder arrive (and are
    // sorted) after this, and each change would push it out of view. It is scrolled to again
    // after each, and once more when the browser is shown.
    m_start = m_model->index(start);
    if (m_start.isValid()) {
        m_tree->setCurrentIndex(m_start);
        m_tree->scrollTo(m_start, QAbstractItemView::PositionAtCenter);
        const auto later = [this] { QTimer::singleShot(0, this, &TFolderBrowser::ScrollToStart); };
        connect(m_model, &QFileSystemModel::directoryLoaded, this, later);
        // The model sorts what it has read after it has told so.
        connect(m_model, &QAbstractItemModel::layoutChanged, this, later);
        connect(m_model, &QAbstractItemModel::rowsInserted, this, later);
    }
    layout->addWidget(m_tree, 1);

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Aceptar"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(320, 380);
}

void TFolderBrowser::ScrollToStart()
{
    if (m_start.isValid() && m_tree->currentIndex() == m_start)
        m_tree->scrollTo(m_start, QAbstractItemView::PositionAtCenter);
}

void TFolderBrowser::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    ScrollToStart();
}

QString TFolderBrowser::SelectedFolder() const
{
    const QModelIndex index = m_tree->currentIndex();
    return index.isValid() ? m_model->filePath(index) : QString();
}

std::optional<QString> TFolderBrowser::Execute(QWidget *parent, const QString &text, const QString &start)
{
    TFolderBrowser browser(parent, text, start);
    if (browser.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString folder = browser.SelectedFolder();
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

// ---- TDirectoryEdit

TDirectoryEdit::TDirectoryEdit(QWidget *parent, std::string_view name) : TControl(parent, name) {}

void TDirectoryEdit::makeEditor() const
{
    if (m_edit)
        return;
    auto *self = const_cast<TDirectoryEdit *>(this);
    auto *box = new QWidget(self);
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    m_edit = new QLineEdit(m_text, box);
    m_button = new QToolButton(box);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_button);
    // A tab stop after the field, so that the browser opens from the keyboard too.
    m_button->setFocusPolicy(Qt::TabFocus);
    m_button->setAccessibleName(QStringLiteral("Examinar"));
    if (m_hasGlyph) {
        m_button->setIcon(QIcon(m_glyph));
        m_button->setIconSize(m_glyph.deviceIndependentSize().toSize());
    }
    connect(m_button, &QToolButton::clicked, self, &TDirectoryEdit::DoBrowse);
    self->AdoptLateInner(box, m_edit);
    QWidget::setTabOrder(m_edit, m_button);
    self->setFocusProxy(m_edit);
}

QLineEdit *TDirectoryEdit::Edit() const
{
    makeEditor();
    return m_edit;
}

QToolButton *TDirectoryEdit::BrowseButton() const
{
    makeEditor();
    return m_button;
}

std::string TDirectoryEdit::Text() const
{
    return ToAnsi(text());
}

void TDirectoryEdit::SetText(std::string_view text)
{
    setText(FromAnsi(text));
}

QString TDirectoryEdit::text() const
{
    return m_edit ? m_edit->text() : m_text;
}

void TDirectoryEdit::setText(const QString &text)
{
    if (m_edit)
        m_edit->setText(text);
    else
        m_text = text;
}

void TDirectoryEdit::SetGlyph(const QPixmap &glyph)
{
    m_hasGlyph = true;
    m_glyph = glyph;
    if (!m_button)
        return;
    m_button->setIcon(QIcon(glyph));
    m_button->setIconSize(glyph.deviceIndependentSize().toSize());
}

void TDirectoryEdit::showEvent(QShowEvent *event)
{
    makeEditor();
    // The style's folder icon is looked up only for a button that got no glyph, when it is first
    // shown: the lookup may read the whole icon theme, which a glyph would throw away at once.
    if (!m_hasGlyph && m_button->icon().isNull())
        m_button->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    TControl::showEvent(event);
}

void TDirectoryEdit::SetDialogText(std::string_view text)
{
    m_dialogText = FromAnsi(text);
}

QString TDirectoryEdit::BrowseStart() const
{
    const auto isFolder = [](const QString &path) { return !path.isEmpty() && QFileInfo(path).isDir(); };
    QString typed = text();
    if (isFolder(typed))
        return typed;
    if (!typed.isEmpty())
        return QStringLiteral("/");
    // A folder chosen in this run takes the place of the default one.
    QString initial = m_lastChoice;
    if (initial.isEmpty() && m_defaultFolder)
        initial = m_defaultFolder();
    if (isFolder(initial))
        return initial;
    return QStringLiteral("/");
}

void TDirectoryEdit::DoBrowse()
{
    if (!Browser)
        return;
    const std::optional<QString> chosen = Browser(window(), m_dialogText, BrowseStart());
    if (!chosen || chosen->isEmpty())
        return;
    QString folder = QDir::cleanPath(*chosen);  // no trailing separator, except for the root
    m_lastChoice = folder;
    setText(folder);
}

}  // namespace fw
