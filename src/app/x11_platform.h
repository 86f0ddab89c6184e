// The desktop as the core sees it, on Qt and X11.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/desktop_notifications.h"
#include "app/qt/feed_download.h"
#include "app/qt/run_loop.h"
#include "app/qt/settings_file_store.h"
#include "app/x11/desktop_queries.h"
#include "app/x11/input/idle_watch.h"
#include "app/x11/input/input_access.h"
#include "core/platform.h"

namespace dovetrel::app {

class X11InputMonitor;

// What the build compiles into the program.
struct BuildInfo {
    std::string buildNumber;
    // Empty turns the update check off.
    std::string releaseFeedURL;
};

// Forwards each of the core's questions to the part of the adapter that answers it.
class X11Platform : public Platform {
  public:
    explicit X11Platform(BuildInfo build);
    ~X11Platform() override;

    double now() override;
    TimerRef scheduleTimer(double interval, bool repeats, std::function<void()> block) override;
    void dispatchAsync(std::function<void()> block) override;
    void dispatchAfter(double delay, std::function<void()> block) override;
    TimerRef scheduleIdleTimer(double interval, std::function<void()> block) override;
    TimerRef scheduleInputTimer(std::function<void()> block) override;
    PreferenceStore& preferences() override { return store_; }
    std::shared_ptr<MonitorToken> addGlobalMonitor(uint64_t mask,
                                                   std::function<void(uint32_t)> handler) override;
    Point mouseLocation() override;
    // X11 tells the pointer position to anyone who asks: answered at once.
    void locatePointer(std::function<void(std::optional<Point>)> answer) override {
        answer(mouseLocation());
    }
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
    void notifyWorkspace(WorkspaceNotification name);
    void notifyDistributed(const std::string& name);
    void ensureNotifications();

    BuildInfo build_;
    RunLoop runLoop_;
    SettingsFileStore store_;
    FeedDownload feed_;
    X11Desktop desktop_;
    // nullptr without the server's idle counters: then the monitor listens all the time, and
    // its events restart the idle timer.
    std::unique_ptr<X11IdleWatch> idleWatch_;
    std::shared_ptr<X11InputMonitor> monitor_;
    InputAccess access_;
    QPointer<QWidget> overlay_;
    std::unique_ptr<DesktopNotifications> notifications_;
    std::vector<std::pair<WorkspaceNotification, std::function<void()>>> workspaceObservers_;
    std::vector<std::pair<std::string, std::function<void()>>> distributedObservers_;
};

}  // namespace dovetrel::app
