#include "bar/scope_display.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <span>

#include "analysis/scope_buffer.h"
#include "live/live_sync.h"
#include "settings/settings.h"

namespace crestline {

namespace {

constexpr double kNarrowest = 10.0;          // points; a scope this narrow draws nothing
constexpr double kFallbackMilliseconds = 40.0;
constexpr double kGlowWidth = 4.0;           // points
constexpr double kLargestValue = 1.1;        // a trace is clipped here, just past full scale
constexpr double kNoteLowest = 30.0;         // points of height below which no note is drawn
constexpr double kDefaultRate = 48000.0;     // what a scope buffer reports before its first attach
constexpr const char* kWaitsForLive = " waits for Live";

const Font& noteFont() {
    static const Font font = LiveFont::toolbar(8.0, true);
    return font;
}

double triggeredMilliseconds(ScopeWindow window) {
    switch (window) {
        case ScopeWindow::ms10: return 10.0;
        case ScopeWindow::ms40: return 40.0;
        case ScopeWindow::ms100: return 100.0;
        case ScopeWindow::ms250: return 250.0;
        default: return 0.0;
    }
}

double overviewSeconds(ScopeWindow window) {
    switch (window) {
        case ScopeWindow::s1: return 1.0;
        case ScopeWindow::s4: return 4.0;
        case ScopeWindow::s10: return 10.0;
        case ScopeWindow::s30: return 30.0;
        default: return 0.0;
    }
}

// Device pixels per point, or 2 where the frame has no usable scale.
double backingScale(const Frame& frame) { return frame.scale > 0.0 && std::isfinite(frame.scale) ? frame.scale : 2.0; }

// Data columns of a long view: one per device pixel, at least one.
int longViewColumns(const Rect& rect, const Frame& frame) {
    return std::max(static_cast<int>(std::min(rect.width * backingScale(frame), 65536.0)), 1);
}

double rateOf(const Frame& frame) { return frame.scope ? frame.scope->rate() : kDefaultRate; }
int capacityOf(const Frame& frame) { return frame.scope ? frame.scope->capacity() : ScopeBuffer::kEngineCapacity; }

// A sample as drawn: clipped just past full scale; what is not a number is 0.
float clipped(float v) { return std::isfinite(v) ? std::clamp(v, -1.1f, 1.1f) : 0.0f; }

bool meets(const Rect& a, const Rect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

// Lowest minimum, highest maximum and the loudest band RMS of chunks
// [from, to) of a copy, for a channel mode.
struct BlockSpan {
    float low = 0.0f, high = 0.0f;
    float bandLow = 0.0f, bandMid = 0.0f, bandHigh = 0.0f;
};

BlockSpan blockSpan(const std::vector<float>& chunks, int from, int to, ScopeMode mode) {
    using C = ScopeBuffer::Chunk;
    int minIndex = C::minLeft, maxIndex = C::maxLeft;
    if (mode == ScopeMode::right) minIndex = C::minRight, maxIndex = C::maxRight;
    if (mode == ScopeMode::mid) minIndex = C::minMid, maxIndex = C::maxMid;
    if (mode == ScopeMode::side) minIndex = C::minSide, maxIndex = C::maxSide;
    BlockSpan s{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
    for (int k = from; k < to; ++k) {
        const float* chunk = chunks.data() + static_cast<std::size_t>(k) * ScopeBuffer::kChunkFloats;
        s.low = std::min(s.low, chunk[minIndex]);
        s.high = std::max(s.high, chunk[maxIndex]);
        if (mode == ScopeMode::stereo) {
            s.low = std::min(s.low, chunk[C::minRight]);
            s.high = std::max(s.high, chunk[C::maxRight]);
        }
        s.bandLow = std::max(s.bandLow, chunk[C::lowRms]);
        s.bandMid = std::max(s.bandMid, chunk[C::midRms]);
        s.bandHigh = std::max(s.bandHigh, chunk[C::highRms]);
    }
    return s;
}

}  // namespace

void ScopeDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    if (!(rect.width > kNarrowest)) return;
    // Only a broken layout gets here with these; nothing of it is drawable.
    if (!std::isfinite(rect.x) || !std::isfinite(rect.y) || !std::isfinite(rect.width) || !(rect.height >= 0.0) ||
        !std::isfinite(rect.height)) {
        return;
    }
    zones.scopeField = rect;
    zones.addHint(rect, Hint::scope);
    const ScopeWindow window = frame.settings.scopeWindow();
    if (const double ms = triggeredMilliseconds(window); ms > 0.0) {
        drawTriggered(canvas, rect, frame, zones, ms, {});
    } else if (overviewSeconds(window) > 0.0) {
        drawOverview(canvas, rect, frame, zones, window);
    } else if (!drawSynced(canvas, rect, frame, zones, window)) {
        label_ = title(window);
        label_ += kWaitsForLive;
        drawTriggered(canvas, rect, frame, zones, kFallbackMilliseconds, label_);
    }
}

// ---- triggered --------------------------------------------------------------

std::uint64_t ScopeDisplay::copyNewest(const Frame& frame, int count, bool trigger) {
    const int held = frame.scope ? std::min(count, frame.scope->capacity()) : 0;
    const auto missing = static_cast<std::ptrdiff_t>(count - held);
    std::fill_n(samplesL_.begin(), missing, 0.0f);
    std::fill_n(samplesR_.begin(), missing, 0.0f);
    if (trigger) std::fill_n(samplesT_.begin(), missing, 0.0f);
    if (held == 0) return 0;
    const auto at = static_cast<std::size_t>(missing);
    const auto n = static_cast<std::size_t>(held);
    return frame.scope->copyLatest(held, std::span(samplesL_).subspan(at, n), std::span(samplesR_).subspan(at, n),
                                   trigger ? std::span(samplesT_).subspan(at, n) : std::span<float>());
}

void ScopeDisplay::drawTriggered(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones,
                                 double milliseconds, std::string_view note) {
    const std::size_t ownNames = zones.timelineNameRects.size();
    const int n = scope::triggeredFrames(rateOf(frame), milliseconds);
    const auto copy = static_cast<std::size_t>(2 * n);
    const bool grow = samplesT_.size() < copy || samplesL_.size() < copy;
    if (grow) {
        samplesL_.resize(std::max(samplesL_.size(), copy));
        samplesR_.resize(std::max(samplesR_.size(), copy));
        samplesT_.resize(std::max(samplesT_.size(), copy));
    }
    if (grow || !frame.frozen()) copyNewest(frame, 2 * n, true);
    frames_ = n;
    trigger_ = scope::findTrigger(std::span<const float>(samplesT_.data(), copy), n);

    CanvasState state(canvas);
    canvas.clip(rect);
    drawAxis(canvas, rect, frame);

    const int first = trigger_.start - 1;
    const int last = std::min(trigger_.start + n, 2 * n - 1);
    const double origin = trigger_.start - 1 + trigger_.fraction;
    const PixelBox box = beginTraces(rect, backingScale(frame));
    const double amplitude = std::max(rect.height * 0.5 - 2.0, 0.0);
    const double step = rect.width / n * box.scale;
    const double x0 = box.x(rect.minX());
    const auto trace = [&](auto value) {
        ranges_.reset(box.columns);
        double x = x0 + (first - origin) * step;
        float y = static_cast<float>(box.y(rect.midY() + amplitude * clipped(value(first))));
        for (int j = first + 1; j <= last; ++j) {
            const double nextX = x0 + (j - origin) * step;
            const auto nextY = static_cast<float>(box.y(rect.midY() + amplitude * clipped(value(j))));
            ranges_.addSegment(x, y, nextX, nextY);
            x = nextX;
            y = nextY;
        }
    };
    const ScopeMode mode = frame.settings.scopeMode();
    if (mode == ScopeMode::stereo) {
        trace([&](int j) { return samplesR_[static_cast<std::size_t>(j)]; });
        strokeTrace(box, frame, true);
    }
    trace([&](int j) {
        const auto i = static_cast<std::size_t>(j);
        return scope::signal(mode, samplesL_[i], samplesR_[i]);
    });
    strokeTrace(box, frame, false);
    showTraces(canvas, box);
    drawNote(canvas, rect, zones, ownNames, mode, note);
}

ScopeDisplay::PixelBox ScopeDisplay::beginTraces(const Rect& rect, double scale) {
    PixelBox box;
    box.scale = scale > 0.0 && std::isfinite(scale) ? scale : 2.0;
    box.left = std::floor(rect.minX() * box.scale);
    box.bottom = std::floor(rect.minY() * box.scale);
    const double right = std::ceil(rect.maxX() * box.scale);
    const double top = std::ceil(rect.maxY() * box.scale);
    // A bar is at most a few thousand points wide; this only guards the
    // conversion against a nonsense rectangle.
    constexpr double kMostPixels = 65536.0;
    box.columns = static_cast<int>(std::clamp(right - box.left, 0.0, kMostPixels));
    box.rows = static_cast<int>(std::clamp(top - box.bottom, 0.0, kMostPixels));
    layer_.begin(box.columns, box.rows);
    return box;
}

void ScopeDisplay::strokeTrace(const PixelBox& box, const Frame& frame, bool right) {
    const BarTheme& theme = frame.theme;
    const std::optional<Colour>& glow = right ? theme.traceRightGlow : theme.traceGlow;
    if (glow) strokeColumns(layer_, ranges_, kGlowWidth * box.scale, *glow);
    strokeColumns(layer_, ranges_, theme.traceWidth * box.scale, right ? theme.traceRight : theme.trace);
}

void ScopeDisplay::showTraces(Canvas& canvas, const PixelBox& box) {
    layer_.finish();
    if (box.columns > 0 && box.rows > 0) canvas.draw(layer_.image(), box.rect(), false);
}

void ScopeDisplay::drawAxis(Canvas& canvas, const Rect& rect, const Frame& frame) {
    canvas.fill(Rect{rect.minX(), rect.midY() - 0.5, rect.width, 1.0}, frame.theme.axis);
}

// ---- overview ---------------------------------------------------------------

void ScopeDisplay::drawOverview(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones,
                                ScopeWindow window) {
    const std::size_t ownNames = zones.timelineNameRects.size();
    const double seconds = overviewSeconds(window);
    const int k = scope::overviewChunks(rateOf(frame), seconds);
    if (k < 1) return;
    if (!(frame.frozen() && overviewCount_ == k)) {
        overviewTotal_ = frame.scope ? frame.scope->copyOverview(k, overviewBlocks_) : 0;
        if (!frame.scope) overviewBlocks_.assign(static_cast<std::size_t>(k) * ScopeBuffer::kChunkFloats, 0.0f);
    }
    overviewCount_ = k;

    CanvasState state(canvas);
    canvas.clip(rect);
    drawAxis(canvas, rect, frame);
    const int columns = longViewColumns(rect, frame);
    columnFirst_.resize(static_cast<std::size_t>(columns));
    columnEnd_.resize(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
        const scope::ChunkRange range = scope::overviewColumnChunks(c, columns, k);
        columnFirst_[static_cast<std::size_t>(c)] = range.first;
        columnEnd_[static_cast<std::size_t>(c)] = range.end;
    }
    const int real = static_cast<int>(std::min<std::uint64_t>(overviewTotal_, static_cast<std::uint64_t>(k)));
    const ScopeMode mode = frame.settings.scopeMode();
    drawLongView(canvas, rect, frame, k - real, -1, mode, frame.settings.scopeColorMap() == ColorMap::frequency);
    timeline_.draw(canvas, rect, frame, seconds, frame.shownAt(), zones.timelineNameRects);
    drawNote(canvas, rect, zones, ownNames, mode, title(window));
}

void ScopeDisplay::drawLongView(Canvas& canvas, const Rect& rect, const Frame& frame, int firstReal,
                                int breakColumn, ScopeMode mode, bool byFrequency) {
    const int columns = static_cast<int>(columnFirst_.size());
    const auto n = static_cast<std::size_t>(columns);
    envelope_.resize(n);
    widened_.resize(n);
    smoothed_.resize(n);
    bandLow_.resize(n);
    bandMid_.resize(n);
    bandHigh_.resize(n);
    constexpr float kEmpty = -1.0f;
    for (std::size_t c = 0; c < n; ++c) {
        const int from = std::max(columnFirst_[c], firstReal);
        const int to = columnEnd_[c];
        if (static_cast<int>(c) == breakColumn || from >= to) {
            envelope_[c] = kEmpty;
            continue;
        }
        const BlockSpan s = blockSpan(overviewBlocks_, from, to, mode);
        const float e = std::max(std::fabs(s.low), std::fabs(s.high));
        envelope_[c] = std::isfinite(e) ? e : 0.0f;
        bandLow_[c] = std::isfinite(s.bandLow) ? s.bandLow : 0.0f;
        bandMid_[c] = std::isfinite(s.bandMid) ? s.bandMid : 0.0f;
        bandHigh_[c] = std::isfinite(s.bandHigh) ? s.bandHigh : 0.0f;
    }
    // Twice over the neighbours: the loudest of three, then the mean of
    // three. A neighbour counts only when it has data; the break column has
    // none, so nothing is carried across it.
    const auto has = [&](std::size_t c) { return envelope_[c] >= 0.0f; };
    for (std::size_t c = 0; c < n; ++c) {
        if (!has(c)) continue;
        float e = envelope_[c];
        if (c > 0 && has(c - 1)) e = std::max(e, envelope_[c - 1]);
        if (c + 1 < n && has(c + 1)) e = std::max(e, envelope_[c + 1]);
        widened_[c] = e;
    }
    for (std::size_t c = 0; c < n; ++c) {
        if (!has(c)) continue;
        float sum = widened_[c];
        int count = 1;
        if (c > 0 && has(c - 1)) sum += widened_[c - 1], ++count;
        if (c + 1 < n && has(c + 1)) sum += widened_[c + 1], ++count;
        smoothed_[c] = sum / static_cast<float>(count);
    }

    const PixelBox box = beginTraces(rect, backingScale(frame));
    const double amplitude = std::max(rect.height * 0.5 - 2.0, 0.0);
    const int reach = std::max(static_cast<int>(2.0 * box.scale), 2);
    const double perColumn = rect.width / columns;
    const int pass = byFrequency ? layer_.addColouredPass() : layer_.addPass(frame.theme.trace);
    for (int u = 0; u < box.columns; ++u) {
        // The data column whose span holds this pixel column's centre.
        const double at = ((box.left + u + 0.5) / box.scale - rect.minX()) / perColumn;
        if (!(at >= 0.0) || at >= columns) continue;
        const auto c = static_cast<std::size_t>(at);
        if (!has(c)) continue;
        const double half = amplitude * std::min(static_cast<double>(smoothed_[c]), kLargestValue);
        if (!byFrequency) {
            layer_.span(pass, u, box.y(rect.midY() - half), box.y(rect.midY() + half));
            continue;
        }
        // Bass red, mids green, treble blue, summed over the neighbours on
        // the same side of the break.
        double r = 0.0, g = 0.0, b = 0.0;
        const int from = std::max(0, static_cast<int>(c) - reach);
        const int to = std::min(columns - 1, static_cast<int>(c) + reach);
        for (int k = from; k <= to; ++k) {
            const auto i = static_cast<std::size_t>(k);
            if (!has(i)) continue;
            if (breakColumn >= 0 && (k < breakColumn) != (static_cast<int>(c) < breakColumn)) continue;
            r += bandLow_[i];
            g += 2.0 * bandMid_[i];
            b += 4.0 * bandHigh_[i];
        }
        const double m = std::max({r, g, b});
        if (!(m > 0.0)) continue;
        const double tall = std::max(half, 0.5 / box.scale);
        layer_.span(pass, u, box.y(rect.midY() - tall), box.y(rect.midY() + tall), Colour{r / m, g / m, b / m, 1.0});
    }
    showTraces(canvas, box);
}

// ---- beat-synced -------------------------------------------------------------

bool ScopeDisplay::takeSyncedCycle(const Frame& frame, ScopeWindow window) {
    const double rate = rateOf(frame);
    if (!(rate > 0.0) || !std::isfinite(rate) || frame.sync == nullptr) return false;
    const std::optional<LiveSync::BeatClock> clock = frame.sync->beatClock(frame.now);
    if (!clock) {
        smoother_.forget();
        sync_.valid = false;
        return false;
    }
    double perBar = 4.0;
    if (frame.liveSet) {
        perBar = frame.liveSet->beatsPerBar(clock->beat);
    } else {
        std::scoped_lock held(frame.sync->lock());
        if (frame.sync->helperFreshLocked(frame.now)) perBar = frame.sync->stateLocked().helperBeatsPerBar;
    }
    perBar = scope::usableBeatsPerBar(perBar);
    const double cycle = *scope::cycleBeats(window, perBar);
    const double perFrame = smoother_.beatsPerFrame() > 0.0 ? smoother_.beatsPerFrame() : clock->beatsPerSecond / rate;
    const bool byFrequency = frame.settings.scopeColorMap() == ColorMap::frequency;
    const std::optional<scope::SyncPlan> plan =
        scope::planSyncedCycle(cycle / perFrame, rate, capacityOf(frame), byFrequency);
    if (!plan) return false;

    double newest = 0.0;  // absolute number of the frame just after the copy
    std::uint64_t total = 0;
    if (plan->usesBlocks) {
        total = frame.scope ? frame.scope->copyOverview(plan->count, overviewBlocks_) : 0;
        if (!frame.scope) overviewBlocks_.assign(static_cast<std::size_t>(plan->count) * ScopeBuffer::kChunkFloats, 0.0f);
        overviewCount_ = -1;  // the copy no longer holds the overview
        newest = static_cast<double>(total) * scope::kChunkFrames;
    } else {
        const auto count = static_cast<std::size_t>(plan->count);
        if (samplesL_.size() < count) {
            samplesL_.resize(count);
            samplesR_.resize(count);
        }
        total = copyNewest(frame, plan->count, false);
        newest = static_cast<double>(total);
    }
    const double beat = smoother_.update(newest, clock->beat, clock->beatsPerSecond, rate);
    sync_.valid = true;
    sync_.window = window;
    sync_.beatNow = beat;
    sync_.phase = beat / cycle - std::floor(beat / cycle);
    sync_.cycleBeats = cycle;
    sync_.beatsPerBar = perBar;
    sync_.length = plan->count;
    sync_.usesBlocks = plan->usesBlocks;
    sync_.total = total;
    return true;
}

bool ScopeDisplay::drawSynced(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones,
                              ScopeWindow window) {
    // Frozen, the view keeps its copy, phase and anchors and reads no clock.
    const bool kept = frame.frozen() && sync_.valid && sync_.window == window;
    if (!kept && !takeSyncedCycle(frame, window)) return false;
    const std::size_t ownNames = zones.timelineNameRects.size();
    const ScopeMode mode = frame.settings.scopeMode();

    CanvasState state(canvas);
    canvas.clip(rect);
    drawAxis(canvas, rect, frame);
    scope::cycleDivisions(sync_.cycleBeats, sync_.beatsPerBar, divisions_);
    for (const double at : divisions_) {
        canvas.fill(Rect{std::round(rect.minX() + rect.width * at), rect.minY(), 1.0, rect.height},
                     frame.theme.spectrumGridMinor);
    }

    const int n = sync_.length;
    const double phase = sync_.phase;
    // Entries before the newest shown at cycle position t (0…1): left of
    // now the current cycle, right of it the end of the previous one.
    const auto index = [&](double t) { return (n - 1) - ((t <= phase ? phase : phase + 1.0) - t) * n; };
    if (sync_.usesBlocks) {
        const int columns = longViewColumns(rect, frame);
        columnFirst_.resize(static_cast<std::size_t>(columns));
        columnEnd_.resize(static_cast<std::size_t>(columns));
        int breakColumn = -1;
        for (int c = 0; c < columns; ++c) {
            const double t0 = static_cast<double>(c) / columns;
            const double t1 = static_cast<double>(c + 1) / columns;
            if (t0 <= phase && phase < t1) breakColumn = c;
            const double a = index(t0);
            const double b = t1 <= phase || t0 > phase ? index(t1) : a;
            const int first = std::clamp(static_cast<int>(std::floor(std::min(a, b))), 0, n - 1);
            const int end = std::clamp(static_cast<int>(std::ceil(std::max(a, b))), first + 1, n);
            columnFirst_[static_cast<std::size_t>(c)] = first;
            columnEnd_[static_cast<std::size_t>(c)] = end;
        }
        const int real = static_cast<int>(std::min<std::uint64_t>(sync_.total, static_cast<std::uint64_t>(n)));
        drawLongView(canvas, rect, frame, n - real, breakColumn, mode,
                     frame.settings.scopeColorMap() == ColorMap::frequency);
    } else {
        const PixelBox box = beginTraces(rect, backingScale(frame));
        if (mode == ScopeMode::stereo) {
            drawSyncedSamples(rect, frame, ScopeMode::right);
            strokeTrace(box, frame, true);
        }
        drawSyncedSamples(rect, frame, mode);
        strokeTrace(box, frame, false);
        showTraces(canvas, box);
    }

    drawSyncMarks(canvas, rect, frame, zones);
    canvas.fill(Rect{std::round(rect.minX() + phase * rect.width), rect.minY(), 1.0, rect.height},
                frame.theme.integratedMarker.withAlpha(0.5));
    drawNote(canvas, rect, zones, ownNames, mode, title(window));
    return true;
}

// Per pixel column the lowest and highest value of the frames it shows,
// into `ranges_`. Neighbouring columns share their edge frames, so the
// trace stays joined; the column holding now shows only the newest frames.
void ScopeDisplay::drawSyncedSamples(const Rect& rect, const Frame& frame, ScopeMode mode) {
    const int n = sync_.length;
    const double phase = sync_.phase;
    const double scale = backingScale(frame);
    const double left0 = std::floor(rect.minX() * scale);
    const double bottom = std::floor(rect.minY() * scale);
    const double amplitude = std::max(rect.height * 0.5 - 2.0, 0.0);
    const auto index = [&](double t) { return (n - 1) - ((t <= phase ? phase : phase + 1.0) - t) * n; };
    ranges_.reset(layer_.columns());
    const float* left = samplesL_.data();
    const float* right = samplesR_.data();
    // The mode is chosen once per frame, not per frame of audio: this loop
    // reads every copied frame (up to 2.5 s of them).
    const auto reduce = [&](auto value) {
        for (int u = 0; u < layer_.columns(); ++u) {
            double t0 = ((left0 + u) / scale - rect.minX()) / rect.width;
            double t1 = ((left0 + u + 1.0) / scale - rect.minX()) / rect.width;
            if (t1 <= 0.0 || t0 >= 1.0) continue;
            t0 = std::max(t0, 0.0);
            t1 = std::min(t1, 1.0);
            if (t0 <= phase && phase < t1) t1 = phase;
            const int first = std::clamp(static_cast<int>(std::floor(index(t0))), 0, n - 1);
            const int last = std::clamp(static_cast<int>(std::ceil(index(t1))), first, n - 1);
            float low = std::numeric_limits<float>::infinity();
            float high = -low;
            for (int j = first; j <= last; ++j) {
                const float v = value(j);
                low = v < low ? v : low;  // a NaN changes neither
                high = v > high ? v : high;
            }
            if (low > high) continue;
            // Clipping after the reduction gives the same ends: it keeps order.
            ranges_.include(u, static_cast<float>((rect.midY() + amplitude * clipped(low)) * scale - bottom));
            ranges_.include(u, static_cast<float>((rect.midY() + amplitude * clipped(high)) * scale - bottom));
        }
    };
    switch (mode) {
        case ScopeMode::stereo:
        case ScopeMode::left: reduce([&](int j) { return left[j]; }); break;
        case ScopeMode::right: reduce([&](int j) { return right[j]; }); break;
        case ScopeMode::mid: reduce([&](int j) { return (left[j] + right[j]) * 0.5f; }); break;
        case ScopeMode::side: reduce([&](int j) { return (left[j] - right[j]) * 0.5f; }); break;
    }
}

void ScopeDisplay::drawSyncMarks(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    if (!frame.settings.showTimelineMarks() || frame.sync == nullptr) return;
    const Font& font = noteFont();
    scope::barMarks(sync_.beatNow, sync_.cycleBeats, sync_.beatsPerBar, rect.width, frame.liveSet, barMarks_);
    for (const scope::SyncMark& mark : barMarks_) {
        label_ = std::to_string(mark.bar);
        canvas.drawText(label_, font, Colour::white(0.8), {rect.minX() + mark.position * rect.width + 3.0, rect.minY() + 1.0});
    }

    // The helper's locators while it speaks, else the set's.
    std::span<const LiveSet::Locator> locators;
    {
        std::scoped_lock held(frame.sync->lock());
        if (frame.sync->helperFreshLocked(frame.now)) {
            locators_ = frame.sync->stateLocked().helperLocators;
            locators = locators_;
        }
    }
    if (locators.empty() && frame.liveSet) locators = frame.liveSet->locators;
    scope::locatorMarks(sync_.beatNow, sync_.cycleBeats, rect.width, locators, locatorMarks_);
    double lastNameEnd = -std::numeric_limits<double>::infinity();
    for (const scope::SyncMark& mark : locatorMarks_) {
        const double x = std::round(rect.minX() + mark.position * rect.width);
        canvas.fill(Rect{x, rect.minY() + 2.0, 1.0, std::max(rect.height - 4.0, 0.0)}, frame.theme.traceRight);
        const std::string& name = locators[static_cast<std::size_t>(mark.locator)].name;
        if (name.empty() || !(x > lastNameEnd + 6.0)) continue;
        const Size size = canvas.textSize(name, font);
        const double textX = x + 3.0 + size.width <= rect.maxX() - 2.0 ? x + 3.0 : x - 3.0 - size.width;
        const Rect box{textX, rect.maxY() - 11.0, size.width, size.height};
        canvas.drawText(name, font, Colour::white(0.85), {box.x, box.y});
        zones.timelineNameRects.push_back(box);
        lastNameEnd = box.maxX();
    }
}

// ---- note ----------------------------------------------------------------------

void ScopeDisplay::drawNote(Canvas& canvas, const Rect& rect, Zones& zones, std::size_t ownNamesFrom,
                            ScopeMode mode, std::string_view note) {
    scope::noteText(mode, note, note_);
    if (note_.empty() || rect.height < kNoteLowest) {
        note_.clear();
        return;
    }
    const Size size = canvas.textSize(note_, noteFont());
    const double y = rect.maxY() - 3.0 - size.height;
    const auto free = [&](double x) {
        const Rect grown{x - 4.0, y - 1.0, size.width + 8.0, size.height + 2.0};
        for (std::size_t i = ownNamesFrom; i < zones.timelineNameRects.size(); ++i) {
            if (meets(grown, zones.timelineNameRects[i])) return false;
        }
        return true;
    };
    double x = rect.maxX() - 5.0 - size.width;
    if (!free(x)) {
        x = rect.minX() + 5.0;
        if (!free(x)) {
            note_.clear();
            return;
        }
    }
    canvas.drawText(note_, noteFont(), Colour::white(0.6), {x, y});
}

}  // namespace crestline
