#include "widgets/ComCtrls.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "widgets/Accessible.h"

#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QStyleOptionSlider>
#include <algorithm>
#include <cmath>

namespace fw {
namespace {

constexpr int kSegmentWidth = 6;
constexpr int kSegmentGap = 2;
constexpr int kBarMargin = 2;
constexpr int kBusyRun = 4;  // segments lit while busy

QColor blend(const QColor &a, const QColor &b, double t)
{
    const auto mix = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

// The level bar's look: a flat channel in the track colour, a tick under each position and a
// pointed thumb. Geometry comes from the style, so mouse handling matches what is drawn.
class LevelSlider final : public QSlider {
public:
    explicit LevelSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent)
    {
        setTickPosition(QSlider::TicksBelow);
        setTickInterval(1);
        setPageStep(1);
        setSingleStep(1);
    }

    QColor trackColor{240, 251, 255};

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
        const int span = width() - handle.width();
        const int half = handle.width() / 2;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);

        const QRectF channel(half, 5, width() - 2 * half, 6);
        p.setPen(QPen(QColor(0x9a, 0xae, 0xc4), 1));
        p.setBrush(trackColor);
        p.drawRoundedRect(channel.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);

        p.setPen(QColor(0x6d, 0x7f, 0x94));
        for (int v = minimum(); v <= maximum(); ++v) {
            const int x = half + QStyle::sliderPositionFromValue(minimum(), maximum(), v, span);
            p.drawLine(QPointF(x + 0.5, height() - 6), QPointF(x + 0.5, height() - 2));
        }

        const int x = QStyle::sliderPositionFromValue(minimum(), maximum(), value(), span);
        const QRectF thumb(x + half - 5.5, 1.5, 11, 15);
        QPainterPath path;
        path.moveTo(thumb.left(), thumb.top());
        path.lineTo(thumb.right(), thumb.top());
        path.lineTo(thumb.right(), thumb.bottom() - 4);
        path.lineTo(thumb.center().x(), thumb.bottom());
        path.lineTo(thumb.left(), thumb.bottom() - 4);
        path.closeSubpath();
        QLinearGradient fillGradient(thumb.topLeft(), thumb.bottomLeft());
        const bool on = isEnabled();
        fillGradient.setColorAt(0, on ? QColor(0xfd, 0xfe, 0xff) : QColor(0xf0, 0xf0, 0xf0));
        fillGradient.setColorAt(1, on ? QColor(0xb4, 0xcd, 0xec) : QColor(0xd0, 0xd0, 0xd0));
        p.setBrush(fillGradient);
        p.setPen(QPen(hasFocus() ? QColor(0x2a, 0x5c, 0xaa) : QColor(0x5b, 0x76, 0x99), 1));
        p.drawPath(path);

        // The focus mark: a dotted frame around the bar, as the style draws it on its controls.
        if (hasFocus()) {
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
            p.drawRect(rect().adjusted(0, 0, -1, -1));
        }
    }
};

}  // namespace

// ---- TProgressBar

TProgressBar::TProgressBar(QWidget *parent, std::string_view name) : TControl(parent, name) {}

void TProgressBar::SetPosition(int position)
{
    if (position == m_position)
        return;
    m_position = position;
    if (m_busy)
        ++m_busyStep;
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent e(this, m_position);
        QAccessible::updateAccessibility(&e);
    }
}

QString TProgressBar::ValueText() const
{
    if (m_busy || m_max <= m_min)
        return {};
    const double part =
        std::clamp((static_cast<double>(m_position) - m_min) / (static_cast<double>(m_max) - m_min), 0.0, 1.0);
    return QStringLiteral("%1 %").arg(static_cast<int>(part * 100));
}

void TProgressBar::SetBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    m_busyStep = 0;
    update();
}

void TProgressBar::SetMin(int min)
{
    m_min = min;
    update();
}

void TProgressBar::SetMax(int max)
{
    m_max = max;
    update();
}

void TProgressBar::SetColors(const QColor &start, const QColor &end)
{
    m_start = start;
    m_end = end;
    update();
}

int TProgressBar::SegmentCount() const
{
    const int inner = width() - 2 * kBarMargin;
    return std::max(0, (inner + kSegmentGap) / (kSegmentWidth + kSegmentGap));
}

int TProgressBar::LitSegments() const
{
    if (m_max <= m_min || m_position <= m_min)
        return 0;
    const double part = std::min(1.0, (static_cast<double>(m_position) - m_min) / (static_cast<double>(m_max) - m_min));
    return static_cast<int>(part * SegmentCount());
}

void TProgressBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(0x7f, 0x9d, 0xb9));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const int count = SegmentCount();
    const int segmentHeight = height() - 2 * kBarMargin;
    if (m_busy && count > 0) {
        const int run = std::min(count, kBusyRun);
        for (int k = 0; k < run; ++k) {
            const int i = (m_busyStep + k) % count;
            p.fillRect(kBarMargin + i * (kSegmentWidth + kSegmentGap), kBarMargin, kSegmentWidth, segmentHeight,
                       blend(m_start, m_end, static_cast<double>(k) / run));
        }
        return;
    }
    const int lit = LitSegments();
    for (int i = 0; i < lit; ++i) {
        const double t = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
        p.fillRect(kBarMargin + i * (kSegmentWidth + kSegmentGap), kBarMargin, kSegmentWidth, segmentHeight,
                   blend(m_start, m_end, t));
    }
}

// ---- TTrackBar

TTrackBar::TTrackBar(QWidget *parent, std::string_view name) : TControl(parent, name), m_slider(new LevelSlider(this))
{
    SetInner(m_slider);
    connect(m_slider, &QSlider::valueChanged, this, [this] { FireFromSignal(this, OnChange, this); });
}

int TTrackBar::Position() const
{
    return m_slider->value();
}

void TTrackBar::SetPosition(int position)
{
    m_slider->setValue(position);
}

int TTrackBar::Min() const
{
    return m_slider->minimum();
}

void TTrackBar::SetMin(int min)
{
    m_slider->setMinimum(min);
}

int TTrackBar::Max() const
{
    return m_slider->maximum();
}

void TTrackBar::SetMax(int max)
{
    m_slider->setMaximum(max);
}

void TTrackBar::SetTrackColor(const QColor &color)
{
    static_cast<LevelSlider *>(m_slider)->trackColor = color;
    m_slider->update();
}

QColor TTrackBar::TrackColor() const
{
    return static_cast<const LevelSlider *>(m_slider)->trackColor;
}

void TTrackBar::SetPositionTexts(const std::vector<std::string> &texts)
{
    m_positionTexts.clear();
    for (const auto &text : texts)
        m_positionTexts.append(FromAnsi(text));
}

QString TTrackBar::PositionText() const
{
    const int index = Position() - Min();
    return index >= 0 && index < m_positionTexts.size() ? m_positionTexts.at(index) : QString::number(Position());
}

// ---- TStatusBar

TStatusBar::TStatusBar(QWidget *parent, std::string_view name) : TControl(parent, name)
{
    m_panels.push_back({0, {}});
}

void TStatusBar::SetPanels(const std::vector<int> &widths)
{
    m_panels.clear();
    for (const int w : widths)
        m_panels.push_back({w, {}});
    if (m_panels.empty())
        m_panels.push_back({0, {}});
    update();
}

std::string TStatusBar::PanelText(int index) const
{
    return ToAnsi(m_panels.at(static_cast<size_t>(index)).text);
}

void TStatusBar::SetPanelText(int index, std::string_view text)
{
    QString &panelText = m_panels.at(static_cast<size_t>(index)).text;
    const QString now = FromAnsi(text);
    if (now == panelText)
        return;
    panelText = now;
    update();
    // The panel's new text for a reader listening: the panels are the bar's children.
    if (QAccessible::isActive()) {
        if (QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(this)) {
            if (QAccessibleInterface *panel = bar->child(index)) {
                QAccessibleEvent e(panel, QAccessible::NameChanged);
                QAccessible::updateAccessibility(&e);
            }
        }
    }
}

QRect TStatusBar::PanelRect(int index) const
{
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += m_panels[static_cast<size_t>(i)].width;
    const bool last = index == PanelCount() - 1;
    const int w = last ? width() - left : m_panels.at(static_cast<size_t>(index)).width;
    return QRect(left, 2, std::max(0, w - 2), height() - 2);
}

void TStatusBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    for (int i = 0; i < PanelCount(); ++i) {
        const QRect r = PanelRect(i);
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(palette().color(QPalette::Light));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                   m_panels[static_cast<size_t>(i)].text);
    }
}

// ---- TNotebook

TNotebook::TNotebook(QWidget *parent, std::string_view name) : TControl(parent, name) {}

QWidget *TNotebook::AddPage(std::string_view name)
{
    auto *page = new QWidget(this);
    QPalette p = page->palette();
    p.setColor(QPalette::Window, Qt::white);
    page->setPalette(p);
    page->setAutoFillBackground(true);
    page->setGeometry(rect());
    m_pages.push_back({FromAnsi(name), page});
    if (m_index < 0)
        m_index = 0;
    page->setVisible(PageCount() - 1 == m_index);
    return page;
}

QWidget *TNotebook::Page(std::string_view name) const
{
    const int index = indexOf(FromAnsi(name));
    return index >= 0 ? Page(index) : nullptr;
}

std::string TNotebook::PageName(int index) const
{
    return ToAnsi(m_pages.at(static_cast<size_t>(index)).name);
}

int TNotebook::indexOf(const QString &name) const
{
    for (int i = 0; i < PageCount(); ++i) {
        if (m_pages[static_cast<size_t>(i)].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void TNotebook::SetPageIndex(int index)
{
    if (index < 0 || index >= PageCount() || index == m_index)
        return;
    // Show the new page before hiding the old one, so that the focus does not wander away.
    Page(index)->setVisible(true);
    if (m_index >= 0)
        Page(m_index)->setVisible(false);
    m_index = index;
}

std::string TNotebook::ActivePage() const
{
    return ToAnsi(activePage());
}

void TNotebook::SetActivePage(std::string_view name)
{
    setActivePage(FromAnsi(name));
}

QString TNotebook::activePage() const
{
    return m_index >= 0 ? m_pages[static_cast<size_t>(m_index)].name : QString();
}

void TNotebook::setActivePage(const QString &name)
{
    SetPageIndex(indexOf(name));
}

void TNotebook::resizeEvent(QResizeEvent *e)
{
    TControl::resizeEvent(e);
    for (const auto &page : m_pages)
        page.widget->setGeometry(rect());
}

}  // namespace fw
