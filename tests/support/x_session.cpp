#include "support/x_session.h"

#include <QtCore/qtestsupport_core.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

// Xlib after Qt: its macros (Bool, Status) break Qt's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>

namespace dovetrel::support {
namespace {

int lastError = 0;

std::vector<Window> childrenOf(Display* display, Window window) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> found;
    if (XQueryTree(display, window, &root, &parent, &children, &count) != 0 && children) {
        found.assign(children, children + count);
        XFree(children);
    }
    return found;
}

}  // namespace

XErrorTrap::XErrorTrap(Display* display) : display_(display) {
    XSync(display_, False);
    lastError = 0;
    previous_ = reinterpret_cast<void (*)()>(XSetErrorHandler([](Display*, XErrorEvent* event) {
        lastError = event->error_code;
        return 0;
    }));
}

XErrorTrap::~XErrorTrap() {
    // Errors of the trapped requests come in before the previous handler is back.
    XSync(display_, False);
    XSetErrorHandler(reinterpret_cast<XErrorHandler>(previous_));
}

int XErrorTrap::error() const {
    return lastError;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor([&] { return condition(); }, int(timeout.count()));
}

void ensureApplication(const std::function<void(int& argc, char** argv)>& make) {
    static int argc = 1;
    static char name[] = "dovetrel_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        make(argc, argv);
    }
}

// --- ChildProcess

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment)
    : folder_(std::make_unique<QTemporaryDir>()), process_(new QProcess) {
    QProcessEnvironment merged = QProcessEnvironment::systemEnvironment();
    for (const auto& line : environment) {
        const auto equals = line.find('=');
        const QString key = QString::fromStdString(line.substr(0, equals));
        if (equals + 1 >= line.size()) {
            merged.remove(key);
        } else {
            merged.insert(key, QString::fromStdString(line.substr(equals + 1)));
        }
    }
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i) {
        arguments << QString::fromStdString(argv[i]);
    }
    process_->setProcessEnvironment(merged);
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->setStandardErrorFile(folder_->filePath(QStringLiteral("stderr")));
    // A group of its own keeps a terminal's signals meant for the test off the child.
    process_->setChildProcessModifier([] { setpgid(0, 0); });
    process_->start(QString::fromStdString(argv.at(0)), arguments);
    if (!process_->waitForStarted()) {
        throw std::runtime_error("cannot start " + argv.at(0));
    }
}

ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;

void ChildProcess::Stop::operator()(QProcess* process) const {
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
    delete process;
}

pid_t ChildProcess::pid() const {
    return process_ ? pid_t(process_->processId()) : -1;
}

bool ChildProcess::isRunning() {
    // Without an event loop QProcess learns of the end only when asked to wait for it.
    return process_ && !process_->waitForFinished(0) && process_->state() != QProcess::NotRunning;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (!process_ || (process_->state() != QProcess::NotRunning &&
                      !process_->waitForFinished(int(timeout.count())))) {
        return std::nullopt;
    }
    return process_->exitStatus() == QProcess::CrashExit ? 128 + process_->exitCode()
                                                         : process_->exitCode();
}

void ChildProcess::signal(int number) {
    if (isRunning()) {
        kill(pid(), number);
    }
}

std::string ChildProcess::errorOutput() const {
    QFile file(folder_ ? folder_->filePath(QStringLiteral("stderr")) : QString());
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// --- XSession

XSession::XSession(SessionOptions options) : runtimeDir_(std::make_unique<QTemporaryDir>()) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> arguments{"Xvfb",      "-displayfd", std::to_string(pipeFds[1]),
                                       "-nolisten", "tcp",        "-noreset"};
    for (int screen = 0; screen < options.screens; ++screen) {
        arguments.insert(arguments.end(), {"-screen", std::to_string(screen),
                                           std::to_string(options.width) + "x" +
                                               std::to_string(options.height) + "x24"});
    }
    server_ = ChildProcess(arguments, {});
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
        waitFor([&] {
            return !windowProperty(display_, DefaultRootWindow(display_),
                                   "_NET_SUPPORTING_WM_CHECK")
                        .empty();
        });
        // The window manager announces itself before it is ready to manage windows, and a
        // window mapped in between stays unmapped. Map a probe until the manager shows it.
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
}

XSession::~XSession() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

std::vector<std::string> XSession::environment() const {
    return {"DISPLAY=" + displayName_, "XDG_RUNTIME_DIR=" + runtimeDir_->path().toStdString(),
            "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=x11"};
}

// --- Dovetrel

Dovetrel::Dovetrel(XSession& session, const std::string& settings,
                   const std::vector<std::string>& extraEnvironment, const std::string& binary)
    : Dovetrel(session.environment(), settings, extraEnvironment, binary) {}

Dovetrel::Dovetrel(const std::vector<std::string>& sessionEnvironment, const std::string& settings,
                   const std::vector<std::string>& extraEnvironment, const std::string& binary)
    : configHome_(std::make_unique<QTemporaryDir>()) {
    if (!settings.empty()) {
        std::filesystem::create_directories(configHome_->filePath("dovetrel").toStdString());
        std::ofstream(settingsPath()) << settings;
    }
    auto environment = sessionEnvironment;
    environment.push_back("XDG_CONFIG_HOME=" + configHome_->path().toStdString());
    // Qt and fontconfig keep caches for the life of the process; they are not our leaks.
    environment.push_back("ASAN_OPTIONS=detect_leaks=0");
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    process_ = ChildProcess({binary}, environment);
}

Dovetrel::~Dovetrel() = default;

std::string Dovetrel::settingsPath() const {
    return configHome_->filePath("dovetrel/dovetrel.conf").toStdString();
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

bool ClientWindow::receives(const std::vector<int>& buttons) {
    const bool got = waitFor([&] {
        pump();
        return presses == buttons && releases == buttons;
    });
    presses.clear();
    releases.clear();
    return got;
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

int pointerX(Display* display) {
    Window root = 0;
    Window child = 0;
    int x = 0;
    int y = 0;
    unsigned mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &y, &y, &mask);
    return x;
}

bool isStopped(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string number, name, state;
    stat >> number >> name >> state;
    return state == "T";
}

std::string readText(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<TopLevelWindow> topLevelWindows(Display* display) {
    // Windows may vanish while we look; that must not end the test.
    const XErrorTrap trap(display);
    std::vector<TopLevelWindow> windows;
    for (const Window child : childrenOf(display, DefaultRootWindow(display))) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, child, &attributes) != 0) {
            windows.push_back({child, attributes.x, attributes.y, attributes.width,
                               attributes.height, attributes.override_redirect != 0,
                               attributes.map_state == IsViewable,
                               windowText(display, child, "WM_NAME")});
        }
    }
    return windows;
}

std::vector<unsigned long> windowsOfClass(Display* display, unsigned long window,
                                          const char* windowClass) {
    const XErrorTrap trap(display);
    std::vector<unsigned long> found;
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint) != 0) {
        if (hint.res_class != nullptr && std::string(hint.res_class) == windowClass) {
            found.push_back(window);
        }
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    for (const Window child : childrenOf(display, window)) {
        const auto below = windowsOfClass(display, child, windowClass);
        found.insert(found.end(), below.begin(), below.end());
    }
    return found;
}

std::vector<unsigned long> windowProperty(Display* display, unsigned long window,
                                          const char* name) {
    const XErrorTrap trap(display);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
        if (format == 32) {
            const auto* items = reinterpret_cast<const unsigned long*>(data);
            values.assign(items, items + count);
        } else if (format == 8) {
            values.assign(data, data + count);
        }
        XFree(data);
    }
    return values;
}

std::string windowText(Display* display, unsigned long window, const char* name) {
    const auto bytes = windowProperty(display, window, name);
    return {bytes.begin(), bytes.end()};
}

void sendClientMessage(Display* display, unsigned long window, const char* type,
                       std::initializer_list<long> data, bool toWindowManager) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    std::copy(data.begin(), data.end(), event.xclient.data.l);
    XSendEvent(display, toWindowManager ? DefaultRootWindow(display) : window, False,
               toWindowManager ? SubstructureRedirectMask | SubstructureNotifyMask : NoEventMask,
               &event);
    XSync(display, False);
}

std::optional<TopLevelWindow> findOverlay(Display* display) {
    const auto windows = topLevelWindows(display);
    const auto overlay = std::find_if(windows.begin(), windows.end(), [](const auto& window) {
        return window.overrideRedirect && window.viewable &&
               window.name.find("Dovetrel overlay") != std::string::npos;
    });
    return overlay == windows.end() ? std::nullopt : std::optional(*overlay);
}

bool overlayGoes(Display* display, std::chrono::milliseconds timeout) {
    return waitFor([display] { return !findOverlay(display); }, timeout);
}

std::optional<TopLevelWindow> waitForGuardedOverlay(Display* display,
                                                    std::chrono::milliseconds timeout) {
    std::optional<TopLevelWindow> overlay;
    if (!waitFor([&] { return (overlay = findOverlay(display)).has_value(); }, timeout) ||
        !waitForEventLoop(display, overlay->id)) {
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
        sendClientMessage(own, window, "WM_PROTOCOLS", {long(ping), CurrentTime, long(window)});
        answered = trap.error() == 0 && waitFor(pingAnswered, timeout);
    }
    XCloseDisplay(own);
    return answered;
}

}  // namespace dovetrel::support
