// The click guard's tap on X11, as the main thread sees it: switching the grabs on and off,
// handing over what presses are judged by, and whether the guard still works. The grabs
// themselves live on a thread of their own (guard_thread.h), so that a busy main thread can
// never freeze the pointer.
#pragma once

#include <QRect>
#include <functional>
#include <memory>
#include <optional>

#include "app/x11/input/guard_mailbox.h"
#include "app/x11/input/thread_annotations.h"
#include "core/platform.h"

namespace dovetrel::app {

class GuardThread;

class X11ClickGuard : public EventTap {
  public:
    // Where the server shows the overlay, in root-window pixels; nullopt when unknown.
    using OverlayGeometry = std::function<std::optional<QRect>()>;

    // Starts the guard thread on its own X connection. nullptr when there is none, or the
    // server has no XInput 2.2. Grabs another client holds are skipped when the guard goes
    // on, and said once.
    static std::shared_ptr<X11ClickGuard> create(EventTapHandlers handlers,
                                                 OverlayGeometry overlayOnScreen = {});
    ~X11ClickGuard() override;

    // On: installs the grabs before returning. Off: removes them.
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void invalidate() override;
    void publish(const ClickGuardSnapshot& snapshot) override;

    // False once the guard's connection to the X server is lost.
    bool isHealthy() const;

  private:
    X11ClickGuard(EventTapHandlers handlers, OverlayGeometry overlayOnScreen);

    ThreadChecker mainThread_;
    const EventTapHandlers handlers_;
    const OverlayGeometry overlayOnScreen_;
    bool enabled_ = false;
    bool invalidated_ = false;
    GuardMailbox mailbox_;
    std::unique_ptr<GuardThread> thread_;
};

}  // namespace dovetrel::app
