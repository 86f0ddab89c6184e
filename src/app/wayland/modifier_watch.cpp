#include "app/wayland/modifier_watch.h"

#include <utility>

#include "app/wayland/connection.h"
#include "keystate-client-protocol.h"

namespace dovetrel::app {
namespace {

// The version that reports modifiers as pressed.
constexpr uint32_t kModifierVersion = 5;

const org_kde_kwin_keystate_listener kListener = {
    .stateChanged =
        [](void* data, org_kde_kwin_keystate*, uint32_t key, uint32_t state) {
            if (data != nullptr) {
                static_cast<ModifierWatch*>(data)->stateChanged(key, state);
            }
        },
};

bool isModifier(uint32_t key) {
    // AltGr picks characters, as Shift does for letters, but the guard has never counted it.
    return key == ORG_KDE_KWIN_KEYSTATE_KEY_ALT || key == ORG_KDE_KWIN_KEYSTATE_KEY_CONTROL ||
           key == ORG_KDE_KWIN_KEYSTATE_KEY_SHIFT || key == ORG_KDE_KWIN_KEYSTATE_KEY_META;
}

}  // namespace

std::unique_ptr<ModifierWatch> ModifierWatch::open(WaylandConnection& connection,
                                                   std::function<void(bool held)> changed) {
    org_kde_kwin_keystate* keystate = connection.globals().keystate;
    if (keystate == nullptr || org_kde_kwin_keystate_get_version(keystate) < kModifierVersion) {
        return nullptr;
    }
    std::unique_ptr<ModifierWatch> watch(new ModifierWatch(keystate, std::move(changed)));
    org_kde_kwin_keystate_add_listener(keystate, &kListener, watch.get());
    org_kde_kwin_keystate_fetchStates(keystate);
    connection.flush();
    return watch;
}

ModifierWatch::ModifierWatch(org_kde_kwin_keystate* keystate, std::function<void(bool)> changed)
    : keystate_(keystate), changed_(std::move(changed)) {}

ModifierWatch::~ModifierWatch() {
    // The connection keeps the global; a later listener would need a fresh object.
    org_kde_kwin_keystate_set_user_data(keystate_, nullptr);
}

void ModifierWatch::stateChanged(uint32_t key, uint32_t state) {
    if (!isModifier(key)) {
        return;
    }
    const bool wasHeld = isHeld();
    const uint32_t bit = 1U << key;
    held_ = state == ORG_KDE_KWIN_KEYSTATE_STATE_PRESSED ? held_ | bit : held_ & ~bit;
    if (isHeld() != wasHeld && changed_) {
        changed_(isHeld());
    }
}

}  // namespace dovetrel::app
