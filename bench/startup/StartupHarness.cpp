// drovanel-startup-harness ROUNDS REST_MS -- PROGRAM_A [ARGS] -- PROGRAM_B [ARGS] [-- PROGRAM_C [ARGS]...]
// Times the start-up of two or more programs to a visible, painted window on the X display, in
// turn, ROUNDS times each, and measures their memory at rest; the last program is the yardstick
// the others are compared with. For each start: the clock starts just before the program is
// started; the window counts as visible when the X server reports a top-level window of at least
// 200 by 200 pixels mapped; as painted when the pixel at its centre is no longer the black of the
// empty root window (run the X server with a black root, e.g. Xvfb -br). Then the program rests
// REST_MS milliseconds, its resident set (VmRSS) and proportional set (Pss) are read from /proc
// with the number of shared objects it has mapped, and it is ended with SIGTERM.
// Prints one line per start and the medians.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double visibleMs = 0, paintedMs = 0;
    long rssKiB = 0, pssKiB = 0, objects = 0;
};

// The shared objects (".so" files) that a process has mapped.
long MappedObjects(const std::string &maps)
{
    std::ifstream in(maps);
    std::string line;
    std::set<std::string> names;
    while (std::getline(in, line)) {
        const auto slash = line.find('/');
        if (slash != std::string::npos && line.find(".so", slash) != std::string::npos)
            names.insert(line.substr(slash));
    }
    return static_cast<long>(names.size());
}

long ProcField(const std::string &path, const std::string &field)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::strtol(line.c_str() + field.size(), nullptr, 10);
    return -1;
}

// Waits for the next X event for at most `ms`; false when none came.
bool WaitEvent(Display *display, int ms)
{
    if (XPending(display))
        return true;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    return ::poll(&fd, 1, ms) > 0 && XPending(display);
}

bool RunOnce(Display *display, const std::vector<char *> &argv, int restMs, Sample &sample)
{
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, True);  // drop what earlier rounds left

    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        return false;
    }
    const auto since = [start] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };
    const auto fail = [pid](const char *what) {
        std::fprintf(stderr, "%s\n", what);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return false;
    };

    Window window = 0;
    int width = 0, height = 0;
    while (!window) {
        if (since() > 30'000)
            return fail("no window within 30 s");
        if (!WaitEvent(display, 100))
            continue;
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MapNotify || event.xmap.event != root || event.xmap.override_redirect)
            continue;
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, event.xmap.window, &attributes) && attributes.width >= 200 &&
            attributes.height >= 200) {
            window = event.xmap.window;
            width = attributes.width;
            height = attributes.height;
        }
    }
    sample.visibleMs = since();

    // Painted: the centre pixel is no longer the empty root's black.
    for (;;) {
        if (since() > 30'000)
            return fail("no paint within 30 s");
        XImage *image = XGetImage(display, window, width / 2, height / 2, 1, 1, AllPlanes, ZPixmap);
        const unsigned long pixel = image ? XGetPixel(image, 0, 0) : 0;
        if (image)
            XDestroyImage(image);
        if (pixel != 0)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    sample.paintedMs = since();

    std::this_thread::sleep_for(std::chrono::milliseconds(restMs));
    const std::string proc = "/proc/" + std::to_string(pid);
    sample.rssKiB = ProcField(proc + "/status", "VmRSS:");
    sample.pssKiB = ProcField(proc + "/smaps_rollup", "Pss:");
    sample.objects = MappedObjects(proc + "/maps");
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return true;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char **argv)
{
    const auto usage = [] {
        std::fputs("usage: drovanel-startup-harness ROUNDS REST_MS -- PROGRAM_A [ARGS] -- PROGRAM_B [ARGS] "
                   "[-- PROGRAM_C [ARGS]...]\n",
                   stderr);
        return 2;
    };
    if (argc < 6 || std::strcmp(argv[3], "--") != 0)
        return usage();
    const int rounds = std::atoi(argv[1]);
    const int restMs = std::atoi(argv[2]);
    std::vector<std::vector<char *>> programs(1);
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            programs.emplace_back();
        else
            programs.back().push_back(argv[i]);
    }
    if (rounds < 1 || restMs < 0 || programs.size() < 2 ||
        std::any_of(programs.begin(), programs.end(), [](const auto &p) { return p.empty(); }))
        return usage();
    for (auto &p : programs)
        p.push_back(nullptr);

    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("no X display\n", stderr);
        return 1;
    }
    const std::size_t n = programs.size();
    std::vector<std::vector<Sample>> samples(n);
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t which = 0; which < n; ++which) {
            Sample sample;
            if (!RunOnce(display, programs[which], restMs, sample))
                return 1;
            std::printf("%c round %d: visible %.1f ms, painted %.1f ms, VmRSS %ld KiB, Pss %ld KiB, %ld objects\n",
                        static_cast<char>('A' + which), round + 1, sample.visibleMs, sample.paintedMs, sample.rssKiB,
                        sample.pssKiB, sample.objects);
            samples[which].push_back(sample);
        }
    }
    std::vector<double> painted(n), rss(n), pss(n), objects(n);
    for (std::size_t which = 0; which < n; ++which) {
        std::vector<double> p, r, s, o;
        for (const Sample &sample : samples[which]) {
            p.push_back(sample.paintedMs);
            r.push_back(static_cast<double>(sample.rssKiB));
            s.push_back(static_cast<double>(sample.pssKiB));
            o.push_back(static_cast<double>(sample.objects));
        }
        painted[which] = Median(p);
        rss[which] = Median(r);
        pss[which] = Median(s);
        objects[which] = Median(o);
        std::printf("%c median: painted %.1f ms, VmRSS %.0f KiB, Pss %.0f KiB, %.0f objects  (%s)\n",
                    static_cast<char>('A' + which), painted[which], rss[which], pss[which], objects[which],
                    programs[which][0]);
    }
    const std::size_t last = n - 1;
    for (std::size_t which = 0; which < last; ++which)
        std::printf("%c/%c: start-up to a painted window %.2fx, VmRSS %.2fx, Pss %.2fx\n",
                    static_cast<char>('A' + which), static_cast<char>('A' + last), painted[which] / painted[last],
                    rss[which] / rss[last], pss[which] / pss[last]);
    XCloseDisplay(display);
    return 0;
}
