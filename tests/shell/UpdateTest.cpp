// The whole road against a real FTP server: pyftpdlib serving a folder laid out as the update
// server, reached straight and through the proxy setting. Check, news, download, melody and the
// map converted for the device.
#include "RoadFixture.h"
#include "common/TempDir.h"
#include "fixtures/PyFtpServer.h"
#include "fixtures/UpdateServerTree.h"
#include "shell/Conversion.h"

#include <QFileInfo>

namespace {

using roadtest::RoadTest;
using testutil::ReadFile;
using testutil::WriteFile;

const std::string kNewest = "Watcher-090101.mdb";
const std::string kNews = "Nuevo mapa de puntos\r\nCon las \xe1reas nuevas.\r\n";
const std::string kPassword = "61840293k";

// One block of points of the five first types, and what the Watcher makes of it with the levels
// set below: type 1 "Máx" kept whole, type 2 "Min" sound only, type 3 "Med" without the speed
// check, type 4 "Sin" left out, type 5 "Máx" kept; the short line has no type.
const std::string kRecords = "-0312345+40412V1,120,A-6\r\n"
                             "-0312346+40413V2 x\r\n"
                             "-0312347+40414V3\r\n"
                             "-0312348+40415V4 tail\r\n"
                             "-0312349+40416V5\r\n"
                             "short\r\n";
const std::string kConverted = "-0312345+40412V1,120,A-6\r\n"
                               "-0312346+40413F2\r\n"
                               "-0312347+4041403\r\n"
                               "-0312349+40416V5\r\n";

std::string Map(int blocks, std::string &converted)
{
    std::string map = "574C Mapa de puntos\r\n";
    converted = map;
    for (int i = 0; i < blocks; ++i) {
        map += kRecords;
        converted += kConverted;
    }
    return map;
}

void SetLevels(TFPral &f)
{
    f.Avisadores->SetItemIndex(1);
    f.cxTrackBar1->SetPosition(3);
    f.cxTrackBar2->SetPosition(1);
    f.cxTrackBar11->SetPosition(2);
    f.cxTrackBar12->SetPosition(0);
    f.cxTrackBar3->SetPosition(3);
}

struct ProgressSample {
    std::int32_t byteCount;
    std::string panel;
    int position, max;
    bool busy, animated, buttonEnabled;
};

class RealServer : public RoadTest {
protected:
    void SetUp() override
    {
        RoadTest::SetUp();
        map = Map(6000, converted);  // about 530 KB: many blocks
        tree.Publish("Watcher-050101.mdb", "574C older\r\n");
        tree.Publish(kNewest, map);
        tree.Publish("Watcher-070101.mdb", "574C old\r\n");
        tree.News(kNews);
        WriteFile(local("Watcher-010101.mdb"), "");
        WriteFile(local("Watcher-030101.mdb"), "574C the previous map\r\n");
    }

    // Records the window as each progress event leaves it.
    void WatchProgress()
    {
        auto handler = form->msFTPClient1->OnDataTransferProgress;
        form->msFTPClient1->OnDataTransferProgress = [this, handler](fw::TObject *sender, std::int32_t byteCount) {
            handler(sender, byteCount);
            samples.push_back({byteCount, form->StatusBar1->PanelText(1), form->cxProgressBar2->Position(),
                               form->cxProgressBar2->Max(), form->cxProgressBar2->Busy(), form->RxTrayIcon1->Animated(),
                               form->cxButton1->Enabled()});
        };
        auto connecting = form->msFTPClient1->OnConnecting;
        form->msFTPClient1->OnConnecting = [this, connecting](fw::TObject *sender) {
            connecting(sender);
            connectingText = form->StatusBar1->PanelText(0);
        };
    }

    void ExpectDownloadedAndConverted()
    {
        EXPECT_EQ(errors(), std::vector<std::string>{});
        EXPECT_EQ(messages(), std::vector<std::string>{shell::MapReceivedText()});
        EXPECT_EQ(ReadFile(local(kNewest)), converted);
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(local("temp.mdb"))));
        EXPECT_EQ(ReadFile(local("Watcher-030101.mdb")), "574C the previous map\r\n");
        EXPECT_EQ(form->Label3->Caption(), kNewest);
        EXPECT_EQ(form->Label4->Caption(), kNewest);
        EXPECT_EQ(form->Estado.Local(), kNewest);
        EXPECT_FALSE(form->Image2->Visible());
        EXPECT_TRUE(form->cxButton1->Enabled());
        EXPECT_EQ(melodies(), 1);
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].path, local("news.txt"));
        EXPECT_EQ(opened[0].content, kNews);
        EXPECT_FALSE(opened[0].buttonEnabled) << "no download while the news is on its way";

        // The bar and the count followed the map's transfer; the window is back at rest.
        EXPECT_EQ(form->StatusBar1->PanelText(0), "Transferencia de datos finalizada");
        EXPECT_EQ(form->StatusBar1->PanelText(1), std::to_string(map.size()) + " Bytes.");
        EXPECT_EQ(form->cxProgressBar2->Position(), 0);
        EXPECT_EQ(form->cxProgressBar2->Max(), static_cast<int>(map.size()));
        EXPECT_FALSE(form->RxTrayIcon1->Animated());
        EXPECT_TRUE(form->FConectado());
        std::vector<ProgressSample> ofMap;
        for (const auto &s : samples)
            if (s.max == static_cast<int>(map.size()))
                ofMap.push_back(s);
        ASSERT_GT(ofMap.size(), 3u);
        // The window shows the count of this block or of one a few hundredths of a second
        // older, never a count that was not received; the first block shows at once.
        EXPECT_EQ(ofMap[0].panel, std::to_string(ofMap[0].byteCount) + " Bytes.");
        for (size_t i = 0; i < ofMap.size(); ++i) {
            const auto &s = ofMap[i];
            EXPECT_EQ(s.panel, std::to_string(s.position) + " Bytes.");
            EXPECT_LE(s.position, s.byteCount);
            EXPECT_GT(s.position, 0);
            EXPECT_FALSE(s.busy);
            EXPECT_TRUE(s.animated);
            EXPECT_FALSE(s.buttonEnabled);
            if (i > 0) {
                EXPECT_GT(s.byteCount, ofMap[i - 1].byteCount);
            }
        }
        EXPECT_EQ(ofMap.back().byteCount, static_cast<int>(map.size()));
    }

    testutil::TempDir serverRoot;
    testutil::UpdateServerTree tree{serverRoot.path()};
    std::string map, converted;
    std::vector<ProgressSample> samples;
    std::string connectingText;
};

TEST_F(RealServer, FirstPressChecksFetchesTheNewsDownloadsAndConverts)
{
    testutil::PyFtpServer server(serverRoot.path(), "drovanel", kPassword);
    ASSERT_NE(server.Port(), 0);
    Start(SetLevels);
    Direct(server.Port());
    WatchProgress();

    form->cxButton1->Click();

    ExpectDownloadedAndConverted();
    EXPECT_EQ(connectingText, "Abriendo conexion con 127.0.0.1");
}

TEST_F(RealServer, StartUpCheckThroughTheProxyThenDownload)
{
    // The proxy is told the real server in the user name: "drovanel@" and the update host.
    testutil::PyFtpServer proxy(serverRoot.path(), "drovanel@" + TFPral::UpdateHost(), kPassword);
    ASSERT_NE(proxy.Port(), 0);
    Start([&](TFPral &f) {
        SetLevels(f);
        ThroughProxy(proxy.Port(), true)(f);
    });

    // The start-up check found the newer map and handed over the news; nothing downloaded yet.
    EXPECT_EQ(errors(), std::vector<std::string>{});
    EXPECT_TRUE(form->Image2->Visible());
    EXPECT_EQ(form->Label4->Caption(), kNewest);
    EXPECT_EQ(form->Label3->Caption(), "Watcher-030101.mdb");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(form->cxButton1->Enabled());
    EXPECT_EQ(form->StatusBar1->PanelText(1), "");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(local(kNewest))));

    WatchProgress();
    form->cxButton1->Click();
    ExpectDownloadedAndConverted();
    EXPECT_EQ(connectingText, "") << "the connection of the start-up check is used again";
}

}  // namespace
