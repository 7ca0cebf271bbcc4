// Live's bars and locators along a time axis: where the lines fall for a
// steady transport, whose metre counts the bars, what a loop and untrusted
// beats do, and the bar under a moment.
#include "bar/timeline_marks.h"

#include <random>
#include <utility>

#include "tests/bar/transport_fixture.h"

namespace crestline {
namespace {

using testing::FramePainter;
using testing::Transport;

class TimelineMarksTest : public testing::BarFixture {
protected:
    // Draws the marks for the `seconds` ending at `now` across a 600 x 40
    // point rectangle.
    void drawMarks(double seconds, double now, const LiveSet* set = nullptr) {
        names.clear();
        painter.paint(&transport.sync(), set, [&](Canvas& canvas, const Frame& frame) {
            marks.draw(canvas, kRect, frame, seconds, now, names);
        });
    }
    std::vector<double> lineXs() const {
        std::vector<double> xs;
        for (const auto& line : marks.barLines()) xs.push_back(line.x);
        return xs;
    }

    static constexpr Rect kRect{0, 0, 600, 40};
    Transport transport{clock};
    FramePainter painter{settings, {600, 40}, clock};
    TimelineMarks marks;
    std::vector<Rect> names;
};

TEST(TimelineMarks, BarStrideIsTheFirstPowerOfTwoThatSpacesLines46PointsApart) {
    const std::pair<double, int> cases[] = {
        {46.0, 1}, {45.9, 2}, {23.0, 2}, {8.0, 8},  // 4 x 8 = 32 is too close, 8 x 8 = 64 is not
        {0.36, 128}, {0.35, 256}, {0.0, 256}, {std::numeric_limits<double>::quiet_NaN(), 256}};
    for (const auto& [points, stride] : cases) EXPECT_EQ(TimelineMarks::barStride(points), stride) << points;
}

TEST(TimelineMarks, ARunGoesOnWhileTheBeatMovesForwardAtAPlausiblePace) {
    struct Case {
        double t1, b1;
        bool continues;
    };
    // From (0 s, beat 0).
    const Case cases[] = {
        {0.1, 0.2, true},    // 120 BPM
        {0.1, 0.0, false},   // stood still: stopped
        {0.1, -4.0, false},  // jumped back: a loop or a locate
        {0.1, 64.0, false},  // jumped ahead
        {10.0, 0.2, false},  // a long silence between two samples
        {0.0, 0.2, false},   // no time passed
    };
    for (const Case& c : cases) EXPECT_EQ(TimelineMarks::continues(0.0, 0.0, c.t1, c.b1), c.continues) << c.t1 << " " << c.b1;
}

TEST_F(TimelineMarksTest, ASteadyTransportPutsEveryFourthBarWhereItsTimeLies) {
    transport.play(0.0, 2.0, 60.0);  // 120 BPM, 4/4: a bar every 2 s, 20 points at 10 points a second
    drawMarks(60.0, clock.now());
    ASSERT_EQ(marks.barLines().size(), 8u);  // bars 1, 5 ... 29; bar 31 is not reached yet
    for (std::size_t k = 0; k < marks.barLines().size(); ++k) {
        const auto& line = marks.barLines()[k];
        EXPECT_DOUBLE_EQ(line.bar, 1.0 + 4.0 * k);
        EXPECT_NEAR(line.x, 80.0 * k, 1e-6);
        EXPECT_TRUE(line.numbered);
    }
    // Lines and numbers are on the picture: bright pixels on bar 5's line.
    const QImage& image = painter.paint(&transport.sync(), nullptr, [&](Canvas& canvas, const Frame& frame) {
        marks.draw(canvas, kRect, frame, 60.0, clock.now(), names);
    });
    EXPECT_GT(qGray(image.pixel(160, 40)), 40);
    EXPECT_EQ(qGray(image.pixel(150, 40)), 0);

    // Without the setting, or without a transport, nothing is drawn.
    settings.setShowTimelineMarks(false);
    drawMarks(60.0, clock.now());
    EXPECT_TRUE(marks.barLines().empty());
}

TEST_F(TimelineMarksTest, TheSetsSignaturesElseTheFreshHelpersMetreElseFourBeatsCountTheBars) {
    transport.locators({}, 3, 4);
    transport.play(0.0, 2.0, 60.0);
    const double end = clock.now();
    LiveSet waltz;
    waltz.signatures = {{0.0, 3.0}};
    LiveSet fiveFour;
    fiveFour.signatures = {{0.0, 5.0}};
    struct Case {
        const LiveSet* set;
        double wait;     // seconds since the helper last spoke
        double spacing;  // points between drawn lines
    };
    const Case cases[] = {
        {nullptr, 0.0, 60.0},    // the helper's 3/4: 1.5 s bars, every 4th
        {&fiveFour, 0.0, 50.0},  // the set's 5/4 wins: 2.5 s bars, every 2nd
        {nullptr, 6.0, 80.0},    // the helper is stale: 4 beats
        {&waltz, 6.0, 60.0},
    };
    for (const Case& c : cases) {
        clock.set(end + c.wait);
        drawMarks(60.0, end, c.set);
        ASSERT_GE(marks.barLines().size(), 2u);
        EXPECT_NEAR(marks.barLines()[1].x - marks.barLines()[0].x, c.spacing, 1e-6) << c.wait;
    }
}

TEST_F(TimelineMarksTest, EveryPassOverALocatorDrawsItAndNoBarIsDrawnAcrossAJump) {
    transport.locators({{8.0, "Verse"}, {9.0, "Chorus"}, {72.0, "Drop"}, {12.0, ""}});
    transport.play(0.0, 2.0, 10.0);   // beats 0 ... 20
    transport.play(0.0, 2.0, 10.0);   // looped back
    transport.play(64.0, 2.0, 10.0);  // jumped ahead to bar 17
    drawMarks(30.0, clock.now());     // 20 points a second: a bar is 40 points, every 2nd drawn

    const std::vector<double> locators{80, 90, 120, 280, 290, 320, 480};
    ASSERT_EQ(marks.locatorLines().size(), locators.size());
    for (std::size_t k = 0; k < locators.size(); ++k) EXPECT_NEAR(marks.locatorLines()[k], locators[k], 1e-6);
    const std::vector<std::pair<double, double>> bars{{0, 1},   {80, 3},   {160, 5},  {200, 1}, {280, 3},
                                                      {360, 5}, {400, 17}, {480, 19}, {560, 21}};
    ASSERT_EQ(marks.barLines().size(), bars.size());
    for (std::size_t k = 0; k < bars.size(); ++k) {
        EXPECT_NEAR(marks.barLines()[k].x, bars[k].first, 1e-6);
        EXPECT_EQ(marks.barLines()[k].bar, bars[k].second);
    }
    // "Chorus" would run into "Verse": it drops a row; the unnamed one has none.
    ASSERT_EQ(names.size(), 5u);
    EXPECT_NEAR(names[0].maxY(), kRect.maxY() - 2.0, 1e-9);
    EXPECT_DOUBLE_EQ(names[1].y, names[0].y - TimelineMarks::kNameRowHeight);
    EXPECT_DOUBLE_EQ(names[2].y, names[0].y);
    EXPECT_DOUBLE_EQ(names[4].y, names[0].y);

    // Once the helper is silent the set's locators count.
    const double end = clock.now();
    clock.advance(6.0);
    LiveSet set;
    set.locators = {{16.0, "Break"}};
    drawMarks(30.0, end, &set);
    EXPECT_EQ(marks.locatorLines(), (std::vector<double>{160, 360}));
}

TEST_F(TimelineMarksTest, UntrustedBeatsDrawAtMostOneLinePerFewPoints) {
    // A set whose metre changes from one beat a bar to 99, a transport at
    // 5 beats a second with random jumps, a metre of a sixteenth from the
    // helper and thousands of locators on a handful of beats.
    LiveSet set;
    set.signatures = {{0.0, 1.0}, {100000.0, 99.0}};
    std::vector<std::pair<double, std::string>> crowd;
    for (int k = 0; k < 3000; ++k) crowd.emplace_back(k % 7, "x");
    transport.locators(crowd, 1, 16);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> anywhere(-LiveSync::kMaxBeat, LiveSync::kMaxBeat);
    for (int k = 0; k < 960; ++k) {
        double beat = (k < 800 ? 0.0 : 100000.0) + 0.3125 * k;  // 5 beats a second
        if (k % 97 == 50) beat = anywhere(random);
        transport.position(beat, true);
        clock.advance(1.0 / 16.0);
    }
    for (const LiveSet* metre : {static_cast<const LiveSet*>(&set), static_cast<const LiveSet*>(nullptr)}) {
        drawMarks(60.0, clock.now(), metre);
        const auto bounded = [](const std::vector<double>& xs) {
            EXPECT_LE(xs.size(), static_cast<std::size_t>(600 / TimelineMarks::kMinimumLineGap) + 1);
            for (std::size_t k = 1; k < xs.size(); ++k) {
                EXPECT_GE(xs[k] - xs[k - 1], TimelineMarks::kMinimumLineGap - 1e-9);
            }
        };
        bounded(lineXs());
        bounded(marks.locatorLines());
        EXPECT_LE(names.size(), marks.locatorLines().size());
    }
    // The set's bars of one beat, 2 points apart, did crowd.
    drawMarks(60.0, clock.now(), &set);
    EXPECT_GT(marks.barLines().size(), 100u);
}

TEST_F(TimelineMarksTest, TheBarAtAMomentFollowsTheLinesAndNeedsASampleNearby) {
    transport.play(0.0, 2.0, 10.0);  // 4/4 at 120 BPM: bar 2 begins 2 s in
    const double start = clock.now() - 10.0;
    clock.advance(3.0);              // stopped since
    LiveSet waltz;
    waltz.signatures = {{0.0, 3.0}};
    const LiveSync* sync = &transport.sync();
    struct Case {
        double at;
        const LiveSet* set;
        std::optional<int> bar;
    };
    const Case cases[] = {
        {start + 1.97, nullptr, 1},
        {start + 2.03, nullptr, 2},    // between two samples: where the line is drawn
        {start + 1.53, &waltz, 2},     // 3 beats a bar
        {start + 10.4, nullptr, 5},    // 0.46 s past the last sample: still that one
        {start + 10.7, nullptr, std::nullopt},  // nothing within 0.6 s
        {start - 5.0, nullptr, std::nullopt},
    };
    for (const Case& c : cases) {
        const Frame frame = painter.frame(sync, c.set);
        EXPECT_EQ(TimelineMarks::barNumber(frame, c.at), c.bar) << c.at - start;
    }
    EXPECT_EQ(TimelineMarks::barNumber(painter.frame(nullptr, nullptr), start + 2.0), std::nullopt);
}

}  // namespace
}  // namespace crestline
