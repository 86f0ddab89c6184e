// A private Wayland session for end-to-end tests: a headless compositor (software rendering, no
// input devices) and a session bus, with pointer and keys of the test's own, and screenshots
// through grim. sway by default; DOVETREL_TEST_COMPOSITOR names another command ending in sway,
// labwc or kwin_wayland, such as one in a chroot. wlroots compositors take the test's input
// through a virtual pointer and wtype, KWin through its fake input. sway refuses to run as
// root: a test running as root starts the compositor as DOVETREL_TEST_USER ("nobody" unless
// set) and keeps the root's access to its runtime folder.
#pragma once

#include <QImage>
#include <QRect>
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
    // Holds Shift down while `meanwhile` runs, from 200 ms before it.
    void withShiftHeld(const std::function<void()>& meanwhile);
    // Holds Shift down or lets it go; only where the compositor takes keys from the test itself
    // (KWin), false elsewhere.
    bool holdShift(bool down);
    // Whether the compositor tells clients which modifiers are held (KWin).
    bool tellsModifiers() const { return fakeInput_ != nullptr; }
    // Whether screenshot() can work: not on KWin, which offers no wlr screen copy.
    bool takesScreenshots() const { return fakeInput_ == nullptr; }
    // Whether the test window has the pointer, from the enter and leave it last received.
    bool windowHasPointer();

    // Opens a window the size of the output, which compositors put over all of it, recording the
    // pointer events it receives: "enter", "leave", "motion", "press N", "release N", "scroll".
    void openWindow();
    // What the window received since the last call.
    std::vector<std::string> received();
    // The window's listeners.
    void windowConfigured(uint32_t serial);
    void windowReceived(std::string event);

    // The output as the compositor shows it; a null image when grim fails.
    QImage screenshot() const;

    // The registry's listener.
    void globalAdded(wl_registry* registry, uint32_t name, const char* interface);

  private:
    void roundTrip();

    int width_;
    int height_;
    std::string failure_;
    std::unique_ptr<QTemporaryDir> runtimeDir_;
    // The runtime folder of the programs in the session, the test's own: Qt wants one owned by
    // the user it runs as.
    std::unique_ptr<QTemporaryDir> clientRuntimeDir_;
    std::string socket_;  // absolute
    ChildProcess compositor_;
    // The session bus of the programs started in the session.
    ChildProcess bus_;
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
    std::vector<std::string> received_;
    bool windowHasPointer_ = false;
};

// The smallest rectangle holding every pixel that differs from the one at the top-left
// corner (the bare background); empty when there is none.
QRect paintedArea(const QImage& shot);

}  // namespace dovetrel::support
