// The desktop as the core sees it in GNOME's Wayland session, which offers clients neither a
// layer shell nor idle notifications: Dovetrel's GNOME Shell extension draws the square and
// reports stillness, the pointer and what happens on the square from inside the compositor.
// The extension being there is what lets the program guard.
#pragma once

#include <QObject>
#include <memory>
#include <optional>

#include "app/client_square_platform.h"
#include "app/gnome/shell_extension.h"

namespace dovetrel::app {

class SquareTap;
class GnomeOverlaySurface;
class GnomeStatusItem;
class ShellWait;

class GnomePlatform : public ClientSquarePlatform {
  public:
    GnomePlatform(BuildInfo build, QDBusConnection bus);
    ~GnomePlatform() override;

    TimerRef scheduleIdleTimer(double interval, std::function<void()> block) override;
    TimerRef scheduleInputTimer(std::function<void()> block) override;
    // Asks the extension; the answer comes over the bus.
    void locatePointer(std::function<void(std::optional<Point>)> answer) override;
    // Presses on the square, which the Shell gives to the extension alone.
    std::shared_ptr<EventTap> createEventTap(uint64_t eventMask,
                                             EventTapHandlers handlers) override;
    // The extension keeps the square off a full-screen window itself.
    std::optional<int32_t> frontmostApplicationPid() override { return std::nullopt; }
    std::optional<std::vector<WindowInfo>> onScreenWindows() override { return std::nullopt; }
    std::unique_ptr<OverlaySurface> createOverlaySurface(const Rect& contentRect) override;
    // The top bar's button, drawn by the extension.
    std::shared_ptr<StatusItem> createStatusItem(StatusItemHandlers handlers) override;
    // Whether the extension is there; `prompt` says what to do about it when it is not.
    bool isProcessTrusted(bool prompt) override;
    void resetAccessibilityRecord(const std::string& /*bundleIdentifier*/) override {}

  protected:
    bool squareIsUp() const override;

  private:
    void attachedChanged(bool attached);
    void inputSeen();
    void wantInput();
    // Whether the square stops presses: while the tap is on and no modifier was held as it
    // came.
    void applyGuarding();
    void squarePressed(uint32_t button, QPointF position);
    // Whether the extension is still away, asked when the notice about it is ready.
    std::function<bool()> stillMissing();

    std::shared_ptr<ShellWait> rest_;
    std::shared_ptr<ShellWait> input_;
    std::shared_ptr<SquareTap> tap_;
    GnomeOverlaySurface* square_ = nullptr;
    std::shared_ptr<GnomeStatusItem> statusItem_;
    bool tapOn_ = false;
    bool modifierHeld_ = false;
    bool watchingInput_ = false;
    // The idle wait to arm again when the extension comes back.
    uint32_t restMilliseconds_ = 0;
    bool noticeWanted_ = false;
    // Last: it goes first, and with it the bus calls in flight whose answers would reach
    // the members above.
    ShellExtension extension_;
};

}  // namespace dovetrel::app
