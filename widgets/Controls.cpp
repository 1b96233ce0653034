#include "widgets/Controls.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "widgets/Accessible.h"
#include "widgets/Hints.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <algorithm>
#include <cmath>

namespace fw {
namespace {

// An inner Qt widget that does the control's work and fills it.
template <typename W> W *fill(TControl *control, W *inner)
{
    control->SetInner(inner);
    return inner;
}

// Whether a label's text may have ink above the font's ascent: a capital with a mark may.
bool mayReachAboveAscent(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x80 && !c.isLower(); });
}

// A push button that Return and Enter press too, as Space does: outside a dialog Qt's button
// takes only Space, and a keyboard user expects the key that confirms.
class PushButton final : public QPushButton {
public:
    explicit PushButton(QWidget *parent) : QPushButton(parent) {}

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && e->modifiers() == Qt::NoModifier) {
            click();
            return;
        }
        QPushButton::keyPressEvent(e);
    }
};

}  // namespace

QFont VerdanaFont()
{
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(11);
    return font;
}

QFont SansSerifFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    return font;
}

// ---- TControl

TControl::TControl(QWidget *parent, std::string_view name) : QWidget(parent)
{
    InstallAccessibleControls();
    if (!name.empty())
        setObjectName(FromAnsi(name));
}

bool TControl::Visible() const
{
    return parentWidget() ? isVisibleTo(parentWidget()) : isVisible();
}

void TControl::SetVisible(bool visible)
{
    setVisible(visible);
}

bool TControl::Enabled() const
{
    return parentWidget() ? isEnabledTo(parentWidget()) : isEnabled();
}

void TControl::SetEnabled(bool enabled)
{
    setEnabled(enabled);
}

std::string TControl::Hint() const
{
    return ToAnsi(m_hint);
}

void TControl::SetHint(std::string_view hint)
{
    m_hint = FromAnsi(hint);
}

void TControl::SetFontColor(const QColor &color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    p.setColor(QPalette::ButtonText, color);
    setPalette(p);
}

void TControl::SetColor(const QColor &color)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
    setAutoFillBackground(true);
}

void TControl::SetInner(QWidget *inner)
{
    m_inner = inner;
    m_nameTarget = inner;
    m_inner->setGeometry(rect());
    if (!accessibleName().isEmpty())
        inner->setAccessibleName(accessibleName());
}

void TControl::SetAccessibleName(const QString &name)
{
    setAccessibleName(name);
    if (m_nameTarget)
        m_nameTarget->setAccessibleName(name);
}

QWidget *TControl::NameTarget() const
{
    return m_nameTarget ? m_nameTarget : const_cast<TControl *>(this);
}

void TControl::AdoptLateInner(QWidget *inner, QWidget *stop)
{
    SetInner(inner);
    m_nameTarget = stop;
    if (!accessibleName().isEmpty())
        stop->setAccessibleName(accessibleName());
    if (isVisible())
        inner->show();
    // A widget made now goes last in its window's focus chain; the tab stop moves to right after
    // this control, which stands where it was made. Only tab stops take a place in the tab order,
    // so the control is one for that moment.
    const Qt::FocusPolicy own = focusPolicy();
    setFocusPolicy(Qt::TabFocus);
    QWidget::setTabOrder(this, stop);
    setFocusPolicy(own);
}

void TControl::resizeEvent(QResizeEvent *e)
{
    if (m_inner)
        m_inner->setGeometry(rect());
    QWidget::resizeEvent(e);
}

bool TControl::event(QEvent *e)
{
    switch (e->type()) {
    case QEvent::Enter:
        if (!m_hint.isEmpty())
            HintManager::Instance().Enter(this);
        break;
    case QEvent::Leave: HintManager::Instance().Leave(this); break;
    case QEvent::MouseButtonPress:
    case QEvent::Hide: HintManager::Instance().Cancel(); break;
    default: break;
    }
    return QWidget::event(e);
}

// ---- TLabel

TLabel::TLabel(QWidget *parent, std::string_view name) : TControl(parent, name)
{
    adjust();
}

std::string TLabel::Caption() const
{
    return ToAnsi(m_caption);
}

void TLabel::SetCaption(std::string_view caption)
{
    setCaption(FromAnsi(caption));
}

void TLabel::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    adjust();
    update();
    // A reader listening hears the new text (the names of the newest maps change so).
    NotifyAccessible(this, QAccessible::NameChanged);
}

void TLabel::SetFocusControl(TControl *control)
{
    m_focusControl = control;
    if (!control)
        return;
    control->SetLabelledBy(this);
    if (control->accessibleName().isEmpty()) {
        QString name = m_caption.trimmed();
        if (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        control->SetAccessibleName(name.trimmed());
    }
}

void TLabel::SetAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

void TLabel::SetWordWrap(bool wrap)
{
    m_wordWrap = wrap;
    adjust();
    update();
}

void TLabel::SetAutoSize(bool autoSize)
{
    m_autoSize = autoSize;
    adjust();
}

void TLabel::SetRightEdge(int x)
{
    m_rightEdge = x;
    adjust();
}

int TLabel::textFlags() const
{
    return static_cast<int>(m_alignment) | (m_wordWrap ? Qt::TextWordWrap : 0);
}

QSize TLabel::TextSize() const
{
    const QFontMetrics fm(font());
    const QSize size = m_wordWrap ? fm.boundingRect(QRect(0, 0, width(), 10000), textFlags(), m_caption).size()
                                  : fm.boundingRect(QRect(0, 0, 10000, 10000), textFlags(), m_caption).size();
    return size + QSize(0, m_inkAbove);
}

void TLabel::adjust()
{
    // Accents on capitals ("Ú") may reach above the font's ascent once the glyphs are hinted; a
    // label that sizes itself keeps two pixels above its text so that nothing is cut off. The ink
    // is the dearest measure (every glyph's outline is loaded), and no letter of plain ASCII or
    // small letter reaches that high, so only texts with other characters are measured for it.
    const QFontMetrics fm(font());
    m_inkAbove = mayReachAboveAscent(m_caption) ? std::max(0, -fm.tightBoundingRect(m_caption).top() - fm.ascent()) : 0;
    if (!m_autoSize || m_wordWrap)
        return;
    m_inkAbove = std::max(m_inkAbove, 2);
    const QRect box = fm.boundingRect(QRect(0, 0, 10000, 10000), textFlags(), m_caption);
    const QSize need(std::max({fm.horizontalAdvance(m_caption), box.width(), 1}), fm.height() + m_inkAbove);
    if (m_rightEdge >= 0)
        setGeometry(m_rightEdge - need.width(), y(), need.width(), need.height());
    else
        resize(need);
}

void TLabel::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::FontChange)
        adjust();
    TControl::changeEvent(e);
}

void TLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(rect().adjusted(0, m_inkAbove, 0, 0), textFlags(), m_caption);
}

// ---- TImage

TImage::TImage(QWidget *parent, std::string_view name) : TControl(parent, name) {}

void TImage::SetPicture(const QPixmap &picture)
{
    m_picture = picture;
    update();
}

void TImage::SetCenter(bool center)
{
    m_center = center;
    update();
}

void TImage::paintEvent(QPaintEvent *)
{
    if (m_picture.isNull())
        return;
    QPainter p(this);
    const QSize size = m_picture.deviceIndependentSize().toSize();
    const QPoint at = m_center ? QPoint((width() - size.width()) / 2, (height() - size.height()) / 2) : QPoint(0, 0);
    p.drawPixmap(at, m_picture);
}

// ---- TPanel, TBevel

TPanel::TPanel(QWidget *parent, std::string_view name) : TControl(parent, name) {}

TBevel::TBevel(QWidget *parent, std::string_view name) : TControl(parent, name)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = rect().adjusted(0, 0, -1, -1);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(r.adjusted(1, 1, 0, 0));
}

// ---- TGroupBox

TGroupBox::TGroupBox(QWidget *parent, std::string_view name) : TControl(parent, name)
{
    setFont(VerdanaFont());
}

std::string TGroupBox::Caption() const
{
    return ToAnsi(m_caption);
}

void TGroupBox::SetCaption(std::string_view caption)
{
    setCaption(FromAnsi(caption));
}

void TGroupBox::setCaption(const QString &caption)
{
    m_caption = caption;
    update();
}

void TGroupBox::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics fm(font());
    const int top = fm.height() / 2;
    // The frame, with a soft shadow to its lower right.
    const QRectF frame = QRectF(rect()).adjusted(4.5, top + 0.5, -7.5, -7.5);
    for (int i = 3; i >= 1; --i) {
        QColor shadow(0, 0, 0, 22 * (4 - i));
        p.setPen(Qt::NoPen);
        p.setBrush(shadow);
        p.drawRoundedRect(frame.translated(i, i), 3, 3);
    }
    p.setBrush(palette().color(QPalette::Base));
    p.setPen(QPen(QColor(0x7f, 0x9d, 0xb9), 1));
    p.drawRoundedRect(frame, 3, 3);
    if (!m_caption.isEmpty()) {
        const int textWidth = fm.horizontalAdvance(m_caption);
        const QRect textRect(12, 0, textWidth + 6, fm.height());
        p.setPen(Qt::NoPen);
        p.setBrush(palette().color(QPalette::Base));
        p.drawRect(textRect);
        p.setPen(QColor(0x15, 0x42, 0x8b));
        p.drawText(textRect, Qt::AlignCenter, m_caption);
    }
}

// ---- TButton

TButton::TButton(QWidget *parent, std::string_view name)
    : TControl(parent, name), m_button(fill(this, new PushButton(this)))
{
    connect(m_button, &QPushButton::clicked, this, [this] { FireFromSignal(this, OnClick, this); });
}

std::string TButton::Caption() const
{
    return ToAnsi(caption());
}

void TButton::SetCaption(std::string_view caption)
{
    setCaption(FromAnsi(caption));
}

QString TButton::caption() const
{
    return m_button->text();
}

void TButton::setCaption(const QString &caption)
{
    m_button->setText(caption);
}

void TButton::SetGlyph(const QPixmap &glyph)
{
    m_button->setIcon(QIcon(glyph));
    m_button->setIconSize(glyph.deviceIndependentSize().toSize());
}

void TButton::SetFlat(bool flat)
{
    m_button->setFlat(flat);
}

void TButton::SetTabStop(bool tabStop)
{
    m_button->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

void TButton::Click()
{
    m_button->click();
}

// ---- TCheckBox

TCheckBox::TCheckBox(QWidget *parent, std::string_view name)
    : TControl(parent, name), m_box(fill(this, new QCheckBox(this)))
{
    connect(m_box, &QCheckBox::toggled, this, [this] { FireFromSignal(this, OnChange, this); });
}

std::string TCheckBox::Caption() const
{
    return ToAnsi(caption());
}

void TCheckBox::SetCaption(std::string_view caption)
{
    setCaption(FromAnsi(caption));
}

QString TCheckBox::caption() const
{
    return m_box->text();
}

void TCheckBox::setCaption(const QString &caption)
{
    m_box->setText(caption);
}

bool TCheckBox::Checked() const
{
    return m_box->isChecked();
}

void TCheckBox::SetChecked(bool checked)
{
    m_box->setChecked(checked);
}

// ---- TEdit

TEdit::TEdit(QWidget *parent, std::string_view name) : TControl(parent, name) {}

QLineEdit *TEdit::Widget() const
{
    if (!m_edit) {
        auto *self = const_cast<TEdit *>(this);
        m_edit = new QLineEdit(m_text, self);
        self->applyFlat();
        self->AdoptLateInner(m_edit, m_edit);
    }
    return m_edit;
}

void TEdit::showEvent(QShowEvent *e)
{
    (void)Widget();
    TControl::showEvent(e);
}

std::string TEdit::Text() const
{
    return ToAnsi(text());
}

void TEdit::SetText(std::string_view text)
{
    setText(FromAnsi(text));
}

QString TEdit::text() const
{
    return m_edit ? m_edit->text() : m_text;
}

void TEdit::setText(const QString &text)
{
    if (m_edit)
        m_edit->setText(text);
    else
        m_text = text;
}

void TEdit::SetFlat(bool flat)
{
    m_flat = flat;
    if (m_edit)
        applyFlat();
}

void TEdit::applyFlat()
{
    m_edit->setStyleSheet(m_flat ? QStringLiteral("QLineEdit { border: 1px solid #7f9db9; padding: 0 2px; }")
                                 : QString());
}

// ---- TSpinEdit

TSpinEdit::TSpinEdit(QWidget *parent, std::string_view name) : TControl(parent, name) {}

QDoubleSpinBox *TSpinEdit::Widget() const
{
    if (!m_spin) {
        auto *self = const_cast<TSpinEdit *>(this);
        m_spin = new QDoubleSpinBox(self);
        {
            const QScopedValueRollback setting(self->m_setting, true);
            m_spin->setDecimals(m_decimals);
            m_spin->setRange(m_min, m_max);
            m_spin->setValue(m_value);
        }
        connect(m_spin, &QDoubleSpinBox::valueChanged, self, [self](double v) {
            if (!self->m_setting)
                self->m_value = v;  // the user typed or stepped
        });
        self->AdoptLateInner(m_spin, m_spin);
    }
    return m_spin;
}

void TSpinEdit::showEvent(QShowEvent *e)
{
    (void)Widget();
    TControl::showEvent(e);
}

void TSpinEdit::SetValue(double value)
{
    if (std::isnan(value))
        return;
    m_value = std::clamp(value, m_min, m_max);
    if (!m_spin)
        return;
    const QScopedValueRollback setting(m_setting, true);
    m_spin->setValue(m_value);
}

int TSpinEdit::AsInteger() const
{
    return static_cast<int>(std::lround(m_value));
}

void TSpinEdit::SetRange(double minValue, double maxValue)
{
    m_min = minValue;
    m_max = std::max(minValue, maxValue);
    if (m_spin) {
        const QScopedValueRollback setting(m_setting, true);
        m_spin->setRange(m_min, m_max);
    }
    SetValue(m_value);
}

void TSpinEdit::SetDecimals(int decimals)
{
    m_decimals = decimals;
    if (!m_spin)
        return;
    const QScopedValueRollback setting(m_setting, true);
    m_spin->setDecimals(decimals);
    m_spin->setValue(m_value);
}

// ---- TRadioGroup

TRadioGroup::TRadioGroup(QWidget *parent, std::string_view name)
    : TControl(parent, name), m_group(fill(this, new QGroupBox(this)))
{
}

std::string TRadioGroup::Caption() const
{
    return ToAnsi(caption());
}

void TRadioGroup::SetCaption(std::string_view caption)
{
    setCaption(FromAnsi(caption));
}

QString TRadioGroup::caption() const
{
    return m_group->title();
}

void TRadioGroup::setCaption(const QString &caption)
{
    m_group->setTitle(caption);
}

void TRadioGroup::SetItems(const std::vector<std::string> &items)
{
    qDeleteAll(m_buttons);
    m_buttons.clear();
    for (size_t i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(FromAnsi(items[i]), m_group);
        button->setAutoExclusive(false);  // the group decides which one is on
        const int index = static_cast<int>(i);
        connect(button, &QRadioButton::clicked, this, [this, index] {
            if (select(index))
                FireFromSignal(this, OnChange, this);
        });
        m_buttons.push_back(button);
        // A button added to a group on the screen must be shown; one added to a hidden group
        // shows with it (showing it now would lay it out for nothing).
        if (m_group->isVisible())
            button->show();
    }
    const int keep = m_itemIndex;
    m_itemIndex = -1;
    SetItemIndex(keep);
    layoutButtons();
}

std::string TRadioGroup::Item(int index) const
{
    return ToAnsi(m_buttons.at(static_cast<size_t>(index))->text());
}

void TRadioGroup::SetColumns(int columns)
{
    m_columns = std::max(1, columns);
    layoutButtons();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (select(index))
        Fire(OnChange, this);
}

bool TRadioGroup::select(int index)
{
    if (index < 0 || index >= Count())
        index = -1;
    for (int i = 0; i < Count(); ++i)
        m_buttons[static_cast<size_t>(i)]->setChecked(i == index);
    if (index == m_itemIndex)
        return false;
    m_itemIndex = index;
    return true;
}

void TRadioGroup::resizeEvent(QResizeEvent *e)
{
    TControl::resizeEvent(e);
    layoutButtons();
}

void TRadioGroup::layoutButtons()
{
    if (m_buttons.empty())
        return;
    const QFontMetrics fm(font());
    const int top = fm.height() + 2;
    const int left = 8;
    const int rows = (Count() + m_columns - 1) / m_columns;
    const int columnWidth = (width() - 2 * left) / m_columns;
    const int rowHeight = std::max(fm.height() + 4, (height() - top - 6) / std::max(rows, 1));
    for (int i = 0; i < Count(); ++i) {
        const int column = i / rows;
        const int row = i % rows;
        m_buttons[static_cast<size_t>(i)]->setGeometry(left + column * columnWidth, top + row * rowHeight, columnWidth,
                                                       rowHeight);
    }
}

}  // namespace fw
