#include "bar/timeline_marks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string_view>

#include "bar/module_display.h"
#include "live/live_sync.h"

namespace crestline {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kLineInset = 2.0;       // points kept free above and below the lines
constexpr double kLabelOffset = 3.0;     // points between a line and its number or name
constexpr double kEdgeMargin = 2.0;      // points a number keeps from the edges
constexpr double kFontSize = 8.0;        // points
constexpr double kMaxBeatsPerSecond = 5.0;  // a faster move is a jump, as for the sync's tempo
constexpr double kJumpSlack = 0.5;          // beats, and seconds, of slack in that test
constexpr double kLeadSeconds = 1.0;     // samples before the span, for the line that enters at the left
constexpr double kLargestBar = 1e9;      // bar numbers beyond this (untrusted beats) are not written
constexpr int kLargestStride = 256;

const Colour kBarLineColour = Colour::white(0.22);
const Colour kBarNumberColour = Colour::white(0.8);
const Colour kLocatorColour = Colour::white(0.85);

// The smallest bar at or after `bar` that is drawn with this stride: bars
// 1, 1 + k, 1 + 2k ..., so lines mark the phrases a producer counts.
double alignUp(double bar, int stride) { return 1.0 + stride * std::ceil((bar - 1.0) / stride); }

double snap(double x, double scale) { return scale > 0.0 ? std::round(x * scale) / scale : x; }

}  // namespace

double TimelineMarks::Grid::bar(double beat) const { return set ? set->bar(beat) : beat / beatsPerBar + 1.0; }

double TimelineMarks::Grid::perBar(double beat) const { return set ? set->beatsPerBar(beat) : beatsPerBar; }

int TimelineMarks::barStride(double pointsPerBar) {
    for (int stride = 1; stride < kLargestStride; stride *= 2) {
        if (pointsPerBar * stride >= kLabelSpacing) return stride;
    }
    return kLargestStride;
}

bool TimelineMarks::continues(double t0, double b0, double t1, double b1) {
    const double dt = t1 - t0;
    const double db = b1 - b0;
    return dt > 0.0 && db > 0.0 && db <= dt * kMaxBeatsPerSecond + kJumpSlack &&
           dt <= db * kMaxBeatsPerSecond + kJumpSlack;
}

void TimelineMarks::collect(const Frame& frame, double since, double until) {
    if (markTimes_.capacity() < static_cast<std::size_t>(LiveSync::kRingSize)) {
        markTimes_.reserve(LiveSync::kRingSize);
        markBeats_.reserve(LiveSync::kRingSize);
    }
    markTimes_.clear();
    markBeats_.clear();
    frame.sync->forEachSample(since, [this, until](double time, double beat) {
        if (time > until || !std::isfinite(time) || !std::isfinite(beat)) return;
        markTimes_.push_back(time);
        markBeats_.push_back(beat);
    });
}

void TimelineMarks::draw(Canvas& canvas, const Rect& rect, const Frame& frame, double seconds, double now,
                         std::vector<Rect>& nameRects) {
    barLines_.clear();
    locatorLines_.clear();
    if (frame.sync == nullptr || !frame.settings.showTimelineMarks()) return;
    if (!(rect.width > 0.0) || !(rect.height > 0.0) || !(seconds > 0.0) || !std::isfinite(seconds) ||
        !std::isfinite(now)) {
        return;
    }

    Grid grid{frame.liveSet, 4.0};
    bool helperFresh = false;
    {
        std::scoped_lock held(frame.sync->lock());
        helperFresh = frame.sync->helperFreshLocked(frame.now);
        if (helperFresh) {
            const LiveSync::State& state = frame.sync->stateLocked();
            grid.beatsPerBar = state.helperBeatsPerBar;
            helperLocators_ = state.helperLocators;  // reuses the copy's storage
        }
    }
    if (!(grid.beatsPerBar > 0.0) || !std::isfinite(grid.beatsPerBar)) grid.beatsPerBar = 4.0;

    collect(frame, now - seconds - kLeadSeconds, now);
    if (markTimes_.size() < 2) return;
    placeBars(rect, grid, seconds, now);
    drawBars(canvas, rect);

    // The helper speaks for the set Live has open right now; the file only
    // knows what was last saved.
    static const std::vector<LiveSet::Locator> kNone;
    const std::vector<LiveSet::Locator>& locators =
        helperFresh ? helperLocators_ : (frame.liveSet != nullptr ? frame.liveSet->locators : kNone);
    drawLocators(canvas, rect, locators, seconds, now, nameRects);
}

void TimelineMarks::placeBars(const Rect& rect, const Grid& grid, double seconds, double now) {
    const std::size_t count = markTimes_.size();
    const double pointsPerSecond = rect.width / seconds;

    // The tempo over the stretches that play on, for the stride.
    double beats = 0.0;
    double time = 0.0;
    for (std::size_t i = 1; i < count; ++i) {
        if (!continues(markTimes_[i - 1], markBeats_[i - 1], markTimes_[i], markBeats_[i])) continue;
        beats += markBeats_[i] - markBeats_[i - 1];
        time += markTimes_[i] - markTimes_[i - 1];
    }
    if (!(beats > 0.0) || !(time > 0.0)) return;
    const double pointsPerBar = pointsPerSecond * grid.perBar(markBeats_.back()) / (beats / time);
    const int stride = barStride(pointsPerBar);

    double lastX = -kInfinity;
    for (std::size_t i = 1; i < count; ++i) {
        const double t0 = markTimes_[i - 1];
        const double t1 = markTimes_[i];
        if (!continues(t0, markBeats_[i - 1], t1, markBeats_[i])) continue;
        const double x0 = rect.maxX() - (now - t0) * pointsPerSecond;
        const double x1 = rect.maxX() - (now - t1) * pointsPerSecond;
        if (x1 < rect.minX()) continue;
        if (x0 > rect.maxX()) break;
        const double bar0 = grid.bar(markBeats_[i - 1]);
        const double bar1 = grid.bar(markBeats_[i]);
        if (!(bar1 > bar0) || !std::isfinite(bar0) || !std::isfinite(bar1) || !(x1 > x0)) continue;

        // Bars grow linearly with x between two samples. Walk only the bars
        // that can be drawn: the first one right of the left edge and of
        // the gap after the last line, then on by the stride or, where bars
        // crowd, straight to the next free place.
        const auto barAt = [&](double x) { return bar0 + std::clamp((x - x0) / (x1 - x0), 0.0, 1.0) * (bar1 - bar0); };
        const auto xOf = [&](double bar) { return x0 + (bar - bar0) / (bar1 - bar0) * (x1 - x0); };
        double from = std::max(rect.minX(), lastX + kMinimumLineGap);
        double bar = alignUp(std::ceil(barAt(from)), stride);
        while (bar < bar1) {
            const double x = xOf(bar);
            if (x > rect.maxX()) break;
            if (x < from) {  // rounding put it just short of the free place
                bar += stride;
                continue;
            }
            barLines_.push_back({x, bar, false});
            lastX = x;
            from = x + kMinimumLineGap;
            bar = std::max(bar + stride, alignUp(std::ceil(barAt(from)), stride));
        }
    }
}

void TimelineMarks::drawBars(Canvas& canvas, const Rect& rect) {
    const double scale = canvas.scale();
    // On whole device pixels, so each line is a plain fill.
    const double bottom = snap(rect.minY() + kLineInset, scale);
    const double height = snap(rect.maxY() - kLineInset, scale) - bottom;
    if (height <= 0.0) return;
    for (const BarLine& line : barLines_) {
        canvas.fill(Rect{snap(line.x, scale), bottom, 1.0, height}, kBarLineColour);
    }
    const Font font = LiveFont::toolbar(kFontSize);
    double lastLabel = -kInfinity;
    for (BarLine& line : barLines_) {
        if (!(std::fabs(line.bar) < kLargestBar)) continue;
        char buffer[16];
        const int length = std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(line.bar));
        if (length <= 0) continue;
        const std::string_view text(buffer, static_cast<std::size_t>(length));
        const Size size = canvas.textSize(text, font);
        double x = line.x + kLabelOffset;
        if (x + size.width > rect.maxX() - kEdgeMargin) x = line.x - kLabelOffset - size.width;
        x = std::max(x, rect.minX() + kEdgeMargin);
        if (x - lastLabel < kLabelSpacing) continue;
        canvas.drawText(text, font, kBarNumberColour, {x, rect.minY() + kLineInset});
        line.numbered = true;
        lastLabel = x;
    }
}

void TimelineMarks::drawLocators(Canvas& canvas, const Rect& rect, const std::vector<LiveSet::Locator>& locators,
                                 double seconds, double now, std::vector<Rect>& nameRects) {
    if (locators.empty()) return;
    const double pointsPerSecond = rect.width / seconds;
    const Font font = LiveFont::toolbar(kFontSize);
    const double scale = canvas.scale();
    const double lineBottom = snap(rect.minY() + kLineInset, scale);
    const double lineHeight = snap(rect.maxY() - kLineInset, scale) - lineBottom;
    rowEnds_.fill(-kInfinity);
    const auto byBeat = [](const LiveSet::Locator& locator, double beat) { return locator.beat < beat; };
    const auto beatBefore = [](double beat, const LiveSet::Locator& locator) { return beat < locator.beat; };

    double lastX = -kInfinity;
    for (std::size_t i = 1; i < markTimes_.size(); ++i) {
        const double t0 = markTimes_[i - 1];
        const double t1 = markTimes_[i];
        const double b0 = markBeats_[i - 1];
        const double b1 = markBeats_[i];
        if (!continues(t0, b0, t1, b1)) continue;
        const double x0 = rect.maxX() - (now - t0) * pointsPerSecond;
        const double x1 = rect.maxX() - (now - t1) * pointsPerSecond;
        if (x1 < rect.minX()) continue;
        if (x0 > rect.maxX()) break;
        if (!(x1 > x0)) continue;
        const auto beatAt = [&](double x) { return b0 + std::clamp((x - x0) / (x1 - x0), 0.0, 1.0) * (b1 - b0); };

        // Every pass over a locator draws it (a loop passes it again), at
        // most one line per few points however many share a beat.
        double from = std::max(rect.minX(), lastX + kMinimumLineGap);
        auto it = std::lower_bound(locators.begin(), locators.end(), std::max(b0, beatAt(from)), byBeat);
        while (it != locators.end() && it->beat < b1) {
            const double x = x0 + (it->beat - b0) / (b1 - b0) * (x1 - x0);
            if (x > rect.maxX()) break;
            if (x < from || !std::isfinite(x)) {
                it = std::upper_bound(it, locators.end(), it->beat, beatBefore);
                continue;
            }
            locatorLines_.push_back(x);
            if (lineHeight > 0.0) {
                canvas.fill(Rect{snap(x, scale), lineBottom, 1.0, lineHeight}, kLocatorColour);
            }
            if (!it->name.empty()) {
                // Names sit at the top; one that would run into the name
                // before it on a row drops to the next row that is free.
                const Size size = canvas.textSize(it->name, font);
                const double nameX = x + kLabelOffset;
                for (std::size_t row = 0; row < rowEnds_.size(); ++row) {
                    const double y = rect.maxY() - kLineInset - size.height - kNameRowHeight * row;
                    if (y < rect.minY() + kLineInset) break;
                    if (nameX < rowEnds_[row] + kNameGap) continue;
                    canvas.drawText(it->name, font, kLocatorColour, {nameX, y});
                    rowEnds_[row] = nameX + size.width;
                    nameRects.push_back(Rect{nameX, y, size.width, size.height});
                    break;
                }
            }
            lastX = x;
            from = x + kMinimumLineGap;
            it = std::lower_bound(std::next(it), locators.end(), beatAt(from), byBeat);
        }
    }
}

std::optional<int> TimelineMarks::barNumber(const Frame& frame, double at) {
    if (frame.sync == nullptr || !std::isfinite(at)) return std::nullopt;
    struct Sample {
        double time = 0.0;
        double beat = 0.0;
        bool found = false;
    };
    Sample before;
    Sample after;
    Sample closest;
    double distance = kInfinity;
    frame.sync->forEachSample(at - 1.0, [&](double time, double beat) {
        if (!std::isfinite(time) || !std::isfinite(beat)) return;
        if (time <= at) {
            before = {time, beat, true};
        } else if (!after.found) {
            after = {time, beat, true};
        }
        if (std::fabs(time - at) < distance) {
            distance = std::fabs(time - at);
            closest = {time, beat, true};
        }
    });
    double beat = 0.0;
    if (before.found && after.found && continues(before.time, before.beat, after.time, after.beat)) {
        // Between two samples of one run the beat is where the bar lines
        // put it, so the number read out matches the line under the pointer.
        beat = before.beat + (at - before.time) / (after.time - before.time) * (after.beat - before.beat);
    } else if (closest.found && distance <= kClosestSampleSeconds) {
        beat = closest.beat;
    } else {
        return std::nullopt;
    }

    Grid grid{frame.liveSet, 4.0};
    if (frame.liveSet == nullptr) {
        std::scoped_lock held(frame.sync->lock());
        if (frame.sync->helperFreshLocked(frame.now)) grid.beatsPerBar = frame.sync->stateLocked().helperBeatsPerBar;
    }
    if (!(grid.beatsPerBar > 0.0) || !std::isfinite(grid.beatsPerBar)) grid.beatsPerBar = 4.0;
    const double bar = std::floor(grid.bar(beat));
    if (!(std::fabs(bar) < kLargestBar)) return std::nullopt;
    return static_cast<int>(bar);
}

}  // namespace crestline
