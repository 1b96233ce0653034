// The tray icon: adding it, its tooltip, the animation and its return to the static image, the
// retry without a notification area, the mouse; the drawn images; the application events; the
// popup menu with its strip.
#include "common/Pump.h"
#include "common/ScriptedDialogs.h"
#include "common/TrayProbe.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "widgets/AppEvnts.h"
#include "widgets/Forms.h"
#include "widgets/Menus.h"
#include "widgets/TrayIcon.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

using fw::TRxTrayIcon;

using testutil::TrayProbe;

// A tray icon set up as the program sets up its own, with every image it shows recorded.
struct Icon {
    Icon()
    {
        icon.SetHint(QStringLiteral("Drovanel"));
        icon.SetIcon(fw::TrayIconIcon());
        icon.SetIcons({fw::TrayIconIcon(0), fw::TrayIconIcon(1), fw::TrayIconIcon(2)});
        QObject::connect(&icon, &TRxTrayIcon::ImageShown, [this](int image) {
            shown.push_back(image);
            clock.push_back(timer.elapsed());
        });
        timer.start();
    }
    TRxTrayIcon icon{nullptr, "RxTrayIcon1"};
    std::vector<int> shown;
    std::vector<qint64> clock;
    QElapsedTimer timer;
};

TEST(TrayIcon, EntersTheAreaOnlyOnceLoadedWithTheStaticImageAndTheTooltip)
{
    TrayProbe tray(true);
    Icon t;
    EXPECT_FALSE(t.icon.Added());
    t.icon.Loaded();
    EXPECT_TRUE(t.icon.Added());
    EXPECT_TRUE(t.icon.NativeIcon()->isVisible());
    EXPECT_EQ(t.icon.NativeIcon()->toolTip(), QStringLiteral("Drovanel"));
    EXPECT_EQ(t.shown, std::vector<int>{-1});

    t.icon.SetActive(false);
    EXPECT_FALSE(t.icon.Added());
    EXPECT_FALSE(t.icon.NativeIcon()->isVisible());
    t.icon.SetActive(true);
    EXPECT_TRUE(t.icon.Added());
}

TEST(TrayIcon, TheTooltipIsTheHintUpToABarCutTo63Characters)
{
    TrayProbe tray(true);
    Icon t;
    t.icon.Loaded();
    const QString long70(70, QLatin1Char('x'));
    struct Case {
        QString hint, tip;
    } const cases[] = {
        {"Drovanel", "Drovanel"},
        {"Drovanel|descargas de mapas", "Drovanel"},
        {"|after", ""},
        {long70, long70.left(63)},
        {long70 + "|y", long70.left(63)},
    };
    for (const auto &c : cases) {
        t.icon.SetHint(c.hint);
        EXPECT_EQ(t.icon.TipText(), c.tip) << c.hint.toStdString();
        EXPECT_EQ(t.icon.NativeIcon()->toolTip(), c.tip);
    }
}

TEST(TrayIcon, AnimationShowsTheFramesInTurnEveryIntervalAndReturnsToTheStaticImage)
{
    fw::Application().ResetTerminated();  // an ending program shows no more frames
    TrayProbe tray(true);
    Icon t;
    t.icon.Loaded();
    ASSERT_EQ(t.icon.Interval(), 150);
    t.shown.clear();
    t.clock.clear();
    t.timer.restart();
    t.icon.SetAnimated(true);
    EXPECT_EQ(t.shown, std::vector<int>{0}) << "the first frame shows at once";
    ASSERT_TRUE(testutil::PumpUntil([&] { return t.shown.size() >= 5; }, 5000));
    EXPECT_EQ(t.shown, (std::vector<int>{0, 1, 2, 0, 1}));
    // Never faster than the interval (the event loop may be late, never early beyond its slack).
    EXPECT_GE(t.clock[4] - t.clock[0], 4 * 150 * 95 / 100);

    t.icon.SetAnimated(false);
    EXPECT_EQ(t.shown.back(), -1);
    EXPECT_EQ(t.icon.FrameIndex(), 0);
    const auto count = t.shown.size();
    // No frame comes after the end, however long one waits.
    testutil::PumpUntil([] { return false; }, 400);
    EXPECT_EQ(t.shown.size(), count);

    // Switched on again: from the first frame. Once the program is ending, the frames stop.
    t.icon.SetAnimated(true);
    EXPECT_EQ(t.shown.back(), 0);
    fw::Application().Terminate();
    testutil::PumpUntil([] { return false; }, 400);
    EXPECT_EQ(t.shown.back(), 0);
    fw::Application().ResetTerminated();
    t.icon.SetAnimated(false);
}

TEST(TrayIcon, WithoutFramesTheAnimationStaysOff)
{
    TrayProbe tray(true);
    TRxTrayIcon icon(nullptr, "RxTrayIcon1");
    icon.SetIcon(fw::TrayIconIcon());
    icon.Loaded();
    icon.SetAnimated(true);
    EXPECT_FALSE(icon.Animated());
    EXPECT_EQ(icon.ShownImage(), -1);
}

TEST(TrayIcon, WithoutANotificationAreaNothingIsReportedAndEveryChangeTriesAgain)
{
    testutil::ScriptedDialogs dialogs;
    TrayProbe tray(false);
    Icon t;
    t.icon.Loaded();
    EXPECT_FALSE(t.icon.Added());
    EXPECT_EQ(tray.asked, 1);

    // The animation is held while there is no icon: its timer causes no retries and no frames.
    t.icon.SetAnimated(true);
    EXPECT_EQ(tray.asked, 2);
    testutil::PumpUntil([] { return false; }, 400);
    EXPECT_EQ(tray.asked, 2);
    EXPECT_EQ(t.icon.FrameIndex(), 0);
    EXPECT_TRUE(t.shown.empty());

    t.icon.SetHint(QStringLiteral("Drovanel|x"));
    EXPECT_EQ(tray.asked, 3);
    EXPECT_FALSE(t.icon.Added());

    // A tray host has started since: the next change brings the icon in, with the current image.
    tray.Set(true);
    t.icon.SetAnimated(false);
    EXPECT_TRUE(t.icon.Added());
    EXPECT_EQ(t.shown, std::vector<int>{-1});
    EXPECT_EQ(t.icon.NativeIcon()->toolTip(), QStringLiteral("Drovanel"));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST(TrayIcon, MouseClickDoubleClickAndRightClick)
{
    testutil::ScriptedDialogs dialogs;
    TrayProbe tray(true);
    Icon t;
    fw::TPopupMenu menu(nullptr, "PopupMenu");
    auto *item = menu.Add("Activar1", "Descargar");
    int itemClicks = 0;
    item->OnClick = [&](fw::TObject *) { ++itemClicks; };
    t.icon.SetPopupMenu(&menu);
    t.icon.Loaded();
    std::vector<std::string> calls;
    t.icon.OnClick = [&](fw::TObject *sender, fw::TMouseButton button, fw::TShiftState, int, int) {
        EXPECT_EQ(sender, &t.icon);
        EXPECT_EQ(button, fw::mbLeft);
        calls.push_back("click");
    };
    t.icon.OnDblClick = [&](fw::TObject *) { calls.push_back("dblclick"); };
    QSystemTrayIcon *native = t.icon.NativeIcon();

    emit native->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(calls, std::vector<std::string>{"click"});
    // A double click arrives as a click and then the double click.
    emit native->activated(QSystemTrayIcon::Trigger);
    emit native->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(calls, (std::vector<std::string>{"click", "click", "dblclick"}));
    emit native->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(calls.size(), 3u);

    // The right button opens the menu and calls no click handler.
    emit native->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(calls.size(), 3u);
    menu.hide();

    // The area holds the menu too: an XEmbed area opens it itself before it reports the right
    // click, and then the report leaves the open menu where it is.
    EXPECT_EQ(native->contextMenu(), &menu);
    const QPoint opened = QCursor::pos() + QPoint(120, 90);
    menu.popup(opened);
    const QPoint placed = menu.pos();
    emit native->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(menu.pos(), placed);
    menu.hide();

    // A default item of the menu takes the double click for itself.
    menu.setDefaultAction(item);
    emit native->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(itemClicks, 1);
    EXPECT_EQ(calls.size(), 3u);

    // A handler's exception ends in the standard error report.
    t.icon.OnClick = [](fw::TObject *, fw::TMouseButton, fw::TShiftState, int, int) {
        throw fw::Exception("Sin conexion");
    };
    emit native->activated(QSystemTrayIcon::Trigger);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, fw::DialogKind::Error);
    EXPECT_EQ(dialogs.shown[0].text, "Sin conexion.");
    menu.setDefaultAction(nullptr);
    t.icon.OnDblClick = [](fw::TObject *) { throw fw::Exception("Sin servidor"); };
    emit native->activated(QSystemTrayIcon::DoubleClick);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, "Sin servidor.");
}

TEST(TrayIconImage, EverySizeIsDrawnForItselfAndTheFramesDiffer)
{
    for (const int size : {16, 22, 24, 32, 48}) {
        SCOPED_TRACE(size);
        const QImage still = fw::TrayIconImage(size);
        ASSERT_EQ(still.size(), QSize(size, size));
        // The body fills the middle, the corners stay clear for the tray's own background.
        EXPECT_EQ(qAlpha(still.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(still.pixel(size / 2, size - 3)), 255);
        // The icon hands out the drawing made for the size asked, not a scaled 32-pixel one.
        EXPECT_EQ(fw::TrayIconIcon().pixmap(size, size).toImage().convertToFormat(still.format()), still);
        std::vector<QImage> frames;
        for (int frame = 0; frame < fw::kTrayFrameCount; ++frame) {
            frames.push_back(fw::TrayIconImage(size, frame));
            EXPECT_NE(frames.back(), still);
        }
        EXPECT_NE(frames[0], frames[1]);
        EXPECT_NE(frames[1], frames[2]);
    }
    const QImage small = fw::TrayIconImage(16);
    EXPECT_NE(small, fw::TrayIconImage(32).scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

TEST(AppEvents, MinimiseRestoreAndActivateReachTheHandlers)
{
    testutil::ScriptedDialogs dialogs;
    fw::TForm form("FTest");
    form.SetClientSize(100, 50);
    fw::TAppEvents events(&form, "AppEvents");
    std::vector<std::string> calls;
    events.OnMinimize = [&](fw::TObject *) { calls.push_back("minimize"); };
    events.OnRestore = [&](fw::TObject *) { calls.push_back("restore"); };
    form.Show();
    form.setWindowState(Qt::WindowMinimized);
    form.setWindowState(Qt::WindowMinimized);  // no change, no event
    form.setWindowState(Qt::WindowMaximized);
    form.setWindowState(Qt::WindowNoState);
    EXPECT_EQ(calls, (std::vector<std::string>{"minimize", "restore"}));

    events.OnMinimize = [](fw::TObject *) { throw fw::Exception("Fallo"); };
    form.setWindowState(Qt::WindowMinimized);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Fallo.");
}

TEST(RxPopupMenu, ItemsStandOnePixelRightOfTheStripAndTheMenuIsWiderByIt)
{
    fw::TPopupMenu plain(nullptr, "Plain");
    fw::TRxPopupMenu menu(nullptr, "PopupMenu");
    for (fw::TPopupMenu *m : {&plain, static_cast<fw::TPopupMenu *>(&menu)}) {
        m->Add("Activar1", "Descargar");
        m->Add("N3", "-");
        m->Add("RXWebSite1", "Finalizar");
    }
    for (QAction *item : menu.actions())
        EXPECT_EQ(menu.actionGeometry(item).left(), 31);
    EXPECT_EQ(menu.sizeHint().width(), plain.sizeHint().width() + 31 - plain.actionGeometry(plain.actions()[0]).left());

    std::vector<QRect> drawn;
    menu.OnDrawMargin = [&](fw::TObject *sender, QPainter &canvas, const QRect &rect) {
        EXPECT_EQ(sender, &menu);
        drawn.push_back(rect);
        canvas.fillRect(rect, Qt::red);
    };
    menu.resize(menu.sizeHint());
    const QImage image = menu.grab().toImage();
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(drawn.back(), QRect(0, 0, 30, menu.height()));
    EXPECT_EQ(image.pixelColor(29, menu.height() - 1), QColor(Qt::red));
    EXPECT_NE(image.pixelColor(30, menu.height() / 2), QColor(Qt::red));

    // A strip that cannot be drawn is an error like any other; the menu is still painted.
    testutil::ScriptedDialogs dialogs;
    menu.OnDrawMargin = [](fw::TObject *, QPainter &, const QRect &) { throw fw::Exception("Sin imagen"); };
    EXPECT_FALSE(menu.grab().isNull());
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown[0].text, "Sin imagen.");
}

}  // namespace
