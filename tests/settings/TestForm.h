#pragma once
// A small stand-in of the main form for the settings store's tests: its controls carry the main
// form's component names and the framework's property names (Text, ItemIndex, Checked, Position,
// Value), and it wires the store the way the main form does.
#include "settings/Placemnt.h"

#include <QWidget>
#include <array>

namespace testforms {

class TTestEdit final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE SetText)
public:
    using QWidget::QWidget;
    QString Text() const { return m_text; }
    void SetText(const QString &text) { m_text = text; }

private:
    QString m_text;
};

class TTestItems final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)
public:
    using QWidget::QWidget;
    int ItemIndex() const { return m_index; }
    void SetItemIndex(int index) { m_index = index; }

private:
    int m_index = -1;
};

class TTestCheck final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
public:
    using QWidget::QWidget;
    bool Checked() const { return m_checked; }
    void SetChecked(bool checked) { m_checked = checked; }

private:
    bool m_checked = false;
};

class TTestTrackBar final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
public:
    using QWidget::QWidget;
    int Position() const { return m_position; }
    void SetPosition(int position) { m_position = position; }

private:
    int m_position = 0;
};

class TTestSpinEdit final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double Value READ Value WRITE SetValue)
public:
    using QWidget::QWidget;
    double Value() const { return m_value; }
    void SetValue(double value) { m_value = value; }

private:
    double m_value = 0;
};

// Properties of other kinds: an enumeration (stored by its names) and one with no text form.
class TTestLabel final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(QRect Bounds READ Bounds WRITE SetBounds)
public:
    enum TAlignment { taLeftJustify, taRightJustify, taCenter };
    Q_ENUM(TAlignment)
    using QWidget::QWidget;
    TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment alignment) { m_alignment = alignment; }
    QRect Bounds() const { return m_bounds; }
    void SetBounds(const QRect &bounds) { m_bounds = bounds; }

private:
    TAlignment m_alignment = taLeftJustify;
    QRect m_bounds;
};

class TFPral final : public QWidget {
    Q_OBJECT
public:
    // The controls with their defaults; the store is configured and loaded as the main form's.
    TFPral();
    ~TFPral() override;

    TTestEdit *DirectoryEdit1;
    TTestItems *Avisadores;
    TTestCheck *ComprobarChk;
    std::array<TTestTrackBar *, 15> cxTrackBar{};  // 1 to 14
    TTestCheck *Minimizar;
    TTestItems *ServerTypeRadioGroup;
    TTestEdit *ProxyServerEdit1;
    TTestSpinEdit *ProxyPortEdit1;
    TTestLabel *Label1;
    settings::TFormStorage *FormStorage1;

    // The form's own close-query answer, and what its own handlers saw.
    bool CanClose = true;
    int CloseQueries = 0;
    QString FolderAtShow;

    // Every stored control at its default, as "Component.Property" -> value.
    static std::vector<std::pair<std::string, QVariant>> Defaults();
    QVariant Value(const std::string &entry) const;
    void SetValue(const std::string &entry, const QVariant &value);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

}  // namespace testforms
