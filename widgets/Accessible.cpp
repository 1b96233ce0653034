#include "widgets/Accessible.h"

#include "framework/Ansi.h"
#include "widgets/ComCtrls.h"
#include "widgets/Controls.h"

#include <QAccessibleWidget>
#include <QGroupBox>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>
#include <memory>

namespace fw {
namespace {

// The children a reader may visit: the widgets shown with their parent. A hidden control (the
// new-map mark while there is none, the file list, the pages not shown) is not there at all.
QList<QWidget *> shownChildren(const QWidget *parent)
{
    QList<QWidget *> shown;
    for (QObject *object : parent->children()) {
        auto *child = qobject_cast<QWidget *>(object);
        if (child && !child->isWindow() && !child->isHidden() && !qobject_cast<QMenu *>(child))
            shown.append(child);
    }
    return shown;
}

// A control or a page that holds others.
class ContainerAccessible : public QAccessibleWidget {
public:
    explicit ContainerAccessible(QWidget *widget, QAccessible::Role role = QAccessible::Client)
        : QAccessibleWidget(widget, role)
    {
    }

    int childCount() const override { return static_cast<int>(shownChildren(widget()).size()); }

    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> shown = shownChildren(widget());
        return index >= 0 && index < shown.size() ? QAccessible::queryAccessibleInterface(shown.at(index)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child || !child->object() || !child->object()->isWidgetType())
            return -1;
        return static_cast<int>(shownChildren(widget()).indexOf(static_cast<QWidget *>(child->object())));
    }
};

// A text on the window, read as its caption; a label that names a control says so.
class LabelAccessible final : public QAccessibleWidget {
public:
    explicit LabelAccessible(TLabel *label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const TLabel *>(widget())->caption();
        return QAccessibleWidget::text(t);
    }

    QList<QPair<QAccessibleInterface *, QAccessible::Relation>> relations(QAccessible::Relation match) const override
    {
        auto result = QAccessibleWidget::relations(match);
        const TControl *control = static_cast<const TLabel *>(widget())->FocusControl();
        if (control && (match & QAccessible::Labelled)) {
            if (QAccessibleInterface *target = QAccessible::queryAccessibleInterface(control->NameTarget()))
                result.append({target, QAccessible::Labelled});
        }
        return result;
    }
};

// A picture: a graphic named by the description its owner gave it.
class ImageAccessible final : public QAccessibleWidget {
public:
    explicit ImageAccessible(TImage *image) : QAccessibleWidget(image, QAccessible::Graphic) {}
};

// A titled frame: a group named by its caption.
class GroupBoxAccessible final : public ContainerAccessible {
public:
    explicit GroupBoxAccessible(TGroupBox *group) : ContainerAccessible(group, QAccessible::Grouping) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const TGroupBox *>(widget())->caption();
        return ContainerAccessible::text(t);
    }
};

// The progress bar: its value, and as text the part done.
class ProgressAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressAccessible(TProgressBar *bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return bar()->ValueText();
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return bar()->Position(); }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return bar()->Max(); }
    QVariant minimumValue() const override { return bar()->Min(); }
    QVariant minimumStepSize() const override { return 1; }

private:
    const TProgressBar *bar() const { return static_cast<const TProgressBar *>(widget()); }
};

// One panel of the status bar: a text with no widget of its own.
class PanelAccessible final : public QAccessibleInterface {
public:
    PanelAccessible(TStatusBar *bar, int index) : m_bar(bar), m_index(index) {}

    bool isValid() const override { return m_bar && m_index < m_bar->PanelCount(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_bar ? m_bar->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_bar.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name && isValid() ? FromAnsi(m_bar->PanelText(m_index)) : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = m_bar->PanelRect(m_index);
        return QRect(m_bar->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::StaticText; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.invisible = !isValid() || !m_bar->isVisible();
        s.readOnly = true;
        return s;
    }

private:
    QPointer<TStatusBar> m_bar;
    int m_index;
};

// The status bar: its panels are its children. The panels' interfaces belong to the cache of
// interfaces and go with the bar's.
class StatusBarAccessible final : public QAccessibleWidget {
public:
    explicit StatusBarAccessible(TStatusBar *bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {}
    ~StatusBarAccessible() override
    {
        for (const QAccessible::Id id : m_panels)
            QAccessible::deleteAccessibleInterface(id);
    }
    StatusBarAccessible(const StatusBarAccessible &) = delete;
    StatusBarAccessible &operator=(const StatusBarAccessible &) = delete;

    int childCount() const override { return static_cast<const TStatusBar *>(widget())->PanelCount(); }

    QAccessibleInterface *child(int index) const override
    {
        auto *bar = static_cast<TStatusBar *>(widget());
        if (index < 0 || index >= bar->PanelCount())
            return nullptr;
        while (m_panels.size() <= index) {
            // Handed to the cache of interfaces, which owns it from here on.
            auto panel = std::make_unique<PanelAccessible>(bar, static_cast<int>(m_panels.size()));
            m_panels.append(QAccessible::registerAccessibleInterface(panel.release()));
        }
        return QAccessible::accessibleInterface(m_panels.at(index));
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (int i = 0; i < m_panels.size(); ++i) {
            if (QAccessible::accessibleInterface(m_panels.at(i)) == child)
                return i;
        }
        return -1;
    }

private:
    mutable QList<QAccessible::Id> m_panels;
};

// A level bar's slider: named by its row, its value read as the level's word, labelled by the
// row's label.
class LevelAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit LevelAccessible(QSlider *slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        // The word is the description too: the desktop's bus carries a slider's value as a number.
        if (t == QAccessible::Value || (t == QAccessible::Description && widget()->accessibleDescription().isEmpty()))
            return bar()->PositionText();
        return QAccessibleWidget::text(t);
    }

    QList<QPair<QAccessibleInterface *, QAccessible::Relation>> relations(QAccessible::Relation match) const override
    {
        auto result = QAccessibleWidget::relations(match);
        if (QWidget *label = bar()->LabelledBy(); label && (match & QAccessible::Label)) {
            if (QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(label))
                result.append({iface, QAccessible::Label});
        }
        return result;
    }

    QVariant currentValue() const override { return slider()->value(); }
    void setCurrentValue(const QVariant &value) override { slider()->setValue(value.toInt()); }
    QVariant maximumValue() const override { return slider()->maximum(); }
    QVariant minimumValue() const override { return slider()->minimum(); }
    QVariant minimumStepSize() const override { return 1; }

private:
    QSlider *slider() const { return static_cast<QSlider *>(widget()); }
    const TTrackBar *bar() const { return static_cast<const TTrackBar *>(widget()->parentWidget()); }
};

// A radio group's button: a radio button, although the group, not Qt, keeps the choice single.
class RadioAccessible final : public QAccessibleWidget {
public:
    explicit RadioAccessible(QRadioButton *button) : QAccessibleWidget(button, QAccessible::RadioButton) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return button()->text().remove(QLatin1Char('&'));
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }

    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }

    void doAction(const QString &action) override
    {
        if (action == pressAction())
            button()->click();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QRadioButton *button() const { return static_cast<QRadioButton *>(widget()); }
};

bool isOf(const QObject *object, const char *className)
{
    return object && object->metaObject()->className() == QByteArrayView(className);
}

QAccessibleInterface *controlsFactory(const QString &key, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    QObject *parent = widget->parent();
    // Qt asks once per class of the object's ancestry, most derived first; each answer here is
    // for the class that asks, so a control of a class without its own answer gets its
    // ancestor's.
    if (key == QLatin1String("fw::TLabel"))
        return new LabelAccessible(static_cast<TLabel *>(widget));
    if (key == QLatin1String("fw::TImage"))
        return new ImageAccessible(static_cast<TImage *>(widget));
    if (key == QLatin1String("fw::TGroupBox"))
        return new GroupBoxAccessible(static_cast<TGroupBox *>(widget));
    if (key == QLatin1String("fw::TProgressBar"))
        return new ProgressAccessible(static_cast<TProgressBar *>(widget));
    if (key == QLatin1String("fw::TStatusBar"))
        return new StatusBarAccessible(static_cast<TStatusBar *>(widget));
    if (key == QLatin1String("fw::TPanel"))
        return new ContainerAccessible(widget, QAccessible::Pane);
    if (key == QLatin1String("fw::TControl"))
        return new ContainerAccessible(widget);
    if (key == QLatin1String("QSlider") && isOf(parent, "fw::TTrackBar"))
        return new LevelAccessible(static_cast<QSlider *>(widget));
    if (key == QLatin1String("QRadioButton") && qobject_cast<QGroupBox *>(parent) && parent->parent() &&
        isOf(parent->parent(), "fw::TRadioGroup"))
        return new RadioAccessible(static_cast<QRadioButton *>(widget));
    if (key == QLatin1String("QWidget") && isOf(parent, "fw::TNotebook"))
        return new ContainerAccessible(widget, QAccessible::Pane);
    return nullptr;
}

}  // namespace

void InstallAccessibleControls()
{
    static const bool installed = [] {
        QAccessible::installFactory(controlsFactory);
        return true;
    }();
    (void)installed;
}

void NotifyAccessible(QObject *object, QAccessible::Event event)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent e(object, event);
    QAccessible::updateAccessibility(&e);
}

}  // namespace fw
