// One Dovetrel per X display. The first start owns the selection _DOVETREL_S<screen>, as
// ICCCM managers own theirs; a later start asks the owner to open its Settings window and
// ends. The server drops a selection whose owner's connection closes, so a start right after
// the first one ends, by any means, finds the display free.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/x11/connection.h"

namespace dovetrel::app {

class SingleInstance : public QObject {
  public:
    SingleInstance();
    ~SingleInstance() override;

    // Claims the display for this process and returns nullopt; or, when another Dovetrel
    // holds it, asks that one to open its Settings window, says so in one line on stderr,
    // and returns the status this process should exit with: 0 once the request was answered.
    // A request that was not answered in time is withdrawn, and the owner opens nothing for it.
    // Without a connection of its own to the display it claims nothing and returns nullopt.
    std::optional<int> claimOrHandOver();

    // `handler` runs on the main thread, from the event loop, each time a later start asks.
    void onSettingsRequested(std::function<void()> handler);

  private:
    bool claim();
    bool askOwnerToOpenSettings();
    // Takes back an unanswered request by taking away the window its answer would go to;
    // true when the answer came after all, before the window was gone.
    bool withdrawRequest();
    // The first event that `wanted` accepts; none when nothing fits before `deadline` or the
    // connection fails. Requests for the selection read meanwhile are answered, not dropped.
    Reply<xcb_generic_event_t> waitForEvent(
        std::chrono::steady_clock::time_point deadline,
        const std::function<bool(const xcb_generic_event_t&)>& wanted);
    void answerRequests();
    void answer(const xcb_selection_request_event_t& request);

    XConnection x_;
    xcb_connection_t* connection_ = nullptr;
    uint32_t root_ = 0;
    uint32_t window_ = 0;
    uint32_t selection_ = 0;
    uint32_t openSettings_ = 0;
    uint32_t nullType_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> handler_;
};

}  // namespace dovetrel::app
