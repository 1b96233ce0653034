#include "widgets/Hints.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimerEvent>

namespace fw {
namespace {

constexpr int kTail = 10;    // height of the call-out's pointer
constexpr int kPadding = 6;  // inner margin
constexpr int kRadius = 7;

}  // namespace

HintParts SplitHint(const QString &hint)
{
    QString shown = hint.section(QLatin1Char('|'), 0, 0);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const qsizetype nl = shown.indexOf(QLatin1Char('\n'));
    if (nl < 0)
        return {shown, {}};
    return {shown.left(nl), shown.mid(nl + 1)};
}

QFont THintBalloon::CaptionFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setBold(true);
    return font;
}

QFont THintBalloon::BodyFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    return font;
}

THintBalloon::THintBalloon(QWidget *window)
    : QWidget(window, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void THintBalloon::ShowHint(const QString &hint, const QPoint &tip)
{
    const HintParts parts = SplitHint(hint);
    m_caption = parts.caption;
    m_body = parts.body;
    const QFontMetrics cfm(CaptionFont());
    const QFontMetrics bfm(BodyFont());
    const QRect captionSize = cfm.boundingRect(QRect(0, 0, 10000, 10000), 0, m_caption);
    const QRect bodySize = m_body.isEmpty() ? QRect() : bfm.boundingRect(QRect(0, 0, 10000, 10000), 0, m_body);
    const int w = std::max(captionSize.width(), bodySize.width()) + 2 * kPadding + 2;
    const int h = captionSize.height() + (m_body.isEmpty() ? 0 : bodySize.height() + 3) + 2 * kPadding + kTail + 2;
    resize(w, h);
    // The tip sits at the balloon's upper left, just under the mouse pointer; keep it on screen.
    QPoint at = tip - QPoint(kRadius + 4, 0);
    if (const QScreen *screen = QGuiApplication::screenAt(tip)) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - w)));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - h)));
    }
    move(at);
    show();
    update();
}

QPainterPath THintBalloon::Outline() const
{
    const QRectF body = QRectF(rect()).adjusted(0.5, kTail + 0.5, -1.5, -1.5);
    QPainterPath path;
    path.addRoundedRect(body, kRadius, kRadius);
    QPainterPath tail;
    tail.moveTo(kRadius + 4, 0.5);
    tail.lineTo(kRadius + 2, body.top() + 1);
    tail.lineTo(kRadius + 14, body.top() + 1);
    tail.closeSubpath();
    return path.united(tail);
}

void THintBalloon::resizeEvent(QResizeEvent *)
{
    // Without a compositor a translucent window's clear pixels show black: the window itself is
    // cut to the balloon's outline, so the shape holds on every desktop. Grown by a pixel so the
    // smoothed edge is not cut off where translucency works.
    QPainterPathStroker stroker;
    stroker.setWidth(2);
    const QPainterPath outline = Outline();
    setMask(QRegion(outline.united(stroker.createStroke(outline)).toFillPolygon().toPolygon()));
}

void THintBalloon::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = Outline();
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
    p.setBrush(Color());
    p.drawPath(path);

    p.setPen(Qt::black);
    const QFontMetrics cfm(CaptionFont());
    QRect textRect = rect().adjusted(kPadding + 1, kTail + kPadding + 1, -kPadding, -kPadding);
    p.setFont(CaptionFont());
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignTop, m_caption);
    if (!m_body.isEmpty()) {
        textRect.setTop(textRect.top() + cfm.boundingRect(QRect(0, 0, 10000, 10000), 0, m_caption).height() + 3);
        p.setFont(BodyFont());
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignTop, m_body);
    }
}

HintManager &HintManager::Instance()
{
    static HintManager manager;
    return manager;
}

THintBalloon *HintManager::Balloon() const
{
    return m_balloon && m_balloon->isVisible() ? m_balloon.data() : nullptr;
}

void HintManager::Enter(QWidget *control)
{
    if (!ShowHint || !control)
        return;
    const bool wasShowing = Balloon() != nullptr;
    hide();
    m_control = control;
    // Precise: a coarse timer may fire a twentieth early, and the pause is a promise.
    m_showTimer.start(wasShowing || m_recent ? HintShortPause : HintPause, Qt::PreciseTimer, this);
}

void HintManager::Leave(QWidget *control)
{
    if (control != m_control)
        return;
    m_showTimer.stop();
    m_recent = Balloon() != nullptr;
    hide();
    m_control = nullptr;
}

void HintManager::Cancel()
{
    m_showTimer.stop();
    m_recent = false;
    hide();
    m_control = nullptr;
}

void HintManager::timerEvent(QTimerEvent *e)
{
    if (e->timerId() == m_showTimer.timerId()) {
        m_showTimer.stop();
        show();
    } else if (e->timerId() == m_hideTimer.timerId()) {
        m_hideTimer.stop();
        m_recent = false;
        hide();
    }
}

void HintManager::show()
{
    if (!m_control || !m_control->isVisible())
        return;
    const QVariant hint = m_control->property("Hint");
    if (!hint.isValid() || hint.toString().isEmpty())
        return;
    QWidget *window = m_control->window();
    if (m_balloon && m_balloon->parentWidget() != window)
        m_balloon->deleteLater();
    if (!m_balloon || m_balloon->parentWidget() != window)
        m_balloon = new THintBalloon(window);
    m_balloon->ShowHint(hint.toString(), QCursor::pos() + QPoint(0, 16));
    m_hideTimer.start(HintHidePause, this);
    emit hintShown();
}

void HintManager::hide()
{
    m_hideTimer.stop();
    if (m_balloon && m_balloon->isVisible()) {
        m_balloon->hide();
        emit hintHidden();
    }
}

}  // namespace fw
