// The thread that holds the button grabs and answers every press they freeze.
//
// The guard in ten lines:
// - Who grabs: this thread alone, on its own connection, when the main thread asks through the
//   mailbox: a passive synchronous grab of each pointer button under each mix of the
//   lock-style modifiers, so a press with Shift, Control, Alt or Super held is never frozen.
// - Who answers: this thread, every frozen press, by the judgement the main thread published
//   last, never waiting for the main thread: replayed, or dropped with its release. Decided
//   presses, and raw presses that went through ungrabbed, are queued to the main thread.
// - Teardown: asked to end, it lets go of the grabs and answers what is frozen; its connection
//   closes after it, which ends whatever grab the server still held for it.
// - Ctrl-Z: the terminal's stop signals come here first: the grabs go, then the process stops.
// - Refusal: a grab another client holds is skipped and said once (its presses are that
//   client's); a lost connection ends the thread, which the program takes as a lost right.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/x11/connection.h"
#include "app/x11/input/guard_mailbox.h"
#include "app/x11/input/press_matcher.h"
#include "core/platform.h"

namespace dovetrel::app {

class GuardThread {
  public:
    struct Callbacks {
        // Both run on the main thread, queued there by the guard thread.
        std::function<void()> dismissOverlay;
        std::function<void(uint32_t type, const TapEvent& event)> ungrabbedPress;
    };

    // Connects and starts the thread. nullptr when there is no server, or it has no XInput 2.2.
    static std::unique_ptr<GuardThread> start(GuardMailbox& mailbox, Callbacks callbacks);
    // Ends the thread, which lets go of the grabs first, and closes its connection.
    ~GuardThread();
    GuardThread(const GuardThread&) = delete;
    GuardThread& operator=(const GuardThread&) = delete;

  private:
    GuardThread(GuardMailbox& mailbox, Callbacks callbacks);
    bool connect();
    void run();
    bool serveRequests();
    void startGuarding();
    void stopGuarding();
    void stopProcessWithoutGrabs();
    void drainEvents();
    void handleEvent(const xcb_generic_event_t& event);
    void answerPress(const xcb_button_press_event_t& press);
    void reportUngrabbed(std::optional<uint8_t> button);
    uint8_t logicalButton(uint32_t physical) const;
    // Only the main thread writes to the terminal: a background job that writes there may be
    // stopped for it, which this thread must never be while it holds the grabs.
    void warn(const std::string& message) const;
    void toMainThread(std::function<void()> block) const;

    GuardMailbox& mailbox_;
    const Callbacks callbacks_;
    XConnection connection_;
    uint8_t xinputOpcode_ = 0;
    int stopFd_ = -1;
    std::thread thread_;

    // The guard thread's alone, once it runs.
    bool grabbing_ = false;
    std::vector<uint8_t> pointerMap_;
    uint16_t lockStyle_ = 0;
    std::set<uint8_t> refusedReported_;
    PressMatcher matcher_;
};

}  // namespace dovetrel::app
