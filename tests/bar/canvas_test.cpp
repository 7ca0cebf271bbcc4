#include "bar/canvas.h"

#include <QPainter>

#include "bar/live_font.h"
#include "bar/text_cache.h"
#include "bar/trace_layer.h"
#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

class CanvasTest : public ::testing::Test {
protected:

    // A black picture at scale 2 drawn into by `draw`.
    template <typename Draw>
    QImage picture(double width, double height, Draw draw) {
        QImage image(static_cast<int>(width * 2), static_cast<int>(height * 2), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2.0);
        image.fill(Qt::black);
        QPainter painter(&image);
        Canvas canvas(painter, height, 2.0, texts);
        draw(canvas);
        return image;
    }

    // Over opaque pictures of the same size, so bytes compare as colours.
    static int maximumDifference(const QImage& a, const QImage& b) {
        int worst = 0;
        for (qsizetype i = 0; i < a.sizeInBytes(); ++i) worst = std::max(worst, std::abs(a.bits()[i] - b.bits()[i]));
        return worst;
    }

    QGuiApplication& application = testing::guiApplication();  // before any font
    TextCache texts;
    const Font font = LiveFont::toolbar(10);
};

TEST_F(CanvasTest, DrawsUprightWithYGrowingUpwards) {
    const QImage image = picture(100, 20, [&](Canvas& c) {
        c.fill(Rect{0, 0, 10, 2}, Colour::white());
        c.drawText("T", font, Colour::white(), Point{50, 5});
    });
    EXPECT_EQ(QColor(image.pixel(5, 39)), QColor(Qt::white));
    EXPECT_EQ(QColor(image.pixel(5, 0)), QColor(Qt::black));
    // Upright, the T's bar is its widest row and lies above its stem's foot.
    std::vector<int> rows;
    for (int y = 0; y < 40; ++y) {
        int ink = 0;
        for (int x = 100; x < 130; ++x) ink += qRed(image.pixel(x, y)) > 128;
        if (ink > 0) rows.push_back(ink);
    }
    ASSERT_FALSE(rows.empty());
    EXPECT_GT(rows.front(), rows.back());
}

// Banded drawing of tall shapes must match one unbanded draw: translucent
// colours show any row drawn twice or missed. Strokes are compared on a
// rounded outline: Qt draws thin polyline strokes segment by segment without
// a clip, ignoring sharp joins, and as one outline with it.
TEST_F(CanvasTest, TallShapesAreBandedWithoutChangingThePicture) {
    const Colour grey{1.0, 1.0, 1.0, 0.4};
    EXPECT_LE(maximumDifference(picture(20, 200, [&](Canvas& c) { c.fill(Rect{2.3, 3.7, 5.5, 190.1}, grey); }),
                                picture(20, 200, [&](Canvas& c) {
                                    c.painter().fillRect(QRectF(2.3, 3.7, 5.5, 190.1), grey.toQColor());
                                })),
              1);

    const Colour green{0.2, 0.8, 0.4, 0.55};
    for (double height : {10.0, 40.0, 150.0}) {
        const Rect r{3.0, 4.25, 26.0, height};
        const QImage pieces = picture(40, height + 10, [&](Canvas& c) { c.fillRoundedRect(r, 3.0, green); });
        const QImage path = picture(40, height + 10, [&](Canvas& c) {
            c.painter().fillPath(Path::roundedRect(r, 3.0).qt(), green.toQColor());
        });
        EXPECT_LE(maximumDifference(pieces, path), 2) << height;
    }

    Path wave;
    wave.moveTo({2, 2});
    for (int i = 1; i <= 20; ++i) wave.lineTo({2.0 + (i % 2) * 12.0, 2.0 + i * 9.0});
    wave.lineTo({30, 182}).lineTo({30, 2}).close();
    const Path border = Path::roundedRect(Rect{1.5, 1.5, 35, 185}, 6.5);
    const Colour red{1, 0, 0, 0.5};
    const QImage banded = picture(40, 190, [&](Canvas& c) {
        c.fill(wave, Colour::white(0.5));
        c.stroke(border, red, 1.0);
    });
    const QImage direct = picture(40, 190, [&](Canvas& c) {
        c.painter().fillPath(wave.qt(), Colour::white(0.5).toQColor());
        c.painter().strokePath(border.qt(), QPen(red.toQColor(), 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    });
    EXPECT_LE(maximumDifference(banded, direct), 2);
}

// The trace layer writes only the rows a trace covers now or covered in
// the frame before; whatever came earlier, its picture must be the one a
// fresh layer draws for the same frame.
TEST(TraceLayer, APictureKeptBetweenFramesMatchesAFreshOne) {
    struct Span {
        int pass, column;
        double low, high;
    };
    const Colour glow{1.0, 0.5, 0.0, 0.3}, trace{1.0, 1.0, 1.0, 0.9};
    const std::vector<std::vector<Span>> frames{
        {{0, 0, 0.0, 40.0}, {1, 0, 10.5, 30.25}, {0, 7, 2.0, 39.0}, {1, 31, 0.0, 40.0}},
        {{0, 0, 19.5, 20.5}, {1, 7, 5.0, 6.0}},  // short spans inside the tall ones before
        {},                                      // nothing at all
        {{1, 3, 38.2, 40.0}, {0, 3, 0.0, 1.7}, {1, 31, 12.0, 12.0}}};
    const auto draw = [&](TraceLayer& layer, const std::vector<Span>& spans) {
        layer.begin(32, 40);
        layer.addPass(glow);
        layer.addPass(trace);
        for (const Span& s : spans) layer.span(s.pass, s.column, s.low, s.high);
        layer.finish();
    };
    TraceLayer kept;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        draw(kept, frames[i]);
        TraceLayer fresh;
        draw(fresh, frames[i]);
        EXPECT_TRUE(kept.image() == fresh.image()) << "frame " << i;
    }
    // A new size starts from a clear picture too.
    kept.begin(20, 50);
    kept.finish();
    EXPECT_EQ(kept.image().size(), QSize(20, 50));
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 20; ++x) ASSERT_EQ(kept.image().pixel(x, y), 0u);
    }
}

using TextCacheTest = CanvasTest;

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
