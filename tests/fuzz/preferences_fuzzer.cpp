// Preferences as a hand-edited settings file could hold them: each line of the input is the
// stored text of one key, in the order of `keys` (keys past the last line are absent). Reads
// never crash and keep the core's promises: a timeout and a size that are finite and above
// zero, a usable value taken as it is, the idle countdown within its bounds, a square between
// its least side and the screen's, sliders on their grids; and Reset mends everything.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "core/settings_model.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace dovetrel;
    using namespace dovetrel::fuzz;
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::SimulatedPlatform platform;
    const std::string_view keys[] = {prefkey::kIdleTimeout, prefkey::kZoneSize, prefkey::kIsEnabled,
                                     prefkey::kLaunchAtLogin, prefkey::kLastGrantedBuild};
    for (std::size_t key = 0, start = 0; key < std::size(keys) && start <= text.size(); ++key) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        platform.store.editByHand(keys[key], text.substr(start, end - start));
        start = end + 1;
    }

    SettingsModel model(platform);
    for (const auto& [read, key] :
         {std::pair{model.idleTimeout(), keys[0]}, std::pair{model.zoneSize(), keys[1]}}) {
        require(std::isfinite(read) && read > 0, "a timeout or size is finite and above zero");
        const auto stored = parseDouble(platform.store.value(key).value_or(""));
        require(!stored || !std::isfinite(*stored) || *stored <= 0 || *stored == read,
                "a usable value is taken as it is");
        require(parseDouble(formatDouble(read)) == read, "a value read is written back unchanged");
    }
    for (const auto& [grid, value] :
         {std::pair{kTimeoutGrid, model.idleTimeout()}, std::pair{kSizeGrid, model.zoneSize()}}) {
        const int position = grid.positionNearest(value);
        require(position >= 0 && position < grid.positions(), "a slider stays on its grid");
    }
    model.timeoutBadge();
    model.sizeBadge();

    const auto delegate = std::make_shared<AppDelegate>(platform);
    delegate->resetIdleTimer();
    const double countdown = platform.nextDeadline().value_or(0) - platform.now();
    require(countdown > kMinimumIdleTimeout - 1e-6 && countdown < kMaximumIdleTimeout + 1e-6,
            "the idle countdown stays within its bounds");
    delegate->showOverlay(platform.mouseLocation());
    const Rect square = platform.overlay()->frame();
    const Size screen = platform.screens.front().size;
    require(square.size.width == square.size.height && square.size.width >= kMinimumOverlaySide &&
                square.size.width <= std::min(screen.width, screen.height),
            "the square is no smaller than its least side and no larger than the screen");
    require(rectContainsPoint(square, platform.pointer), "the square lies under the pointer");

    model.resetToDefaults();
    require(model.isDefaults(), "Reset mends every stored value");
    return 0;
}
