#include "app/wayland/connection.h"

#include <wayland-client.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "keystate-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "wlr-layer-shell.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace dovetrel::app {
namespace {

WaylandConnection* self(void* data) {
    return static_cast<WaylandConnection*>(data);
}

QPointF toPoint(wl_fixed_t x, wl_fixed_t y) {
    return {wl_fixed_to_double(x), wl_fixed_to_double(y)};
}

const wl_registry_listener kRegistryListener = {
    .global = [](void* data, wl_registry* registry, uint32_t name, const char* interface,
                 uint32_t version) { self(data)->globalAdded(registry, name, interface, version); },
    // The globals we bind do not go away while a session runs.
    .global_remove = [](void*, wl_registry*, uint32_t) {},
};

const wl_seat_listener kSeatListener = {
    .capabilities = [](void* data, wl_seat*,
                       uint32_t capabilities) { self(data)->seatCapabilities(capabilities); },
    .name = [](void*, wl_seat*, const char*) {},
};

const wl_pointer_listener kPointerListener = {
    .enter = [](void* data, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x,
                wl_fixed_t y) { self(data)->pointerEntered(surface, toPoint(x, y)); },
    .leave = [](void* data, wl_pointer*, uint32_t,
                wl_surface* surface) { self(data)->pointerLeft(surface); },
    .motion = [](void* data, wl_pointer*, uint32_t, wl_fixed_t x,
                 wl_fixed_t y) { self(data)->pointerMoved(toPoint(x, y)); },
    .button =
        [](void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
            self(data)->pointerButton(button, state == WL_POINTER_BUTTON_STATE_PRESSED);
        },
    .axis = [](void* data, wl_pointer*, uint32_t, uint32_t,
               wl_fixed_t) { self(data)->pointerScrolled(); },
    .frame = [](void*, wl_pointer*) {},
    .axis_source = [](void*, wl_pointer*, uint32_t) {},
    .axis_stop = [](void*, wl_pointer*, uint32_t, uint32_t) {},
    .axis_discrete = [](void*, wl_pointer*, uint32_t, int32_t) {},
    .axis_value120 = [](void*, wl_pointer*, uint32_t, int32_t) {},
};

const wl_callback_listener kNudgeListener = {
    .done = [](void* data, wl_callback* callback, uint32_t) { self(data)->nudgeSettled(callback); },
};

// Binds `interface` at the highest version both sides know.
template <typename Proxy>
Proxy* bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t offered,
            uint32_t known) {
    return static_cast<Proxy*>(
        wl_registry_bind(registry, name, interface, std::min(offered, known)));
}

uint32_t millisecondsNow() {
    static QElapsedTimer clock;
    if (!clock.isValid()) {
        clock.start();
    }
    return uint32_t(clock.elapsed());
}

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(std::string& why) {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        why = "cannot connect to the Wayland compositor";
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
    connection->registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(connection->registry_, &kRegistryListener, connection.get());
    // The second round trip lets the seat tell its capabilities.
    wl_display_roundtrip(display);
    wl_display_roundtrip(display);
    const WaylandGlobals& globals = connection->globals_;
    if (globals.compositor == nullptr || globals.shm == nullptr || globals.seat == nullptr) {
        why = "the Wayland compositor offers no compositor, shared memory or seat";
        return nullptr;
    }
    if (globals.layerShell == nullptr) {
        // GNOME's compositor, among others, keeps it from clients.
        why =
            "this Wayland compositor offers no layer shell (zwlr_layer_shell_v1), which Dovetrel "
            "needs to show its square above other windows; it runs on KDE Plasma, sway, labwc "
            "and other wlroots compositors, on GNOME through its Shell extension, and on X11";
        return nullptr;
    }
    connection->notifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Read);
    QObject::connect(connection->notifier_.get(), &QSocketNotifier::activated, connection.get(),
                     [raw = connection.get()] { raw->readEvents(); });
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, connection.get(),
                         [raw = connection.get()] { raw->flush(); });
    }
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) {}

WaylandConnection::~WaylandConnection() {
    notifier_.reset();
    // The compositor frees everything of a client that goes; the display is all we close.
    wl_display_disconnect(display_);
}

void WaylandConnection::globalAdded(wl_registry* registry, uint32_t name, const char* interface,
                                    uint32_t version) {
    const auto is = [interface](const wl_interface& known) {
        return std::strcmp(interface, known.name) == 0;
    };
    if (is(wl_compositor_interface)) {
        globals_.compositor =
            bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 4);
    } else if (is(wl_shm_interface)) {
        globals_.shm = bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
    } else if (is(wl_seat_interface) && globals_.seat == nullptr) {
        globals_.seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, 5);
        wl_seat_add_listener(globals_.seat, &kSeatListener, this);
    } else if (is(zwlr_layer_shell_v1_interface)) {
        globals_.layerShell =
            bind<zwlr_layer_shell_v1>(registry, name, &zwlr_layer_shell_v1_interface, version, 4);
    } else if (is(zwlr_virtual_pointer_manager_v1_interface)) {
        globals_.virtualPointers = bind<zwlr_virtual_pointer_manager_v1>(
            registry, name, &zwlr_virtual_pointer_manager_v1_interface, version, 1);
    } else if (is(ext_idle_notifier_v1_interface)) {
        globals_.idleNotifier =
            bind<ext_idle_notifier_v1>(registry, name, &ext_idle_notifier_v1_interface, version, 1);
    } else if (is(org_kde_kwin_idle_interface)) {
        globals_.kdeIdle =
            bind<org_kde_kwin_idle>(registry, name, &org_kde_kwin_idle_interface, version, 1);
    } else if (is(org_kde_kwin_keystate_interface)) {
        globals_.keystate = bind<org_kde_kwin_keystate>(
            registry, name, &org_kde_kwin_keystate_interface, version, 5);
    } else if (is(zwlr_foreign_toplevel_manager_v1_interface)) {
        globals_.toplevelListName = name;
        globals_.toplevelListVersion = version;
    }
}

void WaylandConnection::seatCapabilities(uint32_t capabilities) {
    const bool hasPointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (hasPointer && pointer_ == nullptr) {
        pointer_ = wl_seat_get_pointer(globals_.seat);
        wl_pointer_add_listener(pointer_, &kPointerListener, this);
    } else if (!hasPointer && pointer_ != nullptr) {
        wl_pointer_release(pointer_);
        pointer_ = nullptr;
        pointerFocus_ = nullptr;
    }
}

void WaylandConnection::watchPointer(wl_surface* surface, PointerEvents events) {
    pointerWatches_[surface] = std::move(events);
}

void WaylandConnection::forgetPointer(wl_surface* surface) {
    pointerWatches_.erase(surface);
    if (pointerFocus_ == surface) {
        pointerFocus_ = nullptr;
    }
}

PointerEvents WaylandConnection::focusedEvents() const {
    // A copy: a handler may take its own surface down, and its watch with it.
    const auto found = pointerWatches_.find(pointerFocus_);
    return found != pointerWatches_.end() ? found->second : PointerEvents{};
}

void WaylandConnection::pointerEntered(wl_surface* surface, QPointF position) {
    pointerFocus_ = surface;
    if (const auto events = focusedEvents(); events.entered) {
        events.entered(position);
    }
}

void WaylandConnection::pointerLeft(wl_surface* surface) {
    if (surface == pointerFocus_) {
        const auto events = focusedEvents();
        pointerFocus_ = nullptr;
        if (events.left) {
            events.left();
        }
    }
}

void WaylandConnection::pointerMoved(QPointF position) {
    if (const auto events = focusedEvents(); events.moved) {
        events.moved(position);
    }
}

void WaylandConnection::pointerButton(uint32_t button, bool pressed) {
    if (const auto events = focusedEvents(); events.button) {
        events.button(button, pressed);
    } else if (pressed && strayPress) {
        strayPress();
    }
}

void WaylandConnection::pointerScrolled() {
    if (const auto events = focusedEvents(); events.scrolled) {
        events.scrolled();
    }
}

void WaylandConnection::nudgePointer() {
    if (globals_.virtualPointers == nullptr) {
        return;
    }
    if (virtualPointer_ == nullptr) {
        virtualPointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(
            globals_.virtualPointers, globals_.seat);
    }
    zwlr_virtual_pointer_v1_motion(virtualPointer_, millisecondsNow(), 0, 0);
    zwlr_virtual_pointer_v1_frame(virtualPointer_);
    // Whatever the compositor sends before answering this comes from the nudge.
    ++pendingNudges_;
    wl_callback_add_listener(wl_display_sync(display_), &kNudgeListener, this);
    flush();
}

void WaylandConnection::nudgeSettled(wl_callback* callback) {
    wl_callback_destroy(callback);
    --pendingNudges_;
}

void WaylandConnection::flush() {
    wl_display_flush(display_);
}

void WaylandConnection::readEvents() {
    while (wl_display_prepare_read(display_) != 0) {
        wl_display_dispatch_pending(display_);
    }
    flush();
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) {
        // Lost: the square and the idle watch go quiet; the rest of the program runs on.
        std::fprintf(stderr, "dovetrel: lost the connection to the Wayland compositor: %s\n",
                     std::strerror(wl_display_get_error(display_)));
        notifier_->setEnabled(false);
        return;
    }
    flush();
}

}  // namespace dovetrel::app
