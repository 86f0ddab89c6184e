// Which raw presses went through without a grab. On one connection the server writes a
// grabbed press right behind its raw event; a raw press followed by anything else, or by
// nothing once a round trip has come back, reached its client ungrabbed (a counted modifier was
// held, or another client's grab took it) and is told to the core as a press it did not hold.
#pragma once

#include <cstdint>
#include <optional>

namespace dovetrel::app {

class PressMatcher {
  public:
    // Each returns the logical button of a raw press that the event shows was not grabbed.
    // A raw press of a pointer button (not the wheel) while the grabs are in place:
    std::optional<uint8_t> rawPress(uint8_t button);
    // The grabbed partner of the raw press before it, or a press made while a dropped one still
    // holds the pointer (those come without a raw event):
    std::optional<uint8_t> grabbedPress();
    // Anything else on the connection:
    std::optional<uint8_t> otherEvent();

    // The raw press still waiting for its partner, as a token to hand to roundTripReturned();
    // nullopt when none waits.
    std::optional<uint64_t> awaited() const;
    // A round trip sent while `token` was awaited came back with everything before it read.
    std::optional<uint8_t> roundTripReturned(uint64_t token);

    // The grabs went: nothing is waiting any more.
    void reset() { awaiting_.reset(); }

  private:
    struct RawPress {
        uint8_t button = 0;
        uint64_t serial = 0;
    };
    std::optional<RawPress> awaiting_;
    uint64_t serial_ = 0;
};

}  // namespace dovetrel::app
