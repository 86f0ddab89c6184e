#include "core/backoff.h"

#include <gtest/gtest.h>

#include <vector>

namespace dovetrel::testing {
namespace {

TEST(Backoff, WaitsLongerAfterEachFailureUpToTheLongestAndStartsOverAfterASuccess) {
    const struct {
        BackoffPolicy policy;
        std::vector<double> waits;  // after each of a run of failures, then after a success
    } cases[] = {
        {kReconnectBackoff, {1, 2, 4, 8, 16, 30, 30}},
        {{0.5, 3, 5}, {0.5, 1.5, 4.5, 5}},
    };
    for (const auto& c : cases) {
        double now = 100;
        Backoff backoff(c.policy, [&] { return now; });
        EXPECT_TRUE(backoff.due()) << "nothing has failed yet";
        const auto waitsFor = [&](double wait) {
            now += wait - 0.25;
            const bool early = backoff.due();
            now += 0.25;
            return !early && backoff.due();
        };
        for (const double wait : c.waits) {
            backoff.failed();
            EXPECT_TRUE(waitsFor(wait)) << wait;
        }
        backoff.succeeded();
        EXPECT_TRUE(waitsFor(c.policy.firstDelay));
        backoff.failed();
        EXPECT_TRUE(waitsFor(c.policy.firstDelay)) << "the waits start over";
        backoff.failed();
        EXPECT_TRUE(waitsFor(c.waits[1]));
    }
}

}  // namespace
}  // namespace dovetrel::testing
