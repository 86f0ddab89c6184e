// Stillness as the Wayland compositor counts it: idle notifications (ext-idle-notify, or KDE's
// older idle protocol where only that is offered, as on sway 1.7). The compositor wakes us once
// the rest has come, and at the first input when that is asked for. Idle inhibitors (a playing
// video) hold the rest back where the compositor honours them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "app/wayland/connection.h"
#include "core/platform.h"

namespace dovetrel::app {

class WaylandIdleWatch {
  public:
    // Runs a block in the run loop's default mode, as the program's timers run.
    using Deliver = std::function<void(std::function<void()>)>;

    // nullptr when the compositor offers neither idle protocol.
    static std::unique_ptr<WaylandIdleWatch> open(WaylandConnection& connection, Deliver deliver);
    ~WaylandIdleWatch();

    // Runs `block` once input has been still for `seconds`, counted from now or from the last
    // input after it. A later wait of the same kind replaces this one, and invalidating the
    // returned timer ends it.
    TimerRef waitForRest(double seconds, std::function<void()> block);
    // Runs `block` at the first input after the shortest rest from now (kInputRest): the
    // compositor tells only edges between idle and active. The same rules.
    TimerRef waitForInput(std::function<void()> block);

    // Runs `each` at every input after the shortest rest, until the returned timer is
    // invalidated; independent of the waits above.
    TimerRef watchInput(std::function<void()> each);

    // The rest after which input counts as new (milliseconds). Input within it of the call, of
    // our own nudge or of the previous input goes untold, as the compositor counts the rest
    // from then: a key pressed as the square appears must not slip through it.
    static constexpr uint32_t kInputRest = 1;

    class Notification;

  private:
    WaylandIdleWatch(WaylandConnection& connection, Deliver deliver);
    enum class Kind { rest, input, everyInput };
    std::shared_ptr<Notification> watch(uint32_t milliseconds, Kind kind,
                                        std::function<void()> block);

    WaylandConnection& connection_;
    Deliver deliver_;
    std::shared_ptr<Notification> rest_;
    std::shared_ptr<Notification> input_;
};

}  // namespace dovetrel::app
