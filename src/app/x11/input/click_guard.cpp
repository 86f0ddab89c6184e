#include "app/x11/input/click_guard.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPointF>
#include <QRect>
#include <QScreen>
#include <QtGlobal>
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/qt/logging.h"
#include "app/qt/screen_geometry.h"
#include "app/x11/connection.h"
#include "app/x11/xlib.h"

// xcb and POSIX after Qt and Xlib, as elsewhere.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

namespace dovetrel::app {
namespace {

// The press types the core's tap knows (the bits of kTapEventMask).
constexpr uint32_t kLeftMouseDown = 1;
constexpr uint32_t kRightMouseDown = 3;
constexpr uint32_t kOtherMouseDown = 25;

// Buttons 4 to 7 are the wheel: a scroll is not a press and is never held.
constexpr uint8_t kFirstWheelButton = 4;
constexpr uint8_t kLastWheelButton = 7;

// The modifier bits whose meaning the keyboard map decides. Shift, Control, Alt (Mod1) and
// Super (Mod4) always count as held modifiers.
constexpr std::array<uint16_t, 4> kMappedModifiers = {XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                      XCB_MOD_MASK_3, XCB_MOD_MASK_5};

// Keys that switch a lock on or off rather than being held with a click.
constexpr std::array<xcb_keysym_t, 4> kLockKeysyms = {
    0xffe5 /* Caps_Lock */, 0xffe6 /* Shift_Lock */, 0xff7f /* Num_Lock */,
    0xff14 /* Scroll_Lock */};

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

// The pointer's button map as the server reports it: map[physical - 1] is the logical button.
// Its length is the number of buttons the core pointer has (10 on Xvfb).
std::vector<uint8_t> readPointerMap(xcb_connection_t* connection) {
    const XcbReply<xcb_get_pointer_mapping_reply_t> reply(
        xcb_get_pointer_mapping_reply(connection, xcb_get_pointer_mapping(connection), nullptr));
    if (!reply) {
        return {};
    }
    const uint8_t* map = xcb_get_pointer_mapping_map(reply.get());
    return {map, map + xcb_get_pointer_mapping_map_length(reply.get())};
}

bool isWheel(uint8_t button) {
    return button >= kFirstWheelButton && button <= kLastWheelButton;
}

// Every logical button the pointer's map can produce, but the wheel, and 1 to 3 whatever the
// map says. No other button can be pressed; the map is read again on each enable, so a mouse
// with more buttons plugged in meanwhile is covered.
std::vector<uint8_t> guardedButtons(const std::vector<uint8_t>& pointerMap) {
    std::set<uint8_t> buttons = {1, 2, 3};
    for (const uint8_t button : pointerMap) {
        if (button != 0 && !isWheel(button)) {
            buttons.insert(button);
        }
    }
    return {buttons.begin(), buttons.end()};
}

// Which of the mapped modifier bits are lock-style: bound to nothing, or only to keys that lock.
// A bit bound to anything else (AltGr's ISO_Level3_Shift, Mode_switch, a Hyper key) is held
// like Alt, so a press with it passes. Read afresh each time the guard goes on, since a
// layout switch can move AltGr to another bit.
uint16_t lockStyleModifiers(xcb_connection_t* connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const auto modifierCookie = xcb_get_modifier_mapping(connection);
    const auto keyboardCookie =
        xcb_get_keyboard_mapping(connection, setup->min_keycode,
                                 static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1));
    const XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(connection, modifierCookie, nullptr));
    const XcbReply<xcb_get_keyboard_mapping_reply_t> keyboard(
        xcb_get_keyboard_mapping_reply(connection, keyboardCookie, nullptr));
    // Without the maps, the usual layout: Caps Lock on Lock, Num Lock on Mod2, AltGr on Mod5.
    if (!modifiers || !keyboard || keyboard->keysyms_per_keycode == 0) {
        return XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2 | XCB_MOD_MASK_3;
    }
    const xcb_keycode_t* bound = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(keyboard.get());
    const int keysymCount = xcb_get_keyboard_mapping_keysyms_length(keyboard.get());
    const int perKeycode = keyboard->keysyms_per_keycode;
    const auto locks = [&](xcb_keycode_t code) {
        const int first = (code - setup->min_keycode) * perKeycode;
        for (int i = first; i >= 0 && i < first + perKeycode && i < keysymCount; ++i) {
            if (keysyms[i] != 0) {
                return std::find(kLockKeysyms.begin(), kLockKeysyms.end(), keysyms[i]) !=
                       kLockKeysyms.end();
            }
        }
        return true;  // a key with no symbol does nothing when held
    };
    uint16_t lockStyle = 0;
    for (const uint16_t bit : kMappedModifiers) {
        const int index = std::countr_zero(bit);
        bool onlyLocks = true;
        for (int k = 0; k < perModifier; ++k) {
            const xcb_keycode_t code = bound[index * perModifier + k];
            onlyLocks = onlyLocks && (code == 0 || locks(code));
        }
        lockStyle |= onlyLocks ? bit : 0;
    }
    return lockStyle;
}

void ungrabAllButtons(xcb_connection_t* connection, xcb_window_t root) {
    // Any button and any modifier are safe here: ungrabbing touches only this connection's
    // grabs, whatever the pointer's map was when they were made.
    xcb_ungrab_button(connection, XCB_BUTTON_INDEX_ANY, root, XCB_MOD_MASK_ANY);
}

// Every mix of the bits in `lockStyle`, none included.
std::vector<uint16_t> mixesOf(uint16_t lockStyle) {
    std::vector<uint16_t> mixes;
    // Counting down through the submasks of lockStyle visits each mix once.
    for (uint16_t mix = lockStyle;; mix = static_cast<uint16_t>((mix - 1) & lockStyle)) {
        mixes.push_back(mix);
        if (mix == 0) {
            return mixes;
        }
    }
}

// Grabs each button under each mix of the lock-style modifiers: pointer frozen until answered,
// keyboard untouched. Returns the buttons the server refused under some mix (another client,
// a key-binding daemon say, holds that button and mix); the grants stand. A press that
// another client grabbed goes to that client, never to a program under the overlay, so a
// refused mix costs only the guard of that one combination.
std::set<uint8_t> grabButtons(xcb_connection_t* connection, xcb_window_t root,
                              const std::vector<uint8_t>& buttons, uint16_t lockStyle) {
    std::vector<std::pair<uint8_t, xcb_void_cookie_t>> cookies;
    for (const uint8_t button : buttons) {
        for (const uint16_t modifiers : mixesOf(lockStyle)) {
            cookies.emplace_back(
                button,
                xcb_grab_button_checked(connection, 0, root,
                                        XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE,
                                        XCB_GRAB_MODE_SYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
                                        button, modifiers));
        }
    }
    std::set<uint8_t> refused;
    for (const auto& [button, cookie] : cookies) {
        if (const XcbReply<xcb_generic_error_t> error{xcb_request_check(connection, cookie)}) {
            refused.insert(button);
        }
    }
    return refused;
}

std::string describeButtons(const std::set<uint8_t>& buttons) {
    std::string text;
    for (const uint8_t button : buttons) {
        text += (text.empty() ? "" : ", ") + std::to_string(button);
    }
    return text;
}

void selectRawPresses(xcb_connection_t* connection, xcb_window_t root, bool on) {
    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           on ? uint32_t{XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS} : 0U};
    xcb_input_xi_select_events(connection, root, 1, &mask.head);
}

// A round trip: every request sent before it has been carried out, and every event the server
// wrote before its reply is in xcb's queue.
bool roundTrip(xcb_connection_t* connection) {
    return XcbReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(
               connection, xcb_get_input_focus(connection), nullptr)) != nullptr;
}

// The core's flags for an X modifier state. A mapped bit that is not lock-style (AltGr) is held
// like Alt.
uint64_t coreFlags(uint16_t state, uint16_t lockStyle) {
    uint64_t flags = 0;
    flags |= (state & XCB_MOD_MASK_SHIFT) != 0 ? kShiftFlag : 0;
    flags |= (state & XCB_MOD_MASK_CONTROL) != 0 ? kControlFlag : 0;
    flags |= (state & XCB_MOD_MASK_1) != 0 ? kOptionFlag : 0;
    flags |= (state & XCB_MOD_MASK_4) != 0 ? kCommandFlag : 0;
    flags |= (state & XCB_MOD_MASK_LOCK & lockStyle) != 0 ? kCapsLockFlag : 0;
    for (const uint16_t bit : kMappedModifiers) {
        flags |= (state & bit & ~lockStyle) != 0 ? kOptionFlag : 0;
    }
    return flags;
}

uint32_t pressType(uint8_t button) {
    switch (button) {
        case 1:
            return kLeftMouseDown;
        case 3:
            return kRightMouseDown;
        default:
            return kOtherMouseDown;
    }
}

// What presses are judged by, as the main thread last published it.
struct Judgement {
    ClickGuardSnapshot snapshot;
    QRect primaryScreen;  // Qt's global coordinates
    std::vector<MonitorArea> monitors;
    // Where the server shows the overlay, in root pixels, while it is up.
    std::optional<QRect> overlayOnScreen;
};

Point tapLocation(int rootX, int rootY, const Judgement& judgement) {
    const ClickGuardSnapshot& snapshot = judgement.snapshot;
    if (snapshot.overlayVisible && judgement.overlayOnScreen &&
        !judgement.overlayOnScreen->isEmpty()) {
        // Judged against the square where it really is: the press, taken at its pixel's
        // centre, lands at the same place in the frame the core gave the overlay. Inside
        // stays inside and outside outside, whatever monitor and scale the square is on.
        const QRectF drawn(*judgement.overlayOnScreen);
        const QRectF frame = toGlobalRect(snapshot.overlayFrame, judgement.primaryScreen);
        const QPointF global(
            frame.x() + (rootX + 0.5 - drawn.x()) * frame.width() / drawn.width(),
            frame.y() + (rootY + 0.5 - drawn.y()) * frame.height() / drawn.height());
        return toTapPoint(global, judgement.primaryScreen);
    }
    return toTapPoint(rootToGlobal(QPointF(rootX, rootY), judgement.monitors),
                      judgement.primaryScreen);
}

// Where a stop signal (Ctrl-Z in the terminal that started us) is sent on, so that the guard
// thread lets go of the pointer before the process stops; -1 with no guard running.
std::atomic<int> stopSignalFd{-1};

void onStopSignal(int) {
    const int fd = stopSignalFd.load();
    if (fd < 0) {
        kill(getpid(), SIGSTOP);
        return;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = write(fd, &one, sizeof one);
}

void catchStopSignals() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : {SIGTSTP, SIGTTIN, SIGTTOU}) {
            sigaction(signal, &action, nullptr);
        }
    });
}

}  // namespace

struct X11ClickGuard::State {
    // A raw press whose grabbed partner, if it has one, has not been seen yet.
    struct RawPress {
        uint8_t button = 0;  // logical
        uint64_t serial = 0;
    };

    EventTapHandlers handlers;
    OverlayGeometry overlayOnScreen;
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_NONE;
    uint8_t xinputOpcode = 0;
    int wakeFd = -1;
    int stopFd = -1;
    std::thread thread;

    // Main thread only.
    bool enabled = false;
    bool invalidated = false;

    // Published by the main thread, read by the guard thread for each press. The mutex is held
    // only for a copy, so the guard thread never waits long on it.
    std::mutex judgementMutex;
    std::optional<Judgement> judgement;
    // Cleared before the grabs go, so that a press caught in between passes.
    std::atomic<bool> judging{false};
    std::atomic<bool> healthy{true};

    // What the main thread asks of the guard thread, and how far it got.
    std::mutex requestMutex;
    std::condition_variable requestServed;
    bool wantGrabs = false;
    bool stopRequested = false;
    uint64_t requestSerial = 0;
    uint64_t servedSerial = 0;
    bool threadEnded = false;

    // Guard thread only.
    bool grabbing = false;
    std::vector<uint8_t> pointerMap;
    uint16_t lockStyle = 0;
    std::set<uint8_t> refusedReported;
    std::optional<RawPress> awaitingPartner;
    uint64_t rawSerial = 0;

    ~State() {
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
        if (wakeFd >= 0) {
            close(wakeFd);
        }
        if (stopFd >= 0) {
            close(stopFd);
        }
    }

    bool connect() {
        // The server Qt talks to, even when it was named on the command line.
        Display* qt = qtDisplay();
        int screenNumber = 0;
        connection = xcb_connect(qt != nullptr ? DisplayString(qt) : nullptr, &screenNumber);
        if (xcb_connection_has_error(connection) != 0) {
            return false;
        }
        auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
            xcb_screen_next(&screens);
        }
        if (screens.rem == 0) {
            return false;
        }
        root = screens.data->root;
        markConnection();
        const auto* xinput = xcb_get_extension_data(connection, &xcb_input_id);
        if (xinput == nullptr || xinput->present == 0) {
            return false;
        }
        xinputOpcode = xinput->major_opcode;
        // From 2.2 on, raw events reach the root window during other clients' grabs.
        const XcbReply<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
            connection, xcb_input_xi_query_version(connection, 2, 2), nullptr));
        return version && (version->major_version > 2 ||
                           (version->major_version == 2 && version->minor_version >= 2));
    }

    // An unmapped window that names this connection. The server ends a client only through a
    // resource it owns, and a connection that owns none cannot be told apart from Qt's in
    // xwininfo or xkill; with it, a session (or a test) can sever the guard alone.
    void markConnection() {
        const xcb_window_t marker = xcb_generate_id(connection);
        xcb_create_window(connection, 0, marker, root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        static constexpr char kName[] = "Dovetrel click guard";
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, marker, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, sizeof kName - 1, kName);
    }

    // Main thread: hands the wanted grab state to the guard thread and waits until it is in
    // place (or refused), which takes one round trip to the server.
    void requestGrabs(bool want) {
        std::unique_lock lock(requestMutex);
        wantGrabs = want;
        const uint64_t serial = ++requestSerial;
        wake();
        requestServed.wait(lock, [&] { return servedSerial >= serial || threadEnded; });
    }

    void stopThread() {
        {
            std::lock_guard lock(requestMutex);
            stopRequested = true;
        }
        wake();
        thread.join();
    }

    void wake() const {
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wakeFd, &one, sizeof one);
    }

    void publish(const ClickGuardSnapshot& snapshot) {
        Judgement fresh{snapshot, primaryScreenGeometry(), currentMonitors(), std::nullopt};
        if (snapshot.overlayVisible && overlayOnScreen) {
            fresh.overlayOnScreen = overlayOnScreen();
        }
        std::lock_guard lock(judgementMutex);
        judgement = fresh;
    }

    // --- guard thread

    void run() {
        while (serveRequests()) {
            drainEvents();
            if (xcb_connection_has_error(connection) != 0) {
                healthy = false;
                break;
            }
            std::array<pollfd, 3> sources{{{xcb_get_file_descriptor(connection), POLLIN, 0},
                                           {wakeFd, POLLIN, 0},
                                           {stopFd, POLLIN, 0}}};
            poll(sources.data(), sources.size(), -1);
            uint64_t count = 0;
            if ((sources[1].revents & POLLIN) != 0) {
                [[maybe_unused]] const auto read = ::read(wakeFd, &count, sizeof count);
            }
            if ((sources[2].revents & POLLIN) != 0 &&
                ::read(stopFd, &count, sizeof count) == sizeof count) {
                stopProcessWithoutGrabs();
            }
        }
        if (healthy) {
            stopGuarding();
        }
        std::lock_guard lock(requestMutex);
        threadEnded = true;
        requestServed.notify_all();
    }

    // Brings the grabs to what the main thread asked for; false when the thread should end.
    bool serveRequests() {
        bool want = false;
        bool stop = false;
        uint64_t serial = 0;
        {
            std::lock_guard lock(requestMutex);
            want = wantGrabs && !stopRequested;
            stop = stopRequested;
            serial = requestSerial;
        }
        if (want && !grabbing) {
            startGuarding();
        } else if (!want && grabbing) {
            stopGuarding();
        }
        std::lock_guard lock(requestMutex);
        servedSerial = serial;
        requestServed.notify_all();
        return !stop;
    }

    void startGuarding() {
        pointerMap = readPointerMap(connection);
        lockStyle = lockStyleModifiers(connection);
        selectRawPresses(connection, root, true);
        grabbing = true;
        const std::set<uint8_t> refused =
            grabButtons(connection, root, guardedButtons(pointerMap), lockStyle);
        if (!refused.empty() && refused != refusedReported) {
            qCWarning(lcGuard,
                      "another program holds button %s on the whole screen; presses "
                      "it takes go to that program and are not guarded",
                      describeButtons(refused).c_str());
        }
        refusedReported = refused;
    }

    // A stopped process cannot answer a press it holds, and the pointer would stay frozen
    // until it is continued: let go first, stop, and take the grabs up again afterwards if
    // they are still wanted.
    void stopProcessWithoutGrabs() {
        if (grabbing) {
            stopGuarding();
        }
        kill(getpid(), SIGSTOP);
    }

    void stopGuarding() {
        grabbing = false;
        awaitingPartner.reset();
        ungrabAllButtons(connection, root);
        selectRawPresses(connection, root, false);
        // Nothing is judged any more: let through a press caught before the grabs went.
        xcb_allow_events(connection, XCB_ALLOW_REPLAY_POINTER, XCB_CURRENT_TIME);
        roundTrip(connection);
    }

    void drainEvents() {
        while (true) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                handleEvent(*event);
                std::free(event);
            }
            if (!awaitingPartner) {
                return;
            }
            // The server writes a grabbed press right behind its raw event. Once a round trip
            // has come back with nothing behind a raw press, that press was not grabbed.
            const uint64_t awaited = awaitingPartner->serial;
            if (!roundTrip(connection)) {
                return;
            }
            while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection)) {
                handleEvent(*event);
                std::free(event);
            }
            if (awaitingPartner && awaitingPartner->serial == awaited) {
                reportUngrabbed(*std::exchange(awaitingPartner, std::nullopt));
            }
        }
    }

    void handleEvent(const xcb_generic_event_t& event) {
        const uint8_t type = event.response_type & 0x7F;
        if (type == XCB_BUTTON_PRESS) {
            // The partner of the raw press just before it, or a press made while a dropped
            // one still holds the pointer (those come without a raw event): judged either way.
            awaitingPartner.reset();
            answerPress(reinterpret_cast<const xcb_button_press_event_t&>(event));
            return;
        }
        // Anything else behind a raw press shows that it had no grabbed partner.
        if (awaitingPartner) {
            reportUngrabbed(*std::exchange(awaitingPartner, std::nullopt));
        }
        if (type == 0) {
            const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
            qCWarning(lcGuard, "X error %u on request %u.%u of the click guard",
                      unsigned{error.error_code}, unsigned{error.major_code},
                      unsigned{error.minor_code});
            return;
        }
        const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
        if (type == XCB_GE_GENERIC && generic.extension == xinputOpcode &&
            generic.event_type == XCB_INPUT_RAW_BUTTON_PRESS && grabbing) {
            const auto& raw = reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event);
            const uint8_t button = logicalButton(raw.detail);
            if (!isWheel(button)) {
                awaitingPartner = RawPress{button, ++rawSerial};
            }
        }
    }

    std::optional<Judgement> currentJudgement() {
        std::lock_guard lock(judgementMutex);
        return judgement;
    }

    uint8_t logicalButton(uint32_t physical) const {
        // Raw events carry the button before the pointer's button map.
        if (physical >= 1 && physical <= pointerMap.size()) {
            return pointerMap[physical - 1];
        }
        return static_cast<uint8_t>(physical);
    }

    void answerPress(const xcb_button_press_event_t& press) {
        PressVerdict verdict = PressVerdict::pass;
        if (grabbing && judging) {
            if (const auto current = currentJudgement()) {
                verdict = decidePress(current->snapshot,
                                      tapLocation(press.root_x, press.root_y, *current),
                                      coreFlags(press.state, lockStyle));
            }
        }
        // AsyncPointer alone drops the press and its release: the grab lasts until the button
        // goes up. Ungrabbing the pointer instead would leak an orphan release to the client.
        // Either is ignored for a press that did not freeze the pointer.
        xcb_allow_events(connection,
                         verdict == PressVerdict::dropAndDismiss ? XCB_ALLOW_ASYNC_POINTER
                                                                 : XCB_ALLOW_REPLAY_POINTER,
                         XCB_CURRENT_TIME);
        xcb_flush(connection);
        if (verdict != PressVerdict::pass) {
            toMainThread(handlers.dismissOverlay);
        }
    }

    // A press that went through ungrabbed (a counted modifier held, or another client's grab)
    // still reaches the core, which takes the overlay down for it.
    void reportUngrabbed(const RawPress& press) {
        if (!grabbing || !judging || !handlers.callback) {
            return;
        }
        const XcbReply<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
        const auto current = currentJudgement();
        if (!pointer || !current) {
            return;
        }
        const TapEvent event{tapLocation(pointer->root_x, pointer->root_y, *current),
                             coreFlags(pointer->mask, lockStyle)};
        toMainThread([callback = handlers.callback, type = pressType(press.button), event] {
            callback(type, event);
        });
    }

    static void toMainThread(std::function<void()> block) {
        if (QCoreApplication* application = QCoreApplication::instance(); application && block) {
            QMetaObject::invokeMethod(application, std::move(block), Qt::QueuedConnection);
        }
    }
};

X11ClickGuard::X11ClickGuard() : state_(std::make_unique<State>()) {}

X11ClickGuard::~X11ClickGuard() {
    invalidate();
}

std::shared_ptr<X11ClickGuard> X11ClickGuard::create(EventTapHandlers handlers,
                                                     OverlayGeometry overlayOnScreen) {
    std::shared_ptr<X11ClickGuard> guard(new X11ClickGuard());
    State& state = *guard->state_;
    state.handlers = std::move(handlers);
    state.overlayOnScreen = std::move(overlayOnScreen);
    if (!state.connect()) {
        return nullptr;
    }
    state.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    state.stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state.wakeFd < 0 || state.stopFd < 0) {
        return nullptr;
    }
    catchStopSignals();
    stopSignalFd = state.stopFd;
    state.thread = std::thread([&state] { state.run(); });
    return guard;
}

void X11ClickGuard::setEnabled(bool enabled) {
    State& state = *state_;
    if (state.invalidated) {
        return;
    }
    state.enabled = enabled;
    if (enabled) {
        refreshSnapshot();
    }
    state.judging = enabled;
    state.requestGrabs(enabled);
}

bool X11ClickGuard::isEnabled() const {
    return state_->enabled;
}

void X11ClickGuard::invalidate() {
    State& state = *state_;
    if (state.invalidated) {
        return;
    }
    state.invalidated = true;
    state.enabled = false;
    state.judging = false;
    int ours = state.stopFd;
    stopSignalFd.compare_exchange_strong(ours, -1);
    if (state.thread.joinable()) {
        state.stopThread();
    }
    // Closing the connection also ends whatever grab the server still holds for it.
    if (state.connection != nullptr) {
        xcb_disconnect(state.connection);
        state.connection = nullptr;
    }
}

void X11ClickGuard::refreshSnapshot() {
    State& state = *state_;
    if (state.invalidated) {
        return;
    }
    if (state.handlers.snapshot) {
        state.publish(state.handlers.snapshot());
    }
}

bool X11ClickGuard::isHealthy() const {
    return !state_->invalidated && state_->healthy;
}

}  // namespace dovetrel::app
