// Shared set-up for the core's tests: a simulated desktop and a delegate on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/app_delegate.h"
#include "sim/simulated_platform.h"

namespace dovetrel::testing {

// The titles of a menu's items, "---" for a separator.
inline std::vector<std::string> titles(const Menu& menu) {
    std::vector<std::string> all;
    for (const auto& entry : menu.items()) {
        all.push_back(entry->isSeparator ? "---" : entry->title);
    }
    return all;
}

class CoreTest : public ::testing::Test {
  protected:
    sim::SimulatedPlatform platform;
    std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>(platform);

    void launch() {
        delegate->applicationDidFinishLaunching();
        platform.runMainQueue();
    }
    bool overlayUp() const {
        return delegate->overlayWindow && delegate->overlayWindow->isVisible();
    }
    // Launches and rests until the overlay is up under the pointer at (500, 400).
    void showOverlay() {
        launch();
        platform.advance(3.0);
        ASSERT_TRUE(overlayUp());
    }
    // Moves the pointer, which starts a fresh countdown, and rests until the overlay is up.
    void restAt(Point where) {
        platform.movePointer(where);
        platform.advance(3.0);
        ASSERT_TRUE(overlayUp());
    }
    // Lets a fade-out finish.
    void settle() { platform.advance(0.15); }
    bool idleTimerPending() const { return delegate->idleTimer && delegate->idleTimer->isValid(); }
    // The pointer's spot in tap coordinates, on the 900-point-high primary display.
    Point centre() const { return {platform.pointer.x, 900 - platform.pointer.y}; }
};

}  // namespace dovetrel::testing
