#include "app/x11/screen_events.h"

#include <sys/uio.h>
#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xcbext.h>

#include <QSocketNotifier>
#include <cstring>

#include "app/qt/logging.h"

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

ScreenEvents::ScreenEvents(std::function<void(WorkspaceNotification)> onWorkspace, QObject* parent)
    : QObject(parent), onWorkspace_(std::move(onWorkspace)), dpmsPowerLevel_(kDpmsModeOn) {
    xcb_connection_t* connection = x_.get();
    if (connection == nullptr) {
        return;
    }
    const uint32_t propertyChanges = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, x_.root(), XCB_CW_EVENT_MASK, &propertyChanges);
    watchScreenSaver(connection);
    watchDpms(connection);
    currentDesktop_ = readCurrentDesktop();
    frontPid_ = readFrontPid();
    xcb_flush(connection);
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection),
                                                  QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
    // Events may already wait in xcb's queue, read while the replies above came in.
    drainLater();
}

ScreenEvents::~ScreenEvents() = default;

bool ScreenEvents::screenIsDark() {
    // Events that come in with the replies below wait in xcb's queue, where the socket notifier
    // does not see them.
    drainLater();
    xcb_connection_t* connection = x_.get();
    if (connection == nullptr) {
        return false;
    }
    if (screenSaverEvent_) {
        const Reply<xcb_screensaver_query_info_reply_t> info(xcb_screensaver_query_info_reply(
            connection, xcb_screensaver_query_info(connection, x_.root()), nullptr));
        if (info && info->state == XCB_SCREENSAVER_STATE_ON) {
            return true;
        }
    }
    if (x_.has(xcb_dpms_id)) {
        const Reply<xcb_dpms_info_reply_t> info(
            xcb_dpms_info_reply(connection, xcb_dpms_info(connection), nullptr));
        if (info && info->state != 0 && info->power_level != kDpmsModeOn) {
            return true;
        }
    }
    return false;
}

void ScreenEvents::watchScreenSaver(xcb_connection_t* connection) {
    if (!x_.has(xcb_screensaver_id)) {
        return;
    }
    xcb_screensaver_select_input(connection, x_.root(), XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
    screenSaverEvent_ = xcb_get_extension_data(connection, &xcb_screensaver_id)->first_event +
                        XCB_SCREENSAVER_NOTIFY;
}

void ScreenEvents::watchDpms(xcb_connection_t* connection) {
    if (!x_.has(xcb_dpms_id)) {
        return;
    }
    const Reply<xcb_dpms_get_version_reply_t> version(
        xcb_dpms_get_version_reply(connection, xcb_dpms_get_version(connection, 1, 2), nullptr));
    if (!version || (version->server_major_version == 1 && version->server_minor_version < 2)) {
        return;
    }
    if (const Reply<xcb_dpms_info_reply_t> info(
            xcb_dpms_info_reply(connection, xcb_dpms_info(connection), nullptr));
        info) {
        dpmsPowerLevel_ = info->power_level;
    }
    selectDpmsInput(connection);
    dpmsOpcode_ = xcb_get_extension_data(connection, &xcb_dpms_id)->major_opcode;
}

std::optional<uint32_t> ScreenEvents::readCurrentDesktop() const {
    const auto values = readProperty(x_, x_.root(), atoms_.currentDesktop, XCB_ATOM_CARDINAL);
    if (!values || values->empty()) {
        return std::nullopt;
    }
    return (*values)[0];
}

std::optional<int32_t> ScreenEvents::readFrontPid() const {
    const auto window = activeWindow(x_, atoms_);
    return window ? windowOwnerPid(x_, atoms_, *window) : std::nullopt;
}

// Whether `event` tells that the screen went dark.
bool ScreenEvents::screenWentDark(const xcb_generic_event_t* event) {
    const uint8_t type = event->response_type & 0x7f;
    if (screenSaverEvent_ && type == *screenSaverEvent_) {
        const auto* notify = reinterpret_cast<const xcb_screensaver_notify_event_t*>(event);
        return notify->state == XCB_SCREENSAVER_STATE_ON;
    }
    if (dpmsOpcode_ && type == XCB_GE_GENERIC) {
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (generic->extension != *dpmsOpcode_ || generic->event_type != kDpmsInfoNotify) {
            return false;
        }
        uint16_t level = 0;
        std::memcpy(&level, reinterpret_cast<const uint8_t*>(event) + kDpmsPowerLevelOffset,
                    sizeof level);
        const bool wentDark = dpmsPowerLevel_ == kDpmsModeOn && level != kDpmsModeOn;
        dpmsPowerLevel_ = level;
        return wentDark;
    }
    return false;
}

// Reads every event that has arrived, then reports each kind of change once. Reading the
// properties may queue further events, so it goes round until none is left.
void ScreenEvents::drain() {
    while (x_) {
        bool desktopTouched = false;
        bool activeTouched = false;
        bool wentDark = false;
        bool any = false;
        while (const auto event = x_.pollEvent()) {
            any = true;
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                const auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
                desktopTouched |= property->atom == atoms_.currentDesktop;
                activeTouched |= property->atom == atoms_.activeWindow;
            } else {
                wentDark |= screenWentDark(event.get());
            }
        }
        if (!any) {
            break;
        }
        if (desktopTouched) {
            // The property may be written again with the same desktop: only a new value is a
            // switch.
            const auto desktop = readCurrentDesktop();
            const bool switched = desktop && currentDesktop_ && *desktop != *currentDesktop_;
            currentDesktop_ = desktop;
            if (switched) {
                onWorkspace_(WorkspaceNotification::activeSpaceDidChange);
            }
        }
        if (activeTouched) {
            // Focus moving between windows of one program is no activation; a window
            // whose owner cannot be told leaves the program in front as it was.
            const auto pid = readFrontPid();
            if (pid && pid != frontPid_) {
                frontPid_ = pid;
                onWorkspace_(WorkspaceNotification::didActivateApplication);
            }
        }
        if (wentDark) {
            onWorkspace_(WorkspaceNotification::screensDidSleep);
        }
    }
    if (!x_ && notifier_) {
        // The server went away; Qt ends the program over its own connection.
        notifier_->setEnabled(false);
    }
}

void ScreenEvents::drainLater() {
    QMetaObject::invokeMethod(
        this, [this] { drain(); }, Qt::QueuedConnection);
}

}  // namespace dovetrel::app
