#include "app/wayland_platform.h"

#include <linux/input-event-codes.h>

#include <utility>

#include "app/qt/screen_geometry.h"
#include "app/square_tap.h"
#include "app/wayland/overlay_surface.h"
#include "core/app_delegate.h"
#include "core/click_guard.h"

namespace dovetrel::app {
namespace {

// What stands for the process of the window with the focus.
constexpr int32_t kActiveWindow = 1;

}  // namespace

WaylandPlatform::WaylandPlatform(BuildInfo build, std::unique_ptr<WaylandConnection> connection)
    : ClientSquarePlatform(std::move(build)),
      connection_(std::move(connection)),
      idleWatch_(WaylandIdleWatch::open(*connection_,
                                        [this](std::function<void()> block) {
                                            runLoop().scheduleTimer(0, false, std::move(block));
                                        })),
      probe_(*connection_),
      modifiers_(ModifierWatch::open(*connection_, [this](bool) { applyTakesInput(); })),
      toplevels_(ToplevelWatch::open(*connection_)) {
    // The user pressed, and the press is lost; a square left under the pointer would swallow
    // the press they try next.
    connection_->strayPress = [this] { report(eventtype::kKeyDown); };
}

WaylandPlatform::~WaylandPlatform() = default;

TimerRef WaylandPlatform::scheduleIdleTimer(double interval, std::function<void()> block) {
    return idleWatch_->waitForRest(interval, std::move(block));
}

TimerRef WaylandPlatform::scheduleInputTimer(std::function<void()> block) {
    return idleWatch_->waitForInput(std::move(block));
}

void WaylandPlatform::locatePointer(std::function<void(std::optional<Point>)> answer) {
    probe_.locate([this, answer = std::move(answer)](std::optional<QPointF> position) {
        if (position) {
            // The probe covers the output it was put on, taken as the primary one.
            pointer_ = toWindowPoint(*position, primaryScreenGeometry());
        }
        answer(position ? pointer_ : std::nullopt);
    });
}

std::shared_ptr<EventTap> WaylandPlatform::createEventTap(uint64_t /*eventMask*/,
                                                          EventTapHandlers handlers) {
    tap_ = std::make_shared<SquareTap>(std::move(handlers), [this](bool takesInput) {
        tapTakesInput_ = takesInput;
        applyTakesInput();
    });
    return tap_;
}

void WaylandPlatform::applyTakesInput() {
    if (square_ != nullptr) {
        square_->setTakesInput(tapTakesInput_ && !(modifiers_ && modifiers_->isHeld()));
    }
}

std::optional<int32_t> WaylandPlatform::frontmostApplicationPid() {
    if (!toplevels_ || !toplevels_->hasActive()) {
        return std::nullopt;
    }
    return kActiveWindow;
}

std::optional<std::vector<WindowInfo>> WaylandPlatform::onScreenWindows() {
    if (!toplevels_) {
        return std::nullopt;
    }
    std::vector<WindowInfo> windows;
    if (const auto screen = mainScreenFrame(); screen && toplevels_->activeIsFullScreen()) {
        windows.push_back(WindowInfo{kActiveWindow, screen->size});
    }
    return windows;
}

std::unique_ptr<OverlaySurface> WaylandPlatform::createOverlaySurface(const Rect& contentRect) {
    auto surface = std::make_unique<WaylandOverlaySurface>(*connection_, contentRect);
    square_ = surface.get();
    applyTakesInput();
    const auto onSquare = [this](QPointF position) {
        const QPointF origin = toGlobalRect(square_->frame(), primaryScreenGeometry()).topLeft();
        return toWindowPoint(origin + position, primaryScreenGeometry());
    };
    PointerEvents& events = surface->pointerEvents();
    // The square appearing under the pointer is what enters it, not input: a key pressed just
    // then must not be taken for the pointer.
    events.entered = [this, onSquare](QPointF position) { pointer_ = onSquare(position); };
    events.moved = [this, onSquare](QPointF position) { squareMoved(onSquare(position)); };
    events.left = [this] { squareLeft(square_->frame()); };
    events.scrolled = [this] { squareScrolled(); };
    events.button = [this](uint32_t button, bool pressed) {
        squareInput_.squareEvent();
        if (!pressed || !tap_) {
            return;
        }
        const uint32_t type = button == BTN_LEFT    ? kLeftMouseDown
                              : button == BTN_RIGHT ? kRightMouseDown
                                                    : kOtherMouseDown;
        const QRect primary = primaryScreenGeometry();
        tap_->press(
            type, toTapPoint(toGlobalRect(Rect{mouseLocation(), {}}, primary).topLeft(), primary));
    };
    surface->visibilityChanged = [this](bool shown) { squareShown(shown); };
    surface->destroyed = [this] { square_ = nullptr; };
    return surface;
}

void WaylandPlatform::squareShown(bool shown) {
    if (inputWatch_) {
        inputWatch_->invalidate();
        inputWatch_ = nullptr;
    }
    if (shown) {
        inputWatch_ = idleWatch_->watchInput([this] { squareInput_.inputEdge(); });
    }
}

bool WaylandPlatform::squareIsUp() const {
    return square_ != nullptr && square_->isVisible();
}

}  // namespace dovetrel::app
