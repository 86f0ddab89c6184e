#include "app/x11/process_hooks.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <mutex>

#include "app/x11/xlib.h"

namespace dovetrel::app {
namespace {

std::mutex survivorsMutex;
std::array<Display*, 8> survivors{};
XIOErrorHandler ioHandlerBeforeOurs = nullptr;

int spareSurvivors(Display* display) {
    XIOErrorHandler previous = nullptr;
    {
        const std::lock_guard lock(survivorsMutex);
        for (const Display* survivor : survivors) {
            if (survivor == display) {
                return 0;
            }
        }
        previous = ioHandlerBeforeOurs;
    }
    return previous != nullptr ? previous(display) : 0;
}

// Where the stop signals go; -1 stops at once.
std::atomic<int> stopSignalFd{-1};

void onStopSignal(int) {
    const int fd = stopSignalFd.load();
    if (fd < 0) {
        kill(getpid(), SIGSTOP);
        return;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = write(fd, &one, sizeof one);
}

}  // namespace

void surviveLossOf(Display* display, void (*onLoss)(Display*, void*), void* context) {
    {
        const std::lock_guard lock(survivorsMutex);
        for (Display*& entry : survivors) {
            if (entry == nullptr) {
                entry = display;
                break;
            }
        }
    }
    static std::once_flag installed;
    std::call_once(installed, [] {
        const XIOErrorHandler previous = XSetIOErrorHandler(spareSurvivors);
        const std::lock_guard lock(survivorsMutex);
        ioHandlerBeforeOurs = previous;
    });
    // Both hooks matter on libX11 1.8: the I/O error handler runs first and the default one
    // exits before the per-connection exit handler is ever reached.
    XSetIOErrorExitHandler(display, onLoss, context);
}

void forgetSurvivor(Display* display) {
    const std::lock_guard lock(survivorsMutex);
    for (Display*& entry : survivors) {
        if (entry == display) {
            entry = nullptr;
        }
    }
}

void routeStopSignalsTo(int fd) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : {SIGTSTP, SIGTTIN, SIGTTOU}) {
            sigaction(signal, &action, nullptr);
        }
    });
    stopSignalFd = fd;
}

void stopRoutingStopSignalsTo(int fd) {
    stopSignalFd.compare_exchange_strong(fd, -1);
}

void stopProcess() {
    kill(getpid(), SIGSTOP);
}

}  // namespace dovetrel::app
