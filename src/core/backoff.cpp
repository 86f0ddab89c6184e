#include "core/backoff.h"

#include <algorithm>
#include <utility>

namespace dovetrel {

Backoff::Backoff(BackoffPolicy policy, std::function<double()> clock)
    : policy_(policy), clock_(std::move(clock)), delay_(policy.firstDelay) {}

bool Backoff::due() const {
    return clock_() >= releaseTime_;
}

void Backoff::failed() {
    releaseTime_ = clock_() + delay_;
    delay_ = std::min(delay_ * policy_.multiplier, policy_.longestDelay);
}

void Backoff::succeeded() {
    delay_ = policy_.firstDelay;
    releaseTime_ = clock_() + policy_.firstDelay;
}

}  // namespace dovetrel
