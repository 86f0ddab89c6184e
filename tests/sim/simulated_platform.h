// A desktop in memory with a virtual clock, for driving the core in tests.
//
// Nothing happens on its own: a test advances time, moves the pointer, sends events and
// posts notifications, and the platform runs the core's callbacks as the real one would, on
// one thread. The calls that tests count are recorded by name in `calls`; tests look at the
// state the calls leave rather than at their order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/platform.h"

namespace dovetrel::sim {

class SimulatedPlatform;

class SimPreferenceStore : public PreferenceStore {
  public:
    std::optional<std::string> value(std::string_view key) const override;
    void setValue(std::string_view key, const std::string& text) override;
    void addChangeObserver(std::function<void()> handler) override {
        observers_.push_back(std::move(handler));
    }

    // A change made behind the program's back, as a person editing the file would.
    void editByHand(std::string_view key, std::optional<std::string> text);
    const std::map<std::string, std::string, std::less<>>& values() const { return values_; }
    int writeCount() const { return writes_; }

  private:
    void notify();

    std::map<std::string, std::string, std::less<>> values_;
    std::vector<std::function<void()>> observers_;
    int writes_ = 0;
};

class SimOverlaySurface : public OverlaySurface {
  public:
    SimOverlaySurface(SimulatedPlatform& platform, Rect frame)
        : platform_(platform), frame_(frame) {}
    ~SimOverlaySurface() override;

    Rect frame() const override { return frame_; }
    void setFrame(const Rect& frame) override { frame_ = frame; }
    bool isVisible() const override { return visible_; }
    void setAlpha(double alpha) override { alpha_ = alpha; }
    void orderFrontRegardless() override { visible_ = true; }
    void orderOut() override { visible_ = false; }
    void setBackgroundBlurRadius(double radius) override { blurRadius_ = radius; }
    void animateAlpha(double target, double seconds, Easing easing,
                      std::function<void()> completion) override;

    double alpha() const { return alpha_; }
    // Where the running fade is heading; nullopt when none runs.
    std::optional<double> fadeTarget() const { return fadeTarget_; }
    double blurRadius() const { return blurRadius_; }

  private:
    SimulatedPlatform& platform_;
    Rect frame_;
    bool visible_ = false;
    double alpha_ = 1.0;
    std::optional<double> fadeTarget_;
    double blurRadius_ = 0;
    std::shared_ptr<Timer> animation_;
};

class SimEventTap : public EventTap {
  public:
    SimEventTap(uint64_t mask, EventTapHandlers handlers)
        : mask_(mask), handlers_(std::move(handlers)) {}

    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }
    void invalidate() override { valid_ = false; }
    void publish(const ClickGuardSnapshot& snapshot) override { published_ = snapshot; }

    bool isValid() const { return valid_; }
    bool watches(uint32_t type) const { return type < 64 && ((mask_ >> type) & 1); }
    const EventTapHandlers& handlers() const { return handlers_; }
    // What the core published last; nullopt before it published anything.
    const std::optional<ClickGuardSnapshot>& published() const { return published_; }

  private:
    uint64_t mask_;
    EventTapHandlers handlers_;
    bool enabled_ = false;
    bool valid_ = true;
    std::optional<ClickGuardSnapshot> published_;
};

class SimStatusItem : public StatusItem {
  public:
    SimStatusItem(SimulatedPlatform& platform, StatusItemHandlers handlers, bool hasButton)
        : platform_(platform), handlers_(std::move(handlers)), hasButton_(hasButton) {}

    bool hasButton() const override { return hasButton_; }
    void setImage(const MenuBarIcon& icon) override;
    void setMenu(std::shared_ptr<Menu> menu) override;
    std::shared_ptr<Menu> menu() const override { return menu_; }
    void menuChanged() override;

    const std::optional<MenuBarIcon>& image() const { return image_; }
    // The menu as the panel last saw it (at setMenu or menuChanged): one line per item,
    // "---" for a separator, a check box as "[x] " or "[ ] " before the title.
    const std::vector<std::string>& shownMenu() const { return shownMenu_; }
    // Opens the menu: the core is told, and default-mode timers wait until closeMenu().
    void openMenu();
    void closeMenu();
    // Chooses an item, as clicking it does: the menu closes and the action is sent.
    void choose(const std::shared_ptr<MenuItem>& item);

  private:
    SimulatedPlatform& platform_;
    StatusItemHandlers handlers_;
    bool hasButton_;
    std::shared_ptr<Menu> menu_;
    std::optional<MenuBarIcon> image_;
    std::vector<std::string> shownMenu_;
};

class SimSettingsWindow : public SettingsWindow {
  public:
    SimSettingsWindow(SimulatedPlatform& platform,
                      std::function<void(const SettingsWindow*)> windowWillClose)
        : platform_(platform), windowWillClose_(std::move(windowWillClose)) {}

    void center() override { centred_ = true; }
    void setLevel(WindowLevel level) override { level_ = level; }
    void makeKeyAndOrderFront() override;

    WindowLevel level() const { return level_; }
    bool isCentred() const { return centred_; }
    void close();

  private:
    SimulatedPlatform& platform_;
    std::function<void(const SettingsWindow*)> windowWillClose_;
    WindowLevel level_ = WindowLevel::normal;
    bool centred_ = false;
};

struct PendingRequest {
    HttpRequest request;
    std::function<void(std::optional<std::string>)> completion;
};

class SimulatedPlatform : public Platform {
  public:
    // The virtual clock and run loop.
    // Moves the clock on, firing due timers in deadline order (ties in scheduling order) and
    // running the main queue after each callback.
    void advance(double seconds);
    // When the next timer that may fire now is due; nullopt when none is scheduled.
    std::optional<double> nextDeadline() const;
    void runMainQueue();
    // While a menu is tracked, default-mode timers wait; when it ends, those that came due
    // fire once.
    void beginMenuTracking() { trackingMenu_ = true; }
    void endMenuTracking();
    int liveTimerCount() const;
    // The machine sleeps for `seconds` and wakes: the clock moves on, every timer stands
    // still meanwhile (it fires that much later), and didWake is posted.
    void suspend(double seconds);

    // Input.
    Point pointer{500, 400};  // window coordinates
    // Runs inside every pointer query, as a platform that hands out input it read meanwhile
    // would.
    std::function<void()> onMouseLocation;
    // When set, pointer queries wait for answerPointerQuery() instead of being answered at once
    // with mouseLocation().
    bool answersPointerLate = false;
    // Answers the query held longest; false when none is held.
    bool answerPointerQuery(std::optional<Point> answer);
    // One input event: it restarts idle timers, fires input timers, and reaches the monitor if
    // it is installed, watches its type and an overlay is up.
    void sendMonitorEvent(uint32_t type);
    void movePointer(Point to);
    // A mouse-button press at `tapLocation` reaching the tap, input like any other. Returns
    // whether it passed (always true while there is no enabled tap watching its type).
    bool sendPress(Point tapLocation, uint64_t flags = 0, uint32_t type = 1);
    // The system switches the tap off and tells its callback.
    void disableTapBySystem(uint32_t pseudoType);
    bool tapCreationSucceeds = true;
    SimEventTap* tap() const { return tap_.get(); }

    // Screens, pointer and windows.
    std::vector<Rect> screens{Rect{{0, 0}, {1440, 900}}};
    std::optional<Rect> mainScreen = Rect{{0, 0}, {1440, 900}};
    std::optional<std::function<uint32_t()>> visibilityFunction;
    std::optional<CursorImage> cursor;
    int cursorQueries = 0;
    std::optional<int32_t> frontmostPid;
    std::optional<std::vector<WindowInfo>> windows;
    int windowListQueries = 0;
    bool screenLockedOrBlanked = false;
    SimOverlaySurface* overlay() const { return overlay_; }

    // Notifications.
    void post(WorkspaceNotification name);
    void postDistributed(const std::string& name);

    // Permission.
    bool trusted = true;
    std::optional<std::string> buildNumber = std::string("1");

    // Tray and settings window.
    bool statusItemAvailable = true;  // false: a desktop with no tray at all
    bool statusItemHasButton = true;
    SimStatusItem* statusItem() const { return statusItem_.get(); }
    std::vector<std::shared_ptr<SimSettingsWindow>> settingsWindows;

    // The outside world.
    std::string feedURL = "https://dovetrel.app/releases/latest.json";
    std::vector<PendingRequest> requests;
    std::vector<std::string> openedUrls;
    bool loginItemServiceSucceeds = true;

    std::vector<std::string> calls;
    int callCount(const std::string& prefix) const;
    bool called(const std::string& prefix) const { return callCount(prefix) > 0; }
    std::optional<ActivationPolicy> activationPolicy;

    double now() override { return now_; }
    TimerRef scheduleTimer(double interval, bool repeats, std::function<void()> block) override;
    void dispatchAsync(std::function<void()> block) override;
    void dispatchAfter(double delay, std::function<void()> block) override {
        record("dispatchAfter");
        scheduleInternal(delay, std::move(block));
    }
    TimerRef scheduleIdleTimer(double interval, std::function<void()> block) override;
    TimerRef scheduleInputTimer(std::function<void()> block) override;
    PreferenceStore& preferences() override { return store; }
    std::shared_ptr<MonitorToken> addGlobalMonitor(uint64_t mask,
                                                   std::function<void(uint32_t)> handler) override;
    Point mouseLocation() override {
        if (onMouseLocation) {
            onMouseLocation();
        }
        return pointer;
    }
    void locatePointer(std::function<void(std::optional<Point>)> answer) override;
    std::shared_ptr<EventTap> createEventTap(uint64_t eventMask,
                                             EventTapHandlers handlers) override;
    std::vector<Rect> screenFrames() override { return screens; }
    std::optional<Rect> mainScreenFrame() override { return mainScreen; }
    std::optional<std::function<uint32_t()>> cursorVisibilityFunction() override {
        record("cursorVisibilityFunction");
        return visibilityFunction;
    }
    std::optional<CursorImage> currentSystemCursor() override {
        ++cursorQueries;
        return cursor;
    }
    std::optional<int32_t> frontmostApplicationPid() override { return frontmostPid; }
    std::optional<std::vector<WindowInfo>> onScreenWindows() override {
        ++windowListQueries;
        return windows;
    }
    bool isScreenLockedOrBlanked() override { return screenLockedOrBlanked; }
    bool isPointerOverOwnWindow() override { return false; }
    std::unique_ptr<OverlaySurface> createOverlaySurface(const Rect& contentRect) override;
    std::shared_ptr<StatusItem> createStatusItem(StatusItemHandlers handlers) override;
    std::shared_ptr<SettingsWindow> createSettingsWindow(
        std::function<void(const SettingsWindow*)> windowWillClose) override;
    void addWorkspaceObserver(WorkspaceNotification name, std::function<void()> handler) override {
        workspaceObservers_.emplace(name, std::move(handler));
    }
    void addDistributedObserver(const std::string& name, std::function<void()> handler) override {
        record("addDistributedObserver " + name);
        distributedObservers_.emplace(name, std::move(handler));
    }
    bool isProcessTrusted(bool prompt) override {
        record(prompt ? "isProcessTrusted prompt" : "isProcessTrusted quiet");
        return trusted;
    }
    void resetAccessibilityRecord(const std::string& bundleIdentifier) override {
        record("resetAccessibilityRecord " + bundleIdentifier);
    }
    std::optional<std::string> bundleVersion() override { return buildNumber; }
    std::string releaseFeedURL() override { return feedURL; }
    void httpGet(const HttpRequest& request,
                 std::function<void(std::optional<std::string>)> completion) override {
        requests.push_back(PendingRequest{request, std::move(completion)});
    }
    void openUrl(const std::string& url) override { openedUrls.push_back(url); }
    bool registerLoginItem() override {
        record("registerLoginItem");
        return loginItemServiceSucceeds;
    }
    bool unregisterLoginItem() override {
        record("unregisterLoginItem");
        return loginItemServiceSucceeds;
    }
    void setActivationPolicy(ActivationPolicy policy) override { activationPolicy = policy; }
    void activateIgnoringOtherApps() override { record("activateIgnoringOtherApps"); }
    void terminate() override { record("terminate"); }

    SimPreferenceStore store;

    // Used by the simulated objects.
    void record(std::string call) { calls.push_back(std::move(call)); }
    void forgetOverlay(const SimOverlaySurface* surface) {
        if (overlay_ == surface) {
            overlay_ = nullptr;
        }
    }
    // A timer of the platform's own (animations, delayed blocks): runs in every mode and is
    // not recorded as the core's timer.
    TimerRef scheduleInternal(double delay, std::function<void()> block);

  private:
    struct SimTimer;
    std::shared_ptr<SimTimer> makeTimer(double interval, bool repeats, bool ofCore,
                                        std::function<void()> block);
    void fire(const std::shared_ptr<SimTimer>& timer);
    std::shared_ptr<SimTimer> nextDue(double limit) const;
    void prune();
    // Input as the platform watches it for the idle and input timers.
    void input();

    double now_ = 1'000'000.0;
    uint64_t nextSequence_ = 0;
    bool trackingMenu_ = false;
    std::vector<std::shared_ptr<SimTimer>> timers_;
    std::vector<std::function<void()>> mainQueue_;
    uint64_t monitorMask_ = 0;
    std::function<void(uint32_t)> monitorHandler_;
    std::vector<std::function<void(std::optional<Point>)>> heldPointerQueries_;
    std::shared_ptr<SimEventTap> tap_;
    SimOverlaySurface* overlay_ = nullptr;
    std::shared_ptr<SimStatusItem> statusItem_;
    std::multimap<WorkspaceNotification, std::function<void()>> workspaceObservers_;
    std::multimap<std::string, std::function<void()>, std::less<>> distributedObservers_;
};

}  // namespace dovetrel::sim
