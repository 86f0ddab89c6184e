// A private Wayland session for end-to-end tests: a headless sway (software rendering, no
// input devices) and a session bus, with a virtual pointer of the test's own, and screenshots
// through grim. sway
// refuses to run as root: a test running as root starts it as DOVETREL_TEST_USER ("nobody"
// unless set) and keeps the root's access to its runtime folder.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
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
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

namespace dovetrel::support {

class WaylandSession {
  public:
    WaylandSession(int width = 1280, int height = 720);
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // Empty when the session runs; otherwise why not (sway missing, or it would not start).
    const std::string& failure() const { return failure_; }
    // KEY=value lines for a child that should run in this session, the program's Wayland
    // platform asked for.
    std::vector<std::string> environment() const;

    // Virtual pointer input, taken by the compositor when these return.
    void movePointer(int x, int y);
    void click(uint32_t button);
    // Wheel steps, positive down.
    void scroll(int steps);
    // Types `keys` on a virtual keyboard (wtype).
    void type(const std::string& keys);

    // Opens a window, which sway tiles over the whole output, recording the pointer events it
    // receives: "enter", "leave", "motion", "press N", "release N", "scroll".
    void openWindow();
    // What the window received since the last call.
    std::vector<std::string> received();
    // The window's listeners.
    void windowConfigured(uint32_t serial);
    void windowReceived(std::string event) { received_.push_back(std::move(event)); }

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
    ChildProcess sway_;
    // The session bus of the programs started in the session.
    ChildProcess bus_;
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_virtual_pointer_manager_v1* manager_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    uint32_t time_ = 1;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    xdg_wm_base* shell_ = nullptr;
    wl_surface* surface_ = nullptr;
    xdg_surface* xdgSurface_ = nullptr;
    xdg_toplevel* toplevel_ = nullptr;
    wl_buffer* windowBuffer_ = nullptr;
    wl_pointer* windowPointer_ = nullptr;
    bool configured_ = false;
    std::vector<std::string> received_;
};

// The smallest rectangle holding every pixel that differs from the one at the top-left
// corner (the bare background); empty when there is none.
QRect paintedArea(const QImage& shot);

}  // namespace dovetrel::support
