// Shared set-up for the core's tests: a simulated desktop and a delegate on it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/app_delegate.h"
#include "sim/simulated_platform.h"

namespace dovetrel::testing {

class CoreTest : public ::testing::Test {
  protected:
    sim::SimulatedPlatform platform;
    std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>(platform);

    void launch() {
        delegate->applicationDidFinishLaunching();
        platform.runMainQueue();
    }

    // The recorded calls that start with one of `prefixes`, in order.
    std::vector<std::string> callsStartingWith(const std::vector<std::string>& prefixes) const {
        std::vector<std::string> matching;
        for (const auto& call : platform.calls) {
            if (std::any_of(prefixes.begin(), prefixes.end(),
                            [&](const auto& prefix) { return call.rfind(prefix, 0) == 0; })) {
                matching.push_back(call);
            }
        }
        return matching;
    }
};

}  // namespace dovetrel::testing
