#include "bar/text_cache.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <string>

#include "bar/live_font.h"
#include "tests/bar/gui_support.h"

namespace crestline {
namespace {

class TextCacheTest : public ::testing::Test {
protected:
    void SetUp() override { testing::guiApplication(); }
};

TEST_F(TextCacheTest, ToolbarDigitsAreTabular) {
    const Font font = LiveFont::toolbar(10);
    EXPECT_NEAR(font.width("1111"), font.width("8888"), 1e-9);
    EXPECT_NEAR(font.width("\u221211.1"), font.width("\u221288.8"), 1e-9);
    // The status font keeps proportional digits.
    const Font status = LiveFont::system(10);
    EXPECT_LT(status.width("1111"), status.width("8888"));
    // Fonts are shared by size (in hundredths) and weight.
    EXPECT_EQ(LiveFont::toolbar(10.001), LiveFont::toolbar(10.0));
    EXPECT_FALSE(LiveFont::toolbar(10, true) == LiveFont::toolbar(10, false));
}

TEST_F(TextCacheTest, ImagesAreKeyedByTextFontColourAndScale) {
    TextCache cache;
    const Font font = LiveFont::toolbar(10);
    const QImage& a = cache.image("Short", font, Colour::white(), 2.0);
    EXPECT_EQ(a.devicePixelRatio(), 2.0);
    EXPECT_EQ(a.width(), static_cast<int>(std::ceil(font.width("Short") * 2.0)));
    const std::size_t misses = cache.misses();
    cache.image("Short", font, Colour::white(), 2.0);
    EXPECT_EQ(cache.misses(), misses);
    cache.image("Short", font, Colour::black(), 2.0);
    cache.image("Short", font, Colour::white(), 1.0);
    cache.image("Short", LiveFont::toolbar(11), Colour::white(), 2.0);
    EXPECT_EQ(cache.imageCount(), 4u);
    cache.clear();
    EXPECT_EQ(cache.imageCount(), 0u);
    EXPECT_EQ(cache.sizeCount(), 0u);
}

TEST_F(TextCacheTest, StaysBoundedUnderAHundredThousandDistinctTexts) {
    TextCache cache;
    const Font font = LiveFont::toolbar(10);
    for (int i = 0; i < 100000; ++i) {
        const std::string text = std::to_string(i);
        cache.size(text, font);
        if (i % 10 == 0) cache.image(text, font, Colour::white(), 2.0);
    }
    EXPECT_LE(cache.sizeCount(), TextCache::kDefaultCapacity);
    EXPECT_LE(cache.imageCount(), TextCache::kDefaultCapacity);
    // The most recent entries are still there.
    const std::size_t misses = cache.misses();
    cache.size("99999", font);
    cache.image("99990", font, Colour::white(), 2.0);
    EXPECT_EQ(cache.misses(), misses);
}

TEST_F(TextCacheTest, RecentlyUsedEntriesSurviveEviction) {
    TextCache cache(3);
    const Font font = LiveFont::toolbar(10);
    cache.size("a", font);
    cache.size("b", font);
    cache.size("c", font);
    cache.size("a", font);  // a is now the newest
    cache.size("d", font);  // evicts b
    const std::size_t misses = cache.misses();
    cache.size("a", font);
    EXPECT_EQ(cache.misses(), misses);
    cache.size("b", font);
    EXPECT_EQ(cache.misses(), misses + 1);
}

}  // namespace
}  // namespace crestline
