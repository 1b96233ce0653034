#include "widgets/TrayIcon.h"

#include "framework/Application.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace fw {
namespace {

const QColor kBody(0, 118, 46);
const QColor kBodyEdge(0, 64, 24);
const QColor kMark(255, 255, 255);
const QColor kLanding(255, 214, 0);

// The body: a rounded green square, as the device's case.
void drawBody(QPainter &p)
{
    p.setPen(QPen(kBodyEdge, 1.5));
    p.setBrush(kBody);
    p.drawRoundedRect(QRectF(1.75, 1.75, 28.5, 28.5), 6, 6);
}

// The static image: a white map pin on the body.
void drawPin(QPainter &p)
{
    QPainterPath pin;
    pin.moveTo(16, 28);
    pin.cubicTo(12, 21, 8, 18, 8, 12.5);
    pin.arcTo(QRectF(8, 4.5, 16, 16), 180, -180);
    pin.cubicTo(24, 18, 20, 21, 16, 28);
    p.setPen(Qt::NoPen);
    p.setBrush(kMark);
    p.drawPath(pin);
    p.setBrush(kBody);
    p.drawEllipse(QPointF(16, 12.5), 3.5, 3.5);
}

// A frame of the animation: an arrow that comes down onto a landing bar, one step a frame.
void drawArrow(QPainter &p, int frame)
{
    const qreal drop = 3.0 * frame;
    p.setPen(Qt::NoPen);
    p.setBrush(kLanding);
    p.drawRect(QRectF(7, 26, 18, 3));
    p.setBrush(kMark);
    p.drawRect(QRectF(13, 4 + drop, 6, 9));
    const QPointF head[] = {{8, 13 + drop}, {24, 13 + drop}, {16, 21 + drop}};
    p.drawPolygon(head, 3);
}

class TrayIconEngine final : public QIconEngine {
public:
    explicit TrayIconEngine(int frame) : m_frame(frame) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(rect.width(), rect.height());
        if (side <= 0)
            return;
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QImage image = TrayIconImage(qRound(side * ratio), m_frame);
        image.setDevicePixelRatio(ratio);
        const QRect target(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2, side, side);
        painter->drawImage(target, image);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        return QPixmap::fromImage(TrayIconImage(std::min(size.width(), size.height()), m_frame));
    }

    QIconEngine *clone() const override { return new TrayIconEngine(m_frame); }
    QString key() const override { return QStringLiteral("drovanel-tray"); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const int side : kTrayIconSizes)
            sizes.append({side, side});
        return sizes;
    }

private:
    int m_frame;
};

std::function<bool()> &trayProbe()
{
    static std::function<bool()> probe = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    return probe;
}

}  // namespace

QImage TrayIconImage(int size, int frame)
{
    size = std::max(size, 1);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 32 by 32 grid, scaled as vectors: every size gets its own sharp edges.
    p.scale(size / 32.0, size / 32.0);
    drawBody(p);
    if (frame < 0 || frame >= kTrayFrameCount)
        drawPin(p);
    else
        drawArrow(p, frame);
    return image;
}

QIcon TrayIconIcon(int frame)
{
    // The icon owns its engine.
    return QIcon(new TrayIconEngine(frame));
}

// ---- TRxTrayIcon --------------------------------------------------------------------------------

TRxTrayIcon::TRxTrayIcon(QObject *owner, std::string_view name)
    : TComponent(owner), m_native(std::make_unique<QSystemTrayIcon>())
{
    SetName(name);
    // The frames advance on this thread's own timer: the icon is only ever touched from here.
    m_frameTimer.setInterval(m_interval);
    connect(&m_frameTimer, &QTimer::timeout, this, &TRxTrayIcon::nextFrame);
    connect(m_native.get(), &QSystemTrayIcon::activated, this, &TRxTrayIcon::activated);
    connect(m_native.get(), &QSystemTrayIcon::messageClicked, this,
            [this] { FireFromSignal(this, OnBalloonClick, this); });
}

TRxTrayIcon::~TRxTrayIcon()
{
    m_frameTimer.stop();
    m_native->hide();
}

void TRxTrayIcon::SetTrayProbe(std::function<bool()> probe)
{
    trayProbe() = probe ? std::move(probe) : [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
}

void TRxTrayIcon::SetActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    if (active) {
        tryAdd();
    } else {
        m_native->hide();
        m_added = false;
    }
}

void TRxTrayIcon::SetHint(const QString &hint)
{
    m_hint = hint;
    update();
}

QString TRxTrayIcon::TipText() const
{
    return m_hint.section(QLatin1Char('|'), 0, 0).left(63);
}

void TRxTrayIcon::SetPopupMenu(QMenu *menu)
{
    m_popupMenu = menu;
    m_native->setContextMenu(menu);
}

void TRxTrayIcon::SetInterval(int ms)
{
    m_interval = std::max(ms, 1);
    m_frameTimer.setInterval(m_interval);
}

void TRxTrayIcon::SetIcon(const QIcon &icon)
{
    m_icon = icon;
    update();
}

void TRxTrayIcon::SetIcons(const QList<QIcon> &icons)
{
    m_icons = icons;
    if (m_icons.isEmpty() && m_animated) {
        SetAnimated(false);
        return;
    }
    m_frame = std::min<int>(m_frame, std::max<int>(0, static_cast<int>(m_icons.size()) - 1));
    if (m_animated)
        update();
}

void TRxTrayIcon::SetAnimated(bool animated)
{
    if (animated && m_icons.isEmpty())
        return;
    m_animated = animated;
    m_frame = 0;
    if (animated)
        m_frameTimer.start();
    else
        m_frameTimer.stop();
    update();
}

void TRxTrayIcon::Loaded()
{
    m_loaded = true;
    tryAdd();
}

const QIcon &TRxTrayIcon::currentIcon() const
{
    return m_animated ? m_icons.at(m_frame) : m_icon;
}

void TRxTrayIcon::update()
{
    if (!m_added) {
        // A notification area that was missing may have come since: every change tries again.
        tryAdd();
        return;
    }
    m_native->setIcon(currentIcon());
    m_native->setToolTip(TipText());
    emit ImageShown(ShownImage());
}

void TRxTrayIcon::tryAdd()
{
    if (!m_loaded || !m_active || m_added)
        return;
    m_native->setIcon(currentIcon());
    m_native->setToolTip(TipText());
    const bool present = trayProbe()();
    // On X11 the icon is shown even when no area is there: Qt then docks it by itself when a tray
    // host starts later. It counts as added only once an area has been seen, so that until then
    // the window never hides where no icon might lead back to it.
    if (!m_native->isVisible() && (present || QGuiApplication::platformName() == QLatin1String("xcb")))
        m_native->show();
    if (!present)
        return;
    m_added = true;
    emit ImageShown(ShownImage());
}

void TRxTrayIcon::nextFrame()
{
    if (!m_animated || m_icons.isEmpty()) {
        m_frameTimer.stop();
        return;
    }
    // Held while the icon is not in the area, and still once the program is on its way out.
    if (!m_added || Application().Terminated())
        return;
    m_frame = (m_frame + 1) % static_cast<int>(m_icons.size());
    update();
}

bool TRxTrayIcon::ShowMessage(const QString &title, const QString &text)
{
    if (!m_added)
        return false;
    m_native->showMessage(title, text, m_icon);
    emit MessageShown(title, text);
    return true;
}

void TRxTrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger: {
        const QPoint at = QCursor::pos();
        FireFromSignal(this, OnClick, this, mbLeft, QGuiApplication::keyboardModifiers(), at.x(), at.y());
        break;
    }
    case QSystemTrayIcon::DoubleClick: {
        // The double click's first click has already been a click of its own.
        QAction *item = m_popupMenu ? m_popupMenu->defaultAction() : nullptr;
        if (item && item->isEnabled())
            item->trigger();  // a menu item guards its own handler
        else
            FireFromSignal(this, OnDblClick, this);
        break;
    }
    case QSystemTrayIcon::Context:
        // An XEmbed area has Qt open the menu before it reports the click; a StatusNotifierItem
        // host that asks for the menu through the item (not through its exported copy) leaves
        // it to the program.
        if (m_popupMenu && !m_popupMenu->isVisible())
            m_popupMenu->popup(QCursor::pos());
        break;
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown: break;
    }
}

}  // namespace fw
