#include "support/wayland_session.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace dovetrel::support {
namespace {

const wl_registry_listener kRegistry = {
    .global =
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
            static_cast<WaylandSession*>(data)->globalAdded(registry, name, interface);
        },
    .global_remove = [](void*, wl_registry*, uint32_t) {},
};

bool onPath(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null").c_str()) == 0;
}

}  // namespace

WaylandSession::WaylandSession(int width, int height)
    : width_(width), height_(height), runtimeDir_(std::make_unique<QTemporaryDir>()) {
    if (!onPath("sway") || !onPath("grim")) {
        failure_ = "sway and grim are needed (scripts/install-deps)";
        return;
    }
    const std::string dir = runtimeDir_->path().toStdString();
    std::ofstream(dir + "/sway.conf") << "output HEADLESS-1 mode " << width << "x" << height
                                      << " position 0 0\ndefault_border none\n"
                                         "focus_follows_mouse no\n";
    std::vector<std::string> command = {"sway", "-c", dir + "/sway.conf"};
    if (geteuid() == 0) {
        const char* name = std::getenv("DOVETREL_TEST_USER");
        const passwd* user = getpwnam(name != nullptr ? name : "nobody");
        if (user == nullptr || chown(dir.c_str(), user->pw_uid, user->pw_gid) != 0) {
            failure_ = "no user to run sway as (DOVETREL_TEST_USER)";
            return;
        }
        command.insert(command.begin(), {"runuser", "-u", user->pw_name, "--"});
    }
    chmod(dir.c_str(), 0700);
    compositor_ = ChildProcess(command, {"XDG_RUNTIME_DIR=" + dir, "WLR_BACKENDS=headless",
                                         "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
                                         "WLR_HEADLESS_OUTPUTS=1", "WAYLAND_DISPLAY=", "DISPLAY="});
    // sway names its socket after the first free number.
    waitFor([&] {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("wayland-", 0) == 0 && entry.is_socket()) {
                socket_ = name;
                display_ = wl_display_connect(entry.path().c_str());
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
        failure_ = "sway did not start: " + compositor_.errorOutput();
        return;
    }
    // The seat has no pointer at all until this one comes.
    pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager_, seat_);
    roundTrip();
}

WaylandSession::~WaylandSession() {
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
}

void WaylandSession::globalAdded(wl_registry* registry, uint32_t name, const char* interface) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat_ == nullptr) {
        seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        manager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    }
}

std::vector<std::string> WaylandSession::environment() const {
    return {"XDG_RUNTIME_DIR=" + runtimeDir_->path().toStdString(), "WAYLAND_DISPLAY=" + socket_,
            "XDG_SESSION_TYPE=wayland", "DISPLAY=", "DOVETREL_WAYLAND=1"};
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
