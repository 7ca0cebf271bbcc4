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
//
// CPU time is the whole process's, so work Qt hands to its thread pool
// counts too; on a shared machine it is the steadier figure. Report the
// medians.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bar/analyser_source.h"
#include "bar/bar_picture.h"
#include "bar/bar_theme.h"
#include "bar/bar_view.h"
#include "platform/clock.h"
#include "settings/settings.h"
#include "tools/demo/demo_signal.h"

namespace crestline {
namespace {

constexpr double kRate = 48000.0;
constexpr double kFeedSeconds = 600.0;  // fills the history and the spectrogram
constexpr int kFramesPerRefresh = 800;  // 1/60 s at 48 kHz
constexpr double kScale = 2.0;

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
        const demo::DemoAudio demo = demo::generateDemo(16.0, kRate);
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
        for (int warm = 0; warm < 64; ++warm) {
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

// The spectrum and the spectrogram alone across a whole 1920-point bar:
// 3840 spectrum columns; a spectrogram image as wide as its 1500 columns.
void BM_WideGraph(benchmark::State& state) {
    application();
    const ColorArea area = state.range(0) == 0 ? ColorArea::spectrum : ColorArea::spectrogram;
    state.SetLabel(std::string(rawValue(area)));
    Bench bench("crestline-bar-bench-wide-" + std::string(rawValue(area)) + ".json");
    bench.settings->setModuleOrder({area});
    bench.run(state, {1920.0, static_cast<double>(state.range(1))});
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

BENCHMARK(BM_WideGraph)
    ->ArgNames({"graph", "height"})
    ->ArgsProduct({{0, 1}, {36, 150}})
    ->MinTime(0.1)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace crestline
