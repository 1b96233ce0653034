#pragma once
// The framework's controls as thin Qt widgets. Each control is a TControl: a widget placed at
// pixel positions by its owner, whose published properties (Caption, Text, Checked, ItemIndex,
// Value, Visible, Enabled, Hint) are Q_PROPERTYs with the framework's names, so that the settings
// store reaches them by component and property name.
//
// Two faces per text property: the program's single-byte texts (Caption(), SetCaption()) and the
// Qt side that the meta-object uses (caption(), setCaption(QString)). Texts cross between the two
// only through fw::FromAnsi and fw::ToAnsi.
#include "framework/Classes.h"

#include <QColor>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace fw {

// The font of the main window's texts ("Verdana" 8 points) and of its plain labels ("MS Sans
// Serif" 8 points). Sizes are in pixels, as the layout is: 8 points on a 96 dpi screen.
QFont VerdanaFont();
QFont SansSerifFont();

class TControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(QString Hint READ hint WRITE setHint)
public:
    explicit TControl(QWidget *parent, std::string_view name = {});

    void SetBounds(int left, int top, int width, int height) { setGeometry(left, top, width, height); }

    // The control's own flags: a control on a hidden page is still Visible.
    bool Visible() const;
    void SetVisible(bool visible);
    bool Enabled() const;
    void SetEnabled(bool enabled);

    std::string Hint() const;
    void SetHint(std::string_view hint);
    QString hint() const { return m_hint; }
    void setHint(const QString &hint) { m_hint = hint; }

    void SetFontColor(const QColor &color);
    void SetColor(const QColor &color);  // the background, filled

    // The Qt widget that does the control's work, kept filling the control.
    void SetInner(QWidget *inner);

    // The name a screen reader gives the control; it goes to the widget that takes the focus
    // (the inner one, also when that is made later).
    void SetAccessibleName(const QString &name);
    // The widget that takes the focus for the control: its inner widget, or the control itself.
    QWidget *NameTarget() const;
    // The label that names the control (see TLabel::SetFocusControl), if any.
    QWidget *LabelledBy() const { return m_labelledBy; }
    void SetLabelledBy(QWidget *label) { m_labelledBy = label; }

protected:
    // For an inner widget made after the window was built (a field's editor is made when it is
    // first shown: the first line field of a process lays out its empty text in the desktop's
    // font, an extra font to load at start): fills the control with it, shows it with the control,
    // and puts its tab stop `stop` where the control stands in the window's tab order, not last.
    void AdoptLateInner(QWidget *inner, QWidget *stop);

    bool event(QEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    QString m_hint;
    QWidget *m_inner = nullptr;
    QWidget *m_nameTarget = nullptr;
    QPointer<QWidget> m_labelledBy;
};

// A text on the window. With AutoSize (the default) it is as large as its text; with WordWrap it
// keeps its width and breaks the text into lines.
class TLabel : public TControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
public:
    explicit TLabel(QWidget *parent, std::string_view name = {});

    std::string Caption() const;
    void SetCaption(std::string_view caption);
    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

    void SetAlignment(Qt::Alignment alignment);
    void SetWordWrap(bool wrap);
    void SetAutoSize(bool autoSize);
    // Where the label ends for a right-aligned auto-size label: it grows to the left.
    void SetRightEdge(int x);

    // The size the text needs with the label's font and wrapping.
    QSize TextSize() const;

    // The control this label names: a screen reader reads the caption (without a closing colon)
    // as the control's name, unless the control has a name of its own, and knows the label as its
    // label.
    void SetFocusControl(TControl *control);
    TControl *FocusControl() const { return m_focusControl; }

protected:
    void paintEvent(QPaintEvent *) override;
    void changeEvent(QEvent *e) override;

private:
    void adjust();
    int textFlags() const;

    QString m_caption;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignTop;
    bool m_wordWrap = false;
    bool m_autoSize = true;
    int m_rightEdge = -1;
    int m_inkAbove = 0;
    QPointer<TControl> m_focusControl;
};

// A picture, drawn centred when Center is set (the default here) or at the top left.
class TImage : public TControl {
    Q_OBJECT
public:
    explicit TImage(QWidget *parent, std::string_view name = {});
    void SetPicture(const QPixmap &picture);
    const QPixmap &Picture() const { return m_picture; }
    void SetCenter(bool center);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QPixmap m_picture;
    bool m_center = true;
};

// A plain area in a solid colour, without bevel; holds other controls.
class TPanel : public TControl {
    Q_OBJECT
public:
    explicit TPanel(QWidget *parent, std::string_view name = {});
};

// A sunken frame drawn around an area.
class TBevel : public TControl {
    Q_OBJECT
public:
    explicit TBevel(QWidget *parent, std::string_view name = {});

protected:
    void paintEvent(QPaintEvent *) override;
};

// A titled frame with a shadow that holds other controls.
class TGroupBox : public TControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
public:
    explicit TGroupBox(QWidget *parent, std::string_view name = {});
    std::string Caption() const;
    void SetCaption(std::string_view caption);
    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QString m_caption;
};

// A push button with a caption and an optional small picture.
class TButton : public TControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
public:
    explicit TButton(QWidget *parent, std::string_view name = {});
    std::string Caption() const;
    void SetCaption(std::string_view caption);
    QString caption() const;
    void setCaption(const QString &caption);

    void SetGlyph(const QPixmap &glyph);
    void SetFlat(bool flat);
    // Whether the Tab key stops at the button (it can still be clicked).
    void SetTabStop(bool tabStop);
    // Clicks the button as the user would (runs OnClick when enabled).
    void Click();

    QPushButton *Widget() const { return m_button; }

    TNotifyEvent OnClick;

private:
    QPushButton *m_button;
};

class TCheckBox : public TControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
public:
    explicit TCheckBox(QWidget *parent, std::string_view name = {});
    std::string Caption() const;
    void SetCaption(std::string_view caption);
    QString caption() const;
    void setCaption(const QString &caption);
    bool Checked() const;
    void SetChecked(bool checked);

    QCheckBox *Widget() const { return m_box; }

    // A change of Checked, by the user or by the program.
    TNotifyEvent OnChange;

private:
    QCheckBox *m_box;
};

// A one-line text field.
class TEdit : public TControl {
    Q_OBJECT
    Q_PROPERTY(QString Text READ text WRITE setText)
public:
    explicit TEdit(QWidget *parent, std::string_view name = {});
    std::string Text() const;
    void SetText(std::string_view text);
    QString text() const;
    void setText(const QString &text);
    void SetFlat(bool flat);

    // The editor, made when the field is first shown or asked for it.
    QLineEdit *Widget() const;

protected:
    void showEvent(QShowEvent *e) override;

private:
    void applyFlat();

    mutable QLineEdit *m_edit = nullptr;
    QString m_text;  // until the editor is made
    bool m_flat = false;
};

// A number field with up and down buttons. Value is a floating-point number kept as set (within
// MinValue and MaxValue); the field shows it with Decimals places.
class TSpinEdit : public TControl {
    Q_OBJECT
    Q_PROPERTY(double Value READ Value WRITE SetValue)
public:
    explicit TSpinEdit(QWidget *parent, std::string_view name = {});
    double Value() const { return m_value; }
    void SetValue(double value);
    // Value as a whole number, rounded to the nearest (halves away from zero).
    int AsInteger() const;
    void SetRange(double minValue, double maxValue);
    double MinValue() const { return m_min; }
    double MaxValue() const { return m_max; }
    void SetDecimals(int decimals);

    // The number field, made when the control is first shown or asked for it.
    QDoubleSpinBox *Widget() const;

protected:
    void showEvent(QShowEvent *e) override;

private:
    mutable QDoubleSpinBox *m_spin = nullptr;
    double m_value = 0;
    double m_min = 0;
    double m_max = 100;
    int m_decimals = 0;
    bool m_setting = false;
};

// A titled group of radio buttons laid out in columns, filled column by column. ItemIndex is the
// chosen item, -1 for none; a value outside the items means none.
class TRadioGroup : public TControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)
public:
    explicit TRadioGroup(QWidget *parent, std::string_view name = {});
    std::string Caption() const;
    void SetCaption(std::string_view caption);
    QString caption() const;
    void setCaption(const QString &caption);

    void SetItems(const std::vector<std::string> &items);
    int Count() const { return static_cast<int>(m_buttons.size()); }
    std::string Item(int index) const;
    void SetColumns(int columns);
    int ItemIndex() const { return m_itemIndex; }
    void SetItemIndex(int index);

    QRadioButton *Button(int index) const { return m_buttons.at(static_cast<size_t>(index)); }

    // A change of ItemIndex, by the user or by the program.
    TNotifyEvent OnChange;

protected:
    void resizeEvent(QResizeEvent *e) override;

private:
    // Checks the button of `index` (none when out of range); true when ItemIndex changed.
    bool select(int index);
    void layoutButtons();

    QGroupBox *m_group;
    std::vector<QRadioButton *> m_buttons;
    int m_columns = 1;
    int m_itemIndex = -1;
};

}  // namespace fw
