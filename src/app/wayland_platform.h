// The desktop as the core sees it in a Wayland session with the wlr layer shell (sway, labwc,
// KWin). No protocol lets a client watch or filter another's input: the square is a surface of
// ours that takes the presses made on it, and stillness, the pointer position and what happens
// on the square come from the compositor's idle notifications and our own surfaces.
#pragma once

#include <QObject>
#include <QPointF>
#include <memory>
#include <optional>

#include "app/client_square_platform.h"
#include "app/wayland/connection.h"
#include "app/wayland/idle_watch.h"
#include "app/wayland/modifier_watch.h"
#include "app/wayland/pointer_probe.h"
#include "app/wayland/toplevel_watch.h"

namespace dovetrel::app {

class SquareTap;
class WaylandOverlaySurface;

class WaylandPlatform : public ClientSquarePlatform {
  public:
    // Takes the connection opened by the caller (WaylandConnection::open).
    WaylandPlatform(BuildInfo build, std::unique_ptr<WaylandConnection> connection);
    ~WaylandPlatform() override;

    TimerRef scheduleIdleTimer(double interval, std::function<void()> block) override;
    TimerRef scheduleInputTimer(std::function<void()> block) override;
    // Maps the probe for a moment: the answer comes once the pointer enters it.
    void locatePointer(std::function<void(std::optional<Point>)> answer) override;
    // Presses on the square, which the compositor hands to us alone. nullptr never.
    std::shared_ptr<EventTap> createEventTap(uint64_t eventMask,
                                             EventTapHandlers handlers) override;
    // Wayland names no processes: the window with the focus stands for the program in front,
    // and when it is full screen, for a window the size of the screen. Only where the
    // compositor lists windows (wlroots); elsewhere full screen goes unrecognised.
    std::optional<int32_t> frontmostApplicationPid() override;
    std::optional<std::vector<WindowInfo>> onScreenWindows() override;
    std::unique_ptr<OverlaySurface> createOverlaySurface(const Rect& contentRect) override;
    // A layer surface needs no permission.
    bool isProcessTrusted(bool /*prompt*/) override { return true; }
    void resetAccessibilityRecord(const std::string& /*bundleIdentifier*/) override {}

  protected:
    bool squareIsUp() const override;

  private:
    // What happens on the square, told to the monitor and the tap.
    void squareShown(bool shown);
    // Whether the square takes presses: while the tap is on and no modifier is known held.
    void applyTakesInput();

    std::unique_ptr<WaylandConnection> connection_;
    std::unique_ptr<WaylandIdleWatch> idleWatch_;
    PointerProbe probe_;
    std::shared_ptr<SquareTap> tap_;
    WaylandOverlaySurface* square_ = nullptr;
    std::unique_ptr<ModifierWatch> modifiers_;
    std::unique_ptr<ToplevelWatch> toplevels_;
    bool tapTakesInput_ = false;
    // While the square is up: input of any kind, as edges of a short idle notification.
    TimerRef inputWatch_;
};

}  // namespace dovetrel::app
