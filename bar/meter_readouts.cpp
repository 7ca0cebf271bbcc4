#include "bar/meter_readouts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace crestline {

namespace {

constexpr const char* kMinus = "\xE2\x88\x92";      // U+2212
constexpr const char* kEnDash = "\xE2\x80\x93";     // U+2013
constexpr const char* kMinusInfinity = "\xE2\x88\x92\xE2\x88\x9E";

// Every "-" of a printf result becomes the typographic minus. A value that
// rounds to zero shows no sign: "−0.0" or "+0.0" would claim a side it is
// not on.
std::string withMinusSign(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    const char* start = buffer;
    if ((*start == '-' || *start == '+') && std::strpbrk(start, "123456789") == nullptr) ++start;
    std::string out;
    for (const char* c = start; *c != 0; ++c) {
        if (*c == '-') {
            out += kMinus;
        } else {
            out += *c;
        }
    }
    return out;
}

}  // namespace

std::string formatLevel(double value) {
    if (!std::isfinite(value) || value <= -99.0) return kMinusInfinity;
    return withMinusSign("%.1f", value);
}

std::string formatAmount(double value) {
    if (!std::isfinite(value)) return kEnDash;
    return withMinusSign("%.1f", value);
}

std::string formatDifference(double value) {
    if (!std::isfinite(value)) return kEnDash;
    return withMinusSign("%+.1f", value);
}

std::string formatTarget(double target) {
    if (!std::isfinite(target)) return kEnDash;
    const double magnitude = -target;
    if (magnitude == std::trunc(magnitude) && std::fabs(magnitude) < 1e15) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(magnitude));
        return magnitude == 0.0 ? std::string(buffer) : std::string(kMinus) + buffer;
    }
    return withMinusSign("%.1f", target);
}

std::size_t targetLineTexts(double integrated, double target, bool shortForms, std::array<std::string, 3>& out) {
    const std::string name = formatTarget(target);
    for (std::string& text : out) text.clear();
    if (!std::isfinite(integrated) || integrated <= -99.0) {
        out[0].append("Target ").append(name).append(" LUFS");
        out[1].append("Target ").append(name);
        return 2;
    }
    const double d = integrated - target;
    if (std::fabs(d) < 0.05) {
        out[0].append("On your ").append(name).append(" target");
        out[1].append("On target");
        return 2;
    }
    const std::string amount = formatAmount(std::fabs(d));
    const char* side = d < 0.0 ? " LU below" : " LU over";
    out[0].append(amount).append(side).append(" your ").append(name).append(" target");
    if (!shortForms) return 1;
    out[1].append(amount).append(side).append(" target");
    out[2].append(d < 0.0 ? kMinus : "+").append(amount).append(" LU");
    return 3;
}

std::vector<std::string> targetLineTexts(double integrated, double target, bool shortForms) {
    std::array<std::string, 3> texts;
    const std::size_t count = targetLineTexts(integrated, target, shortForms, texts);
    return {texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(count)};
}

std::vector<Readout> readouts(const LoudnessReading& reading, const MeterParts& parts,
                              std::optional<double> targetLUFS, bool peakClipped, const ReadoutColours& colours) {
    std::vector<Readout> items;
    readouts(reading, parts, targetLUFS, peakClipped, colours, items);
    return items;
}

void readouts(const LoudnessReading& reading, const MeterParts& parts, std::optional<double> targetLUFS,
              bool peakClipped, const ReadoutColours& colours, std::vector<Readout>& items) {
    using Kind = ResetTarget::Kind;
    items.clear();
    items.reserve(8);
    const auto add = [&items](std::string_view label, std::string text, bool warn, std::optional<ResetTarget> target,
                              Hint hint, bool hero = false) -> Readout& {
        Readout& r = items.emplace_back();
        r.label = label;
        r.text = std::move(text);
        r.warn = warn;
        r.target = target;
        r.hint = hint;
        r.hero = hero;
        return r;
    };
    if (parts.momentary) add("Momentary", formatLevel(reading.momentary), false, std::nullopt, Hint::momentary);
    if (parts.shortTerm) {
        add("Short", formatLevel(reading.shortTerm), false, ResetTarget::of(Kind::shortTerm), Hint::shortTerm);
    }
    if (parts.integrated) {
        add("Integrated", formatLevel(reading.integrated), false, ResetTarget::of(Kind::integrated),
            Hint::integrated, true);
        if (targetLUFS) {
            const double d = reading.integrated - *targetLUFS;
            Readout& vs = add("vs Target", formatDifference(d), false, std::nullopt, Hint::vsTarget, true);
            if (std::fabs(d) <= 1.0) {
                vs.status = colours.meterFill;
            } else if (d > 1.0) {
                vs.status = colours.warn;
            }
        }
    }
    if (parts.loudnessRange) {
        add("LRA", formatAmount(reading.loudnessRange), false, std::nullopt, Hint::loudnessRange);
    }
    if (parts.psr) {
        const double psr = reading.shortTermPeak - reading.shortTerm;
        add("PSR", formatAmount(psr), psr < 5.0, std::nullopt, Hint::psr);
    }
    if (parts.truePeak) {
        add("True Peak", formatLevel(reading.truePeak), reading.truePeak > -1.0, ResetTarget::of(Kind::truePeak),
            Hint::truePeak);
    }
    if (parts.peak) add("Peak", "", peakClipped, ResetTarget::of(Kind::peakHold), Hint::peak).isPeakMeter = true;
}

GridColumns gridColumns(const std::vector<Readout>& items) {
    std::array<GridColumns::Column, 4> byHint{};
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::size_t column = 3;
        switch (items[i].hint) {
            case Hint::momentary:
            case Hint::shortTerm: column = 0; break;
            case Hint::integrated:
            case Hint::vsTarget: column = 1; break;
            case Hint::loudnessRange:
            case Hint::psr: column = 2; break;
            default: column = 3; break;
        }
        GridColumns::Column& c = byHint[column];
        if (c.count < c.items.size()) c.items[c.count++] = static_cast<int>(i);
    }
    GridColumns result;
    for (const auto& column : byHint) {
        if (column.count > 0) result.columns[result.count++] = column;
    }
    return result;
}

std::vector<std::vector<int>> GridColumns::vectors() const {
    std::vector<std::vector<int>> out;
    for (const Column& column : *this) out.push_back(column.vector());
    return out;
}

MeterLayout meterLayoutFor(double height, bool notchGap) {
    if (notchGap || !(height >= kStackedFromHeight)) return MeterLayout::inlineRow;
    if (height >= kDashboardFromHeight) return MeterLayout::dashboard;
    if (height >= kHorizontalFromHeight) return MeterLayout::horizontalDashboard;
    return MeterLayout::stacked;
}

double dashboardWidthFor(double height, double roomWidth) {
    const double natural = std::max(240.0, std::trunc(0.42 * height));
    return std::max(160.0, std::min({380.0, natural, roomWidth}));
}

void PeakHold::update(double now, double left, double right) {
    const double dt = time ? std::clamp(now - *time, 0.0, kMaximumStep) : 0.0;
    time = now;
    const double fall = kFallPerSecond * dt;
    const std::array<double, 2> levels{left, right};
    for (std::size_t ch = 0; ch < 2; ++ch) {
        // NaN never reaches the bars: it counts as no level at all.
        const double level = std::isnan(levels[ch]) ? -kInfinity : levels[ch];
        const double falling = std::isfinite(shown[ch]) ? shown[ch] - fall : -kInfinity;
        shown[ch] = std::max(falling, level);
        if (level < hold[ch] && std::isfinite(hold[ch])) {
            if (now >= holdUntil[ch]) hold[ch] = shown[ch];
        } else {
            hold[ch] = level;
            holdUntil[ch] = now + kHoldSeconds;
        }
        if (level >= kClipLevel) clipped = true;
    }
}

void PeakHold::reset() {
    hold = {-kInfinity, -kInfinity};
    holdUntil = {0.0, 0.0};
    clipped = false;
}

}  // namespace crestline
