// The file stream keeps its position itself instead of asking the system at every call: after any
// mix of reads, writes and seeks, and after each of them fails, the position it reports is the
// file's offset and the next write lands there.
#include "common/ExceptionText.h"
#include "common/TempDir.h"
#include "framework/Exceptions.h"
#include "framework/Streams.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The offset the system holds for the stream's file.
std::int64_t SystemOffset(const fw::TFileStream &file)
{
    return ::lseek(file.Handle(), 0, SEEK_CUR);
}

TEST(FileStreamPosition, FollowsEveryMixOfReadsWritesAndSeeks)
{
    // The same steps on a memory stream give the positions and contents to expect.
    using Step = std::function<std::int64_t(fw::TStream &)>;
    const auto write = [](std::string bytes) {
        return Step([bytes](fw::TStream &s) { return s.Write(bytes.data(), static_cast<std::int64_t>(bytes.size())); });
    };
    const auto read = [](std::int64_t count) {
        return Step([count](fw::TStream &s) {
            std::string buffer(static_cast<size_t>(count), '\0');
            return s.Read(buffer.data(), count);
        });
    };
    const auto seek = [](std::int64_t offset, fw::SeekOrigin origin) {
        return Step([offset, origin](fw::TStream &s) { return s.Seek(offset, origin); });
    };
    const Step steps[] = {
        write("0123456789"),
        seek(3, fw::SeekOrigin::Beginning),
        read(4),
        write("ab"),
        seek(-2, fw::SeekOrigin::Current),
        read(100),  // past the end: reads what there is
        seek(-1, fw::SeekOrigin::End),
        write("XYZ"),  // overwrites the last byte and grows the file
        seek(0, fw::SeekOrigin::Current),
        Step([](fw::TStream &s) { return s.Size(); }),  // asks the size without moving
        read(1),
        seek(20, fw::SeekOrigin::Beginning),  // past the end
        read(1),
        write("!"),  // leaves a hole
    };
    testutil::TempDir dir;
    fw::TFileStream file(dir.file("mix.bin"), fw::FileMode::Create);
    fw::TMemoryStream model;
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        EXPECT_EQ(steps[i](file), steps[i](model));
        EXPECT_EQ(file.Position(), model.Position());
        EXPECT_EQ(file.Position(), SystemOffset(file));
    }
    EXPECT_EQ(testutil::ReadFile(dir.file("mix.bin")), model.ToString());
}

TEST(FileStreamPosition, FailedSeekLeavesThePosition)
{
    testutil::TempDir dir;
    fw::TFileStream file(dir.file("seek.bin"), fw::FileMode::Create);
    file.WriteBuffer("abcdef", 6);
    file.Seek(2, fw::SeekOrigin::Beginning);
    EXPECT_THROW(file.Seek(-10, fw::SeekOrigin::Current), fw::EInOutError);
    EXPECT_THROW(file.Seek(-1, fw::SeekOrigin::Beginning), fw::EInOutError);
    EXPECT_EQ(file.Position(), 2);
    EXPECT_EQ(SystemOffset(file), 2);
    file.WriteBuffer("Z", 1);
    EXPECT_EQ(testutil::ReadFile(dir.file("seek.bin")), "abZdef");
}

TEST(FileStreamPosition, FailedWriteCountsWhatReachedTheFile)
{
    // A file size limit lets the first 4096 bytes of a write through, then refuses the rest: the
    // position counts the bytes that were written, not the ones asked for nor none.
    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    testutil::TempDir dir;
    {
        fw::TFileStream file(dir.file("limited.bin"), fw::FileMode::Create);
        file.WriteBuffer(std::string(1000, 'a').data(), 1000);
        rlimit limit = saved;
        limit.rlim_cur = 4096;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const std::string more(10000, 'b');
        const std::string error = testutil::Message([&] { file.WriteBuffer(more.data(), 10000); });
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(error, "File too large");
        EXPECT_EQ(file.Position(), 4096);
        EXPECT_EQ(SystemOffset(file), 4096);
        // A write at the kept position continues the file where it stopped.
        file.WriteBuffer("c", 1);
        EXPECT_EQ(file.Position(), 4097);
    }
    std::signal(SIGXFSZ, ignored);
    EXPECT_EQ(testutil::ReadFile(dir.file("limited.bin")), std::string(1000, 'a') + std::string(3096, 'b') + "c");
}

TEST(FileStreamPosition, FailedWriteOnAFullDeviceMovesNothing)
{
    fw::TFileStream full("/dev/full", fw::FileMode::OpenWrite);
    EXPECT_EQ(testutil::Message([&] { full.WriteBuffer("x", 1); }), "No space left on device");
    EXPECT_EQ(full.Position(), 0);
}

TEST(FileStreamPosition, CountsWhatIsWrittenToADeviceWithoutOffsets)
{
    // /dev/null keeps no offset (the system reports 0 whatever was written); the stream's
    // position still counts the bytes written, as a transfer's progress does.
    fw::TFileStream null("/dev/null", fw::FileMode::OpenWrite);
    null.WriteBuffer(std::string(5000, 'n').data(), 5000);
    EXPECT_EQ(null.Position(), 5000);
}

}  // namespace
