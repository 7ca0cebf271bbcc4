#include "bar/text_cache.h"

#include <string>

#include "bar/live_font.h"
#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

class TextCacheTest : public ::testing::Test {
protected:
    void SetUp() override { testing::guiApplication(); }
    const Font font = LiveFont::toolbar(10);
};

TEST_F(TextCacheTest, ToolbarDigitsAreTabularAndFontsSharedBySizeAndWeight) {
    EXPECT_NEAR(font.width("1111"), font.width("8888"), 1e-9);
    EXPECT_NEAR(font.width("\u221211.1"), font.width("\u221288.8"), 1e-9);
    EXPECT_LT(LiveFont::system(10).width("1111"), LiveFont::system(10).width("8888"));
    EXPECT_EQ(LiveFont::toolbar(10.001), font);  // hundredths of a point
    EXPECT_FALSE(LiveFont::toolbar(10, true) == LiveFont::toolbar(10, false));
}

TEST_F(TextCacheTest, ImagesAreKeyedByTextFontColourAndScale) {
    TextCache cache;
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
    EXPECT_EQ(cache.imageCount() + cache.sizeCount(), 0u);
}

TEST_F(TextCacheTest, StaysBoundedUnderAHundredThousandDistinctTextsKeepingTheRecent) {
    TextCache cache;
    for (int i = 0; i < 100000; ++i) {
        const std::string text = std::to_string(i);
        cache.size(text, font);
        if (i % 10 == 0) cache.image(text, font, Colour::white(), 2.0);
    }
    EXPECT_LE(cache.sizeCount(), TextCache::kDefaultCapacity);
    EXPECT_LE(cache.imageCount(), TextCache::kDefaultCapacity);
    std::size_t misses = cache.misses();
    cache.size("99999", font);
    cache.image("99990", font, Colour::white(), 2.0);
    EXPECT_EQ(cache.misses(), misses);

    // Least recently used goes first, not oldest inserted.
    TextCache small(3);
    for (const char* text : {"a", "b", "c", "a", "d"}) small.size(text, font);
    misses = small.misses();
    small.size("a", font);
    EXPECT_EQ(small.misses(), misses);
    small.size("b", font);
    EXPECT_EQ(small.misses(), misses + 1);
}

}  // namespace
}  // namespace crestline
