#include "bar/history_display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "analysis/loudness_meter.h"
#include "settings/settings.h"

namespace crestline {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kFieldInset = 2.0;  // points above and below the field
constexpr double kTextSize = 8.0;    // points, legend and read-out
constexpr const char* kSeparator = " \xC2\xB7 ";  // " · "
constexpr const char* kMinus = "\xE2\x88\x92";    // U+2212
constexpr double kPillHeight = 11.0;
constexpr double kPillPadding = 8.0;  // points of width beyond the text

std::size_t at(HistorySource source) { return static_cast<std::size_t>(source); }

bool shows(const std::vector<HistorySource>& list, HistorySource source) {
    return std::find(list.begin(), list.end(), source) != list.end();
}

bool meets(const Rect& a, const Rect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

std::string_view longName(HistorySource source) {
    switch (source) {
        case HistorySource::momentary: return "Momentary";
        case HistorySource::shortTerm: return "Short-term";
        case HistorySource::integrated: return "Integrated";
        case HistorySource::truePeak: return "True Peak";
        case HistorySource::psr: return "PSR";
    }
    return "";
}

std::string_view shortName(HistorySource source) {
    switch (source) {
        case HistorySource::momentary: return "M";
        case HistorySource::shortTerm: return "S";
        case HistorySource::integrated: return "I";
        case HistorySource::truePeak: return "TP";
        case HistorySource::psr: return "PSR";
    }
    return "";
}

}  // namespace

HistoryDisplay::HistoryDisplay() {
    for (auto& track : tracks_) track.reserve(LoudnessMeter::kHistoryLength);
    readout_.reserve(96);
}

double HistoryDisplay::spanSeconds(double minutes) { return minutes > 0.0 && std::isfinite(minutes) ? minutes * 60.0 : 60.0; }

int HistoryDisplay::valueCount(double spanSeconds) {
    // A hair over the quotient, so 30 s / 0.1 s is 300 and not 299.
    const double values = std::trunc(spanSeconds / kSecondsPerValue + 1e-9);
    if (!(values >= 1.0)) return 1;
    return static_cast<int>(std::min(values, 1e6));
}

double HistoryDisplay::levelY(double lufs, const Rect& field) {
    if (!(lufs >= kFloorLUFS)) return field.minY();
    return field.minY() + field.height * (std::min(lufs, 0.0) - kFloorLUFS) / -kFloorLUFS;
}

void HistoryDisplay::buildColumns(const Tracks& tracks, int count, int available, const Rect& rect,
                                  std::vector<Column>& out) {
    const int columns = std::max(static_cast<int>(std::clamp(std::trunc(rect.width), 1.0, 1e5)), 1);
    const double width = rect.width / columns;
    out.resize(static_cast<std::size_t>(columns));
    const long long n = std::max(count, 1);
    // The values the meter has sit at the right end of the span; with more
    // than the span needs (a frozen copy of a longer span) the newest count.
    const long long offset = n - available;
    long long usable = available;
    for (const auto& track : tracks) usable = std::min(usable, static_cast<long long>(track.size()));
    const std::vector<float>& momentary = tracks[at(HistorySource::momentary)];
    const std::vector<float>& shortTerm = tracks[at(HistorySource::shortTerm)];
    const std::vector<float>& integrated = tracks[at(HistorySource::integrated)];
    const std::vector<float>& truePeak = tracks[at(HistorySource::truePeak)];
    const std::vector<float>& psr = tracks[at(HistorySource::psr)];

    for (int c = 0; c < columns; ++c) {
        Column& column = out[static_cast<std::size_t>(c)];
        column.x = rect.minX() + c * width;
        const long long s = c * n / columns - offset;
        const long long e = (c + 1LL) * n / columns - offset;
        const long long from = std::max(s, 0LL);
        const long long to = std::min(std::max(s + 1, e), usable);
        column.present = from < to;
        column.m = column.s = column.i = column.peak = -kInfinity;
        column.psr = kInfinity;
        for (long long k = from; k < to; ++k) {
            const auto index = static_cast<std::size_t>(k);
            if (std::isfinite(momentary[index])) column.m = std::max(column.m, double{momentary[index]});
            if (std::isfinite(shortTerm[index])) column.s = std::max(column.s, double{shortTerm[index]});
            if (std::isfinite(integrated[index])) column.i = integrated[index];
            if (std::isfinite(truePeak[index])) column.peak = std::max(column.peak, double{truePeak[index]});
            if (std::isfinite(psr[index])) column.psr = std::min(column.psr, double{psr[index]});
        }
    }
}

void HistoryDisplay::appendValueText(double value, std::string& out) {
    if (!std::isfinite(value)) {
        out += "\xE2\x80\x93";  // –
        return;
    }
    if (value <= -99.0) {
        out += kMinus;
        out += "\xE2\x88\x9E";  // ∞
        return;
    }
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, "%.1f", value);
    for (int k = 0; k < length; ++k) {
        if (buffer[k] == '-') {
            out += kMinus;
        } else {
            out += buffer[k];
        }
    }
}

std::string HistoryDisplay::legend(double minutes, const std::vector<HistorySource>& shown, bool shortNames) {
    char buffer[32];
    if (minutes >= 1.0 && std::isfinite(minutes)) {
        std::snprintf(buffer, sizeof buffer, "%d min", static_cast<int>(std::min(std::trunc(minutes), 1e6)));
    } else {
        std::snprintf(buffer, sizeof buffer, "%d s", static_cast<int>(std::trunc(spanSeconds(minutes))));
    }
    std::string text = buffer;
    for (HistorySource source : shown) {
        text += kSeparator;
        text += shortNames ? shortName(source) : longName(source);
    }
    return text;
}

void HistoryDisplay::copyTracks(const Frame& frame, int count) {
    // A frozen module keeps drawing what it had, as long as that covers the span.
    if (frame.frozen() && copiedCount_ >= count) return;
    copiedCount_ = count;
    available_ = 0;
    if (frame.loudness == nullptr) return;
    // One series at a time, each under the meter's lock (copyHistory takes it).
    for (HistorySource source : kAllHistorySources) {
        const int copied = frame.loudness->copyHistory(count, source, tracks_[at(source)]);
        if (source == HistorySource::shortTerm) available_ = copied;
    }
}

void HistoryDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    if (rect.width <= 20.0) return;
    zones.addHint(rect, Hint::history);

    const Settings& settings = frame.settings;
    const double minutes = settings.historyMinutes();
    const double span = spanSeconds(minutes);
    const int count = valueCount(span);
    const std::vector<HistorySource> shown = settings.historyShows();
    copyTracks(frame, count);

    const Rect field{rect.minX(), rect.minY() + kFieldInset, rect.width, rect.height - 2.0 * kFieldInset};
    zones.historyField = field;
    CanvasState state(canvas);
    canvas.clip(rect);
    const BarTheme& theme = frame.theme;
    canvas.fill(field, theme.meterTrack);

    buildColumns(tracks_, count, available_, rect, columns_);
    columnWidth_ = rect.width / static_cast<double>(columns_.size());

    const bool momentary = shows(shown, HistorySource::momentary);
    const bool shortTerm = shows(shown, HistorySource::shortTerm);
    const bool integrated = shows(shown, HistorySource::integrated);
    std::optional<HistorySource> fillSource;
    if (shortTerm) {
        fillSource = HistorySource::shortTerm;
    } else if (momentary) {
        fillSource = HistorySource::momentary;
    } else if (integrated) {
        fillSource = HistorySource::integrated;
    }
    if (fillSource) drawLevelGraph(canvas, field, *fillSource, frame);

    const auto always = [](const Column&) { return true; };
    if (momentary && fillSource != HistorySource::momentary) {
        strokeLine(canvas, field, [](const Column& c) { return c.m; }, always, Colour::white(0.35), 1.0);
    }

    marks_.draw(canvas, rect, frame, span, frame.shownAt(), zones.timelineNameRects);

    const std::optional<double> target = settings.historyTargetLUFS();
    if (integrated && target) {
        canvas.fill(Rect{rect.minX(), levelY(*target, field) - 0.5, rect.width, 1.0}, theme.targetMarker);
    }
    if (integrated && fillSource != HistorySource::integrated) {
        const auto value = [](const Column& c) { return c.i; };
        strokeLine(canvas, field, value, always, Colour::white(0.85), 1.5);
        if (target) {
            const double over = *target + kOverTargetLU;
            strokeLine(canvas, field, value, [over](const Column& c) { return c.i > over; }, theme.warnColor, 1.5);
        }
    }

    if (settings.historyPeakMarks()) {
        fillMarks(canvas, field.maxY() - kMarkHeight, [](const Column& c) { return c.peak > kPeakMarkAboveDBTP; },
                  theme.warnColor);
    }
    const bool dynamics = settings.historyDynamics();
    if (dynamics) {
        canvas.fill(Rect{field.minX(), field.minY(), field.width, kMarkHeight}, Colour::white(0.08));
        fillMarks(canvas, field.minY(),
                  [](const Column& c) { return std::isfinite(c.psr) && c.psr < kSquashedBelowDB; }, theme.warnColor);
    }

    drawLegend(canvas, rect, frame, shown, zones);
    drawReadout(canvas, rect, field, frame, shown, span);
}

void HistoryDisplay::drawLevelGraph(Canvas& canvas, const Rect& field, HistorySource source, const Frame& frame) {
    // One outline per run of columns: the same area as a rectangle per
    // column, without seams between them and far cheaper to fill.
    fillPath_.clear();
    bool open = false;
    double runEnd = 0.0;
    for (const Column& column : columns_) {
        const double v = source == HistorySource::shortTerm ? column.s
                         : source == HistorySource::momentary ? column.m
                                                              : column.i;
        const bool drawn = column.present && std::isfinite(v) && v > kFloorLUFS;
        if (!drawn) {
            if (open) fillPath_.lineTo({runEnd, field.minY()}).close();
            open = false;
            continue;
        }
        const double y = levelY(v, field);
        if (!open) {
            fillPath_.moveTo({column.x, field.minY()});
            open = true;
        }
        runEnd = column.x + columnWidth_;
        fillPath_.lineTo({column.x, y}).lineTo({runEnd, y});
    }
    if (open) fillPath_.lineTo({runEnd, field.minY()}).close();
    if (fillPath_.isEmpty()) return;
    const Gradient& gradient = frame.gradients.of(frame.theme.meterFill);
    canvas.fill(fillPath_, gradient, {field.minX(), field.minY()}, {field.minX(), field.maxY()});
}

template <typename Pick, typename Keep>
void HistoryDisplay::strokeLine(Canvas& canvas, const Rect& field, Pick pick, Keep keep, const Colour& colour,
                                double width) {
    linePath_.clear();
    bool open = false;
    const double half = columnWidth_ / 2.0;
    for (const Column& column : columns_) {
        const double v = pick(column);
        if (!column.present || !std::isfinite(v) || !(v > kFloorLUFS) || !keep(column)) {
            open = false;
            continue;
        }
        const Point p{column.x + half, levelY(v, field)};
        if (open) {
            linePath_.lineTo(p);
        } else {
            linePath_.moveTo(p);
            open = true;
        }
    }
    canvas.stroke(linePath_, colour, width, LineCap::butt, LineJoin::round);
}

template <typename Marked>
void HistoryDisplay::fillMarks(Canvas& canvas, double y, Marked marked, const Colour& colour) {
    const double width = std::max(columnWidth_, 1.0);
    std::optional<double> start;
    double end = 0.0;
    for (const Column& column : columns_) {
        if (column.present && marked(column)) {
            if (!start) start = column.x;
            end = column.x + width;
            continue;
        }
        if (start) canvas.fill(Rect{*start, y, end - *start, kMarkHeight}, colour);
        start.reset();
    }
    if (start) canvas.fill(Rect{*start, y, end - *start, kMarkHeight}, colour);
}

void HistoryDisplay::drawLegend(Canvas& canvas, const Rect& rect, const Frame& frame,
                                const std::vector<HistorySource>& shown, const Zones& zones) {
    legendRect_.reset();
    if (rect.height < kLegendFromHeight) return;
    const double minutes = frame.settings.historyMinutes();
    if (minutes != legendMinutes_ || shown != legendShows_) {
        legendMinutes_ = minutes;
        legendShows_ = shown;
        legendLong_ = legend(minutes, shown, false);
        legendShort_ = legend(minutes, shown, true);
    }
    const Font font = LiveFont::toolbar(kTextSize);
    const Size longSize = canvas.textSize(legendLong_, font);
    const bool useShort = longSize.width >= 0.4 * rect.width;
    const std::string& text = useShort ? legendShort_ : legendLong_;
    const Size size = useShort ? canvas.textSize(text, font) : longSize;
    const double y = rect.maxY() - size.height - 3.0;
    for (const double x : {rect.maxX() - size.width - 5.0, rect.minX() + 5.0}) {
        const Rect place{x, y, size.width, size.height};
        const Rect grown = place.insetBy(-4.0, -1.0);
        const bool free = std::none_of(zones.timelineNameRects.begin(), zones.timelineNameRects.end(),
                                       [&](const Rect& name) { return meets(grown, name); });
        if (!free) continue;
        canvas.drawText(text, font, Colour::white(0.45), {x, y});
        legendRect_ = place;
        return;
    }
}

void HistoryDisplay::drawReadout(Canvas& canvas, const Rect& rect, const Rect& field, const Frame& frame,
                                 const std::vector<HistorySource>& shown, double span) {
    readout_.clear();
    const std::optional<double> pointer = frame.pointer.historyPointerX;
    if (!pointer || !std::isfinite(*pointer)) return;
    const double px = *pointer;
    if (px < field.minX() || px > field.maxX()) return;
    const BarTheme& theme = frame.theme;
    canvas.fill(Rect{std::trunc(px), field.minY(), 1.0, field.height}, theme.integratedMarker.withAlpha(0.6));

    const auto last = static_cast<double>(columns_.size() - 1);
    const double index = std::clamp(std::trunc((px - rect.minX()) / columnWidth_), 0.0, last);
    const Column& column = columns_[static_cast<std::size_t>(index)];
    if (!column.present) return;

    const double moment = frame.shownAt() - span * (rect.maxX() - px) / rect.width;
    if (const std::optional<int> bar = TimelineMarks::barNumber(frame, moment)) {
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "Bar %d", *bar);
        readout_ += buffer;
    }
    const auto add = [&](double value, const char* unit) {
        if (!readout_.empty()) readout_ += kSeparator;
        appendValueText(value, readout_);
        readout_ += unit;
    };
    if (shows(shown, HistorySource::momentary)) add(column.m, " M");
    if (shows(shown, HistorySource::shortTerm)) add(column.s, " S");
    if (shows(shown, HistorySource::integrated)) add(column.i, " I");
    add(column.peak, " TP");

    const Font font = LiveFont::toolbar(kTextSize);
    const Size size = canvas.textSize(readout_, font);
    const double width = size.width + kPillPadding;
    const double x = std::min(std::max(px - width / 2.0, field.minX() + 1.0), field.maxX() - width - 1.0);
    const double y = field.minY() + (frame.settings.historyDynamics() ? 5.0 : 1.0);
    const Rect pill{x, y, width, kPillHeight};
    canvas.fillRoundedRect(pill, 3.0, theme.fieldBackground.value_or(theme.hintBackground));
    canvas.drawText(readout_, font, theme.valueColor,
                    {pill.midX() - size.width / 2.0, pill.midY() - size.height / 2.0 - 0.5});
}

}  // namespace crestline
