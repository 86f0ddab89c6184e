#include "app/x11/input/press_matcher.h"

#include <utility>

namespace dovetrel::app {

std::optional<uint8_t> PressMatcher::rawPress(uint8_t button) {
    const auto unmatched = otherEvent();
    awaiting_ = RawPress{button, ++serial_};
    return unmatched;
}

std::optional<uint8_t> PressMatcher::grabbedPress() {
    awaiting_.reset();
    return std::nullopt;
}

std::optional<uint8_t> PressMatcher::otherEvent() {
    if (!awaiting_) {
        return std::nullopt;
    }
    return std::exchange(awaiting_, std::nullopt)->button;
}

std::optional<uint64_t> PressMatcher::awaited() const {
    return awaiting_ ? std::optional(awaiting_->serial) : std::nullopt;
}

std::optional<uint8_t> PressMatcher::roundTripReturned(uint64_t token) {
    return awaited() == token ? otherEvent() : std::nullopt;
}

}  // namespace dovetrel::app
