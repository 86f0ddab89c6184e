#include "app/x11/input/guard_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xinput.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <array>
#include <string>
#include <utility>

#include "app/qt/logging.h"
#include "app/x11/input/device_maps.h"
#include "app/x11/input/input_model.h"
#include "app/x11/process_hooks.h"

namespace dovetrel::app {
namespace {

// Grabs each button under each mix of the lock-style modifiers: pointer frozen until answered,
// keyboard untouched. Returns the buttons the server refused under some mix (another client,
// a key-binding daemon say, holds that button and mix); the grants stand. A press that
// another client grabbed goes to that client, never to a program under the overlay, so a
// refused mix costs only the guard of that one combination.
std::set<uint8_t> grabButtons(XConnection& connection, const std::vector<uint8_t>& buttons,
                              uint16_t lockStyle) {
    xcb_connection_t* xcb = connection.get();
    if (xcb == nullptr) {
        return {};
    }
    std::vector<std::pair<uint8_t, xcb_void_cookie_t>> cookies;
    for (const uint8_t button : buttons) {
        for (const uint16_t modifiers : grabMixes(lockStyle)) {
            cookies.emplace_back(
                button,
                xcb_grab_button_checked(xcb, 0, connection.root(),
                                        XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE,
                                        XCB_GRAB_MODE_SYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
                                        button, modifiers));
        }
    }
    std::set<uint8_t> refused;
    for (const auto& [button, cookie] : cookies) {
        if (connection.check(cookie)) {
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

void selectRawPresses(XConnection& connection, bool on) {
    if (!connection) {
        return;
    }
    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           on ? uint32_t{XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS} : 0U};
    xcb_input_xi_select_events(connection.get(), connection.root(), 1, &mask.head);
}

}  // namespace

GuardThread::GuardThread(GuardMailbox& mailbox, Callbacks callbacks)
    : mailbox_(mailbox), callbacks_(std::move(callbacks)) {}

std::unique_ptr<GuardThread> GuardThread::start(GuardMailbox& mailbox, Callbacks callbacks) {
    std::unique_ptr<GuardThread> guard(new GuardThread(mailbox, std::move(callbacks)));
    if (!mailbox.isOpen() || !guard->connect()) {
        return nullptr;
    }
    guard->stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (guard->stopFd_ < 0) {
        return nullptr;
    }
    routeStopSignalsTo(guard->stopFd_);
    guard->thread_ = std::thread([raw = guard.get()] { raw->run(); });
    return guard;
}

GuardThread::~GuardThread() {
    if (stopFd_ >= 0) {
        stopRoutingStopSignalsTo(stopFd_);
    }
    if (thread_.joinable()) {
        mailbox_.requestEnd();
        thread_.join();
    }
    if (stopFd_ >= 0) {
        close(stopFd_);
    }
}

bool GuardThread::connect() {
    connection_ = XConnection::toQtServer();
    if (!connection_) {
        return false;
    }
    connection_.reportErrorsTo(
        [this](const std::string& error) { warn(error + " of the click guard"); });
    connection_.markAs("Dovetrel click guard");
    const auto version = connection_.announceXInput({2, 2});
    if (!version || *version < ExtensionVersion{2, 2}) {
        return false;
    }
    xinputOpcode_ = xcb_get_extension_data(connection_.get(), &xcb_input_id)->major_opcode;
    return true;
}

void GuardThread::run() {
    // The terminal's stop signals go to the other threads, whose handler hands them here.
    keepJobControlSignalsAway();
    while (serveRequests()) {
        drainEvents();
        if (!connection_) {
            mailbox_.connectionLost();
            // Nothing here will hand a stop on any more: stop at once.
            stopRoutingStopSignalsTo(stopFd_);
            break;
        }
        std::array<pollfd, 3> sources{{{connection_.fileDescriptor(), POLLIN, 0},
                                       {mailbox_.wakeFd(), POLLIN, 0},
                                       {stopFd_, POLLIN, 0}}};
        poll(sources.data(), sources.size(), -1);
        if ((sources[1].revents & POLLIN) != 0) {
            mailbox_.takeWakeUp();
        }
        uint64_t count = 0;
        if ((sources[2].revents & POLLIN) != 0 &&
            ::read(stopFd_, &count, sizeof count) == sizeof count) {
            stopProcessWithoutGrabs();
        }
    }
    if (mailbox_.isHealthy()) {
        stopGuarding();
    }
    mailbox_.ended();
}

bool GuardThread::serveRequests() {
    const GuardMailbox::Request request = mailbox_.request();
    if (request.wantGrabs && !grabbing_) {
        startGuarding();
    } else if (!request.wantGrabs && grabbing_) {
        stopGuarding();
    }
    mailbox_.served(request.serial);
    return !request.end;
}

void GuardThread::startGuarding() {
    pointerMap_ = readPointerMap(connection_);
    lockStyle_ = lockStyleModifiers(readKeyboardMap(connection_));
    selectRawPresses(connection_, true);
    grabbing_ = true;
    const std::set<uint8_t> refused =
        grabButtons(connection_, guardedButtons(pointerMap_), lockStyle_);
    if (!refused.empty() && refused != refusedReported_) {
        warn("another program holds button " + describeButtons(refused) +
             " on the whole screen; presses it takes go to that program and are not guarded");
    }
    refusedReported_ = refused;
}

// A stopped process cannot answer a press it holds, and the pointer would stay frozen until it
// is continued: let go first, stop, and take the grabs up again afterwards if they are still
// wanted. This thread stops first, so it cannot take them up again before the stop lands.
void GuardThread::stopProcessWithoutGrabs() {
    if (grabbing_) {
        stopGuarding();
        // Presses read before the stop were answered when the grabs went; answered again after
        // it, they would settle a newer press.
        while (connection_.pollQueuedEvent()) {
        }
    }
    stopProcess();
}

void GuardThread::stopGuarding() {
    grabbing_ = false;
    matcher_.reset();
    xcb_connection_t* xcb = connection_.get();
    if (xcb == nullptr) {
        return;
    }
    // Any button and any modifier are safe here: ungrabbing touches only this connection's
    // grabs, whatever the pointer's map was when they were made.
    const auto ungrab =
        xcb_ungrab_button_checked(xcb, XCB_BUTTON_INDEX_ANY, connection_.root(), XCB_MOD_MASK_ANY);
    selectRawPresses(connection_, false);
    // Nothing is judged any more: let through a press caught before the grabs went.
    xcb_allow_events(xcb, XCB_ALLOW_REPLAY_POINTER, XCB_CURRENT_TIME);
    // Waiting for the ungrab waits for all of the above. A connection that cannot let go of
    // the pointer is closed, which does.
    connection_.require(ungrab, "letting go of the pointer buttons");
}

void GuardThread::drainEvents() {
    while (true) {
        while (const auto event = connection_.pollEvent()) {
            handleEvent(*event);
        }
        const auto awaited = matcher_.awaited();
        if (!awaited || !connection_.roundTrip()) {
            return;
        }
        while (const auto event = connection_.pollQueuedEvent()) {
            handleEvent(*event);
        }
        reportUngrabbed(matcher_.roundTripReturned(*awaited));
    }
}

void GuardThread::handleEvent(const xcb_generic_event_t& event) {
    const uint8_t type = event.response_type & 0x7F;
    if (type == XCB_BUTTON_PRESS) {
        matcher_.grabbedPress();
        answerPress(reinterpret_cast<const xcb_button_press_event_t&>(event));
        return;
    }
    const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
    if (type == XCB_GE_GENERIC && generic.extension == xinputOpcode_ &&
        generic.event_type == XCB_INPUT_RAW_BUTTON_PRESS && grabbing_) {
        const auto& raw = reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event);
        const uint8_t button = logicalButton(raw.detail);
        if (!isWheelButton(button)) {
            reportUngrabbed(matcher_.rawPress(button));
            return;
        }
    }
    reportUngrabbed(matcher_.otherEvent());
}

uint8_t GuardThread::logicalButton(uint32_t physical) const {
    // Raw events carry the button before the pointer's button map.
    if (physical >= 1 && physical <= pointerMap_.size()) {
        return pointerMap_[physical - 1];
    }
    return static_cast<uint8_t>(physical);
}

void GuardThread::answerPress(const xcb_button_press_event_t& press) {
    PressVerdict verdict = PressVerdict::pass;
    if (grabbing_ && mailbox_.isJudging()) {
        if (const auto judgement = mailbox_.judgement()) {
            verdict = decidePress(judgement->snapshot,
                                  tapLocation(press.root_x, press.root_y, *judgement),
                                  coreFlags(press.state, lockStyle_));
        }
    }
    // AsyncPointer alone drops the press and its release: the grab lasts until the button goes
    // up. Ungrabbing the pointer instead would leak an orphan release to the client. Either is
    // ignored for a press that did not freeze the pointer.
    if (xcb_connection_t* xcb = connection_.get()) {
        xcb_allow_events(xcb,
                         verdict == PressVerdict::dropAndDismiss ? XCB_ALLOW_ASYNC_POINTER
                                                                 : XCB_ALLOW_REPLAY_POINTER,
                         XCB_CURRENT_TIME);
        xcb_flush(xcb);
    }
    if (verdict != PressVerdict::pass) {
        toMainThread(callbacks_.dismissOverlay);
    }
}

// A press that went through ungrabbed (a counted modifier held, or another client's grab) still
// reaches the core, which takes the overlay down for it.
void GuardThread::reportUngrabbed(std::optional<uint8_t> button) {
    if (!button || !grabbing_ || !mailbox_.isJudging() || !callbacks_.ungrabbedPress) {
        return;
    }
    xcb_connection_t* xcb = connection_.get();
    if (xcb == nullptr) {
        return;
    }
    const Reply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(xcb, xcb_query_pointer(xcb, connection_.root()), nullptr));
    const auto judgement = mailbox_.judgement();
    if (!pointer || !judgement) {
        return;
    }
    const TapEvent event{tapLocation(pointer->root_x, pointer->root_y, *judgement),
                         coreFlags(pointer->mask, lockStyle_)};
    toMainThread([callback = callbacks_.ungrabbedPress, type = pressType(*button), event] {
        callback(type, event);
    });
}

void GuardThread::warn(const std::string& message) const {
    toMainThread([message] { qCWarning(lcGuard, "%s", message.c_str()); });
}

void GuardThread::toMainThread(std::function<void()> block) const {
    if (QCoreApplication* application = QCoreApplication::instance(); application && block) {
        QMetaObject::invokeMethod(application, std::move(block), Qt::QueuedConnection);
    }
}

}  // namespace dovetrel::app
