#include "support/wayland_session.h"

#include <linux/input-event-codes.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "fake-input-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace dovetrel::support {
namespace {

const wl_registry_listener kRegistry = {
    .global =
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
            static_cast<WaylandSession*>(data)->globalAdded(registry, name, interface);
        },
    .global_remove = [](void*, wl_registry*, uint32_t) {},
};

WaylandSession* session(void* data) {
    return static_cast<WaylandSession*>(data);
}

const xdg_wm_base_listener kShell = {
    .ping = [](void*, xdg_wm_base* shell, uint32_t serial) { xdg_wm_base_pong(shell, serial); },
};

const xdg_surface_listener kXdgSurface = {
    .configure = [](void* data, xdg_surface*,
                    uint32_t serial) { session(data)->windowConfigured(serial); },
};

const xdg_toplevel_listener kToplevel = {
    .configure = [](void* data, xdg_toplevel*, int32_t width, int32_t height,
                    wl_array*) { session(data)->windowSized(width, height); },
    .close = [](void*, xdg_toplevel*) {},
    .configure_bounds = nullptr,
    .wm_capabilities = nullptr,
};

const wl_pointer_listener kWindowPointer = {
    .enter = [](void* data, wl_pointer*, uint32_t, wl_surface*, wl_fixed_t,
                wl_fixed_t) { session(data)->windowReceived("enter"); },
    .leave = [](void* data, wl_pointer*, uint32_t,
                wl_surface*) { session(data)->windowReceived("leave"); },
    .motion = [](void* data, wl_pointer*, uint32_t, wl_fixed_t,
                 wl_fixed_t) { session(data)->windowReceived("motion"); },
    .button =
        [](void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
            session(data)->windowReceived(
                (state == WL_POINTER_BUTTON_STATE_PRESSED ? "press " : "release ") +
                std::to_string(button));
        },
    .axis = [](void* data, wl_pointer*, uint32_t, uint32_t,
               wl_fixed_t) { session(data)->windowReceived("scroll"); },
    .frame = nullptr,
    .axis_source = nullptr,
    .axis_stop = nullptr,
    .axis_discrete = nullptr,
    .axis_value120 = nullptr,
};

bool onPath(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null").c_str()) == 0;
}

// GNOME Shell's own session mode but for the overview it would open at start over the test's
// window, and the welcome tour.
const char kGnomeSessionMode[] = "dovetrel-tests";

const char kRemoteDesktop[] = "org.gnome.Mutter.RemoteDesktop";

// Calls `method` on connection `bus` of the object GNOME names as its service, such as
// org.gnome.Shell at /org/gnome/Shell.
QDBusMessage callGnome(const std::string& bus, const QString& service, const char* method,
                       const QList<QVariant>& arguments) {
    QString path = "/" + service;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path.replace('.', '/'), service, method);
    call.setArguments(arguments);
    return QDBusConnection(QString::fromStdString(bus)).call(call);
}
const uint32_t kShiftKeysym = 0xffe1;
// GNOME Shell's top bar at scale 1, in pixels.
const int kTopBarHeight = 32;

}  // namespace

WaylandSession::WaylandSession(int width, int height)
    : width_(width),
      height_(height),
      runtimeDir_(std::make_unique<QTemporaryDir>()),
      clientRuntimeDir_(std::make_unique<QTemporaryDir>()) {
    // Another compositor may be named, such as a newer one in a chroot:
    // DOVETREL_TEST_COMPOSITOR="chroot --userspec=nobody:nogroup /srv/trixie labwc".
    const char* named = std::getenv("DOVETREL_TEST_COMPOSITOR");
    std::vector<std::string> command;
    std::istringstream words(named != nullptr ? named : "sway");
    for (std::string word; words >> word;) {
        command.push_back(word);
    }
    if (command.empty() || (named == nullptr && !onPath("sway"))) {
        failure_ = "sway is needed (scripts/install-deps)";
        return;
    }
    const std::string program = std::filesystem::path(command.back()).filename().string();
    const bool gnome = program == "gnome-shell";
    if (program != "kwin_wayland" && !gnome && !onPath("grim")) {
        failure_ = "grim is needed (scripts/install-deps)";
        return;
    }
    const std::string dir = runtimeDir_->path().toStdString();
    std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + dir,
                                            "WAYLAND_DISPLAY=", "DISPLAY=", "HOME=" + dir};
    if (gnome) {
        prepareGnomeHome(dir);
        command.insert(
            command.end(),
            {"--headless", "--virtual-monitor",
             std::to_string(width) + "x" + std::to_string(height), "--wayland", "--no-x11",
             "--wayland-display", "wayland-gnome", std::string("--mode=") + kGnomeSessionMode,
             // Not in --help, but taken: lets any caller use Eval and the screenshots.
             "--unsafe-mode"});
        // Settings from a file in HOME, without a dconf service; session modes from HOME too.
        environment.insert(
            environment.end(),
            {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir + "/bus", "GSETTINGS_BACKEND=keyfile",
             "XDG_CONFIG_HOME=", "XDG_DATA_HOME=", "NO_AT_BRIDGE=1",
             "XDG_DATA_DIRS=" + dir + ":/usr/local/share:/usr/share"});
    } else if (program == "kwin_wayland") {
        // QPainter compositing, no lock screen or shortcuts, and the test's fake input allowed.
        command.insert(command.end() - 1, "dbus-run-session");
        command.insert(command.end(), {"--virtual", "--width", std::to_string(width), "--height",
                                       std::to_string(height), "--no-lockscreen",
                                       "--no-global-shortcuts", "--socket", "wayland-kwin"});
        environment.insert(environment.end(),
                           {"KWIN_COMPOSE=Q", "KWIN_WAYLAND_NO_PERMISSION_CHECKS=1",
                            "DBUS_SESSION_BUS_ADDRESS=", "QT_QPA_PLATFORM="});
    } else {
        environment.insert(environment.end(),
                           {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                            "WLR_LIBINPUT_NO_DEVICES=1", "WLR_HEADLESS_OUTPUTS=1"});
    }
    if (program == "labwc") {
        // Windows without a title bar, so that the test's fills the output. The headless
        // output is 1280x720 already.
        std::ofstream(dir + "/rc.xml")
            << "<labwc_config><core><decoration>client</decoration></core></labwc_config>\n";
        std::ofstream(dir + "/autostart");
        command.insert(command.end(), {"-C", dir});
    } else if (program == "sway") {
        std::ofstream(dir + "/sway.conf") << "output HEADLESS-1 mode " << width << "x" << height
                                          << " position 0 0\ndefault_border none\n"
                                             "focus_follows_mouse no\n";
        command.insert(command.end(), {"-c", dir + "/sway.conf"});
    }
    if (geteuid() == 0) {
        const char* name = std::getenv("DOVETREL_TEST_USER");
        const passwd* user = getpwnam(name != nullptr ? name : "nobody");
        if (user == nullptr || chown(dir.c_str(), user->pw_uid, user->pw_gid) != 0) {
            failure_ = "no user to run the compositor as (DOVETREL_TEST_USER)";
            return;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            lchown(entry.path().c_str(), user->pw_uid, user->pw_gid);
        }
        if (named == nullptr) {
            command.insert(command.begin(), {"runuser", "-u", user->pw_name, "--"});
        }
    }
    chmod(dir.c_str(), 0700);
    // The session bus comes first, for GNOME Shell to join it. It lets in any user, as the
    // compositor may run as another than the test's, and has its socket in the compositor's
    // folder, which a test run as root reaches too.
    std::ofstream(dir + "/bus.conf")
        << "<busconfig><include>/usr/share/dbus-1/session.conf</include>"
           "<policy context=\"default\"><allow user=\"*\"/></policy></busconfig>\n";
    bus_ = ChildProcess({"dbus-daemon", "--config-file=" + dir + "/bus.conf", "--nofork",
                         "--address=unix:path=" + dir + "/bus"},
                        {});
    waitFor([&] { return std::filesystem::exists(dir + "/bus"); });
    compositor_ = ChildProcess(command, environment);
    // sway names its socket after the first free number.
    waitFor([&] {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("wayland-", 0) == 0 && entry.is_socket()) {
                socket_ = entry.path().string();
                display_ = wl_display_connect(socket_.c_str());
                return display_ != nullptr;
            }
        }
        return false;
    });
    if (display_ != nullptr) {
        registry_ = wl_display_get_registry(display_);
        wl_registry_add_listener(registry_, &kRegistry, this);
        wl_display_roundtrip(display_);
    }
    // GNOME Shell opens its socket long before its user interface and extensions are up.
    const auto shellStarted = [&] {
        return compositor_.errorOutput().find("GNOME Shell started") != std::string::npos;
    };
    const bool started = !gnome || (waitFor(shellStarted, 60s) && startRemoteDesktop());
    if (!started || seat_ == nullptr ||
        (manager_ == nullptr && fakeInput_ == nullptr && remoteSession_.empty())) {
        failure_ = command.back() + " did not start: " + compositor_.errorOutput();
        return;
    }
    if (gnome) {
        // Pushed into the top-left corner, where it stops, the pointer is known from there on.
        remoteInput("NotifyPointerMotionRelative", {-2.0 * width, -2.0 * height});
    } else if (fakeInput_ != nullptr) {
        org_kde_kwin_fake_input_authenticate(fakeInput_, "dovetrel tests", "test input");
    } else {
        // The seat has no pointer at all until this one comes.
        pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager_, seat_);
    }
    roundTrip();
}

WaylandSession::~WaylandSession() {
    if (!remoteBus_.empty()) {
        QDBusConnection::disconnectFromBus(QString::fromStdString(remoteBus_));
    }
    if (windowPointer_ != nullptr) {
        wl_pointer_destroy(windowPointer_);
    }
    if (toplevel_ != nullptr) {
        xdg_toplevel_destroy(toplevel_);
        xdg_surface_destroy(xdgSurface_);
        wl_surface_destroy(surface_);
    }
    if (windowBuffer_ != nullptr) {
        wl_buffer_destroy(windowBuffer_);
    }
    for (auto* proxy :
         {reinterpret_cast<wl_proxy*>(shell_), reinterpret_cast<wl_proxy*>(shm_),
          reinterpret_cast<wl_proxy*>(surfaces_), reinterpret_cast<wl_proxy*>(fakeInput_)}) {
        if (proxy != nullptr) {
            wl_proxy_destroy(proxy);
        }
    }
    if (pointer_ != nullptr) {
        zwlr_virtual_pointer_v1_destroy(pointer_);
    }
    if (manager_ != nullptr) {
        zwlr_virtual_pointer_manager_v1_destroy(manager_);
    }
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    if (display_ != nullptr) {
        wl_display_disconnect(display_);
    }
    // runuser leaves sway behind when it is killed alone: end the whole group.
    if (compositor_.isRunning()) {
        ::kill(-compositor_.pid(), SIGKILL);
        compositor_.waitForExit();
    }
}

void WaylandSession::globalAdded(wl_registry* registry, uint32_t name, const char* interface) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat_ == nullptr) {
        seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        manager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        surfaces_ = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        shell_ =
            static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(shell_, &kShell, nullptr);
    } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        fakeInput_ = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
    }
}

void WaylandSession::openWindow(bool fullScreen) {
    surface_ = wl_compositor_create_surface(surfaces_);
    xdgSurface_ = xdg_wm_base_get_xdg_surface(shell_, surface_);
    xdg_surface_add_listener(xdgSurface_, &kXdgSurface, this);
    toplevel_ = xdg_surface_get_toplevel(xdgSurface_);
    xdg_toplevel_add_listener(toplevel_, &kToplevel, this);
    // Dovetrel keeps its square away from a full-screen window.
    if (fullScreen) {
        xdg_toplevel_set_fullscreen(toplevel_, nullptr);
    } else {
        xdg_toplevel_set_maximized(toplevel_);
    }
    wl_surface_commit(surface_);
    while (!configured_ && wl_display_dispatch(display_) >= 0) {
    }
    // A white buffer the size the compositor asks for, the output's when it leaves that to us.
    const int width = windowWidth_ > 0 ? windowWidth_ : width_;
    const int height = windowHeight_ > 0 ? windowHeight_ : height_;
    const int stride = width * 4;
    const int fd = memfd_create("window", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(stride) * height) != 0) {
        return;
    }
    void* pixels = mmap(nullptr, size_t(stride) * size_t(height), PROT_WRITE, MAP_SHARED, fd, 0);
    std::memset(pixels, 0xff, size_t(stride) * size_t(height));
    munmap(pixels, size_t(stride) * size_t(height));
    wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, stride * height);
    windowBuffer_ =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(surface_, windowBuffer_, 0, 0);
    wl_surface_commit(surface_);
    windowPointer_ = wl_seat_get_pointer(seat_);
    wl_pointer_add_listener(windowPointer_, &kWindowPointer, this);
    // GNOME Shell gives a new window the pointer a moment after it moved there: wait for that
    // once, so that the window's losing the pointer later tells something.
    movePointer(width_ / 2, height_ / 2);
    waitFor([&] { return windowHasPointer(); });
}

void WaylandSession::windowConfigured(uint32_t serial) {
    xdg_surface_ack_configure(xdgSurface_, serial);
    configured_ = true;
}

void WaylandSession::windowSized(int width, int height) {
    windowWidth_ = width;
    windowHeight_ = height;
}

std::vector<std::string> WaylandSession::received() {
    roundTrip();
    return std::exchange(received_, {});
}

void WaylandSession::windowReceived(std::string event) {
    if (event == "enter" || event == "leave") {
        windowHasPointer_ = event == "enter";
    }
    received_.push_back(std::move(event));
}

bool WaylandSession::windowHasPointer() {
    roundTrip();
    return windowHasPointer_;
}

void WaylandSession::type(const std::string& keys) {
    if (!remoteSession_.empty()) {
        // The keysyms of lower-case letters are their ASCII codes.
        for (const char key : keys) {
            tapKey(uint32_t(key));
        }
        return;
    }
    if (fakeInput_ == nullptr) {
        ChildProcess({"wtype", keys}, environment()).waitForExit();
        return;
    }
    // Linux key codes of the letters, row by row as on the keyboard.
    const std::pair<const char*, uint32_t> rows[] = {
        {"qwertyuiop", KEY_Q}, {"asdfghjkl", KEY_A}, {"zxcvbnm", KEY_Z}};
    for (const char key : keys) {
        for (const auto& [letters, first] : rows) {
            if (const char* at = std::strchr(letters, key); at != nullptr && key != '\0') {
                for (const auto state :
                     {WL_KEYBOARD_KEY_STATE_PRESSED, WL_KEYBOARD_KEY_STATE_RELEASED}) {
                    org_kde_kwin_fake_input_keyboard_key(fakeInput_, first + uint32_t(at - letters),
                                                         state);
                }
            }
        }
    }
    roundTrip();
}

void WaylandSession::tapKey(uint32_t keysym) {
    for (const bool down : {true, false}) {
        remoteInput("NotifyKeyboardKeysym", {keysym, down});
    }
    roundTrip();
}

bool WaylandSession::holdShift(bool down) {
    if (!remoteSession_.empty()) {
        remoteInput("NotifyKeyboardKeysym", {kShiftKeysym, down});
        roundTrip();
        return true;
    }
    if (fakeInput_ == nullptr) {
        return false;
    }
    org_kde_kwin_fake_input_keyboard_key(
        fakeInput_, KEY_LEFTSHIFT,
        down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    roundTrip();
    return true;
}

void WaylandSession::withShiftHeld(const std::function<void()>& meanwhile) {
    if (holdShift(true)) {
        std::this_thread::sleep_for(200ms);
        meanwhile();
        holdShift(false);
        return;
    }
    // A key press as a keyboard sends it: a bare modifier update (wtype -M) is no input to
    // sway 1.7's idle count.
    ChildProcess shift({"wtype", "-P", "Shift_L", "-s", "400", "-p", "Shift_L"}, environment());
    std::this_thread::sleep_for(200ms);
    meanwhile();
    shift.waitForExit();
}

std::vector<std::string> WaylandSession::environment() const {
    return {"XDG_RUNTIME_DIR=" + clientRuntimeDir_->path().toStdString(),
            "WAYLAND_DISPLAY=" + socket_, "XDG_SESSION_TYPE=wayland", "DISPLAY=",
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtimeDir_->path().toStdString() + "/bus",
            // Chosen by the session alone.
            "DOVETREL_WAYLAND="};
}

void WaylandSession::movePointer(int x, int y) {
    if (!remoteSession_.empty()) {
        // Motion that does not pass through a corner, unlike the absolute kind, which mutter
        // takes only with a screen cast and so a PipeWire daemon.
        remoteInput("NotifyPointerMotionRelative", {double(x - pointerX_), double(y - pointerY_)});
        pointerX_ = x;
        pointerY_ = y;
    } else if (fakeInput_ != nullptr) {
        org_kde_kwin_fake_input_pointer_motion_absolute(fakeInput_, wl_fixed_from_int(x),
                                                        wl_fixed_from_int(y));
    } else {
        zwlr_virtual_pointer_v1_motion_absolute(pointer_, time_ += 10, uint32_t(x), uint32_t(y),
                                                uint32_t(width_), uint32_t(height_));
        zwlr_virtual_pointer_v1_frame(pointer_);
    }
    roundTrip();
}

void WaylandSession::click(uint32_t button) {
    for (const auto state : {WL_POINTER_BUTTON_STATE_PRESSED, WL_POINTER_BUTTON_STATE_RELEASED}) {
        if (!remoteSession_.empty()) {
            remoteInput("NotifyPointerButton",
                        {int(button), state == WL_POINTER_BUTTON_STATE_PRESSED});
        } else if (fakeInput_ != nullptr) {
            org_kde_kwin_fake_input_button(fakeInput_, button, state);
        } else {
            zwlr_virtual_pointer_v1_button(pointer_, time_ += 10, button, state);
            zwlr_virtual_pointer_v1_frame(pointer_);
        }
    }
    roundTrip();
}

void WaylandSession::scroll(int steps) {
    if (!remoteSession_.empty()) {
        remoteInput("NotifyPointerAxisDiscrete",
                    {uint32_t(WL_POINTER_AXIS_VERTICAL_SCROLL), steps});
    } else if (fakeInput_ != nullptr) {
        org_kde_kwin_fake_input_axis(fakeInput_, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                     wl_fixed_from_int(steps * 15));
    } else {
        zwlr_virtual_pointer_v1_axis_source(pointer_, WL_POINTER_AXIS_SOURCE_WHEEL);
        zwlr_virtual_pointer_v1_axis_discrete(pointer_, time_ += 10,
                                              WL_POINTER_AXIS_VERTICAL_SCROLL,
                                              wl_fixed_from_int(steps * 15), steps);
        zwlr_virtual_pointer_v1_frame(pointer_);
    }
    roundTrip();
}

void WaylandSession::roundTrip() {
    wl_display_roundtrip(display_);
}

void WaylandSession::prepareGnomeHome(const std::string& home) {
    namespace fs = std::filesystem;
    const fs::path extensions = home + "/.local/share/gnome-shell/extensions";
    fs::create_directories(extensions);
    std::error_code absent;
    fs::copy(DOVETREL_SOURCE_DIR "/data/gnome-shell/dovetrel@dovetrel.app",
             extensions / "dovetrel@dovetrel.app", fs::copy_options::recursive, absent);
    fs::create_directories(home + "/.config/glib-2.0/settings");
    // No hot corner: the pointer is first pushed into the top-left one. A plain background and
    // no banners (the one saying the screen cannot lock), for screenshots to tell what changed.
    std::ofstream(home + "/.config/glib-2.0/settings/keyfile")
        << "[org/gnome/shell]\nenabled-extensions=['dovetrel@dovetrel.app']\n"
           "[org/gnome/desktop/interface]\nenable-hot-corners=false\n"
           "[org/gnome/desktop/background]\npicture-uri=''\n"
           "[org/gnome/desktop/notifications]\nshow-banners=false\n";
    fs::create_directories(home + "/gnome-shell/modes");
    std::ofstream(home + "/gnome-shell/modes/" + kGnomeSessionMode + ".json")
        << R"({"parentMode": "user", "hasOverview": false, "showWelcomeDialog": false})"
        << "\n";
}

bool WaylandSession::startRemoteDesktop() {
    remoteBus_ = "dovetrel-test-input-" + std::to_string(reinterpret_cast<uintptr_t>(this));
    QDBusConnection::connectToBus(
        QString::fromStdString("unix:path=" + runtimeDir_->path().toStdString() + "/bus"),
        QString::fromStdString(remoteBus_));
    const QDBusMessage created = callGnome(remoteBus_, kRemoteDesktop, "CreateSession", {});
    if (created.type() != QDBusMessage::ReplyMessage) {
        return false;
    }
    remoteSession_ = created.arguments().value(0).value<QDBusObjectPath>().path().toStdString();
    return remoteInput("Start", {});
}

bool WaylandSession::remoteInput(const char* method, const QList<QVariant>& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kRemoteDesktop, QString::fromStdString(remoteSession_),
                                       QString(kRemoteDesktop) + ".Session", method);
    call.setArguments(arguments);
    // Answered once mutter has queued the input, which keeps it in order.
    return QDBusConnection(QString::fromStdString(remoteBus_)).call(call).type() ==
           QDBusMessage::ReplyMessage;
}

std::string WaylandSession::eval(const std::string& js) const {
    if (!isGnome()) {
        return {};
    }
    const QList<QVariant> answer =
        callGnome(remoteBus_, "org.gnome.Shell", "Eval", {QString::fromStdString(js)}).arguments();
    return answer.value(0).toBool() ? answer.value(1).toString().toStdString() : std::string();
}

QImage WaylandSession::screenshot() const {
    // The compositor's folder, which GNOME Shell may write to as its user and the test read.
    const QString path = runtimeDir_->filePath(QStringLiteral("screenshot.png"));
    if (isGnome()) {
        const QDBusMessage shot =
            callGnome(remoteBus_, "org.gnome.Shell.Screenshot", "Screenshot", {true, false, path});
        // Opaque: where the Shell has painted no background yet, its pixels are transparent.
        QImage image = shot.arguments().value(0).toBool()
                           ? QImage(path).convertToFormat(QImage::Format_RGB32)
                           : QImage();
        if (!image.isNull()) {
            QPainter(&image).fillRect(0, 0, image.width(), kTopBarHeight,
                                      QColor(image.pixel(0, kTopBarHeight)));
        }
        return image;
    }
    ChildProcess grim({"grim", path.toStdString()}, environment());
    if (grim.waitForExit() != 0) {
        return {};
    }
    return QImage(path);
}

QRect paintedArea(const QImage& shot) {
    QRect area;
    if (shot.isNull()) {
        return area;
    }
    const QRgb background = shot.pixel(0, 0);
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixel(x, y) != background) {
                area |= QRect(x, y, 1, 1);
            }
        }
    }
    return area;
}

}  // namespace dovetrel::support
