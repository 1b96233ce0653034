// The end of the process through exit(): its steps once each, the last added first, and the end
// before the teardown, which leaves out what was registered before it yet keeps exit()'s status,
// what the C streams still held and the handlers registered after it. Each case ends a process of
// its own.
#include "framework/ProcessEnd.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

void stepA()
{
    std::fputs("A;", stderr);
}

void stepB()
{
    std::fputs("B;", stderr);
}

void teardown()
{
    std::fputs("teardown;", stderr);
}

void late()
{
    std::fputs("late;", stderr);
}

// stderr held in a buffer until the end, as a program's buffered output would be.
void holdStderr()
{
    static char buffer[4096];
    std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
}

TEST(ProcessEndDeathTest, AnOrdinaryExitTakesTheStepsOnceLastAddedFirstThenTheTeardown)
{
    EXPECT_EXIT(
        {
            std::atexit(teardown);
            fw::AtExit(stepA);
            fw::AtExit(stepB);
            std::exit(3);
        },
        testing::ExitedWithCode(3), "^B;A;teardown;$");
}

TEST(ProcessEndDeathTest, AnEndBeforeTheTeardownLeavesOutOnlyWhatWasRegisteredBeforeIt)
{
    EXPECT_EXIT(
        {
            holdStderr();
            std::atexit(teardown);
            fw::AtExit(stepA);
            fw::EndAtExitBeforeTeardown();
            fw::EndAtExitBeforeTeardown();
            fw::AtExit(stepB);
            std::atexit(late);
            std::fputs("held;", stderr);
            std::exit(5);
        },
        testing::ExitedWithCode(5), "^held;late;B;A;$");
}

}  // namespace
