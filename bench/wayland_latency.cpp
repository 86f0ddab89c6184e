// Measures, in a private Wayland session (the compositor the end-to-end harness is told, sway
// by default), the time from the compositor's idle notification to the pointer on the square,
// over ten rests: the probe, the square's map and, on wlroots, the nudge between them. The
// times come from the program's own protocol log (WAYLAND_DEBUG), so the harness's screenshots
// do not count. On GNOME Shell, whose extension draws the square, they are those from the
// extension's idle report to the program's order to show the square, read off the session bus.
// Prints the median and the extremes in milliseconds.
//   dovetrel_wayland_latency [--screenshot FILE]
// With --screenshot, saves the square on the compositor's bare background instead, as the README
// shows it.
#include <linux/input-event-codes.h>

#include <QCoreApplication>
#include <QTemporaryDir>
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

// The same from a `dbus-monitor --profile` log: Idled signals and ShowSquare calls, the times
// in seconds in the second column.
std::vector<double> busLatencies(const std::string& log) {
    std::vector<double> found;
    double idle = -1;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string type;
        double at = 0;
        if (!(fields >> type >> at) || (type != "sig" && type != "mc")) {
            continue;
        }
        if (line.find("\tIdled") != std::string::npos) {
            idle = at;
        } else if (line.find("\tShowSquare") != std::string::npos && idle >= 0) {
            found.push_back((at - idle) * 1000);
            idle = -1;
        }
    }
    return found;
}

std::string busAddress(const std::vector<std::string>& environment) {
    const std::string key = "DBUS_SESSION_BUS_ADDRESS=";
    for (const auto& line : environment) {
        if (line.rfind(key, 0) == 0) {
            return line.substr(key.size());
        }
    }
    return {};
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
    ChildProcess bus;
    if (session.isGnome()) {
        // Its standard error is what a child keeps.
        bus = ChildProcess({"sh", "-c",
                            "exec dbus-monitor --profile --address \"$0\" "
                            "\"type='signal',member='Idled'\" "
                            "\"type='method_call',member='ShowSquare'\" >&2",
                            busAddress(session.environment())},
                           {});
    }
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
    auto times = session.isGnome() ? busLatencies(bus.errorOutput())
                                   : latencies(dovetrel.unexpectedOutput());
    std::sort(times.begin(), times.end());
    if (times.empty()) {
        std::printf("idle to the square: no square seen (%d rests)\n", shown);
        return 1;
    }
    std::printf("idle to %s over %zu of %d rests: median %.1f ms (%.1f to %.1f)\n",
                session.isGnome() ? "the order to show the square" : "the pointer on the square",
                times.size(), kRests, times[times.size() / 2], times.front(), times.back());
    return 0;
}
