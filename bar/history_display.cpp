#include "bar/history_display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "analysis/loudness_meter.h"
#include "settings/settings.h"

namespace crestline {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kFieldInset = 2.0;  // points above and below the field
constexpr double kTextSize = 8.0;    // points, legend and read-out
constexpr const char* kSeparator = " \xC2\xB7 ";  // " · "
constexpr const char* kMinus = "\xE2\x88\x92";    // U+2212
constexpr double kPillHeight = 11.0;
constexpr double kPillPadding = 8.0;  // points of width beyond the text

std::size_t at(HistorySource source) { return static_cast<std::size_t>(source); }

bool shows(std::span<const HistorySource> list, HistorySource source) {
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

std::string HistoryDisplay::legend(double minutes, std::span<const HistorySource> shown, bool shortNames) {
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
    const ShortList<HistorySource> shown = settings.historyShowsList();
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
    // The fill and the momentary line go into one picture, the integrated
    // lines into another over the timeline marks and the target line. A
    // picture is painted anew only when what it shows changed: the meter
    // adds a value every 0.1 s, the display draws up to 60 frames a second.
    const auto none = [](const Column&) { return false; };
    const auto pickFill = [fillSource](const Column& c) {
        return fillSource == HistorySource::shortTerm ? c.s : fillSource == HistorySource::momentary ? c.m : c.i;
    };
    columnYs(field, pickFill, [&](const Column&) { return fillSource.has_value(); }, graphYs_[0]);
    columnYs(field, [](const Column& c) { return c.m; },
             [&](const Column&) { return momentary && fillSource != HistorySource::momentary; }, graphYs_[1]);
    const double scale = canvas.scale();
    if (graphShown_.changed(graphYs_, field, scale, theme.meterFill)) {
        graph_.begin(field, scale);
        drawLevelGraph(field, frame);
        graph_.strokeLine(graphYs_[1], columns_.front().x + columnWidth_ / 2.0, columnWidth_, Colour::white(0.35), 1.0);
    }
    graph_.draw(canvas);

    marks_.draw(canvas, rect, frame, span, frame.shownAt(), zones.timelineNameRects);

    const std::optional<double> target = settings.historyTargetLUFS();
    if (integrated && target) {
        canvas.fill(Rect{rect.minX(), levelY(*target, field) - 0.5, rect.width, 1.0}, theme.targetMarker);
    }
    const bool integratedLine = integrated && fillSource != HistorySource::integrated;
    const double over = target ? *target + kOverTargetLU : 0.0;
    const auto pickIntegrated = [](const Column& c) { return c.i; };
    columnYs(field, pickIntegrated, [&](const Column&) { return integratedLine; }, lineYs_[0]);
    if (integratedLine && target) {
        columnYs(field, pickIntegrated, [over](const Column& c) { return c.i > over; }, lineYs_[1]);
    } else {
        columnYs(field, pickIntegrated, none, lineYs_[1]);
    }
    if (linesShown_.changed(lineYs_, field, scale, theme.warnColor)) {
        lines_.begin(field, scale);
        const double first = columns_.front().x + columnWidth_ / 2.0;
        lines_.strokeLine(lineYs_[0], first, columnWidth_, Colour::white(0.85), 1.5);
        lines_.strokeLine(lineYs_[1], first, columnWidth_, theme.warnColor, 1.5);
    }
    lines_.draw(canvas);

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

void HistoryDisplay::drawLevelGraph(const Rect& field, const Frame& frame) {
    // The level gradient of the meter fill, one colour per pixel row: the
    // colour at 0.35 of its alpha at the field's foot, full at its top.
    const Colour& fill = frame.theme.meterFill;
    const auto rows = static_cast<std::size_t>(graph_.height());
    if (rowColours_.size() != rows || rowColoursFor_ != fill || rowColoursField_ != field) {
        rowColours_.resize(rows);
        rowColoursFor_ = fill;
        rowColoursField_ = field;
        const double alpha = std::clamp(fill.alpha, 0.0, 1.0);
        const auto byte = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
        for (std::size_t row = 0; row < rows; ++row) {
            const double t = std::clamp((graph_.rowY(static_cast<int>(row)) - field.minY()) / field.height, 0.0, 1.0);
            const double a = alpha * (0.35 + 0.65 * t);
            rowColours_[row] = byte(a) << 24 | byte(fill.red * a) << 16 | byte(fill.green * a) << 8 | byte(fill.blue * a);
        }
    }
    graph_.fillColumns(graphYs_[0], columns_.front().x, columnWidth_, field.minY(), rowColours_);
}

template <typename Pick, typename Keep>
void HistoryDisplay::columnYs(const Rect& field, Pick pick, Keep keep, std::vector<double>& out) const {
    out.resize(columns_.size());
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        const Column& column = columns_[c];
        const double v = pick(column);
        const bool drawn = column.present && std::isfinite(v) && v > kFloorLUFS && keep(column);
        out[c] = drawn ? levelY(v, field) : kNaN;
    }
}

bool HistoryDisplay::Shown::changed(const std::array<std::vector<double>, 2>& newYs, const Rect& newField,
                                    double newScale, const Colour& newColour) {
    // Bit for bit, so the NaNs of the gaps compare equal.
    const auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
        return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
    };
    if (valid && same(newYs[0], ys[0]) && same(newYs[1], ys[1]) && newField == field && newScale == scale &&
        newColour == colour) {
        return false;
    }
    ys[0] = newYs[0];
    ys[1] = newYs[1];
    field = newField;
    scale = newScale;
    colour = newColour;
    valid = true;
    return true;
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
                                std::span<const HistorySource> shown, const Zones& zones) {
    legendRect_.reset();
    if (rect.height < kLegendFromHeight) return;
    const double minutes = frame.settings.historyMinutes();
    if (minutes != legendMinutes_ || !std::equal(shown.begin(), shown.end(), legendShows_.begin(), legendShows_.end())) {
        legendMinutes_ = minutes;
        legendShows_.assign(shown.begin(), shown.end());
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
                                 std::span<const HistorySource> shown, double span) {
    readout_.clear();
    readoutPill_.reset();
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

    // A field too narrow for the whole read-out drops its first items (the
    // bar, then the loudest-moving series) rather than cutting the text at
    // the field's edge; the true peak always stays.
    const Font font = LiveFont::toolbar(kTextSize);
    const std::string_view separator(kSeparator);
    Size size = canvas.textSize(readout_, font);
    while (size.width + kPillPadding > field.width - 2.0) {
        const std::size_t cut = readout_.find(separator);
        if (cut == std::string::npos) break;
        readout_.erase(0, cut + separator.size());
        size = canvas.textSize(readout_, font);
    }
    const double width = size.width + kPillPadding;
    const double x = std::max(std::min(std::max(px - width / 2.0, field.minX() + 1.0), field.maxX() - width - 1.0),
                              field.minX() + 1.0);
    const double y = field.minY() + (frame.settings.historyDynamics() ? 5.0 : 1.0);
    const Rect pill{x, y, width, kPillHeight};
    readoutPill_ = pill;
    canvas.fillRoundedRect(pill, 3.0, theme.fieldBackground.value_or(theme.hintBackground));
    canvas.drawText(readout_, font, theme.valueColor,
                    {pill.midX() - size.width / 2.0, pill.midY() - size.height / 2.0 - 0.5});
}

}  // namespace crestline
