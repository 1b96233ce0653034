#pragma once
// The process's CPU time (user and system), for tests that show a wait costs nothing.
#include <chrono>
#include <sys/resource.h>

namespace testutil {

inline std::chrono::microseconds ProcessCpuTime()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval &tv) {
        return std::chrono::seconds(tv.tv_sec) + std::chrono::microseconds(tv.tv_usec);
    };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

}  // namespace testutil
