// The application delegate: every piece of the program's runtime state and every operation of
// its behaviour. It reaches the desktop only through Platform.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/click_guard.h"
#include "core/cursor_queries.h"
#include "core/overlay_window.h"
#include "core/platform.h"
#include "core/preferences.h"

namespace dovetrel {

// The program's own version, shown in the settings header and compared by the update check.
inline constexpr const char* kAppVersion = "0.1.3";
inline constexpr const char* kBundleIdentifier = "com.dovetrel.app";
// Name of the distributed notification posted when the screen locks.
inline constexpr const char* kScreenIsLockedNotification = "com.apple.screenIsLocked";

// Event types the global monitor reports (bit n of a mask = type n).
namespace eventtype {
inline constexpr uint32_t kMouseMoved = 5;
inline constexpr uint32_t kLeftMouseDragged = 6;
inline constexpr uint32_t kRightMouseDragged = 7;
inline constexpr uint32_t kKeyDown = 10;
inline constexpr uint32_t kFlagsChanged = 12;
inline constexpr uint32_t kRotate = 18;
inline constexpr uint32_t kScrollWheel = 22;
inline constexpr uint32_t kOtherMouseDragged = 27;
inline constexpr uint32_t kGesture = 29;
inline constexpr uint32_t kMagnify = 30;
inline constexpr uint32_t kSwipe = 31;
inline constexpr uint32_t kSmartMagnify = 32;
inline constexpr uint32_t kPressure = 34;
}  // namespace eventtype

// Everything the monitor watches, and the same without movement.
inline constexpr uint64_t kMonitorEventMask = 0x5E84414E0;
inline constexpr uint64_t kActivityEventMask = 0x5E84414C0;

inline constexpr double kOverlayCheckInterval = 0.25;
inline constexpr double kAccessibilityPollInterval = 1.0;
// The idle timer is armed for the stored timeout held within these bounds (seconds): a
// hand-edited value beyond them would make the square come at every pause or never, or
// overflow a timer.
inline constexpr double kMinimumIdleTimeout = 0.1;
inline constexpr double kMaximumIdleTimeout = 24 * 60 * 60;
// While a snooze runs its timer fires at least this often (seconds) to look at the end date
// and bring the time left shown in the menu up to date.
inline constexpr double kSnoozeRecheckInterval = 60.0;

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
  public:
    // Reads nothing and starts nothing.
    explicit AppDelegate(Platform& platform);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The launch sequence, run once when the platform has finished launching.
    void applicationDidFinishLaunching();

    // Preferences bound to the delegate: every read consults the store, every write stores.
    double idleTimeout() const { return preferences_.idleTimeout(); }
    void setIdleTimeout(double seconds) { preferences_.setIdleTimeout(seconds); }
    double zoneSize() const { return preferences_.zoneSize(); }
    void setZoneSize(double points) { preferences_.setZoneSize(points); }
    bool isEnabled() const { return preferences_.isEnabled(); }
    void setIsEnabled(bool enabled) { preferences_.setIsEnabled(enabled); }
    // True exactly while a snooze runs.
    bool isSnoozed() const { return snoozeEndDate.has_value(); }

    // Idle trigger.
    void startMonitoring();
    // The global monitor's handler, for one event of the given type.
    void handleMonitorEvent(uint32_t type);
    void resetIdleTimer();
    // Shows the square under `pointer`, with the guard on.
    void showOverlay(Point pointer);
    void dismissOverlay();
    void screenSleepOrLock();
    void appDidActivate();
    void spaceDidChange();
    // The machine woke: a snooze whose end date passed during the sleep ends now.
    void systemDidWake();

    // Click guard.
    void setupEventTap();
    // What a press is judged by right now.
    ClickGuardSnapshot clickGuardSnapshot() const;
    // Hands the tap what a press is judged by; called wherever that may have changed.
    void publishGuardState();

    // Status menu, snooze and icon.
    void setupMenuBar();
    void toggleEnabled();
    void quit();
    void menuWillOpen();
    void snoozeSelected(const MenuItem& sender);
    void cancelSnoozeAction();
    void cancelSnooze();
    // Ends a running snooze whose end date has come; true when it did.
    bool endSnoozeIfDue();
    void updateMenuBarIcon();

    // Permission lifecycle.
    void resetAccessibilityIfUpdated();
    void requestAccessibilityIfNeeded();
    void handlePermissionLoss();

    // Update check.
    void checkForUpdates();
    void showUpdateMenuItem(const std::string& version);
    void openUpdateURL();

    // Settings window.
    void openSettings();
    void windowWillClose(const SettingsWindow* closing);

    // Routes a menu action to the operation of that name.
    void performAction(const std::string& selector, const MenuItem& sender);

    Platform& platform() { return platform_; }

    // Fields, in the order the behaviour lists them. Absent references are nullptr.
    std::shared_ptr<StatusItem> statusItem;
    std::shared_ptr<MenuItem> enabledMenuItem;
    TimerRef idleTimer;
    // While no countdown runs for want of input (after a firing that showed nothing, or a
    // sleep), the wait for the input that arms it again.
    TimerRef inputTimer;
    TimerRef cursorVisibilityTimer;
    std::unique_ptr<OverlayWindow> overlayWindow;
    std::shared_ptr<SettingsWindow> settingsWindow;
    std::shared_ptr<MonitorToken> eventMonitor;
    std::shared_ptr<EventTap> eventTap;
    TimerRef snoozeTimer;
    std::optional<double> snoozeEndDate;
    std::shared_ptr<MenuItem> snoozeMenuItem;
    std::shared_ptr<MenuItem> updateMenuItem;
    std::optional<std::string> latestDownloadURL;
    TimerRef accessibilityTimer;

  private:
    // Wraps an operation so that it holds the delegate weakly and does nothing once it is gone.
    std::function<void()> weakly(void (AppDelegate::*operation)());

    void idleTimerFired();
    // Whether a rest may show the square now; when not, waits for what comes next.
    bool squareMayShow();
    // Asks the platform where the pointer is and shows the square there, unless anything
    // happened meanwhile that forgets the question (forgetPointerQuery).
    void locatePointerForOverlay();
    void pointerLocated(std::optional<Point> pointer);
    // A late answer to the pointer query, if one is awaited, must no longer show anything.
    void forgetPointerQuery() { ++pointerQueries_; }
    // Waits for the next input to arm the countdown again.
    void waitForInput();
    void inputResumed();
    void overlayCheckFired();
    void refreshSnoozeItem();
    // Brings the check mark, the icon and the snooze item up to date and shows them.
    void refreshStatusMenu();
    // Acts on a change of isEnabled, whatever made it: switched off, the guard goes down as
    // the Enabled item takes it down.
    void followEnabledPreference();
    // (Re-)arms the snooze timer towards the end date, a minute at most at a time.
    void armSnoozeTimer();
    void snoozeTimerFired();
    // Polls the permission every second; once it is there, installs the tap and, when
    // `restartCountdown`, re-arms the idle timer.
    void startPermissionPoll(bool restartCountdown);
    bool overlayIsUp() const;

    Platform& platform_;
    Preferences preferences_;
    CursorVisibility cursorVisibility_;
    // The isEnabled value last acted upon; nullopt before launch.
    std::optional<bool> followedEnabled_;
    // Counts the events that forget a pointer query; a late answer counts for its own only.
    uint64_t pointerQueries_ = 0;
};

// The tap's callback: judges one event for `delegate` (nullptr when it is gone) and returns
// whether the event passes. Queues the overlay's dismissal after every press it judges.
bool eventTapCallback(uint32_t type, const TapEvent& event, AppDelegate* delegate);

}  // namespace dovetrel
