// The loudness history: its numbers (span, level mapping, columns, texts)
// and, on offscreen renders of 30 s of a −12 LUFS sine with true-peak overs
// between 10 and 11 s, where the graph, the target colouring, the peak
// marks, the dynamics strip, the legend and the read-out land.
#include "bar/history_display.h"

#include <cmath>
#include <vector>

#include "bar/analyser_source.h"
#include "tests/bar/transport_fixture.h"

namespace crestline {
namespace {

using testing::Transport;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// 30 s at 48 kHz of a 1 kHz sine of amplitude 0.25 in both channels
// (−12 LUFS, −12 dBTP), with a spike of +0.9 every 10 ms from 10 to 11 s.
void feedSine(AnalyserSource& source, double seconds, double spikesFrom = 10.0, double spikesTo = 11.0) {
    constexpr int kBlock = 480;
    std::vector<float> block(kBlock);
    const long total = std::lround(seconds * 48000);
    for (long start = 0; start < total; start += kBlock) {
        for (int i = 0; i < kBlock; ++i) {
            const long n = start + i;
            const double t = n / 48000.0;
            block[i] = static_cast<float>(0.25 * std::sin(2.0 * M_PI * 1000.0 * t));
            if (i == 0 && t >= spikesFrom && t < spikesTo) block[i] += 0.9f;
        }
        source.feed(block.data(), block.data(), kBlock);
    }
}

AnalyserSource& thirtySeconds() {
    static AnalyserSource* source = [] {
        auto* s = new AnalyserSource(4096);
        s->configure(48000.0);
        feedSine(*s, 30.0);
        return s;
    }();
    return *source;
}

bool reddish(QColor c) { return c.red() - c.green() > 100; }
bool whitish(QColor c) { return c.red() > 190 && c.green() > 190 && c.blue() > 190; }
bool lit(QColor c) { return c.red() > 90; }  // the orange fill over the dark track

class HistoryDisplayTest : public testing::BarFixture {
protected:
    HistoryDisplayTest() {
        settings.setModuleOrder({ColorArea::history});
        settings.setHistoryMinutes(1.0);
        fed.setTheme(BarTheme::liveDark());
    }
    QImage draw(double height = 60.0) { return renderBar(fed, {900, height}, 2.0); }
    HistoryDisplay& history() { return static_cast<HistoryDisplay&>(fed.display(GraphKind::history)); }
    Rect field() const { return fed.layout().historyField.value(); }  // after a frame
    // x of the moment `secondsIntoAudio` of the 30 s fed, in a one-minute span.
    double xAt(double secondsIntoAudio) const { return field().minX() + (30.0 + secondsIntoAudio) / 60.0 * field().width; }
    double yAt(double lufs) const { return HistoryDisplay::levelY(lufs, field()); }

    BarView fed{settings, &thirtySeconds(), clock};
};

TEST(HistoryDisplay, SpanValueCountAndLevelMapping) {
    const std::tuple<double, double, int> spans[] = {
        {1.0, 60.0, 600}, {0.5, 30.0, 300}, {10.0, 600.0, 6000}, {0.0, 60.0, 600}, {-2.0, 60.0, 600}};
    for (const auto& [minutes, seconds, values] : spans) {
        EXPECT_DOUBLE_EQ(HistoryDisplay::spanSeconds(minutes), seconds);
        EXPECT_EQ(HistoryDisplay::valueCount(seconds), values) << minutes;
    }
    const Rect field{10, 2, 100, 36};
    const std::pair<double, double> levels[] = {{-40.0, 2.0}, {-36.0, 2.0}, {-18.0, 20.0}, {-9.0, 29.0},
                                                {0.0, 38.0},  {3.0, 38.0},  {-kInf, 2.0},  {std::nan(""), 2.0}};
    for (const auto& [lufs, y] : levels) EXPECT_DOUBLE_EQ(HistoryDisplay::levelY(lufs, field), y) << lufs;
}

TEST(HistoryDisplay, ColumnsSummariseTheirValuesWithTheAvailableOnesAtTheRight) {
    HistoryDisplay::Tracks tracks;
    const auto fill = [&](HistorySource s, std::vector<float> v) { tracks[static_cast<std::size_t>(s)] = std::move(v); };
    // Six values of a ten-value span over five columns of two values each.
    fill(HistorySource::momentary, {-20, -10, kNaN, -30, -15, -14});
    fill(HistorySource::shortTerm, {-20, -21, -22, -23, -float(kInf), -25});
    fill(HistorySource::integrated, {-18, -17, -16, kNaN, -15, -float(kInf)});
    fill(HistorySource::truePeak, {-3, -0.5f, -2, -1, -1.5f, -6});
    fill(HistorySource::psr, {8, 4, kNaN, 9, 6, 7});
    std::vector<HistoryDisplay::Column> columns;
    HistoryDisplay::buildColumns(tracks, 10, 6, Rect{100, 0, 5, 20}, columns);
    ASSERT_EQ(columns.size(), 5u);
    EXPECT_FALSE(columns[0].present);  // covers values −4 and −3: not there yet
    EXPECT_FALSE(columns[1].present);
    EXPECT_TRUE(columns[2].present);
    EXPECT_DOUBLE_EQ(columns[2].x, 102.0);
    // Column 2: values 0 and 1.
    EXPECT_EQ(columns[2].m, -10);
    EXPECT_EQ(columns[2].s, -20);
    EXPECT_EQ(columns[2].i, -17);  // the last one
    EXPECT_EQ(columns[2].peak, -0.5);
    EXPECT_EQ(columns[2].psr, 4);
    // Column 3: values 2 and 3; the NaNs and −∞ are skipped.
    EXPECT_EQ(columns[3].m, -30);
    EXPECT_EQ(columns[3].i, -16);
    EXPECT_EQ(columns[3].psr, 9);
    // Column 4: a series without a finite value reads −∞ (+∞ for PSR).
    EXPECT_EQ(columns[4].s, -25);
    EXPECT_EQ(columns[4].i, -15);

    // More columns than values: each column still shows one.
    HistoryDisplay::buildColumns(tracks, 6, 6, Rect{0, 0, 12, 20}, columns);
    ASSERT_EQ(columns.size(), 12u);
    for (const auto& column : columns) EXPECT_TRUE(column.present);
    EXPECT_EQ(columns[11].peak, -6);

    // A copy of a longer span (kept while frozen) shows its newest values.
    HistoryDisplay::buildColumns(tracks, 2, 6, Rect{0, 0, 2, 20}, columns);
    EXPECT_EQ(columns[0].peak, -1.5);
    EXPECT_EQ(columns[1].peak, -6);
}

TEST(HistoryDisplay, ValueTextsAndLegends) {
    const std::pair<double, const char*> values[] = {
        {-12.04, "\u221212.0"}, {3.06, "3.1"}, {-99.0, "\u2212\u221e"}, {-140.0, "\u2212\u221e"},
        {-kInf, "\u2013"},      {std::nan(""), "\u2013"}, {-0.04, "\u22120.0"}};
    for (const auto& [value, text] : values) {
        std::string out = "x";
        HistoryDisplay::appendValueText(value, out);
        EXPECT_EQ(out, std::string("x") + text) << value;
    }
    using S = HistorySource;
    EXPECT_EQ(HistoryDisplay::legend(1.0, std::vector{S::shortTerm, S::integrated}, false), "1 min \u00b7 Short-term \u00b7 Integrated");
    EXPECT_EQ(HistoryDisplay::legend(0.5, std::vector{S::momentary, S::shortTerm}, true), "30 s \u00b7 M \u00b7 S");
    EXPECT_EQ(HistoryDisplay::legend(10.0, {}, false), "10 min");
    EXPECT_EQ(HistoryDisplay::legend(2.75, std::vector{S::truePeak, S::psr}, true), "2 min \u00b7 TP \u00b7 PSR");
}

TEST_F(HistoryDisplayTest, HalfASpanOfHistoryFillsOnlyTheRightHalf) {
    const QImage image = draw();
    const auto& columns = history().columns();
    const auto firstPresent = std::find_if(columns.begin(), columns.end(), [](const auto& c) { return c.present; });
    ASSERT_NE(firstPresent, columns.end());
    EXPECT_NEAR(firstPresent->x, xAt(0.0), 1.5);
    EXPECT_TRUE(std::all_of(firstPresent, columns.end(), [](const auto& c) { return c.present; }));
    // Track colour on the left, the short-term fill on the right.
    EXPECT_FALSE(lit(pixelAt(image, xAt(-15.0), yAt(-20.0))));
    EXPECT_TRUE(lit(pixelAt(image, xAt(15.0), yAt(-20.0))));
    EXPECT_FALSE(lit(pixelAt(image, xAt(15.0), yAt(-6.0))));  // above the −12 LUFS level
}

TEST_F(HistoryDisplayTest, TheFilledSeriesIsShortTermElseMomentaryElseIntegrated) {
    using S = HistorySource;
    const std::pair<std::vector<S>, bool> cases[] = {
        {{S::momentary}, true}, {{S::integrated}, true}, {{S::momentary, S::shortTerm}, true}, {{}, false}};
    for (const auto& [shown, filled] : cases) {
        settings.setHistoryShows(shown);
        const QImage image = draw();
        EXPECT_EQ(lit(pixelAt(image, xAt(20.0), yAt(-24.0))), filled) << shown.size();
    }
}

TEST_F(HistoryDisplayTest, IntegratedTurnsRedWhereItIsMoreThanOneLUOverTheTarget) {
    // The integrated line runs at −12 LUFS over the short-term fill.
    draw();
    const Point probe{xAt(20.0), 0.0};
    struct Case {
        std::optional<double> target;
        bool red;
    };
    const Case cases[] = {{-14.0, true}, {-13.5, true}, {-12.5, false}, {std::nullopt, false}};
    for (const Case& c : cases) {
        settings.setHistoryTargetLUFS(c.target);
        const QImage image = draw();
        const QColor line = pixelAt(image, probe.x, yAt(-12.04));
        EXPECT_EQ(reddish(line), c.red) << c.target.value_or(0);
        EXPECT_EQ(whitish(line), !c.red) << c.target.value_or(0);
    }
    // The target line: drawn with integrated, not without it.
    settings.setHistoryTargetLUFS(-20.0);
    const auto targetColour = [&](const QImage& image) {
        const QColor c = pixelAt(image, xAt(20.0), yAt(-20.0));
        return c.red() > 200 && c.green() > 100 && c.green() < 190 && c.blue() < 100;
    };
    EXPECT_TRUE(targetColour(draw()));
    settings.setHistoryShows({HistorySource::shortTerm});
    EXPECT_FALSE(targetColour(draw()));
}

TEST_F(HistoryDisplayTest, PeakMarksSitOverTheStretchWithTruePeakOverMinusOne) {
    QImage image = draw();
    const Rect f = field();
    const double top = f.maxY() - HistoryDisplay::kMarkHeight / 2.0;
    for (double t = 0.5; t < 30.0; t += 0.25) {
        const bool overs = t > 10.1 && t < 10.9;
        const bool clear = t < 9.7 || t > 11.3;  // a column and a hop of slack at either end
        if (overs || clear) {
            EXPECT_EQ(reddish(pixelAt(image, xAt(t), top)), overs) << t;
        }
    }
    settings.setHistoryPeakMarks(false);
    image = draw();
    EXPECT_FALSE(reddish(pixelAt(image, xAt(10.5), top)));
}

TEST_F(HistoryDisplayTest, TheDynamicsStripMarksASquashedMixAlongTheFoot) {
    // A sine's true peak sits on its loudness: a PSR near 0 dB.
    settings.setHistoryDynamics(true);
    const QImage image = draw();
    const double foot = field().minY() + 1.5;
    EXPECT_TRUE(reddish(pixelAt(image, xAt(20.0), foot)));
    EXPECT_FALSE(reddish(pixelAt(image, xAt(-20.0), foot)));  // no values yet: the neutral band
    settings.setHistoryDynamics(false);
    EXPECT_FALSE(reddish(pixelAt(draw(), xAt(20.0), foot)));
}

TEST_F(HistoryDisplayTest, TheReadOutNamesTheBarAndTheValuesAndAlwaysEndsWithTruePeak) {
    draw();
    fed.pointer.historyPointerX = xAt(20.0);
    settings.setHistoryShows({HistorySource::momentary, HistorySource::integrated});
    draw();
    EXPECT_EQ(history().readout(), "\u221212.0 M \u00b7 \u221212.0 I \u00b7 \u221212.0 TP");

    // With Live playing (4/4 at 120 BPM for the whole minute) the bar leads.
    Transport transport(clock);
    clock.set(clock.now() - 60.0);
    transport.play(0.0, 2.0, 60.0);
    fed.setSync(&transport.sync());
    settings.setHistoryShows({});
    const QImage image = draw();
    // 50 s into the minute: beat 100, bar 26.
    EXPECT_EQ(history().readout(), "Bar 26 \u00b7 \u221212.0 TP");
    // The pointer's line runs over the field.
    const double lineX = std::trunc(xAt(20.0)) + 0.5;
    EXPECT_GT(qGray(pixelAt(image, lineX, yAt(-6.0)).rgb()), 120);
    fed.pointer.historyPointerX.reset();
    EXPECT_LT(qGray(pixelAt(draw(), lineX, yAt(-6.0)).rgb()), 60);
    fed.pointer.historyPointerX = xAt(20.0);

    // Over the part without history: the line, but no read-out.
    fed.pointer.historyPointerX = xAt(-10.0);
    draw();
    EXPECT_EQ(history().readout(), "");

    // A narrow history drops the first items rather than cutting the pill
    // at the field's edge; the true peak stays.
    settings.setHistoryShows({HistorySource::momentary, HistorySource::shortTerm, HistorySource::integrated});
    for (const double width : {300.0, 200.0, 120.0}) {
        renderBar(fed, {width, 60.0}, 2.0);
        fed.pointer.historyPointerX = field().minX() + 0.9 * field().width;
        renderBar(fed, {width, 60.0}, 2.0);
        ASSERT_TRUE(history().readoutPill()) << width;
        EXPECT_GE(history().readoutPill()->minX(), field().minX()) << width;
        EXPECT_LE(history().readoutPill()->maxX(), field().maxX()) << width;
        EXPECT_TRUE(history().readout().ends_with("−12.0 TP")) << history().readout();
    }
}

TEST_F(HistoryDisplayTest, TheLegendGivesWayToLocatorNamesAndNeedsFortyPoints) {
    Transport transport(clock);
    clock.set(clock.now() - 60.0);
    transport.play(0.0, 2.0, 60.0);
    fed.setSync(&transport.sync());
    draw(60.0);
    ASSERT_TRUE(history().legendRect());
    const Rect right = *history().legendRect();
    EXPECT_NEAR(right.maxX(), field().maxX() - 5.0, 1e-9);
    draw(36.0);
    EXPECT_FALSE(history().legendRect());

    // A name at the top right: the legend moves to the left; names at both ends: no legend.
    transport.locators({{116.0, "Outro"}});
    draw(60.0);
    ASSERT_TRUE(history().legendRect());
    EXPECT_NEAR(history().legendRect()->minX(), field().minX() + 5.0, 1e-9);
    transport.locators({{2.0, "Intro"}, {116.0, "Outro"}});
    draw(60.0);
    EXPECT_FALSE(history().legendRect());
}

TEST_F(HistoryDisplayTest, AFrozenHistoryStandsStillUntilItThaws) {
    AnalyserSource source(4096);
    source.configure(48000.0);
    feedSine(source, 5.0, 0.0, 0.0);
    BarView frozen(settings, &source, clock);
    auto& display = static_cast<HistoryDisplay&>(frozen.display(GraphKind::history));
    const auto present = [&] {
        renderBar(frozen, {900, 60}, 2.0);
        return std::count_if(display.columns().begin(), display.columns().end(), [](const auto& c) { return c.present; });
    };
    const auto before = present();
    frozen.pointer.frozenArea = ColorArea::history;
    feedSine(source, 5.0, 0.0, 0.0);
    EXPECT_EQ(present(), before);
    frozen.pointer.frozenArea.reset();
    EXPECT_GT(present(), before);
}

}  // namespace
}  // namespace crestline
