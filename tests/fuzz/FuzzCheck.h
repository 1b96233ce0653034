#pragma once
// What the fuzz targets share: a property that must hold stops the run at once, in the fuzzing
// build (libFuzzer keeps the input that broke it) and in the replay test alike.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);                      \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

#include <string>
#include <string_view>
#include <vector>

namespace fuzzcheck {

// The lines of a points file by its rules, written plainly as the model the fast readers are
// checked against: the text ends at the first Ctrl-Z; a CR ends a line and an LF right after it
// belongs to the line end; a lone LF is an ordinary byte; the last line needs no line end.
inline std::vector<std::string> ReferenceLines(std::string_view bytes)
{
    const std::string_view text = bytes.substr(0, bytes.find('\x1A'));
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t cr = text.find('\r', pos);
        const std::size_t end = cr == std::string_view::npos ? text.size() : cr;
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
        if (pos < text.size() && text[pos] == '\n')
            ++pos;
    }
    return lines;
}

// A file of its own for the input, in memory where the system offers it (the readers open files
// by name): its name stays valid while the process runs.
std::string ScratchFolder();

// The Qt application object that sockets and timers need, made on first use when the process has
// none (a fuzzer has no main of its own; the replay test's main makes one).
void EnsureApplication();

}  // namespace fuzzcheck
