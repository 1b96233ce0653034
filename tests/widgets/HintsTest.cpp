// Hint balloons: their timing, their look and their text.
#include "ui/Ansi.h"
#include "ui/widgets/AppEvnts.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/Hints.h"

#include <QElapsedTimer>
#include <QEnterEvent>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

TEST(Hints, FirstLineIsTheCaptionAndOnlyThePartBeforeABarShows)
{
    struct Case {
        QString hint, caption, body;
    } const cases[] = {
        {"Desactiva el aviso", "Desactiva el aviso", ""},
        {"Aviso medio\r\nAvisa con indicación del tipo de punto", "Aviso medio", "Avisa con indicación del tipo de punto"},
        {"Aviso Máximo\r\nAvisa con indicación del tipo de punto \r\ny controla la velocidad",
         "Aviso Máximo", "Avisa con indicación del tipo de punto \ny controla la velocidad"},
        {"Corto|Largo", "Corto", ""},
        {"a\rb", "a", "b"},
        {"", "", ""},
    };
    for (const auto &c : cases) {
        const ui::HintParts parts = ui::SplitHint(c.hint);
        EXPECT_EQ(parts.caption, c.caption) << c.hint.toStdString();
        EXPECT_EQ(parts.body, c.body) << c.hint.toStdString();
    }
}

class HintTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The main window's application-events component sets the pause.
        ui::TAppEvents events(nullptr, "AppEvents");
        events.HintPause = 400;
        events.Apply();
        m_window.resize(300, 100);
        m_label = new ui::TLabel(&m_window, "cxLabel7");
        m_label->move(20, 20);
        m_label->SetCaption(ui::AnsiText("Máx"));
        m_label->SetHint(ui::AnsiText("Aviso Máximo\r\nAvisa con indicación del tipo de punto"));
        m_other = new ui::TLabel(&m_window, "cxLabel8");
        m_other->move(120, 20);
        m_other->SetCaption("Min");
        m_other->SetHint(ui::AnsiText("Aviso mínimo\r\nAvisa solo con un sonido"));
        m_window.show();
    }
    void TearDown() override { ui::HintManager::Instance().Cancel(); }

    static void enter(QWidget *w)
    {
        QEnterEvent e(QPointF(2, 2), w->mapTo(w->window(), QPointF(2, 2)), w->mapToGlobal(QPointF(2, 2)));
        QCoreApplication::sendEvent(w, &e);
    }
    static void leave(QWidget *w)
    {
        QEvent e(QEvent::Leave);
        QCoreApplication::sendEvent(w, &e);
    }

    QWidget m_window;
    ui::TLabel *m_label = nullptr;
    ui::TLabel *m_other = nullptr;
};

TEST_F(HintTest, BalloonAppearsAfterTheHintPauseInLightYellowWithABoldCaption)
{
    ui::HintManager &hints = ui::HintManager::Instance();
    QSignalSpy shown(&hints, &ui::HintManager::hintShown);
    QElapsedTimer clock;
    clock.start();
    enter(m_label);
    EXPECT_EQ(hints.Balloon(), nullptr);
    ASSERT_TRUE(shown.wait(3000));
    EXPECT_GE(clock.elapsed(), 400);
    ui::THintBalloon *balloon = hints.Balloon();
    ASSERT_NE(balloon, nullptr);
    EXPECT_EQ(balloon->CaptionText(), QString::fromUtf8("Aviso Máximo"));
    EXPECT_EQ(balloon->BodyText(), QString::fromUtf8("Avisa con indicación del tipo de punto"));
    EXPECT_EQ(ui::THintBalloon::Color(), QColor(255, 255, 128));
    EXPECT_TRUE(ui::THintBalloon::CaptionFont().bold());
    EXPECT_FALSE(ui::THintBalloon::BodyFont().bold());
    // The balloon is painted in its colour inside its rounded outline.
    const QImage image = balloon->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(image.width() - 6, image.height() / 2)), QColor(255, 255, 128));
}

TEST_F(HintTest, LeavingBeforeThePauseShowsNothingAndLeavingAfterHides)
{
    ui::HintManager &hints = ui::HintManager::Instance();
    QSignalSpy shown(&hints, &ui::HintManager::hintShown);
    QSignalSpy hidden(&hints, &ui::HintManager::hintHidden);
    enter(m_label);
    leave(m_label);
    EXPECT_FALSE(shown.wait(700));

    enter(m_label);
    ASSERT_TRUE(shown.wait(3000));
    leave(m_label);
    EXPECT_EQ(hidden.count(), 1);
    EXPECT_EQ(hints.Balloon(), nullptr);
}

TEST_F(HintTest, TheNextControlsHintFollowsAfterTheShortPause)
{
    ui::HintManager &hints = ui::HintManager::Instance();
    QSignalSpy shown(&hints, &ui::HintManager::hintShown);
    enter(m_label);
    ASSERT_TRUE(shown.wait(3000));
    leave(m_label);
    QElapsedTimer clock;
    clock.start();
    enter(m_other);
    ASSERT_TRUE(shown.wait(3000));
    EXPECT_LT(clock.elapsed(), 400);
    EXPECT_EQ(hints.Balloon()->CaptionText(), QString::fromUtf8("Aviso mínimo"));
}

TEST_F(HintTest, BalloonHidesByItselfAfterTheHidePause)
{
    ui::HintManager &hints = ui::HintManager::Instance();
    const int hidePause = hints.HintHidePause;
    hints.HintHidePause = 300;
    QSignalSpy shown(&hints, &ui::HintManager::hintShown);
    QSignalSpy hidden(&hints, &ui::HintManager::hintHidden);
    enter(m_label);
    ASSERT_TRUE(shown.wait(3000));
    EXPECT_TRUE(hidden.wait(3000));
    EXPECT_EQ(hints.Balloon(), nullptr);
    hints.HintHidePause = hidePause;
}

TEST_F(HintTest, AControlWithoutHintShowsNoBalloon)
{
    ui::HintManager &hints = ui::HintManager::Instance();
    QSignalSpy shown(&hints, &ui::HintManager::hintShown);
    m_label->SetHint("");
    enter(m_label);
    EXPECT_FALSE(shown.wait(700));
}

}  // namespace
