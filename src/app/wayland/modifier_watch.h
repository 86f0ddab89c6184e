// Whether Shift, Control, Alt or Meta is held, where the compositor tells clients (KWin's key
// states from version 5). A press that must pass cannot be handed on once the square has taken
// it, so the square stops taking input while one is held, before any press comes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

struct org_kde_kwin_keystate;

namespace dovetrel::app {

class WaylandConnection;

class ModifierWatch {
  public:
    // nullptr where the compositor tells no modifiers (wlroots, KWin before Plasma 6).
    // `changed` is told each time "any held" flips.
    static std::unique_ptr<ModifierWatch> open(WaylandConnection& connection,
                                               std::function<void(bool held)> changed);
    ~ModifierWatch();
    ModifierWatch(const ModifierWatch&) = delete;
    ModifierWatch& operator=(const ModifierWatch&) = delete;

    bool isHeld() const { return held_ != 0; }
    // The listener, called from C.
    void stateChanged(uint32_t key, uint32_t state);

  private:
    ModifierWatch(org_kde_kwin_keystate* keystate, std::function<void(bool)> changed);

    org_kde_kwin_keystate* keystate_;
    std::function<void(bool)> changed_;
    // One bit per modifier key held.
    uint32_t held_ = 0;
};

}  // namespace dovetrel::app
