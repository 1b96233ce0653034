// The main form in the notification area: the tray icon's clicks and menu, hiding and minimising
// with and without an icon in the area, ending through the tray menu and the main menu, the drawn
// strip of the tray menu, and the animation during real transfers.
#include "PralFixture.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "fixtures/PyFtpServer.h"
#include "fixtures/ScriptedFtpServer.h"
#include "framework/Exceptions.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QMenu>
#include <algorithm>

namespace {

using testutil::ReadFile;
using testutil::ScriptedFtpServer;

// A form started with a download folder, so that no first-run question comes in between.
class TrayTest : public PralTest {
protected:
    void SetUp() override
    {
        PralTest::SetUp();
        form = std::make_unique<TestPral>();
        form->DirectoryEdit1->SetText(maps.path());
    }
    void TearDown() override
    {
        form.reset();
        PralTest::TearDown();
    }
    void click(QSystemTrayIcon::ActivationReason reason) { emit form->RxTrayIcon1->NativeIcon()->activated(reason); }
    std::string registry() const { return ReadFile(home() + "/.config/drovanel/registry.reg"); }

    testutil::TempDir maps;
    std::unique_ptr<TestPral> form;
};

TEST_F(TrayTest, TheIconIsInTheAreaBeforeTheStartUpAndStillAfterIt)
{
    EXPECT_TRUE(form->RxTrayIcon1->Added()) << "added when the window is built";
    EXPECT_TRUE(form->RxTrayIcon1->Animated()) << "as built";
    form->DoCreate();
    EXPECT_TRUE(form->RxTrayIcon1->Added());
    EXPECT_FALSE(form->RxTrayIcon1->Animated());
    EXPECT_EQ(form->RxTrayIcon1->ShownImage(), -1);
    EXPECT_EQ(form->RxTrayIcon1->NativeIcon()->toolTip(), QStringLiteral("Drovanel"));
    EXPECT_EQ(form->RxTrayIcon1->Interval(), 150);
    EXPECT_EQ(form->RxTrayIcon1->Icons().size(), 3);

    std::vector<std::string> captions;
    for (QAction *item : form->PopupMenu->actions())
        captions.push_back(item->isSeparator() ? "-" : item->text().toStdString());
    EXPECT_EQ(captions,
              (std::vector<std::string>{"Descargar", "Pausa", "", "", "", "", "Comprobar ahora", "-", "Finalizar"}));
    for (QAction *item : form->PopupMenu->actions())
        EXPECT_FALSE(item->isCheckable());
}

TEST_F(TrayTest, OcultarThenATrayClickBringsBackTheWindowWithTheStoredSettings)
{
    form->DoCreate();
    ASSERT_TRUE(form->Visible());
    form->Avisadores->SetItemIndex(0);
    form->FormStorage1->Save();         // Sentry III is what is stored
    form->Avisadores->SetItemIndex(2);  // changed, never saved
    form->Ocultar1->Click();
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->isMinimized());

    click(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(form->Avisadores->ItemIndex(), 0) << "every showing restores the stored settings";
    EXPECT_TRUE(form->AppEvents->ShowMainForm);
}

TEST_F(TrayTest, ADoubleClickDoesWhatOneClickDoesAndTheRightButtonOpensTheMenu)
{
    form->DoCreate();
    form->Ocultar1->Click();
    // The first click of a double click is a click of its own; the double click adds nothing.
    click(QSystemTrayIcon::Trigger);
    click(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(form->PopupMenu->isVisible());
    EXPECT_TRUE(dialogs.shown.empty());

    form->Ocultar1->Click();
    click(QSystemTrayIcon::Context);
    EXPECT_TRUE(form->PopupMenu->isVisible());
    EXPECT_FALSE(form->Visible()) << "the menu alone shows no window";
    form->PopupMenu->hide();
}

TEST_F(TrayTest, DescargarShowsTheWindowAndStartsNothingPausaAndTheBlankRowsDoNothing)
{
    ScriptedFtpServer server;
    form->DoCreate();
    form->msFTPClient1->SetHost("127.0.0.1");
    form->msFTPClient1->SetPort(server.Port());
    const int checks = form->checks;
    form->Ocultar1->Click();

    const auto items = form->PopupMenu->actions();
    for (int row = 1; row <= 5; ++row)
        items[row]->trigger();
    EXPECT_FALSE(form->Visible());

    form->Activar1->Click();
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(form->checks, checks) << "no update check";
    EXPECT_TRUE(form->cxButton1->isEnabled());
    EXPECT_FALSE(form->FConectado());
    fw::Application().ProcessMessages();
    EXPECT_TRUE(server.Lines().empty()) << "nothing was said to the server";
    EXPECT_TRUE(dialogs.shown.empty());
}

// Logs the form's FTP client in to the scripted server, as a check would have.
void logIn(TestPral &form, const ScriptedFtpServer &server)
{
    form.msFTPClient1->SetHost("127.0.0.1");
    form.msFTPClient1->SetPort(server.Port());
    form.msFTPClient1->Login();
}

TEST_F(TrayTest, FinalizarSendsQuitSavesAndEndsTheProgram)
{
    ScriptedFtpServer server;
    form->DoCreate();
    logIn(*form, server);
    form->Avisadores->SetItemIndex(0);
    form->RXWebSite1->Click();
    EXPECT_EQ(server.Lines().back(), "QUIT");
    EXPECT_TRUE(fw::Application().Terminated());
    EXPECT_FALSE(form->Visible());
    EXPECT_NE(registry().find("\"Avisadores_ItemIndex\"=\"0\""), std::string::npos) << registry();
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(TrayTest, ARefusedQuitKeepsTheWindowOpenAndSavesNothing)
{
    ScriptedFtpServer server;
    server.Answer("QUIT", "500 Not now\r\n");
    form->DoCreate();
    logIn(*form, server);
    const std::string before = registry();
    form->Avisadores->SetItemIndex(0);
    form->RXWebSite1->Click();
    EXPECT_EQ(server.Lines().back(), "QUIT");
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(fw::Application().Terminated());
    EXPECT_EQ(registry(), before);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, fw::DialogKind::Error);
    EXPECT_EQ(dialogs.shown[0].text, "500 Not now.");
}

// "Comprobar ahora", from the tray menu or from "Opciones": the check at once; held back while a
// command runs or a dialog waits for its answer, and run as soon as the program is free.
TEST_F(TrayTest, ComprobarAhoraChecksAtOnceOrOnceTheProgramIsFree)
{
    form->DoCreate();
    // No re-check of the schedule's may count among the checks asked for here.
    form->ComprobarChk->SetChecked(false);
    const struct {
        const char *name;
        fw::TMenuItem *item;
    } items[] = {{"tray menu", form->ComprobarAhora2}, {"Opciones", form->ComprobarAhora1}};
    for (const auto &c : items) {
        SCOPED_TRACE(c.name);
        int checks = form->checks;
        c.item->Click();
        EXPECT_EQ(form->checks, checks + 1);
        EXPECT_FALSE(form->ComprobacionPendiente());

        // A command holds the FTP client: the check waits for its end.
        checks = form->checks;
        {
            const shell::CommandRunner::Work busy(form->Commands());
            c.item->Click();
            fw::Application().ProcessMessages();
            EXPECT_EQ(form->checks, checks);
            EXPECT_TRUE(form->ComprobacionPendiente());
        }
        EXPECT_TRUE(testutil::PumpUntil([&] { return form->checks == checks + 1; }));
        EXPECT_FALSE(form->ComprobacionPendiente());

        // A dialog waits for the user's answer: the check comes once it is closed.
        checks = form->checks;
        {
            QDialog question(form.get());
            question.open();
            ASSERT_EQ(QApplication::activeModalWidget(), &question);
            c.item->Click();
            fw::Application().ProcessMessages();
            EXPECT_EQ(form->checks, checks);
        }
        EXPECT_TRUE(testutil::PumpUntil([&] { return form->checks == checks + 1; }));
    }
}

// "Salir" and "Finalizar" with settings that cannot be written: the error shows as "Guardar" shows
// it, before the program ends, and the program ends all the same.
TEST_F(TrayTest, EndingWithUnwritableSettingsShowsTheError)
{
    const struct {
        const char *name;
        std::function<void(TestPral &)> end;
    } cases[] = {
        {"Salir", [](TestPral &f) { f.Salir1->Click(); }},
        {"Finalizar", [](TestPral &f) { f.RXWebSite1->Click(); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fw::Application().ResetTerminated();
        form = std::make_unique<TestPral>();
        form->DirectoryEdit1->SetText(maps.path());
        form->DoCreate();
        dialogs.shown.clear();
        // The registry file's folder is a plain file now: no user, not even the superuser, can
        // write the settings there.
        const std::string blocked = maps.path() + "/blocked";
        testutil::WriteFile(blocked, "");
        ASSERT_TRUE(platform::RegistryUseFile(QString::fromStdString(blocked + "/registry.reg")));
        form->Avisadores->SetItemIndex(0);
        // What "Guardar" shows now.
        form->cxButton3->Click();
        ASSERT_EQ(dialogs.shown.size(), 1u);
        ASSERT_EQ(dialogs.shown[0].kind, fw::DialogKind::Error);
        EXPECT_FALSE(fw::Application().Terminated());

        c.end(*form);
        EXPECT_TRUE(fw::Application().Terminated());
        ASSERT_EQ(dialogs.shown.size(), 2u);
        EXPECT_EQ(dialogs.shown[1].kind, fw::DialogKind::Error);
        EXPECT_EQ(dialogs.shown[1].text, dialogs.shown[0].text);
        ::testing::internal::CaptureStderr();
        form.reset();
        ::testing::internal::GetCapturedStderr();
        platform::RegistryUseFile(QString());
    }
}

TEST_F(TrayTest, SalirSendsNothingAndSavesAsTheWindowGoes)
{
    ScriptedFtpServer server;
    form->DoCreate();
    logIn(*form, server);
    const auto said = server.Lines().size();
    form->Avisadores->SetItemIndex(0);
    form->Salir1->Click();
    EXPECT_TRUE(fw::Application().Terminated());
    form.reset();
    EXPECT_EQ(server.Lines().size(), said) << "no QUIT";
    EXPECT_NE(registry().find("\"Avisadores_ItemIndex\"=\"0\""), std::string::npos);
    EXPECT_NE(registry().find("\"Visible\"=\"1\""), std::string::npos);
}

TEST_F(TrayTest, MinimisedTheWindowGoesIntoTheTrayAndComesBackAsItWas)
{
    form->DoCreate();
    form->Avisadores->SetItemIndex(2);  // not saved: a restore from the tray keeps it
    form->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(form->TaskbarEntryHidden());
    EXPECT_FALSE(form->Visible());

    click(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(form->TaskbarEntryHidden());
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(form->Avisadores->ItemIndex(), 2);
}

// The tray menu's "Descargar" brings the window back however it went away, as a click on the icon
// does: in its normal state, shown, with its taskbar entry.
TEST_F(TrayTest, DescargarBringsBackTheWindowHoweverItWentAway)
{
    struct Case {
        const char *name;
        void (*away)(TestPral &);
    } const cases[] = {
        {"minimised into the tray", [](TestPral &f) { f.setWindowState(Qt::WindowMinimized); }},
        {"hidden with Ocultar", [](TestPral &f) { f.Ocultar1->Click(); }},
        {"minimised and then hidden",
         [](TestPral &f) {
             f.setWindowState(Qt::WindowMinimized);
             f.Ocultar1->Click();
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        form.reset();
        form = std::make_unique<TestPral>();
        form->DirectoryEdit1->SetText(maps.path());
        form->DoCreate();
        ASSERT_TRUE(form->Visible());
        c.away(*form);
        ASSERT_FALSE(form->Visible());

        form->Activar1->Click();
        EXPECT_TRUE(form->Visible());
        EXPECT_FALSE(form->isMinimized());
        EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);
        EXPECT_FALSE(form->TaskbarEntryHidden());
        EXPECT_TRUE(form->AppEvents->ShowMainForm);
    }
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(TrayTest, WithoutANotificationAreaTheWindowStaysReachable)
{
    tray.Set(false);
    TestPral bare;
    bare.DirectoryEdit1->SetText(maps.path());
    EXPECT_FALSE(bare.RxTrayIcon1->Added());

    // Ocultar minimises instead of hiding; minimising keeps the taskbar entry.
    bare.DoCreate();
    bare.Ocultar1->Click();
    EXPECT_TRUE(bare.Visible());
    EXPECT_TRUE(bare.isMinimized());
    EXPECT_FALSE(bare.TaskbarEntryHidden());
    EXPECT_TRUE(dialogs.shown.empty());

    // A tray host starts: the next change of the image brings the icon in, and from then on
    // Ocultar hides.
    tray.Set(true);
    bare.RxTrayIcon1->SetAnimated(true);
    bare.RxTrayIcon1->SetAnimated(false);
    EXPECT_TRUE(bare.RxTrayIcon1->Added());
    click(QSystemTrayIcon::Trigger);  // a click on the other form's icon changes nothing here
    bare.SetWindowStateNormal();
    bare.Ocultar1->Click();
    EXPECT_FALSE(bare.Visible());
}

TEST_F(TrayTest, AMinimisedStartShowsOnlyTheIconOrTheMinimisedWindowWithoutOne)
{
    form->Minimizar->SetChecked(true);
    form->DoCreate();
    EXPECT_FALSE(form->Visible());
    click(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(form->isMinimized());
    form->RXWebSite1->Click();  // saves "Ejecutar aplicación minimizada"
    form.reset();

    tray.Set(false);
    fw::Application().ResetTerminated();
    TestPral again;
    again.DoCreate();
    ASSERT_TRUE(again.Minimizar->Checked());
    EXPECT_TRUE(again.Visible());
    EXPECT_TRUE(again.isMinimized());
}

TEST_F(TrayTest, ASecondStartBringsTheWindowForward)
{
    form->Minimizar->SetChecked(true);
    form->DoCreate();
    ASSERT_FALSE(form->Visible());
    form->ActivateFromSecondStart();
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(form->isMinimized());
}

// ---- The drawn strip of the tray menu

bool isWhite(const QColor &c)
{
    return c.red() == 255 && c.green() == 255 && c.blue() == 255;
}

TEST_F(TrayTest, TheMenuStripIsAGreenGradientWithEdgeLinesAndTheNameReadingUpwards)
{
    fw::TRxPopupMenu &menu = *form->PopupMenu;
    menu.resize(menu.sizeHint());
    const QImage image = menu.grab().toImage();
    const int h = image.height();
    ASSERT_GE(h, 64);
    const int bands = std::min(32, h);
    const int bandHeight = h / bands;

    // Column 26 is the gradient's last, clear of the text.
    EXPECT_EQ(image.pixelColor(26, 0), QColor(0, 255, 0));
    for (int i = 0; i < bands; ++i) {
        const QColor expected(0, 255 + (63 - 255) * i / (bands - 1), 0);
        EXPECT_EQ(image.pixelColor(26, i * bandHeight), expected) << "band " << i;
        EXPECT_EQ(image.pixelColor(26, i * bandHeight + bandHeight - 1), expected) << "band " << i;
    }
    for (int y = bands * bandHeight; y < h; ++y)
        EXPECT_EQ(image.pixelColor(26, y), QColor(0, 63, 0)) << "left-over row " << y;
    EXPECT_EQ(image.pixelColor(0, h - 1), QColor(0, 63, 0));

    // The two edge lines over the whole height.
    for (const int y : {0, h / 2, h - 1}) {
        EXPECT_EQ(image.pixel(28, y), menu.palette().color(QPalette::Dark).rgb()) << y;
        EXPECT_EQ(image.pixel(29, y), menu.palette().color(QPalette::Light).rgb()) << y;
    }

    // White text: only in the lower part of the strip, from 5 pixels above the bottom upwards,
    // no longer than the name.
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    font.setBold(true);
    const int length = QFontMetrics(font).horizontalAdvance(QStringLiteral("Drovanel GPS"));
    ASSERT_LT(length + 5, h);
    int white = 0, top = h, bottom = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < 27; ++x) {
            if (isWhite(image.pixelColor(x, y))) {
                ++white;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    EXPECT_GT(white, 30);
    EXPECT_LE(bottom, h - 5);
    EXPECT_GE(top, h - 5 - length - 1);
    EXPECT_LT(bottom - top, length + 1);

    // The items start one pixel right of the strip.
    for (QAction *item : menu.actions())
        EXPECT_EQ(menu.actionGeometry(item).left(), 31);
}

// ---- The animation during real transfers

// The form's FTP client with the tray animation switched by the transfer events, and every image
// the icon shows recorded.
struct AnimatedTransfer {
    explicit AnimatedTransfer(TestPral &form) : form(form)
    {
        QObject::connect(form.RxTrayIcon1, &fw::TRxTrayIcon::ImageShown, [this](int image) { shown.push_back(image); });
        form.msFTPClient1->OnDataTransferStart = [&form](fw::TObject *) { form.RxTrayIcon1->SetAnimated(true); };
        form.msFTPClient1->OnDataTransferTerminate = [&form](fw::TObject *) { form.RxTrayIcon1->SetAnimated(false); };
        form.msFTPClient1->OnDataTransferProgress = [this](fw::TObject *, std::int32_t) {
            // The transfer goes on once the icon has shown every frame and the first again.
            if (!cycled)
                cycled = testutil::PumpUntil([this] { return shown.size() >= 4; }, 5000);
        };
    }
    TestPral &form;
    std::vector<int> shown;
    bool cycled = false;
};

TEST_F(TrayTest, DuringARealTransferTheIconShowsItsFramesAndAfterItTheStaticImage)
{
    testutil::TempDir root;
    testutil::WriteFile(root.file("Watcher-070101.mdb"), std::string(256 * 1024, 'x'));
    const testutil::PyFtpServer server(root.path(), "drovanel", "61840293k");
    ASSERT_NE(server.Port(), 0);
    form->DoCreate();
    form->msFTPClient1->SetHost("127.0.0.1");
    form->msFTPClient1->SetPort(server.Port());
    form->msFTPClient1->Login();

    AnimatedTransfer transfer(*form);
    form->msFTPClient1->RetrieveFile("Watcher-070101.mdb", maps.file("temp.mdb"));
    EXPECT_TRUE(transfer.cycled);
    ASSERT_GE(transfer.shown.size(), 5u);
    EXPECT_EQ(std::vector<int>(transfer.shown.begin(), transfer.shown.begin() + 4), (std::vector<int>{0, 1, 2, 0}));
    EXPECT_EQ(transfer.shown.back(), -1);
    EXPECT_FALSE(form->RxTrayIcon1->Animated());
    EXPECT_EQ(ReadFile(maps.file("temp.mdb")).size(), 256u * 1024);

    // A transfer that fails once its data socket exists ends on the static image too.
    transfer.shown.clear();
    EXPECT_THROW(form->msFTPClient1->RetrieveFile("missing.mdb", maps.file("temp.mdb")), net::EmsServerError);
    ASSERT_FALSE(transfer.shown.empty());
    EXPECT_EQ(transfer.shown.front(), 0);
    EXPECT_EQ(transfer.shown.back(), -1);
    EXPECT_FALSE(form->RxTrayIcon1->Animated());
}

// A server that sends the first bytes of the map and then holds the transfer until the icon has
// shown every frame and the first again, while the client waits in its own receiving loop; then it
// completes the transfer or breaks it off.
TEST_F(TrayTest, TheFramesTurnWhileTheClientWaitsForASlowServerAndStopWhenTheTransferEnds)
{
    form->DoCreate();
    struct Case {
        const char *name;
        bool completes;
    } const cases[] = {{"complete", true}, {"broken off", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::Gate framesSeen;  // outlives the server's thread, which may wait on it
        ScriptedFtpServer server;
        server.On("RETR", [&](testutil::FtpSession &s, const std::string &) {
            s.Reply("150 Opening BINARY mode data connection");
            const int data = s.OpenData();
            if (data >= 0)
                testutil::SendAll(data, "574C\r\n");
            framesSeen.WaitFor(std::chrono::seconds(10));
            if (c.completes && data >= 0)
                testutil::SendAll(data, "12345678901234A1\r\n");
            s.CloseData();
            s.Reply(c.completes ? "226 Transfer complete" : "426 Connection closed; transfer aborted.");
        });
        logIn(*form, server);
        std::vector<int> shown;
        const auto link = QObject::connect(form->RxTrayIcon1, &fw::TRxTrayIcon::ImageShown, [&](int image) {
            shown.push_back(image);
            if (shown.size() == 4)
                framesSeen.Open();
        });
        form->msFTPClient1->OnDataTransferStart = [this](fw::TObject *) { form->RxTrayIcon1->SetAnimated(true); };
        form->msFTPClient1->OnDataTransferTerminate = [this](fw::TObject *) { form->RxTrayIcon1->SetAnimated(false); };
        if (c.completes)
            form->msFTPClient1->RetrieveFile("Watcher-070101.mdb", maps.file("temp.mdb"));
        else
            EXPECT_THROW(form->msFTPClient1->RetrieveFile("Watcher-070101.mdb", maps.file("temp.mdb")),
                         net::EmsServerError);
        QObject::disconnect(link);
        ASSERT_GE(shown.size(), 5u);
        EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + 4), (std::vector<int>{0, 1, 2, 0}));
        EXPECT_EQ(shown.back(), -1);
        EXPECT_FALSE(form->RxTrayIcon1->Animated());
        form->msFTPClient1->Disconnect();
    }
}

}  // namespace
