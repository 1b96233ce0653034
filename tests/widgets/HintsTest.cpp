// Hint balloons: their timing, their look and their text.
#include "framework/Ansi.h"
#include "widgets/AppEvnts.h"
#include "widgets/Controls.h"
#include "widgets/Hints.h"

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
        {"Aviso medio\r\nAvisa con indicación del tipo de punto", "Aviso medio",
         "Avisa con indicación del tipo de punto"},
        {"Aviso Máximo\r\nAvisa con indicación del tipo de punto \r\ny controla la velocidad", "Aviso Máximo",
         "Avisa con indicación del tipo de punto \ny controla la velocidad"},
        {"Corto|Largo", "Corto", ""},
        {"a\rb", "a", "b"},
        {"", "", ""},
    };
    for (const auto &c : cases) {
        const fw::HintParts parts = fw::SplitHint(c.hint);
        EXPECT_EQ(parts.caption, c.caption) << c.hint.toStdString();
        EXPECT_EQ(parts.body, c.body) << c.hint.toStdString();
    }
}

class HintTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The main window's application-events component sets the pause.
        fw::TAppEvents events(nullptr, "AppEvents");
        events.HintPause = 400;
        events.Apply();
        m_window.resize(300, 100);
        m_label = new fw::TLabel(&m_window, "cxLabel7");
        m_label->move(20, 20);
        m_label->SetCaption(fw::AnsiText("Máx"));
        m_label->SetHint(fw::AnsiText("Aviso Máximo\r\nAvisa con indicación del tipo de punto"));
        m_other = new fw::TLabel(&m_window, "cxLabel8");
        m_other->move(120, 20);
        m_other->SetCaption("Min");
        m_other->SetHint(fw::AnsiText("Aviso mínimo\r\nAvisa solo con un sonido"));
        m_window.show();
    }
    void TearDown() override { fw::HintManager::Instance().Cancel(); }

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
    fw::TLabel *m_label = nullptr;
    fw::TLabel *m_other = nullptr;
};

TEST_F(HintTest, BalloonAppearsAfterTheHintPauseInLightYellowWithABoldCaption)
{
    fw::HintManager &hints = fw::HintManager::Instance();
    QSignalSpy shown(&hints, &fw::HintManager::hintShown);
    QElapsedTimer clock;
    clock.start();
    enter(m_label);
    EXPECT_EQ(hints.Balloon(), nullptr);
    ASSERT_TRUE(shown.wait(3000));
    EXPECT_GE(clock.elapsed(), 400);
    fw::THintBalloon *balloon = hints.Balloon();
    ASSERT_NE(balloon, nullptr);
    EXPECT_EQ(balloon->CaptionText(), QString::fromUtf8("Aviso Máximo"));
    EXPECT_EQ(balloon->BodyText(), QString::fromUtf8("Avisa con indicación del tipo de punto"));
    EXPECT_EQ(fw::THintBalloon::Color(), QColor(255, 255, 128));
    EXPECT_TRUE(fw::THintBalloon::CaptionFont().bold());
    EXPECT_FALSE(fw::THintBalloon::BodyFont().bold());
    // The balloon is painted in its colour inside its rounded outline.
    const QImage image = balloon->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(image.width() - 6, image.height() / 2)), QColor(255, 255, 128));
}

TEST_F(HintTest, LeavingBeforeThePauseShowsNothingAndLeavingAfterHides)
{
    fw::HintManager &hints = fw::HintManager::Instance();
    QSignalSpy shown(&hints, &fw::HintManager::hintShown);
    QSignalSpy hidden(&hints, &fw::HintManager::hintHidden);
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
    fw::HintManager &hints = fw::HintManager::Instance();
    QSignalSpy shown(&hints, &fw::HintManager::hintShown);
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
    fw::HintManager &hints = fw::HintManager::Instance();
    const int hidePause = hints.HintHidePause;
    hints.HintHidePause = 300;
    QSignalSpy shown(&hints, &fw::HintManager::hintShown);
    QSignalSpy hidden(&hints, &fw::HintManager::hintHidden);
    enter(m_label);
    ASSERT_TRUE(shown.wait(3000));
    EXPECT_TRUE(hidden.wait(3000));
    EXPECT_EQ(hints.Balloon(), nullptr);
    hints.HintHidePause = hidePause;
}

TEST_F(HintTest, AControlWithoutHintShowsNoBalloon)
{
    fw::HintManager &hints = fw::HintManager::Instance();
    QSignalSpy shown(&hints, &fw::HintManager::hintShown);
    m_label->SetHint("");
    enter(m_label);
    EXPECT_FALSE(shown.wait(700));
}

}  // namespace
