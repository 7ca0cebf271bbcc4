// One full bar frame drawn offscreen at scale 2: the 36-point inline row
// with the meter and two graph panels, and the 150-point horizontal
// dashboard, each 1920 points wide. Readings move every frame the way a
// playing track moves them (a cycle of values, so the text cache warms up
// as it does on screen). Target: 1 ms per frame or less. CPU time is the
// whole process's, so work Qt hands to its thread pool counts too.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "bar/analyser_source.h"
#include "bar/bar_picture.h"
#include "bar/bar_theme.h"
#include "bar/bar_view.h"
#include "bar/scope_display.h"
#include "live/live_sync.h"
#include "platform/clock.h"
#include "platform/midi_input.h"
#include "settings/settings.h"

#include <QPainter>
#include <memory>
#include <random>
#include <vector>

namespace crestline {
namespace {

QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "bar_bench";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        static std::string runtime = (std::filesystem::temp_directory_path() / "crestline-bar-bench").string();
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    return *app;
}

class CyclingMeter final : public MeterSource {
public:
    LoudnessReading reading() override {
        const double phase = static_cast<double>(frame_ % 64);
        LoudnessReading r;
        r.momentary = -14.0 + 0.1 * phase;
        r.shortTerm = -15.0 + 0.05 * phase;
        r.integrated = -16.0 + 0.01 * phase;
        r.loudnessRange = 5.3;
        r.shortTermPeak = -2.0;
        r.truePeak = -1.2;
        return r;
    }
    PeakLevels takePeaks() override {
        ++frame_;
        const double level = -6.0 - 12.0 * std::fabs(std::sin(frame_ * 0.1));
        return {level, level - 1.5};
    }
    std::uint64_t activity() override { return frame_; }

private:
    std::uint64_t frame_ = 0;
};

void drawFrames(benchmark::State& state, double height) {
    application();
    const auto file = std::filesystem::temp_directory_path() / "crestline-bar-bench-settings.json";
    std::filesystem::remove(file);
    Settings settings(file, systemClock(), Settings::Writing::manual);
    settings.setTargetLUFS(-14.0);
    CyclingMeter meter;
    BarView view(settings, &meter);
    view.setTheme(BarTheme::liveDark());
    view.setBounds({1920.0, height});
    view.setScale(2.0);
    QImage image(1920 * 2, static_cast<int>(height * 2), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    for (int warm = 0; warm < 128; ++warm) renderBar(view, image);
    for (auto _ : state) {
        renderBar(view, image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["layout"] = static_cast<double>(view.layout().meter.layout);
    std::filesystem::remove(file);
}

void BM_BarFrameInline1920x36(benchmark::State& state) { drawFrames(state, 36.0); }
void BM_BarFrameHorizontalDashboard1920x150(benchmark::State& state) { drawFrames(state, 150.0); }

BENCHMARK(BM_BarFrameInline1920x36)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_BarFrameHorizontalDashboard1920x150)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// ---- Each display alone -------------------------------------------------------

// Ten seconds of music-like audio: a kick on every beat at 120 BPM, two
// tones and noisy hats, different in the two channels.
void feedMusic(AnalyserSource& source) {
    constexpr int kRate = 48000;
    constexpr int kFrames = kRate * 10;
    std::vector<float> left(kFrames), right(kFrames);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    float previous = 0.0f;
    for (int i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double beat = 2.0 * t - std::floor(2.0 * t);
        const double kick = 0.6 * std::exp(-12.0 * beat) * std::sin(2.0 * M_PI * 50.0 * beat);
        const double tone = 0.25 * std::sin(2.0 * M_PI * 440.0 * t) + 0.1 * std::sin(2.0 * M_PI * 220.0 * t + 1.0);
        const float n = noise(random);
        const double hat = 0.05 * (n - previous);
        previous = n;
        left[static_cast<std::size_t>(i)] = static_cast<float>(kick + tone + hat);
        right[static_cast<std::size_t>(i)] = static_cast<float>(kick + 0.8 * tone - hat);
    }
    source.feed(left.data(), right.data(), kFrames);
}

class NoMidi final : public MidiInput {
public:
    MidiOpenResult open(const std::string&, Handler) override { return {MidiOpenResult::Failure::client, 0}; }
    void close() override {}
    bool isOpen() const override { return false; }
};

// The scope alone in a panel at scale 2, for one window: the whole width of
// a 1920-point bar, or the 384 points it gets beside four other graphs and
// the meter. The transport plays at 120 BPM with a message every 1/8 s.
void drawScope(benchmark::State& state, double height, ScopeWindow window, ColorMap colours, double width = 1920.0) {
    application();
    const auto file = std::filesystem::temp_directory_path() / "crestline-scope-bench-settings.json";
    std::filesystem::remove(file);
    FakeClock clock;
    Settings settings(file, clock, Settings::Writing::manual);
    settings.setScopeWindow(window);
    settings.setScopeMode(ScopeMode::stereo);
    settings.setScopeColorMap(colours);
    AnalyserSource source;
    feedMusic(source);
    LiveSync sync(clock, std::make_unique<NoMidi>());
    double beat = 0.0;
    const auto tick = [&] {
        clock.advance(0.125);
        beat += 0.25;
        std::scoped_lock held(sync.lock());
        sync.applyHelper({{"type", "position"}, {"beat", beat}, {"playing", true}}, clock.now());
    };
    for (int i = 0; i < 16; ++i) tick();

    const BarTheme& theme = BarTheme::scope();  // the one with glows: the most work
    PointerState pointer;
    LevelGradients gradients;
    TextCache texts;
    ScopeDisplay display;
    Zones zones;
    const Size bounds{1920.0, height};
    QImage image(3840, static_cast<int>(height * 2), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::black);
    const Rect rect{8.0, 4.0, width - 16.0, height - 8.0};
    int frame = 0;
    for (auto _ : state) {
        if (++frame % 8 == 0) tick();  // keeps the clock fresh, as on screen
        QPainter painter(&image);
        Canvas canvas(painter, height, 2.0, texts);
        zones.clear();
        const Frame f{.area = ColorArea::scope, .theme = theme, .barTheme = theme, .settings = settings,
                      .pointer = pointer, .gradients = gradients, .bounds = bounds, .scale = 2.0,
                      .now = clock.now(), .reading = {}, .scope = &source.scopeBuffer(), .loudness = nullptr,
                      .spectrogram = nullptr, .spectrum = nullptr, .sync = &sync, .liveSet = nullptr};
        display.draw(canvas, rect, f, zones);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["synced"] = display.syncView().valid ? 1.0 : 0.0;
    std::filesystem::remove(file);
}

void BM_ScopeTriggered40ms1920x36(benchmark::State& s) { drawScope(s, 36.0, ScopeWindow::ms40, ColorMap::module); }
void BM_ScopeTriggered40ms1920x150(benchmark::State& s) { drawScope(s, 150.0, ScopeWindow::ms40, ColorMap::module); }
void BM_ScopeOverview10s1920x36(benchmark::State& s) { drawScope(s, 36.0, ScopeWindow::s10, ColorMap::module); }
void BM_ScopeOverview10s1920x150(benchmark::State& s) { drawScope(s, 150.0, ScopeWindow::s10, ColorMap::module); }
void BM_ScopeOverviewByFrequency30s1920x150(benchmark::State& s) {
    drawScope(s, 150.0, ScopeWindow::s30, ColorMap::frequency);
}
void BM_ScopeSyncedBar1920x36(benchmark::State& s) { drawScope(s, 36.0, ScopeWindow::bar1, ColorMap::module); }
void BM_ScopeSyncedBar1920x150(benchmark::State& s) { drawScope(s, 150.0, ScopeWindow::bar1, ColorMap::module); }
void BM_ScopeSynced4Bars1920x150(benchmark::State& s) { drawScope(s, 150.0, ScopeWindow::bars4, ColorMap::module); }
void BM_ScopeTriggered40ms384x150(benchmark::State& s) {
    drawScope(s, 150.0, ScopeWindow::ms40, ColorMap::module, 384.0);
}
void BM_ScopeSyncedBar384x150(benchmark::State& s) { drawScope(s, 150.0, ScopeWindow::bar1, ColorMap::module, 384.0); }

BENCHMARK(BM_ScopeTriggered40ms1920x36)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ScopeTriggered40ms1920x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ScopeOverview10s1920x36)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ScopeOverview10s1920x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ScopeOverviewByFrequency30s1920x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ScopeSyncedBar1920x36)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ScopeSyncedBar1920x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ScopeSynced4Bars1920x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ScopeTriggered40ms384x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ScopeSyncedBar384x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

}  // namespace
}  // namespace crestline
