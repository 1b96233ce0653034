// The settings file seen from outside a running program: a process killed at any moment while it
// saves leaves a whole file behind, and a process told to stop saves on its way out.
#include "RegTestUtil.h"
#include "common/HelperProcess.h"
#include "common/TempDir.h"
#include "platform/Registry.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace platform;
using testutil::QueryText;

namespace {

const std::string kFormKey = "Software\\settings_helper\\TFPral";

// The settings helper with its configuration in the test's temporary home.
class HelperProcess : public testutil::HelperProcess {
public:
    HelperProcess(const testutil::TempDir &home, const QStringList &arguments)
        : testutil::HelperProcess("settings_helper", home.path(), home.file("config"), arguments)
    {
    }
};

std::string RegistryFileIn(const testutil::TempDir &home)
{
    return home.file("config/drovanel/registry.reg");
}

// The number of the save that the file holds, after checking that every value belongs to that
// same save; -1 with a failure recorded when the file is not one whole save.
int CompleteSaveNumber(const std::string &file)
{
    EXPECT_TRUE(RegistryUseFile(QString::fromStdString(file)));
    const std::string text = testutil::ReadFile(file);
    const auto avisadores = QueryText(kFormKey, "Avisadores_ItemIndex");
    if (text.size() < 14 || text.compare(0, 10, "REGEDIT4\r\n") != 0 ||
        text.compare(text.size() - 4, 4, "\r\n\r\n") != 0 || !avisadores ||
        avisadores->find_first_not_of("0123456789") != std::string::npos || avisadores->empty()) {
        ADD_FAILURE() << "not one whole save in the file:\n" << text;
        RegistryUseFile({});
        return -1;
    }
    const int n = std::stoi(*avisadores);
    const std::pair<std::string, std::string> expected[] = {
        {"FormVersion", "0"},
        {"Visible", "0"},
        {"DirectoryEdit1_Text", "/home/ana/Mapas/" + std::to_string(n)},
        {"ComprobarChk_Checked", n % 2 == 0 ? "True" : "False"},
        {"Minimizar_Checked", n % 2 == 1 ? "True" : "False"},
        {"cxTrackBar1_Position", std::to_string(n + 1)},
        {"cxTrackBar7_Position", std::to_string(n + 7)},
        {"cxTrackBar14_Position", std::to_string(n + 14)},
        {"ServerTypeRadioGroup_ItemIndex", std::to_string(n)},
        {"ProxyServerEdit1_Text", "proxy" + std::to_string(n) + ".example.com"},
        {"ProxyPortEdit1_Value", std::to_string(n) + ".5"},
    };
    for (const auto &[name, value] : expected)
        EXPECT_EQ(QueryText(kFormKey, name), value) << name << " in save " << n;
    for (const char *name : {"NormPos", "MinMaxPos", "PixelsPerInch", "Flags", "ShowCmd"})
        EXPECT_TRUE(QueryText(kFormKey, name)) << name;
    RegistryUseFile({});
    return n;
}

TEST(SettingsFile, KillingTheProgramWhileItSavesLeavesTheOldOrTheNewFile)
{
    testutil::TempDir home;
    const std::string file = RegistryFileIn(home);
    std::random_device seedSource;
    const unsigned seed = seedSource();
    SCOPED_TRACE("random seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMicroseconds(0, 20000);

    constexpr int kRounds = 200;
    int lastSave = 0;
    int killedWhileWriting = 0;
    for (int round = 0; round < kRounds; ++round) {
        HelperProcess helper(home, {"saveloop"});
        ASSERT_TRUE(helper.WaitForLine("saving")) << "round " << round;
        // The kill lands at a random point of the save loop: the moment is what the test varies.
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        const auto pid = static_cast<pid_t>(helper.Pid());
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        ASSERT_TRUE(helper.Process().waitForFinished(30000));

        // The writer's temporary file: ".registry.reg.<pid>.<random>.tmp".
        const std::string temp = ".registry.reg." + std::to_string(pid) + ".";
        if (!testutil::FilesStartingWith(home.file("config/drovanel"), temp).isEmpty())
            ++killedWhileWriting;
        const int save = CompleteSaveNumber(file);
        ASSERT_GE(save, lastSave + 1) << "round " << round << ": the file went back to an older save";
        lastSave = save;
        ASSERT_TRUE(testutil::FilesStartingWith(home.file("config/drovanel"), "registry.reg.corrupt").isEmpty())
            << "round " << round << ": the file could not be read back";
    }
    std::printf("%d of %d kills landed while the file was being written\n", killedWhileWriting, kRounds);
    EXPECT_GT(killedWhileWriting, 0) << "no kill hit a write: the test proved nothing";
}

TEST(SettingsFile, TerminationSignalEndsTheProgramAsQuitAndSavesVisibleOne)
{
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE("signal " + std::to_string(signalNumber));
        testutil::TempDir home;
        const std::string folder = "/home/ana/Mapas " + std::to_string(signalNumber);
        HelperProcess helper(home, {"run", QString::fromStdString(folder)});
        ASSERT_TRUE(helper.WaitForLine("ready"));
        ASSERT_EQ(::kill(static_cast<pid_t>(helper.Pid()), signalNumber), 0);
        ASSERT_TRUE(helper.Process().waitForFinished(30000));
        EXPECT_EQ(helper.Process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(helper.Process().exitCode(), 0);
        EXPECT_TRUE(helper.WaitForLine("ended"));

        ASSERT_TRUE(RegistryUseFile(QString::fromStdString(RegistryFileIn(home))));
        EXPECT_EQ(QueryText(kFormKey, "Visible"), "1");
        EXPECT_EQ(QueryText(kFormKey, "DirectoryEdit1_Text"), folder);
        RegistryUseFile({});
    }
}

}  // namespace
