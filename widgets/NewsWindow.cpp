#include "widgets/NewsWindow.h"

#include "platform/Text.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {
namespace {

constexpr const char *kWindowName = "NewsWindow";

// Escape closes it, wherever the focus is inside (the text passes the key on).
class NewsWindowWidget final : public QWidget {
public:
    explicit NewsWindowWidget(QWidget *owner) : QWidget(owner, Qt::Window) {}

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            close();
            return;
        }
        QWidget::keyPressEvent(event);
    }
};

QWidget *makeWindow(QWidget *owner)
{
    auto *window = new NewsWindowWidget(owner);
    window->setObjectName(QString::fromLatin1(kWindowName));
    window->setWindowTitle(QString::fromUtf8(kNewsWindowTitle));
    window->setWindowModality(Qt::NonModal);
    window->resize(560, 420);

    auto *text = new QPlainTextEdit(window);
    text->setObjectName(QStringLiteral("NewsText"));
    text->setReadOnly(true);
    text->setAccessibleName(QStringLiteral("Noticias"));
    text->setUndoRedoEnabled(false);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto *accept = new QPushButton(QStringLiteral("Aceptar"), window);
    accept->setObjectName(QStringLiteral("NewsAccept"));
    accept->setDefault(true);
    QObject::connect(accept, &QPushButton::clicked, window, &QWidget::close);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(accept);
    auto *layout = new QVBoxLayout(window);
    layout->addWidget(text);
    layout->addLayout(buttons);
    return window;
}

}  // namespace

QString NewsDisplayText(std::string_view bytes)
{
    const QString decoded = QString::fromStdString(platform::Utf8FromAnyText(bytes));
    QString shown;
    shown.reserve(decoded.size());
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const QChar c = decoded[i];
        if (c == QLatin1Char('\r')) {
            shown += QLatin1Char('\n');
            if (i + 1 < decoded.size() && decoded[i + 1] == QLatin1Char('\n'))
                ++i;
        } else {
            const bool kept = c == QLatin1Char('\n') || c == QLatin1Char('\t') || c.category() != QChar::Other_Control;
            shown += kept ? c : QLatin1Char(' ');
        }
    }
    return shown;
}

QWidget *ShowNews(QWidget *owner, std::string_view bytes)
{
    QWidget *window = nullptr;
    if (owner)
        window = owner->findChild<QWidget *>(QString::fromLatin1(kWindowName), Qt::FindDirectChildrenOnly);
    if (!window)
        window = makeWindow(owner);
    auto *text = window->findChild<QPlainTextEdit *>(QStringLiteral("NewsText"));
    text->setPlainText(NewsDisplayText(bytes));
    window->show();
    if (window->isMinimized())
        window->showNormal();
    window->raise();
    window->activateWindow();
    return window;
}

bool ShowNewsFile(QWidget *owner, const std::string &path, std::size_t maxBytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    std::string bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    while (ok && bytes.size() < maxBytes) {
        char block[16384];
        const ssize_t n = ::read(fd, block, std::min(sizeof block, maxBytes - bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        bytes.append(block, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok)
        return false;
    ShowNews(owner, bytes);
    return true;
}

}  // namespace fw
