// Retrying something that keeps failing, further apart after each failure.
#pragma once

#include <functional>
#include <limits>

namespace dovetrel {

// How tries spread out after failures, in seconds: the wait after a first failure, how many
// times longer each further failure makes the next wait, and the longest wait.
struct BackoffPolicy {
    double firstDelay;
    double multiplier;
    double longestDelay;
};

// Connecting to the display server anew costs it a client and us a round trip: tries come a
// second apart at most, and after each failed one the next waits twice as long, up to half a
// minute.
inline constexpr BackoffPolicy kReconnectBackoff{1, 2, 30};

class Backoff {
  public:
    // `clock` gives seconds on a clock that never goes back.
    Backoff(BackoffPolicy policy, std::function<double()> clock);

    // Whether a try may be made now: at once before the first failure, else once the wait
    // set by the last failure or success is over.
    bool due() const;
    // A try failed: the next is due after the current wait, and the wait after that is
    // longer by the policy's multiplier, up to its longest.
    void failed();
    // A try succeeded: the wait starts over from the first, and the next try is due after it.
    void succeeded();

  private:
    BackoffPolicy policy_;
    std::function<double()> clock_;
    double delay_;
    double releaseTime_ = -std::numeric_limits<double>::infinity();
};

}  // namespace dovetrel
