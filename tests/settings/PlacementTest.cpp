// The settings store on a form like the main one: what each stored text restores into the
// controls, what a save writes, the window position, and the show, close and destroy hooks.
#include "RegTestUtil.h"
#include "TestForm.h"
#include "common/Privileges.h"
#include "common/ScriptedDialogs.h"
#include "common/TempDir.h"
#include "framework/Ansi.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "platform/Registry.h"
#include "settings/Placemnt.h"
#include "settings/WinPlacement.h"
#include "shell/StoredProperties.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <sys/stat.h>

using namespace platform;
using settings::TFormPlacement;
using testforms::TFPral;
using testutil::QueryText;
using testutil::ReadFile;

namespace {

const std::string &AppKey()
{
    static const std::string key =
        "Software\\" + QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
    return key;
}

const std::string &FormKey()
{
    static const std::string key = AppKey() + "\\TFPral";
    return key;
}

std::string Sz(const std::string &text)
{
    return text + '\0';
}

std::string ScreenSuffix()
{
    return "(" + std::to_string(settings::win::GetSystemMetrics(settings::win::SM_CXSCREEN)) + "x" +
           std::to_string(settings::win::GetSystemMetrics(settings::win::SM_CYSCREEN)) + ")";
}

class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale &locale) { QLocale::setDefault(locale); }
    ~LocaleGuard() { QLocale::setDefault(m_saved); }
    LocaleGuard(const LocaleGuard &) = delete;
    LocaleGuard &operator=(const LocaleGuard &) = delete;

private:
    QLocale m_saved;
};

const QLocale kDecimalComma(QLocale::Spanish, QLocale::Spain);

struct StoredValue {
    std::string name;
    std::string bytes;
    DWORD type = REG_SZ;
};

class Store : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RegistryUseFile(QString::fromStdString(file)));
        fw::Application().ResetTerminated();
        // The main window lives on in the tray when it is closed or hidden.
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override
    {
        EXPECT_EQ(RegistryOpenKeyCount(), 0) << "the store left a key open";
        RegistryUseFile({});
        fw::Application().ResetTerminated();
    }

    void Put(const std::vector<StoredValue> &values, const std::string &keyPath = FormKey())
    {
        HKEY key = 0;
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        for (const auto &v : values)
            ASSERT_EQ(testutil::SetBytes(key, v.name, v.type, v.bytes), ERROR_SUCCESS) << v.name;
        ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    void PutText(const std::string &name, const std::string &text) { Put({{name, Sz(text)}}); }
    static std::optional<std::string> Stored(const std::string &name) { return QueryText(FormKey(), name); }

    // The value names of the form's key in the order the file lists them.
    std::vector<std::string> StoredNames() const
    {
        const std::string text = ReadFile(file);
        const std::string header = "[HKEY_CURRENT_USER\\" + FormKey() + "]\r\n";
        std::vector<std::string> names;
        auto pos = text.find(header);
        if (pos == std::string::npos)
            return names;
        pos += header.size();
        for (;;) {
            const auto end = text.find("\r\n", pos);
            if (end == std::string::npos || end == pos)
                return names;
            const std::string line = text.substr(pos, end - pos);
            names.push_back(line.substr(1, line.find('"', 1) - 1));
            pos = end + 2;
        }
    }

    static void ExpectControls(const TFPral &form, const std::vector<std::pair<std::string, QVariant>> &changed)
    {
        for (const auto &[entry, fallback] : TFPral::Defaults()) {
            QVariant expected = fallback;
            for (const auto &[name, value] : changed) {
                if (name == entry)
                    expected = value;
            }
            EXPECT_EQ(form.Value(entry), expected) << entry;
        }
    }

    testutil::TempDir dir;
    std::string file = dir.file("registry.reg");
};

// ---- Restoring stored texts -------------------------------------------------------------------

TEST(TextForms, AnIntegerTakesOneSign)
{
    struct Case {
        const char *text;
        bool isInteger;
        int value;
    } const cases[] = {
        {"-0", true, 0},          {"--0", false, 0},
        {"+-0", false, 0},        {"-$-0", false, 0},
        {"0x-0", false, 0},       {"-2147483648", true, std::numeric_limits<int>::min()},
        {"2147483648", false, 0}, {"-$80000000", true, std::numeric_limits<int>::min()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        int value = 7;
        EXPECT_EQ(settings::TryStrToInt(c.text, value), c.isInteger);
        EXPECT_EQ(value, c.isInteger ? c.value : 7);
    }
}

TEST_F(Store, StoredTextsRestoreIntoTheControls)
{
    struct Case {
        const char *what;
        std::vector<StoredValue> stored;
        std::vector<std::pair<std::string, QVariant>> expected;
        bool decimalComma = false;
    } const cases[] = {
        {"nothing stored: every control keeps its default", {}, {}},
        {"\"True\" and \"False\" in any letter case",
         {{"ComprobarChk_Checked", Sz("fALSE")}, {"Minimizar_Checked", Sz("tRUE")}},
         {{"ComprobarChk.Checked", false}, {"Minimizar.Checked", true}}},
        {"upper case", {{"Minimizar_Checked", Sz("TRUE")}}, {{"Minimizar.Checked", true}}},
        {"any other word leaves a check box unchanged",
         {{"ComprobarChk_Checked", Sz("0")}, {"Minimizar_Checked", Sz("Verdadero")}},
         {}},
        {"a non-number in an integer gives 0: \"x\" selects Sentry III",
         {{"Avisadores_ItemIndex", Sz("x")},
          {"cxTrackBar1_Position", Sz("")},
          {"cxTrackBar2_Position", Sz("2.5")},
          {"cxTrackBar3_Position", Sz("99999999999")},
          {"ServerTypeRadioGroup_ItemIndex", Sz("1")}},
         {{"Avisadores.ItemIndex", 0},
          {"cxTrackBar1.Position", 0},
          {"cxTrackBar2.Position", 0},
          {"cxTrackBar3.Position", 0},
          {"ServerTypeRadioGroup.ItemIndex", 1}}},
        {"integers with blanks, signs and the hexadecimal form",
         {{"cxTrackBar4_Position", Sz(" 2 ")}, {"cxTrackBar5_Position", Sz("-1")}, {"cxTrackBar6_Position", Sz("$1")}},
         {{"cxTrackBar4.Position", 2}, {"cxTrackBar5.Position", -1}, {"cxTrackBar6.Position", 1}}},
        {"every level bar in its own place",
         {{"cxTrackBar11_Position", Sz("0")},
          {"cxTrackBar12_Position", Sz("1")},
          {"cxTrackBar13_Position", Sz("1")},
          {"cxTrackBar14_Position", Sz("0")},
          {"cxTrackBar10_Position", Sz("1")}},
         {{"cxTrackBar11.Position", 0},
          {"cxTrackBar12.Position", 1},
          {"cxTrackBar13.Position", 1},
          {"cxTrackBar14.Position", 0},
          {"cxTrackBar10.Position", 1}}},
        {"port \"21.0\" under a decimal comma",
         {{"ProxyPortEdit1_Value", Sz("21.0")}},
         {{"ProxyPortEdit1.Value", 21.0}},
         true},
        {"port \"21.5\" under a decimal comma",
         {{"ProxyPortEdit1_Value", Sz("21.5")}},
         {{"ProxyPortEdit1.Value", 21.5}},
         true},
        {"port \"21,5\" under a decimal comma",
         {{"ProxyPortEdit1_Value", Sz("21,5")}},
         {{"ProxyPortEdit1.Value", 21.5}},
         true},
        {"port \"21.5\" under a decimal point",
         {{"ProxyPortEdit1_Value", Sz("21.5")}},
         {{"ProxyPortEdit1.Value", 21.5}}},
        {"port \"21,5\" under a decimal point leaves the port unchanged", {{"ProxyPortEdit1_Value", Sz("21,5")}}, {}},
        {"a port that is no number leaves the port unchanged",
         {{"ProxyPortEdit1_Value", Sz("abc")}, {"ServerTypeRadioGroup_ItemIndex", Sz("1")}},
         {{"ServerTypeRadioGroup.ItemIndex", 1}},
         true},
        {"infinity is no port", {{"ProxyPortEdit1_Value", Sz("inf")}}, {}},
        {"port with an exponent and a blank",
         {{"ProxyPortEdit1_Value", Sz("8.021E3 ")}},
         {{"ProxyPortEdit1.Value", 8021.0}}},
        {"blanks and control characters at both ends are trimmed",
         {{"DirectoryEdit1_Text", Sz("  /home/ana/Mapas \t\r\n")},
          {"ProxyServerEdit1_Text", Sz("\tproxy.example.com  ")}},
         {{"DirectoryEdit1.Text", QStringLiteral("/home/ana/Mapas")},
          {"ProxyServerEdit1.Text", QStringLiteral("proxy.example.com")}}},
        {"texts are UTF-8",
         {{"DirectoryEdit1_Text", Sz("/home/ana/Año €/Карты/地图")}},
         {{"DirectoryEdit1.Text", QString::fromUtf8("/home/ana/Año €/Карты/地图")}}},
        {"a text that is not UTF-8 is read as Windows-1252",
         {{"DirectoryEdit1_Text", Sz("/home/ana/A\xF1o \x80")}},
         {{"DirectoryEdit1.Text", QString::fromUtf8("/home/ana/Año €")}}},
        {"a text ends at its first NUL",
         {{"DirectoryEdit1_Text", std::string("/mapas\0/basura\0", 15)}},
         {{"DirectoryEdit1.Text", QStringLiteral("/mapas")}}},
        {"REG_EXPAND_SZ is read like REG_SZ",
         {{"DirectoryEdit1_Text", Sz("/expand"), REG_EXPAND_SZ}},
         {{"DirectoryEdit1.Text", QStringLiteral("/expand")}}},
        {"a REG_DWORD stored property is ignored, the others restored",
         {{"cxTrackBar1_Position", std::string("\x01\0\0\0", 4), REG_DWORD}, {"cxTrackBar2_Position", Sz("1")}},
         {{"cxTrackBar2.Position", 1}}},
        {"value names are found without regard to letter case",
         {{"AVISADORES_ITEMINDEX", Sz("2")}},
         {{"Avisadores.ItemIndex", 2}}},
        {"a \"FormVersion\" that is no number counts as 0",
         {{"FormVersion", Sz("abc")}, {"Avisadores_ItemIndex", Sz("2")}},
         {{"Avisadores.ItemIndex", 2}}},
        {"a higher \"FormVersion\" is restored",
         {{"FormVersion", Sz("5")}, {"Avisadores_ItemIndex", Sz("0")}},
         {{"Avisadores.ItemIndex", 0}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        testutil::TempDir caseDir;
        ASSERT_TRUE(RegistryUseFile(QString::fromStdString(caseDir.file("registry.reg"))));
        if (!c.stored.empty())
            Put(c.stored);
        std::unique_ptr<LocaleGuard> locale;
        if (c.decimalComma)
            locale = std::make_unique<LocaleGuard>(kDecimalComma);
        TFPral form;
        ASSERT_NO_THROW(form.FormStorage1->Restore());
        ExpectControls(form, c.expected);
    }
}

TEST_F(Store, FirstStartCreatesTheEmptyKeyAndTheFirstSaveWritesEveryValue)
{
    TFPral form;
    form.FormStorage1->Restore();
    EXPECT_TRUE(testutil::KeyExists(AppKey())) << "the restore creates the application's key";
    EXPECT_FALSE(testutil::KeyExists(FormKey()));
    EXPECT_NE(ReadFile(file).find("[HKEY_CURRENT_USER\\" + AppKey() + "]"), std::string::npos);
    ExpectControls(form, {});

    form.FormStorage1->Save();
    const std::string suffix = ScreenSuffix();
    std::vector<std::string> expectedNames = {
        "FormVersion",      "Flags",   "ShowCmd", "PixelsPerInch", "MinMaxPos" + suffix, "MinMaxPos",
        "NormPos" + suffix, "NormPos", "Visible"};
    for (const auto &entry : shell::MainFormStoredProps()) {
        std::string name = entry;
        name[name.find('.')] = '_';
        expectedNames.push_back(name);
    }
    EXPECT_EQ(StoredNames(), expectedNames);

    const std::pair<std::string, std::string> texts[] = {
        {"FormVersion", "0"},
        {"Flags", "0"},
        {"ShowCmd", "1"},
        {"PixelsPerInch", std::to_string(settings::win::ScreenPixelsPerInch())},
        {"MinMaxPos" + suffix, "-1,-1,-1,-1"},
        {"MinMaxPos", "-1,-1,-1,-1"},
        {"NormPos" + suffix, "160,164,556,455"},
        {"NormPos", "160,164,556,455"},
        {"Visible", "0"},
        {"DirectoryEdit1_Text", ""},
        {"Avisadores_ItemIndex", "1"},
        {"ComprobarChk_Checked", "True"},
        {"cxTrackBar1_Position", "3"},
        {"cxTrackBar6_Position", "2"},
        {"Minimizar_Checked", "False"},
        {"cxTrackBar11_Position", "3"},
        {"cxTrackBar14_Position", "2"},
        {"ServerTypeRadioGroup_ItemIndex", "0"},
        {"ProxyServerEdit1_Text", ""},
        {"ProxyPortEdit1_Value", "21"},
    };
    for (const auto &[name, text] : texts)
        EXPECT_EQ(Stored(name), text) << name;
    const auto type = testutil::Query(FormKey(), "Avisadores_ItemIndex");
    ASSERT_TRUE(type);
    EXPECT_EQ(type->type, REG_SZ);
    EXPECT_EQ(type->bytes, Sz("1")) << "REG_SZ with its terminating NUL";
}

TEST_F(Store, AllTwentyOneValuesSurviveASaveAndARestore)
{
    const std::vector<std::pair<std::string, QVariant>> changed = {
        {"DirectoryEdit1.Text", QString::fromUtf8("/home/ana/Descargas/Año")},
        {"Avisadores.ItemIndex", 2},
        {"ComprobarChk.Checked", false},
        {"cxTrackBar1.Position", 0},
        {"cxTrackBar2.Position", 1},
        {"cxTrackBar3.Position", 2},
        {"cxTrackBar4.Position", 0},
        {"cxTrackBar5.Position", 1},
        {"cxTrackBar6.Position", 0},
        {"cxTrackBar7.Position", 1},
        {"cxTrackBar8.Position", 0},
        {"cxTrackBar9.Position", 1},
        {"cxTrackBar10.Position", 0},
        {"Minimizar.Checked", true},
        {"cxTrackBar12.Position", 2},
        {"cxTrackBar11.Position", 1},
        {"cxTrackBar13.Position", 1},
        {"cxTrackBar14.Position", 0},
        {"ServerTypeRadioGroup.ItemIndex", 1},
        {"ProxyServerEdit1.Text", QStringLiteral("gate:8021")},
        {"ProxyPortEdit1.Value", 8021.5},
    };
    ASSERT_EQ(changed.size(), 21u);
    {
        TFPral form;
        form.FormStorage1->Restore();
        for (const auto &[entry, value] : changed)
            form.SetValue(entry, value);
        form.FormStorage1->Save();
    }
    EXPECT_EQ(Stored("DirectoryEdit1_Text"), "/home/ana/Descargas/Año");
    EXPECT_EQ(Stored("ComprobarChk_Checked"), "False");
    EXPECT_EQ(Stored("Minimizar_Checked"), "True");
    EXPECT_EQ(Stored("cxTrackBar12_Position"), "2");
    EXPECT_EQ(Stored("ProxyPortEdit1_Value"), "8021.5");

    ASSERT_TRUE(RegistryUseFile(QString::fromStdString(file)));  // as a new process would read it
    TFPral restored;
    restored.FormStorage1->Restore();
    ExpectControls(restored, changed);
}

TEST_F(Store, FloatingPointIsWrittenWithAPointUnderAnyLocale)
{
    const LocaleGuard locale(kDecimalComma);
    ASSERT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    struct Case {
        double value;
        const char *text;
    } const cases[] = {{21, "21"},
                       {21.5, "21.5"},
                       {-0.25, "-0.25"},
                       {1e20, "1E20"},
                       {1.5e-7, "1.5E-7"},
                       {21.1, "21.1"},
                       {0.1 + 0.2, "0.30000000000000004"}};
    for (const auto &c : cases) {
        TFPral form;
        form.FormStorage1->Restore();
        form.ProxyPortEdit1->SetValue(c.value);
        form.FormStorage1->Save();
        EXPECT_EQ(Stored("ProxyPortEdit1_Value"), c.text);
        form.ProxyPortEdit1->SetValue(0);
        form.FormStorage1->Restore();
        EXPECT_EQ(form.ProxyPortEdit1->Value(), c.value) << c.text;
    }
}

TEST_F(Store, TrailingBlanksOfATypedFolderAreNotSaved)
{
    TFPral form;
    form.FormStorage1->Restore();
    form.DirectoryEdit1->SetText(QStringLiteral("/home/ana/Mapas   "));
    form.ProxyServerEdit1->SetText(QStringLiteral(" gate "));
    form.FormStorage1->Save();
    EXPECT_EQ(Stored("DirectoryEdit1_Text"), "/home/ana/Mapas");
    EXPECT_EQ(Stored("ProxyServerEdit1_Text"), "gate");
    form.FormStorage1->Restore();
    EXPECT_EQ(form.DirectoryEdit1->Text(), QStringLiteral("/home/ana/Mapas"));
}

TEST_F(Store, RegDwordFormVersionFailsTheRestoreNamingIt)
{
    DWORD zero = 0;
    Put({{"FormVersion", std::string(reinterpret_cast<const char *>(&zero), 4), REG_DWORD},
         {"Avisadores_ItemIndex", Sz("2")}});
    TFPral form;
    try {
        form.FormStorage1->Restore();
        FAIL() << "no error";
    } catch (const settings::ERegistryException &e) {
        EXPECT_EQ(e.Message(), fw::AnsiText("Tipo de dato inválido para 'FormVersion'"));
    }
    EXPECT_EQ(RegistryOpenKeyCount(), 0) << "the store is closed on the way out";
    EXPECT_EQ(form.Avisadores->ItemIndex(), 1);
    EXPECT_FALSE(form.FormStorage1->IsRestored());
    // Nothing was restored, so nothing is saved over the stored values.
    form.FormStorage1->Save();
    EXPECT_EQ(Stored("Visible"), std::nullopt);
}

TEST_F(Store, PlacementValueOfAnotherTypeEndsTheRestore)
{
    const std::string names[] = {"Flags", "MinMaxPos", "NormPos", "PixelsPerInch", "NormPos" + ScreenSuffix()};
    for (const auto &name : names) {
        SCOPED_TRACE(name);
        testutil::TempDir caseDir;
        ASSERT_TRUE(RegistryUseFile(QString::fromStdString(caseDir.file("registry.reg"))));
        Put({{name, std::string("\x60\0\0\0", 4), REG_DWORD}, {"Avisadores_ItemIndex", Sz("2")}});
        TFPral form;
        try {
            form.FormStorage1->Restore();
            ADD_FAILURE() << "no error";
        } catch (const settings::ERegistryException &e) {
            EXPECT_EQ(e.Message(), fw::AnsiText("Tipo de dato inválido para '") + name + "'");
        }
        EXPECT_EQ(form.Avisadores->ItemIndex(), 1) << "the stored properties come after the placement";
        EXPECT_EQ(RegistryOpenKeyCount(), 0);
    }
}

TEST_F(Store, LowerStoredVersionRestoresNothing)
{
    Put({{"FormVersion", Sz("1")},
         {"Avisadores_ItemIndex", Sz("2")},
         {"NormPos", Sz("10,20,406,311")},
         {"PixelsPerInch", Sz(std::to_string(settings::win::ScreenPixelsPerInch()))}});
    TFPral form;
    form.FormStorage1->SetVersion(2);
    form.FormStorage1->Restore();
    EXPECT_EQ(form.Avisadores->ItemIndex(), 1);
    EXPECT_EQ(form.frameGeometry().topLeft(), QPoint(160, 164));
    form.FormStorage1->Save();
    EXPECT_EQ(Stored("FormVersion"), "2");
    EXPECT_EQ(Stored("Avisadores_ItemIndex"), "1");
}

// ---- The window position -----------------------------------------------------------------------

TEST_F(Store, WindowPositionComesFromTheScreenSizeValueOrThePlainOne)
{
    const std::string ppi = std::to_string(settings::win::ScreenPixelsPerInch());
    const std::string here = ScreenSuffix();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint centred =
        QRect(QPoint(0, 0), QSize(396, 291)).translated(area.center() - QRect(0, 0, 396, 291).center()).topLeft();
    struct Case {
        const char *what;
        std::vector<StoredValue> stored;
        QPoint expected;
        bool propertiesRestored = true;
    } const cases[] = {
        {"plain NormPos when no value for this screen size exists",
         {{"NormPos", Sz("100,120,496,411")}, {"PixelsPerInch", Sz(ppi)}},
         {100, 120}},
        {"the value for this screen size comes first",
         {{"NormPos" + here, Sz("30,40,426,331")}, {"NormPos", Sz("100,120,496,411")}, {"PixelsPerInch", Sz(ppi)}},
         {30, 40}},
        {"a value for another screen size is not used",
         {{"NormPos(1x1)", Sz("30,40,426,331")}, {"NormPos", Sz("100,120,496,411")}, {"PixelsPerInch", Sz(ppi)}},
         {100, 120}},
        {"an empty value for this screen size falls back to the plain one",
         {{"NormPos" + here, Sz("")}, {"NormPos", Sz("100,120,496,411")}, {"PixelsPerInch", Sz(ppi)}},
         {100, 120}},
        {"a different pixels per inch skips the position but not the properties",
         {{"NormPos", Sz("100,120,496,411")}, {"PixelsPerInch", Sz(std::to_string(std::stoi(ppi) + 24))}},
         {160, 164}},
        {"no pixels per inch stored counts as the current one", {{"NormPos", Sz("100,120,496,411")}}, {100, 120}},
        {"runs of commas and blanks count as one separator; a bad number keeps the current left",
         {{"NormPos", Sz("x,, 130")}, {"PixelsPerInch", Sz(ppi)}},
         {160, 130}},
        {"no position text stored: the window stays", {{"PixelsPerInch", Sz(ppi)}}, {160, 164}},
        {"MinMaxPos alone counts as a position found, the normal rectangle stays",
         {{"MinMaxPos", Sz("-1,-1,-1,-1")}, {"PixelsPerInch", Sz(ppi)}},
         {160, 164}},
        {"a position on no screen is centred on the screen",
         {{"NormPos", Sz("-5000,-5000,-4604,-4709")}, {"PixelsPerInch", Sz(ppi)}},
         centred},
        {"the most negative position is centred without overflow",
         {{"NormPos", Sz("-2147483648,-2147483648,-2147483648,-2147483648")}, {"PixelsPerInch", Sz(ppi)}},
         centred},
        {"the most positive position is centred without overflow",
         {{"NormPos", Sz("2147483647,2147483647,2147483647,2147483647")}, {"PixelsPerInch", Sz(ppi)}},
         centred},
        {"an extreme rectangle of a whole range is centred without overflow",
         {{"NormPos", Sz("-2147483648,-2147483648,2147483647,2147483647")}, {"PixelsPerInch", Sz(ppi)}},
         centred},
        // A session that could not tell the window's place stored one just above the screen: the
        // title bar (and the menu bar under it) would be out of reach.
        {"a title bar above the screen's top is centred",
         {{"NormPos", Sz("-3,-30,393,261")}, {"PixelsPerInch", Sz(ppi)}},
         centred},
        {"a title bar whose top is one pixel above the screen is centred",
         {{"NormPos", Sz("100,-1,496,290")}, {"PixelsPerInch", Sz(ppi)}},
         centred},
        {"a title bar at the screen's top stays",
         {{"NormPos", Sz("100,0,496,291")}, {"PixelsPerInch", Sz(ppi)}},
         {100, 0}},
        {"a window hanging off the right with a grip of its title bar on the screen stays",
         {{"NormPos", Sz(std::to_string(area.right() + 1 - 64) + ",100,0,0")}, {"PixelsPerInch", Sz(ppi)}},
         {area.right() + 1 - 64, 100}},
        {"a window hanging off the right with less than a grip on the screen is centred",
         {{"NormPos", Sz(std::to_string(area.right() + 1 - 63) + ",100,0,0")}, {"PixelsPerInch", Sz(ppi)}},
         centred},
        {"a title bar below the screen's bottom is centred",
         {{"NormPos", Sz("100," + std::to_string(area.bottom() - 10) + ",0,0")}, {"PixelsPerInch", Sz(ppi)}},
         centred},
        {"a window whose lower part is off the bottom but whose title bar is whole stays",
         {{"NormPos", Sz("100," + std::to_string(area.bottom() + 1 - 24) + ",0,0")}, {"PixelsPerInch", Sz(ppi)}},
         {100, area.bottom() + 1 - 24}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        testutil::TempDir caseDir;
        ASSERT_TRUE(RegistryUseFile(QString::fromStdString(caseDir.file("registry.reg"))));
        auto stored = c.stored;
        stored.push_back({"Avisadores_ItemIndex", Sz("2")});
        Put(stored);
        TFPral form;
        form.FormStorage1->Restore();
        EXPECT_EQ(form.frameGeometry().topLeft(), c.expected);
        EXPECT_EQ(form.frameGeometry().size(), QSize(396, 291)) << "the window keeps its own size";
        EXPECT_EQ(form.Avisadores->ItemIndex(), 2);
        EXPECT_FALSE(form.isVisible()) << "a restore never shows a hidden window";
    }
}

TEST_F(Store, PositionIsNotRestoredWithoutThePositionOption)
{
    Put({{"NormPos", Sz("100,120,496,411")}});
    TFPral form;
    form.FormStorage1->SetOptions({});
    form.FormStorage1->Restore();
    EXPECT_EQ(form.frameGeometry().topLeft(), QPoint(160, 164));
}

TEST_F(Store, ResizableWindowTakesTheStoredSizeAndAFrameSizedMaximisedPosition)
{
    Put({{"NormPos", Sz("10,20,310,220")}, {"MinMaxPos", Sz("7,8,9,10")}});
    TFPral form;
    form.setMinimumSize(0, 0);
    form.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    form.FormStorage1->Restore();
    EXPECT_EQ(form.frameGeometry(), QRect(10, 20, 300, 200));
    form.FormStorage1->Save();
    EXPECT_EQ(Stored("MinMaxPos"), "7,8,-4,-4") << "the maximised position is minus the sizeable frame";
    EXPECT_EQ(Stored("NormPos"), "10,20,310,220");
}

TEST_F(Store, MinimisedWindowIsSavedWithShowCommandTwo)
{
    TFPral form;
    form.FormStorage1->Restore();
    form.show();
    const QRect normal = form.frameGeometry();
    form.showMinimized();
    form.FormStorage1->Save();
    EXPECT_EQ(Stored("ShowCmd"), "2");
    EXPECT_EQ(Stored("NormPos"), std::to_string(normal.left()) + "," + std::to_string(normal.top()) + "," +
                                     std::to_string(normal.left() + normal.width()) + "," +
                                     std::to_string(normal.top() + normal.height()))
        << "the normal rectangle, not the minimised one";
}

// ---- Hooks --------------------------------------------------------------------------------------

TEST_F(Store, ShowingTheWindowRestoresBeforeItsOwnShowHandling)
{
    Put({{"DirectoryEdit1_Text", Sz("/stored")}, {"cxTrackBar1_Position", Sz("1")}});
    TFPral form;
    form.FormStorage1->Restore();
    form.show();
    EXPECT_EQ(form.FolderAtShow, QStringLiteral("/stored"));

    // Changes not saved are undone by hiding the window and showing it again.
    form.DirectoryEdit1->SetText(QStringLiteral("/typed"));
    form.cxTrackBar[1]->SetPosition(0);
    form.cxTrackBar[7]->SetPosition(0);
    form.hide();
    EXPECT_EQ(form.DirectoryEdit1->Text(), QStringLiteral("/typed")) << "hiding keeps the values";
    form.show();
    EXPECT_EQ(form.DirectoryEdit1->Text(), QStringLiteral("/stored"));
    EXPECT_EQ(form.cxTrackBar[1]->Position(), 1);
    EXPECT_EQ(form.cxTrackBar[7]->Position(), 0) << "a setting with no stored value keeps what the control holds";
    EXPECT_FALSE(form.FormStorage1->IsSaved());
}

TEST_F(Store, ClosingTheWindowSavesWithVisibleZero)
{
    {
        TFPral form;
        form.FormStorage1->Restore();
        form.show();
        form.DirectoryEdit1->SetText(QStringLiteral("/closing"));
        EXPECT_TRUE(form.close());
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.CloseQueries, 1) << "the form's own close handling runs once";
        EXPECT_EQ(Stored("Visible"), "0");
        EXPECT_EQ(Stored("DirectoryEdit1_Text"), "/closing");
        // Destroying the form after that save saves nothing more.
        form.DirectoryEdit1->SetText(QStringLiteral("/after close"));
    }
    EXPECT_EQ(Stored("Visible"), "0");
    EXPECT_EQ(Stored("DirectoryEdit1_Text"), "/closing");
}

TEST_F(Store, RefusedCloseSavesNothingAndKeepsTheWindow)
{
    TFPral form;
    form.FormStorage1->Restore();
    form.show();
    form.CanClose = false;
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.CloseQueries, 1);
    EXPECT_FALSE(testutil::KeyExists(FormKey()));
    form.CanClose = true;
    EXPECT_TRUE(form.close());
    EXPECT_EQ(Stored("Visible"), "0");
}

TEST_F(Store, EndingThroughTerminateSavesWithVisibleOne)
{
    auto form = std::make_unique<TFPral>();
    form->FormStorage1->Restore();
    form->show();
    QTimer::singleShot(0, [&form] {
        form->DirectoryEdit1->SetText(QStringLiteral("/terminated"));
        fw::Application().Terminate();
    });
    fw::Application().Run();
    EXPECT_TRUE(fw::Application().Terminated());
    EXPECT_FALSE(testutil::KeyExists(FormKey())) << "terminating saves nothing by itself";
    form.reset();  // the form is destroyed as the program ends
    EXPECT_EQ(Stored("Visible"), "1");
    EXPECT_EQ(Stored("DirectoryEdit1_Text"), "/terminated");
}

TEST_F(Store, DestroyingSavesOnlyWhenNoSaveFollowedTheLastRestore)
{
    {
        TFPral neverRestored;
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file))) << "nothing restored, nothing saved";

    {
        TFPral form;
        form.FormStorage1->Restore();
        form.FormStorage1->Save();
        form.Avisadores->SetItemIndex(0);
    }
    EXPECT_EQ(Stored("Visible"), "0");
    EXPECT_EQ(Stored("Avisadores_ItemIndex"), "1");

    {
        TFPral form;
        form.FormStorage1->Restore();
        form.FormStorage1->Save();
        form.FormStorage1->Restore();  // a new restore clears the saved mark
        form.Avisadores->SetItemIndex(2);
    }
    EXPECT_EQ(Stored("Visible"), "1");
    EXPECT_EQ(Stored("Avisadores_ItemIndex"), "2");

    {
        TFPral inactive;
        inactive.FormStorage1->Restore();
        inactive.FormStorage1->SetActive(false);
        inactive.Avisadores->SetItemIndex(0);
    }
    EXPECT_EQ(Stored("Avisadores_ItemIndex"), "2") << "an inactive store has no destroy hook";
}

TEST_F(Store, ErrorInTheShowHookIsReportedAndTheWindowShows)
{
    DWORD zero = 0;
    Put({{"FormVersion", std::string(reinterpret_cast<const char *>(&zero), 4), REG_DWORD}});
    testutil::ScriptedDialogs dialogs;
    TFPral form;
    form.show();
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, fw::DialogKind::Error);
    EXPECT_EQ(dialogs.shown[0].text, fw::ErrorReportText(fw::AnsiText("Tipo de dato inválido para 'FormVersion'")));
}

TEST_F(Store, ReadOnlyConfigurationFolderGivesTheRegistryErrorText)
{
    TFPral form;
    form.FormStorage1->Restore();
    form.FormStorage1->Save();
    const std::string before = ReadFile(file);
    form.show();
    testutil::GiveToUnprivilegedUser(dir.path());

    testutil::RunWithoutRoot([&] {
        ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
        const std::string expected = "Error al guardar '" + file + "'";
        form.DirectoryEdit1->SetText(QStringLiteral("/not saved"));
        try {
            form.FormStorage1->Save();
            ADD_FAILURE() << "a save that reached no file was reported as done";
        } catch (const settings::ERegistryException &e) {
            EXPECT_EQ(e.Message(), expected);
        }

        // Through the close hook the error goes to the error report and the window closes all
        // the same.
        testutil::ScriptedDialogs dialogs;
        EXPECT_TRUE(form.close());
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].text, fw::ErrorReportText(expected));
        EXPECT_EQ(ReadFile(file), before);
    });
}

TEST_F(Store, AFailedSaveNowLeavesTheEndOfProgramSaveToDo)
{
    TFPral form;
    form.FormStorage1->Restore();
    form.show();
    testutil::GiveToUnprivilegedUser(dir.path());

    testutil::RunWithoutRoot([&] {
        ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
        form.DirectoryEdit1->SetText(QStringLiteral("/kept for the end"));
        EXPECT_THROW(form.FormStorage1->SaveNow(), settings::ERegistryException);
        EXPECT_FALSE(form.FormStorage1->IsSaved()) << "a save that reached no file counts for nothing";

        // The folder can be written again before the program ends: the end's save runs.
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        testutil::ScriptedDialogs dialogs;
        EXPECT_TRUE(form.close());
        EXPECT_TRUE(dialogs.shown.empty());
        EXPECT_NE(ReadFile(file).find("/kept for the end"), std::string::npos);
    });
}

TEST_F(Store, KeyThatCannotBeCreatedGivesTheRegistryErrorText)
{
    TFPral form;
    form.FormStorage1->SetIniFileName("\\Software\\Bad");
    try {
        form.FormStorage1->Restore();
        FAIL() << "no error";
    } catch (const settings::ERegistryException &e) {
        EXPECT_EQ(e.Message(), "Error al crear la llave \\Software\\Bad");
    }

    TFPral other;
    other.FormStorage1->Restore();
    const std::string longSection(300, 'S');
    other.FormStorage1->SetIniSection(longSection);
    try {
        other.FormStorage1->Save();
        FAIL() << "no error";
    } catch (const settings::ERegistryException &e) {
        EXPECT_EQ(e.Message(), "Error al crear la llave " + longSection);
    }
}

// ---- Binding by name ---------------------------------------------------------------------------

TEST_F(Store, EntriesAreBoundByNameAndBadOnesDropped)
{
    TFPral form;
    form.FormStorage1->SetStoredProps(std::vector<std::string>{
        "directoryedit1.text",  // any letter case; the value name takes the form's spelling
        "NoDot",
        ".Text",
        "DirectoryEdit1.",
        "Missing.Text",
        "DirectoryEdit1.NoSuchProperty",
        "Label1.Bounds",  // no text form
        "Label1.alignment",
        "Avisadores.ItemIndex",
    });
    form.FormStorage1->Loaded();
    const auto &kept = form.FormStorage1->StoredProps();
    ASSERT_EQ(kept.Count(), 3);
    EXPECT_EQ(kept[0], "directoryedit1.text");
    EXPECT_EQ(kept[1], "Label1.alignment");
    EXPECT_EQ(kept[2], "Avisadores.ItemIndex");

    form.FormStorage1->Restore();
    form.DirectoryEdit1->SetText(QStringLiteral("/x"));
    form.Label1->SetAlignment(testforms::TTestLabel::taCenter);
    form.FormStorage1->Save();
    EXPECT_EQ(Stored("DirectoryEdit1_Text"), "/x");
    EXPECT_EQ(Stored("Label1_Alignment"), "taCenter") << "an enumeration is stored by its name";

    Put({{"Label1_Alignment", Sz("TARIGHTJUSTIFY")}});
    form.FormStorage1->Restore();
    EXPECT_EQ(form.Label1->Alignment(), testforms::TTestLabel::taRightJustify);
    Put({{"Label1_Alignment", Sz("taNowhere")}});
    form.FormStorage1->Restore();
    EXPECT_EQ(form.Label1->Alignment(), testforms::TTestLabel::taRightJustify) << "no match: unchanged";
}

TEST_F(Store, KeyAndSubkeyNames)
{
    TFPral form;
    EXPECT_EQ(form.FormStorage1->KeyPath(), AppKey());
    EXPECT_EQ(form.FormStorage1->SectionName(), "TFPral") << "the form's class name, without namespaces";
    form.FormStorage1->SetIniFileName("Software\\Elsewhere");
    form.FormStorage1->SetIniSection("Other");
    form.FormStorage1->Restore();
    form.FormStorage1->Save();
    EXPECT_EQ(QueryText("Software\\Elsewhere\\Other", "Avisadores_ItemIndex"), "1");
    EXPECT_EQ(form.FormStorage1->property("Version").toInt(), 0);
    EXPECT_TRUE(form.FormStorage1->property("UseRegistry").toBool());
    EXPECT_TRUE(form.FormStorage1->property("Active").toBool());
}

}  // namespace
