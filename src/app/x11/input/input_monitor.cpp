#include "app/x11/input/input_monitor.h"

#include <xcb/xinput.h>

#include <QCursor>
#include <QSocketNotifier>
#include <QTimer>
#include <bit>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <optional>

#include "app/qt/logging.h"
#include "app/qt/screen_geometry.h"
#include "app/x11/connection.h"
#include "app/x11/input/device_maps.h"
#include "app/x11/input/input_model.h"
#include "app/x11/process_hooks.h"
#include "app/x11/xlib.h"
#include "core/app_delegate.h"

// Xlib after Qt: its macros (None, Bool, Status) break Qt's headers.
#include <X11/XKBlib.h>

namespace dovetrel::app {
namespace {

// Input after a quiet spell is read at once. After each batch the monitor holds off reading
// for this long, so that a storm of motions is handled in a few large batches rather than one
// wake-up per handful of events. Far below anything a person notices, and far below any idle
// timeout; the overlay only shows after a quiet spell, so what first disturbs it is never held.
constexpr std::chrono::milliseconds kCoalescingWindow{16};

// Bounds one batch so that timers and painting still get their turn in a storm; the rest
// follows in the next batch.
constexpr int kMaxEventsPerBatch = 4096;

template <size_t N>
void setMaskBits(unsigned char (&mask)[N], std::initializer_list<int> events) {
    for (const int event : events) {
        XISetMask(mask, event);
    }
}

}  // namespace

struct X11InputMonitor::State {
    // Xlib reads the events, since it decodes XInput 2 and XKB; the other requests go through
    // the same connection's xcb side.
    Display* display = nullptr;
    XConnection x;
    int inputOpcode = 0;
    int keyboardEventBase = -1;
    uint64_t mask = 0;
    std::function<void(uint32_t)> handler;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer batchDue;
    RawInputTypes types;

    bool gestures = false;
    bool connectionLost = false;
    std::function<void()> onLoss;
    bool devicesChanged = false;
    bool keyboardMapChanged = false;
    bool pointerMapChanged = false;

    // Valid only while one batch is being handed out, so that the handler's reads after a
    // coalesced motion share one round trip.
    std::optional<QPointF> pointerThisBatch;
    bool delivering = false;
    QPointF lastPointer;

    static void lost(Display*, void* self) { static_cast<State*>(self)->connectionLost = true; }

    bool setUp();
    void selectInput(bool on);
    void learnDevices();
    void learnModifierKeys();
    void learnButtonMap();
    void inputArrived();
    void readQueuedSoon();
    void drain();
    void stopAfterLoss();
    uint64_t typesOf(XEvent& event);
    void deliver(uint64_t types);
    QPointF pointer();
    struct PointerState {
        QPointF root;
        unsigned int state = 0;  // modifiers and buttons
    };
    std::optional<PointerState> queryPointer();
};

bool X11InputMonitor::State::setUp() {
    int firstEvent = 0;
    int firstError = 0;
    if (!XQueryExtension(display, "XInputExtension", &inputOpcode, &firstEvent, &firstError)) {
        return false;
    }
    // Asked through Xlib, which decodes the events by the version it was told. 2.2 or later
    // keeps raw events coming while another client holds a grab; 2.4 adds gestures.
    int major = 2;
    int minor = 4;
    if (XIQueryVersion(display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 2)) {
        return false;
    }
    gestures = major > 2 || minor >= 4;

    // Xlib speaks XKB, so the server sends it no core MappingNotify for a modifier map change,
    // and Xlib passes on the XKB notice only when asked for it.
    int keyboardOpcode = 0;
    int keyboardErrorBase = 0;
    int keyboardMajor = XkbMajorVersion;
    int keyboardMinor = XkbMinorVersion;
    if (XkbQueryExtension(display, &keyboardOpcode, &keyboardEventBase, &keyboardErrorBase,
                          &keyboardMajor, &keyboardMinor)) {
        XkbSelectEventDetails(display, XkbUseCoreKbd, XkbMapNotify, XkbModifierMapMask,
                              XkbModifierMapMask);
    }
    unsigned char devices[XIMaskLen(XI_LASTEVENT)] = {};
    setMaskBits(devices, {XI_HierarchyChanged, XI_DeviceChanged});
    XIEventMask deviceSelection{XIAllDevices, sizeof devices, devices};
    XISelectEvents(display, DefaultRootWindow(display), &deviceSelection, 1);
    XSync(display, False);
    return !connectionLost;
}

void X11InputMonitor::State::selectInput(bool on) {
    // Master devices only: a selection for every device would bring each raw event twice,
    // once from the slave that produced it and once from its master. A selection replaces
    // the earlier one for the same devices, so an empty one ends it.
    unsigned char raw[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
        setMaskBits(raw, {XI_RawMotion, XI_RawKeyPress, XI_RawKeyRelease, XI_RawButtonPress,
                          XI_RawButtonRelease});
    }
    XIEventMask rawSelection{XIAllMasterDevices, sizeof raw, raw};
    XISelectEvents(display, DefaultRootWindow(display), &rawSelection, 1);
    XFlush(display);
    if (!on) {
        return;
    }
    // A button pressed before listening began turns motion into a drag all the same.
    std::bitset<RawInputTypes::kIdCount> held;
    if (const auto pointer = queryPointer()) {
        for (const auto& [button, mask] :
             {std::pair{1, Button1Mask}, std::pair{2, Button2Mask}, std::pair{3, Button3Mask}}) {
            held.set(size_t(button), (pointer->state & mask) != 0);
        }
    }
    types.setHeldButtons(held);
    if (!gestures) {
        return;
    }
    // Only one client per device may select gestures on the root (BadAccess for the next), so
    // this one repeats the raw events: when it is refused, the raw-only selection stays in
    // force. The server also wants each gesture's begin, update and end selected together.
    // Sent checked through xcb, after what Xlib holds, so that the refusal is dropped on this
    // request alone rather than through Xlib's process-wide error handler.
    setMaskBits(raw, {XI_GesturePinchBegin, XI_GesturePinchUpdate, XI_GesturePinchEnd,
                      XI_GestureSwipeBegin, XI_GestureSwipeUpdate, XI_GestureSwipeEnd});
    constexpr std::size_t kWords = (sizeof raw + 3) / 4;
    struct {
        xcb_input_event_mask_t head;
        uint32_t bits[kWords];
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, uint16_t(kWords)}, {}};
    std::memcpy(selection.bits, raw, sizeof raw);
    x.ignore(xcb_input_xi_select_events_checked(x.get(), x.root(), 1, &selection.head));
    xcb_flush(x.get());
}

void X11InputMonitor::State::learnDevices() {
    devicesChanged = false;
    types.setScrollValuators(readScrollValuators(x));
}

void X11InputMonitor::State::learnModifierKeys() {
    keyboardMapChanged = false;
    const auto map = readModifierMap(x);
    types.setModifierKeys(map ? modifierKeys(*map) : std::bitset<RawInputTypes::kIdCount>());
}

void X11InputMonitor::State::learnButtonMap() {
    pointerMapChanged = false;
    types.setPointerMap(readPointerMap(x));
}

void X11InputMonitor::State::inputArrived() {
    // The socket stays readable until the batch is read; listening meanwhile would only spin.
    notifier->setEnabled(false);
    if (!batchDue.isActive()) {
        drain();
    }
}

void X11InputMonitor::State::readQueuedSoon() {
    notifier->setEnabled(false);
    if (!batchDue.isActive()) {
        batchDue.start(0);
    }
}

void X11InputMonitor::State::drain() {
    if (connectionLost) {
        stopAfterLoss();
        return;
    }
    uint64_t batch = 0;
    int read = 0;
    for (; read < kMaxEventsPerBatch && XPending(display) > 0; ++read) {
        XEvent event;
        XNextEvent(display, &event);
        batch |= typesOf(event);
    }
    if (devicesChanged) {
        learnDevices();
    }
    if (keyboardMapChanged) {
        learnModifierKeys();
    }
    if (pointerMapChanged) {
        learnButtonMap();
    }
    deliver(batch & mask);
    if (connectionLost) {
        stopAfterLoss();
        return;
    }
    // After a batch, the next is read when the window has passed: at once if input keeps
    // coming, as a storm does. That also covers events that Xlib has already read into its
    // queue (during the handler's round trip, or past the budget), which the socket notifier
    // cannot see.
    if (read > 0 || XEventsQueued(display, QueuedAlready) > 0) {
        batchDue.start(kCoalescingWindow);
    } else {
        notifier->setEnabled(true);
    }
}

void X11InputMonitor::State::stopAfterLoss() {
    // A broken connection stays readable for ever: stop listening to it.
    notifier->setEnabled(false);
    batchDue.stop();
    if (const auto loss = std::exchange(onLoss, nullptr)) {
        loss();
    }
}

uint64_t X11InputMonitor::State::typesOf(XEvent& event) {
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request == MappingPointer) {
            pointerMapChanged = true;
        } else {
            keyboardMapChanged = true;
        }
        return 0;
    }
    if (event.type == keyboardEventBase) {
        XkbAnyEvent notice;
        std::memcpy(&notice, &event, sizeof notice);
        keyboardMapChanged = keyboardMapChanged || notice.xkb_type == XkbMapNotify;
        return 0;
    }
    XGenericEventCookie& cookie = event.xcookie;
    if (cookie.type != GenericEvent || cookie.extension != inputOpcode ||
        !XGetEventData(display, &cookie)) {
        return 0;
    }
    uint64_t found = 0;
    if (cookie.evtype == XI_HierarchyChanged) {
        devicesChanged = true;
    } else if (cookie.evtype == XI_DeviceChanged) {
        // A master switching to another slave is routine; only a device whose own classes
        // changed can have gained or lost scroll axes.
        devicesChanged =
            devicesChanged ||
            static_cast<const XIDeviceChangedEvent*>(cookie.data)->reason == XIDeviceChange;
    } else if (const auto input = rawInputOf(cookie.evtype)) {
        if (*input == RawInput::pinch || *input == RawInput::swipe) {
            found = types.typesOf(*input);
        } else {
            const auto& raw = *static_cast<const XIRawEvent*>(cookie.data);
            found = types.typesOf(*input, raw.detail, raw.sourceid,
                                  {raw.valuators.mask,
                                   static_cast<std::size_t>(std::max(raw.valuators.mask_len, 0))});
        }
    }
    XFreeEventData(display, &cookie);
    return found;
}

void X11InputMonitor::State::deliver(uint64_t batch) {
    if (batch == 0) {
        return;
    }
    pointerThisBatch.reset();
    delivering = true;
    for (; batch != 0; batch &= batch - 1) {
        handler(static_cast<uint32_t>(std::countr_zero(batch)));
    }
    delivering = false;
    pointerThisBatch.reset();
}

// Through Xlib, so that the events its round trip reads wait in Xlib's queue, where drain()
// and pointer() look for them.
std::optional<X11InputMonitor::State::PointerState> X11InputMonitor::State::queryPointer() {
    Window root = None;
    Window child = None;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int state = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &windowX,
                       &windowY, &state)) {
        return std::nullopt;
    }
    return PointerState{QPointF(rootX, rootY), state};
}

QPointF X11InputMonitor::State::pointer() {
    if (pointerThisBatch) {
        return *pointerThisBatch;
    }
    if (connectionLost) {
        return QCursor::pos();
    }
    if (const auto pointer = queryPointer()) {
        lastPointer = rootToGlobal(pointer->root, currentMonitors());
    }
    if (delivering) {
        pointerThisBatch = lastPointer;
    } else if (!connectionLost && XEventsQueued(display, QueuedAlready) > 0) {
        // The round trip read events into Xlib's queue, where the notifier cannot see them.
        // They are handed out later: a question about the pointer must never call back into
        // the core in the middle of whatever asked it.
        readQueuedSoon();
    }
    return lastPointer;
}

X11InputMonitor::X11InputMonitor(uint64_t mask, std::function<void(uint32_t)> handler)
    : mask_(mask), handler_(std::move(handler)) {}

void X11InputMonitor::lost() {
    qCWarning(lcMonitor,
              "lost the input monitor's X connection; the guard stands down until it is back");
    reconnect_.start();
}

void X11InputMonitor::listen(bool on) {
    listening_ = on;
    if (isHealthy()) {
        state_->selectInput(on);
    }
}

X11InputMonitor::~X11InputMonitor() {
    disconnect();
}

void X11InputMonitor::disconnect() {
    if (!state_) {
        return;
    }
    Display* display = state_->display;
    state_->notifier.reset();
    state_->batchDue.stop();
    if (display != nullptr) {
        XCloseDisplay(display);
        forgetSurvivor(display);
    }
    state_.reset();
}

bool X11InputMonitor::connect() {
    disconnect();
    // The same server as Qt's, whatever told Qt which one that is.
    Display* qt = qtDisplay();
    Display* display = XOpenDisplay(qt != nullptr ? DisplayString(qt) : nullptr);
    if (display == nullptr) {
        return false;
    }
    state_ = std::make_unique<State>();
    State& state = *state_;
    state.display = display;
    state.x = XConnection::sharing(display);
    surviveLossOf(display, &State::lost, &state);
    state.mask = mask_;
    state.handler = handler_;
    // Later, from the event loop: the monitor cannot be made anew from inside its own drain.
    state.onLoss = [this] { QTimer::singleShot(0, this, [this] { lost(); }); };
    if (!state.setUp()) {
        disconnect();
        return false;
    }
    state.selectInput(listening_);
    state.x.markAs("Dovetrel input monitor");
    state.learnDevices();
    state.learnModifierKeys();
    state.learnButtonMap();
    state.notifier =
        std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
    state.batchDue.setSingleShot(true);
    state.batchDue.setTimerType(Qt::PreciseTimer);
    QObject::connect(&state.batchDue, &QTimer::timeout, this, [&state] { state.drain(); });
    QObject::connect(state.notifier.get(), &QSocketNotifier::activated, this,
                     [&state] { state.inputArrived(); });
    // Replies during setup may have brought events into Xlib's queue already.
    state.batchDue.start(kCoalescingWindow);
    return true;
}

std::shared_ptr<X11InputMonitor> X11InputMonitor::start(
    uint64_t mask, std::function<void(uint32_t type)> handler) {
    std::shared_ptr<X11InputMonitor> monitor(new X11InputMonitor(mask, std::move(handler)));
    if (!monitor->connect()) {
        monitor->reconnect_.start();
    }
    return monitor;
}

bool X11InputMonitor::isHealthy() const {
    return state_ && !state_->connectionLost;
}

QPointF X11InputMonitor::pointerPosition() {
    return state_ ? state_->pointer() : QPointF(QCursor::pos());
}

}  // namespace dovetrel::app
