// How the view composes its displays: what each is given (rectangle, theme,
// reading, sources), what it may touch (its panel only) and what it gives
// back (zones).
#include "bar/analyser_source.h"
#include "live/live_sync.h"
#include "tests/bar/transport_fixture.h"

namespace crestline {
namespace {

// Records what it was handed and paints past its rectangle on purpose.
class ProbeDisplay final : public ModuleDisplay {
public:
    explicit ProbeDisplay(ColorArea area) : area_(area) {}
    ColorArea area() const override { return area_; }
    void draw(Canvas& canvas, const Rect& given, const Frame& frame, Zones& zones) override {
        ++frames;
        rect = given;
        fill = frame.theme.meterFill;
        integrated = frame.reading.integrated;
        scope = frame.scope;
        sync = frame.sync;
        liveSet = frame.liveSet;
        canvas.fill(given.insetBy(-50, -50), Colour{1, 0, 0, 1});
        zones.addHint(given, Hint::imager);
        zones.addReset(given, ResetTarget::of(ResetTarget::Kind::graphView));
    }

    int frames = 0;
    Rect rect;
    Colour fill;
    double integrated = 0;
    const ScopeBuffer* scope = nullptr;
    const LiveSync* sync = nullptr;
    const LiveSet* liveSet = nullptr;

private:
    ColorArea area_;
};

class ModuleDisplayTest : public testing::BarFixture {
protected:
    ProbeDisplay& probe(GraphKind kind) {
        auto display = std::make_unique<ProbeDisplay>(colorArea(kind));
        ProbeDisplay& held = *display;
        view.replaceDisplay(kind, std::move(display));
        return held;
    }
};

TEST_F(ModuleDisplayTest, EachGraphGetsItsPanelAndItsAccentAndCannotPaintOutsideIt) {
    BarTheme theme = BarTheme::liveLight();
    theme.panel = Colour{0.5, 0.5, 0.5, 1.0};
    settings.setAccentColor(Rgb{0.0, 1.0, 0.0}, ColorArea::history);
    view.setTheme(theme);
    ProbeDisplay& scope = probe(GraphKind::scope);
    ProbeDisplay& history = probe(GraphKind::history);
    const QImage image = render(1400);
    EXPECT_EQ(scope.rect, layout.areaShapes.at(ColorArea::scope));
    EXPECT_EQ(history.rect, layout.areaShapes.at(ColorArea::history));
    EXPECT_EQ(history.fill, (Colour{0.0, 1.0, 0.0, 1.0}));
    EXPECT_EQ(scope.fill, view.areaThemes().at(ColorArea::scope).meterFill);
    // Red inside the panels only: not above, below, or in the gap between them.
    const auto red = [](QColor c) { return c.red() > 200 && c.green() < 50; };
    const Rect s = scope.rect;
    EXPECT_GT(count(image, s.insetBy(2, 2), red), 100);
    EXPECT_EQ(count(image, Rect{s.minX(), 0.5, s.width, s.minY() - 1}, red), 0);
    EXPECT_EQ(count(image, Rect{s.maxX() + 1, s.minY(), history.rect.minX() - s.maxX() - 2, s.height}, red), 0);
    // The zones a display registers reach the pointer code.
    const auto resets = std::count_if(layout.resetZones.begin(), layout.resetZones.end(),
                                      [](const auto& z) { return z.second.kind == ResetTarget::Kind::graphView; });
    EXPECT_EQ(resets, 2);
}

TEST_F(ModuleDisplayTest, AFrozenModuleKeepsTheReadingItFroze) {
    ProbeDisplay& scope = probe(GraphKind::scope);
    ProbeDisplay& history = probe(GraphKind::history);
    meter.value.integrated = -20;
    view.pointer.frozenArea = ColorArea::history;
    render(1400);
    meter.value.integrated = -10;
    render(1400);
    EXPECT_EQ(history.integrated, -20);
    EXPECT_EQ(scope.integrated, -10);
    EXPECT_EQ(history.frames, 2);
}

TEST_F(ModuleDisplayTest, DisplaysReadTheSourcesAnalysersTheSyncAndTheSet) {
    ProbeDisplay& scope = probe(GraphKind::scope);
    render(1400);
    EXPECT_EQ(scope.scope, nullptr);  // a source of plain values has no analysers
    EXPECT_EQ(scope.sync, nullptr);
    EXPECT_EQ(scope.liveSet, nullptr);

    AnalyserSource analysers;
    BarView fed(settings, &analysers, clock);
    auto display = std::make_unique<ProbeDisplay>(ColorArea::scope);
    ProbeDisplay& seen = *display;
    fed.replaceDisplay(GraphKind::scope, std::move(display));
    LiveSync sync(clock, std::make_unique<testing::NoMidi>());
    LiveSet set;
    set.locators = {{16.0, "Drop"}};
    fed.setSync(&sync);
    fed.setLiveSet(set);
    renderBar(fed, {1400, 36}, 2.0);
    EXPECT_EQ(seen.scope, &analysers.scopeBuffer());
    EXPECT_EQ(seen.sync, &sync);
    ASSERT_NE(seen.liveSet, nullptr);
    EXPECT_EQ(seen.liveSet->locators, set.locators);

    // The display link also runs while Live's transport speaks.
    EXPECT_FALSE(fed.step());
    {
        std::scoped_lock lock(sync.lock());
        sync.applyHelper({{"type", "position"}, {"beat", 4.0}, {"playing", true}}, clock.now());
    }
    EXPECT_TRUE(fed.step());
    clock.advance(1.6);
    EXPECT_FALSE(fed.step());
}

TEST(AnalyserSource, FeedsTheCapturesRoadAndRecordsAColumnPer40msOfAudio) {
    AnalyserSource source;
    ASSERT_FALSE(source.configure(0.0));
    ASSERT_TRUE(source.configure(48000));
    std::vector<float> left(1000), right(1000);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(i) / 48000.0));
        right[i] = left[i];
    }
    right[10] = std::numeric_limits<float>::quiet_NaN();  // becomes 0, poisons nothing
    // 48 blocks of 1000 frames: one second of audio in odd pieces.
    for (int block = 0; block < 48; ++block) source.feed(left.data(), right.data(), 1000);
    EXPECT_EQ(source.framesFed(), 48000u);
    EXPECT_EQ(source.recorder().filled(), 25);
    source.recordColumnsFrom(96000);  // none for the next second
    for (int block = 0; block < 48; ++block) source.feed(left.data(), right.data(), 1000);
    EXPECT_EQ(source.recorder().filled(), 26);  // the one at the end of it
    EXPECT_EQ(source.scopeBuffer().totalFrames(), 96000u);
    EXPECT_NEAR(source.takePeaks().left, 20 * std::log10(0.5), 0.01);
    const LoudnessReading reading = source.reading();
    EXPECT_TRUE(std::isfinite(reading.momentary));
    EXPECT_GT(source.activity(), 0u);
}

}  // namespace
}  // namespace crestline
