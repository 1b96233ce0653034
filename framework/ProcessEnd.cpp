#include "framework/ProcessEnd.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

// The leak checker's entry point when the program is built with it; null otherwise. The name is the
// checker's own.
extern "C" __attribute__((weak)) void __lsan_do_leak_check();  // NOLINT(bugprone-reserved-identifier)

namespace fw {

namespace {

// Plain storage, never destroyed: the steps must outlast every destructor that exit() runs.
constexpr std::size_t kMaxSteps = 8;
std::array<void (*)(), kMaxSteps> g_steps{};
std::size_t g_stepCount = 0;

void takeSteps()
{
    // Each step once, even when both handlers run.
    while (g_stepCount > 0)
        g_steps[--g_stepCount]();
}

void endBeforeTeardown(int status, void *)
{
    takeSteps();
    std::fflush(nullptr);
    if (__lsan_do_leak_check)
        __lsan_do_leak_check();
    ::_exit(status);
}

}  // namespace

void AtExit(void (*step)())
{
    static const bool registered = std::atexit(takeSteps) == 0;
    if (!registered)
        throw std::runtime_error("cannot register an exit step");
    if (g_stepCount == kMaxSteps)
        throw std::length_error("too many exit steps");
    g_steps[g_stepCount++] = step;
}

void EndAtExitBeforeTeardown()
{
    // on_exit rather than atexit: the handler needs exit()'s status for its own end. The first
    // handler to run ends the process, so the entries of earlier calls never run.
    (void)::on_exit(endBeforeTeardown, nullptr);
}

}  // namespace fw
