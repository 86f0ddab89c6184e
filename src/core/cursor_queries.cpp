// GCC 12 to 14 at -O3 warn that inserting into a map keyed by std::vector<unsigned char>
// may memcmp more than PTRDIFF_MAX bytes: a false positive inside libstdc++'s own
// comparison (the lengths come from two live vectors). The warning points into the
// standard headers, so only a pragma ahead of the includes reaches it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wstringop-overread"
#endif

#include "core/cursor_queries.h"

#include "core/platform.h"

namespace dovetrel {

bool cursorImageHasOpaquePixels(const CursorImage& image) {
    if (!image.bitmap || image.bitmap->width <= 0 || image.bitmap->height <= 0) {
        return true;
    }
    const auto& bitmap = *image.bitmap;
    const std::size_t byteCount =
        4 * static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height);
    // A buffer shorter than its size says is an image that could not be rendered.
    if (bitmap.rgba.size() < byteCount) {
        return true;
    }
    for (std::size_t alpha = 3; alpha < byteCount; alpha += 4) {
        if (bitmap.rgba[alpha] >= kOpaqueAlphaThreshold) {
            return true;
        }
    }
    return false;
}

bool CursorVisibility::isCursorVisible() {
    if (!lookedUp_) {
        visibilityFunction_ = platform_.cursorVisibilityFunction();
        lookedUp_ = true;
    }
    if (visibilityFunction_ && *visibilityFunction_ && (*visibilityFunction_)() == 0) {
        return false;
    }
    const auto cursor = platform_.currentSystemCursor();
    if (!cursor) {
        return true;
    }
    // A placeholder pointer of at most 1 x 1 point counts as hidden.
    if (cursor->size.width <= 1.0 && cursor->size.height <= 1.0) {
        return false;
    }
    if (!cursor->bytes) {
        return true;
    }
    if (const auto cached = cache_.find(*cursor->bytes); cached != cache_.end()) {
        return cached->second;
    }
    const bool visible = cursorImageHasOpaquePixels(*cursor);
    if (cache_.size() >= kCursorCacheLimit) {
        cache_.clear();
    }
    cache_.emplace(*cursor->bytes, visible);
    return visible;
}

bool isFullscreenAppActive(Platform& platform) {
    const auto screen = platform.mainScreenFrame();
    if (!screen) {
        return false;
    }
    const auto frontmost = platform.frontmostApplicationPid();
    if (!frontmost) {
        return false;
    }
    const auto windows = platform.onScreenWindows();
    if (!windows) {
        return false;
    }
    for (const auto& window : *windows) {
        if (!window.ownerPid || *window.ownerPid != *frontmost || !window.bounds) {
            continue;
        }
        if (window.bounds->width == screen->size.width &&
            window.bounds->height == screen->size.height) {
            return true;
        }
    }
    return false;
}

}  // namespace dovetrel
