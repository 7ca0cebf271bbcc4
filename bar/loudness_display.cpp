#include "bar/loudness_display.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "bar/text_cache.h"
#include "bar/wordmark.h"
#include "settings/settings.h"

namespace crestline {

namespace {

constexpr const char* kWidestValue = "\xE2\x88\x92" "88.8";  // "−88.8"
constexpr double kPeakFloor = -48.0;   // dBFS at the left end of a peak field
constexpr double kPeakCeiling = 6.0;
constexpr double kLevelFloor = -36.0;  // dB at the start of a dashboard bar
constexpr double kLevelCeiling = 6.0;

double peakFraction(double v) { return (std::min(v, kPeakCeiling) - kPeakFloor) / (kPeakCeiling - kPeakFloor); }
double levelFraction(double v) { return (std::min(v, kLevelCeiling) - kLevelFloor) / (kLevelCeiling - kLevelFloor); }

bool hasTruePeak(const std::vector<Readout>& items) {
    return std::any_of(items.begin(), items.end(), [](const Readout& r) { return r.hint == Hint::truePeak; });
}

// A bar row of the dashboards.
struct LevelRow {
    struct Values {
        std::array<double, 2> v{};
        std::size_t count = 0;
        std::size_t size() const { return count; }
        double operator[](std::size_t i) const { return v[i]; }
    };
    const char* label = "";
    Values values;  // one value, or left and right
    bool peak = false;
    bool sample = false;
    std::optional<ResetTarget> reset;
    Hint hint = Hint::loudness;
    bool warn = false;
};

std::string tickLabel(int db) {
    if (db == 0) return "0";
    return (db > 0 ? "+" : "\xE2\x88\x92") + std::to_string(std::abs(db));
}

MeterParts meterParts(const Settings& settings) {
    MeterParts parts;
    parts.momentary = settings.showMomentary();
    parts.shortTerm = settings.showShortTerm();
    parts.integrated = settings.showIntegrated();
    parts.loudnessRange = settings.showLoudnessRange();
    parts.psr = settings.showPSR();
    parts.truePeak = settings.showTruePeak();
    parts.peak = settings.showPeak();
    return parts;
}

double widthOf(std::string_view text, const Font& font, TextCache& texts) { return texts.size(text, font).width; }
double widthOf(std::string_view text, const Font& font, Canvas& canvas) { return canvas.textSize(text, font).width; }

const Font& labelFont() {
    static const Font font = LiveFont::toolbar(LiveFont::toolbarSize);
    return font;
}

const Font& valueFont() {
    static const Font font = LiveFont::toolbar(LiveFont::toolbarSize);
    return font;
}

}  // namespace

// ---- Readouts and measuring ------------------------------------------------------

std::vector<Readout> LoudnessDisplay::buildReadouts(const LoudnessReading& reading, const Settings& settings,
                                                    const BarTheme& theme) const {
    return readouts(reading, meterParts(settings), settings.targetLUFS(), peaks_.clipped,
                    ReadoutColours{theme.meterFill, theme.warnColor});
}

const LoudnessDisplay::Measure& LoudnessDisplay::prepare(const LoudnessReading& reading, const Settings& settings,
                                                         const BarTheme& theme, double height, double roomWidth,
                                                         bool notch, TextCache& texts) {
    readouts(reading, meterParts(settings), settings.targetLUFS(), peaks_.clipped,
             ReadoutColours{theme.meterFill, theme.warnColor}, items_);
    prepared_.choice = chooseLayout(height, roomWidth, notch, items_, texts);
    prepared_.metrics = metricsFor(items_, prepared_.choice, texts);
    prepared_.columns = static_cast<int>(prepared_.choice.stacked ? gridColumns(items_).size() : items_.size());
    spread_ = 0.0;
    return prepared_;
}

LoudnessDisplay::Measure LoudnessDisplay::measure(const LoudnessReading& reading, const Settings& settings,
                                                  const BarTheme& theme, double height, double roomWidth, bool notch,
                                                  TextCache& texts) {
    const std::vector<Readout> items = buildReadouts(reading, settings, theme);
    Measure m;
    m.choice = chooseLayout(height, roomWidth, notch, items, texts);
    m.metrics = metricsFor(items, m.choice, texts);
    m.columns = static_cast<int>(m.choice.stacked ? gridColumns(items).size() : items.size());
    return m;
}

std::optional<StackedMeter> LoudnessDisplay::stackedMeter(double height, TextCache& texts) {
    if (!(height >= kStackedFromHeight)) return std::nullopt;
    if (stackedCache_ && stackedCache_->height == height) return stackedCache_;
    const double t = std::min((height - kStackedFromHeight) / (128.0 - kStackedFromHeight), 1.0);
    const double size = std::round(10.0 + 3.0 * t);
    StackedMeter m;
    m.height = height;
    m.labelFont = LiveFont::toolbar(size);
    m.valueFont = LiveFont::toolbar(size);
    m.heroFont = LiveFont::toolbar(size);
    m.tickFont = LiveFont::toolbar(8.0);
    m.fieldWidth = std::max(std::ceil(widthOf(kWidestValue, m.valueFont, texts) + 12.0), kMinimumFieldWidth);
    m.fieldHeight = std::ceil(m.labelFont.lineHeight()) + 4.0;
    m.rowGap = std::round(6.0 * t + 4.0);
    m.columnGap = std::round(6.0 * t + 12.0);
    stackedCache_ = m;
    return m;
}

MeterMetrics LoudnessDisplay::stackedMetrics(const std::vector<Readout>& items, const StackedMeter& stacked,
                                             TextCache& texts) {
    MeterMetrics m;
    m.labelWidths.assign(items.size(), 0.0);
    m.fieldWidths.assign(items.size(), stacked.fieldWidth);
    if (items.empty()) return m;
    const auto columns = gridColumns(items);
    for (const auto& column : columns) {
        double widest = 0.0;
        for (int i : column) {
            widest = std::max(widest, widthOf(items[static_cast<std::size_t>(i)].label, stacked.labelFont, texts));
        }
        for (int i : column) m.labelWidths[static_cast<std::size_t>(i)] = widest;
        m.contentWidth += widest + kLabelGap + stacked.fieldWidth;
    }
    m.contentWidth += stacked.columnGap * static_cast<double>(columns.size() - 1);
    if (hasTruePeak(items)) m.contentWidth += stacked.columnGap;
    m.totalWidth = m.contentWidth + 2.0 * kMeterPadding;
    return m;
}

MeterChoice LoudnessDisplay::chooseLayout(double height, double roomWidth, bool notch,
                                          const std::vector<Readout>& items, TextCache& texts) {
    MeterChoice choice;
    choice.layout = meterLayoutFor(height, notch);
    if (choice.layout == MeterLayout::inlineRow) return choice;
    if (choice.layout == MeterLayout::dashboard) {
        choice.dashboardWidth = dashboardWidthFor(height, roomWidth);
        return choice;
    }
    choice.stacked = stackedMeter(height, texts);
    if (!choice.stacked) {
        choice.layout = MeterLayout::inlineRow;
    } else if (choice.layout == MeterLayout::horizontalDashboard) {
        choice.horizontalWidth = std::max(420.0, stackedMetrics(items, *choice.stacked, texts).totalWidth);
        choice.stacked.reset();
    }
    return choice;
}

MeterMetrics LoudnessDisplay::metricsFor(const std::vector<Readout>& items, const MeterChoice& choice,
                                         TextCache& texts) {
    MeterMetrics m;
    switch (choice.layout) {
        case MeterLayout::dashboard: m.totalWidth = choice.dashboardWidth; return m;
        case MeterLayout::horizontalDashboard: m.totalWidth = choice.horizontalWidth; return m;
        case MeterLayout::stacked: return stackedMetrics(items, *choice.stacked, texts);
        case MeterLayout::inlineRow: break;
    }
    if (items.empty()) return m;
    for (const Readout& item : items) {
        const double label = widthOf(item.label, labelFont(), texts);
        const double field = item.isPeakMeter ? kPeakFieldWidth
                                              : std::max(widthOf(item.text, valueFont(), texts) + 10.0,
                                                         kMinimumFieldWidth);
        m.labelWidths.push_back(label);
        m.fieldWidths.push_back(field);
        m.contentWidth += label + kLabelGap + field;
    }
    m.contentWidth += kItemGap * static_cast<double>(items.size() - 1);
    if (hasTruePeak(items)) m.contentWidth += kItemGap;
    m.totalWidth = m.contentWidth + 2.0 * kMeterPadding;
    return m;
}

// ---- Drawing ----------------------------------------------------------------------

void LoudnessDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    switch (prepared_.choice.layout) {
        case MeterLayout::dashboard: drawDashboardMeter(rect, frame, canvas, zones); break;
        case MeterLayout::horizontalDashboard: drawHorizontalDashboard(rect, frame, canvas, zones); break;
        case MeterLayout::stacked: drawStackedMeter(rect, *prepared_.choice.stacked, frame, canvas, zones); break;
        case MeterLayout::inlineRow: drawInlineMeter(rect, frame, canvas, zones); break;
    }
}

void LoudnessDisplay::drawInlineMeter(const Rect& rect, const Frame& frame, Canvas& canvas, Zones& zones) {
    const BarTheme& t = frame.theme;
    const std::vector<Readout>& items = items_;
    const MeterMetrics& metrics = prepared_.metrics;
    if (!t.panel && rect.height > 12.0) canvas.fill(Rect{rect.minX(), rect.minY() + 6.0, 1.0, rect.height - 12.0}, t.separator);
    if (items.empty()) return;
    const double spread = spread_;
    const double n = static_cast<double>(items.size());
    double x = rect.maxX() - kMeterPadding - metrics.contentWidth - spread * (n - 1.0);
    const double midY = rect.midY();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Readout& item = items[i];
        if (item.hint == Hint::truePeak) {
            if (rect.height > 16.0) canvas.fill(Rect{x + kItemGap / 2.0 - spread / 2.0, rect.minY() + 8.0, 1.0,
                                                     rect.height - 16.0},
                                                t.separator);
            x += kItemGap;
        }
        const double labelWidth = metrics.labelWidths[i];
        const double fieldWidth = metrics.fieldWidths[i];
        const Size label = canvas.textSize(item.label, labelFont());
        canvas.drawText(item.label, labelFont(), t.labelColor, {x, midY - label.height / 2.0});
        const double fieldX = x + labelWidth + kLabelGap;
        if (item.isPeakMeter) {
            drawPeakField(fieldX, kPeakFieldWidth, midY, std::min(15.0, std::max(8.0, frame.bounds.height - 10.0)), frame,
                          canvas);
        } else {
            drawValueField(item.text, fieldX, fieldWidth, midY, item.warn, valueFont(), kFieldHeight, item.status,
                           frame, canvas);
        }
        const Rect zone{x - (spread + kItemGap) / 2.0, rect.minY(), labelWidth + kLabelGap + fieldWidth + spread + kItemGap,
                        rect.height};
        zones.addHint(zone, item.hint);
        zones.addReset(zone, item.target);
        x += labelWidth + kLabelGap + fieldWidth + kItemGap + spread;
    }
}

void LoudnessDisplay::drawStackedMeter(const Rect& rect, const StackedMeter& stacked, const Frame& frame,
                                       Canvas& canvas, Zones& zones) {
    const BarTheme& t = frame.theme;
    const std::vector<Readout>& items = items_;
    const MeterMetrics& metrics = prepared_.metrics;
    if (items.empty()) return;
    const auto columns = gridColumns(items);
    const double spread = spread_;
    double x = rect.maxX() - kMeterPadding - metrics.contentWidth - spread * static_cast<double>(columns.size() - 1);
    const double midY = rect.midY();
    const double pitch = (stacked.fieldHeight + stacked.rowGap) / 2.0;
    for (const auto& column : columns) {
        const bool truePeakColumn = std::any_of(column.begin(), column.end(), [&](int i) {
            return items[static_cast<std::size_t>(i)].hint == Hint::truePeak;
        });
        if (truePeakColumn) {
            const double inset =
                std::max(6.0, (midY - rect.minY()) - (2.0 * stacked.fieldHeight + stacked.rowGap) / 2.0 - 2.0);
            if (rect.height > 2.0 * inset) {
                canvas.fill(Rect{x + stacked.columnGap / 2.0 - spread / 2.0, rect.minY() + inset, 1.0,
                                 rect.height - 2.0 * inset},
                            t.separator);
            }
            x += stacked.columnGap;
        }
        const double labelWidth = metrics.labelWidths[static_cast<std::size_t>(column.front())];
        const bool single = column.size() == 1;
        for (std::size_t row = 0; row < column.size(); ++row) {
            const Readout& item = items[static_cast<std::size_t>(column[row])];
            const double rowMid = single && item.hint == Hint::truePeak ? midY : (row == 0 ? midY + pitch : midY - pitch);
            const Size label = canvas.textSize(item.label, stacked.labelFont);
            canvas.drawText(item.label, stacked.labelFont, t.labelColor, {x, rowMid - label.height / 2.0});
            const double fieldX = x + labelWidth + kLabelGap;
            if (item.isPeakMeter) {
                drawPeakField(fieldX, stacked.fieldWidth, rowMid, stacked.fieldHeight, frame, canvas);
            } else {
                drawValueField(item.text, fieldX, stacked.fieldWidth, rowMid, item.warn,
                               item.hero ? stacked.heroFont : stacked.valueFont, stacked.fieldHeight, item.status,
                               frame, canvas);
            }
            const double zoneX = x - (spread + stacked.columnGap) / 2.0;
            const double zoneWidth = labelWidth + kLabelGap + stacked.fieldWidth + spread + stacked.columnGap;
            Rect zone{zoneX, rect.minY(), zoneWidth, rect.height};
            if (!single) zone = row == 0 ? Rect{zoneX, midY, zoneWidth, rect.maxY() - midY}
                                         : Rect{zoneX, rect.minY(), zoneWidth, midY - rect.minY()};
            zones.addHint(zone, item.hint);
            zones.addReset(zone, item.target);
        }
        x += labelWidth + kLabelGap + stacked.fieldWidth + stacked.columnGap + spread;
    }
}

void LoudnessDisplay::drawValueField(std::string_view text, double x, double fieldWidth, double midY, bool warn,
                                     const Font& font, double height, const std::optional<Colour>& status,
                                     const Frame& frame, Canvas& canvas) {
    const BarTheme& t = frame.theme;
    const Colour colour = warn ? t.warnColor : t.valueColor;
    const Rect field{x, midY - height / 2.0, fieldWidth, height};
    const Size size = canvas.textSize(text, font);
    const double padding = std::max(5.0, std::trunc(0.3 * font.size()));
    const double textX = field.maxX() - padding - size.width;
    if (t.fieldBackground) {
        canvas.fill(field, *t.fieldBackground);
        if (t.fieldBorder) canvas.stroke(Path::rect(field.insetBy(0.5, 0.5)), *t.fieldBorder, 1.0);
        if (status) canvas.fill(Rect{field.minX(), field.minY(), field.width, 2.0}, *status);
    } else if (status) {
        canvas.fill(Rect{textX, field.minY(), size.width, 2.0}, *status);
    }
    canvas.drawText(text, font, colour, {textX, midY - size.height / 2.0});
}

void LoudnessDisplay::drawPeakField(double x, double width, double midY, double height, const Frame& frame,
                                    Canvas& canvas) {
    const BarTheme& t = frame.theme;
    if (!(width > 0.0)) return;
    const double barHeight = std::max(std::floor((height - 3.0) / 2.0), 3.0);
    const Colour colour = peaks_.clipped ? t.warnColor : t.meterFill;
    const Gradient& gradient = frame.gradients.of(colour);
    const double zeroX = x + width * (-kPeakFloor) / (kPeakCeiling - kPeakFloor);
    const std::array<double, 2> barY{midY + 1.5, midY - 1.5 - barHeight};  // left above, right below
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const Rect bar{x, barY[ch], width, barHeight};
        canvas.fill(bar, t.meterTrack);
        const double level = peaks_.shown[ch];
        if (level > kPeakFloor) {
            canvas.fill(Rect{x, bar.minY(), width * peakFraction(level), barHeight}, gradient, {x, bar.midY()},
                        {zeroX, bar.midY()});
        }
        const double hold = peaks_.hold[ch];
        if (hold > kPeakFloor) canvas.fill(Rect{x + width * peakFraction(hold) - 1.0, bar.minY(), 1.5, barHeight}, colour);
    }
    canvas.fill(Rect{std::round(zeroX), barY[1], 1.0, barY[0] + barHeight - barY[1]}, t.labelColor);
}

double LoudnessDisplay::makerMarkWidth(double height, Canvas& canvas) {
    return Wordmark::aspect() * height + 0.45 * height + widthOf("by KESTO", LiveFont::toolbar(0.9 * height), canvas);
}

void LoudnessDisplay::drawMakerMark(Point at, double height, const Frame& frame, Canvas& canvas) {
    const Colour colour = frame.theme.labelColor.withAlpha(frame.theme.labelColor.alpha * 0.45);
    const double scale = canvas.scale();
    auto found = std::find_if(markPictures_.begin(), markPictures_.end(), [&](const MarkPicture& m) {
        return m.height == height && m.colour == colour && m.scale == scale;
    });
    if (found == markPictures_.end()) {
        if (markPictures_.size() >= 4) markPictures_.clear();
        const double width = Wordmark::aspect() * height;
        QImage image(std::max(1, static_cast<int>(std::ceil(width * scale))),
                     std::max(1, static_cast<int>(std::ceil(height * scale))), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            Canvas mark(painter, image.height() / scale, scale, canvas.texts());
            mark.fill(Wordmark::path({0.0, 0.0}, height), colour);
        }
        markPictures_.push_back({height, colour, scale, std::move(image)});
        found = std::prev(markPictures_.end());
    }
    const QImage& picture = found->image;
    canvas.draw(picture,
                Rect{std::round(at.x * scale) / scale, std::round(at.y * scale) / scale, picture.width() / scale,
                     picture.height() / scale},
                false);
    const Font font = LiveFont::toolbar(0.9 * height);
    const Size size = canvas.textSize("by KESTO", font);
    canvas.drawText("by KESTO", font, colour,
                    {at.x + Wordmark::aspect() * height + 0.45 * height, at.y + height / 2.0 - size.height / 2.0});
}

// ---- Dashboards -------------------------------------------------------------------

namespace {

Colour targetColour(const BarTheme& t, double integrated, double target) {
    const double d = integrated - target;
    if (std::fabs(d) <= 1.0) return t.meterFill.isValid() ? t.meterFill : t.valueColor;
    if (d > 1.0) return t.warnColor;
    return t.labelColor;
}

Colour integratedColour(const BarTheme& t, double integrated, std::optional<double> target) {
    if (!std::isfinite(integrated) || integrated <= -99.0) return t.labelColor;
    if (target && integrated > *target + 1.0) return t.warnColor;
    return t.meterFill.withAlpha(1.0);
}

// At most five rows, on the stack: the dashboards draw them every frame.
ShortList<LevelRow> levelRows(const LoudnessReading& reading, const MeterParts& parts,
                              std::optional<double> target, const PeakHold& peaks) {
    using Kind = ResetTarget::Kind;
    ShortList<LevelRow> rows;
    const auto add = [&rows](const char* label, LevelRow::Values values, bool peak, bool sample,
                             std::optional<ResetTarget> reset, Hint hint, bool warn) {
        rows.push_back({label, values, peak, sample, reset, hint, warn});
    };
    if (parts.momentary) add("M", {{reading.momentary}, 1}, false, false, std::nullopt, Hint::momentary, false);
    if (parts.shortTerm) {
        add("S", {{reading.shortTerm}, 1}, false, false, ResetTarget::of(Kind::shortTerm), Hint::shortTerm, false);
    }
    if (parts.integrated) {
        add("I", {{reading.integrated}, 1}, false, false, ResetTarget::of(Kind::integrated), Hint::integrated,
            target && reading.integrated > *target + 1.0);
    }
    if (parts.truePeak) {
        add("TP", {{reading.truePeak}, 1}, true, false, ResetTarget::of(Kind::truePeak), Hint::truePeak,
            reading.truePeak > -1.0);
    }
    if (parts.peak) {
        add("Peak", {{peaks.shown[0], peaks.shown[1]}, 2}, true, true, ResetTarget::of(Kind::peakHold), Hint::peak,
            peaks.clipped);
    }
    return rows;
}

}  // namespace

void LoudnessDisplay::drawHorizontalDashboard(const Rect& rect, const Frame& frame, Canvas& canvas, Zones& zones) {
    const LoudnessReading& reading = frame.reading;
    const BarTheme& t = frame.theme;
    const Rect inner = rect.insetBy(12.0, 8.0);
    if (inner.isEmpty()) return;
    const MeterParts parts = meterParts(frame.settings);
    const std::optional<double> target = parts.integrated ? frame.settings.targetLUFS() : std::nullopt;
    const Font f9 = LiveFont::toolbar(9.0);
    const Font f10 = LiveFont::toolbar(10.0);
    const Font f11 = LiveFont::toolbar(11.0);

    // The integrated column.
    const bool column = parts.integrated || parts.loudnessRange || parts.psr;
    const double columnWidth = column ? std::min(std::round(0.32 * inner.width), 170.0) : 0.0;
    const double rowsX = column ? inner.minX() + columnWidth + 18.0 : inner.minX();
    if (column) {
        const Rect col{inner.minX(), inner.minY(), columnWidth, inner.height};
        double top = col.maxY();
        const double lineHeight = f10.lineHeight();
        const std::string* targetLine = nullptr;  // one of targetTexts_
        if (target) {
            const std::size_t count = targetLineTexts(reading.integrated, *target, true, targetTexts_);
            targetLine = &targetTexts_[count - 1];
            for (std::size_t i = 0; i < count; ++i) {
                if (widthOf(targetTexts_[i], f10, canvas) <= col.width) {
                    targetLine = &targetTexts_[i];
                    break;
                }
            }
        }
        const double targetRoom = targetLine ? lineHeight + 1.0 : 0.0;
        double room = col.height - targetRoom;
        // The label goes first when the column is too low for it and a
        // number of the smallest size.
        const bool label = parts.integrated && room - (lineHeight + 1.0) >= 12.0 * 1.2;
        if (label) room -= lineHeight + 1.0;
        if (label) {
            canvas.drawText("Integrated", f10, t.labelColor, {col.minX(), top - lineHeight});
            top -= lineHeight + 1.0;
        }
        if (parts.integrated) {
            const double byRoom = std::clamp(std::floor(room / 1.2), 12.0, 40.0);
            const double byWidth = std::floor((col.width - widthOf("LUFS", f10, canvas) - 6.0) / widthOf(kWidestValue, f10, canvas) * 10.0);
            const double size = std::max(12.0, std::min(byRoom, byWidth));
            const Font numberFont = LiveFont::toolbar(size);
            const std::string number = formatLevel(reading.integrated);
            const Size numberSize = canvas.textSize(number, numberFont);
            canvas.drawText(number, numberFont, integratedColour(t, reading.integrated, target),
                            {col.minX(), top - numberSize.height});
            const Size unit = canvas.textSize("LUFS", f10);
            canvas.drawText("LUFS", f10, t.labelColor,
                            {col.minX() + numberSize.width + 4.0, top - 0.62 * numberSize.height - unit.height / 2.0});
            const Rect zone{col.minX(), top - numberSize.height, col.width, numberSize.height};
            zones.addHint(zone, Hint::integrated);
            zones.addReset(zone, ResetTarget::of(ResetTarget::Kind::integrated));
            top -= numberSize.height;
            if (targetLine) {
                canvas.drawText(*targetLine, f10, targetColour(t, reading.integrated, *target),
                                {col.minX(), top - 1.0 - lineHeight});
                zones.addHint(Rect{col.minX(), top - 1.0 - lineHeight, col.width, lineHeight}, Hint::vsTarget);
                top -= lineHeight + 1.0;
            }
        }
        // From the foot up: the maker mark, then LRA and PSR when they fit
        // under what is drawn above.
        double bottom = col.minY();
        const double markHeight = 8.0;
        if (makerMarkWidth(markHeight, canvas) <= col.width) {
            drawMakerMark({col.minX(), inner.minY() + 2.0}, markHeight, frame, canvas);
            bottom = inner.minY() + 2.0 + markHeight + 3.0;
        }
        const double statsHeight = f11.lineHeight();
        if ((parts.loudnessRange || parts.psr) && bottom + statsHeight <= top - 2.0) {
            double x = col.minX();
            const auto stat = [&](const char* name, double value, bool warn, Hint hint) {
                const double start = x;
                canvas.drawText(name, f10, t.labelColor, {x, bottom + (statsHeight - lineHeight) / 2.0});
                x += widthOf(name, f10, canvas) + 4.0;
                const std::string text = formatAmount(value);
                canvas.drawText(text, f11, warn ? t.warnColor : t.valueColor, {x, bottom});
                x += widthOf(text, f11, canvas) + 12.0;
                zones.addHint(Rect{start, bottom, x - start, statsHeight}, hint);
            };
            if (parts.loudnessRange) stat("LRA", reading.loudnessRange, false, Hint::loudnessRange);
            const double psr = reading.shortTermPeak - reading.shortTerm;
            if (parts.psr) stat("PSR", psr, psr < 5.0, Hint::psr);
        }
    }

    // The bar rows.
    const ShortList<LevelRow> rows = levelRows(reading, parts, target, peaks_);
    if (rows.empty()) return;
    const double tickHeight = std::ceil(f9.lineHeight());
    const double rowsTop = inner.maxY();
    const double rowsBottom = inner.minY() + tickHeight + 3.0;
    const std::size_t loudCount =
        static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const LevelRow& r) { return !r.peak; }));
    const bool bothGroups = loudCount > 0 && loudCount < rows.size();
    const double gap = bothGroups ? 7.0 : 0.0;
    const double rowHeight = (rowsTop - rowsBottom - gap) / static_cast<double>(rows.size());
    if (!(rowHeight >= 8.0)) return;
    const double barHeight = std::min(std::max(std::round(0.62 * rowHeight), 5.0), 14.0);
    const double barX = rowsX + widthOf("Peak", f10, canvas) + 6.0;
    const double barWidth = std::max(inner.maxX() - (widthOf("+88.8", f11, canvas) + 4.0) - 6.0 - barX, 40.0);
    const double zeroX = barX + barWidth * (-kLevelFloor) / (kLevelCeiling - kLevelFloor);

    double y = rowsTop;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LevelRow& row = rows[i];
        if (bothGroups && i == loudCount) {
            canvas.fill(Rect{rowsX, std::round(y - gap / 2.0), inner.maxX() - rowsX, 1.0}, t.separator);
            y -= gap;
        }
        const Rect rowRect{rowsX, y - rowHeight, inner.maxX() - rowsX, rowHeight};
        const double mid = rowRect.midY();
        const Size label = canvas.textSize(row.label, f10);
        canvas.drawText(row.label, f10, t.labelColor, {rowsX, mid - label.height / 2.0});

        const Colour fill = row.warn ? t.warnColor : t.meterFill;
        const Gradient& gradient = frame.gradients.of(fill);
        std::array<Rect, 2> bars{};
        if (row.values.size() == 2) {
            const double h = std::round((1.2 * barHeight - 2.0) / 2.0);
            bars = {Rect{barX, mid + 1.0, barWidth, h}, Rect{barX, mid - 1.0 - h, barWidth, h}};
        } else {
            bars[0] = Rect{barX, mid - barHeight / 2.0, barWidth, barHeight};
        }
        for (std::size_t b = 0; b < row.values.size(); ++b) {
            const Rect& bar = bars[b];
            canvas.fill(bar, t.meterTrack);
            const double v = row.values[b];
            if (std::isfinite(v) && v > kLevelFloor) {
                canvas.fill(Rect{bar.minX(), bar.minY(), bar.width * levelFraction(v), bar.height}, gradient,
                            {bar.minX(), bar.midY()}, {zeroX, bar.midY()});
            }
            if (row.sample) {
                const double hold = peaks_.hold[b];
                if (std::isfinite(hold) && hold > kLevelFloor) {
                    canvas.fill(Rect{bar.minX() + bar.width * levelFraction(hold) - 1.0, bar.minY(), 2.0, bar.height}, fill);
                }
            }
            if (row.hint == Hint::shortTerm && !parts.integrated && std::isfinite(reading.integrated) &&
                reading.integrated > kLevelFloor) {
                canvas.fill(Rect{bar.minX() + bar.width * levelFraction(reading.integrated) - 1.0, bar.minY() - 3.0, 2.0,
                                 bar.height + 6.0},
                            t.integratedMarker);
            }
        }
        const double shown = row.values.size() == 2 ? std::max(row.values[0], row.values[1]) : row.values[0];
        const std::string value = formatLevel(shown);
        const Size valueSize = canvas.textSize(value, f11);
        canvas.drawText(value, f11, row.warn ? t.warnColor : t.valueColor,
                        {inner.maxX() - valueSize.width, mid - valueSize.height / 2.0});
        zones.addHint(rowRect, row.hint);
        zones.addReset(rowRect, row.reset);
        y -= rowHeight;
    }

    // The scale over the rows, labelled below them.
    const double rowsSpan = rowsTop - rowsBottom;
    const double tickStep = widthOf("\xE2\x88\x92" "36", f9, canvas) + 8.0 <= barWidth / 7.0 ? 6.0 : 12.0;
    const Colour tickColour = t.labelColor.withAlpha(t.labelColor.alpha * 0.7);
    for (int db = -36; db <= 6; db += 6) {
        const double x = std::round(barX + barWidth * levelFraction(db));
        canvas.fill(Rect{x, rowsBottom, 1.0, rowsSpan}, db == 0 ? t.labelColor.withAlpha(0.55) : t.separator);
        if (std::fmod(db + 36.0, tickStep) != 0.0) continue;
        const std::string text = tickLabel(db);
        const Size size = canvas.textSize(text, f9);
        canvas.drawText(text, f9, tickColour, {x + 0.5 - size.width / 2.0, inner.minY()});
    }
}

void LoudnessDisplay::drawDashboardMeter(const Rect& rect, const Frame& frame, Canvas& canvas, Zones& zones) {
    const LoudnessReading& reading = frame.reading;
    const BarTheme& t = frame.theme;
    const Rect c{rect.minX() + 18.0, rect.minY() + 10.0, rect.width - 36.0, rect.height - 28.0};
    if (c.isEmpty()) return;
    const MeterParts parts = meterParts(frame.settings);
    const std::optional<double> target = parts.integrated ? frame.settings.targetLUFS() : std::nullopt;
    const Font f9 = LiveFont::toolbar(9.0);
    const Font f10 = LiveFont::toolbar(10.0);
    const Font f11 = LiveFont::toolbar(11.0);
    double y = c.maxY();

    if (parts.integrated) {
        canvas.drawText("Integrated", f10, t.labelColor, {c.minX(), y - f10.lineHeight()});
        y -= f10.lineHeight() + 2.0;
        const double size = std::max(1.0, std::min({std::trunc(0.21 * c.width), 64.0, std::trunc(0.12 * rect.height)}));
        const Font numberFont = LiveFont::toolbar(size);
        const std::string number = formatLevel(reading.integrated);
        const Size numberSize = canvas.textSize(number, numberFont);
        const double numberY = y - numberSize.height;
        canvas.drawText(number, numberFont, integratedColour(t, reading.integrated, target), {c.minX(), numberY});
        // "LUFS" sits on the number's baseline.
        canvas.drawText("LUFS", f10, t.labelColor,
                        {c.minX() + numberSize.width + 6.0, numberY + numberFont.descent() - f10.descent()});
        const Rect zone{c.minX(), numberY, c.width, numberSize.height};
        zones.addHint(zone, Hint::integrated);
        zones.addReset(zone, ResetTarget::of(ResetTarget::Kind::integrated));
        y = numberY;
        if (target) {
            targetLineTexts(reading.integrated, *target, false, targetTexts_);
            const std::string& text = targetTexts_[0];
            y -= 4.0 + f11.lineHeight();
            canvas.drawText(text, f11, targetColour(t, reading.integrated, *target), {c.minX(), y});
            zones.addHint(Rect{c.minX(), y, c.width, f11.lineHeight()}, Hint::vsTarget);
        }
    }
    if (parts.loudnessRange || parts.psr) {
        const double columnWidth = std::min(c.width / 3.0, 90.0);
        y -= 8.0 + f11.lineHeight();
        double x = c.minX();
        const auto stat = [&](const char* name, double value, bool warn, Hint hint) {
            canvas.drawText(name, f10, t.labelColor, {x, y + (f11.lineHeight() - f10.lineHeight()) / 2.0});
            canvas.drawText(formatAmount(value), f11, warn ? t.warnColor : t.valueColor,
                            {x + widthOf(name, f10, canvas) + 5.0, y});
            zones.addHint(Rect{x, y, columnWidth, f11.lineHeight()}, hint);
            x += columnWidth;
        };
        if (parts.loudnessRange) stat("LRA", reading.loudnessRange, false, Hint::loudnessRange);
        const double psr = reading.shortTermPeak - reading.shortTerm;
        if (parts.psr) stat("PSR", psr, psr < 5.0, Hint::psr);
        const double markWidth = makerMarkWidth(9.0, canvas);
        if (c.maxX() - markWidth >= x) {
            drawMakerMark({c.maxX() - markWidth, y + (f11.lineHeight() - 9.0) / 2.0}, 9.0, frame, canvas);
        }
        y -= 6.0;
        canvas.fill(Rect{c.minX(), y, c.width, 1.0}, t.separator);
    }

    // Vertical bars with the scale at their left.
    const ShortList<LevelRow> rows = levelRows(reading, parts, target, peaks_);
    if (rows.empty()) return;
    const double scaleWidth = widthOf("\xE2\x88\x92" "36", f9, canvas);
    const double barsLeft = c.minX() + scaleWidth + 8.0;
    const double remaining = c.maxX() - barsLeft;
    const std::size_t loudCount =
        static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const LevelRow& r) { return !r.peak; }));
    const bool bothGroups = loudCount > 0 && loudCount < rows.size();
    const double slot = remaining / (static_cast<double>(rows.size()) + (bothGroups ? 0.5 : 0.0));
    const Font rowLabelFont = LiveFont::toolbar(slot >= 44.0 ? 12.0 : slot >= 36.0 ? 10.0 : 9.0);
    const double barBottom = c.minY() + rowLabelFont.lineHeight() + 4.0;
    const double barTop = y - 10.0;
    const double barHeight = barTop - barBottom;
    if (!(barHeight > 20.0) || !(slot > 2.0)) return;

    const Colour tickColour = t.labelColor.withAlpha(t.labelColor.alpha * 0.7);
    const double tickStep = barHeight / 7.0 >= f9.lineHeight() ? 6.0 : 12.0;
    for (int db = -36; db <= 6; db += 6) {
        const double ly = std::round(barBottom + barHeight * levelFraction(db));
        canvas.fill(Rect{barsLeft, ly, remaining, 1.0}, db == 0 ? t.labelColor.withAlpha(0.55) : t.separator);
        if (std::fmod(db + 36.0, tickStep) != 0.0) continue;
        const std::string text = tickLabel(db);
        const Size size = canvas.textSize(text, f9);
        canvas.drawText(text, f9, tickColour, {c.minX() + scaleWidth - size.width, ly - size.height / 2.0});
    }

    const double channelWidth = std::max(1.0, std::trunc((std::min(std::trunc(slot / 2.0), 30.0) * 1.2 - 2.0) / 2.0));
    double x = barsLeft;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LevelRow& row = rows[i];
        if (bothGroups && i == loudCount) {
            canvas.fill(Rect{std::round(x + slot / 4.0), barBottom, 1.0, barHeight}, t.separator);
            x += slot / 2.0;
        }
        const Colour fill = row.warn ? t.warnColor : t.meterFill;
        const Gradient& gradient = frame.gradients.of(fill);
        const double total = row.values.size() == 2 ? 2.0 * channelWidth + 2.0 : channelWidth;
        double bx = std::round(x + (slot - total) / 2.0);
        for (std::size_t b = 0; b < row.values.size(); ++b) {
            const Rect bar{bx, barBottom, channelWidth, barHeight};
            canvas.fill(bar, t.meterTrack);
            const double v = row.values[b];
            if (std::isfinite(v) && v > kLevelFloor) {
                canvas.fill(Rect{bar.minX(), bar.minY(), bar.width, bar.height * levelFraction(v)}, gradient,
                            {bar.midX(), bar.minY()}, {bar.midX(), bar.minY() + bar.height * 36.0 / 42.0});
            }
            if (row.sample) {
                const double hold = peaks_.hold[b];
                if (std::isfinite(hold) && hold > kLevelFloor) {
                    canvas.fill(Rect{bar.minX(), bar.minY() + bar.height * levelFraction(hold) - 1.0, bar.width, 2.0}, fill);
                }
            }
            if (row.hint == Hint::shortTerm && !parts.integrated && std::isfinite(reading.integrated) &&
                reading.integrated > kLevelFloor) {
                canvas.fill(Rect{bar.minX() - 3.0, bar.minY() + bar.height * levelFraction(reading.integrated) - 1.0,
                                 bar.width + 6.0, 2.0},
                            t.integratedMarker);
            }
            bx += channelWidth + 2.0;
        }
        const Size label = canvas.textSize(row.label, rowLabelFont);
        canvas.drawText(row.label, rowLabelFont, row.warn ? t.warnColor : t.valueColor,
                        {x + slot / 2.0 - label.width / 2.0, c.minY()});
        const Rect zone{x, rect.minY(), slot, barTop - rect.minY()};
        zones.addHint(zone, row.hint);
        zones.addReset(zone, row.reset);
        x += slot;
    }
}

}  // namespace crestline
