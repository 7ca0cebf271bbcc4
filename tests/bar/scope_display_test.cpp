// The oscilloscope: its numbers (trigger, copy sizes, the synced cycle's
// path and smoothing, the marks it may draw) and what it draws from a
// scope buffer and a transport, painted offscreen.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <vector>

#include "bar/analyser_source.h"
#include "bar/scope_display.h"
#include "bar/text_cache.h"
#include "live/live_sync.h"
#include "platform/clock.h"
#include "settings/settings.h"
#include "tests/bar/transport_fixture.h"

namespace crestline {
namespace {

using scope::SyncPlan;
using scope::TriggerPoint;

std::vector<float> sine(int frames, double period, double shift, double amplitude = 1.0) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        out[static_cast<std::size_t>(i)] =
            static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * (i - shift) / period));
    }
    return out;
}

TEST(ScopeMath, TriggerFindsTheLastArmedRisingCrossingWithItsFraction) {
    // Rising crossings at 10.3, 110.3 and 210.3; only the first 200 count.
    const std::vector<float> wave = sine(400, 100.0, 10.3);
    const TriggerPoint found = scope::findTrigger(wave, 200);
    EXPECT_EQ(found.start, 111);
    EXPECT_NEAR(found.fraction, 0.3, 0.002);

    EXPECT_EQ(scope::findTrigger(std::vector<float>(400, 0.0f), 200), (TriggerPoint{200, 1.0}));
    EXPECT_EQ(scope::findTrigger(std::vector<float>(400, 5e-6f), 200), (TriggerPoint{200, 1.0}));
    // Never below a quarter of the peak, negated: never armed.
    std::vector<float> shallow = sine(400, 100.0, 0.0, 0.1);
    for (float& v : shallow) v += 0.5f;
    shallow[50] = -0.01f;
    EXPECT_EQ(scope::findTrigger(shallow, 200), (TriggerPoint{200, 1.0}));
    // Ripple around zero after a crossing does not re-trigger until the
    // signal has fallen far enough again.
    std::vector<float> ripple(40, 0.0f);
    ripple[4] = -1.0f, ripple[5] = 0.5f, ripple[10] = -0.1f, ripple[11] = 0.2f;
    EXPECT_EQ(scope::findTrigger(ripple, 20).start, 5);
}

TEST(ScopeMath, CopySizesPerWindowAndRate) {
    const std::tuple<double, double, int> triggered[] = {
        {48000.0, 40.0, 1920}, {48000.0, 10.0, 480}, {44100.0, 250.0, 11025}, {1000.0, 10.0, 32}, {std::nan(""), 10.0, 32}};
    for (const auto& [rate, ms, frames] : triggered) EXPECT_EQ(scope::triggeredFrames(rate, ms), frames) << rate;
    const std::tuple<double, double, int> overview[] = {
        {48000.0, 30.0, 22500}, {44100.0, 1.0, 689}, {768000.0, 30.0, 225000}, {0.0, 4.0, 0}, {-48000.0, 4.0, 0}};
    for (const auto& [rate, seconds, chunks] : overview) EXPECT_EQ(scope::overviewChunks(rate, seconds), chunks) << rate;

    // Columns cover every chunk once, each at least one.
    int next = 0;
    for (int c = 0; c < 300; ++c) {
        const scope::ChunkRange r = scope::overviewColumnChunks(c, 300, 22500);
        EXPECT_EQ(r.first, next);
        next = r.end;
    }
    EXPECT_EQ(next, 22500);
    EXPECT_EQ(scope::overviewColumnChunks(299, 300, 10).end, 10);
}

TEST(ScopeMath, SyncedCycleTakesFramesOrChunks) {
    const double rate = 48000.0;
    const int capacity = ScopeBuffer::kEngineCapacity;
    const double beat120 = rate / 2.0;  // frames per beat at 120 BPM
    struct Case {
        double frames;
        bool byFrequency;
        int capacity;
        std::optional<SyncPlan> plan;
    };
    for (const Case& c : std::vector<Case>{
             {beat120, false, capacity, SyncPlan{false, 24000}},           // 1 beat at 120
             {64 * beat120, false, capacity, SyncPlan{true, 24000}},       // 16 bars of 4/4
             {rate / 5.0, true, capacity, SyncPlan{true, 150}},            // 1 beat at 300, by frequency
             {2.5 * rate, false, capacity, SyncPlan{false, 120000}},
             {2.5 * rate + 1, false, capacity, SyncPlan{true, 1875}},
             {9600.0, false, 10000, SyncPlan{true, 150}},                  // beyond 95 % of the ring
             {33.0, false, capacity, SyncPlan{false, 33}},
             {32.9, false, capacity, std::nullopt},
             {575.0, true, capacity, std::nullopt},
             {1e12, false, capacity, SyncPlan{true, 225000}},
             {std::numeric_limits<double>::infinity(), false, capacity, SyncPlan{true, 225000}},
             {std::nan(""), false, capacity, std::nullopt},
         }) {
        EXPECT_EQ(scope::planSyncedCycle(c.frames, rate, c.capacity, c.byFrequency), c.plan) << c.frames;
    }
    EXPECT_EQ(scope::planSyncedCycle(24000.0, 0.0, capacity, false), std::nullopt);
}

TEST(ScopeMath, BeatSmoothingGlidesAndSnapsOnALocate) {
    scope::BeatSmoother smoother;
    const double rate = 48000.0;
    // The first reading snaps.
    EXPECT_DOUBLE_EQ(smoother.update(48000.0, 10.0, 2.0, rate), 10.0);
    EXPECT_DOUBLE_EQ(smoother.beatsPerFrame(), 2.0 / rate);
    // A clock 0.1 beat ahead of the prediction pulls 3 % of the way.
    EXPECT_NEAR(smoother.update(96000.0, 12.1, 2.0, rate), 12.0 + 0.003, 1e-9);
    // The tempo moves 2 % towards the clock's.
    smoother.update(144000.0, 14.003, 2.5, rate);
    EXPECT_NEAR(smoother.beatsPerFrame(), (2.0 + 0.02 * 0.5) / rate, 1e-12);
    // A locate (more than a quarter beat off) snaps beat and tempo.
    EXPECT_DOUBLE_EQ(smoother.update(192000.0, 64.0, 2.0, rate), 64.0);
    EXPECT_DOUBLE_EQ(smoother.beatsPerFrame(), 2.0 / rate);
    // So does a frame count that went back, and a lost clock.
    EXPECT_DOUBLE_EQ(smoother.update(1000.0, 64.1, 2.0, rate), 64.1);
    smoother.forget();
    EXPECT_DOUBLE_EQ(smoother.update(49000.0, 70.0, 2.0, rate), 70.0);
}

TEST(ScopeMath, MarksStayBoundedWhateverTheBeatsClaim) {
    std::vector<double> lines;
    scope::cycleDivisions(16.0, 4.0, lines);  // 4 bars
    EXPECT_EQ(lines, (std::vector<double>{0.25, 0.5, 0.75}));
    scope::cycleDivisions(4.0, 4.0, lines);  // 1 bar: its beats
    EXPECT_EQ(lines.size(), 3u);
    scope::cycleDivisions(1.0, 4.0, lines);  // 1 beat: nothing to divide
    EXPECT_TRUE(lines.empty());
    scope::cycleDivisions(68.0, 4.0, lines);  // 17 bars: too many
    EXPECT_TRUE(lines.empty());

    std::vector<scope::SyncMark> marks;
    // 16 bars of 4/4 at beat 70 over 150 points: every 4th bar, 1, 5, 9, 13,
    // with the bars before the cycle's start right of now.
    scope::barMarks(70.0, 64.0, 4.0, 150.0, nullptr, marks);
    ASSERT_EQ(marks.size(), 4u);
    EXPECT_EQ(marks[0].bar, 17);
    EXPECT_DOUBLE_EQ(marks[0].position, 0.0);
    EXPECT_EQ(marks[1].bar, 5);
    EXPECT_DOUBLE_EQ(marks[1].position, 0.25);
    // Beats per bar no set could hold: a bounded number of labels.
    scope::barMarks(70.0, 64.0, 1e-3, 150.0, nullptr, marks);
    EXPECT_LE(marks.size(), 51u);
    EXPECT_EQ(scope::usableBeatsPerBar(1e-3), 0.25);
    EXPECT_EQ(scope::usableBeatsPerBar(std::nan("")), 4.0);
    EXPECT_EQ(scope::usableBeatsPerBar(1e9), 396.0);

    // A hundred thousand locators in one cycle: at most one line per few points.
    std::vector<LiveSet::Locator> many;
    for (int i = 0; i < 100000; ++i) many.push_back({64.0 + i * 64.0 / 100000.0, "x"});
    scope::locatorMarks(127.0, 64.0, 150.0, many, marks);
    EXPECT_LE(marks.size(), 51u);
    EXPECT_GT(marks.size(), 10u);
    // Now at beat 40 of a 16-beat cycle (32…48): a locator at 34 is left of
    // now, one at 30 belongs to the previous cycle's end, right of now.
    const std::vector<LiveSet::Locator> two{{30.0, "A"}, {34.0, "B"}, {50.0, "C"}};
    scope::locatorMarks(40.0, 16.0, 160.0, two, marks);
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].locator, 1);
    EXPECT_DOUBLE_EQ(marks[0].position, 2.0 / 16.0);
    EXPECT_EQ(marks[1].locator, 0);
    EXPECT_DOUBLE_EQ(marks[1].position, 14.0 / 16.0);
}

// One scope display drawn straight into an image, fed by analysers of its
// own and, when asked, a transport.
class ScopeDisplayTest : public ::testing::Test {
protected:
    ScopeDisplayTest() { testing::guiApplication(); }

    QImage draw(Rect rect, double scale = 2.0, bool transport = false, const LiveSet* set = nullptr) {
        const Size bounds{rect.maxX() + 10.0, rect.maxY() + 10.0};
        QImage image(static_cast<int>(bounds.width * scale), static_cast<int>(bounds.height * scale),
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::black);
        QPainter painter(&image);
        Canvas canvas(painter, bounds.height, scale, texts);
        zones.clear();
        const Frame frame{.area = ColorArea::scope, .theme = theme, .barTheme = theme, .settings = settings,
                          .pointer = pointer, .gradients = gradients, .bounds = bounds, .scale = scale,
                          .now = clock.now(), .reading = {}, .scope = &source.scopeBuffer(),
                          .loudness = nullptr, .spectrogram = nullptr, .spectrum = nullptr,
                          .sync = transport ? &sync : nullptr, .liveSet = set};
        display.draw(canvas, rect, frame, zones);
        return image;
    }
    void feed(const std::vector<float>& left, const std::vector<float>& right) {
        source.feed(left.data(), right.data(), static_cast<int>(left.size()));
    }
    // Helper positions at `bpm` every 1/8 s for two seconds, ending now (on
    // whole clock ticks at 120 and 300 BPM).
    void play(double bpm, double fromBeat) {
        for (int i = 0; i < 16; ++i) {
            clock.advance(0.125);
            std::scoped_lock held(sync.lock());
            sync.applyHelper({{"type", "position"}, {"beat", fromBeat + (i + 1) * 0.125 * bpm / 60.0}, {"playing", true}},
                             clock.now());
        }
    }
    static QColor pixel(const QImage& image, double x, double y) {
        const double s = image.devicePixelRatio();
        return image.pixelColor(static_cast<int>(x * s), image.height() - 1 - static_cast<int>(y * s));
    }

    FakeClock clock;
    Settings settings{std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) /
                          (::testing::UnitTest::GetInstance()->current_test_info()->name() + std::string(".json")),
                      clock, Settings::Writing::manual};
    AnalyserSource source;
    LiveSync sync{clock, std::make_unique<testing::NoMidi>()};
    PointerState pointer;
    LevelGradients gradients;
    TextCache texts;
    BarTheme theme = BarTheme::liveLight();
    ScopeDisplay display;
    Zones zones;
};

TEST_F(ScopeDisplayTest, NarrowScopeDrawsNothingAndSilenceIsAFlatLineThroughTheMiddle) {
    draw({10, 10, 10, 40});
    EXPECT_FALSE(zones.scopeField);
    EXPECT_TRUE(zones.hintZones.empty());
    const Rect rect{10, 10, 11, 40};
    draw(rect);
    EXPECT_EQ(zones.scopeField, rect);

    const Rect wide{10, 10, 300, 60};
    const QImage image = draw(wide);
    EXPECT_EQ(display.triggeredFrames(), 1920);  // 40 ms at 48 kHz, the default window
    EXPECT_EQ(display.trigger(), (TriggerPoint{1920, 1.0}));
    const auto lit = [](QColor c) { return c.red() > 150; };  // the trace is a light orange
    EXPECT_TRUE(lit(pixel(image, wide.minX() + 1, wide.midY())));
    EXPECT_TRUE(lit(pixel(image, wide.maxX() - 1, wide.midY())));
    EXPECT_FALSE(lit(pixel(image, wide.midX(), wide.midY() + 4)));
    EXPECT_TRUE(display.note().empty());  // mid, the default mode, has no label
}

TEST_F(ScopeDisplayTest, TriggeredTraceStandsStillWhileASinePlays) {
    // 440 Hz: a period of 109.09 frames, so each block starts at another
    // fraction of a frame (545 frames on, almost half a frame). The
    // sub-frame start keeps the picture still.
    settings.setScopeWindow(ScopeWindow::ms10);
    const std::vector<float> wave = sine(48000 * 2, 48000.0 / 440.0, 0.0, 0.7);
    const std::size_t half = 48000;
    feed({wave.begin(), wave.begin() + half}, {wave.begin(), wave.begin() + half});
    const Rect rect{0, 0, 1200, 60};
    const QImage first = draw(rect);
    const TriggerPoint a = display.trigger();
    feed({wave.begin() + half, wave.begin() + half + 545}, {wave.begin() + half, wave.begin() + half + 545});
    const QImage second = draw(rect);
    EXPECT_NE(display.trigger().fraction, a.fraction);
    int differ = 0, lit = 0;
    for (int y = 0; y < first.height(); ++y) {
        for (int x = 0; x < first.width(); ++x) {
            const QColor p = first.pixelColor(x, y), q = second.pixelColor(x, y);
            lit += p.red() > 100;
            differ += std::abs(p.red() - q.red()) > 60;
        }
    }
    EXPECT_GT(lit, 1000);
    EXPECT_LT(differ, lit / 50) << differ << " of " << lit;
}

TEST_F(ScopeDisplayTest, WindowsReadTheirCopyAtTheBuffersRateAndNameThemselves) {
    source.configure(44100.0);
    settings.setScopeWindow(ScopeWindow::ms40);
    settings.setScopeMode(ScopeMode::stereo);
    draw({0, 0, 200, 60});
    EXPECT_EQ(display.triggeredFrames(), 1764);
    EXPECT_EQ(display.note(), "Stereo");

    settings.setScopeWindow(ScopeWindow::s30);
    settings.setScopeMode(ScopeMode::side);
    draw({0, 0, 200, 60});
    EXPECT_EQ(display.overviewCount(), 20671);  // 30 s at 44.1 kHz in 64-frame chunks
    EXPECT_EQ(display.note(), "Side \xC2\xB7 30 Seconds");
    draw({0, 0, 200, 29});
    EXPECT_TRUE(display.note().empty());  // too low for a note

    // Without a transport the beat windows wait for Live on the 40 ms scope.
    settings.setScopeWindow(ScopeWindow::bar1);
    settings.setScopeMode(ScopeMode::mid);
    draw({0, 0, 200, 60});
    EXPECT_EQ(display.note(), "1 Bar waits for Live");
    EXPECT_EQ(display.triggeredFrames(), 1764);
}

TEST_F(ScopeDisplayTest, OverviewShowsLoudAudioAsAnEnvelopeAndBassInRed) {
    settings.setScopeWindow(ScopeWindow::s1);
    // Half a second of silence, then half a second of a loud 60 Hz tone.
    std::vector<float> audio(48000, 0.0f);
    const std::vector<float> tone = sine(24000, 800.0, 0.0, 0.9);
    std::copy(tone.begin(), tone.end(), audio.begin() + 24000);
    feed(audio, audio);
    const Rect rect{0, 0, 300, 60};
    QImage image = draw(rect);
    const auto lit = [](QColor c) { return c.red() + c.green() + c.blue() > 300; };
    EXPECT_TRUE(lit(pixel(image, 250, 50)));   // the tone reaches 0.9 of the half height
    EXPECT_FALSE(lit(pixel(image, 50, 40)));   // silence stays on the axis
    settings.setScopeColorMap(ColorMap::frequency);
    image = draw(rect);
    const QColor bass = pixel(image, 250, 45);
    EXPECT_GT(bass.red(), 200);
    EXPECT_LT(bass.blue(), 60);
}

TEST_F(ScopeDisplayTest, SyncedViewFollowsTheBeatAndChoosesItsPath) {
    settings.setScopeWindow(ScopeWindow::beat1);
    play(120.0, 8.0);
    const Rect rect{0, 0, 300, 60};
    draw(rect, 2.0, true);
    ASSERT_TRUE(display.syncView().valid);
    EXPECT_FALSE(display.syncView().usesBlocks);
    EXPECT_EQ(display.syncView().length, 24000);
    EXPECT_NEAR(display.syncView().beatNow, 12.0, 1e-6);  // a first reading snaps
    EXPECT_EQ(display.note(), "1 Beat");

    settings.setScopeWindow(ScopeWindow::bars16);
    draw(rect, 2.0, true);
    EXPECT_TRUE(display.syncView().usesBlocks);
    EXPECT_EQ(display.syncView().length, 24000);
    EXPECT_DOUBLE_EQ(display.syncView().cycleBeats, 64.0);

    // A set in 3/4 makes a bar three beats.
    LiveSet set;
    set.signatures.push_back({0.0, 3.0});
    settings.setScopeWindow(ScopeWindow::bar1);
    draw(rect, 2.0, true, &set);
    EXPECT_DOUBLE_EQ(display.syncView().cycleBeats, 3.0);

    // A locate in Live snaps the view at once.
    play(120.0, 100.0);
    draw(rect, 2.0, true);
    EXPECT_NEAR(display.syncView().beatNow, 104.0, 1e-6);

    // Frozen, it keeps its phase whatever the clock says.
    pointer.frozenArea = ColorArea::scope;
    const double phase = display.syncView().phase;
    play(120.0, 200.0);
    draw(rect, 2.0, true);
    EXPECT_DOUBLE_EQ(display.syncView().phase, phase);
    pointer.frozenArea.reset();

    // Stopped: the clock is gone and the next reading snaps.
    {
        std::scoped_lock held(sync.lock());
        sync.applyHelper({{"type", "position"}, {"beat", 300.0}, {"playing", false}}, clock.now());
    }
    draw(rect, 2.0, true);
    EXPECT_EQ(display.note(), "1 Bar waits for Live");
    EXPECT_EQ(display.smoother().beatsPerFrame(), 0.0);

    // Frequency colouring takes the block path even for one beat.
    settings.setScopeWindow(ScopeWindow::beat1);
    settings.setScopeColorMap(ColorMap::frequency);
    play(300.0, 400.0);
    draw(rect, 2.0, true);
    EXPECT_TRUE(display.syncView().usesBlocks);
    EXPECT_EQ(display.syncView().length, 150);
}

TEST_F(ScopeDisplayTest, UntrustedBeatsPerBarDrawABoundedNumberOfLines) {
    // A set whose signature claims a thousandth of a beat per bar, with a
    // locator every hundredth of a beat.
    LiveSet set;
    set.signatures.push_back({0.0, 1e-3});
    for (int i = 0; i < 20000; ++i) set.locators.push_back({i * 0.01, ""});
    settings.setScopeWindow(ScopeWindow::bars16);
    play(120.0, 40.0);
    const Rect rect{0, 0, 150, 60};
    const QImage image = draw(rect, 1.0, true, &set);
    ASSERT_TRUE(display.syncView().valid);
    EXPECT_DOUBLE_EQ(display.syncView().beatsPerBar, scope::kFewestBeatsPerBar);
    // Count the locator lines along a row near the top, where nothing else is.
    int lines = 0;
    bool inLine = false;
    for (double x = 0.5; x < rect.maxX(); x += 1.0) {
        const bool on = pixel(image, x, rect.maxY() - 4).green() > 120;
        lines += on && !inLine;
        inLine = on;
    }
    EXPECT_GT(lines, 5);
    EXPECT_LE(lines, static_cast<int>(rect.width / scope::kMinimumMarkSpacing) + 1);
}

}  // namespace
}  // namespace crestline
