// The bar's frames drawn offscreen at scale 2 with every module holding real
// data: ten minutes of music-like material (the demo's loop with a 1 kHz
// sine under it) fed through analysers of their own, so the loudness
// history and the spectrogram are full. Between frames 1/60 s of new audio
// arrives and the clock moves on, as on screen; only the drawing is timed.
//
// - BM_BarFrame: the whole bar, 1920 points wide, the meter and all five
//   graphs, at 36 points (inline meter) and 150 (horizontal dashboard).
//   Target: 2 ms per frame at either height, aim for 1 ms.
// - BM_Display: one module alone in a bar of its own, about as wide as it
//   is in the full frame, for the work on each display.
// - BM_Scope...: the scope display drawn straight into a canvas, window by
//   window.
//
// CPU time is the whole process's, so work Qt hands to its thread pool
// counts too; on a shared machine it is the steadier figure. Report the
// medians.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bar/analyser_source.h"
#include "bar/bar_picture.h"
#include "bar/bar_theme.h"
#include "bar/bar_view.h"
#include "bar/scope_display.h"
#include "live/live_sync.h"
#include "platform/clock.h"
#include "platform/midi_input.h"
#include "settings/settings.h"
#include "tools/demo/demo_signal.h"
#include <vector>

namespace crestline {
namespace {

constexpr double kRate = 48000.0;
constexpr double kFeedSeconds = 600.0;  // fills the history and the spectrogram
constexpr int kFramesPerRefresh = 800;  // 1/60 s at 48 kHz
constexpr double kScale = 2.0;
constexpr double kLoopSeconds = 16.0;   // the demo's four bars, twice
constexpr int kWarmFrames = static_cast<int>(kLoopSeconds * kRate) / kFramesPerRefresh;

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

// The demo's 16-second loop with a −20 dBFS sine at 1 kHz, played round and
// round into one set of analysers shared by every benchmark.
class Material {
public:
    static Material& shared() {
        static Material* material = new Material;  // until exit
        return *material;
    }

    AnalyserSource source;
    FakeClock clock;

    // The next 1/60 s of audio, and the clock with it.
    void refresh() {
        play(kFramesPerRefresh);
        clock.advance(kFramesPerRefresh / kRate);
    }

private:
    Material() {
        const demo::DemoAudio demo = demo::generateDemo(kLoopSeconds, kRate);
        left_ = demo.left;
        right_ = demo.right;
        for (std::size_t i = 0; i < left_.size(); ++i) {
            const float sine = 0.1f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(i) / kRate));
            left_[i] += sine;
            right_[i] += sine;
        }
        source.configure(kRate);
        play(static_cast<std::size_t>(kFeedSeconds * kRate));
        clock.advance(kFeedSeconds);
    }

    void play(std::size_t frames) {
        while (frames > 0) {
            const std::size_t n = std::min({frames, left_.size() - position_, std::size_t{4096}});
            source.feed(left_.data() + position_, right_.data() + position_, static_cast<int>(n));
            position_ = (position_ + n) % left_.size();
            frames -= n;
        }
    }

    std::vector<float> left_, right_;
    std::size_t position_ = 0;
};

// A bar over its own settings (the defaults, a loudness target) and the
// shared material.
struct Bench {
    explicit Bench(const std::string& name) : file(std::filesystem::temp_directory_path() / name) {
        std::filesystem::remove(file);
        settings = std::make_unique<Settings>(file, systemClock(), Settings::Writing::memory);
        settings->setTargetLUFS(-14.0);
    }
    ~Bench() { std::filesystem::remove(file); }

    void run(benchmark::State& state, Size size) {
        Material& material = Material::shared();
        BarView view(*settings, &material.source, material.clock);
        view.setTheme(BarTheme::liveDark());
        view.setBounds(size);
        view.setScale(kScale);
        QImage image(static_cast<int>(size.width * kScale), static_cast<int>(size.height * kScale),
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(kScale);
        // One turn of the loop first, so every reading it shows has been
        // drawn once: frames then cost what they cost with a warm text cache.
        for (int warm = 0; warm < kWarmFrames; ++warm) {
            material.refresh();
            renderBar(view, image);
        }
        for (auto _ : state) {
            state.PauseTiming();
            material.refresh();
            state.ResumeTiming();
            renderBar(view, image);
            benchmark::DoNotOptimize(image.constBits());
        }
        state.counters["meterLayout"] = static_cast<double>(view.layout().meter.layout);
        state.counters["modules"] = static_cast<double>(view.layout().modules.size());
    }

    std::filesystem::path file;
    std::unique_ptr<Settings> settings;
};

const std::vector<ColorArea> kEveryModule{ColorArea::scope,   ColorArea::spectrum,    ColorArea::imager,
                                          ColorArea::history, ColorArea::spectrogram, ColorArea::meter};

void BM_BarFrame(benchmark::State& state) {
    application();
    Bench bench("crestline-bar-bench-frame.json");
    bench.settings->setModuleOrder(kEveryModule);
    bench.run(state, {1920.0, static_cast<double>(state.range(0))});
}

// One module alone, 300 points wide (the meter at its natural width).
void BM_Display(benchmark::State& state) {
    application();
    const ColorArea area = kEveryModule[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(std::string(rawValue(area)));
    Bench bench("crestline-bar-bench-" + std::string(rawValue(area)) + ".json");
    bench.settings->setModuleOrder({area});
    const double width = area == ColorArea::meter ? 1000.0 : 10.0 + 300.0 + 34.0;
    bench.run(state, {width, static_cast<double>(state.range(1))});
}

BENCHMARK(BM_BarFrame)
    ->ArgName("height")
    ->Arg(36)
    ->Arg(150)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Display)
    ->ArgNames({"module", "height"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {36, 150}})
    ->MinTime(0.1)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// ---- Each display alone -------------------------------------------------------

// Ten seconds of music-like audio: a kick on every beat at 120 BPM, two
// tones and noisy hats, different in the two channels.
void feedMusic(AnalyserSource& source) {
    constexpr int kMusicRate = 48000;
    constexpr int kFrames = kMusicRate * 10;
    std::vector<float> left(kFrames), right(kFrames);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    float previous = 0.0f;
    for (int i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kMusicRate;
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
