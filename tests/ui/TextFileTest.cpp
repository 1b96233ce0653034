#include "common/TempDir.h"
#include "ui/Exceptions.h"
#include "ui/TextFile.h"

#include <gtest/gtest.h>
#include <vector>

using testutil::ReadFile;
using testutil::WriteFile;

namespace {

std::vector<std::string> readAll(const std::string &path)
{
    ui::TextFileReader reader(path);
    std::vector<std::string> lines;
    while (!reader.Eof())
        lines.push_back(reader.ReadLine());
    return lines;
}

struct LineCase {
    const char *name;
    std::string bytes;
    std::vector<std::string> lines;
};

void PrintTo(const LineCase &c, std::ostream *os) { *os << c.name; }

class TextFileLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(TextFileLines, SplitsAsThePointsFilesDo)
{
    testutil::TempDir dir;
    WriteFile(dir.file("in.txt"), GetParam().bytes);
    EXPECT_EQ(readAll(dir.file("in.txt")), GetParam().lines);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Rules, TextFileLines,
    ::testing::Values(LineCase{"Empty", "", {}},
                      LineCase{"CrLf", "a\r\nb\r\n", {"a", "b"}},
                      LineCase{"LoneCr", "a\rb\r", {"a", "b"}},
                      LineCase{"LoneLfIsOrdinary", "a\nb\r\nc", {"a\nb", "c"}},
                      LineCase{"LastLineWithoutEnd", "a\r\nlast", {"a", "last"}},
                      LineCase{"EmptyLines", "\r\n\r\n", {"", ""}},
                      LineCase{"CrCrLf", "a\r\r\nb", {"a", "", "b"}},
                      LineCase{"CtrlZEndsFile", "a\r\nb\x1A" "c\r\nd\r\n", {"a", "b"}},
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
    const auto lines = readAll(dir.file("in.txt"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], big);
    EXPECT_EQ(lines[1], huge);
    EXPECT_EQ(lines[2], "end");
}

TEST(TextFile, WriterEndsEveryLineWithCrLfIncludingLongOnes)
{
    testutil::TempDir dir;
    const std::string huge(1024 * 1024 + 3, 'z');
    {
        ui::TextFileWriter writer;
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
        ui::TextFileReader reader(dir.file("missing.txt"));
        FAIL() << "opened a missing file";
    } catch (const ui::EInOutError &e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_EQ(e.Message(), "No such file or directory");
    }
    ui::TextFileWriter writer;
    EXPECT_THROW(writer.Create(dir.file("no/such/folder.txt")), ui::EInOutError);
}

TEST(TextFile, FullDiskIsReportedAtClose)
{
    ui::TextFileWriter writer;
    writer.Create("/dev/full");
    writer.WriteLine("574C");
    try {
        writer.Close();
        FAIL() << "a write to a full disk was reported as success";
    } catch (const ui::EInOutError &e) {
        EXPECT_EQ(e.ErrorCode(), ENOSPC);
    }
    EXPECT_FALSE(writer.IsOpen());
}

}  // namespace
