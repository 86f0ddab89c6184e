#include "app/x11/single_instance.h"

#include <poll.h>
#include <xcb/xcb.h>

#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace dovetrel::app {
namespace {

using Clock = std::chrono::steady_clock;

// How long a later start waits for the owner to answer: long enough for a busy main thread.
constexpr auto kAnswerTimeout = std::chrono::seconds(5);
// A later start tries again to claim when the owner ended while it was being asked.
constexpr int kAttempts = 3;

using Event = Reply<xcb_generic_event_t>;

xcb_window_t selectionOwner(xcb_connection_t* connection, xcb_atom_t selection) {
    const Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr));
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

uint8_t typeOf(const xcb_generic_event_t& event) {
    return event.response_type & 0x7f;
}

}  // namespace

Event SingleInstance::waitForEvent(Clock::time_point deadline,
                                   const std::function<bool(const xcb_generic_event_t&)>& wanted) {
    while (xcb_connection_has_error(connection_) == 0) {
        while (Event event{xcb_poll_for_event(connection_)}) {
            if (wanted(*event)) {
                return event;
            }
            if (typeOf(*event) == XCB_SELECTION_REQUEST) {
                answer(*reinterpret_cast<xcb_selection_request_event_t*>(event.get()));
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        // Our request, and the answers given meanwhile, go out before the wait.
        xcb_flush(connection_);
        pollfd readable{xcb_get_file_descriptor(connection_), POLLIN, 0};
        ::poll(&readable, 1, int(left.count()) + 1);
    }
    return nullptr;
}

SingleInstance::SingleInstance() : x_(nullptr) {
    connection_ = x_.get();
    if (connection_ == nullptr) {
        return;
    }
    root_ = x_.root();
    selection_ = x_.atom("_DOVETREL_S" + std::to_string(x_.screenNumber()));
    openSettings_ = x_.atom("_DOVETREL_OPEN_SETTINGS");
    nullType_ = x_.atom("NULL");
    window_ = xcb_generate_id(connection_);
    const uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, root_, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
}

SingleInstance::~SingleInstance() {
    notifier_.reset();
}

std::optional<int> SingleInstance::claimOrHandOver() {
    if (connection_ == nullptr) {
        return std::nullopt;
    }
    bool answered = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (claim()) {
            notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_),
                                                          QSocketNotifier::Read);
            connect(notifier_.get(), &QSocketNotifier::activated, this,
                    &SingleInstance::answerRequests);
            // A request that came with the claim's own replies already sits in xcb's queue,
            // where the notifier never looks.
            answerRequests();
            return std::nullopt;
        }
        if (xcb_connection_has_error(connection_) != 0) {
            // Lost before anything was settled; the main connection decides what happens.
            return std::nullopt;
        }
        answered = askOwnerToOpenSettings();
        if (answered || selectionOwner(connection_, selection_) != XCB_WINDOW_NONE) {
            break;
        }
    }
    if (answered || withdrawRequest()) {
        std::fprintf(stderr,
                     "dovetrel: already running on this display; opened its Settings window\n");
        return EXIT_SUCCESS;
    }
    std::fprintf(stderr, "dovetrel: another Dovetrel holds this display and does not answer\n");
    return EXIT_FAILURE;
}

void SingleInstance::onSettingsRequested(std::function<void()> handler) {
    handler_ = std::move(handler);
}

bool SingleInstance::claim() {
    // A selection is taken with a real server time, never CurrentTime (ICCCM 2.1): a
    // zero-length append to our own window brings one back.
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, window_, selection_, XCB_ATOM_STRING, 8,
                        0, nullptr);
    const Event changed =
        waitForEvent(Clock::now() + kAnswerTimeout, [this](const xcb_generic_event_t& event) {
            return typeOf(event) == XCB_PROPERTY_NOTIFY &&
                   reinterpret_cast<const xcb_property_notify_event_t&>(event).window == window_;
        });
    if (!changed) {
        return false;
    }
    const xcb_timestamp_t time =
        reinterpret_cast<xcb_property_notify_event_t*>(changed.get())->time;
    // Two starts at once must not both find the selection free.
    xcb_grab_server(connection_);
    if (selectionOwner(connection_, selection_) == XCB_WINDOW_NONE) {
        xcb_set_selection_owner(connection_, window_, selection_, time);
    }
    const bool owned = selectionOwner(connection_, selection_) == window_;
    xcb_ungrab_server(connection_);
    if (owned) {
        xcb_client_message_event_t manager{};
        manager.response_type = XCB_CLIENT_MESSAGE;
        manager.format = 32;
        manager.window = root_;
        manager.type = x_.atom("MANAGER");
        manager.data.data32[0] = time;
        manager.data.data32[1] = selection_;
        manager.data.data32[2] = window_;
        xcb_send_event(connection_, 0, root_, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&manager));
    }
    xcb_flush(connection_);
    return owned;
}

bool SingleInstance::askOwnerToOpenSettings() {
    xcb_convert_selection(connection_, window_, selection_, openSettings_, openSettings_,
                          XCB_CURRENT_TIME);
    const Event answer =
        waitForEvent(Clock::now() + kAnswerTimeout, [this](const xcb_generic_event_t& event) {
            return typeOf(event) == XCB_SELECTION_NOTIFY &&
                   reinterpret_cast<const xcb_selection_notify_event_t&>(event).requestor ==
                       window_;
        });
    return answer &&
           reinterpret_cast<xcb_selection_notify_event_t*>(answer.get())->property != XCB_NONE;
}

bool SingleInstance::withdrawRequest() {
    xcb_destroy_window(connection_, window_);
    x_.roundTrip();
    while (const Event event{xcb_poll_for_queued_event(connection_)}) {
        if (typeOf(*event) != XCB_SELECTION_NOTIFY) {
            continue;
        }
        const auto& answer = *reinterpret_cast<xcb_selection_notify_event_t*>(event.get());
        if (answer.requestor == window_ && answer.property != XCB_ATOM_NONE) {
            return true;
        }
    }
    return false;
}

void SingleInstance::answerRequests() {
    while (const Event event{xcb_poll_for_event(connection_)}) {
        if (typeOf(*event) == XCB_SELECTION_REQUEST) {
            answer(*reinterpret_cast<xcb_selection_request_event_t*>(event.get()));
        }
    }
    xcb_flush(connection_);
    if (xcb_connection_has_error(connection_) != 0) {
        // The display is gone; the program ends through its main connection.
        notifier_->setEnabled(false);
    }
}

void SingleInstance::answer(const xcb_selection_request_event_t& request) {
    xcb_selection_notify_event_t answer{};
    answer.response_type = XCB_SELECTION_NOTIFY;
    answer.time = request.time;
    answer.requestor = request.requestor;
    answer.selection = request.selection;
    answer.target = request.target;
    answer.property = XCB_ATOM_NONE;
    // An asker that gave up took its window away, and the server may since have given the
    // window's number to a new client: only a window that tried to take the selection first,
    // as every start does (claim()), is one that asks.
    const Reply<xcb_get_property_reply_t> mark(xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 0, request.requestor, selection_, XCB_ATOM_ANY, 0, 0),
        nullptr));
    const bool opensSettings = request.selection == selection_ && request.target == openSettings_ &&
                               request.property != XCB_ATOM_NONE && mark &&
                               mark->type == XCB_ATOM_STRING;
    if (opensSettings) {
        // A target done for its side effect answers with an empty property of type NULL
        // (ICCCM 2.6.3). The asker may have given up and gone meanwhile.
        x_.ignore(xcb_change_property_checked(connection_, XCB_PROP_MODE_REPLACE, request.requestor,
                                              request.property, nullType_, 32, 0, nullptr));
        answer.property = request.property;
    }
    // An asker that gave up took its window away first: an answer that cannot reach it opens
    // nothing, so an owner that was stopped for a while does not open its Settings for starts
    // long gone.
    const bool delivered =
        !x_.check(xcb_send_event_checked(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                                         reinterpret_cast<const char*>(&answer)));
    if (opensSettings && delivered) {
        // After this answer is on its way: opening a window takes a while. A request answered
        // during the start runs its handler once the event loop, and the handler, are there.
        QTimer::singleShot(0, this, [this] {
            if (handler_) {
                handler_();
            }
        });
    }
}

}  // namespace dovetrel::app
