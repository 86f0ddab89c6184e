#include "e2e/x_session.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace dovetrel::e2e {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The current environment with `overrides` (KEY=value) laid over it.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
    std::map<std::string, std::string> values;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string line = *entry;
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            values[line.substr(0, equals)] = line;
        }
    }
    for (const auto& line : overrides) {
        const auto equals = line.find('=');
        values[line.substr(0, equals)] = line;
    }
    std::vector<std::string> merged;
    for (const auto& [key, line] : values) {
        // "KEY=" with nothing after it removes the variable.
        if (line.size() > key.size() + 1) {
            merged.push_back(line);
        }
    }
    return merged;
}

// While it lives, a protocol error fails only the request that met it, silently, instead of
// ending the process through Xlib's default handler: windows of other clients can go away
// between finding and asking about them. The syncs keep errors of earlier requests out and
// bring those of the trapped ones in before the previous handler is back.
class XErrorTrap {
  public:
    explicit XErrorTrap(Display* display) : display_(display) {
        XSync(display_, False);
        lastError_ = 0;
        previous_ = XSetErrorHandler(record);
    }
    ~XErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // The code of the last error reported so far, 0 for none; sync first to see them all.
    int error() const { return lastError_; }

  private:
    static int record(Display*, XErrorEvent* event) {
        lastError_ = event->error_code;
        return 0;
    }

    static inline int lastError_ = 0;
    Display* display_;
    XErrorHandler previous_ = nullptr;
};

}  // namespace

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
}

// --- ChildProcess

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment) {
    char pattern[] = "/tmp/dovetrel-e2e-stderr-XXXXXX";
    const int errorFd = mkstemp(pattern);
    if (errorFd < 0) {
        throw std::runtime_error("cannot create a file for standard error");
    }
    errorPath_ = pattern;
    const auto merged = mergedEnvironment(environment);
    pid_ = fork();
    if (pid_ == 0) {
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& entry : merged) {
            envp.push_back(const_cast<char*>(entry.c_str()));
        }
        envp.push_back(nullptr);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(errorFd, STDERR_FILENO);
        setpgid(0, 0);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(errorFd);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && isRunning()) {
        signal(SIGKILL);
        waitForExit(5s);
    }
    if (!errorPath_.empty()) {
        std::filesystem::remove(errorPath_);
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      status_(other.status_),
      errorPath_(std::exchange(other.errorPath_, {})) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    std::swap(pid_, other.pid_);
    std::swap(status_, other.status_);
    std::swap(errorPath_, other.errorPath_);
    return *this;
}

void ChildProcess::reap() {
    if (pid_ <= 0 || status_) {
        return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
}

bool ChildProcess::isRunning() {
    reap();
    return pid_ > 0 && !status_;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    waitFor([this] { return !isRunning(); }, timeout);
    return status_;
}

void ChildProcess::signal(int number) {
    if (isRunning()) {
        kill(pid_, number);
    }
}

std::string ChildProcess::errorOutput() const {
    return readFile(errorPath_);
}

// --- TemporaryDirectory

TemporaryDirectory::TemporaryDirectory() {
    char pattern[] = "/tmp/dovetrel-e2e-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

// --- XSession

XSession::XSession(SessionOptions options) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const std::string screen =
        std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
    server_ = ChildProcess({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                            screen, "-nolisten", "tcp", "-noreset"},
                           {});
    close(pipeFds[1]);
    std::string number;
    pollfd readable{pipeFds[0], POLLIN, 0};
    while (poll(&readable, 1, 10000) > 0) {
        char c = 0;
        if (read(pipeFds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    close(pipeFds[0]);
    if (number.empty()) {
        throw std::runtime_error("Xvfb did not start: " + server_.errorOutput());
    }
    displayName_ = ":" + number;
    display_ = XOpenDisplay(displayName_.c_str());
    if (display_ == nullptr) {
        throw std::runtime_error("cannot connect to " + displayName_);
    }
    if (options.windowManager) {
        windowManager_ = ChildProcess({"openbox", "--sm-disable"}, environment());
        const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
        waitFor([&] {
            Atom type = None;
            int format = 0;
            unsigned long count = 0;
            unsigned long after = 0;
            unsigned char* data = nullptr;
            XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False,
                               AnyPropertyType, &type, &format, &count, &after, &data);
            if (data != nullptr) {
                XFree(data);
            }
            return count > 0;
        });
        waitUntilWindowsAreManaged();
    }
}

void XSession::waitUntilWindowsAreManaged() {
    // The window manager announces itself before it is ready to manage windows, and a window
    // mapped in between stays unmapped. Map a probe until the manager shows it.
    const Window probe =
        XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 10, 10, 0, 0, 0);
    waitFor([&] {
        XMapWindow(display_, probe);
        XSync(display_, False);
        std::this_thread::sleep_for(20ms);
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, probe, &attributes);
        return attributes.map_state == IsViewable;
    });
    XDestroyWindow(display_, probe);
    XSync(display_, False);
}

XSession::~XSession() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

std::vector<std::string> XSession::environment() const {
    return {"DISPLAY=" + displayName_, "XDG_RUNTIME_DIR=" + runtimeDir_.path(),
            "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=x11"};
}

// --- Dovetrel

Dovetrel::Dovetrel(XSession& session, const std::string& settings,
                   const std::vector<std::string>& extraEnvironment, const std::string& binary)
    : session_(session) {
    if (!settings.empty()) {
        std::filesystem::create_directories(configHome_.path() + "/dovetrel");
        std::ofstream(settingsPath()) << settings;
    }
    auto environment = session.environment();
    environment.push_back("XDG_CONFIG_HOME=" + configHome_.path());
    // Qt and fontconfig keep caches for the life of the process; they are not our leaks.
    environment.push_back("ASAN_OPTIONS=detect_leaks=0");
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    process_ = ChildProcess({binary}, environment);
}

Dovetrel::~Dovetrel() = default;

std::string Dovetrel::settingsPath() const {
    return configHome_.path() + "/dovetrel/dovetrel.conf";
}

std::string Dovetrel::unexpectedOutput() const {
    std::istringstream lines(process_.errorOutput());
    std::string unexpected;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            unexpected += line + "\n";
        }
    }
    return unexpected;
}

// --- ClientWindow

ClientWindow::ClientWindow(XSession& session, int x, int y, int width, int height)
    : display_(XOpenDisplay(session.displayName().c_str())) {
    const int screen = DefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), x, y,
                                  static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                  BlackPixel(display_, screen), WhitePixel(display_, screen));
    XSelectInput(display_, window_, ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
    XStoreName(display_, window_, "dovetrel-e2e-client");
    XMapRaised(display_, window_);
    XSync(display_, False);
    waitFor([this] {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window_, &attributes);
        return attributes.map_state == IsViewable;
    });
    // Some window managers place a window where they like; put it back.
    XMoveWindow(display_, window_, x, y);
    XSync(display_, False);
}

ClientWindow::~ClientWindow() {
    XCloseDisplay(display_);
}

void ClientWindow::pump() {
    XSync(display_, False);
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == ButtonPress) {
            presses.push_back(static_cast<int>(event.xbutton.button));
        } else if (event.type == ButtonRelease) {
            releases.push_back(static_cast<int>(event.xbutton.button));
        }
    }
}

// --- input

void setMonitors(Display* display, const std::vector<MonitorLayout>& monitors) {
    const Window root = DefaultRootWindow(display);
    // Xvfb lays out monitors only once a client has asked for its screen resources, and the
    // primary monitor must be the one that keeps the screen's output, so it goes last.
    XRRScreenResources* resources = XRRGetScreenResources(display, root);
    if (resources == nullptr || resources->noutput < 1) {
        throw std::runtime_error("the server has no RandR output");
    }
    RROutput output = resources->outputs[0];
    XRRFreeScreenResources(resources);
    std::vector<MonitorLayout> ordered = monitors;
    std::stable_partition(ordered.begin(), ordered.end(),
                          [](const MonitorLayout& monitor) { return !monitor.primary; });
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        const MonitorLayout& layout = ordered[i];
        const std::string name = "E2E-" + std::to_string(i);
        XRRMonitorInfo monitor{};
        monitor.name = XInternAtom(display, name.c_str(), False);
        monitor.primary = layout.primary ? True : False;
        monitor.x = layout.x;
        monitor.y = layout.y;
        monitor.width = layout.width;
        monitor.height = layout.height;
        monitor.mwidth = layout.width / 4;
        monitor.mheight = layout.height / 4;
        monitor.noutput = layout.primary ? 1 : 0;
        monitor.outputs = layout.primary ? &output : nullptr;
        XRRSetMonitor(display, root, &monitor);
    }
    XSync(display, False);
}

void movePointer(Display* display, int x, int y) {
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XSync(display, False);
}

void pressButton(Display* display, int button) {
    XTestFakeButtonEvent(display, static_cast<unsigned>(button), True, CurrentTime);
    XSync(display, False);
}

void releaseButton(Display* display, int button) {
    XTestFakeButtonEvent(display, static_cast<unsigned>(button), False, CurrentTime);
    XSync(display, False);
}

void click(Display* display, int button) {
    pressButton(display, button);
    releaseButton(display, button);
}

void holdKey(Display* display, const char* keysymName, bool down) {
    const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(keysymName));
    XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime);
    XSync(display, False);
}

void tapKey(Display* display, const char* keysymName) {
    holdKey(display, keysymName, true);
    holdKey(display, keysymName, false);
}

std::vector<TopLevelWindow> topLevelWindows(Display* display) {
    // Windows may vanish while we look; that must not end the test.
    const XErrorTrap trap(display);
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<TopLevelWindow> windows;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) {
        return windows;
    }
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) == 0) {
            continue;
        }
        TopLevelWindow window{children[i],
                              attributes.x,
                              attributes.y,
                              attributes.width,
                              attributes.height,
                              attributes.override_redirect != 0,
                              attributes.map_state == IsViewable,
                              {}};
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
            window.name = name;
            XFree(name);
        }
        windows.push_back(std::move(window));
    }
    if (children != nullptr) {
        XFree(children);
    }
    return windows;
}

void killClientOwning(Display* display, unsigned long resource) {
    XKillClient(display, resource);
    XSync(display, False);
}

std::optional<OverlayInfo> findOverlay(Display* display) {
    for (const auto& window : topLevelWindows(display)) {
        if (window.overrideRedirect && window.viewable &&
            window.name.find("Dovetrel overlay") != std::string::npos) {
            return OverlayInfo{window.id, window.x, window.y, window.width, window.height};
        }
    }
    return std::nullopt;
}

std::optional<OverlayInfo> waitForGuardedOverlay(Display* display,
                                                 std::chrono::milliseconds timeout) {
    std::optional<OverlayInfo> overlay;
    if (!waitFor([&] { return (overlay = findOverlay(display)).has_value(); }, timeout) ||
        !waitForEventLoop(display, overlay->window)) {
        return std::nullopt;
    }
    return overlay;
}

bool buttonIsGrabbed(Display* display, int button, unsigned modifiers) {
    const XErrorTrap trap(display);
    const Window root = DefaultRootWindow(display);
    XGrabButton(display, static_cast<unsigned>(button), modifiers, root, False, ButtonPressMask,
                GrabModeAsync, GrabModeAsync, None, None);
    XSync(display, False);
    const bool grabbedElsewhere = trap.error() == BadAccess;
    if (!grabbedElsewhere) {
        XUngrabButton(display, static_cast<unsigned>(button), modifiers, root);
    }
    return grabbedElsewhere;
}

bool waitForEventLoop(Display* display, unsigned long window, std::chrono::milliseconds timeout) {
    // The answer comes as a structure event on the root window; a connection of its own keeps
    // those away from the caller's.
    Display* own = XOpenDisplay(DisplayString(display));
    if (own == nullptr) {
        return false;
    }
    XSelectInput(own, DefaultRootWindow(own), StructureNotifyMask);
    const Atom protocols = XInternAtom(own, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(own, "_NET_WM_PING", False);
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = window;
    request.xclient.message_type = protocols;
    request.xclient.format = 32;
    request.xclient.data.l[0] = static_cast<long>(ping);
    request.xclient.data.l[1] = CurrentTime;
    request.xclient.data.l[2] = static_cast<long>(window);
    const auto pingAnswered = [&] {
        while (XPending(own) > 0) {
            XEvent reply;
            XNextEvent(own, &reply);
            if (reply.type == ClientMessage && reply.xclient.message_type == protocols &&
                static_cast<Atom>(reply.xclient.data.l[0]) == ping &&
                static_cast<Window>(reply.xclient.data.l[2]) == window) {
                return true;
            }
        }
        return false;
    };
    bool answered = false;
    {
        // A window already gone answers nothing.
        const XErrorTrap trap(own);
        XSendEvent(own, window, False, NoEventMask, &request);
        XSync(own, False);
        answered = trap.error() == 0 && waitFor(pingAnswered, timeout);
    }
    XCloseDisplay(own);
    return answered;
}

}  // namespace dovetrel::e2e
