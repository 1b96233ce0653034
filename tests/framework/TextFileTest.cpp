// Text files as the points files need them: line ends and Ctrl-Z on reading, CR LF on writing,
// lines that straddle the large buffer blocks, and the system errors of opening, writing and closing.
#include "common/TempDir.h"
#include "framework/Exceptions.h"
#include "framework/TextFile.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

using testutil::ReadFile;
using testutil::WriteFile;

namespace {

std::vector<std::string> readAll(const std::string &path, size_t maxLine = fw::TextFileReader::kMaxLineBytes)
{
    fw::TextFileReader reader(path);
    reader.SetMaxLineBytes(maxLine);
    std::vector<std::string> lines;
    while (!reader.Eof())
        lines.push_back(reader.ReadLine());
    return lines;
}

// The same through the in-place reader, which must agree with the copying one everywhere.
std::vector<std::string> readAllInPlace(const std::string &path, size_t maxLine = fw::TextFileReader::kMaxLineBytes)
{
    fw::TextFileReader reader(path);
    reader.SetMaxLineBytes(maxLine);
    std::vector<std::string> lines;
    while (!reader.Eof())
        lines.emplace_back(reader.ReadLineView());
    return lines;
}

struct LineCase {
    const char *name;
    std::string bytes;
    std::vector<std::string> lines;
};

void PrintTo(const LineCase &c, std::ostream *os)
{
    *os << c.name;
}

class TextFileLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(TextFileLines, SplitsAsThePointsFilesDo)
{
    testutil::TempDir dir;
    WriteFile(dir.file("in.txt"), GetParam().bytes);
    EXPECT_EQ(readAll(dir.file("in.txt")), GetParam().lines);
    EXPECT_EQ(readAllInPlace(dir.file("in.txt")), GetParam().lines);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(Rules, TextFileLines,
                         ::testing::Values(LineCase{"Empty", "", {}}, LineCase{"CrLf", "a\r\nb\r\n", {"a", "b"}},
                                           LineCase{"LoneCr", "a\rb\r", {"a", "b"}},
                                           LineCase{"LoneLfIsOrdinary", "a\nb\r\nc", {"a\nb", "c"}},
                                           LineCase{"LastLineWithoutEnd", "a\r\nlast", {"a", "last"}},
                                           LineCase{"EmptyLines", "\r\n\r\n", {"", ""}},
                                           LineCase{"CrCrLf", "a\r\r\nb", {"a", "", "b"}},
                                           LineCase{"CtrlZEndsFile",
                                                    "a\r\nb\x1A"
                                                    "c\r\nd\r\n",
                                                    {"a", "b"}},
                                           LineCase{"CtrlZAtLineStart", "a\r\n\x1Arest", {"a"}},
                                           LineCase{"NulIsOrdinary", "a\0b\r\n"s, {"a\0b"s}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TextFile, LineOfOneMebibyteAndCrLfSplitAcrossBlocks)
{
    testutil::TempDir dir;
    // The first line fills the read block exactly up to its CR, so the LF arrives with the next block.
    const std::string big(256 * 1024 - 1, 'x');
    const std::string huge(1024 * 1024, 'y');
    WriteFile(dir.file("in.txt"), big + "\r\n" + huge + "\r\nend");
    const size_t cap = huge.size();
    for (const auto &lines : {readAll(dir.file("in.txt"), cap), readAllInPlace(dir.file("in.txt"), cap)}) {
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], big);
        EXPECT_EQ(lines[1], huge);
        EXPECT_EQ(lines[2], "end");
    }
}

// A line past the cap is refused wherever it lies: in the read block, across blocks, at the file's
// end, through either reader.
struct CapCase {
    const char *name;
    std::string before;  // lines that read before the long one
    size_t length;       // of the long line
    const char *end;     // after it
    bool refused;
};

void PrintTo(const CapCase &c, std::ostream *os)
{
    *os << c.name;
}

class TextFileCap : public ::testing::TestWithParam<CapCase> {};

TEST_P(TextFileCap, RefusesALineLongerThanTheCap)
{
    const CapCase &c = GetParam();
    const size_t cap = fw::TextFileReader::kMaxLineBytes;
    testutil::TempDir dir;
    WriteFile(dir.file("in.txt"), c.before + std::string(c.length, 'x') + c.end + "next\r\n");
    for (const bool inPlace : {false, true}) {
        fw::TextFileReader reader(dir.file("in.txt"));
        size_t lines = 0;
        try {
            for (; !reader.Eof(); ++lines) {
                const std::string line = inPlace ? std::string(reader.ReadLineView()) : reader.ReadLine();
                EXPECT_LE(line.size(), cap);
            }
            EXPECT_FALSE(c.refused) << "in place: " << inPlace;
        } catch (const fw::ELineTooLongError &e) {
            EXPECT_TRUE(c.refused) << "in place: " << inPlace;
            EXPECT_EQ(e.Limit(), cap);
            EXPECT_EQ(e.Message(), "Line longer than 65536 bytes");
            EXPECT_EQ(lines, static_cast<size_t>(std::count(c.before.begin(), c.before.end(), '\r')));
        }
    }
}

const size_t kCap = fw::TextFileReader::kMaxLineBytes;
const std::string kLinesBeforeTheBlockEnd = [] {
    std::string lines;
    while (lines.size() < 250 * 1024)
        lines += std::string(1022, 'a') + "\r\n";
    return lines;
}();
INSTANTIATE_TEST_SUITE_P(Cases, TextFileCap,
                         ::testing::Values(CapCase{"AtTheCap", "a\r\n", kCap, "\r\n", false},
                                           CapCase{"OnePastTheCap", "a\r\n", kCap + 1, "\r\n", true},
                                           CapCase{"FirstLine", "", kCap + 1, "\r", true},
                                           // The line starts in one read block and ends in the next.
                                           CapCase{"AcrossBlocks", kLinesBeforeTheBlockEnd, kCap + 1, "\r\n", true},
                                           CapCase{"LastLineWithoutEnd", "a\r\n", kCap + 1, "", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TextFile, BlockBoundariesFallAnywhereInALine)
{
    // Short lines of every kind of ending, so that across the file each byte of a line end (the CR,
    // the LF, a lone LF, a Ctrl-Z) meets the end of a read block at some point.
    testutil::TempDir dir;
    std::string bytes;
    std::vector<std::string> expected;
    for (int i = 0; bytes.size() < 3 * 256 * 1024 + 100; ++i) {
        std::string line(static_cast<size_t>(i % 23), static_cast<char>('a' + i % 26));
        if (i % 5 == 0)
            line += "x\nlf";  // never right after a CR, where it would belong to the line end
        bytes += line + (i % 3 == 0 ? "\r" : "\r\n");
        expected.push_back(line);
    }
    const size_t keep = 256 * 1024 * 2;  // the Ctrl-Z lands exactly at the start of the third block
    bytes.resize(keep);
    bytes += "\x1A"
             "after the end\r\n";
    WriteFile(dir.file("in.txt"), bytes);
    const auto lines = readAll(dir.file("in.txt"));
    EXPECT_EQ(readAllInPlace(dir.file("in.txt")), lines);
    ASSERT_GT(lines.size(), 1000u);
    EXPECT_TRUE(std::equal(lines.begin(), lines.end() - 1, expected.begin()));
    EXPECT_EQ(lines.back(), expected[lines.size() - 1].substr(0, lines.back().size()));
}

TEST(TextFile, WriterEndsEveryLineWithCrLfIncludingLongOnes)
{
    testutil::TempDir dir;
    const std::string huge(1024 * 1024 + 3, 'z');
    {
        fw::TextFileWriter writer;
        writer.Create(dir.file("out.txt"));
        writer.WriteLine("574C");
        writer.WriteLine("");
        writer.WriteLine(huge);
        writer.WriteLine("a\nb");
        writer.Close();
    }
    EXPECT_EQ(ReadFile(dir.file("out.txt")), "574C\r\n\r\n" + huge + "\r\na\nb\r\n");
}

TEST(TextFile, MissingFileAndUnwritableFolderRaiseTheSystemError)
{
    testutil::TempDir dir;
    try {
        fw::TextFileReader reader(dir.file("missing.txt"));
        FAIL() << "opened a missing file";
    } catch (const fw::EInOutError &e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_EQ(e.Message(), "No such file or directory");
    }
    fw::TextFileWriter writer;
    EXPECT_THROW(writer.Create(dir.file("no/such/folder.txt")), fw::EInOutError);
}

TEST(TextFile, FullDiskIsReportedAtClose)
{
    fw::TextFileWriter writer;
    writer.Create("/dev/full");
    writer.WriteLine("574C");
    try {
        writer.Close();
        FAIL() << "a write to a full disk was reported as success";
    } catch (const fw::EInOutError &e) {
        EXPECT_EQ(e.ErrorCode(), ENOSPC);
    }
    EXPECT_FALSE(writer.IsOpen());
}

}  // namespace
