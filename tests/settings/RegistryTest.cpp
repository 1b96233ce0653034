// The registry stand-in: Windows' results and error codes, the REGEDIT4 file, and what happens to
// that file when it is corrupt, unreadable or in a folder that cannot be written.
#include "RegTestUtil.h"
#include "common/Privileges.h"
#include "common/TempDir.h"
#include "platform/RegFile.h"
#include "platform/Registry.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace platform;
using testutil::Query;
using testutil::QueryText;
using testutil::ReadFile;
using testutil::SetBytes;
using testutil::SetDword;
using testutil::SetText;
using testutil::WriteFile;

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(RegistryUseFile(QString::fromStdString(file))); }
    void TearDown() override
    {
        EXPECT_EQ(RegistryOpenKeyCount(), 0) << "a key handle was left open";
        RegistryUseFile({});
    }
    // Forgets the hive in memory, so the next open reads the file again.
    void Reload() { ASSERT_TRUE(RegistryUseFile(QString::fromStdString(file))); }

    HKEY Create(const std::string &path, REGSAM access = KEY_ALL_ACCESS, DWORD options = 0)
    {
        HKEY key = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, options, access, nullptr, &key, nullptr),
                  ERROR_SUCCESS)
            << path;
        return key;
    }

    testutil::TempDir dir;
    std::string file = dir.file("registry.reg");
};

TEST_F(Registry, CreateOpensExistingKeysWithoutRegardToLetterCase)
{
    HKEY first = 0, again = 0, opened = 0;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Drovanel\\TFPral", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &first, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\drovanel\\tfpral\\", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_NE(first, again);  // every open gives a handle of its own
    EXPECT_EQ(SetText(first, "Value", "abc"), ERROR_SUCCESS);
    EXPECT_EQ(SetText(again, "VALUE", "xyz"), ERROR_SUCCESS);  // the same value, first spelling kept
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\DROVANEL", 0, KEY_READ, &opened), ERROR_SUCCESS);
    RegCloseKey(opened);
    RegCloseKey(first);
    RegCloseKey(again);
    EXPECT_EQ(QueryText("Software\\Drovanel\\TFPral", "value"), "xyz");
    EXPECT_NE(ReadFile(file).find("\"Value\"=\"xyz\""), std::string::npos);
    EXPECT_NE(ReadFile(file).find("[HKEY_CURRENT_USER\\Software\\Drovanel\\TFPral]"), std::string::npos);
}

TEST_F(Registry, QueryGivesTypeAndSizeThenTheBytes)
{
    const HKEY key = Create("Software\\Test");
    ASSERT_EQ(SetText(key, "Folder", "C:\\Mapas"), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "Folder", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 9u);  // the text and its NUL

    BYTE small[4] = {};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Folder", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 9u);

    BYTE buffer[32] = {};
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "Folder", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), size), std::string("C:\\Mapas\0", 9));

    // The default value answers to an empty name and to no name.
    ASSERT_EQ(SetText(key, "", "default"), ERROR_SUCCESS);
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char *>(buffer), "default");
    RegCloseKey(key);
}

TEST_F(Registry, WindowsErrorCodes)
{
    const HKEY key = Create("Software\\Test");
    ASSERT_EQ(SetText(key, "V", "x"), ERROR_SUCCESS);
    HKEY readOnly = 0, writeOnly = 0, closed = 0, out = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_WRITE, &writeOnly), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &closed), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    DWORD type = 0, size = 0, reserved = 0;
    BYTE buffer[8];
    const std::string longName(256, 'k');
    const std::string longValueName(16384, 'v');

    struct Case {
        const char *what;
        LONG result, expected;
    } const cases[] = {
        {"open a missing key", RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Missing", 0, KEY_READ, &out),
         ERROR_FILE_NOT_FOUND},
        {"query a missing value", RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size),
         ERROR_FILE_NOT_FOUND},
        {"close a closed handle", RegCloseKey(closed), ERROR_INVALID_HANDLE},
        {"set through a closed handle", SetText(closed, "V", "x"), ERROR_INVALID_HANDLE},
        {"open below a closed handle", RegOpenKeyExA(closed, "Test", 0, KEY_READ, &out), ERROR_INVALID_HANDLE},
        {"a handle never given", RegCloseKey(0x12345), ERROR_INVALID_HANDLE},
        {"a root this registry does not hold", RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &out),
         ERROR_INVALID_HANDLE},
        {"reserved argument given", RegQueryValueExA(key, "V", &reserved, &type, nullptr, &size),
         ERROR_INVALID_PARAMETER},
        {"buffer without size", RegQueryValueExA(key, "V", nullptr, &type, buffer, nullptr), ERROR_INVALID_PARAMETER},
        {"no result handle", RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, nullptr),
         ERROR_INVALID_PARAMETER},
        {"no subkey name to create",
         RegCreateKeyExA(HKEY_CURRENT_USER, nullptr, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
         ERROR_INVALID_PARAMETER},
        {"leading backslash",
         RegCreateKeyExA(HKEY_CURRENT_USER, "\\Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
         ERROR_BAD_PATHNAME},
        {"empty name inside a path",
         RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
         ERROR_BAD_PATHNAME},
        {"key name over 255 characters",
         RegCreateKeyExA(HKEY_CURRENT_USER, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
         ERROR_INVALID_PARAMETER},
        {"key name with a line break",
         RegCreateKeyExA(HKEY_CURRENT_USER, "Two\nLines", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
         ERROR_INVALID_PARAMETER},
        {"value name with a line break", SetText(key, "Two\r\nLines", "x"), ERROR_INVALID_PARAMETER},
        {"value name over 16383 characters", SetText(key, longValueName, "x"), ERROR_INVALID_PARAMETER},
        {"data missing", RegSetValueExA(key, "V", 0, REG_SZ, nullptr, 4), ERROR_INVALID_PARAMETER},
        {"set through a read-only handle", SetText(readOnly, "V", "y"), ERROR_ACCESS_DENIED},
        {"query through a write-only handle", RegQueryValueExA(writeOnly, "V", nullptr, &type, nullptr, &size),
         ERROR_ACCESS_DENIED},
        {"create a subkey through a read-only handle",
         RegCreateKeyExA(readOnly, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr), ERROR_ACCESS_DENIED},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_EQ(RegistryOpenKeyCount(), 3) << "no failed call may leave a handle open";

    // Opening an existing subkey needs no right to create one.
    ASSERT_EQ(RegCreateKeyExA(key, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr), ERROR_SUCCESS);
    RegCloseKey(out);
    ASSERT_EQ(RegCreateKeyExA(readOnly, "Sub", 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr), ERROR_SUCCESS);
    RegCloseKey(out);
    // An empty subkey opens the key itself again.
    ASSERT_EQ(RegOpenKeyExA(key, "", 0, KEY_READ, &out), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(out, "V", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(out);
    RegCloseKey(readOnly);
    RegCloseKey(writeOnly);
    RegCloseKey(key);
    EXPECT_EQ(QueryText("Software\\Test", "V"), "x") << "refused calls changed nothing";
}

TEST_F(Registry, FileIsWrittenWhenTheLastOpenKeyIsClosed)
{
    const HKEY outer = Create("Software\\App");
    HKEY inner = 0;
    ASSERT_EQ(RegCreateKeyExA(outer, "TFPral", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &inner, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(SetText(inner, "FormVersion", "0"), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(inner), ERROR_SUCCESS);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file))) << "a key is still open";
    ASSERT_EQ(RegCloseKey(outer), ERROR_SUCCESS);
    // Keys with subkeys only are implied by their subkeys' blocks, as regedit imports them.
    EXPECT_EQ(ReadFile(file), "REGEDIT4\r\n\r\n"
                              "[HKEY_CURRENT_USER\\Software\\App\\TFPral]\r\n"
                              "\"FormVersion\"=\"0\"\r\n\r\n");
}

TEST_F(Registry, ReadingOnlyWritesNothing)
{
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\App", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file)));

    const HKEY created = Create("Software\\App");
    ASSERT_EQ(SetText(created, "V", "same"), ERROR_SUCCESS);
    RegCloseKey(created);
    WriteFile(file, ReadFile(file) + "; a comment of the user's\r\n");
    Reload();
    const HKEY again = Create("Software\\App");
    ASSERT_EQ(SetText(again, "V", "same"), ERROR_SUCCESS);  // no change
    RegCloseKey(again);
    EXPECT_NE(ReadFile(file).find("a comment of the user's"), std::string::npos) << "the file was rewritten";
}

TEST_F(Registry, EveryKindOfValueSurvivesTheFile)
{
    std::string binary;
    for (int i = 0; i < 100; ++i)
        binary += static_cast<char>(i * 7);
    struct Case {
        std::string name;
        DWORD type;
        std::string bytes;
    } const cases[] = {
        {"Plain", REG_SZ, std::string("text\0", 5)},
        {"Empty", REG_SZ, std::string("\0", 1)},
        {"NoBytes", REG_SZ, ""},
        {"NoNul", REG_SZ, "no terminator"},
        {"Lines", REG_SZ, std::string("one\r\ntwo\0", 9)},
        {"InnerNul", REG_SZ, std::string("a\0b\0", 4)},
        {"Quotes \"and\" \\slashes\\", REG_SZ, std::string("C:\\Program Files\\\"x\"\0", 21)},
        {"Año Árbol Карты", REG_SZ, std::string("Información € 地图") + '\0'},
        {"Latin", REG_SZ, std::string("Informaci\xF3n \x80\0", 14)},
        {"Expand", REG_EXPAND_SZ, std::string("%HOME%\\x\0", 9)},
        {"Number", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
        {"ShortNumber", REG_DWORD, std::string("\x01\x02", 2)},
        {"Binary", REG_BINARY, binary},
        {"NoBinary", REG_BINARY, ""},
        {"Multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {"OddType", 0x20000, "z"},
        {"", REG_SZ, std::string("the default\0", 12)},
    };
    const HKEY key = Create("Software\\Kinds");
    for (const auto &c : cases)
        ASSERT_EQ(SetBytes(key, c.name, c.type, c.bytes), ERROR_SUCCESS) << c.name;
    HKEY empty = 0, fleeting = 0;
    ASSERT_EQ(RegCreateKeyExA(key, "Empty Key", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &empty, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegCreateKeyExA(key, "Fleeting", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &fleeting, nullptr),
        ERROR_SUCCESS);
    HKEY out = 0;
    EXPECT_EQ(RegCreateKeyExA(fleeting, "Lasting", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
              ERROR_CHILD_MUST_BE_VOLATILE);
    RegCloseKey(fleeting);
    RegCloseKey(empty);
    RegCloseKey(key);

    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("\"Number\"=dword:12345678\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Expand\"=hex(2):25,48,4f,4d,45,25,5c,78,00\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Quotes \\\"and\\\" \\\\slashes\\\\\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("@=\"the default\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Año Árbol Карты\"=\"Información € 地图\"\r\n"), std::string::npos) << "UTF-8 as text";
    EXPECT_NE(text.find("\"Latin\"=hex(1):"), std::string::npos) << "bytes that are not UTF-8 go as hex";
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Kinds\\Empty Key]\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Fleeting"), std::string::npos) << "a volatile key reached the file";
    for (const auto &line : QString::fromLatin1(text.c_str()).split("\r\n"))
        EXPECT_LE(line.size(), 80) << line.toStdString();

    Reload();
    for (const auto &c : cases) {
        const auto value = Query("Software\\Kinds", c.name);
        ASSERT_TRUE(value) << c.name;
        EXPECT_EQ(value->type, c.type) << c.name;
        EXPECT_EQ(value->bytes, c.bytes) << c.name;
    }
    EXPECT_TRUE(testutil::KeyExists("Software\\Kinds\\Empty Key"));
    EXPECT_FALSE(testutil::KeyExists("Software\\Kinds\\Fleeting"));
}

TEST_F(Registry, ReadsAFileEditedByHand)
{
    WriteFile(file, "\nREGEDIT4\n"
                    "; settings copied from the old machine\n"
                    "[HKCU\\Software\\App]\n"
                    "  \"Folder\" = \"C:\\Mapas\\Nuevos\"\n"  // single backslashes as typed
                    "\"Escaped\"=\"C:\\\\Mapas\"\n"
                    "\"Gone\"=\"x\"\n"
                    "\"Gone\"=-\n"
                    "\"Level\"=DWORD:3\n"
                    "\"Long\"=hex:01,02,\\\n"
                    "    03,04\n"
                    "\"Nothing\"=hex:\n"
                    "[HKEY_CURRENT_USER\\Software\\Old]\n"
                    "\"V\"=\"1\"\n"
                    "[-HKEY_CURRENT_USER\\Software\\Old]\n"
                    "\"Ignored\"=\"below a deletion\"\n");
    EXPECT_EQ(QueryText("Software\\App", "Folder"), "C:\\Mapas\\Nuevos");
    EXPECT_EQ(QueryText("Software\\App", "Escaped"), "C:\\Mapas");
    EXPECT_FALSE(Query("Software\\App", "Gone"));
    const auto level = Query("Software\\App", "Level");
    ASSERT_TRUE(level);
    EXPECT_EQ(level->type, REG_DWORD);
    EXPECT_EQ(level->bytes, std::string("\x03\0\0\0", 4));
    const auto bytes = Query("Software\\App", "Long");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->bytes, "\x01\x02\x03\x04");
    EXPECT_EQ(Query("Software\\App", "Nothing")->bytes, "");
    EXPECT_FALSE(testutil::KeyExists("Software\\Old"));
    EXPECT_TRUE(testutil::FilesStartingWith(dir.path(), "registry.reg.corrupt").isEmpty());
}

TEST_F(Registry, LinesThatCannotBeReadAreSkippedAndTheFileIsKeptBesideIt)
{
    // Each file has one good value, "Good"="kept" under Software\App, besides its fault.
    const std::string good = "[HKEY_CURRENT_USER\\Software\\App]\r\n\"Good\"=\"kept\"\r\n";
    const std::string cases[] = {
        "garbage\r\n" + good,
        "REGEDIT4\r\n\"Orphan\"=\"a value before any key\"\r\n" + good,
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\App]\r\n\"Other\"=\"hive\"\r\n" + good,
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Bad\r\n\"Lost\"=\"x\"\r\n" + good,
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\\\Bad]\r\n" + good,
        "REGEDIT4\r\n" + good + "\"V\"=\"unterminated\r\n",
        "REGEDIT4\r\n" + good + "\"V\"=\"x\" trailing\r\n",
        "REGEDIT4\r\n" + good + "\"V\"=dword:123456789\r\n",
        "REGEDIT4\r\n" + good + "\"V\"=dword:\r\n",
        "REGEDIT4\r\n" + good + "\"V\"=hex:01,zz\r\n",
        "REGEDIT4\r\n" + good + "\"V\"=hex:01,,02\r\n",
        "REGEDIT4\r\n" + good + "\"V\"=hex(2:01\r\n",
        "REGEDIT4\r\n" + good + "\"V\"=text\r\n",
        "REGEDIT4\r\n" + good + "\"V\" \"x\"\r\n",
        "REGEDIT4\r\n" + good + std::string("\"V\"=\"a\0b\"\r\n", 11),
        "REGEDIT4\r\n" + good + "\"V\"=hex:01,\\\r\n",
    };
    for (const auto &content : cases) {
        SCOPED_TRACE(content);
        testutil::TempDir folder;
        const std::string path = folder.file("registry.reg");
        WriteFile(path, content);
        ASSERT_TRUE(RegistryUseFile(QString::fromStdString(path)));

        EXPECT_EQ(QueryText("Software\\App", "Good"), "kept") << "the rest of the file is used";
        EXPECT_FALSE(Query("Software\\App", "V"));
        const auto aside = testutil::FilesStartingWith(folder.path(), "registry.reg.corrupt-");
        ASSERT_EQ(aside.size(), 1);
        const std::string copy = folder.file(aside[0].toStdString());
        EXPECT_EQ(ReadFile(copy), content) << "the user's bytes are kept";
        EXPECT_EQ(RegistryTakeSkippedCopy().toStdString(), copy) << "named once";
        EXPECT_TRUE(RegistryTakeSkippedCopy().isEmpty());
        EXPECT_EQ(ReadFile(path), content) << "nothing is written until a save";

        const HKEY key = Create("Software\\App");
        ASSERT_EQ(SetText(key, "V", "fresh"), ERROR_SUCCESS);
        ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_NE(ReadFile(path).find("\"V\"=\"fresh\""), std::string::npos);
        EXPECT_NE(ReadFile(path).find("\"Good\"=\"kept\""), std::string::npos);
        EXPECT_EQ(ReadFile(copy), content);
        EXPECT_EQ(testutil::FilesStartingWith(folder.path(), "registry.reg.corrupt-").size(), 1);
    }
}

TEST_F(Registry, FilesAsRegeditWritesThemAreReadWhole)
{
    const std::string body = "[HKEY_CURRENT_USER\\Software\\App]\r\n\"Carpeta\"=\"/home/ana/Música\"\r\n";
    std::u16string utf16 = u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
                           u"[HKEY_CURRENT_USER\\Software\\App]\r\n\"Carpeta\"=\"/home/ana/Música\"\r\n";
    std::string utf16Bytes;
    for (const char16_t unit : utf16) {
        utf16Bytes += static_cast<char>(unit & 0xFF);
        utf16Bytes += static_cast<char>(unit >> 8);
    }
    const std::string cases[] = {
        "REGEDIT4\r\n\r\n" + body,
        "\xEF\xBB\xBFREGEDIT4\r\n\r\n" + body,
        "Windows Registry Editor Version 5.00\r\n\r\n" + body,
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n" + body,
        utf16Bytes,
        // Written by earlier versions, or by regedit's REGEDIT4 export: Windows-1252.
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\App]\r\n\"Carpeta\"=\"/home/ana/M\xFAsica\"\r\n",
        "REGEDIT4\n[HKCU\\Software\\App]\n\"Carpeta\"=\"/home/ana/Música\"\n",
    };
    for (const auto &content : cases) {
        SCOPED_TRACE(content);
        WriteFile(file, content);
        Reload();
        EXPECT_EQ(QueryText("Software\\App", "Carpeta"), "/home/ana/Música");
        EXPECT_TRUE(RegistryTakeSkippedCopy().isEmpty());
        EXPECT_TRUE(testutil::FilesStartingWith(dir.path(), "registry.reg.corrupt").isEmpty());
    }
}

TEST_F(Registry, SettingsPathThatIsNoRegularFileFailsAtOnce)
{
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    HKEY key = 0;
    // Opening a FIFO for reading would wait for a writer for ever.
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\App", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_BAD_FILE_TYPE);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    ASSERT_EQ(::mkdir(file.c_str(), 0700), 0);
    Reload();
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\App", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_BAD_FILE_TYPE);
    EXPECT_EQ(RegistryOpenKeyCount(), 0);
}

TEST_F(Registry, DanglingSymbolicLinkIsWrittenThroughAndStays)
{
    const std::string real = dir.file("elsewhere.reg");
    ASSERT_EQ(::symlink("elsewhere.reg", file.c_str()), 0);
    const HKEY key = Create("Software\\App");
    ASSERT_EQ(SetText(key, "V", "through"), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(ReadFile(real).find("\"V\"=\"through\""), std::string::npos);
}

TEST_F(Registry, SecondCorruptFileGetsANameOfItsOwn)
{
    for (int round = 0; round < 2; ++round) {
        WriteFile(file, "broken " + std::to_string(round));
        Reload();
        HKEY key = 0;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    }
    const auto aside = testutil::FilesStartingWith(dir.path(), "registry.reg.corrupt-");
    ASSERT_EQ(aside.size(), 2);
    std::set<std::string> contents;
    for (const auto &name : aside)
        contents.insert(ReadFile(dir.file(name.toStdString())));
    EXPECT_EQ(contents, (std::set<std::string>{"broken 0", "broken 1"}));
}

TEST_F(Registry, ReadOnlyFolderFailsTheLastCloseAndKeepsTheChangePending)
{
    const HKEY key = Create("Software\\App");
    ASSERT_EQ(SetText(key, "V", "old"), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    const std::string before = ReadFile(file);
    testutil::GiveToUnprivilegedUser(dir.path());

    testutil::RunWithoutRoot([&] {
        ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
        const HKEY again = Create("Software\\App");
        ASSERT_EQ(SetText(again, "V", "new"), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(again), ERROR_ACCESS_DENIED);
        EXPECT_EQ(RegistryOpenKeyCount(), 0) << "the handle is closed all the same";
        EXPECT_EQ(ReadFile(file), before);
        EXPECT_EQ(testutil::FilesStartingWith(dir.path(), ".registry").size(), 0);
        EXPECT_EQ(QueryText("Software\\App", "V"), "new") << "the process goes on with its own values";

        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        const HKEY later = Create("Software\\App");
        EXPECT_EQ(RegCloseKey(later), ERROR_SUCCESS);
        EXPECT_NE(ReadFile(file).find("\"V\"=\"new\""), std::string::npos) << "the pending change was written";
    });
}

TEST_F(Registry, CorruptFileInAReadOnlyFolderIsNeverWrittenOver)
{
    WriteFile(file, "not a registry file");
    testutil::GiveToUnprivilegedUser(dir.path());
    testutil::RunWithoutRoot([&] {
        ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
        HKEY key = Create("Software\\App");
        ASSERT_EQ(SetText(key, "V", "new"), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_ACCESS_DENIED);
        EXPECT_EQ(ReadFile(file), "not a registry file");
        EXPECT_TRUE(testutil::FilesStartingWith(dir.path(), "registry.reg.corrupt-").isEmpty());

        // Once the folder can be written, the old file's copy is kept first, then the hive is
        // written.
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        key = Create("Software\\App");
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        const auto aside = testutil::FilesStartingWith(dir.path(), "registry.reg.corrupt-");
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(ReadFile(dir.file(aside[0].toStdString())), "not a registry file");
        EXPECT_NE(ReadFile(file).find("\"V\"=\"new\""), std::string::npos);
        EXPECT_EQ(RegistryTakeSkippedCopy().toStdString(), dir.file(aside[0].toStdString()));
    });
}

TEST_F(Registry, UnreadableFileIsLeftAloneAndReported)
{
    WriteFile(file, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\App]\r\n\"V\"=\"mine\"\r\n");
    testutil::GiveToUnprivilegedUser(dir.path());
    testutil::RunWithoutRoot([&] {
        ASSERT_EQ(::chmod(file.c_str(), 0), 0);
        HKEY key = 0;
        EXPECT_EQ(
            RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\App", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
        EXPECT_TRUE(testutil::FilesStartingWith(dir.path(), "registry.reg.corrupt").isEmpty());
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
        EXPECT_EQ(QueryText("Software\\App", "V"), "mine") << "read once it can be read";
    });
}

TEST_F(Registry, MissingFoldersAreCreatedAndFileModeIsKept)
{
    const std::string nested = dir.file("a/b/registry.reg");
    ASSERT_TRUE(RegistryUseFile(QString::fromStdString(nested)));
    HKEY key = Create("Software\\App");
    ASSERT_EQ(SetText(key, "V", "1"), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(nested)));
    struct stat st {};
    ASSERT_EQ(::stat(nested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "settings are private to the user";

    ASSERT_EQ(::chmod(nested.c_str(), 0644), 0);
    key = Create("Software\\App");
    ASSERT_EQ(SetText(key, "V", "2"), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(::stat(nested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "a mode the user chose is kept";
}

TEST_F(Registry, SymbolicLinkToTheFileIsKept)
{
    const std::string real = dir.file("elsewhere.reg");
    WriteFile(real, "REGEDIT4\r\n");
    ASSERT_EQ(::symlink(real.c_str(), file.c_str()), 0);
    const HKEY key = Create("Software\\App");
    ASSERT_EQ(SetText(key, "V", "through the link"), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(file)).isSymLink());
    EXPECT_NE(ReadFile(real).find("through the link"), std::string::npos);
}

TEST_F(Registry, TemporaryFilesOfDeadWritersAreRemoved)
{
    const std::string dead = dir.file(".registry.reg.999999999.tmp");  // above any pid the kernel gives
    const std::string living = dir.file(".registry.reg." + std::to_string(::getppid()) + ".tmp");
    const std::string other = dir.file(".other.reg.999999999.tmp");
    WriteFile(dead, "REGEDIT4\r\n[HKEY_CURRENT_USER\\Soft");
    WriteFile(living, "being written");
    WriteFile(other, "not ours");
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dead)));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(living)));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(other)));
}

TEST_F(Registry, LeftoversAreRemovedOnlyWhenTheyAreADeadWritersOwnFiles)
{
    struct Case {
        const char *name;
        enum { File, Link, Folder } kind;
        bool removed;
    };
    const Case cases[] = {
        {".registry.reg.999999999.0badf00d.tmp", Case::File, true},
        {".registry.reg.999999999.tmp", Case::File, true},
        {".registry.reg.999999999.0badf00d.tmp.keep", Case::File, false},
        {".registry.reg.999999999.0BADF00D.tmp", Case::File, false},
        {".registry.reg.999999999.0badf0.tmp", Case::File, false},
        {".registry.reg.999999999.notes.tmp", Case::File, false},
        {".registry.reg.+99999999.tmp", Case::File, false},
        {".registry.reg.999999998.00000000.tmp", Case::Link, false},
        {".registry.reg.999999997.00000000.tmp", Case::Folder, false},
    };
    const std::string victim = dir.file("victim");
    WriteFile(victim, "keep me");
    for (const Case &c : cases) {
        const std::string path = dir.file(c.name);
        if (c.kind == Case::File)
            WriteFile(path, "left");
        else if (c.kind == Case::Link)
            ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
        else
            ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    }
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    for (const Case &c : cases) {
        struct stat st {};
        EXPECT_EQ(::lstat(dir.file(c.name).c_str(), &st) != 0, c.removed) << c.name;
    }
    EXPECT_EQ(ReadFile(victim), "keep me");
}

TEST_F(Registry, SavingNeverWritesThroughALinkPlantedUnderATemporaryName)
{
    // Every name an earlier version would have used for this process, and a few of the new form,
    // each a link to a file of the user's that must stay as it is.
    const std::string victim = dir.file("victim");
    WriteFile(victim, "keep me");
    const std::string pid = std::to_string(::getpid());
    std::vector<std::string> planted = {dir.file(".registry.reg." + pid + ".tmp")};
    for (const char *random : {"00000000", "ffffffff", "12345678"})
        planted.push_back(dir.file(".registry.reg." + pid + "." + random + ".tmp"));
    for (const auto &link : planted)
        ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);

    for (const char *value : {"first", "second"}) {
        const HKEY key = Create("Software\\App");
        ASSERT_EQ(SetText(key, "V", value), ERROR_SUCCESS);
        ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        Reload();
        EXPECT_EQ(QueryText("Software\\App", "V"), value);
    }
    EXPECT_EQ(ReadFile(victim), "keep me");
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the settings file is a file of its own, not a planted link";
    for (const auto &link : planted) {
        ASSERT_EQ(::lstat(link.c_str(), &st), 0) << link;
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
    }
    EXPECT_EQ(testutil::FilesStartingWith(dir.path(), ".registry").size(), planted.size())
        << "no temporary file of ours is left";
}

TEST_F(Registry, ChangeThroughTheRootWithNoKeyOpenIsWrittenAtOnce)
{
    ASSERT_EQ(SetText(HKEY_CURRENT_USER, "RootValue", "r"), ERROR_SUCCESS);
    EXPECT_NE(ReadFile(file).find("[HKEY_CURRENT_USER]\r\n\"RootValue\"=\"r\""), std::string::npos);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST_F(Registry, KeysAreListedInTheFileWithoutRegardToLetterCase)
{
    for (const char *name : {"Software\\beta", "Software\\Alpha", "Software\\GAMMA"})
        RegCloseKey(Create(name));
    const std::string text = ReadFile(file);
    const auto alpha = text.find("\\Alpha]"), beta = text.find("\\beta]"), gamma = text.find("\\GAMMA]");
    ASSERT_NE(gamma, std::string::npos);
    EXPECT_LT(alpha, beta);
    EXPECT_LT(beta, gamma);
}

TEST(RegistryLocation, DefaultFileIsInTheUserConfigurationFolder)
{
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    ASSERT_FALSE(config.isEmpty());
    EXPECT_EQ(RegistryDefaultFile(), QString::fromLocal8Bit(config) + "/drovanel/registry.reg");
}

}  // namespace
