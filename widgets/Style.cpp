#include "widgets/Style.h"

#include <QApplication>
#include <QIconEngine>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace fw {
namespace {

// An icon that asks for its real self the first time anything about it is wanted, and from then
// on answers as that icon does.
class DeferredIconEngine final : public QIconEngine {
public:
    explicit DeferredIconEngine(std::function<QIcon()> make) : m_make(std::move(make)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return icon().pixmap(size, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QString iconName() override { return icon().name(); }
    bool isNull() override { return icon().isNull(); }
    QString key() const override { return QStringLiteral("drovanel-deferred"); }
    QIconEngine *clone() const override
    {
        auto *copy = new DeferredIconEngine(m_make);
        copy->m_icon = m_icon;
        copy->m_made = m_made;
        return copy;
    }

private:
    const QIcon &icon()
    {
        if (!m_made) {
            m_icon = m_make();
            m_made = true;
        }
        return m_icon;
    }

    std::function<QIcon()> m_make;
    QIcon m_icon;
    bool m_made = false;
};

}  // namespace

// The base style is the one the application would have chosen itself (a style asked for on the
// command line or in QT_STYLE_OVERRIDE, or else the desktop's).
TApplicationStyle::TApplicationStyle() = default;

QIcon TApplicationStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption *option,
                                      const QWidget *widget) const
{
    if (standardIcon != SP_ToolBarHorizontalExtensionButton && standardIcon != SP_ToolBarVerticalExtensionButton)
        return QProxyStyle::standardIcon(standardIcon, option, widget);
    // Asked for later, the icon is the one the style gives now: the option is not kept (these
    // buttons pass none) and the widget only while it exists.
    QPointer<QWidget> asker(const_cast<QWidget *>(widget));
    QPointer<TApplicationStyle> style(const_cast<TApplicationStyle *>(this));
    return QIcon(new DeferredIconEngine([style, standardIcon, asker, hadWidget = widget != nullptr] {
        if (!style || (hadWidget && !asker))
            return QIcon();
        return style->QProxyStyle::standardIcon(standardIcon, nullptr, asker.data());
    }));
}

void InstallApplicationStyle()
{
    QApplication::setStyle(new TApplicationStyle);
}

}  // namespace fw
