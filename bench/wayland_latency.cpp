// Measures, in a private Wayland session (the compositor the end-to-end harness is told, sway
// by default), the time from the compositor's idle notification to the pointer on the square,
// over ten rests: the probe, the square's map and, on wlroots, the nudge between them. The
// times come from the program's own protocol log (WAYLAND_DEBUG), so the harness's screenshots
// do not count. Prints the median and the extremes in milliseconds.
//   dovetrel_wayland_latency [--screenshot FILE]
// With --screenshot, saves the square on the compositor's bare background instead, as the README
// shows it.
#include <linux/input-event-codes.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/wayland_session.h"

namespace {

using namespace dovetrel::support;

constexpr int kRests = 10;

// The times (ms) from the idle notification before each probe to the pointer's entering the
// square next: told apart by their surface coordinates, as the probe covers the output.
std::vector<double> latencies(const std::string& log) {
    const std::regex stamp(R"(^\[\s*(\d+\.\d+)\]\s+(.*)$)");
    const std::regex enter(R"(wl_pointer@\d+\.enter\(\d+, wl_surface@\d+, (\d+)\.\d+, (\d+)\.)");
    std::vector<double> found;
    double idle = -1;
    double probed = -1;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (!std::regex_match(line, match, stamp)) {
            continue;
        }
        const double at = std::stod(match[1]);
        const std::string what = match[2];
        std::smatch entered;
        if (what.find(".idled()") != std::string::npos ||
            what.find(".idle()") != std::string::npos) {
            idle = at;
        } else if (std::regex_search(what, entered, enter)) {
            const bool onSquare = std::stoi(entered[1]) < 100 && std::stoi(entered[2]) < 100;
            if (!onSquare) {
                probed = idle;
            } else if (probed >= 0) {
                found.push_back(at - probed);
                probed = -1;
            }
        }
    }
    return found;
}

}  // namespace

// The square after its fade-in, in a 480x320 frame around the pointer (640x360 on GNOME Shell).
int saveScreenshot(WaylandSession& session, const char* file) {
    session.movePointer(400, 300);
    Dovetrel dovetrel(session.environment(), "[General]\nidleTimeout=1\nzoneSize=80\n");
    if (!waitFor([&] { return paintedArea(session.screenshot()).width() > 40; }, 10s)) {
        std::fprintf(stderr, "no square seen\n");
        return 1;
    }
    std::this_thread::sleep_for(1s);
    const QRect frame = session.isGnome() ? QRect(80, 120, 640, 360) : QRect(160, 140, 480, 320);
    return session.screenshot().copy(frame).save(QString::fromLocal8Bit(file)) ? 0 : 1;
}

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    WaylandSession session;
    if (!session.failure().empty()) {
        std::fprintf(stderr, "%s\n", session.failure().c_str());
        return 1;
    }
    if (argc == 3 && std::string(argv[1]) == "--screenshot") {
        return saveScreenshot(session, argv[2]);
    }
    session.openWindow();
    session.movePointer(400, 300);
    Dovetrel dovetrel(session.environment(), "[General]\nidleTimeout=1\nzoneSize=80\n",
                      {"WAYLAND_DEBUG=1"});
    int shown = 0;
    for (int rest = 0; rest < kRests; ++rest) {
        session.movePointer(400, 300);
        if (!waitFor([&] { return !session.windowHasPointer(); }, 10s)) {
            break;
        }
        ++shown;
        std::this_thread::sleep_for(100ms);
        session.movePointer(600, 300);
        waitFor([&] { return session.windowHasPointer(); }, 3s);
        // Past the square's fade-out, so that the next rest starts clean.
        std::this_thread::sleep_for(500ms);
    }
    if (std::getenv("DOVETREL_BENCH_LOG") != nullptr) {
        std::fputs(dovetrel.unexpectedOutput().c_str(), stderr);
    }
    auto times = latencies(dovetrel.unexpectedOutput());
    std::sort(times.begin(), times.end());
    if (times.empty()) {
        std::printf("idle to the square: no square seen (%d rests)\n", shown);
        return 1;
    }
    std::printf(
        "idle to the pointer on the square over %zu of %d rests: median %.1f ms (%.1f to "
        "%.1f)\n",
        times.size(), kRests, times[times.size() / 2], times.front(), times.back());
    return 0;
}
