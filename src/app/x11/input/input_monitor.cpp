#include "app/x11/input/input_monitor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <bitset>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <optional>

#include "app/qt/logging.h"
#include "app/qt/screen_geometry.h"
#include "app/x11/connection.h"
#include "app/x11/xlib.h"
#include "core/app_delegate.h"

// Like every X header, after Qt's.
#include <X11/XKBlib.h>

namespace dovetrel::app {
namespace {

constexpr uint64_t typeBit(uint32_t type) {
    return uint64_t{1} << type;
}

// Input after a quiet spell is read at once. After each batch the monitor holds off reading
// for this long, so that a storm of motions is handled in a few large batches rather than one
// wake-up per handful of events. Far below anything a person notices, and far below any idle
// timeout; the overlay only shows after a quiet spell, so what first disturbs it is never held.
constexpr std::chrono::milliseconds kCoalescingWindow{16};

// Bounds one batch so that timers and painting still get their turn in a storm; the rest
// follows in the next batch.
constexpr int kMaxEventsPerBatch = 4096;

constexpr size_t kFirstWheelButton = 4;
constexpr size_t kLastWheelButton = 7;

// Keycodes fit in a byte; device ids and button numbers stay far below this in practice, and
// any beyond it are ignored.
constexpr int kIdCount = 256;

// Xlib's I/O error handler is process-wide and its default ends the process, so connections
// that must survive their loss are listed here and spared; the others go on to the handler
// that was in place (Qt's, which ends the program when its own connection breaks).
std::mutex survivingMutex;
std::array<Display*, 8> survivingConnections{};
XIOErrorHandler ioHandlerBeforeOurs = nullptr;

int spareSurvivingConnections(Display* display) {
    XIOErrorHandler previous = nullptr;
    {
        const std::lock_guard lock(survivingMutex);
        for (Display* surviving : survivingConnections) {
            if (surviving == display) {
                return 0;
            }
        }
        previous = ioHandlerBeforeOurs;
    }
    return previous != nullptr ? previous(display) : 0;
}

// Both hooks matter on libX11 1.8: the I/O error handler runs first and the default one exits
// before the per-connection exit handler is ever reached.
void keepLossFromEndingProcess(Display* display, XIOErrorExitHandler onLoss, void* context) {
    {
        const std::lock_guard lock(survivingMutex);
        for (Display*& entry : survivingConnections) {
            if (entry == nullptr) {
                entry = display;
                break;
            }
        }
    }
    static std::once_flag installed;
    std::call_once(installed, [] {
        const XIOErrorHandler previous = XSetIOErrorHandler(spareSurvivingConnections);
        const std::lock_guard lock(survivingMutex);
        ioHandlerBeforeOurs = previous;
    });
    XSetIOErrorExitHandler(display, onLoss, context);
}

void forgetSurvivingConnection(Display* display) {
    const std::lock_guard lock(survivingMutex);
    for (Display*& entry : survivingConnections) {
        if (entry == display) {
            entry = nullptr;
        }
    }
}

// Silences the protocol errors of one connection while it lives, around requests that may
// legitimately fail; errors on other connections go on to the handler that was in place.
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* display) : display_(display) {
        XSync(display_, False);
        trappedDisplay = display_;
        handlerBeforeTrap = XSetErrorHandler(ignore);
    }

    ~ErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(handlerBeforeTrap);
        trappedDisplay = nullptr;
    }

    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

  private:
    static int ignore(Display* display, XErrorEvent* error) {
        if (display == trappedDisplay) {
            return 0;
        }
        const XErrorHandler previous = handlerBeforeTrap;
        return previous != nullptr ? previous(display, error) : 0;
    }

    static inline std::atomic<Display*> trappedDisplay{nullptr};
    static inline std::atomic<XErrorHandler> handlerBeforeTrap{nullptr};

    Display* display_;
};

template <size_t N>
void setMaskBits(unsigned char (&mask)[N], std::initializer_list<int> events) {
    for (const int event : events) {
        XISetMask(mask, event);
    }
}

QPointF toQtGlobal(int rootX, int rootY) {
    return rootToGlobal(QPointF(rootX, rootY), currentMonitors());
}

}  // namespace

struct X11InputMonitor::State {
    Display* display = nullptr;
    int inputOpcode = 0;
    int keyboardEventBase = -1;
    uint64_t mask = 0;
    std::function<void(uint32_t)> handler;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer batchDue;

    bool connectionLost = false;
    bool lossReported = false;
    bool devicesChanged = false;
    bool keyboardMapChanged = false;
    bool pointerMapChanged = false;

    // Valid only while one batch is being handed out, so that the handler's reads after a
    // coalesced motion share one round trip.
    std::optional<QPointF> pointerThisBatch;
    bool delivering = false;
    QPointF lastPointer;

    // Raw events carry physical buttons; the user's mapping (a left-handed mouse, a wheel moved
    // to other buttons) says which logical button each one is.
    std::array<uint8_t, kIdCount> logicalButtons{};
    std::bitset<kIdCount> heldButtons;
    std::bitset<kIdCount> modifierKeys;
    // By device id: bit n set when valuator n is a smooth-scroll axis.
    std::array<uint64_t, kIdCount> scrollValuators{};

    static void lost(Display*, void* self) { static_cast<State*>(self)->connectionLost = true; }

    bool selectEvents();
    void markConnection();
    void learnScrollValuators();
    void learnModifierKeys();
    void learnButtonMap();
    void inputArrived();
    void readQueuedSoon();
    void drain();
    void stopAfterLoss();
    uint64_t typesOf(XEvent& event);
    uint64_t typesOfRawEvent(int evtype, const XIRawEvent& raw);
    uint64_t typesOfRawMotion(const XIRawEvent& raw) const;
    uint32_t movementType() const;
    void deliver(uint64_t types);
    QPointF pointer();
};

bool X11InputMonitor::State::selectEvents() {
    int firstEvent = 0;
    int firstError = 0;
    if (!XQueryExtension(display, "XInputExtension", &inputOpcode, &firstEvent, &firstError)) {
        return false;
    }
    // 2.2 or later keeps raw events coming while another client holds a grab; 2.4 adds gestures.
    int major = 2;
    int minor = 4;
    if (XIQueryVersion(display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 2)) {
        return false;
    }
    const Window root = DefaultRootWindow(display);

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

    // Master devices only: a selection for every device would bring each raw event twice,
    // once from the slave that produced it and once from its master.
    unsigned char raw[XIMaskLen(XI_LASTEVENT)] = {};
    setMaskBits(raw, {XI_RawMotion, XI_RawKeyPress, XI_RawKeyRelease, XI_RawButtonPress,
                      XI_RawButtonRelease});
    XIEventMask rawSelection{XIAllMasterDevices, sizeof raw, raw};
    XISelectEvents(display, root, &rawSelection, 1);

    unsigned char devices[XIMaskLen(XI_LASTEVENT)] = {};
    setMaskBits(devices, {XI_HierarchyChanged, XI_DeviceChanged});
    XIEventMask deviceSelection{XIAllDevices, sizeof devices, devices};
    XISelectEvents(display, root, &deviceSelection, 1);

    if (major > 2 || minor >= 4) {
        // Only one client per device may select gestures on the root (BadAccess for the next),
        // and a selection replaces the earlier one for the same device, so this one repeats
        // the raw events: when it is refused, the raw-only selection stays in force. The
        // server also wants each gesture's begin, update and end selected together.
        unsigned char withGestures[XIMaskLen(XI_LASTEVENT)] = {};
        std::copy(std::begin(raw), std::end(raw), std::begin(withGestures));
        setMaskBits(withGestures,
                    {XI_GesturePinchBegin, XI_GesturePinchUpdate, XI_GesturePinchEnd,
                     XI_GestureSwipeBegin, XI_GestureSwipeUpdate, XI_GestureSwipeEnd});
        XIEventMask gestureSelection{XIAllMasterDevices, sizeof withGestures, withGestures};
        const ErrorTrap refusalIsExpected(display);
        XISelectEvents(display, root, &gestureSelection, 1);
    }
    XSync(display, False);
    return !connectionLost;
}

// An unmapped window that names this connection: the server ends a client only through a
// resource it owns, so with it a session (or a test) can sever the monitor alone.
void X11InputMonitor::State::markConnection() {
    XSetWindowAttributes attributes{};
    const Window marker = XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0,
                                        InputOnly, CopyFromParent, 0, &attributes);
    XStoreName(display, marker, "Dovetrel input monitor");
    XFlush(display);
}

void X11InputMonitor::State::learnScrollValuators() {
    devicesChanged = false;
    // A device that went away took the releases of its held buttons with it.
    heldButtons.reset();
    scrollValuators.fill(0);
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int i = 0; devices != nullptr && i < count; ++i) {
        const XIDeviceInfo& device = devices[i];
        if (device.deviceid < 0 || device.deviceid >= kIdCount) {
            continue;
        }
        for (int c = 0; c < device.num_classes; ++c) {
            if (device.classes[c]->type != XIScrollClass) {
                continue;
            }
            const int number =
                reinterpret_cast<const XIScrollClassInfo*>(device.classes[c])->number;
            if (number >= 0 && number < 64) {
                scrollValuators[static_cast<size_t>(device.deviceid)] |= uint64_t{1} << number;
            }
        }
    }
    if (devices != nullptr) {
        XIFreeDeviceInfo(devices);
    }
}

void X11InputMonitor::State::learnModifierKeys() {
    keyboardMapChanged = false;
    modifierKeys.reset();
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) {
        return;
    }
    for (int i = 0; i < 8 * map->max_keypermod; ++i) {
        if (const KeyCode code = map->modifiermap[i]; code != 0) {
            modifierKeys.set(code);
        }
    }
    XFreeModifiermap(map);
}

void X11InputMonitor::State::learnButtonMap() {
    pointerMapChanged = false;
    // A release under the new map could name another button than its press did.
    heldButtons.reset();
    for (size_t button = 0; button < logicalButtons.size(); ++button) {
        logicalButtons[button] = static_cast<uint8_t>(button);
    }
    unsigned char map[kIdCount - 1] = {};
    const int count = XGetPointerMapping(display, map, static_cast<int>(sizeof map));
    for (int i = 0; i < count && i < static_cast<int>(sizeof map); ++i) {
        logicalButtons[static_cast<size_t>(i) + 1] = map[i];
    }
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
    uint64_t types = 0;
    int read = 0;
    for (; read < kMaxEventsPerBatch && XPending(display) > 0; ++read) {
        XEvent event;
        XNextEvent(display, &event);
        types |= typesOf(event);
    }
    if (devicesChanged) {
        learnScrollValuators();
    }
    if (keyboardMapChanged) {
        learnModifierKeys();
    }
    if (pointerMapChanged) {
        learnButtonMap();
    }
    deliver(types & mask);
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
    if (!lossReported) {
        lossReported = true;
        qCWarning(lcMonitor,
                  "lost the input monitor's X connection; the guard stands down until it is back");
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
    uint64_t types = 0;
    switch (cookie.evtype) {
        case XI_RawMotion:
        case XI_RawButtonPress:
        case XI_RawButtonRelease:
        case XI_RawKeyPress:
        case XI_RawKeyRelease:
            types = typesOfRawEvent(cookie.evtype, *static_cast<const XIRawEvent*>(cookie.data));
            break;
        // The core's own names for the two gestures: a pinch magnifies, a swipe swipes.
        case XI_GesturePinchBegin:
        case XI_GesturePinchUpdate:
        case XI_GesturePinchEnd:
            types = typeBit(eventtype::kMagnify);
            break;
        case XI_GestureSwipeBegin:
        case XI_GestureSwipeUpdate:
        case XI_GestureSwipeEnd:
            types = typeBit(eventtype::kSwipe);
            break;
        case XI_HierarchyChanged:
            devicesChanged = true;
            break;
        case XI_DeviceChanged:
            // A master switching to another slave is routine; only a device whose own classes
            // changed can have gained or lost scroll axes.
            devicesChanged =
                devicesChanged ||
                static_cast<const XIDeviceChangedEvent*>(cookie.data)->reason == XIDeviceChange;
            break;
        default:
            break;
    }
    XFreeEventData(display, &cookie);
    return types;
}

uint64_t X11InputMonitor::State::typesOfRawEvent(int evtype, const XIRawEvent& raw) {
    const bool knownId = raw.detail >= 0 && raw.detail < kIdCount;
    const auto detail = static_cast<size_t>(knownId ? raw.detail : 0);
    switch (evtype) {
        case XI_RawMotion:
            return typesOfRawMotion(raw);
        case XI_RawButtonPress:
        case XI_RawButtonRelease: {
            const size_t button = logicalButtons[detail];
            if (!knownId || button == 0) {
                return 0;
            }
            if (button >= kFirstWheelButton && button <= kLastWheelButton) {
                return evtype == XI_RawButtonPress ? typeBit(eventtype::kScrollWheel) : 0;
            }
            // Other presses are the click guard's; here they only turn motion into a drag.
            heldButtons.set(button, evtype == XI_RawButtonPress);
            return 0;
        }
        case XI_RawKeyPress:
            return typeBit(knownId && modifierKeys.test(detail) ? eventtype::kFlagsChanged
                                                                : eventtype::kKeyDown);
        case XI_RawKeyRelease:
            return knownId && modifierKeys.test(detail) ? typeBit(eventtype::kFlagsChanged) : 0;
        default:
            return 0;
    }
}

uint64_t X11InputMonitor::State::typesOfRawMotion(const XIRawEvent& raw) const {
    const uint64_t scroll = raw.sourceid >= 0 && raw.sourceid < kIdCount
                                ? scrollValuators[static_cast<size_t>(raw.sourceid)]
                                : 0;
    bool moved = scroll == 0;
    bool scrolled = false;
    // Raw valuators keep the numbering of the slave that produced them (the source device).
    for (int byte = 0; scroll != 0 && byte < raw.valuators.mask_len; ++byte) {
        for (unsigned bits = raw.valuators.mask[byte]; bits != 0; bits &= bits - 1) {
            const int number = byte * 8 + std::countr_zero(bits);
            if (number < 64 && ((scroll >> number) & 1) != 0) {
                scrolled = true;
            } else {
                moved = true;
            }
        }
    }
    uint64_t types = scrolled ? typeBit(eventtype::kScrollWheel) : 0;
    if (moved || !scrolled) {
        types |= typeBit(movementType());
    }
    return types;
}

uint32_t X11InputMonitor::State::movementType() const {
    if (heldButtons.none()) {
        return eventtype::kMouseMoved;
    }
    if (heldButtons.test(1)) {
        return eventtype::kLeftMouseDragged;
    }
    if (heldButtons.test(3)) {
        return eventtype::kRightMouseDragged;
    }
    return eventtype::kOtherMouseDragged;
}

void X11InputMonitor::State::deliver(uint64_t types) {
    if (types == 0) {
        return;
    }
    pointerThisBatch.reset();
    delivering = true;
    for (; types != 0; types &= types - 1) {
        handler(static_cast<uint32_t>(std::countr_zero(types)));
    }
    delivering = false;
    pointerThisBatch.reset();
}

QPointF X11InputMonitor::State::pointer() {
    if (pointerThisBatch) {
        return *pointerThisBatch;
    }
    if (connectionLost) {
        return QCursor::pos();
    }
    Window root = None;
    Window child = None;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int modifiers = 0;
    if (XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &windowX,
                      &windowY, &modifiers)) {
        lastPointer = toQtGlobal(rootX, rootY);
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
        forgetSurvivingConnection(display);
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
    keepLossFromEndingProcess(display, &State::lost, &state);
    state.mask = mask_;
    state.handler = handler_;
    if (!state.selectEvents()) {
        disconnect();
        return false;
    }
    state.markConnection();
    state.learnScrollValuators();
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
    monitor->connect();
    return monitor;
}

bool X11InputMonitor::isHealthy() const {
    return state_ && !state_->connectionLost;
}

bool X11InputMonitor::reconnect() {
    return isHealthy() || connect();
}

QPointF X11InputMonitor::pointerPosition() {
    return state_ ? state_->pointer() : QPointF(QCursor::pos());
}

}  // namespace dovetrel::app
