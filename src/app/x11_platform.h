// The desktop as the core sees it, on Qt and X11.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_platform.h"
#include "app/x11/desktop_queries.h"
#include "app/x11/input/idle_watch.h"
#include "app/x11/input/input_access.h"
#include "core/platform.h"

namespace dovetrel::app {

class X11InputMonitor;

// Forwards each of the core's questions about input, the pointer, windows and the overlay to
// the part of the X11 adapter that answers it.
class X11Platform : public QtPlatform {
  public:
    explicit X11Platform(BuildInfo build);
    ~X11Platform() override;

    TimerRef scheduleIdleTimer(double interval, std::function<void()> block) override;
    TimerRef scheduleInputTimer(std::function<void()> block) override;
    std::shared_ptr<MonitorToken> addGlobalMonitor(uint64_t mask,
                                                   std::function<void(uint32_t)> handler) override;
    Point mouseLocation() override;
    // X11 tells the pointer position to anyone who asks: answered at once.
    void locatePointer(std::function<void(std::optional<Point>)> answer) override {
        answer(mouseLocation());
    }
    std::shared_ptr<EventTap> createEventTap(uint64_t eventMask,
                                             EventTapHandlers handlers) override;
    std::optional<Rect> mainScreenFrame() override;
    std::optional<std::function<uint32_t()>> cursorVisibilityFunction() override;
    std::optional<CursorImage> currentSystemCursor() override;
    std::optional<int32_t> frontmostApplicationPid() override;
    std::optional<std::vector<WindowInfo>> onScreenWindows() override;
    bool isPointerOverOwnWindow() override;
    std::unique_ptr<OverlaySurface> createOverlaySurface(const Rect& contentRect) override;
    bool isProcessTrusted(bool prompt) override;
    void resetAccessibilityRecord(const std::string& bundleIdentifier) override;

  private:
    X11Desktop desktop_;
    // nullptr without the server's idle counters: then the monitor listens all the time, and
    // its events restart the idle timer.
    std::unique_ptr<X11IdleWatch> idleWatch_;
    std::shared_ptr<X11InputMonitor> monitor_;
    InputAccess access_;
    QPointer<QWidget> overlay_;
};

}  // namespace dovetrel::app
