#include "app/desktop_notifications.h"

#include <sys/uio.h>
#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xcbext.h>

#include <QSocketNotifier>
#include <cstdlib>
#include <cstring>

#include "app/dbus/logind.h"
#include "app/dbus/screen_savers.h"
#include "app/x11/ewmh.h"

namespace dovetrel::app {
namespace {

// Servers with DPMS 1.2 report power-level changes, but xcb 1.15 has no request for them.
constexpr uint8_t kDpmsSelectInput = 8;
constexpr uint32_t kDpmsInfoNotifyMask = 1;
constexpr uint16_t kDpmsInfoNotify = 0;
constexpr uint16_t kDpmsModeOn = 0;
// In the 32-byte DPMSInfoNotify event, after the generic-event header and a timestamp.
constexpr std::size_t kDpmsPowerLevelOffset = 16;

void selectDpmsInput(xcb_connection_t* connection) {
    struct {
        uint8_t majorOpcode;
        uint8_t minorOpcode;
        uint16_t length;
        uint32_t eventMask;
    } request{0, 0, 0, kDpmsInfoNotifyMask};
    // As xcb's generated requests do: two spare slots before the parts for xcb's own use.
    iovec parts[3] = {};
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    xcb_protocol_request_t protocol{1, &xcb_dpms_id, kDpmsSelectInput, 1};
    xcb_send_request(connection, 0, parts + 2, &protocol);
}

}  // namespace

struct DesktopNotifications::State {
    std::function<void(WorkspaceNotification)> onWorkspace;
    ScreenSavers* screenSavers = nullptr;
    Logind* logind = nullptr;
    XcbConnection x;
    EwmhAtoms atoms{x.get()};
    std::unique_ptr<QSocketNotifier> notifier;
    std::optional<uint32_t> currentDesktop;
    std::optional<int32_t> frontPid;
    std::optional<uint8_t> screenSaverEvent;
    std::optional<uint8_t> dpmsOpcode;
    uint16_t dpmsPowerLevel = kDpmsModeOn;

    std::optional<uint32_t> readCurrentDesktop() const {
        const auto values =
            readProperty(x.get(), x.root(), atoms.currentDesktop, XCB_ATOM_CARDINAL);
        if (!values || values->empty()) {
            return std::nullopt;
        }
        return (*values)[0];
    }

    std::optional<int32_t> readFrontPid() const {
        const auto window = activeWindow(x, atoms);
        return window ? windowOwnerPid(x, atoms, *window) : std::nullopt;
    }

    void watchScreenSaver(xcb_connection_t* connection) {
        if (!x.has(xcb_screensaver_id)) {
            return;
        }
        xcb_screensaver_select_input(connection, x.root(), XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
        screenSaverEvent = xcb_get_extension_data(connection, &xcb_screensaver_id)->first_event +
                           XCB_SCREENSAVER_NOTIFY;
    }

    void watchDpms(xcb_connection_t* connection) {
        if (!x.has(xcb_dpms_id)) {
            return;
        }
        const ReplyPtr<xcb_dpms_get_version_reply_t> version(xcb_dpms_get_version_reply(
            connection, xcb_dpms_get_version(connection, 1, 2), nullptr));
        if (!version || (version->server_major_version == 1 && version->server_minor_version < 2)) {
            return;
        }
        if (const ReplyPtr<xcb_dpms_info_reply_t> info(
                xcb_dpms_info_reply(connection, xcb_dpms_info(connection), nullptr));
            info) {
            dpmsPowerLevel = info->power_level;
        }
        selectDpmsInput(connection);
        dpmsOpcode = xcb_get_extension_data(connection, &xcb_dpms_id)->major_opcode;
    }

    // Whether the X screen saver or DPMS has the screen dark now.
    bool screenIsDark() const {
        xcb_connection_t* connection = x.get();
        if (connection == nullptr) {
            return false;
        }
        if (screenSaverEvent) {
            const ReplyPtr<xcb_screensaver_query_info_reply_t> info(
                xcb_screensaver_query_info_reply(
                    connection, xcb_screensaver_query_info(connection, x.root()), nullptr));
            if (info && info->state == XCB_SCREENSAVER_STATE_ON) {
                return true;
            }
        }
        if (x.has(xcb_dpms_id)) {
            const ReplyPtr<xcb_dpms_info_reply_t> info(
                xcb_dpms_info_reply(connection, xcb_dpms_info(connection), nullptr));
            if (info && info->state != 0 && info->power_level != kDpmsModeOn) {
                return true;
            }
        }
        return false;
    }

    // Whether `event` tells that the screen went dark.
    bool screenWentDark(const xcb_generic_event_t* event) {
        const uint8_t type = event->response_type & 0x7f;
        if (screenSaverEvent && type == *screenSaverEvent) {
            const auto* notify = reinterpret_cast<const xcb_screensaver_notify_event_t*>(event);
            return notify->state == XCB_SCREENSAVER_STATE_ON;
        }
        if (dpmsOpcode && type == XCB_GE_GENERIC) {
            const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
            if (generic->extension != *dpmsOpcode || generic->event_type != kDpmsInfoNotify) {
                return false;
            }
            uint16_t level = 0;
            std::memcpy(&level, reinterpret_cast<const uint8_t*>(event) + kDpmsPowerLevelOffset,
                        sizeof level);
            const bool wentDark = dpmsPowerLevel == kDpmsModeOn && level != kDpmsModeOn;
            dpmsPowerLevel = level;
            return wentDark;
        }
        return false;
    }

    // Reads every event that has arrived, then reports each kind of change once. Reading the
    // properties may queue further events, so it goes round until none is left.
    void drain() {
        xcb_connection_t* connection = x.get();
        while (connection != nullptr) {
            bool desktopTouched = false;
            bool activeTouched = false;
            bool wentDark = false;
            bool any = false;
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                any = true;
                if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                    const auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
                    desktopTouched |= property->atom == atoms.currentDesktop;
                    activeTouched |= property->atom == atoms.activeWindow;
                } else {
                    wentDark |= screenWentDark(event);
                }
                std::free(event);
            }
            if (!any) {
                break;
            }
            if (desktopTouched) {
                // The property may be written again with the same desktop: only a new value is a
                // switch.
                const auto desktop = readCurrentDesktop();
                const bool switched = desktop && currentDesktop && *desktop != *currentDesktop;
                currentDesktop = desktop;
                if (switched) {
                    onWorkspace(WorkspaceNotification::activeSpaceDidChange);
                }
            }
            if (activeTouched) {
                // Focus moving between windows of one program is no activation; a window
                // whose owner cannot be told leaves the program in front as it was.
                const auto pid = readFrontPid();
                if (pid && pid != frontPid) {
                    frontPid = pid;
                    onWorkspace(WorkspaceNotification::didActivateApplication);
                }
            }
            if (wentDark) {
                onWorkspace(WorkspaceNotification::screensDidSleep);
            }
            connection = x.get();
        }
        if (x.get() == nullptr && notifier) {
            // The server went away; Qt ends the program over its own connection.
            notifier->setEnabled(false);
        }
    }
};

DesktopNotifications::DesktopNotifications(std::function<void(WorkspaceNotification)> onWorkspace,
                                           std::function<void()> onScreenLocked)
    : state_(std::make_unique<State>()) {
    state_->onWorkspace = onWorkspace;
    state_->screenSavers = new ScreenSavers(onScreenLocked, this);
    state_->logind = new Logind(std::move(onWorkspace), std::move(onScreenLocked), this);

    xcb_connection_t* connection = state_->x.get();
    if (connection == nullptr) {
        return;
    }
    const uint32_t propertyChanges = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, state_->x.root(), XCB_CW_EVENT_MASK, &propertyChanges);
    state_->watchScreenSaver(connection);
    state_->watchDpms(connection);
    state_->currentDesktop = state_->readCurrentDesktop();
    state_->frontPid = state_->readFrontPid();
    xcb_flush(connection);
    state_->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection),
                                                         QSocketNotifier::Read);
    QObject::connect(state_->notifier.get(), &QSocketNotifier::activated, this,
                     [this] { state_->drain(); });
    // Events may already wait in xcb's queue, read while the replies above came in.
    QMetaObject::invokeMethod(
        this, [this] { state_->drain(); }, Qt::QueuedConnection);
}

DesktopNotifications::~DesktopNotifications() = default;

bool DesktopNotifications::isScreenLockedOrBlanked() {
    if (state_->screenSavers->lockedOrBlanked() || state_->logind->locked()) {
        return true;
    }
    const bool dark = state_->screenIsDark();
    // Events that came in with the replies wait in xcb's queue, where the socket notifier
    // does not see them.
    QMetaObject::invokeMethod(
        this, [this] { state_->drain(); }, Qt::QueuedConnection);
    return dark;
}

}  // namespace dovetrel::app
