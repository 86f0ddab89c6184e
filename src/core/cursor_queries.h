// Whether the pointer is shown, and whether a full-screen program is in front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace dovetrel {

class Platform;
struct CursorImage;

inline constexpr std::size_t kCursorCacheLimit = 50;
inline constexpr uint8_t kOpaqueAlphaThreshold = 11;

// True when the image has a pixel with alpha 11 or more, or when it cannot be rendered.
bool cursorImageHasOpaquePixels(const CursorImage& image);

// True when a window of the frontmost program has exactly the main screen's size, wherever it
// lies. False whenever something cannot be examined.
bool isFullscreenAppActive(Platform& platform);

// isCursorVisible() with the memory it needs: the platform's visibility flag, looked up once,
// and the verdicts for the pointer images seen so far.
class CursorVisibility {
  public:
    explicit CursorVisibility(Platform& platform) : platform_(platform) {}

    // True when the pointer is shown and its image has a visible pixel, or when that cannot
    // be found out.
    bool isCursorVisible();
    std::size_t cacheSize() const { return cache_.size(); }

  private:
    Platform& platform_;
    bool lookedUp_ = false;
    std::optional<std::function<uint32_t()>> visibilityFunction_;
    std::map<std::vector<uint8_t>, bool> cache_;
};

}  // namespace dovetrel
