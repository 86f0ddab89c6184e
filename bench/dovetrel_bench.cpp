// Measures, on a private Xvfb session, what Dovetrel costs the user's input:
//   (a) how long an XTest press takes to reach a client window while dovetrel waits for
//       idleness, beside the same with dovetrel not running;
//   (b) how long a guarded press freezes the pointer: from a press on the overlay until a
//       motion sent right after it shows in XQueryPointer;
//   (c) the CPU time and the wake-ups of all its threads that dovetrel spends per pointer
//       movement over a storm of XTest motions while no square is up, beside two cursor
//       hiders that listen to raw motion events;
//   (d) its wake-ups at rest, with no square up and with one up.
// Prints one table. Build it with the "bench" preset: timings of a sanitizer build mean little.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/x_session.h"

namespace {

using namespace dovetrel::support;
using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

struct Percentiles {
    double median = 0;
    double p99 = 0;
};

Percentiles percentiles(std::vector<double> samples) {
    if (samples.empty()) {
        return {};
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[std::min(samples.size() - 1, static_cast<size_t>(q * samples.size()))];
    };
    return {at(0.5), at(0.99)};
}

// Nanoseconds the process has spent on a CPU, from the scheduler's own account.
std::optional<unsigned long long> cpuNanoseconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long running = 0;
    if (!(stat >> running)) {
        return std::nullopt;
    }
    return running;
}

// Times any thread of the process was switched out, willingly or not: how often it woke.
unsigned long long contextSwitches(pid_t pid) {
    unsigned long long switches = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.find("ctxt_switches:") != std::string::npos) {
                switches += std::stoull(line.substr(line.find(':') + 1));
            }
        }
    }
    return switches;
}

// Waits until the process has used no CPU for a while, so that a measurement starts and ends
// with its queue drained.
void waitUntilQuiet(pid_t pid) {
    auto last = cpuNanoseconds(pid);
    for (int quietRounds = 0; quietRounds < 3;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto now = cpuNanoseconds(pid);
        quietRounds = now == last ? quietRounds + 1 : 0;
        last = now;
    }
}

// A window of its own connection that reports when a button press reaches it.
class PressTarget {
  public:
    explicit PressTarget(XSession& session)
        : display_(XOpenDisplay(session.displayName().c_str())) {
        const int screen = DefaultScreen(display_);
        window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 100, 100, 600, 400, 0,
                                      BlackPixel(display_, screen), WhitePixel(display_, screen));
        XSelectInput(display_, window_, ButtonPressMask | ButtonReleaseMask);
        XMapRaised(display_, window_);
        XSync(display_, False);
        waitFor([&] {
            XWindowAttributes attributes{};
            XGetWindowAttributes(display_, window_, &attributes);
            return attributes.map_state == IsViewable;
        });
        XMoveWindow(display_, window_, 100, 100);
        XSync(display_, False);
    }
    ~PressTarget() { XCloseDisplay(display_); }

    // Blocks until the next press arrives; false after a second without one.
    bool awaitPress() {
        XEvent event;
        while (true) {
            while (XPending(display_) > 0) {
                XNextEvent(display_, &event);
                if (event.type == ButtonPress) {
                    return true;
                }
            }
            pollfd readable{ConnectionNumber(display_), POLLIN, 0};
            if (poll(&readable, 1, 1000) <= 0) {
                return false;
            }
        }
    }

  private:
    Display* display_;
    Window window_;
};

Percentiles pressLatency(XSession& session, int presses) {
    PressTarget target(session);
    Display* input = session.display();
    movePointer(input, 400, 300);
    std::vector<double> samples;
    for (int i = 0; i < presses; ++i) {
        const auto start = Clock::now();
        XTestFakeButtonEvent(input, 1, True, CurrentTime);
        XFlush(input);
        if (!target.awaitPress()) {
            std::fprintf(stderr, "a press never arrived\n");
            break;
        }
        samples.push_back(microseconds(Clock::now() - start));
        XTestFakeButtonEvent(input, 1, False, CurrentTime);
        XSync(input, False);
    }
    return percentiles(samples);
}

// From a press until a motion sent right after it shows in XQueryPointer. Without a grab this
// is just the round trips; a frozen pointer adds however long the guard takes to answer.
double pressThenMotionSeen(Display* input, int x, int y) {
    const auto start = Clock::now();
    XTestFakeButtonEvent(input, 1, True, CurrentTime);
    XTestFakeMotionEvent(input, -1, x + 1, y + 1, CurrentTime);
    XFlush(input);
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int winX = 0;
    int winY = 0;
    unsigned mask = 0;
    do {
        XQueryPointer(input, DefaultRootWindow(input), &root, &child, &rootX, &rootY, &winX, &winY,
                      &mask);
    } while (rootX != x + 1 && Clock::now() - start < 2s);
    const double elapsed = microseconds(Clock::now() - start);
    XTestFakeButtonEvent(input, 1, False, CurrentTime);
    XSync(input, False);
    return elapsed;
}

struct FreezeFigures {
    Percentiles unguarded;
    Percentiles guarded;
};

FreezeFigures guardedPressFreeze(XSession& session, int presses) {
    Display* input = session.display();
    FreezeFigures figures;
    std::vector<double> samples;
    for (int i = 0; i < presses; ++i) {
        movePointer(input, 300 + (i % 2) * 200, 300);
        samples.push_back(pressThenMotionSeen(input, 300 + (i % 2) * 200, 300));
    }
    figures.unguarded = percentiles(samples);

    samples.clear();
    // Long enough for the fade-out to end before the next square comes.
    Dovetrel dovetrel(session, "[General]\nidleTimeout=0.3\n");
    for (int i = 0; i < presses; ++i) {
        const int x = 300 + (i % 2) * 200;
        movePointer(input, x, 300);
        if (!waitForGuardedOverlay(input, 3s)) {
            std::fprintf(stderr, "the overlay did not show (%s)\n",
                         dovetrel.unexpectedOutput().c_str());
            break;
        }
        samples.push_back(pressThenMotionSeen(input, x, 300));
        waitFor([&] { return !findOverlay(input).has_value(); }, 2s);
    }
    figures.guarded = percentiles(samples);
    return figures;
}

struct MotionCost {
    double nanoseconds = 0;
    double wakeupsPerThousand = 0;
};

// CPU nanoseconds per motion that `process` spends over `motions` XTest motions, and how often
// its threads woke.
std::optional<MotionCost> cpuPerMotion(XSession& session, ChildProcess& process, int motions) {
    waitUntilQuiet(process.pid());
    const auto before = cpuNanoseconds(process.pid());
    const auto switchesBefore = contextSwitches(process.pid());
    Display* input = session.display();
    for (int i = 0; i < motions; ++i) {
        XTestFakeMotionEvent(input, -1, 200 + (i % 400), 200 + (i % 3), CurrentTime);
        if (i % 64 == 0) {
            XFlush(input);
        }
    }
    XSync(input, False);
    waitUntilQuiet(process.pid());
    const auto after = cpuNanoseconds(process.pid());
    if (!before || !after || !process.isRunning()) {
        return std::nullopt;
    }
    // waitUntilQuiet's own look at the process wakes nothing of it.
    const auto woke = double(contextSwitches(process.pid()) - switchesBefore);
    return MotionCost{double(*after - *before) / motions, woke * 1000 / motions};
}

void printCpuRow(const char* name, std::optional<MotionCost> cost) {
    if (cost) {
        std::printf("  %-28s %8.3f us/event %8.1f wake-ups per 1,000\n", name,
                    cost->nanoseconds / 1000.0, cost->wakeupsPerThousand);
    } else {
        std::printf("  %-28s %8s\n", name, "n/a");
    }
}

constexpr int kPairs = 7;
constexpr int kPressesPerRun = 200;
constexpr int kGuardedPresses = 200;
constexpr int kMotions = 100'000;

void reportPressLatency() {
    std::printf(
        "(a) XTest press to client window, %d pairs of %d presses, with / without dovetrel\n",
        kPairs, kPressesPerRun);
    XSession session;
    // Runs alternate, so that whatever else the machine does falls on both sides of a pair.
    std::vector<double> ratios;
    std::vector<double> withMedians;
    std::vector<double> withoutMedians;
    for (int pair = 0; pair < kPairs; ++pair) {
        withoutMedians.push_back(pressLatency(session, kPressesPerRun).median);
        Dovetrel dovetrel(session, "[General]\nidleTimeout=1000\n");
        waitUntilQuiet(dovetrel.process().pid());
        withMedians.push_back(pressLatency(session, kPressesPerRun).median);
        ratios.push_back(withMedians.back() / withoutMedians.back());
    }
    std::printf("  median of the medians: without %.1f us, with %.1f us\n",
                percentiles(withoutMedians).median, percentiles(withMedians).median);
    const Percentiles ratio = percentiles(ratios);
    std::printf(
        "  median of the paired ratios        %8.3f   (1.0: no cost; target at most 1.05)\n",
        ratio.median);
}

void reportFreeze() {
    std::printf("(b) press, then a motion: until the motion shows, %d presses  median      p99\n",
                kGuardedPresses);
    XSession session;
    const FreezeFigures freeze = guardedPressFreeze(session, kGuardedPresses);
    std::printf("  no overlay, nothing grabbed        %8.1f us %8.1f us\n", freeze.unguarded.median,
                freeze.unguarded.p99);
    std::printf("  press dropped on the overlay       %8.1f us %8.1f us   (target p99 < 2000)\n",
                freeze.guarded.median, freeze.guarded.p99);
}

void reportMotionCost() {
    std::printf("(c) CPU per pointer movement over %d XTest motions\n", kMotions);
    {
        XSession session;
        Dovetrel dovetrel(session, "[General]\nidleTimeout=1000\n");
        printCpuRow("dovetrel", cpuPerMotion(session, dovetrel.process(), kMotions));
    }
    const std::vector<std::pair<const char*, std::vector<std::string>>> hiders = {
        {"unclutter-xfixes", {"unclutter-xfixes", "--timeout", "1000"}}, {"xbanish", {"xbanish"}}};
    for (const auto& [name, argv] : hiders) {
        XSession session;
        ChildProcess hider(argv, session.environment());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        printCpuRow(name,
                    hider.isRunning() ? cpuPerMotion(session, hider, kMotions) : std::nullopt);
    }
    std::printf("  (target: dovetrel at most 0.05 us/event and 5 wake-ups per 1,000)\n");
}

// Wake-ups a second of all its threads while the pointer rests for `seconds`.
double wakeupsAtRest(pid_t pid, double seconds) {
    const auto before = contextSwitches(pid);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return double(contextSwitches(pid) - before) / seconds;
}

void reportRest() {
    std::printf("(d) wake-ups a second of all dovetrel's threads, the pointer resting 5 s\n");
    XSession session;
    movePointer(session.display(), 400, 300);
    {
        Dovetrel dovetrel(session, "[General]\nidleTimeout=1000\n");
        waitUntilQuiet(dovetrel.process().pid());
        std::printf("  no square up                       %8.1f   (target 0)\n",
                    wakeupsAtRest(dovetrel.process().pid(), 5));
    }
    // The square comes once the start-up's own work (the wait for a tray) is done.
    Dovetrel dovetrel(session, "[General]\nidleTimeout=6\n");
    if (!waitForGuardedOverlay(session.display(), 10s)) {
        std::fprintf(stderr, "the overlay did not show\n");
        return;
    }
    // Past the fade-in's frames.
    std::this_thread::sleep_for(1s);
    std::printf("  the square up                      %8.1f   (target at most 4)\n",
                wakeupsAtRest(dovetrel.process().pid(), 5));
}

}  // namespace

// Runs the parts named on the command line ("dovetrel_bench b c"), or all of them.
int main(int argc, char** argv) {
    std::string parts;
    for (int i = 1; i < argc; ++i) {
        parts += argv[i];
    }
    if (parts.empty()) {
        parts = "abcd";
    }
    std::printf("Dovetrel benchmark (Xvfb 1280x800, openbox)\n");
    const std::pair<char, void (*)()> reports[] = {
        {'a', reportPressLatency}, {'b', reportFreeze}, {'c', reportMotionCost}, {'d', reportRest}};
    for (const auto& [part, report] : reports) {
        if (parts.find(part) != std::string::npos) {
            std::printf("\n");
            report();
        }
    }
    return 0;
}
