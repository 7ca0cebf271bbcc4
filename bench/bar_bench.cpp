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
// - BM_FrameAllocations: heap blocks taken per frame by the whole bar, once
//   the sizes are stable, in every mode of every module (malloc, calloc,
//   realloc and operator new all count; this binary replaces them). Target:
//   none.
//
// CPU time is the whole process's, so work Qt hands to its thread pool
// counts too; on a shared machine it is the steadier figure. Report the
// medians.
#include <benchmark/benchmark.h>
#include <execinfo.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <array>
#include <atomic>
#include <cerrno>
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
#include "bar/history_display.h"
#include "bar/imager_display.h"
#include "bar/scope_display.h"
#include "live/live_sync.h"
#include "platform/clock.h"
#include "platform/midi_input.h"
#include "settings/settings.h"
#include "tools/demo/demo_signal.h"

// Every heap block this process takes goes through these, so a frame's
// allocations can be counted; glibc's own functions do the work.
extern "C" {
void* __libc_malloc(std::size_t size) noexcept;
void* __libc_calloc(std::size_t count, std::size_t size) noexcept;
void* __libc_realloc(void* block, std::size_t size) noexcept;
void* __libc_memalign(std::size_t alignment, std::size_t size) noexcept;
}

namespace {
std::atomic<bool> gCounting{false};       // written and read by the benchmark thread; relaxed
std::atomic<long> gAllocations{0};        // any thread; relaxed, read after the frame

// With CRESTLINE_ALLOCATION_STACKS=FILE the counted allocations' call
// stacks go to FILE (one "--" line between stacks; addresses as
// backtrace_symbols writes them, for addr2line), to find who allocates.
constexpr int kStackDepth = 14;
constexpr int kMaximumStacks = 40000;
void* gStacks[kMaximumStacks][kStackDepth];
int gStackDepths[kMaximumStacks];
std::atomic<int> gStackCount{0};
bool gTracing = false;
thread_local bool tInHook = false;

inline void countAllocation() {
    if (!gCounting.load(std::memory_order_relaxed)) return;
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (!gTracing || tInHook) return;
    tInHook = true;
    const int slot = gStackCount.fetch_add(1, std::memory_order_relaxed);
    if (slot < kMaximumStacks) gStackDepths[slot] = backtrace(gStacks[slot], kStackDepth);
    tInHook = false;
}

void writeStacks() {
    const char* path = std::getenv("CRESTLINE_ALLOCATION_STACKS");
    if (path == nullptr) return;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    const int count = std::min(gStackCount.load(), kMaximumStacks);
    for (int i = 0; i < count; ++i) {
        backtrace_symbols_fd(gStacks[i] + 1, gStackDepths[i] - 1, fd);
        (void)::write(fd, "--\n", 3);
    }
    ::close(fd);
    gStackCount.store(0);
}
}  // namespace

extern "C" {
void* malloc(std::size_t size) noexcept {
    countAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    countAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
    countAllocation();
    return __libc_realloc(block, size);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
    countAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    countAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    countAllocation();
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : ENOMEM;
}
}

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

class NoMidi final : public MidiInput {
public:
    MidiOpenResult open(const std::string&, Handler) override { return {MidiOpenResult::Failure::client, 0}; }
    void close() override {}
    bool isOpen() const override { return false; }
};

// Live playing at 120 BPM past four locators, on a clock of our own: the
// transport both sets of benchmark material drive before each frame.
struct Transport {
    FakeClock clock;
    LiveSync sync{clock, std::make_unique<NoMidi>()};

    void placeLocators() {
        std::scoped_lock held(sync.lock());
        sync.applyHelper({{"type", "locators"},
                          {"locators", {{64.0, "Verse"}, {320.0, "Chorus"}, {704.0, "Break"}, {1152.0, "Drop"}}},
                          {"numerator", 4},
                          {"denominator", 4}},
                         clock.now());
    }

    void advance(double seconds) {
        clock.advance(seconds);
        beat_ += 2.0 * seconds;
        std::scoped_lock held(sync.lock());
        sync.applyHelper({{"type", "position"}, {"beat", beat_}, {"playing", true}}, clock.now());
    }

private:
    double beat_ = 0.0;
};

// The demo's 16-second loop with a −20 dBFS sine at 1 kHz, played round and
// round into one set of analysers shared by every benchmark, with Live
// playing it at 120 BPM past four locators.
class Material : public Transport {
public:
    static Material& shared() {
        static Material* material = new Material;  // until exit
        return *material;
    }

    AnalyserSource source;

    // The next 1/60 s of audio, and the clock and the transport with it.
    void refresh() {
        play(kFramesPerRefresh);
        advance(kFramesPerRefresh / kRate);
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
        for (int k = 0; k < static_cast<int>(kFeedSeconds * 8.0); ++k) advance(0.125);
        placeLocators();
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
        view.setSync(&material.sync);
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

// ---- Allocations per frame ----------------------------------------------------

constexpr std::array kScopeWindows{ScopeWindow::ms10, ScopeWindow::ms40,  ScopeWindow::ms100, ScopeWindow::ms250,
                                   ScopeWindow::s1,   ScopeWindow::s4,    ScopeWindow::s10,   ScopeWindow::s30,
                                   ScopeWindow::beat1, ScopeWindow::bar1, ScopeWindow::bars4, ScopeWindow::bars8,
                                   ScopeWindow::bars16};
constexpr std::array kScopeModes{ScopeMode::stereo, ScopeMode::left, ScopeMode::right, ScopeMode::mid, ScopeMode::side};
constexpr std::array kChannels{SpectrumChannel::stereo, SpectrumChannel::left, SpectrumChannel::right,
                               SpectrumChannel::mid, SpectrumChannel::side};
constexpr std::array kRanges{SpectrogramRange::wide, SpectrogramRange::normal, SpectrogramRange::tight};
const std::vector<std::vector<HistorySource>> kShows{
    {HistorySource::momentary, HistorySource::shortTerm, HistorySource::integrated},
    {HistorySource::shortTerm},
    {HistorySource::momentary, HistorySource::integrated},
    {}};

// Mode set `i` of 13: every scope window once, and every other module's
// modes in turn beside it; odd sets also hover the history and hold the
// spectrum under the pointer.
void chooseModes(Settings& settings, PointerState& pointer, int i) {
    const auto at = [i](const auto& list) { return list[static_cast<std::size_t>(i) % list.size()]; };
    settings.setScopeWindow(kScopeWindows[static_cast<std::size_t>(i)]);
    settings.setScopeMode(at(kScopeModes));
    settings.setScopeColorMap(i % 2 == 0 ? ColorMap::module : ColorMap::frequency);
    settings.setSpectrumChannel(kChannels[static_cast<std::size_t>(i + 1) % kChannels.size()]);
    settings.setSpectrumTilt((i % 3) * 3.0 - 3.0);
    settings.setSpectrumPeakHold(i % 2 == 1);
    settings.setSpectrogramChannel(kChannels[static_cast<std::size_t>(i + 2) % kChannels.size()]);
    settings.setSpectrogramRange(at(kRanges));
    settings.setSpectrogramColorMap(i % 2 == 0 ? ColorMap::heat : ColorMap::module);
    settings.setSpectrogramSeconds(i % 2 == 0 ? 60.0 : 600.0);
    settings.setImagerMode(i % 2 == 0 ? ImagerMode::polarSample : ImagerMode::lissajous);
    settings.setHistoryMinutes(std::array{1.0, 2.0, 5.0, 10.0}[static_cast<std::size_t>(i) % 4]);
    settings.setHistoryShows(at(kShows));
    settings.setHistoryPeakMarks(i % 3 != 0);
    settings.setHistoryDynamics(i % 2 == 0);
    settings.setHistoryTargetLUFS(i % 4 == 3 ? std::nullopt : std::optional<double>(-16.0));
    pointer.historyPointerX = i % 2 == 1 ? std::optional<double>(1200.0) : std::nullopt;
    pointer.hoverArea = i % 2 == 1 ? std::optional<ColorArea>(ColorArea::spectrum) : std::nullopt;
    pointer.spectrumGrabbed = i % 2 == 1;
    pointer.grabPointerX = i % 2 == 1 ? std::optional<double>(300.0) : std::nullopt;
}

// The whole bar in one mode set at one height: a loop of warm-up frames,
// then 100 counted ones. One iteration; the figure is the counter.
void BM_FrameAllocations(benchmark::State& state) {
    application();
    const int modes = static_cast<int>(state.range(0));
    const Size size{1920.0, static_cast<double>(state.range(1))};
    Bench bench("crestline-bar-bench-allocations.json");
    bench.settings->setModuleOrder(kEveryModule);
    Material& material = Material::shared();
    BarView view(*bench.settings, &material.source, material.clock);
    view.setSync(&material.sync);
    view.setTheme(BarTheme::liveDark());
    view.setBounds(size);
    view.setScale(kScale);
    chooseModes(*bench.settings, view.pointer, modes);
    QImage image(static_cast<int>(size.width * kScale), static_cast<int>(size.height * kScale),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    constexpr int kCounted = 100;
    long allocations = 0;
    void* first[1];
    backtrace(first, 1);  // loads the unwinder before anything is counted
    gTracing = std::getenv("CRESTLINE_ALLOCATION_STACKS") != nullptr;
    for (auto _ : state) {
        for (int warm = 0; warm < kWarmFrames; ++warm) {
            material.refresh();
            renderBar(view, image);
        }
        for (int frame = 0; frame < kCounted; ++frame) {
            material.refresh();
            QPainter painter(&image);  // the widget's paint event makes one too
            gAllocations.store(0, std::memory_order_relaxed);
            gCounting.store(true, std::memory_order_relaxed);
            view.paint(painter);
            gCounting.store(false, std::memory_order_relaxed);
            allocations += gAllocations.load(std::memory_order_relaxed);
        }
    }
    state.counters["allocsPerFrame"] = static_cast<double>(allocations) / kCounted;
    writeStacks();
}

BENCHMARK(BM_FrameAllocations)
    ->ArgNames({"modes", "height"})
    ->ArgsProduct({benchmark::CreateDenseRange(0, 12, 1), {36, 150}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

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

// ---- The loudness history and the imager alone --------------------------------

// Ten minutes of the music above (the history full) with Live playing at
// 120 BPM past four locators; before each frame 1/60 s of new audio, the
// clock and the transport move on (not timed), as on screen.
class Playing : public Transport {
public:
    static Playing& shared() {
        static Playing* playing = new Playing;  // until exit
        return *playing;
    }

    void next() {
        std::normal_distribution<float> noise(0.0f, 0.1f);
        for (std::size_t i = 0; i < left_.size(); ++i) {
            const double t = static_cast<double>(frames_++) / 48000.0;
            const float tone = static_cast<float>(0.2 * std::sin(2.0 * M_PI * 440.0 * t));
            const float n = noise(random_);
            left_[i] = tone + n;
            right_[i] = 0.8f * tone - n;
        }
        source.feed(left_.data(), right_.data(), static_cast<int>(left_.size()));
        advance(1.0 / 60.0);
    }

    AnalyserSource source;

private:
    Playing() {
        source.configure(48000.0);
        for (int loop = 0; loop < 60; ++loop) feedMusic(source);
        for (int k = 0; k < 4800; ++k) advance(0.125);
        placeLocators();
    }

    std::vector<float> left_ = std::vector<float>(800);
    std::vector<float> right_ = std::vector<float>(800);
    std::uint64_t frames_ = 0;
    std::mt19937 random_{3};
};

// One display alone in a panel of `width` points at scale 2: the whole of
// a 1920-point bar, or the 384 points a graph gets beside four others and
// the meter.
void drawAlone(benchmark::State& state, ModuleDisplay& display, Settings& settings, double width, double height,
               std::optional<double> pointerX = std::nullopt) {
    application();
    Playing& playing = Playing::shared();
    const BarTheme& theme = BarTheme::liveDark();
    PointerState pointer;
    pointer.historyPointerX = pointerX;
    LevelGradients gradients;
    TextCache texts;
    Zones zones;
    const Size bounds{1920.0, height};
    QImage image(3840, static_cast<int>(height * 2), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::black);
    const Rect rect{8.0, 4.0, width - 16.0, height - 8.0};
    const auto draw = [&] {
        QPainter painter(&image);
        Canvas canvas(painter, height, 2.0, texts);
        zones.clear();
        const Frame f{.area = display.area(), .theme = theme, .barTheme = theme, .settings = settings,
                      .pointer = pointer, .gradients = gradients, .bounds = bounds, .scale = 2.0,
                      .now = playing.clock.now(), .reading = playing.source.reading(),
                      .scope = &playing.source.scopeBuffer(), .loudness = &playing.source.meter(),
                      .spectrogram = nullptr, .spectrum = nullptr, .sync = &playing.sync, .liveSet = nullptr};
        display.draw(canvas, rect, f, zones);
    };
    for (int warm = 0; warm < 64; ++warm) {
        playing.next();
        draw();
    }
    for (auto _ : state) {
        state.PauseTiming();
        playing.next();
        state.ResumeTiming();
        draw();
        benchmark::DoNotOptimize(image.constBits());
    }
}

// Settings of one benchmark, in a file of its own.
struct BenchSettings {
    explicit BenchSettings(const char* name)
        : file(std::filesystem::temp_directory_path() / name), settings(file, systemClock(), Settings::Writing::manual) {}
    ~BenchSettings() { std::filesystem::remove(file); }
    std::filesystem::path file;
    Settings settings;
};

// Ten minutes of all three series with the target, peak marks, dynamics
// strip, timeline marks and the pointer's read-out.
void drawHistory(benchmark::State& state, double width, double height) {
    BenchSettings bench("crestline-history-bench-settings.json");
    Settings& settings = bench.settings;
    settings.setHistoryMinutes(10.0);
    settings.setHistoryShows({HistorySource::momentary, HistorySource::shortTerm, HistorySource::integrated});
    settings.setHistoryTargetLUFS(-20.0);
    settings.setHistoryDynamics(true);
    HistoryDisplay display;
    drawAlone(state, display, settings, width, height, width * 0.6);
}

void drawImager(benchmark::State& state, double width, double height, ImagerMode mode) {
    BenchSettings bench("crestline-imager-bench-settings.json");
    bench.settings.setImagerMode(mode);
    ImagerDisplay display;
    drawAlone(state, display, bench.settings, width, height);
}

void BM_History1920x36(benchmark::State& s) { drawHistory(s, 1920.0, 36.0); }
void BM_History1920x150(benchmark::State& s) { drawHistory(s, 1920.0, 150.0); }
void BM_History384x150(benchmark::State& s) { drawHistory(s, 384.0, 150.0); }
void BM_ImagerStrip1920x36(benchmark::State& s) { drawImager(s, 1920.0, 36.0, ImagerMode::polarSample); }
void BM_ImagerPolar1920x150(benchmark::State& s) { drawImager(s, 1920.0, 150.0, ImagerMode::polarSample); }
void BM_ImagerLissajous1920x150(benchmark::State& s) { drawImager(s, 1920.0, 150.0, ImagerMode::lissajous); }
void BM_ImagerPolar384x150(benchmark::State& s) { drawImager(s, 384.0, 150.0, ImagerMode::polarSample); }

BENCHMARK(BM_History1920x36)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_History1920x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_History384x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ImagerStrip1920x36)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ImagerPolar1920x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ImagerLissajous1920x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ImagerPolar384x150)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace crestline
