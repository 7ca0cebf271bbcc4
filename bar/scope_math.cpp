#include "bar/scope_math.h"

#include <algorithm>
#include <cmath>

namespace crestline::scope {

namespace {

constexpr int kFewestTriggeredFrames = 32;
// Far above any window at any accepted rate (250 ms at 768 kHz is 192,000).
constexpr double kMostTriggeredFrames = 4'000'000.0;
constexpr float kSilence = 1e-5f;
// Bars beyond this in one cycle are not walked at all: only a damaged
// signature gets there, and no label would fit.
constexpr double kMostBarsWalked = 100'000.0;

double cycleStartOf(double beatNow, double cycleBeats) { return cycleBeats * std::floor(beatNow / cycleBeats); }

// A bar number from a beat that may be anything.
int barNumber(double value) { return static_cast<int>(std::lround(std::clamp(value, -1e9, 1e9))); }

}  // namespace

float signal(ScopeMode mode, float left, float right) {
    switch (mode) {
        case ScopeMode::stereo:
        case ScopeMode::left: return left;
        case ScopeMode::right: return right;
        case ScopeMode::mid: return (left + right) * 0.5f;
        case ScopeMode::side: return (left - right) * 0.5f;
    }
    return left;
}

int triggeredFrames(double rate, double milliseconds) {
    const double frames = std::trunc(rate * milliseconds / 1000.0);
    if (!(frames > kFewestTriggeredFrames)) return kFewestTriggeredFrames;
    return static_cast<int>(std::min(frames, kMostTriggeredFrames));
}

TriggerPoint findTrigger(std::span<const float> trigger, int frames) {
    const TriggerPoint none{frames, 1.0};
    float peak = 0.0f;
    for (const float v : trigger) peak = std::max(peak, std::fabs(v));  // a NaN never wins
    if (!(peak > kSilence)) return none;
    const float threshold = -0.25f * peak;
    const int last = std::min(frames, static_cast<int>(trigger.size()) - 1);
    TriggerPoint found = none;
    bool armed = false;
    for (int i = 1; i <= last; ++i) {
        const float before = trigger[static_cast<std::size_t>(i - 1)];
        const float value = trigger[static_cast<std::size_t>(i)];
        if (value < threshold) armed = true;
        if (armed && before <= 0.0f && value > 0.0f) {
            found = {i, -static_cast<double>(before) / (static_cast<double>(value) - before)};
            armed = false;
        }
    }
    return found;
}

int overviewChunks(double rate, double seconds) {
    const double frames = std::trunc(rate * seconds);
    if (!(frames >= kChunkFrames)) return 0;
    return static_cast<int>(std::min(std::floor(frames / kChunkFrames), static_cast<double>(kMaxChunks)));
}

ChunkRange overviewColumnChunks(int column, int columns, int chunks) {
    if (columns < 1 || chunks < 1) return {0, 0};
    const double perColumn = static_cast<double>(chunks) / columns;
    const int first = std::clamp(static_cast<int>(column * perColumn), 0, chunks - 1);
    const int end = std::clamp(static_cast<int>((column + 1) * perColumn), first + 1, chunks);
    return {first, end};
}

std::optional<SyncPlan> planSyncedCycle(double cycleFrames, double rate, int capacity, bool byFrequency) {
    if (!(cycleFrames >= 0.0) || !(rate > 0.0)) return std::nullopt;
    if (!byFrequency && cycleFrames <= std::min(0.95 * capacity, 2.5 * rate)) {
        if (cycleFrames < kMinimumCycleFrames) return std::nullopt;
        return SyncPlan{false, static_cast<int>(cycleFrames)};
    }
    if (cycleFrames > kLargestBlockFrames) return SyncPlan{true, kMaxChunks};
    if (cycleFrames < kMinimumBlockFrames) return std::nullopt;
    return SyncPlan{true, static_cast<int>(cycleFrames) / kChunkFrames};
}

std::optional<double> cycleBeats(ScopeWindow window, double beatsPerBar) {
    switch (window) {
        case ScopeWindow::beat1: return 1.0;
        case ScopeWindow::bar1: return beatsPerBar;
        case ScopeWindow::bars4: return 4.0 * beatsPerBar;
        case ScopeWindow::bars8: return 8.0 * beatsPerBar;
        case ScopeWindow::bars16: return 16.0 * beatsPerBar;
        default: return std::nullopt;
    }
}

double usableBeatsPerBar(double beatsPerBar) {
    if (!std::isfinite(beatsPerBar)) return 4.0;
    return std::clamp(beatsPerBar, kFewestBeatsPerBar, kMostBeatsPerBar);
}

double BeatSmoother::update(double frame, double clockBeat, double beatsPerSecond, double rate) {
    const double tempo = beatsPerSecond / rate;
    const double predicted = anchorBeat_ + beatsPerFrame_ * (frame - anchorFrame_);
    double beat = clockBeat;
    if (beatsPerFrame_ > 0.0 && frame >= anchorFrame_ && std::fabs(clockBeat - predicted) <= kSnapBeats) {
        beat = predicted + kBeatPull * (clockBeat - predicted);
        beatsPerFrame_ += kTempoPull * (tempo - beatsPerFrame_);
    } else {
        beatsPerFrame_ = tempo;
    }
    anchorFrame_ = frame;
    anchorBeat_ = beat;
    return beat;
}

void cycleDivisions(double cycleBeats, double beatsPerBar, std::vector<double>& out) {
    out.clear();
    if (!(cycleBeats > 0.0) || !(beatsPerBar > 0.0)) return;
    const double bars = cycleBeats / beatsPerBar;
    const double divisions = bars > 1.5 ? bars : cycleBeats;
    if (!(divisions > 1.0 && divisions <= 16.0)) return;
    const int lines = static_cast<int>(std::lround(divisions)) - 1;
    for (int k = 1; k <= lines; ++k) out.push_back(k / divisions);
}

void barMarks(double beatNow, double cycleBeats, double beatsPerBar, double width, const LiveSet* set,
              std::vector<SyncMark>& out) {
    out.clear();
    if (!std::isfinite(beatNow) || !(cycleBeats > 0.0) || !(beatsPerBar > 0.0) || !(width > 0.0)) return;
    const double bars = cycleBeats / beatsPerBar;
    if (!(bars >= 1.0) || bars > kMostBarsWalked) return;
    const double perBar = width / bars;
    int step = perBar >= 28.0 ? 1 : perBar >= 14.0 ? 2 : 4;
    while (perBar * step < kMinimumMarkSpacing) step *= 2;

    const double cycleStart = cycleStartOf(beatNow, cycleBeats);
    const auto last = static_cast<long>(std::floor((beatNow - cycleStart) / beatsPerBar));
    const auto first = static_cast<long>(std::floor((beatNow - cycleBeats - cycleStart) / beatsPerBar)) + 1;
    double lastX = -kMinimumMarkSpacing;
    const auto add = [&](long k) {
        const double beat = cycleStart + static_cast<double>(k) * beatsPerBar;
        const int number = set ? barNumber(set->bar(beat)) : barNumber(beat / beatsPerBar) + 1;
        if (((number - 1) % step + step) % step != 0) return;
        const double offset = beat >= cycleStart ? beat - cycleStart : cycleBeats + beat - cycleStart;
        const double position = offset / cycleBeats;
        if (position * width - lastX < kMinimumMarkSpacing) return;
        lastX = position * width;
        out.push_back({position, number, -1});
    };
    // Left to right: the bars since the cycle began, then the previous
    // cycle's last bars, which stand right of now.
    for (long k = std::max(first, 0L); k <= last; ++k) add(k);
    for (long k = first; k < std::min(0L, last + 1); ++k) add(k);
}

void locatorMarks(double beatNow, double cycleBeats, double width, std::span<const LiveSet::Locator> locators,
                  std::vector<SyncMark>& out) {
    out.clear();
    if (!std::isfinite(beatNow) || !(cycleBeats > 0.0) || !(width > 0.0)) return;
    const double cycleStart = cycleStartOf(beatNow, cycleBeats);
    const auto from = [&](double beat) {
        return std::lower_bound(locators.begin(), locators.end(), beat,
                                [](const LiveSet::Locator& l, double b) { return l.beat < b; });
    };
    double lastX = -kMinimumMarkSpacing;
    const auto add = [&](auto it, double offset) {
        const double position = offset / cycleBeats;
        if (position * width - lastX < kMinimumMarkSpacing) return;
        lastX = position * width;
        out.push_back({position, 0, static_cast<int>(it - locators.begin())});
    };
    for (auto it = from(cycleStart); it != locators.end() && it->beat <= beatNow; ++it) add(it, it->beat - cycleStart);
    for (auto it = from(beatNow - cycleBeats); it != locators.end() && it->beat < cycleStart; ++it) {
        if (it->beat > beatNow - cycleBeats) add(it, cycleBeats + it->beat - cycleStart);
    }
}

void noteText(ScopeMode mode, std::string_view note, std::string& out) {
    out.clear();
    if (mode != ScopeMode::mid) out = title(mode);
    if (!note.empty()) {
        if (!out.empty()) out += " \xC2\xB7 ";
        out += note;
    }
}

}  // namespace crestline::scope
