// The click guard's tap on X11: a passive synchronous button grab on the root window, held
// only while the guard is enabled, and answered from a thread of its own so that a busy main
// thread can never freeze the pointer.
#pragma once

#include <QRect>
#include <functional>
#include <memory>
#include <optional>

#include "core/platform.h"

namespace dovetrel::app {

class X11ClickGuard : public EventTap {
  public:
    // Where the server shows the overlay, in root-window pixels; nullopt when unknown.
    using OverlayGeometry = std::function<std::optional<QRect>()>;

    // Opens the guard's own X connection. nullptr when there is none, or the server has no
    // XInput 2.2. Grabs another client holds are skipped when the guard goes on, and said once.
    static std::shared_ptr<X11ClickGuard> create(EventTapHandlers handlers,
                                                 OverlayGeometry overlayOnScreen = {});
    ~X11ClickGuard() override;

    // On: reads a fresh snapshot and installs the grabs before returning. Off: removes them.
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void invalidate() override;

    // Reads the state presses are judged by again, on the main thread; called whenever it may
    // have changed (preferences, screens).
    void refreshSnapshot();
    // False once the guard's connection to the X server is lost.
    bool isHealthy() const;

  private:
    X11ClickGuard();
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dovetrel::app
