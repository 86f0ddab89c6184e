#include "app/x11/process_hooks.h"

#include <pthread.h>
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

constexpr int kJobControlSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

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
        for (const int signal : kJobControlSignals) {
            sigaction(signal, &action, nullptr);
        }
    });
    stopSignalFd = fd;
}

void stopRoutingStopSignalsTo(int fd) {
    stopSignalFd.compare_exchange_strong(fd, -1);
}

void stopProcess() {
    // raise() directs the signal at this thread, which starts the group stop itself; kill()
    // would let another thread start it while this one runs on for a moment.
    raise(SIGSTOP);
}

void keepJobControlSignalsAway() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : kJobControlSignals) {
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

}  // namespace dovetrel::app
