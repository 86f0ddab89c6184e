// Dovetrel's own connection to the Wayland compositor, beside whatever Qt uses: the square and
// the pointer probe are layer-shell surfaces, which Qt 6.4 cannot make.
#pragma once

#include <QObject>
#include <QPointF>
#include <QSocketNotifier>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

struct wl_callback;
struct wl_compositor;
struct wl_display;
struct wl_pointer;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct wl_surface;
struct ext_idle_notifier_v1;
struct org_kde_kwin_idle;
struct org_kde_kwin_keystate;
struct zwlr_layer_shell_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

namespace dovetrel::app {

// The globals the adapter binds; each is nullptr when the compositor does not offer it.
struct WaylandGlobals {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;
    zwlr_layer_shell_v1* layerShell = nullptr;
    zwlr_virtual_pointer_manager_v1* virtualPointers = nullptr;
    ext_idle_notifier_v1* idleNotifier = nullptr;
    org_kde_kwin_idle* kdeIdle = nullptr;
    // Restricted on KWin: the desktop entry names it (X-KDE-Wayland-Interfaces).
    org_kde_kwin_keystate* keystate = nullptr;
    // The wlr list of other clients' windows, left unbound (name 0 when not offered): the
    // compositor sends the whole list at once, so its watch binds it with its listener ready.
    uint32_t toplevelListName = 0;
    uint32_t toplevelListVersion = 0;
};

// What the pointer does over one of our surfaces, in surface coordinates.
struct PointerEvents {
    std::function<void(QPointF position)> entered;
    std::function<void(QPointF position)> moved;
    std::function<void()> left;
    std::function<void(uint32_t button, bool pressed)> button;
    std::function<void()> scrolled;
};

class WaylandConnection : public QObject {
  public:
    // Connects to $WAYLAND_DISPLAY and learns the globals in one round trip. nullptr, with
    // `why` saying what is missing, without a compositor, a seat, shared memory or the layer
    // shell.
    static std::unique_ptr<WaylandConnection> open(std::string& why);
    ~WaylandConnection() override;
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    const WaylandGlobals& globals() const { return globals_; }
    wl_registry* registry() const { return registry_; }
    wl_display* display() const { return display_; }
    // Sends the requests made since the last flush; done before the loop sleeps as well.
    void flush();

    // Routes the seat's pointer events on `surface` to `events` until forgotten.
    void watchPointer(wl_surface* surface, PointerEvents events);
    void forgetPointer(wl_surface* surface);

    // A zero-length motion of a pointer of our own, which makes wlroots pick the surface under
    // the pointer again: sway 1.10 does not after a surface maps under a still pointer, and
    // sway 1.7 and labwc 0.8 lose the next click after one under it is destroyed (sway issue
    // 8146). Does nothing where the compositor offers no virtual pointer (KWin needs none).
    void nudgePointer();
    // True while the compositor may still report input caused by the last nudge: idle
    // notifications resumed meanwhile are our own doing.
    bool isNudging() const { return pendingNudges_ > 0; }

    // A press that came to a surface of ours already taken down, such as the pointer probe
    // just after it answered: the compositor gave it to us, so nobody else will get it.
    std::function<void()> strayPress;

    // The registry's and seat's listeners, called from C.
    void globalAdded(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    void seatCapabilities(uint32_t capabilities);
    void pointerEntered(wl_surface* surface, QPointF position);
    void pointerLeft(wl_surface* surface);
    void pointerMoved(QPointF position);
    void pointerButton(uint32_t button, bool pressed);
    void pointerScrolled();
    void nudgeSettled(wl_callback* callback);

  private:
    explicit WaylandConnection(wl_display* display);
    // Reads and dispatches everything the compositor sent; the prepare-read cycle keeps the
    // queue consistent with any other reader.
    void readEvents();
    PointerEvents focusedEvents() const;

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    WaylandGlobals globals_;
    wl_pointer* pointer_ = nullptr;
    zwlr_virtual_pointer_v1* virtualPointer_ = nullptr;
    wl_surface* pointerFocus_ = nullptr;
    std::map<wl_surface*, PointerEvents> pointerWatches_;
    int pendingNudges_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace dovetrel::app
