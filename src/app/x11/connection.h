// The one way the program speaks to the X server.
//
// Which connection carries what, and why:
// - Qt's own (qtDisplay()): the windows Qt made (where the overlay really is, its blur) and the
//   selections that announce the screen's managers; asked only from the main thread.
// - The input monitor's, opened through Xlib because Xlib decodes the XInput 2 and XKB events
//   it reads; wrapped here for its other requests. Its own, so that a storm of input never
//   queues behind Qt's traffic, and kept from ending the process when it is lost
//   (process_hooks.h).
// - The guard thread's, pure xcb: it answers frozen presses while the main thread may be busy,
//   so it shares nothing with the main thread's connections.
// - Short-lived or quiet ones of the main thread (desktop queries, screen events, the single
//   instance's selection, the start-up checks): xcb, which reports each request's error with
//   its reply and never ends the process when the server goes away.
//
// What an error means is chosen per request: check (the caller decides: a grab another client
// holds), ignore (expected now and then: a window that went away meanwhile) or fatal (the
// connection cannot be trusted with its job any more: it is closed, which ends whatever the
// server held for it, and counts as lost). A request sent without a choice must not fail: its
// error arrives with the events and is logged there.
#pragma once

#include <xcb/xcb.h>

#include <QColor>
#include <QRect>
#include <QWindow>
#include <compare>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct _XDisplay;

namespace dovetrel::app {

// An xcb reply, event or error, which xcb allocates with malloc.
struct FreeWithStdFree {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeWithStdFree>;

struct ExtensionVersion {
    int major = 0;
    int minor = 0;
    auto operator<=>(const ExtensionVersion&) const = default;
};

class XConnection {
  public:
    // Connects to `displayName` (nullptr: $DISPLAY) and its screen. Empty when the server
    // cannot be reached.
    explicit XConnection(const char* displayName);
    // A connection of our own to the server Qt talks to, even when it was named on the command
    // line. Empty without a graphical application on X11.
    static XConnection toQtServer();
    // The xcb side of an Xlib display, which stays the display's to close.
    static XConnection sharing(_XDisplay* display);
    XConnection() = default;
    ~XConnection();
    XConnection(XConnection&& other) noexcept;
    XConnection& operator=(XConnection&& other) noexcept;

    // nullptr when there is no usable connection: none was made, the server went away, or a
    // fatal request failed.
    xcb_connection_t* get() const;
    explicit operator bool() const { return get() != nullptr; }
    // The root window of the connection's screen; XCB_NONE when empty.
    xcb_window_t root() const { return root_; }
    int screenNumber() const { return screenNumber_; }
    int fileDescriptor() const;
    // Whether the server offers `extension`; its requests would close the connection if not.
    bool has(xcb_extension_t& extension) const;
    // Announces the XInput version this client speaks and returns the server's; nullopt
    // without XInput. The server sends raw events during other clients' grabs only to a client
    // that announced 2.2 or later.
    std::optional<ExtensionVersion> announceXInput(ExtensionVersion spoken);
    // The same for XFixes, which answers GetCursorImage only to a client that announced 1.0.
    std::optional<ExtensionVersion> announceXFixes(ExtensionVersion spoken);
    xcb_atom_t atom(std::string_view name);
    // An unmapped window that names this connection. The server ends a client only through a
    // resource it owns, and a connection that owns none cannot be told apart from Qt's in
    // xwininfo or xkill; with it, a session (or a test) can sever this connection alone.
    void markAs(std::string_view name);
    // A round trip: every request sent before it has been carried out, and every event the
    // server wrote before its answer is in xcb's queue. False once the connection is lost.
    bool roundTrip();

    // The error of a request sent with its _checked variant, waited for; nullptr when it
    // succeeded.
    Reply<xcb_generic_error_t> check(xcb_void_cookie_t cookie);
    // Drops whatever error a request sent with its _checked variant brings.
    void ignore(xcb_void_cookie_t cookie);
    // Waits for a request sent with its _checked variant; when it failed, says so with `what`
    // and closes the connection (an Xlib display's is only given up: it stays Xlib's to close).
    // Returns whether the connection is still usable.
    bool require(xcb_void_cookie_t cookie, const char* what);

    // Where the errors of requests sent without a choice, and the failures of fatal ones, are
    // told. They are logged unless told elsewhere: a thread other than the main thread must not
    // write to the terminal, where a background job would be stopped for it.
    using ErrorReport = std::function<void(const std::string& message)>;
    void reportErrorsTo(ErrorReport report) { report_ = std::move(report); }

    // The next event already read (or readable without waiting); nullptr when there is none.
    // Errors of requests sent without a choice are reported and skipped.
    Reply<xcb_generic_event_t> pollEvent();
    // The same, from what xcb has already read only.
    Reply<xcb_generic_event_t> pollQueuedEvent();

  private:
    void findRoot(int screenNumber);
    Reply<xcb_generic_event_t> skipErrors(xcb_generic_event_t* (*next)(xcb_connection_t*));
    void report(const std::string& message) const;

    xcb_connection_t* connection_ = nullptr;
    bool owned_ = false;
    bool givenUp_ = false;
    xcb_window_t root_ = XCB_NONE;
    int screenNumber_ = 0;
    ErrorReport report_;
};

// Qt's Xlib display; nullptr when Qt does not run on X11.
_XDisplay* qtDisplay();

// Whether a client owns the selection `prefix` followed by the default screen's number, as
// managers of the screen announce themselves (_NET_WM_CM_S0, _NET_SYSTEM_TRAY_S0).
bool screenSelectionHasOwner(const char* prefix);

// The foreground colour that the XEmbed tray announces for its icons
// (_NET_SYSTEM_TRAY_COLORS); nullopt when no tray runs or it announces none.
std::optional<QColor> systemTrayForeground();

// Whether a compositing manager runs on the default screen.
bool hasCompositor();

// Where `window` is, in root-window pixels. Its geometry's position is relative to the window
// manager's frame, so the corner comes from a translation to the root. nullopt when the
// window is unknown to the server.
std::optional<QRect> windowRectOnRoot(xcb_connection_t* connection, xcb_window_t window,
                                      xcb_window_t root);

// The same for a top-level window of ours, after whatever Qt has asked of it so far, since the
// question travels on Qt's own connection.
std::optional<QRect> windowGeometryOnRoot(WId window);

// Asks a compositor that blurs behind windows to blur behind the whole of `window`.
void requestBlurBehind(WId window);

}  // namespace dovetrel::app
