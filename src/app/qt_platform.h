// What the program does alike on every desktop it runs on with Qt: the run loop, preferences,
// the tray and Settings window, workspace and lock notifications, the network and the login
// item. Each window system's platform adds input, the pointer and the overlay.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop_notifications.h"
#include "app/qt/feed_download.h"
#include "app/qt/run_loop.h"
#include "app/qt/settings_file_store.h"
#include "core/platform.h"

namespace dovetrel::app {

// What the build compiles into the program.
struct BuildInfo {
    std::string buildNumber;
    // Empty turns the update check off.
    std::string releaseFeedURL;
};

class QtPlatform : public Platform {
  public:
    explicit QtPlatform(BuildInfo build);
    ~QtPlatform() override;

    double now() override;
    TimerRef scheduleTimer(double interval, bool repeats, std::function<void()> block) override;
    void dispatchAsync(std::function<void()> block) override;
    void dispatchAfter(double delay, std::function<void()> block) override;
    PreferenceStore& preferences() override { return store_; }
    // Qt's screens, the primary one first.
    std::vector<Rect> screenFrames() override;
    std::shared_ptr<StatusItem> createStatusItem(StatusItemHandlers handlers) override;
    std::shared_ptr<SettingsWindow> createSettingsWindow(
        std::function<void(const SettingsWindow*)> windowWillClose) override;
    void addWorkspaceObserver(WorkspaceNotification name, std::function<void()> handler) override;
    void addDistributedObserver(const std::string& name, std::function<void()> handler) override;
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

    bool isScreenLockedOrBlanked() override;

  protected:
    RunLoop& runLoop() { return runLoop_; }
    // Started at the first use, so that a platform that never asks opens no bus.
    DesktopNotifications& notifications();

  private:
    void notifyWorkspace(WorkspaceNotification name);
    void notifyDistributed(const std::string& name);

    BuildInfo build_;
    RunLoop runLoop_;
    SettingsFileStore store_;
    FeedDownload feed_;
    std::unique_ptr<DesktopNotifications> notifications_;
    std::vector<std::pair<WorkspaceNotification, std::function<void()>>> workspaceObservers_;
    std::vector<std::pair<std::string, std::function<void()>>> distributedObservers_;
};

}  // namespace dovetrel::app
