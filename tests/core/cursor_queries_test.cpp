#include "core/cursor_queries.h"

#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

// A w x h pointer whose pixels all have `alpha`, except that `opaquePixel` (if any) has 255.
CursorImage pointerImage(int width, int height, uint8_t alpha, int opaquePixel = -1,
                         uint8_t id = 0) {
    CursorBitmap bitmap{width, height, std::vector<uint8_t>(4 * width * height, 0)};
    for (int pixel = 0; pixel < width * height; ++pixel) {
        bitmap.rgba[4 * pixel + 3] = pixel == opaquePixel ? 255 : alpha;
    }
    std::vector<uint8_t> bytes = bitmap.rgba;
    bytes.push_back(id);
    return CursorImage{{double(width), double(height)}, bytes, bitmap};
}

TEST(CursorImageHasOpaquePixels, LooksForAnAlphaOfElevenOrMore) {
    EXPECT_FALSE(cursorImageHasOpaquePixels(pointerImage(16, 16, 0)));
    EXPECT_FALSE(cursorImageHasOpaquePixels(pointerImage(16, 16, 10)));
    EXPECT_TRUE(cursorImageHasOpaquePixels(pointerImage(16, 16, 11)));
    EXPECT_TRUE(cursorImageHasOpaquePixels(pointerImage(16, 16, 0, 255)));  // the last pixel
    // An image that cannot be rendered counts as visible.
    EXPECT_TRUE(cursorImageHasOpaquePixels(CursorImage{{16, 16}, std::nullopt, std::nullopt}));
    CursorImage truncated = pointerImage(16, 16, 0);
    truncated.bitmap->rgba.resize(10);
    EXPECT_TRUE(cursorImageHasOpaquePixels(truncated));
}

class CursorVisibilityTest : public CoreTest {
  protected:
    CursorVisibility visibility{platform};
};

TEST_F(CursorVisibilityTest, ThePlatformFlagDecidesFirstAndIsLookedUpOnce) {
    uint32_t shown = 0;
    platform.visibilityFunction = [&shown] { return shown; };
    platform.cursor = pointerImage(16, 16, 255);
    EXPECT_FALSE(visibility.isCursorVisible());
    EXPECT_EQ(platform.cursorQueries, 0);
    shown = 1;
    EXPECT_TRUE(visibility.isCursorVisible());
    platform.visibilityFunction.reset();
    shown = 0;
    EXPECT_FALSE(visibility.isCursorVisible()) << "the function found first is kept";
    EXPECT_EQ(platform.callCount("cursorVisibilityFunction"), 1);
}

TEST_F(CursorVisibilityTest, WithoutAFlagTheImageDecides) {
    EXPECT_TRUE(visibility.isCursorVisible()) << "no pointer at all counts as visible";
    platform.cursor = pointerImage(1, 1, 255);
    EXPECT_FALSE(visibility.isCursorVisible()) << "a 1 x 1 placeholder counts as hidden";
    platform.cursor = pointerImage(2, 1, 255);
    EXPECT_TRUE(visibility.isCursorVisible());
    platform.cursor = CursorImage{{16, 16}, std::nullopt, pointerImage(16, 16, 0).bitmap};
    EXPECT_TRUE(visibility.isCursorVisible()) << "no bytes to key the cache by";
    EXPECT_EQ(visibility.cacheSize(), 1u);
}

TEST_F(CursorVisibilityTest, RemembersEachImageAndEmptiesTheCacheWhenFull) {
    CursorImage image = pointerImage(16, 16, 255);
    platform.cursor = image;
    EXPECT_TRUE(visibility.isCursorVisible());
    // The same bytes with a different picture: the remembered answer is used.
    platform.cursor->bitmap = pointerImage(16, 16, 0).bitmap;
    EXPECT_TRUE(visibility.isCursorVisible());
    EXPECT_EQ(visibility.cacheSize(), 1u);

    for (uint8_t id = 1; id < 50; ++id) {
        platform.cursor = pointerImage(4, 4, 0, -1, id);
        EXPECT_FALSE(visibility.isCursorVisible());
    }
    EXPECT_EQ(visibility.cacheSize(), 50u);
    platform.cursor = pointerImage(4, 4, 0, -1, 200);
    EXPECT_FALSE(visibility.isCursorVisible());
    EXPECT_EQ(visibility.cacheSize(), 1u);
}

class FullscreenApp : public CoreTest {
  protected:
    void SetUp() override {
        platform.mainScreen = Rect{{1440, 0}, {1920, 1080}};
        platform.frontmostPid = 7;
        platform.windows = std::vector<WindowInfo>{};
    }
};

TEST_F(FullscreenApp, OnlyAWindowOfTheFrontProgramWithTheMainScreensExactSizeCounts) {
    EXPECT_FALSE(isFullscreenAppActive(platform));
    platform.windows = std::vector<WindowInfo>{{8, Size{1920, 1080}},
                                               {7, Size{1919, 1080}},
                                               {7, Size{1920, 1079}},
                                               {std::nullopt, Size{1920, 1080}},
                                               {7, std::nullopt}};
    EXPECT_FALSE(isFullscreenAppActive(platform));
    platform.windows->push_back({7, Size{1920, 1080}});
    EXPECT_TRUE(isFullscreenAppActive(platform));
}

TEST_F(FullscreenApp, AnythingThatCannotBeExaminedCountsAsNotFullScreen) {
    platform.windows = std::vector<WindowInfo>{{7, Size{1920, 1080}}};
    ASSERT_TRUE(isFullscreenAppActive(platform));
    platform.frontmostPid.reset();
    EXPECT_FALSE(isFullscreenAppActive(platform));
    platform.frontmostPid = 7;
    platform.mainScreen.reset();
    EXPECT_FALSE(isFullscreenAppActive(platform));
    platform.mainScreen = Rect{{0, 0}, {1920, 1080}};
    platform.windows.reset();
    EXPECT_FALSE(isFullscreenAppActive(platform));
}

}  // namespace
}  // namespace dovetrel::testing
