#pragma once
// Hints: a control's Hint appears in a rounded call-out balloon when the mouse has rested on the
// control for the hint pause. The hint's first line is the balloon's caption, in bold; the lines
// after it are its text. Only the part before a "|" is shown.
#include <QBasicTimer>
#include <QColor>
#include <QObject>
#include <QPainterPath>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace fw {

class THintBalloon final : public QWidget {
    Q_OBJECT
public:
    // The balloon belongs to the window whose controls it explains.
    explicit THintBalloon(QWidget *window);
    // Lays the hint out and places the balloon's tip at `tip` (global coordinates).
    void ShowHint(const QString &hint, const QPoint &tip);
    const QString &CaptionText() const { return m_caption; }
    const QString &BodyText() const { return m_body; }

    static QColor Color() { return QColor(255, 255, 128); }
    static QFont CaptionFont();
    static QFont BodyFont();
    // The balloon's shape (body and pointer) in its own coordinates.
    QPainterPath Outline() const;

protected:
    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;

private:
    QString m_caption;
    QString m_body;
};

class HintManager final : public QObject {
    Q_OBJECT
public:
    static HintManager &Instance();

    // The application's hint settings (milliseconds).
    int HintPause = 500;
    int HintShortPause = 50;
    int HintHidePause = 2500;
    bool ShowHint = true;

    // The mouse entered or left a control with a hint; a press or a hide cancels.
    void Enter(QWidget *control);
    void Leave(QWidget *control);
    void Cancel();

    // The balloon while it shows; nullptr otherwise.
    THintBalloon *Balloon() const;

signals:
    void hintShown();
    void hintHidden();

protected:
    void timerEvent(QTimerEvent *e) override;

private:
    HintManager() = default;
    void show();
    void hide();

    QPointer<QWidget> m_control;
    QPointer<THintBalloon> m_balloon;
    QBasicTimer m_showTimer;
    QBasicTimer m_hideTimer;
    bool m_recent = false;  // a balloon showed a moment ago: the next one comes after the short pause
};

// The hint text split as the balloon shows it: caption (first line) and body (the other lines).
struct HintParts {
    QString caption;
    QString body;
};
HintParts SplitHint(const QString &hint);

}  // namespace fw
