// The one seam between the program's behaviour and the desktop it runs on.
//
// The core calls only what is declared here. The real program implements it with Qt and X11
// (src/app/), the tests with a simulated desktop and a virtual clock (tests/sim/). Every call
// is made on the main thread. No method throws: each says what it returns when the platform
// has nothing to give.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/click_guard.h"
#include "core/geometry.h"
#include "core/menu.h"
#include "core/menu_bar_icon.h"

namespace dovetrel {

// A scheduled block on the main run loop. Timers of the program run in the default mode
// only: they wait while one of the program's own menus is open and fire when it closes.
class Timer {
  public:
    virtual ~Timer() = default;
    // Stops the timer for good; harmless on a timer that has already fired or was stopped.
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};
using TimerRef = std::shared_ptr<Timer>;

// Key-value preferences that outlive the process. Values are held as text; reading and
// interpreting them is the core's (preferences.h).
class PreferenceStore {
  public:
    virtual ~PreferenceStore() = default;
    // The stored text, read afresh (a hand edit is seen); nullopt when the key is absent.
    virtual std::optional<std::string> value(std::string_view key) const = 0;
    // Stores at once; the outcome is not reported.
    virtual void setValue(std::string_view key, const std::string& text) = 0;
    // `handler` runs on the main thread after any change, made here or elsewhere.
    virtual void addChangeObserver(std::function<void()> handler) = 0;
};

// Opaque token of an installed global monitor.
class MonitorToken {
  public:
    virtual ~MonitorToken() = default;
};

// A press seen by the click guard: tap coordinates and modifier flags (click_guard.h).
struct TapEvent {
    Point location;
    uint64_t flags = 0;
};

struct EventTapHandlers {
    // Judges one event on the main thread; returns true to let it pass.
    std::function<bool(uint32_t type, const TapEvent& event)> callback;
    // For a platform that must answer presses without waiting for the main thread: the
    // dismissal to queue onto the main thread after it decided a press by the published state.
    std::function<void()> dismissOverlay;
};

// The click guard's filter on mouse-button presses. Created disabled.
class EventTap {
  public:
    virtual ~EventTap() = default;
    // While disabled no press is held or judged.
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    // After this the tap delivers and blocks nothing, for good.
    virtual void invalidate() = 0;
    // The state that decidePress() judges by, handed over whenever it may have changed, for a
    // platform that answers presses without waiting for the main thread. Nothing before the
    // first call is judged by it.
    virtual void publish(const ClickGuardSnapshot& snapshot) = 0;
};

// A pointer image as the platform shows it.
struct CursorBitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // premultiplied, 4 bytes a pixel, rows top to bottom
};

struct CursorImage {
    Size size;                                  // in points
    std::optional<std::vector<uint8_t>> bytes;  // stable encoding of the image; cache key
    std::optional<CursorBitmap> bitmap;         // nullopt when it cannot be rendered
};

// One on-screen window, as the window list reports it; unreadable entries are nullopt.
struct WindowInfo {
    std::optional<int32_t> ownerPid;
    std::optional<Size> bounds;
};

enum class Easing { easeOut, easeIn };

// The borderless, click-through, always-on-top window that carries the overlay. Frames are
// in window coordinates. It draws overlayDrawing() (overlay_window.h) at its size.
class OverlaySurface {
  public:
    virtual ~OverlaySurface() = default;
    virtual Rect frame() const = 0;
    virtual void setFrame(const Rect& frame) = 0;
    // True from orderFrontRegardless() until orderOut().
    virtual bool isVisible() const = 0;
    virtual void setAlpha(double alpha) = 0;
    virtual void orderFrontRegardless() = 0;
    virtual void orderOut() = 0;
    // Asks for a blur of the background behind the window; ignored where unsupported.
    virtual void setBackgroundBlurRadius(double radius) = 0;
    // Animates the alpha, replacing any animation in flight (whose completion then never
    // runs); `completion` runs on the main thread when this one ends.
    virtual void animateAlpha(double target, double seconds, Easing easing,
                              std::function<void()> completion) = 0;
};

struct StatusItemHandlers {
    std::function<void()> menuWillOpen;
    // A menu item with an action was chosen; the sender is the item itself.
    std::function<void(const std::shared_ptr<MenuItem>& sender)> performAction;
};

// The tray icon and its menu.
class StatusItem {
  public:
    virtual ~StatusItem() = default;
    // False where the item cannot show a picture.
    virtual bool hasButton() const = 0;
    virtual void setImage(const MenuBarIcon& icon) = 0;
    virtual void setMenu(std::shared_ptr<Menu> menu) = 0;
    virtual std::shared_ptr<Menu> menu() const = 0;
    // The core changed titles, states or submenus of the menu it set; show them.
    virtual void menuChanged() = 0;
};

enum class WindowLevel { normal = 0, floating = 3 };

class SettingsWindow {
  public:
    virtual ~SettingsWindow() = default;
    virtual void center() = 0;
    virtual void setLevel(WindowLevel level) = 0;
    virtual void makeKeyAndOrderFront() = 0;
};

enum class WorkspaceNotification {
    activeSpaceDidChange,
    screensDidSleep,
    sessionDidResignActive,
    didActivateApplication,
    // The machine woke from suspend or hibernation.
    didWake,
    // A screen was added, removed or moved, or another became the primary one.
    screenParametersDidChange,
};

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

struct HttpRequest {
    std::string url;
    double timeoutSeconds = 60.0;
    bool reloadIgnoringCache = true;
};

class Platform {
  public:
    virtual ~Platform() = default;

    // Time and the main run loop.
    // Seconds on a clock that runs on through suspend and that setting the time of day does
    // not move, for dates such as the end of a snooze. Timers, unlike it, may stand still
    // while the machine sleeps.
    virtual double now() = 0;
    virtual TimerRef scheduleTimer(double interval, bool repeats, std::function<void()> block) = 0;
    // Runs `block` on the main thread after the current callback has returned.
    virtual void dispatchAsync(std::function<void()> block) = 0;
    virtual void dispatchAfter(double delay, std::function<void()> block) = 0;
    // Input as the platform sees it (any pointer or keyboard input, to any program), watched on
    // the platform's side so that input costs the program nothing while it only waits for a
    // rest. Both are one-shot timers of the default mode.
    // Runs `block` once input has been still for `interval`, counted from this call or from the
    // last input after it.
    virtual TimerRef scheduleIdleTimer(double interval, std::function<void()> block) = 0;
    // Runs `block` at the first input after this call.
    virtual TimerRef scheduleInputTimer(std::function<void()> block) = 0;

    virtual PreferenceStore& preferences() = 0;

    // Input.
    // Calls `handler` with the event type for each watched event (bit n of `mask` = type n)
    // delivered to other programs. nullptr when the platform cannot watch input. While no
    // overlay is up it may leave events out: then input only restarts the idle timer, which
    // the platform does by itself.
    virtual std::shared_ptr<MonitorToken> addGlobalMonitor(
        uint64_t mask, std::function<void(uint32_t type)> handler) = 0;
    // The pointer position in window coordinates.
    virtual Point mouseLocation() = 0;
    // Asks where the pointer is, for a platform that learns it only later (where just a surface
    // under the pointer is told). `answer` runs once on the main thread, within this call or
    // after it, with the position in window coordinates, or nullopt when it cannot be had.
    virtual void locatePointer(std::function<void(std::optional<Point> pointer)> answer) = 0;
    // nullptr when the platform refuses the tap.
    virtual std::shared_ptr<EventTap> createEventTap(uint64_t eventMask,
                                                     EventTapHandlers handlers) = 0;

    // Screens, pointer and windows.
    // Every screen's frame; the first is the primary display. Empty when unknown.
    virtual std::vector<Rect> screenFrames() = 0;
    // The screen with keyboard focus; nullopt when unknown.
    virtual std::optional<Rect> mainScreenFrame() = 0;
    // The platform's own pointer-visibility flag (non-zero: shown), looked up once;
    // nullopt where there is no such facility.
    virtual std::optional<std::function<uint32_t()>> cursorVisibilityFunction() = 0;
    virtual std::optional<CursorImage> currentSystemCursor() = 0;
    virtual std::optional<int32_t> frontmostApplicationPid() = 0;
    // nullopt when the list cannot be had.
    virtual std::optional<std::vector<WindowInfo>> onScreenWindows() = 0;
    // Whether the session is locked or the screen blanked right now; false when it cannot
    // be told.
    virtual bool isScreenLockedOrBlanked() = 0;
    // Whether the pointer rests on a window of this program (the overlay aside): input there
    // is input like any other, but a square over our own controls would only be in the way.
    virtual bool isPointerOverOwnWindow() = 0;

    // Windows and the tray.
    virtual std::unique_ptr<OverlaySurface> createOverlaySurface(const Rect& contentRect) = 0;
    // nullptr where there can be no status item at all.
    virtual std::shared_ptr<StatusItem> createStatusItem(StatusItemHandlers handlers) = 0;
    // `windowWillClose` is called with the window that is closing.
    virtual std::shared_ptr<SettingsWindow> createSettingsWindow(
        std::function<void(const SettingsWindow* closing)> windowWillClose) = 0;

    // Notifications; subscriptions are never removed.
    virtual void addWorkspaceObserver(WorkspaceNotification name,
                                      std::function<void()> handler) = 0;
    virtual void addDistributedObserver(const std::string& name, std::function<void()> handler) = 0;

    // Permission to watch and filter input.
    // Whether the process may filter input now; `prompt` lets the system ask the user.
    virtual bool isProcessTrusted(bool prompt) = 0;
    // Starts the reset of the program's permission record and returns at once.
    virtual void resetAccessibilityRecord(const std::string& bundleIdentifier) = 0;
    // The build number of the running program; nullopt when it has none.
    virtual std::optional<std::string> bundleVersion() = 0;

    // The outside world.
    // Where the release feed lives; empty when the update check is turned off.
    virtual std::string releaseFeedURL() = 0;
    // `completion` gets the body, or nullopt when none arrived; it may run on any thread.
    virtual void httpGet(const HttpRequest& request,
                         std::function<void(std::optional<std::string> body)> completion) = 0;
    virtual void openUrl(const std::string& url) = 0;
    // Login item; each returns whether the service succeeded.
    virtual bool registerLoginItem() = 0;
    virtual bool unregisterLoginItem() = 0;

    // The application.
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    virtual void activateIgnoringOtherApps() = 0;
    virtual void terminate() = 0;
};

}  // namespace dovetrel
