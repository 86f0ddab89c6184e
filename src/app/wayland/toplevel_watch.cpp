#include "app/wayland/toplevel_watch.h"

#include <wayland-client.h>

#include <algorithm>

#include "app/wayland/connection.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace dovetrel::app {
namespace {

// The first version that tells full screen.
constexpr uint32_t kFullScreenVersion = 2;
constexpr uint32_t kKnownVersion = 3;

constexpr uint32_t bit(uint32_t state) {
    return state < 32 ? 1U << state : 0;
}

ToplevelWatch* watch(void* data) {
    return static_cast<ToplevelWatch*>(data);
}

const zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
    .title = [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
    .app_id = [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
    .output_enter = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .output_leave = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .state =
        [](void* data, zwlr_foreign_toplevel_handle_v1* toplevel, wl_array* states) {
            const auto* begin = static_cast<const uint32_t*>(states->data);
            const auto* end = begin + states->size / sizeof(uint32_t);
            uint32_t bits = 0;
            std::for_each(begin, end, [&bits](uint32_t state) { bits |= bit(state); });
            watch(data)->stateChanged(toplevel, bits);
        },
    .done = [](void* data,
               zwlr_foreign_toplevel_handle_v1* toplevel) { watch(data)->done(toplevel); },
    .closed = [](void* data,
                 zwlr_foreign_toplevel_handle_v1* toplevel) { watch(data)->closed(toplevel); },
    .parent = [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

// After the watch has gone (it asked the compositor to stop), late news is let go.
const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {
    .toplevel =
        [](void* data, zwlr_foreign_toplevel_manager_v1*,
           zwlr_foreign_toplevel_handle_v1* toplevel) {
            if (data != nullptr) {
                watch(data)->added(toplevel);
            } else {
                zwlr_foreign_toplevel_handle_v1_destroy(toplevel);
            }
        },
    .finished =
        [](void*, zwlr_foreign_toplevel_manager_v1* manager) {
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager));
        },
};

constexpr uint32_t kActive = bit(ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED);
constexpr uint32_t kFullScreen = bit(ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN);

}  // namespace

std::unique_ptr<ToplevelWatch> ToplevelWatch::open(WaylandConnection& connection) {
    const WaylandGlobals& globals = connection.globals();
    if (globals.toplevelListName == 0 || globals.toplevelListVersion < kFullScreenVersion) {
        return nullptr;
    }
    auto* manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(connection.registry(), globals.toplevelListName,
                         &zwlr_foreign_toplevel_manager_v1_interface,
                         std::min(globals.toplevelListVersion, kKnownVersion)));
    std::unique_ptr<ToplevelWatch> watch(new ToplevelWatch(manager));
    zwlr_foreign_toplevel_manager_v1_add_listener(manager, &kManagerListener, watch.get());
    connection.flush();
    return watch;
}

ToplevelWatch::ToplevelWatch(zwlr_foreign_toplevel_manager_v1* manager) : manager_(manager) {}

ToplevelWatch::~ToplevelWatch() {
    for (const auto& [toplevel, states] : toplevels_) {
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel);
    }
    // Asks for no more; the compositor's `finished` then lets the manager go.
    zwlr_foreign_toplevel_manager_v1_stop(manager_);
    zwlr_foreign_toplevel_manager_v1_set_user_data(manager_, nullptr);
}

bool ToplevelWatch::hasActive() const {
    return std::any_of(toplevels_.begin(), toplevels_.end(),
                       [](const auto& entry) { return (entry.second.current & kActive) != 0; });
}

bool ToplevelWatch::activeIsFullScreen() const {
    return std::any_of(toplevels_.begin(), toplevels_.end(), [](const auto& entry) {
        return (entry.second.current & (kActive | kFullScreen)) == (kActive | kFullScreen);
    });
}

void ToplevelWatch::added(zwlr_foreign_toplevel_handle_v1* toplevel) {
    toplevels_[toplevel] = {};
    zwlr_foreign_toplevel_handle_v1_add_listener(toplevel, &kToplevelListener, this);
}

void ToplevelWatch::stateChanged(zwlr_foreign_toplevel_handle_v1* toplevel, uint32_t state) {
    toplevels_[toplevel].pending = state;
}

void ToplevelWatch::done(zwlr_foreign_toplevel_handle_v1* toplevel) {
    States& states = toplevels_[toplevel];
    states.current = states.pending;
}

void ToplevelWatch::closed(zwlr_foreign_toplevel_handle_v1* toplevel) {
    toplevels_.erase(toplevel);
    zwlr_foreign_toplevel_handle_v1_destroy(toplevel);
}

}  // namespace dovetrel::app
