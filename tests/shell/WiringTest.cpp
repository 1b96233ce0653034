// The main form with its settings store, its FTP client and its conversion in place: what a user
// sets outlives the program, the client is set up from it, and "Temp.mdb" becomes the device map.
#include "PralFixture.h"
#include "common/TempDir.h"
#include "framework/Exceptions.h"
#include "shell/Conversion.h"

#include <QFileInfo>

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

TEST_F(PralTest, SettingsOutliveTheFormAndConfigureTheFtpClientAtTheNextStart)
{
    {
        TestPral form;
        form.DoCreate();
        form.Avisadores->SetItemIndex(0);
        form.ComprobarChk->SetChecked(false);
        form.cxTrackBar13->SetPosition(1);
        form.ProxyServerEdit1->SetText("gate:8021");
        form.ProxyPortEdit1->SetValue(21);
        form.ServerTypeRadioGroup->SetItemIndex(1);
    }  // destroyed as at "Salir": the settings are saved on the way out

    TestPral form;
    form.DoCreate();
    EXPECT_EQ(form.Avisadores->ItemIndex(), 0);
    EXPECT_EQ(form.Caption(), "Drovanel - Descargas de actualizaciones 9.3 [Sentry III]");
    EXPECT_EQ(form.checks, 0) << "the unticked start-up check stays off";
    EXPECT_EQ(form.cxTrackBar13->Position(), 1);

    const net::TmsFTPClient &ftp = *form.msFTPClient1;
    EXPECT_EQ(ftp.Host(), TFPral::UpdateHost());
    EXPECT_EQ(ftp.UserName(), "drovanel");
    EXPECT_EQ(ftp.Password(), "61840293k");
    EXPECT_EQ(ftp.Port(), 21);
    EXPECT_FALSE(ftp.PassiveMode());
    EXPECT_EQ(ftp.Proxy(), "gate");
    EXPECT_EQ(ftp.ProxyPort(), 21) << "the port field replaces the port given in the text";
    EXPECT_EQ(ftp.ProxyType(), net::fpProxyOpen);
}

class TransformarTest : public PralTest {
protected:
    void SetUp() override
    {
        PralTest::SetUp();
        fw::SetCurrentDir(folder.path());
        form.DirectoryEdit1->SetText(folder.path());
        form.Avisadores->SetItemIndex(1);  // Watcher, every level at "Máx"
    }
    std::string download() const { return folder.file(shell::kDownloadFileName); }

    testutil::TempDir folder;
    TestPral form;
};

TEST_F(TransformarTest, ConvertsTheDownloadShowsTheClosingMessageAndDeletesIt)
{
    WriteFile(download(), "574C header\r\n12345678901234A1tail\r\nshort\r\n12345678901234B8\r\n");
    form.Estado.SetLocal("Watcher-070101.mdb");
    form.Transformar(folder.path());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, shell::MapReceivedText());
    EXPECT_EQ(ReadFile(folder.file("Watcher-070101.mdb")), "574C header\r\n12345678901234A1tail\r\n");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(download())));
}

TEST_F(TransformarTest, RefusalsKeepTheDownloadAndThePreviousMap)
{
    struct Case {
        const char *name;
        std::string destination;
        std::string source;   // empty: no download at all
        std::string message;  // empty: an I/O error leaves Transformar
    } const cases[] = {
        {"destination without .mdb", "Watcher-070101.txt", "574C\r\n", shell::InvalidDestinationNameText()},
        {"invalid header", "Watcher-070101.mdb", "574c\r\n12345678901234A1\r\n", shell::InvalidPointsFileText()},
        {"no download", "Watcher-070101.mdb", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.shown.clear();
        std::remove(download().c_str());
        if (!c.source.empty())
            WriteFile(download(), c.source);
        WriteFile(folder.file(c.destination), "previous map\r\n");
        form.Estado.SetLocal(c.destination);
        if (c.message.empty()) {
            EXPECT_THROW(form.Transformar(folder.path()), fw::EInOutError);
            EXPECT_TRUE(dialogs.shown.empty());
        } else {
            form.Transformar(folder.path());
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].text, c.message);
        }
        EXPECT_EQ(ReadFile(folder.file(c.destination)), "previous map\r\n");
        EXPECT_EQ(QFileInfo::exists(QString::fromStdString(download())), !c.source.empty());
    }
}

TEST(SinVel, ReplacesTheAlertCharacterAndDropsTheTail)
{
    EXPECT_EQ(TFPral::SinVel("12345678901234A5tail"), "123456789012340"
                                                      "5");
}

}  // namespace
