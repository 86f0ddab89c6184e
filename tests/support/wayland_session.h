// A private Wayland session for end-to-end tests: a headless compositor (software rendering, no
// input devices) and a session bus, with pointer and keys of the test's own, and screenshots
// through grim. sway by default; DOVETREL_TEST_COMPOSITOR names another command ending in sway,
// labwc, kwin_wayland or gnome-shell, such as one in a chroot. wlroots compositors take the
// test's input through a virtual pointer and wtype, KWin through its fake input, GNOME Shell
// through mutter's remote desktop interface. sway refuses to run as root: a test running as
// root starts the compositor as DOVETREL_TEST_USER ("nobody" unless set) and keeps the root's
// access to its runtime folder. GNOME Shell also wants a system bus and no logind seats where
// it runs (scripts/test-wayland gives its chroot a private /run with both settled), and runs
// with Dovetrel's extension from the source tree enabled.
#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/x_session.h"

class QTemporaryDir;
struct wl_buffer;
struct wl_compositor;
struct wl_display;
struct wl_pointer;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct wl_surface;
struct xdg_surface;
struct xdg_toplevel;
struct xdg_wm_base;
struct org_kde_kwin_fake_input;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

namespace dovetrel::support {

class WaylandSession {
  public:
    WaylandSession(int width = 1280, int height = 720);
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // Empty when the session runs; otherwise why not (the compositor missing, or it would not
    // start).
    const std::string& failure() const { return failure_; }
    // KEY=value lines for a child that should run in this session, the program's Wayland
    // platform asked for.
    std::vector<std::string> environment() const;

    // Virtual pointer input, taken by the compositor when these return.
    void movePointer(int x, int y);
    void click(uint32_t button);
    // Wheel steps, positive down.
    void scroll(int steps);
    // Types `keys` (lower-case letters).
    void type(const std::string& keys);
    // Presses and lets go of the key with X keysym `keysym`, on GNOME Shell only.
    void tapKey(uint32_t keysym);
    // Holds Shift down while `meanwhile` runs, from 200 ms before it.
    void withShiftHeld(const std::function<void()>& meanwhile);
    // Holds Shift down or lets it go; only where the compositor takes keys from the test itself
    // (KWin, GNOME Shell), false elsewhere.
    bool holdShift(bool down);
    // Whether the compositor tells Dovetrel which modifiers are held (KWin, GNOME Shell).
    bool tellsModifiers() const { return fakeInput_ != nullptr || !remoteSession_.empty(); }
    // Whether screenshot() can work: not on KWin, which offers no screen copy to clients.
    bool takesScreenshots() const { return fakeInput_ == nullptr; }
    // What the compositor wrote on standard error.
    std::string compositorOutput() const { return compositor_.errorOutput(); }
    // GNOME Shell, where Dovetrel's extension draws the square and the top bar's button.
    bool isGnome() const { return !remoteSession_.empty(); }
    // The JSON of what `js` gives inside GNOME Shell; empty elsewhere or when it throws.
    std::string eval(const std::string& js) const;
    // Whether the test window has the pointer, from the enter and leave it last received.
    bool windowHasPointer();

    // Opens a maximized window, which covers the output but for GNOME Shell's top bar (or a
    // full-screen one, which covers it all), recording the pointer events it receives: "enter",
    // "leave", "motion", "press N", "release N", "scroll". Returns once the window has the
    // pointer, moved to the middle of the output.
    void openWindow(bool fullScreen = false);
    // What the window received since the last call.
    std::vector<std::string> received();
    // The window's listeners.
    void windowConfigured(uint32_t serial);
    void windowSized(int width, int height);
    void windowReceived(std::string event);

    // The output as the compositor shows it, pointer included; a null image when that fails.
    // GNOME Shell's top bar, whose clock and indicators change by themselves, is painted over
    // in the colour below it.
    QImage screenshot() const;

    // The registry's listener.
    void globalAdded(wl_registry* registry, uint32_t name, const char* interface);

  private:
    void roundTrip();
    // Sets up the extension, settings and session mode GNOME Shell starts with in `home`.
    void prepareGnomeHome(const std::string& home);
    // Starts the remote desktop session that carries the test's input to GNOME Shell.
    bool startRemoteDesktop();
    // Calls `method` of that session; whether it was answered.
    bool remoteInput(const char* method, const QList<QVariant>& arguments);

    int width_;
    int height_;
    std::string failure_;
    std::unique_ptr<QTemporaryDir> runtimeDir_;
    // The runtime folder of the programs in the session, the test's own: Qt wants one owned by
    // the user it runs as.
    std::unique_ptr<QTemporaryDir> clientRuntimeDir_;
    std::string socket_;  // absolute
    // The session bus of the programs started in the session, and of GNOME Shell.
    ChildProcess bus_;
    ChildProcess compositor_;
    // The test's own connection to that bus, which mutter ends the remote desktop session
    // with, and the session's object path; empty elsewhere than on GNOME Shell.
    std::string remoteBus_;
    std::string remoteSession_;
    // Where the remote desktop pointer is: it moves only by relative steps.
    int pointerX_ = 0;
    int pointerY_ = 0;
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_virtual_pointer_manager_v1* manager_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    org_kde_kwin_fake_input* fakeInput_ = nullptr;
    uint32_t time_ = 1;
    wl_compositor* surfaces_ = nullptr;
    wl_shm* shm_ = nullptr;
    xdg_wm_base* shell_ = nullptr;
    wl_surface* surface_ = nullptr;
    xdg_surface* xdgSurface_ = nullptr;
    xdg_toplevel* toplevel_ = nullptr;
    wl_buffer* windowBuffer_ = nullptr;
    wl_pointer* windowPointer_ = nullptr;
    bool configured_ = false;
    int windowWidth_ = 0;
    int windowHeight_ = 0;
    std::vector<std::string> received_;
    bool windowHasPointer_ = false;
};

// The smallest rectangle holding every pixel that differs from the one at the top-left
// corner (the bare background); empty when there is none.
QRect paintedArea(const QImage& shot);

}  // namespace dovetrel::support
