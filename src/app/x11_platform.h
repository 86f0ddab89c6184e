// The desktop as the core sees it, on Qt and X11.
#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/desktop_notifications.h"
#include "app/qt/settings_file_store.h"
#include "app/x11/desktop_queries.h"
#include "core/platform.h"

namespace dovetrel::app {

class QtTimer;
class X11ClickGuard;
class X11InputMonitor;

// What the build compiles into the program.
struct BuildInfo {
    std::string buildNumber;
    // Empty turns the update check off.
    std::string releaseFeedURL;
};

class X11Platform : public Platform {
  public:
    explicit X11Platform(BuildInfo build);
    ~X11Platform() override;

    // While one of our own menus is open, default-mode timers hold their firings until it
    // closes, so that the menu's state does not change under the user.
    void setTrackingMenu(bool tracking);
    bool isTrackingMenu() const { return trackingMenu_; }

    double now() override;
    TimerRef scheduleTimer(double interval, bool repeats, std::function<void()> block) override;
    void dispatchAsync(std::function<void()> block) override;
    void dispatchAfter(double delay, std::function<void()> block) override;
    PreferenceStore& preferences() override { return store_; }
    std::shared_ptr<MonitorToken> addGlobalMonitor(uint64_t mask,
                                                   std::function<void(uint32_t)> handler) override;
    Point mouseLocation() override;
    std::shared_ptr<EventTap> createEventTap(uint64_t eventMask,
                                             EventTapHandlers handlers) override;
    std::vector<Rect> screenFrames() override;
    std::optional<Rect> mainScreenFrame() override;
    std::optional<std::function<uint32_t()>> cursorVisibilityFunction() override;
    std::optional<CursorImage> currentSystemCursor() override;
    std::optional<int32_t> frontmostApplicationPid() override;
    std::optional<std::vector<WindowInfo>> onScreenWindows() override;
    bool isScreenLockedOrBlanked() override;
    bool isPointerOverOwnWindow() override;
    std::unique_ptr<OverlaySurface> createOverlaySurface(const Rect& contentRect) override;
    std::shared_ptr<StatusItem> createStatusItem(StatusItemHandlers handlers) override;
    std::shared_ptr<SettingsWindow> createSettingsWindow(
        std::function<void(const SettingsWindow*)> windowWillClose) override;
    void addWorkspaceObserver(WorkspaceNotification name, std::function<void()> handler) override;
    void addDistributedObserver(const std::string& name, std::function<void()> handler) override;
    bool isProcessTrusted(bool prompt) override;
    void resetAccessibilityRecord(const std::string& bundleIdentifier) override;
    std::optional<std::string> bundleVersion() override;
    std::string releaseFeedURL() override;
    void httpGet(const HttpRequest& request,
                 std::function<void(std::optional<std::string>)> completion) override;
    void openUrl(const std::string& url) override;
    bool registerLoginItem() override;
    bool unregisterLoginItem() override;
    void setActivationPolicy(ActivationPolicy policy) override;
    void activateIgnoringOtherApps() override;
    void terminate() override;

  private:
    friend class QtTimer;
    void timerFinished(QtTimer* timer);
    void timerWaiting(QtTimer* timer);
    void notifyWorkspace(WorkspaceNotification name);
    void notifyDistributed(const std::string& name);
    void ensureNotifications();
    void refreshClickGuard();

    // Connecting to the server anew costs it a client and us a round trip: tries come a second
    // apart at most, and after each failed one the next waits twice as long, up to half a
    // minute.
    class Backoff {
      public:
        bool due() const { return std::chrono::steady_clock::now() >= next_; }
        void failed();
        void succeeded();

      private:
        static constexpr std::chrono::milliseconds kFirstDelay{1000};
        static constexpr std::chrono::milliseconds kLongestDelay{30000};
        std::chrono::steady_clock::time_point next_{};
        std::chrono::milliseconds delay_ = kFirstDelay;
    };

    BuildInfo build_;
    SettingsFileStore store_;
    std::unique_ptr<QNetworkAccessManager> network_;
    bool trackingMenu_ = false;
    // Scheduled timers stay alive here until they are done, whoever else holds them.
    std::set<std::shared_ptr<QtTimer>> liveTimers_;
    std::vector<std::weak_ptr<QtTimer>> waitingTimers_;
    X11Desktop desktop_;
    std::shared_ptr<X11InputMonitor> monitor_;
    std::weak_ptr<X11ClickGuard> clickGuard_;
    Backoff guardRetry_;
    Backoff monitorRetry_;
    bool monitorLossAnswered_ = false;
    Backoff serverProbe_;
    bool serverReachable_ = true;
    QPointer<QWidget> overlay_;
    std::unique_ptr<DesktopNotifications> notifications_;
    std::vector<std::pair<WorkspaceNotification, std::function<void()>>> workspaceObservers_;
    std::vector<std::pair<std::string, std::function<void()>>> distributedObservers_;
};

}  // namespace dovetrel::app
