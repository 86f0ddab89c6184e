#include "app/x11/input/press_matcher.h"

#include <gtest/gtest.h>

namespace dovetrel::app {
namespace {

TEST(PressMatcher, ARawPressWithoutItsGrabbedPartnerRightBehindItWentThroughUngrabbed) {
    PressMatcher matcher;
    EXPECT_EQ(matcher.rawPress(1), std::nullopt);
    EXPECT_EQ(matcher.grabbedPress(), std::nullopt);
    EXPECT_EQ(matcher.otherEvent(), std::nullopt);

    EXPECT_EQ(matcher.rawPress(1), std::nullopt);
    EXPECT_EQ(matcher.rawPress(3), 1);
    EXPECT_EQ(matcher.otherEvent(), 3);
    EXPECT_EQ(matcher.otherEvent(), std::nullopt);

    // A round trip that comes back with nothing behind a press ends the wait; one sent for an
    // earlier press says nothing of a later one.
    matcher.rawPress(2);
    const auto token = matcher.awaited().value();
    EXPECT_EQ(matcher.roundTripReturned(token), 2);
    EXPECT_EQ(matcher.awaited(), std::nullopt);
    matcher.rawPress(8);
    const auto early = matcher.awaited().value();
    matcher.otherEvent();
    matcher.rawPress(9);
    EXPECT_EQ(matcher.roundTripReturned(early), std::nullopt);
    matcher.reset();
    EXPECT_EQ(matcher.otherEvent(), std::nullopt);
}

}  // namespace
}  // namespace dovetrel::app
