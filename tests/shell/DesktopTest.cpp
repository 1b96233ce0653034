// The program on real desktops: folder names in any script (and with "?" or "*") from the first
// run to the conversion, settings saved by "Guardar" that survive a SIGKILL or a lost display,
// the caption after a failed start, and the settings file's skipped lines told to the user.
#include "PralFixture.h"
#include "common/HelperProcess.h"
#include "common/TempDir.h"
#include "framework/Ansi.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using fw::DialogResult;

bool isFolder(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The desktop folder as the desktop names it: XDG_DESKTOP_DIR in user-dirs.dirs.
void setDesktopFolder(const std::string &home, const std::string &name)
{
    ::mkdir((home + "/.config").c_str(), 0700);
    writeFile(home + "/.config/user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/" + name +
                                                    "\"\nXDG_DOWNLOAD_DIR=\"$HOME/\"\n");
    ASSERT_EQ(::mkdir((home + "/" + name).c_str(), 0755), 0) << name;
}

const std::string kPoints = "574C,Mapa de puntos 100101,v2\r\n"
                            "-0312345+4041213\r\n"
                            "-0312346+4041225\r\n";

TEST_F(PralTest, AnyFolderNameFromTheFirstRunToTheConversion)
{
    const std::string names[] = {"Escritorio",      "Música y vídeos", "Рабочий стол", "桌面",
                                 "Mis  mapas 2024", "¿dónde?",         "todo*aquí"};
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        const std::string desktopFolder = home() + "/" + name;
        setDesktopFolder(home(), name);
        const std::string folder = desktopFolder + "/ActDrovanel";
        {
            dialogs.Answer(DialogResult::Yes);
            TestPral form;
            form.DoCreate();
            EXPECT_TRUE(isFolder(folder)) << "the first run creates the folder on that desktop";
            EXPECT_TRUE(isFile(folder + "/Watcher-010101.mdb"));
            EXPECT_EQ(form.DirectoryEdit1->Text(), folder);
            EXPECT_EQ(form.DirectoryEdit1->text(), QString::fromStdString(folder));
            EXPECT_EQ(fw::GetCurrentDir(), folder);
            // A folder chosen by the user whose own name is the one of this case: stored, and at
            // the next start entered as a folder, not read as a mask.
            const std::string chosen = folder + "/" + name;
            ASSERT_EQ(::mkdir(chosen.c_str(), 0755), 0);
            form.DirectoryEdit1->SetText(chosen);
            form.FormStorage1->Save();
        }
        const std::string chosen = folder + "/" + name;
        EXPECT_NE(
            readFile(home() + "/.config/drovanel/registry.reg").find("\"DirectoryEdit1_Text\"=\"" + chosen + "\""),
            std::string::npos)
            << "stored as UTF-8 text";
        platform::RegistryUseFile(QString());
        dialogs.shown.clear();
        {
            TestPral form;
            form.DoCreate();
            EXPECT_TRUE(dialogs.shown.empty());
            EXPECT_EQ(form.DirectoryEdit1->Text(), chosen);
            EXPECT_EQ(fw::GetCurrentDir(), chosen) << "the current directory at start-up";
            EXPECT_EQ(form.Caption(), "Drovanel - Descargas de actualizaciones 9.3 [Watcher]");

            writeFile(chosen + "/temp.mdb", kPoints);
            form.Estado.SetLocal("Watcher-100101.mdb");
            form.Transformar(form.CarpetaDescarga());
            EXPECT_TRUE(isFile(chosen + "/Watcher-100101.mdb"));
            EXPECT_FALSE(isFile(chosen + "/temp.mdb")) << "the download is deleted after the conversion";
        }
        fw::SetCurrentDir(m_cwd);
        dialogs.shown.clear();
        platform::RegistryUseFile(QString());
        ::unlink((home() + "/.config/drovanel/registry.reg").c_str());
        platform::RegistryUseFile(QString());
    }
}

TEST_F(PralTest, FirstRunQuestionIsAskedOnceAndTheCaptionSurvivesAFailedStart)
{
    // A stored folder that no longer exists, and a restored device model: the start-up fails at
    // the folder and the caption stays the one the window was built with.
    ::mkdir((home() + "/.config").c_str(), 0700);
    ::mkdir((home() + "/.config/drovanel").c_str(), 0700);
    writeFile(home() + "/.config/drovanel/registry.reg",
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\shell_tests\\TFPral]\r\n"
              "\"DirectoryEdit1_Text\"=\"/no/such/Карты\"\r\n\"Avisadores_ItemIndex\"=\"0\"\r\n");
    platform::RegistryUseFile(QString());
    TestPral form;
    form.DoCreate();
    EXPECT_EQ(form.Avisadores->ItemIndex(), 0);
    EXPECT_EQ(form.Caption(), "Drovanel - Descargas de actualizaciones de Mapas de Puntos 9.3");
    EXPECT_EQ(form.checks, 0);
    // Later changes of the device model still reach the caption.
    form.Avisadores->SetItemIndex(2);
    EXPECT_EQ(form.Caption(), "Drovanel - Descargas de actualizaciones 9.3 [Gray Rover II]");
}

TEST_F(PralTest, SkippedLinesOfTheSettingsFileAreToldOnceWithTheCopy)
{
    ::mkdir((home() + "/.config").c_str(), 0700);
    ::mkdir((home() + "/.config/drovanel").c_str(), 0700);
    const std::string file = home() + "/.config/drovanel/registry.reg";
    const std::string content = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                                "[HKEY_CURRENT_USER\\Software\\shell_tests\\TFPral]\r\n"
                                "\"DirectoryEdit1_Text\"=\"" +
                                home() +
                                "\"\r\n\"ComprobarChk_Checked\"=\"False\"\r\n"
                                "\"Avisadores_ItemIndex\"=dword:zz\r\n";
    writeFile(file, content);
    platform::RegistryUseFile(QString());
    TestPral form;
    form.DoCreate();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, fw::DialogKind::Message);
    EXPECT_NE(dialogs.shown[0].text.find(file + ".corrupt-"), std::string::npos) << dialogs.shown[0].text;
    EXPECT_EQ(form.DirectoryEdit1->Text(), home()) << "the good lines are used: no first-run question";
    EXPECT_FALSE(form.ComprobarChk->Checked());
    form.Hide();
    form.Show();  // restores again: nothing more is told
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(PralTest, FirstRunWithAReadOnlyDesktopWarnsEvenWhenStartedByRoot)
{
    FirstRunOnAReadOnlyDesktop(ReadOnlyDesktop::MadeByOwner);
}

// ---- The form in a process of its own

// The main form in a process of its own (desktop_helper), its settings in `home`.
class HelperProcess : public testutil::HelperProcess {
public:
    HelperProcess(const std::string &home, const QStringList &arguments, const QProcessEnvironment &extra = {})
        : testutil::HelperProcess("desktop_helper", home, home + "/.config", arguments, extra)
    {
    }
};

// Settings of a previous run: a download folder that exists, no start-up check.
std::string storeEarlierSettings(const std::string &home)
{
    ::mkdir((home + "/.config").c_str(), 0700);
    ::mkdir((home + "/.config/drovanel").c_str(), 0700);
    const std::string file = home + "/.config/drovanel/registry.reg";
    writeFile(file, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\desktop_helper\\TFPral]\r\n"
                    "\"DirectoryEdit1_Text\"=\"" +
                        home + "\"\r\n\"ComprobarChk_Checked\"=\"False\"\r\n\"Avisadores_ItemIndex\"=\"1\"\r\n");
    return file;
}

void expectNewValues(const std::string &file, const std::string &folder)
{
    const std::string text = readFile(file);
    EXPECT_NE(text.find("\"DirectoryEdit1_Text\"=\"" + folder + "\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Avisadores_ItemIndex\"=\"0\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"cxTrackBar6_Position\"=\"0\""), std::string::npos) << text;
}

TEST(DesktopProcess, SigkillAfterGuardarKeepsTheNewValues)
{
    testutil::TempDir home;
    const std::string file = storeEarlierSettings(home.path());
    const std::string folder = home.path() + "/Карты nuevas";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    HelperProcess helper(home.path(), {"guardar", QString::fromStdString(folder)});
    ASSERT_TRUE(helper.WaitForLine("saved"));
    ::kill(static_cast<pid_t>(helper.Process().processId()), SIGKILL);
    ASSERT_TRUE(helper.Process().waitForFinished(10000));
    expectNewValues(file, folder);
}

TEST(DesktopProcess, LostDisplaySavesTheSettings)
{
    if (::access("/usr/bin/Xvfb", X_OK) != 0)
        GTEST_SKIP() << "no Xvfb";
    // A display of our own, killed under the running program as a logout would.
    QProcess xvfb;
    xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    xvfb.start("/usr/bin/Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    ASSERT_TRUE(xvfb.waitForStarted(10000));
    while (!xvfb.canReadLine())
        ASSERT_TRUE(xvfb.waitForReadyRead(20000));
    const QString display = ":" + QString::fromLatin1(xvfb.readLine().trimmed());

    testutil::TempDir home;
    const std::string file = storeEarlierSettings(home.path());
    const std::string folder = home.path() + "/Música";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    QProcessEnvironment env;
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", display);
    HelperProcess helper(home.path(), {"change", QString::fromStdString(folder)}, env);
    ASSERT_TRUE(helper.WaitForLine("changed"));
    xvfb.kill();
    xvfb.waitForFinished(10000);
    ASSERT_TRUE(helper.Process().waitForFinished(20000)) << "the program ends with its display";
    expectNewValues(file, folder);
}

}  // namespace
