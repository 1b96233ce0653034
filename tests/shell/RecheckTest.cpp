// The program while it stays resident, against a real FTP server: the re-checks at the stored
// interval, the notification of each newly published map (once a run), the news of each map
// opened once, the tooltip, and the rules that keep a re-check out of the user's way.
#include "RoadFixture.h"
#include "common/Pump.h"
#include "common/TempDir.h"
#include "fixtures/PyFtpServer.h"
#include "fixtures/UpdateServerTree.h"
#include "framework/Dialogs.h"
#include "settings/Placemnt.h"
#include "shell/RecheckSchedule.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QSignalSpy>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace {

using roadtest::RoadTest;
using testutil::PumpUntil;
using testutil::WriteFile;

const std::string kPassword = "61840293k";
const std::string kFirst = "Watcher-261201.mdb";
const std::string kSecond = "Watcher-261215.mdb";
const std::string kProxyUser = "drovanel@" + TFPral::UpdateHost();

// Writes the re-check interval where the user would: a value of the main form's key.
std::function<void(TFPral &)> StoredInterval(const std::string &text)
{
    return [text](TFPral &f) {
        settings::TStoreKey key(platform::HKEY_CURRENT_USER, f.FormStorage1->KeyPath());
        key.WriteString(f.FormStorage1->SectionName(), shell::kRecheckIntervalName, text);
    };
}

struct IntervalCase {
    const char *name;
    const char *stored;  // nullptr: no value
    int minutes;
};

void PrintTo(const IntervalCase &c, std::ostream *os)
{
    *os << c.name;
}

class RecheckInterval : public RoadTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(RecheckInterval, IsReadWithTheSettings)
{
    const IntervalCase &c = GetParam();
    Start(c.stored ? StoredInterval(c.stored) : std::function<void(TFPral &)>{});
    EXPECT_EQ(form->FIntervaloComprobacion, c.minutes);
    EXPECT_EQ(form->RecheckTimer()->isActive(), c.minutes > 0);
    EXPECT_EQ(form->Rechecks().IntervalMinutes(), c.minutes);
    EXPECT_EQ(form->Rechecks().NextDue().has_value(), c.minutes > 0);
}

INSTANTIATE_TEST_SUITE_P(Values, RecheckInterval,
                         ::testing::Values(IntervalCase{"Missing", nullptr, 1440}, IntervalCase{"OneMinute", "1", 1},
                                           IntervalCase{"Spaces", " 30 ", 30}, IntervalCase{"Off", "0", 0},
                                           IntervalCase{"Negative", "-5", 1440},
                                           IntervalCase{"NotANumber", "hourly", 1440},
                                           IntervalCase{"LongestTimer", "35791", 35791},
                                           IntervalCase{"PastTheTimer", "35792", 1440},
                                           IntervalCase{"PastAnInteger", "99999999999", 1440}),
                         [](const auto &info) { return std::string(info.param.name); });

class Resident : public RoadTest {
protected:
    void SetUp() override
    {
        RoadTest::SetUp();
        // The re-checks' clock is the test's: a tick moves it on to the check that is due.
        shell::SetRecheckClock([this] { return now; });
        tree.Publish(kFirst, "574C first\r\n");
        tree.News("Noticias\r\n");
        WriteFile(local("Watcher-010101.mdb"), "");
    }
    void TearDown() override
    {
        RoadTest::TearDown();
        shell::SetRecheckClock({});
    }

    // Started into the tray with the start-up check on (through the proxy setting: the start-up
    // check runs before a test could point the client anywhere).
    void StartResident(std::uint16_t port)
    {
        Start([this, port](TFPral &f) {
            f.Avisadores->SetItemIndex(1);
            ThroughProxy(port, true)(f);
            notices = std::make_unique<QSignalSpy>(f.RxTrayIcon1, &fw::TRxTrayIcon::MessageShown);
            // After the form's own handler of the tick, so a count means that tick is over.
            QObject::connect(f.RecheckTimer(), &QTimer::timeout, &f, [this] { ++ticks; });
        });
    }
    // The clock on to the next check due, and the timer fired at once.
    void Due()
    {
        const std::optional<QDateTime> due = form->Rechecks().NextDue();
        ASSERT_TRUE(due.has_value());
        now = std::max(now, *due);
        form->RecheckTimer()->start(0);
    }
    // One tick of the re-check timer, as the schedule would bring it.
    void Tick()
    {
        const int before = ticks;
        Due();
        EXPECT_TRUE(PumpUntil([&] { return ticks > before; }));
    }
    QString notice(qsizetype i) const { return notices->at(i).at(1).toString(); }
    static QString NewMap(const std::string &name) { return QString::fromStdString("Existe nuevo mapa: " + name); }

    testutil::TempDir serverRoot;
    testutil::UpdateServerTree tree{serverRoot.path()};
    std::unique_ptr<QSignalSpy> notices;
    int ticks = 0;
    QDateTime now = QDateTime::currentDateTimeUtc();
};

TEST_F(Resident, EachNewMapIsToldOnceAndItsNewsOpenedOnce)
{
    testutil::PyFtpServer server(serverRoot.path(), kProxyUser, kPassword);
    ASSERT_NE(server.Port(), 0);
    StartResident(server.Port());
    // The start-up check: the mark, the tooltip, the notification and the news.
    EXPECT_TRUE(form->Image2->Visible());
    EXPECT_EQ(form->RxTrayIcon1->Hint(), "Drovanel - " + NewMap(kFirst));
    ASSERT_EQ(notices->size(), 1);
    EXPECT_EQ(notices->at(0).at(0).toString(), "Drovanel");
    EXPECT_EQ(notice(0), NewMap(kFirst));
    EXPECT_EQ(opened.size(), 1u);

    // Nothing new on the server: no second notification, no news again.
    Tick();
    EXPECT_EQ(notices->size(), 1);
    EXPECT_EQ(opened.size(), 1u);

    // A map published while the program runs is found by the next tick.
    tree.Publish(kSecond, "574C second\r\n");
    Tick();
    EXPECT_EQ(form->Label4->Caption(), kSecond);
    EXPECT_EQ(form->RxTrayIcon1->Hint(), "Drovanel - " + NewMap(kSecond));
    ASSERT_EQ(notices->size(), 2);
    EXPECT_EQ(notice(1), NewMap(kSecond));
    EXPECT_EQ(opened.size(), 2u);
    Tick();
    EXPECT_EQ(notices->size(), 2);
    EXPECT_EQ(opened.size(), 2u);

    // Downloaded: the tooltip names no map any more, only the last check, and later ticks tell
    // nothing.
    form->cxButton1->Click();
    EXPECT_EQ(errors(), std::vector<std::string>{});
    EXPECT_FALSE(form->Image2->Visible());
    ASSERT_TRUE(form->FUltimaComprobacion.has_value());
    EXPECT_EQ(form->RxTrayIcon1->Hint(), QString::fromStdString(shell::LastCheckHint(*form->FUltimaComprobacion)));
    Tick();
    EXPECT_FALSE(form->Image2->Visible());
    EXPECT_EQ(form->RxTrayIcon1->Hint(), QString::fromStdString(shell::LastCheckHint(now)));
    EXPECT_EQ(notices->size(), 2);
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(Resident, ATickWaitsWhileTheUserOrTheNetworkIsBusy)
{
    testutil::PyFtpServer server(serverRoot.path(), kProxyUser, kPassword);
    ASSERT_NE(server.Port(), 0);
    StartResident(server.Port());
    tree.Publish(kSecond, "574C second\r\n");

    // A dialog waits for the user's answer: no check under it.
    {
        QDialog question(form.get());
        question.open();
        ASSERT_EQ(QApplication::activeModalWidget(), &question);
        Tick();
        EXPECT_EQ(form->Label4->Caption(), kFirst);
    }
    // The start-up check unticked: no re-check either.
    form->ComprobarChk->SetChecked(false);
    Tick();
    EXPECT_EQ(form->Label4->Caption(), kFirst);
    form->ComprobarChk->SetChecked(true);

    // Ticks that come while the download runs find the client busy and leave it alone: every
    // listing and transfer of the download is the download's own.
    std::vector<bool> rechecking;
    form->msFTPClient1->OnDataTransferStart = [this, &rechecking,
                                               start = form->msFTPClient1->OnDataTransferStart](fw::TObject *sender) {
        rechecking.push_back(form->Recomprobando());
        start(sender);
    };
    Due();
    const int before = ticks;
    form->cxButton1->Click();
    EXPECT_GT(ticks, before) << "no tick came during the download";
    EXPECT_EQ(rechecking, std::vector<bool>({false})) << "a transfer other than the map's";
    EXPECT_EQ(errors(), std::vector<std::string>{});

    // Free again: a tick checks.
    Tick();
    ASSERT_GT(rechecking.size(), 1u);
    EXPECT_TRUE(rechecking.back());
}

TEST_F(Resident, AFailedRecheckWritesALineAndTriesAgainLater)
{
    auto server = std::make_unique<testutil::PyFtpServer>(serverRoot.path(), kProxyUser, kPassword);
    ASSERT_NE(server->Port(), 0);
    StartResident(server->Port());
    const size_t dialogsBefore = dialogs.shown.size();
    server.reset();  // the server goes away; the control connection with it

    for (int attempt = 0; attempt < 2; ++attempt) {
        ::testing::internal::CaptureStderr();
        Tick();
        const std::string written = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(written.rfind("drovanel: la comprobación de mapas nuevos ha fallado: ", 0), 0u) << written;
        EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1) << written;
    }
    EXPECT_EQ(dialogs.shown.size(), dialogsBefore) << "a re-check showed a dialog";
    EXPECT_TRUE(form->cxButton1->Enabled());
    EXPECT_TRUE(form->RecheckTimer()->isActive());
    // Tried again soon, not a whole interval later: the second failure waits two minutes.
    EXPECT_TRUE(form->Rechecks().RetryPending());
    EXPECT_EQ(form->Rechecks().NextDue(), now.addSecs(2 * 60));
    EXPECT_EQ(form->StatusBar1->PanelText(0), shell::kCheckFailedText);
    EXPECT_EQ(form->cxProgressBar2->Position(), 0);
}

TEST_F(Resident, WithoutANotificationAreaTheMarkIsAllThereIs)
{
    tray.Set(false);
    testutil::PyFtpServer server(serverRoot.path(), kProxyUser, kPassword);
    ASSERT_NE(server.Port(), 0);
    StartResident(server.Port());
    EXPECT_TRUE(form->Image2->Visible());
    EXPECT_EQ(notices->size(), 0);
    EXPECT_EQ(errors(), std::vector<std::string>{});
}

// A successful check is stored as the main form's "UltimaComprobacion" and shown on the status bar
// and in the tooltip; the next start plans its first re-check from it instead of checking at once.
TEST_F(Resident, TheLastSuccessIsStoredShownAndPlansTheNextStart)
{
    {
        testutil::PyFtpServer server(serverRoot.path(), kProxyUser, kPassword);
        ASSERT_NE(server.Port(), 0);
        StartResident(server.Port());
        form->cxButton1->Click();  // the map in place: the tooltip has no map to name
        ASSERT_FALSE(form->Image2->Visible());
        now = now.addSecs(600);
        Tick();
        EXPECT_EQ(form->FUltimaComprobacion, now);
        EXPECT_EQ(form->StatusBar1->PanelText(0), shell::LastCheckStatusText(now));
        EXPECT_EQ(form->RxTrayIcon1->Hint(), QString::fromStdString(shell::LastCheckHint(now)));
        settings::TStoreKey key(platform::HKEY_CURRENT_USER, form->FormStorage1->KeyPath());
        EXPECT_EQ(key.ReadString(form->FormStorage1->SectionName(), shell::kLastCheckName, ""),
                  shell::LastCheckText(now));
        form->ComprobarChk->SetChecked(false);  // saved so as the program ends
        form.reset();
    }
    // An hour later the program starts again, with no server and the start-up check off: the last
    // check is shown at once and the first re-check waits for the interval from it.
    const QDateTime stored = now.addMSecs(-now.time().msec());
    now = now.addSecs(3600);
    Start();
    EXPECT_EQ(form->FUltimaComprobacion, stored);
    EXPECT_EQ(form->StatusBar1->PanelText(0), shell::LastCheckStatusText(stored));
    EXPECT_EQ(form->RxTrayIcon1->Hint(), QString::fromStdString(shell::LastCheckHint(stored)));
    const std::optional<QDateTime> due = form->Rechecks().NextDue();
    ASSERT_TRUE(due.has_value());
    EXPECT_GE(*due, stored.addSecs(form->FIntervaloComprobacion * 60));
}

// A re-check works in the download folder as last saved: a folder typed on the page "Config" but
// not saved gets nothing, and the news and the notification of a new map reach the real folder.
TEST_F(Resident, ARecheckUsesTheSavedFolderNotTheTypedOne)
{
    testutil::PyFtpServer server(serverRoot.path(), kProxyUser, kPassword);
    ASSERT_NE(server.Port(), 0);
    StartResident(server.Port());
    ASSERT_EQ(opened.size(), 1u);
    testutil::TempDir typed;
    form->DirectoryEdit1->SetText(typed.path());

    tree.Publish(kSecond, "574C second\r\n");
    Tick();
    EXPECT_EQ(errors(), std::vector<std::string>{});
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1].path, local("news.txt"));
    EXPECT_TRUE(QDir(QString::fromStdString(typed.path())).isEmpty()) << "the typed folder was written";
    ASSERT_EQ(notices->size(), 2);
    EXPECT_EQ(notice(1), NewMap(kSecond));

    // Saved: from then on the re-checks work there.
    WriteFile(typed.file("Watcher-010101.mdb"), "");
    form->GuardarClick(nullptr);
    tree.Publish("Watcher-261231.mdb", "574C third\r\n");
    Tick();
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[2].path, typed.path() + "/news.txt");
}

}  // namespace
