// The stereo imager: which view a rectangle gets, where a frame's dot lands
// in each view, the fade, and on renders of mono, antiphase and one-sided
// noise where the dots and the correlation end up.
#include "bar/imager_display.h"

#include <random>

#include "bar/analyser_source.h"
#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

using Shape = ImagerDisplay::Shape;

enum class Stereo { mono, antiphase, leftOnly, rightOnly, silence };

class ImagerDisplayTest : public testing::BarFixture {
protected:
    ImagerDisplayTest() {
        source.configure(48000.0);
        settings.setModuleOrder({ColorArea::imager});
        fed.setTheme(BarTheme::liveDark());
    }

    // Half a second of noise in the given stereo shape.
    void feed(Stereo shape, int frames = 24000) {
        std::normal_distribution<float> noise(0.0f, 0.2f);
        std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
        for (std::size_t i = 0; i < left.size(); ++i) {
            const float v = noise(random);
            switch (shape) {
                case Stereo::mono: left[i] = right[i] = v; break;
                case Stereo::antiphase: left[i] = v, right[i] = -v; break;
                case Stereo::leftOnly: left[i] = v, right[i] = 0.0f; break;
                case Stereo::rightOnly: left[i] = 0.0f, right[i] = v; break;
                case Stereo::silence: left[i] = right[i] = 0.0f; break;
            }
        }
        source.feed(left.data(), right.data(), frames);
    }
    QImage draw(double height, ImagerMode mode = ImagerMode::polarSample) {
        settings.setImagerMode(mode);
        return renderBar(fed, {600, height}, 2.0);
    }
    ImagerDisplay& imager() { return static_cast<ImagerDisplay&>(fed.display(GraphKind::imager)); }
    // The centres (points) of the glow's lit pixels.
    std::vector<Point> litPoints() {
        std::vector<Point> points;
        const QImage& glow = imager().glow();
        const Rect& r = imager().lastGeometry().glow;
        for (int row = 0; row < glow.height(); ++row) {
            for (int column = 0; column < glow.width(); ++column) {
                if (qAlpha(glow.pixel(column, row)) == 0) continue;
                points.push_back({r.minX() + (column + 0.5) / 2.0, r.maxY() - (row + 0.5) / 2.0});
            }
        }
        return points;
    }

    std::mt19937 random{11};
    AnalyserSource source{16384};
    BarView fed{settings, &source, clock};
};

bool reddish(QColor c) { return c.red() - c.green() > 100; }

TEST(ImagerDisplay, TheRectangleChoosesStripPolarOrLissajous) {
    const std::tuple<Rect, ImagerMode, Shape> cases[] = {
        {{0, 0, 40, 100}, ImagerMode::polarSample, Shape::none},
        {{0, 0, 300, 6}, ImagerMode::polarSample, Shape::none},
        {{0, 0, 41, 7}, ImagerMode::polarSample, Shape::strip},  // a plot of 25 x 3 points
        {{0, 0, 300, 69}, ImagerMode::lissajous, Shape::strip},
        {{0, 0, 138, 300}, ImagerMode::polarSample, Shape::strip},  // half the width is 69
        {{0, 0, 300, 70}, ImagerMode::polarSample, Shape::polar},
        {{0, 0, 140, 70}, ImagerMode::lissajous, Shape::lissajous},
    };
    for (const auto& [rect, mode, shape] : cases) {
        EXPECT_EQ(ImagerDisplay::geometry(rect, mode, 9.7).shape, shape) << rect.width << " x " << rect.height;
    }
}

TEST(ImagerDisplay, EachViewPutsMonoInTheMiddleAChannelOnItsDiagonalAndAntiphaseFlat) {
    const auto strip = ImagerDisplay::geometry({0, 0, 400, 36}, ImagerMode::polarSample, 9.7);
    const auto polar = ImagerDisplay::geometry({0, 0, 400, 150}, ImagerMode::polarSample, 9.7);
    const auto diamond = ImagerDisplay::geometry({0, 0, 400, 150}, ImagerMode::lissajous, 9.7);
    ASSERT_EQ(strip.shape, Shape::strip);
    ASSERT_EQ(strip.plot, (Rect{8, 2, 340, 32}));  // 44 points kept for the correlation
    ASSERT_EQ(polar.shape, Shape::polar);
    ASSERT_EQ(diamond.shape, Shape::lissajous);
    const double q = strip.plot.width / 4.0;
    const double r = polar.radius;
    const double k = diamond.radius / 2.0;
    struct Case {
        float l, right;
        Point strip, polar, diamond;  // relative to the plot's bottom middle, the centres
    };
    // Peak 0.5: a sample of 0.5 reaches full height or the radius.
    const Case cases[] = {
        {0.5f, 0.5f, {0, 32}, {0, r}, {0, 2 * k}},          // mono: straight up
        {-0.5f, -0.5f, {0, 32}, {0, r}, {0, -2 * k}},        // folded into the front half
        {0.0f, 0.5f, {q, 32}, {r / std::sqrt(2.0), r / std::sqrt(2.0)}, {k, k}},     // right only
        {0.5f, 0.0f, {-q, 32}, {-r / std::sqrt(2.0), r / std::sqrt(2.0)}, {-k, k}},  // left only
        {0.5f, -0.5f, {-2 * q, 32}, {-r, 0}, {-2 * k, 0}},   // antiphase: flat
        {0.25f, 0.25f, {0, 16}, {0, r / 2}, {0, k}},
    };
    for (const Case& c : cases) {
        const auto s = ImagerDisplay::dotCentre(strip, c.l, c.right, 0.5f);
        const auto p = ImagerDisplay::dotCentre(polar, c.l, c.right, 0.5f);
        const auto d = ImagerDisplay::dotCentre(diamond, c.l, c.right, 0.5f);
        ASSERT_TRUE(s && p && d);
        EXPECT_NEAR(s->x - strip.plot.midX(), c.strip.x, 1e-9) << c.l << " " << c.right;
        EXPECT_NEAR(s->y - strip.plot.minY(), c.strip.y, 1e-9) << c.l << " " << c.right;
        EXPECT_NEAR(p->x - polar.cx, c.polar.x, 1e-6) << c.l << " " << c.right;
        EXPECT_NEAR(p->y - polar.cy, c.polar.y, 1e-6) << c.l << " " << c.right;
        EXPECT_NEAR(d->x - diamond.cx, c.diamond.x, 1e-9) << c.l << " " << c.right;
        EXPECT_NEAR(d->y - diamond.cy, c.diamond.y, 1e-9) << c.l << " " << c.right;
    }
    // Quiet frames: the strip and the polar view leave them out, the diamond draws its centre.
    EXPECT_FALSE(ImagerDisplay::dotCentre(strip, 0.0004f, 0.0f, 0.5f));
    EXPECT_FALSE(ImagerDisplay::dotCentre(polar, 0.0005f, 0.0f, 0.5f));
    EXPECT_TRUE(ImagerDisplay::dotCentre(diamond, 0.0f, 0.0f, 0.5f));
    EXPECT_FALSE(ImagerDisplay::dotCentre(diamond, std::nanf(""), 0.0f, 0.5f));
}

TEST(ImagerDisplay, AFadeStepKeepsSevenEighthsAndDarkensWhatFallsBelowTwo) {
    // 37 bytes: two vector steps and a tail.
    std::vector<std::uint8_t> bytes(37, 0);
    bytes[0] = 255;
    bytes[17] = 3;
    bytes[36] = 128;
    bytes[20] = 2;
    EXPECT_TRUE(ImagerDisplay::fade(bytes.data(), bytes.size()));
    EXPECT_EQ(bytes[0], 223);
    EXPECT_EQ(bytes[17], 2);
    EXPECT_EQ(bytes[36], 112);
    EXPECT_EQ(bytes[20], 0);
    int steps = 1;
    while (ImagerDisplay::fade(bytes.data(), bytes.size())) ++steps;
    EXPECT_EQ(steps, 29);  // a full dot is down to an eighth after 15 frames, dark after 30
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(ImagerDisplay, CorrelationTexts) {
    EXPECT_EQ(ImagerDisplay::correlationText(0.534), "+0.53");
    EXPECT_EQ(ImagerDisplay::correlationText(-1.0), "\u22121.00");
    EXPECT_EQ(ImagerDisplay::correlationText(std::nan("")), "\u2013");
    EXPECT_EQ(ImagerDisplay::correlationText(0.0), "+0.00");
    EXPECT_EQ(ImagerDisplay::correlationText(-0.004), "+0.00");  // dither on silence: no side
    EXPECT_EQ(ImagerDisplay::correlationText(-0.006), "\u22120.01");
}

TEST_F(ImagerDisplayTest, MonoStandsOnTheMiddleLineInEveryView) {
    for (const double height : {36.0, 150.0}) {
        for (const ImagerMode mode : {ImagerMode::polarSample, ImagerMode::lissajous}) {
            feed(Stereo::mono);
            const QImage image = draw(height, mode);
            const auto& g = imager().lastGeometry();
            const double middle = g.shape == Shape::strip ? g.plot.midX() : g.cx;
            const auto points = litPoints();
            ASSERT_GT(points.size(), 20u) << height;
            for (const Point& p : points) ASSERT_NEAR(p.x, middle, 1.0) << height;
            // On the picture too: lit on the middle line, dark a little aside.
            const double y = g.shape == Shape::polar ? g.cy + g.radius * 0.2 : g.glow.midY() + 1.0;
            int onLine = 0;
            for (double dy = -2; dy <= 2; dy += 0.5) onLine += pixelAt(image, middle, y + dy).red() > 120;
            EXPECT_GT(onLine, 0) << height;
            EXPECT_LT(pixelAt(image, middle + 6.0, y).red(), 90) << height;
        }
    }
}

TEST_F(ImagerDisplayTest, AntiphaseLiesFlatAndReadsMinusOneInTheWarnColour) {
    feed(Stereo::antiphase);
    QImage image = draw(36.0);
    auto g = imager().lastGeometry();
    for (const Point& p : litPoints()) {
        ASSERT_TRUE(std::fabs(p.x - g.plot.minX()) < 1.0 || std::fabs(p.x - g.plot.maxX()) < 1.0) << p.x;
    }
    // "−1.00" right of the plot, red.
    const Rect number{g.plot.maxX() + 4, 0, 600 - g.plot.maxX() - 4, 36};
    EXPECT_GT(count(image, number, reddish), 10);

    feed(Stereo::antiphase);
    image = draw(150.0);
    g = imager().lastGeometry();
    for (const Point& p : litPoints()) ASSERT_NEAR(p.y, g.cy, 1.0);
    // The marker at the bottom of the correlation scale, red.
    const double scaleX = std::round(g.cx + g.radius + 10.0);
    EXPECT_TRUE(reddish(pixelAt(image, scaleX + 2.5, g.glow.minY() + 0.5)));
    EXPECT_FALSE(reddish(pixelAt(image, scaleX + 2.5, g.glow.midY())));
}

TEST_F(ImagerDisplayTest, OneChannelLiesOnItsDiagonal) {
    feed(Stereo::rightOnly);
    draw(150.0);
    auto g = imager().lastGeometry();
    auto points = litPoints();
    ASSERT_GT(points.size(), 20u);
    for (const Point& p : points) {
        ASSERT_GT(p.x, g.cx - 1.0);
        ASSERT_NEAR(p.x - g.cx, p.y - g.cy, 1.5);  // the right spoke
    }
    feed(Stereo::leftOnly);
    draw(150.0, ImagerMode::lissajous);
    g = imager().lastGeometry();
    points = litPoints();
    ASSERT_GT(points.size(), 20u);
    for (const Point& p : points) ASSERT_NEAR(p.x - g.cx, -(p.y - g.cy), 1.5);  // upper left to lower right
}

TEST_F(ImagerDisplayTest, SilenceLetsThePeakSinkToItsFloorAndTheDotsFadeAway) {
    feed(Stereo::mono);
    draw(36.0);
    EXPECT_GT(imager().peak(), 0.2f);
    for (int frame = 0; frame < 400; ++frame) {
        feed(Stereo::silence, 800);
        draw(36.0);
    }
    EXPECT_FLOAT_EQ(imager().peak(), ImagerDisplay::kPeakFloor);
    EXPECT_EQ(imager().lastCount(), 800);
    EXPECT_TRUE(litPoints().empty());
}

TEST_F(ImagerDisplayTest, AFrozenImagerReadsNothingAndItsPictureStands) {
    feed(Stereo::mono);
    draw(150.0);
    const QImage before = imager().glow().copy();
    fed.pointer.frozenArea = ColorArea::imager;
    feed(Stereo::antiphase);
    draw(150.0);
    draw(150.0);
    EXPECT_TRUE(imager().glow() == before);
    fed.pointer.frozenArea.reset();
    draw(150.0);
    EXPECT_FALSE(imager().glow() == before);
    EXPECT_EQ(imager().lastCount(), ImagerDisplay::kMaxFrames);
}

}  // namespace
}  // namespace crestline
