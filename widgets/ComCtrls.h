#pragma once
// Controls that show progress, levels and state, and the notebook of named pages.
#include "widgets/Controls.h"

#include <QSlider>

namespace fw {

// An LED-style progress bar: a row of segments coloured in a gradient from StartColor to
// EndColor, without text. A Max not above Min (an unknown size) shows an empty bar.
class TProgressBar : public TControl {
    Q_OBJECT
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Max READ Max WRITE SetMax)
public:
    explicit TProgressBar(QWidget *parent, std::string_view name = {});
    int Position() const { return m_position; }
    void SetPosition(int position);
    int Min() const { return m_min; }
    void SetMin(int min);
    int Max() const { return m_max; }
    void SetMax(int max);
    void SetColors(const QColor &start, const QColor &end);
    // Busy: for work of unknown length. A short run of lit segments moves one step along the bar
    // with every new position, so it moves while the work moves and rests when it rests.
    bool Busy() const { return m_busy; }
    void SetBusy(bool busy);
    // The part done as a screen reader reads it ("40 %"); empty while the size is unknown or busy.
    QString ValueText() const;
    // How many segments the bar lights now (out of SegmentCount()).
    int LitSegments() const;
    int SegmentCount() const;

protected:
    void paintEvent(QPaintEvent *) override;

private:
    int m_position = 0;
    int m_min = 0;
    int m_max = 100;
    QColor m_start{128, 255, 128};
    QColor m_end{255, 255, 0};
    bool m_busy = false;
    int m_busyStep = 0;
};

// A level bar: whole positions from Min to Max chosen with a thumb over a coloured track.
class TTrackBar : public TControl {
    Q_OBJECT
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Max READ Max WRITE SetMax)
public:
    explicit TTrackBar(QWidget *parent, std::string_view name = {});
    int Position() const;
    // Values outside Min to Max are brought to the nearer end.
    void SetPosition(int position);
    int Min() const;
    void SetMin(int min);
    int Max() const;
    void SetMax(int max);
    void SetTrackColor(const QColor &color);
    QColor TrackColor() const;
    // The words of the positions from Min up ("Sin", "Med", ...), as a screen reader reads the
    // value; a position without a word is read as its number.
    void SetPositionTexts(const std::vector<std::string> &texts);
    QString PositionText() const;

    QSlider *Widget() const { return m_slider; }

    TNotifyEvent OnChange;

private:
    QSlider *m_slider;
    QStringList m_positionTexts;
};

// A status bar of panels side by side; each panel but the last has a fixed width, the last one
// fills the rest. Panel texts are the program's single-byte texts.
class TStatusBar : public TControl {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget *parent, std::string_view name = {});
    // One panel per width; the last width is ignored (that panel fills the rest).
    void SetPanels(const std::vector<int> &widths);
    int PanelCount() const { return static_cast<int>(m_panels.size()); }
    std::string PanelText(int index) const;
    void SetPanelText(int index, std::string_view text);
    QRect PanelRect(int index) const;

protected:
    void paintEvent(QPaintEvent *) override;

private:
    struct Panel {
        int width;
        QString text;
    };
    std::vector<Panel> m_panels;
};

// A stack of named pages, one shown at a time; a page is selected by its name (without regard to
// letter case). Selecting an unknown name changes nothing.
class TNotebook : public TControl {
    Q_OBJECT
    Q_PROPERTY(int PageIndex READ PageIndex WRITE SetPageIndex)
    Q_PROPERTY(QString ActivePage READ activePage WRITE setActivePage)
public:
    explicit TNotebook(QWidget *parent, std::string_view name = {});
    // Adds a page named `name` and returns it, to hold the page's controls.
    QWidget *AddPage(std::string_view name);
    int PageCount() const { return static_cast<int>(m_pages.size()); }
    QWidget *Page(int index) const { return m_pages.at(static_cast<size_t>(index)).widget; }
    QWidget *Page(std::string_view name) const;
    std::string PageName(int index) const;

    int PageIndex() const { return m_index; }
    void SetPageIndex(int index);
    std::string ActivePage() const;
    void SetActivePage(std::string_view name);
    QString activePage() const;
    void setActivePage(const QString &name);

protected:
    void resizeEvent(QResizeEvent *e) override;

private:
    int indexOf(const QString &name) const;

    struct NamedPage {
        QString name;
        QWidget *widget;
    };
    std::vector<NamedPage> m_pages;
    int m_index = -1;
};

}  // namespace fw
