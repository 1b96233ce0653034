// The points map conversion on real files in a temporary folder: records against device model and
// level, the line rules of the points files, and failures that must leave the user's map alone.
#include "common/ExceptionText.h"
#include "common/TempDir.h"
#include "framework/Exceptions.h"
#include "framework/PartFile.h"
#include "framework/TextFile.h"
#include "shell/Conversion.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using testutil::ReadFile;
using testutil::WriteFile;
namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

const std::string kHeader = "574C,Mapa de puntos 010101,v2";

// A record: 14 characters of point data, the alert character, the type code, and its tail.
std::string Record(const std::string &data, char alert, char type, const std::string &tail = "")
{
    EXPECT_EQ(data.size(), 14u);
    return data + alert + type + tail;
}

std::string CrLf(const std::vector<std::string> &lines)
{
    std::string bytes;
    for (const auto &line : lines)
        bytes += line + "\r\n";
    return bytes;
}

shell::ConversionResult Convert(const std::string &source, const std::string &destination, int model,
                                const shell::AlertLevels &levels)
{
    return shell::ConvertPointsFile(source, destination, model, levels);
}

// ---------------------------------------------------------------------------------------------
// Records against device model and level.

// The records of one type in the test map: one with a tail, one of exactly 16 characters, and one
// whose alert character is already one the conversion writes.
std::vector<std::string> RecordsOfType(char type)
{
    const std::string data = "-03" + std::string(1, type) + "2345+40412";
    return {Record(data, 'V', type, ",120,A-6 PK 23.4"), Record(data, '3', type), Record(data, 'F', type, " x")};
}

// Lines that have no point type: every one must be left out for every model and level.
const std::vector<std::string> kUntyped = {
    "",
    "-0312345+40412",                           // 14 characters
    "-0312345+404121",                          // 15, a type code at position 15
    "-0312345+40412V",                          // 15
    Record("-0312345+40412", 'V', '0', ",90"),  // "0", "8" and letters at position 16
    Record("-0312345+40412", 'V', '8'),
    Record("-0312345+40412", '1', 'A', "tail"),
    Record("-0312345+40412", '2', 'a'),
    Record("-0312345+40412", '3', ' ', "7"),
    Record("-0312345+40412", '4', '\xB9'),  // superscript one in the code page
};

std::vector<std::string> TestMap()
{
    std::vector<std::string> lines = {kHeader};
    for (char type = '1'; type <= '7'; ++type) {
        for (const auto &record : RecordsOfType(type))
            lines.push_back(record);
        lines.push_back(kUntyped[static_cast<size_t>(type - '1')]);
    }
    lines.insert(lines.end(), kUntyped.begin() + 7, kUntyped.end());
    return lines;
}

enum class Writes { Nothing, Unchanged, SoundOnly, NoSpeedCheck };

struct LevelCase {
    const char *name;
    int model;
    int level;
    Writes writes;
};

void PrintTo(const LevelCase &c, std::ostream *os)
{
    *os << c.name;
}

class RecordsByModelAndLevel : public ::testing::TestWithParam<LevelCase> {};

TEST_P(RecordsByModelAndLevel, EveryTypeCode)
{
    const LevelCase &c = GetParam();
    testutil::TempDir dir;
    const auto source = dir.file("temp.mdb");
    const auto destination = dir.file("Watcher-010101.mdb");
    WriteFile(source, CrLf(TestMap()));

    for (int type = 0; type < shell::kPointTypes; ++type) {
        const char code = static_cast<char>('1' + type);
        SCOPED_TRACE("type code "s + code);
        // The chosen model's bar for this type at the level under test and its other bars at 0;
        // every bar of the other model at its fullest level, which would let records through if it
        // counted.
        std::map<std::string, int> bars;
        for (int t = 0; t < shell::kPointTypes; ++t) {
            bars[shell::kWatcherLevelBars[t]] = c.model == shell::kSentryIII ? 3 : (t == type ? c.level : 0);
            bars[shell::kSentryLevelBars[t]] = c.model == shell::kWatcher ? 2 : (t == type ? c.level : 0);
        }
        shell::AlertLevels levels = shell::ReadAlertLevels(c.model, [&](const char *bar) { return bars.at(bar); });
        if (c.model != shell::kWatcher && c.model != shell::kSentryIII)
            levels.fill(c.level);  // whatever the levels, these models write no records

        ASSERT_EQ(Convert(source, destination, c.model, levels), shell::ConversionResult::Converted);

        std::vector<std::string> expected = {kHeader};
        for (const auto &record : RecordsOfType(code)) {
            switch (c.writes) {
            case Writes::Nothing: break;
            case Writes::Unchanged: expected.push_back(record); break;
            case Writes::SoundOnly: expected.push_back(record.substr(0, 14) + "F" + code); break;
            case Writes::NoSpeedCheck: expected.push_back(record.substr(0, 14) + "0" + code); break;
            }
        }
        EXPECT_EQ(ReadFile(destination), CrLf(expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, RecordsByModelAndLevel,
                         ::testing::Values(LevelCase{"WatcherBelowRange", shell::kWatcher, -1, Writes::Nothing},
                                           LevelCase{"WatcherSin", shell::kWatcher, 0, Writes::Nothing},
                                           LevelCase{"WatcherMin", shell::kWatcher, 1, Writes::SoundOnly},
                                           LevelCase{"WatcherMed", shell::kWatcher, 2, Writes::NoSpeedCheck},
                                           LevelCase{"WatcherMax", shell::kWatcher, 3, Writes::Unchanged},
                                           LevelCase{"WatcherAboveRange", shell::kWatcher, 4, Writes::Nothing},
                                           LevelCase{"SentryBelowRange", shell::kSentryIII, -1, Writes::Nothing},
                                           LevelCase{"SentrySin", shell::kSentryIII, 0, Writes::Nothing},
                                           LevelCase{"SentryMed", shell::kSentryIII, 1, Writes::NoSpeedCheck},
                                           LevelCase{"SentryMax", shell::kSentryIII, 2, Writes::Unchanged},
                                           LevelCase{"SentryAboveRange", shell::kSentryIII, 3, Writes::Nothing},
                                           LevelCase{"GrayRoverAtOne", shell::kGrayRoverII, 1, Writes::Nothing},
                                           LevelCase{"GrayRoverAtTwo", shell::kGrayRoverII, 2, Writes::Nothing},
                                           LevelCase{"GrayRoverAtThree", shell::kGrayRoverII, 3, Writes::Nothing},
                                           LevelCase{"NoSelectionAtTwo", -1, 2, Writes::Nothing},
                                           LevelCase{"NoSelectionAtThree", -1, 3, Writes::Nothing}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Conversion, WatcherAtFullLevelsCopiesEveryTypedRecord)
{
    testutil::TempDir dir;
    const auto source = dir.file("temp.mdb");
    const auto destination = dir.file("Watcher-010101.mdb");
    WriteFile(source, CrLf(TestMap()));
    ASSERT_EQ(Convert(source, destination, shell::kWatcher, {3, 3, 3, 3, 3, 3, 3}), shell::ConversionResult::Converted);
    std::vector<std::string> expected;
    for (const auto &line : TestMap()) {
        if (line.size() >= 16 && line[15] >= '1' && line[15] <= '7')
            expected.push_back(line);
    }
    EXPECT_EQ(ReadFile(destination), CrLf({kHeader}) + CrLf(expected));
}

TEST(Conversion, LevelBarsFollowTheirTypeCodes)
{
    // Types "3" and "4" got their bars last; a bar read for the wrong type shows up here.
    std::vector<std::string> asked;
    const auto watcher = shell::ReadAlertLevels(shell::kWatcher, [&](const char *bar) {
        asked.emplace_back(bar);
        return static_cast<int>(asked.size());
    });
    EXPECT_EQ(asked, (std::vector<std::string>{"cxTrackBar1", "cxTrackBar2", "cxTrackBar11", "cxTrackBar12",
                                               "cxTrackBar3", "cxTrackBar4", "cxTrackBar5"}));
    EXPECT_EQ(watcher, (shell::AlertLevels{1, 2, 3, 4, 5, 6, 7}));
    asked.clear();
    shell::ReadAlertLevels(shell::kSentryIII, [&](const char *bar) {
        asked.emplace_back(bar);
        return 0;
    });
    EXPECT_EQ(asked, (std::vector<std::string>{"cxTrackBar6", "cxTrackBar7", "cxTrackBar13", "cxTrackBar14",
                                               "cxTrackBar8", "cxTrackBar9", "cxTrackBar10"}));
    asked.clear();
    EXPECT_EQ(shell::ReadAlertLevels(shell::kGrayRoverII,
                                     [&](const char *bar) {
                                         asked.emplace_back(bar);
                                         return 3;
                                     }),
              (shell::AlertLevels{}));
    EXPECT_TRUE(asked.empty());
}

TEST(Conversion, AlertVariantsKeepSixteenCharacters)
{
    struct Case {
        std::string record;
        char alert;
        std::string variant;
    };
    const std::vector<Case> cases = {
        {"-0312345+40412V5,120,A-6", '0', "-0312345+4041205"},
        {"-0312345+40412V5", 'F', "-0312345+40412F5"},
        {"-0312345+40412V", '0', "-0312345+404120"},  // no position 16
        {"-0312", '0', "-03120"},
        {"", 'F', "F"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(shell::AlertVariant(c.record, c.alert), c.variant) << c.record;
}

// ---------------------------------------------------------------------------------------------
// The line rules of the points files.

struct FileCase {
    const char *name;
    std::string source;
    int level;  // every Watcher level
    bool valid;
    std::string converted;  // when valid
};

void PrintTo(const FileCase &c, std::ostream *os)
{
    *os << c.name;
}

class FileRules : public ::testing::TestWithParam<FileCase> {};

const std::string kRec5 = Record("-0312345+40412", 'V', '5', ",60");
const std::string kRec2 = Record("+0012345-00001", 'R', '2');
// Records as long as the text reader takes: past the output's reserve too, so they are written
// the long way.
const std::string kTailToTheCap(fw::TextFileReader::kMaxLineBytes - kRec5.size(), 'm');

TEST_P(FileRules, AsReadAndWritten)
{
    const FileCase &c = GetParam();
    testutil::TempDir dir;
    const auto source = dir.file("temp.mdb");
    const auto destination = dir.file("Watcher-010101.mdb");
    WriteFile(source, c.source);
    WriteFile(destination, "previous map\r\n");
    const auto result =
        Convert(source, destination, shell::kWatcher, {c.level, c.level, c.level, c.level, c.level, c.level, c.level});
    if (c.valid) {
        EXPECT_EQ(result, shell::ConversionResult::Converted);
        EXPECT_EQ(ReadFile(destination), c.converted);
    } else {
        EXPECT_EQ(result, shell::ConversionResult::InvalidHeader);
        EXPECT_EQ(ReadFile(destination), "previous map\r\n");
    }
    EXPECT_EQ(ReadFile(source), c.source);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FileRules,
    ::testing::Values(FileCase{"MarkInLowerCase", "574c\r\n" + kRec5 + "\r\n", 3, false, ""},
                      FileCase{"EmptyFile", "", 3, false, ""},
                      FileCase{"MarkCutShort", "574\r\n" + kRec5 + "\r\n", 3, false, ""},
                      FileCase{"MarkNotAtTheStart", " 574C\r\n", 3, false, ""},
                      FileCase{"MarkOnLineTwo", "\r\n574C\r\n", 3, false, ""},
                      FileCase{"CtrlZBeforeTheMark",
                               "\x1A"
                               "574C\r\n",
                               3, false, ""},
                      FileCase{"HeaderOnly", "574C,v1\r\n", 3, true, "574C,v1\r\n"},
                      FileCase{"HeaderWithoutLineEnd", "574C", 3, true, "574C\r\n"},
                      FileCase{"MarkAloneIsEnough", "574C\r\n" + kRec2 + "\r\n", 3, true, "574C\r\n" + kRec2 + "\r\n"},
                      FileCase{"CrLfOnEveryLine", "574C\r" + kRec5 + "\r" + kRec2, 3, true,
                               "574C\r\n" + kRec5 + "\r\n" + kRec2 + "\r\n"},
                      FileCase{"CrCrLfIsAnEmptyLine", "574C\r\r\n" + kRec2 + "\r\n", 3, true,
                               "574C\r\n" + kRec2 + "\r\n"},
                      FileCase{"LoneLfRunsIntoTheNextLine", "574C\r\n" + kRec5 + "\n" + kRec2 + "\r\n", 3, true,
                               "574C\r\n" + kRec5 + "\n" + kRec2 + "\r\n"},
                      FileCase{"LoneLfLineRewrittenByItsOwnType", "574C\r\n" + kRec5 + "\n" + kRec2 + "\r\n", 1, true,
                               "574C\r\n-0312345+40412F5\r\n"},
                      FileCase{"LoneLfInTheHeader", "574C\n" + kRec5 + "\r\n" + kRec2 + "\r\n", 3, true,
                               "574C\n" + kRec5 + "\r\n" + kRec2 + "\r\n"},
                      FileCase{"LoneLfCountsAsACharacter", "574C\r\n-0312\n45+40412V5,tail\r\n", 3, true,
                               "574C\r\n-0312\n45+40412V5,tail\r\n"},
                      FileCase{"LoneLfCountsAsACharacterRewritten", "574C\r\n-0312\n45+40412V5,tail\r\n", 1, true,
                               "574C\r\n-0312\n45+40412F5\r\n"},
                      FileCase{"CtrlZEndsTheFile", "574C\r\n" + kRec5 + "\r\n\x1A" + kRec2 + "\r\n", 3, true,
                               "574C\r\n" + kRec5 + "\r\n"},
                      FileCase{"CtrlZInsideARecord",
                               "574C\r\n" + kRec5 +
                                   "\x1A"
                                   "tail\r\n" +
                                   kRec2 + "\r\n",
                               3, true, "574C\r\n" + kRec5 + "\r\n"},
                      FileCase{"CtrlZCutsARecordShort",
                               "574C\r\n-0312345+40412V\x1A"
                               "5\r\n",
                               3, true, "574C\r\n"},
                      FileCase{"CtrlZInTheHeader", "574C,v\x1A\r\n" + kRec2 + "\r\n", 3, true, "574C,v\r\n"},
                      FileCase{"LineAtTheCapCopied", "574C\r\n" + kRec5 + kTailToTheCap + "\r\n" + kRec2, 3, true,
                               "574C\r\n" + kRec5 + kTailToTheCap + "\r\n" + kRec2 + "\r\n"},
                      FileCase{"LineAtTheCapRewritten", "574C\r\n" + kRec5 + kTailToTheCap + "\r\n" + kRec2, 2, true,
                               "574C\r\n-0312345+4041205\r\n+0012345-0000102\r\n"},
                      FileCase{"HeaderAtTheCap", "574C" + kTailToTheCap.substr(4) + kRec5 + "\r\n" + kRec2 + "\r\n", 3,
                               true, "574C" + kTailToTheCap.substr(4) + kRec5 + "\r\n" + kRec2 + "\r\n"},
                      FileCase{"BytesAreNotTranscoded",
                               "574C\xE1\xF1\r\n-0312345+40412\xE9"
                               "1\xFC\x80\0\r\n"s,
                               3, true,
                               "574C\xE1\xF1\r\n-0312345+40412\xE9"
                               "1\xFC\x80\0\r\n"s}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Failures: the user's map stays as it was, and nothing is left behind.

// Root passes every permission check, so the cases of refused access have the process give up
// that power for a while (in its effective capabilities only, so that it can take it back).
class WithoutFileOverrides {
public:
    WithoutFileOverrides()
    {
        if (::geteuid() != 0)
            return;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        m_lowered = ::syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~WithoutFileOverrides()
    {
        if (m_lowered)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    WithoutFileOverrides(const WithoutFileOverrides &) = delete;
    WithoutFileOverrides &operator=(const WithoutFileOverrides &) = delete;

    bool Works() const { return ::geteuid() != 0 || m_lowered; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_lowered = false;
};

// Files written beyond a size limit fail with EFBIG: a write error in the middle of a conversion,
// on any file system.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
};

// Every file under a folder with its bytes (folders as "<dir>"), to compare before and after.
std::map<std::string, std::string> Snapshot(const std::string &folder)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        const auto name = fs::relative(entry.path(), folder).string();
        files[name] = entry.is_directory() ? "<dir>" : ReadFile(entry.path().string());
    }
    return files;
}

// Compares without printing whole maps (a failure with megabytes of text would drown the report).
void ExpectSameFiles(const std::map<std::string, std::string> &before, const std::map<std::string, std::string> &after)
{
    std::vector<std::string> namesBefore, namesAfter;
    for (const auto &entry : before)
        namesBefore.push_back(entry.first);
    for (const auto &entry : after)
        namesAfter.push_back(entry.first);
    ASSERT_EQ(namesAfter, namesBefore);
    for (const auto &[name, bytes] : before) {
        const std::string &now = after.at(name);
        EXPECT_TRUE(now == bytes) << name << " changed: " << bytes.size() << " bytes before, " << now.size() << " now";
    }
}

struct Paths {
    std::string source;
    std::string destination;
};

struct FailureCase {
    const char *name;
    std::function<Paths(const testutil::TempDir &)> setUp;
    int errorCode;  // 0: an invalid header, which is not an error
    // Takes a permission away (after the snapshot, which must still read everything).
    std::function<void(const Paths &)> refuse = {};
    bool overlongLine = false;  // the error is OverlongLineText, not the system's
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

const std::string kPreviousMap = "574C,old\r\n" + kRec5 + "\r\n";
const std::string kNewMap = "574C,new\r\n" + kRec2 + "\r\n" + kRec5 + kTailToTheCap + "\r\n";

Paths Ordinary(const testutil::TempDir &dir, const std::string &sourceBytes)
{
    WriteFile(dir.file("temp.mdb"), sourceBytes);
    WriteFile(dir.file("Watcher-010101.mdb"), kPreviousMap);
    return {dir.file("temp.mdb"), dir.file("Watcher-010101.mdb")};
}

class Failures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failures, LeaveThePreviousMapAsItWas)
{
    const FailureCase &c = GetParam();
    testutil::TempDir dir;
    const Paths paths = c.setUp(dir);
    const auto before = Snapshot(dir.path());
    if (c.refuse)
        c.refuse(paths);

    fw::TextFileReader origen;
    fw::TextFileWriter destino;
    {
        WithoutFileOverrides lowered;
        if (c.refuse && !lowered.Works())
            GTEST_SKIP() << "permission checks cannot be made to apply to this process";
        try {
            const auto result = shell::ConvertPointsFile(origen, destino, paths.source, paths.destination,
                                                         shell::kWatcher, {3, 3, 3, 3, 3, 3, 3});
            EXPECT_FALSE(c.overlongLine) << "no error reported";
            EXPECT_EQ(c.errorCode, 0) << "no error reported";
            EXPECT_EQ(result, shell::ConversionResult::InvalidHeader);
        } catch (const fw::EInOutError &e) {
            EXPECT_EQ(e.ErrorCode(), c.errorCode) << e.Message();
            EXPECT_EQ(e.Message(), std::strerror(c.errorCode));
        } catch (const fw::Exception &e) {
            EXPECT_TRUE(c.overlongLine) << e.Message();
            EXPECT_EQ(e.Message(), shell::OverlongLineText(fw::TextFileReader::kMaxLineBytes));
        }
    }
    EXPECT_FALSE(origen.IsOpen());
    EXPECT_FALSE(destino.IsOpen());
    // Permissions back, so that the snapshot can read everything and the folder can be removed.
    for (const auto &entry : fs::recursive_directory_iterator(dir.path()))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
    ExpectSameFiles(before, Snapshot(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Failures,
    ::testing::Values(
        FailureCase{"InvalidHeader", [](const auto &dir) { return Ordinary(dir, "574c\r\n" + kRec2 + "\r\n"); }, 0},
        FailureCase{"EmptySource", [](const auto &dir) { return Ordinary(dir, ""); }, 0},
        FailureCase{"MissingSource",
                    [](const auto &dir) {
                        WriteFile(dir.file("Watcher-010101.mdb"), kPreviousMap);
                        return Paths{dir.file("temp.mdb"), dir.file("Watcher-010101.mdb")};
                    },
                    ENOENT},
        FailureCase{"UnreadableSource", [](const auto &dir) { return Ordinary(dir, kNewMap); }, EACCES,
                    [](const Paths &paths) { fs::permissions(paths.source, fs::perms::none); }},
        FailureCase{"SourceIsAFolder",  // opens, then fails at the first read
                    [](const auto &dir) {
                        fs::create_directory(dir.file("temp.mdb"));
                        WriteFile(dir.file("Watcher-010101.mdb"), kPreviousMap);
                        return Paths{dir.file("temp.mdb"), dir.file("Watcher-010101.mdb")};
                    },
                    EISDIR},
        FailureCase{"ReadOnlyDestinationFolder",
                    [](const auto &dir) {
                        fs::create_directory(dir.file("maps"));
                        WriteFile(dir.file("temp.mdb"), kNewMap);
                        WriteFile(dir.file("maps/Watcher-010101.mdb"), kPreviousMap);
                        return Paths{dir.file("temp.mdb"), dir.file("maps/Watcher-010101.mdb")};
                    },
                    EACCES,
                    [](const Paths &paths) {
                        fs::permissions(fs::path(paths.destination).parent_path(),
                                        fs::perms::owner_read | fs::perms::owner_exec);
                    }},
        FailureCase{"ReadOnlyDestination", [](const auto &dir) { return Ordinary(dir, kNewMap); }, EACCES,
                    [](const Paths &paths) { fs::permissions(paths.destination, fs::perms::owner_read); }},
        FailureCase{"MissingDestinationFolder",
                    [](const auto &dir) {
                        WriteFile(dir.file("temp.mdb"), kNewMap);
                        return Paths{dir.file("temp.mdb"), dir.file("no/Watcher-010101.mdb")};
                    },
                    ENOENT},
        FailureCase{"DestinationIsAFolder",  // fails only when the converted map is put in place
                    [](const auto &dir) {
                        WriteFile(dir.file("temp.mdb"), kNewMap);
                        fs::create_directory(dir.file("Watcher-010101.mdb"));
                        WriteFile(dir.file("Watcher-010101.mdb/inside"), kPreviousMap);
                        return Paths{dir.file("temp.mdb"), dir.file("Watcher-010101.mdb")};
                    },
                    EISDIR},
        // One byte past the cap, in a record after half a megabyte of good ones (the output has
        // been written to by then) and in the header.
        FailureCase{"RecordPastTheLineCap",
                    [](const auto &dir) {
                        std::string source = "574C\r\n";
                        while (source.size() < 512 * 1024)
                            source += kRec2 + "\r\n";
                        return Ordinary(dir, source + kRec5 + kTailToTheCap + "m\r\n" + kRec2 + "\r\n");
                    },
                    0,
                    {},
                    true},
        FailureCase{"HeaderPastTheLineCap",
                    [](const auto &dir) { return Ordinary(dir, "574C" + kTailToTheCap.substr(3) + kRec5); },
                    0,
                    {},
                    true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Conversion, WriteErrorHalfwayLeavesThePreviousMap)
{
    testutil::TempDir dir;
    std::string source = kHeader + "\r\n";
    while (source.size() < 2 * 1024 * 1024)
        source += kRec5 + "\r\n" + kRec2 + "\r\n";
    const Paths paths = Ordinary(dir, source);
    const auto before = Snapshot(dir.path());
    try {
        FileSizeLimit limit(300 * 1024);  // the first block is written, the second is not
        (void)Convert(paths.source, paths.destination, shell::kWatcher, {3, 3, 3, 3, 3, 3, 3});
        FAIL() << "a failed write was reported as success";
    } catch (const fw::EInOutError &e) {
        EXPECT_EQ(e.ErrorCode(), EFBIG);
    }
    ExpectSameFiles(before, Snapshot(dir.path()));
}

TEST(Conversion, ReplacesThePreviousMapAndLeavesTheSource)
{
    testutil::TempDir dir;
    const Paths paths = Ordinary(dir, kNewMap);
    ASSERT_EQ(Convert(paths.source, paths.destination, shell::kWatcher, {3, 3, 3, 3, 3, 3, 3}),
              shell::ConversionResult::Converted);
    EXPECT_EQ(ReadFile(paths.destination), kNewMap);
    EXPECT_EQ(ReadFile(paths.source), kNewMap);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(Conversion, RelativeNamesResolveAgainstTheCurrentFolder)
{
    testutil::TempDir dir;
    WriteFile(dir.file("temp.mdb"), kNewMap);
    struct InFolder {
        fs::path previous = fs::current_path();
        explicit InFolder(const std::string &folder) { fs::current_path(folder); }
        ~InFolder() { fs::current_path(previous); }
    } inFolder(dir.path());
    ASSERT_EQ(Convert(shell::kDownloadFileName, "Watcher-010101.mdb", shell::kSentryIII, {1, 1, 1, 1, 1, 1, 1}),
              shell::ConversionResult::Converted);
    EXPECT_EQ(ReadFile(dir.file("Watcher-010101.mdb")), "574C,new\r\n+0012345-0000102\r\n-0312345+4041205\r\n");
}

// ---------------------------------------------------------------------------------------------
// What Transformar needs around the conversion.

TEST(Conversion, DestinationNameCheck)
{
    const std::vector<std::pair<std::string, bool>> names = {
        {"Watcher-010101.mdb", true},
        {"WATCHER-010101.MDB", true},
        {"Watcher-010101.Mdb", true},
        {"mapa.mdb.bak", true},
        {".mdb", true},
        {"Watcher-010101.md", false},
        {"Watcher-010101mdb", false},
        {"Watcher-010101_mdb", false},
        {"", false},
    };
    for (const auto &[name, valid] : names)
        EXPECT_EQ(shell::IsPointsFileName(name), valid) << name;
}

TEST(Conversion, DeletingTheDownload)
{
    testutil::TempDir dir;
    WriteFile(dir.file("temp.mdb"), kNewMap);
    WriteFile(dir.file("Watcher-010101.mdb"), kPreviousMap);
    shell::DeleteDownload(dir.path());
    EXPECT_FALSE(fs::exists(dir.file("temp.mdb")));
    EXPECT_TRUE(fs::exists(dir.file("Watcher-010101.mdb")));
    shell::DeleteDownload(dir.path());  // already gone: nothing to report
    shell::DeleteDownload(dir.file("no/such/folder"));
}

TEST(Conversion, MessagesAreUtf8Texts)
{
    EXPECT_EQ(shell::InvalidDestinationNameText(), "No ha seleccionado un fichero final de datos válido!");
    EXPECT_EQ(shell::InvalidPointsFileText(), "¡Fichero de Watcher no válido!");
    EXPECT_EQ(shell::MapReceivedText(), "¡¡Fichero recibido!!\r\rEste nuevo fichero de datos le "
                                        "servirá\rpara cargar su Sentry III o Watcher");
}

}  // namespace

// A conversion killed midway leaves its part file; the next start removes it, but never the part
// file of a conversion that is still running here or in another process.
TEST(Conversion, LeftoverPartFilesOfEndedProcessesAreRemoved)
{
    testutil::TempDir dir;
    // A process that has ended: its id is free until the system hands it out again.
    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ASSERT_GT(ended, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(ended, &status, 0), ended);

    const std::string endedPart = ".drovanel-" + std::to_string(ended) + "-3.part";
    const std::string ownPart = ".drovanel-" + std::to_string(::getpid()) + "-0.part";
    const std::string runningPart = ".drovanel-1-0.part";  // process 1 always runs
    const std::vector<std::string> kept = {ownPart, runningPart, ".drovanel-x-0.part", "Watcher-261101.mdb",
                                           "drovanel-" + std::to_string(ended) + "-3.part"};
    WriteFile(dir.file(endedPart), "574C half");
    for (const auto &name : kept)
        WriteFile(dir.file(name), "574C");

    fw::RemoveLeftoverPartFiles(dir.path());

    EXPECT_FALSE(fs::exists(dir.file(endedPart)));
    for (const auto &name : kept)
        EXPECT_TRUE(fs::exists(dir.file(name))) << name;
}

// The download this process put in place is converted only while it is the file under its name:
// a link, another file or a FIFO put there since is refused and nothing is written; a source this
// process never placed is read by its name as before.
TEST(Conversion, ADownloadReplacedAfterItWasPlacedIsNotConverted)
{
    const std::string placedMap = CrLf({kHeader, Record("00000000000001", 'A', '1')});
    const std::string otherMap = CrLf({kHeader, Record("99999999999999", 'A', '1')});
    const shell::AlertLevels kAllKept = {3, 3, 3, 3, 3, 3, 3};
    struct Case {
        const char *name;
        bool placed;  // the source was put in place by this process
        std::function<void(const std::string &source, const std::string &other)> replace;
        bool converted;
    } const cases[] = {
        {"left as placed", true, [](const std::string &, const std::string &) {}, true},
        {"a link to another map", true,
         [](const std::string &source, const std::string &other) {
             ASSERT_EQ(::unlink(source.c_str()), 0);
             ASSERT_EQ(::symlink(other.c_str(), source.c_str()), 0);
         },
         false},
        {"another file renamed over it", true,
         [](const std::string &source, const std::string &other) {
             const std::string copy = other + ".copy";
             WriteFile(copy, ReadFile(other));
             ASSERT_EQ(::rename(copy.c_str(), source.c_str()), 0);
         },
         false},
        {"a FIFO", true,
         [](const std::string &source, const std::string &) {
             ASSERT_EQ(::unlink(source.c_str()), 0);
             ASSERT_EQ(::mkfifo(source.c_str(), 0600), 0);
         },
         false},
        {"never placed by this process, a file", false, [](const std::string &, const std::string &) {}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::TempDir dir;
        const std::string source = dir.file(shell::kDownloadFileName);
        const std::string destination = dir.file("Watcher-261101.mdb");
        const std::string other = dir.file("other.txt");
        WriteFile(other, otherMap);
        WriteFile(destination, "previous");
        if (c.placed) {
            fw::PartFileStream download(source);
            download.Stream().WriteBuffer(placedMap.data(), static_cast<std::int64_t>(placedMap.size()));
            download.Place();
        } else {
            WriteFile(source, placedMap);
        }
        c.replace(source, other);
        if (c.converted) {
            EXPECT_EQ(Convert(source, destination, shell::kWatcher, kAllKept), shell::ConversionResult::Converted);
            EXPECT_NE(ReadFile(destination).find("00000000000001"), std::string::npos);
        } else {
            EXPECT_EQ(testutil::Message([&] { (void)Convert(source, destination, shell::kWatcher, kAllKept); }),
                      shell::DownloadReplacedText());
            EXPECT_EQ(ReadFile(destination), "previous");
        }
        EXPECT_EQ(ReadFile(other), otherMap);
    }
}
