#include "support/wayland_session.h"

#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

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
    .configure = [](void*, xdg_toplevel*, int32_t, int32_t, wl_array*) {},
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

}  // namespace

WaylandSession::WaylandSession(int width, int height)
    : width_(width),
      height_(height),
      runtimeDir_(std::make_unique<QTemporaryDir>()),
      clientRuntimeDir_(std::make_unique<QTemporaryDir>()) {
    // Another sway may be named, such as a newer one in a chroot:
    // DOVETREL_TEST_SWAY="chroot --userspec=nobody:nogroup /srv/trixie sway".
    const char* sway = std::getenv("DOVETREL_TEST_SWAY");
    if ((sway == nullptr && !onPath("sway")) || !onPath("grim")) {
        failure_ = "sway and grim are needed (scripts/install-deps)";
        return;
    }
    const std::string dir = runtimeDir_->path().toStdString();
    std::ofstream(dir + "/sway.conf") << "output HEADLESS-1 mode " << width << "x" << height
                                      << " position 0 0\ndefault_border none\n"
                                         "focus_follows_mouse no\n";
    std::vector<std::string> command;
    std::istringstream words(sway != nullptr ? sway : "sway");
    for (std::string word; words >> word;) {
        command.push_back(word);
    }
    command.insert(command.end(), {"-c", dir + "/sway.conf"});
    if (geteuid() == 0) {
        const char* name = std::getenv("DOVETREL_TEST_USER");
        const passwd* user = getpwnam(name != nullptr ? name : "nobody");
        if (user == nullptr || chown(dir.c_str(), user->pw_uid, user->pw_gid) != 0) {
            failure_ = "no user to run sway as (DOVETREL_TEST_USER)";
            return;
        }
        if (sway == nullptr) {
            command.insert(command.begin(), {"runuser", "-u", user->pw_name, "--"});
        }
    }
    chmod(dir.c_str(), 0700);
    sway_ = ChildProcess(command, {"XDG_RUNTIME_DIR=" + dir, "WLR_BACKENDS=headless",
                                   "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
                                   "WLR_HEADLESS_OUTPUTS=1", "WAYLAND_DISPLAY=", "DISPLAY="});
    const std::string clientDir = clientRuntimeDir_->path().toStdString();
    bus_ = ChildProcess(
        {"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + clientDir + "/bus"}, {});
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
    if (seat_ == nullptr || manager_ == nullptr) {
        failure_ = "sway did not start: " + sway_.errorOutput();
        return;
    }
    // The seat has no pointer at all until this one comes.
    pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager_, seat_);
    roundTrip();
}

WaylandSession::~WaylandSession() {
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
    for (auto* proxy : {reinterpret_cast<wl_proxy*>(shell_), reinterpret_cast<wl_proxy*>(shm_),
                        reinterpret_cast<wl_proxy*>(compositor_)}) {
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
    if (sway_.isRunning()) {
        ::kill(-sway_.pid(), SIGKILL);
        sway_.waitForExit();
    }
}

void WaylandSession::globalAdded(wl_registry* registry, uint32_t name, const char* interface) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat_ == nullptr) {
        seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        manager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        compositor_ = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        shell_ =
            static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(shell_, &kShell, nullptr);
    }
}

void WaylandSession::openWindow() {
    surface_ = wl_compositor_create_surface(compositor_);
    xdgSurface_ = xdg_wm_base_get_xdg_surface(shell_, surface_);
    xdg_surface_add_listener(xdgSurface_, &kXdgSurface, this);
    toplevel_ = xdg_surface_get_toplevel(xdgSurface_);
    xdg_toplevel_add_listener(toplevel_, &kToplevel, this);
    wl_surface_commit(surface_);
    while (!configured_ && wl_display_dispatch(display_) >= 0) {
    }
    // A white buffer the size of the output, which sway tiles the only window to.
    const int stride = width_ * 4;
    const int fd = memfd_create("window", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(stride) * height_) != 0) {
        return;
    }
    void* pixels = mmap(nullptr, size_t(stride) * size_t(height_), PROT_WRITE, MAP_SHARED, fd, 0);
    std::memset(pixels, 0xff, size_t(stride) * size_t(height_));
    munmap(pixels, size_t(stride) * size_t(height_));
    wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, stride * height_);
    windowBuffer_ =
        wl_shm_pool_create_buffer(pool, 0, width_, height_, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(surface_, windowBuffer_, 0, 0);
    wl_surface_commit(surface_);
    windowPointer_ = wl_seat_get_pointer(seat_);
    wl_pointer_add_listener(windowPointer_, &kWindowPointer, this);
    roundTrip();
}

void WaylandSession::windowConfigured(uint32_t serial) {
    xdg_surface_ack_configure(xdgSurface_, serial);
    configured_ = true;
}

std::vector<std::string> WaylandSession::received() {
    roundTrip();
    return std::exchange(received_, {});
}

void WaylandSession::type(const std::string& keys) {
    ChildProcess({"wtype", keys}, environment()).waitForExit();
}

std::vector<std::string> WaylandSession::environment() const {
    const std::string dir = clientRuntimeDir_->path().toStdString();
    return {"XDG_RUNTIME_DIR=" + dir, "WAYLAND_DISPLAY=" + socket_, "XDG_SESSION_TYPE=wayland",
            "DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir + "/bus",
            // Chosen by the session alone.
            "DOVETREL_WAYLAND="};
}

void WaylandSession::movePointer(int x, int y) {
    zwlr_virtual_pointer_v1_motion_absolute(pointer_, time_ += 10, uint32_t(x), uint32_t(y),
                                            uint32_t(width_), uint32_t(height_));
    zwlr_virtual_pointer_v1_frame(pointer_);
    roundTrip();
}

void WaylandSession::click(uint32_t button) {
    for (const auto state : {WL_POINTER_BUTTON_STATE_PRESSED, WL_POINTER_BUTTON_STATE_RELEASED}) {
        zwlr_virtual_pointer_v1_button(pointer_, time_ += 10, button, state);
        zwlr_virtual_pointer_v1_frame(pointer_);
    }
    roundTrip();
}

void WaylandSession::scroll(int steps) {
    zwlr_virtual_pointer_v1_axis_source(pointer_, WL_POINTER_AXIS_SOURCE_WHEEL);
    zwlr_virtual_pointer_v1_axis_discrete(pointer_, time_ += 10, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                          wl_fixed_from_int(steps * 15), steps);
    zwlr_virtual_pointer_v1_frame(pointer_);
    roundTrip();
}

void WaylandSession::roundTrip() {
    wl_display_roundtrip(display_);
}

QImage WaylandSession::screenshot() const {
    const QString path = runtimeDir_->filePath(QStringLiteral("screenshot.png"));
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
