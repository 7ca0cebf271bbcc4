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

#include "bar/bar_picture.h"
#include "bar/bar_theme.h"
#include "bar/bar_view.h"
#include "platform/clock.h"
#include "settings/settings.h"

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

}  // namespace
}  // namespace crestline
