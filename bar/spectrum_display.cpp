#include "bar/spectrum_display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/spectrum_analyzer.h"
#include "settings/settings.h"

namespace crestline {

namespace {

constexpr double kDecades = 3.0;          // 20 Hz to 20 kHz
constexpr double kFieldInset = 2.0;       // points above and below the field
constexpr double kTextSize = 8.0;         // points: labels, read-out and peak names
constexpr double kPillHeight = 11.0;
constexpr double kPillPadding = 8.0;      // points of width beyond the text
constexpr double kPillRadius = 3.0;
constexpr double kColourSpreadPoints = 3.0;  // a column's colour is the mean loudness this far around it
constexpr double kChannelLabelFromHeight = 30.0;
constexpr double kOutlineWidth = 1.0;     // points, the held outline
constexpr int kMaxColumns = 1 << 16;      // a 16384-point window at scale 4
constexpr const char* kSeparator = " \xC2\xB7 ";  // " · "
constexpr const char* kDash = "\xE2\x80\x93";     // –

constexpr std::array<std::string_view, 12> kNoteNames{"C",  "C#", "D",  "D#", "E",  "F",
                                                      "F#", "G",  "G#", "A",  "A#", "B"};
constexpr std::array<double, 3> kLevelLines{-18.0, -42.0, -66.0};  // dB, 24 apart above the floor

// The grid's labelled frequencies and their texts.
std::string_view gridText(int hz) {
    switch (hz) {
        case 50: return "50";
        case 100: return "100";
        case 500: return "500";
        case 1000: return "1k";
        case 5000: return "5k";
        case 10000: return "10k";
        default: return {};
    }
}

bool meets(const Rect& a, const Rect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

Rect keptInside(Rect r, const Rect& field) {
    r.x = std::max(std::min(r.x, field.maxX() - r.width), field.minX());
    r.y = std::max(std::min(r.y, field.maxY() - r.height), field.minY());
    return r;
}

// For every i, the extreme of `values` over [i − before, i + after]
// (clipped to the ends), in one pass with a monotonic queue of indices.
template <typename Better>
void windowExtreme(std::span<const float> values, int before, int after, std::vector<float>& out,
                   std::vector<int>& queue, Better better) {
    const int n = static_cast<int>(values.size());
    out.resize(values.size());
    queue.resize(values.size());
    int head = 0, tail = 0;
    int next = 0;  // next index to enter the queue
    for (int i = 0; i < n; ++i) {
        const int last = std::min(n - 1, i + after);
        for (; next <= last; ++next) {
            while (tail > head && !better(values[static_cast<std::size_t>(queue[tail - 1])],
                                          values[static_cast<std::size_t>(next)])) {
                --tail;
            }
            queue[static_cast<std::size_t>(tail++)] = next;
        }
        while (queue[static_cast<std::size_t>(head)] < i - before) ++head;
        out[static_cast<std::size_t>(i)] = values[static_cast<std::size_t>(queue[static_cast<std::size_t>(head)])];
    }
}

}  // namespace

SpectrumDisplay::SpectrumDisplay() {
    readout_.reserve(48);
    peakText_.reserve(24);
    labels_.reserve(8);
    named_.reserve(kMaxNamedPeaks);
}

// ---- Mappings and texts ------------------------------------------------------

double SpectrumDisplay::xOfFrequency(double hz, const Rect& field) {
    return field.minX() + field.width * (std::log10(hz) - std::log10(kLowHz)) / kDecades;
}

double SpectrumDisplay::frequencyAt(double x, const Rect& field) {
    if (!(field.width > 0.0)) return kLowHz;
    return std::pow(10.0, std::log10(kLowHz) + kDecades * (x - field.minX()) / field.width);
}

double SpectrumDisplay::levelFraction(double db) {
    if (!(db >= kFloorDb)) return 0.0;
    return (std::min(db, kTopDb) - kFloorDb) / (kTopDb - kFloorDb);
}

double SpectrumDisplay::levelY(double db, const Rect& field) { return field.minY() + field.height * levelFraction(db); }

int SpectrumDisplay::columnCount(double fieldWidth, double scale) {
    const double pixels = std::trunc(fieldWidth * scale);
    if (!(pixels >= 1.0)) return 1;
    return static_cast<int>(std::min(pixels, static_cast<double>(kMaxColumns)));
}

int SpectrumDisplay::namedPeakLimit(double fieldWidth) {
    const double fit = std::trunc(fieldWidth / kPeakLabelSpacing);
    if (!(fit >= 1.0)) return 1;
    return static_cast<int>(std::min(fit, static_cast<double>(kMaxNamedPeaks)));
}

void SpectrumDisplay::appendFrequencyText(double hz, std::string& out) {
    if (!std::isfinite(hz) || hz < 0.0) {
        out += kDash;
        return;
    }
    char buffer[32];
    if (hz < 1000.0) {
        std::snprintf(buffer, sizeof buffer, "%ld Hz", std::lround(hz));
    } else if (hz < 10000.0) {
        std::snprintf(buffer, sizeof buffer, "%.1f kHz", hz / 1000.0);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.0f kHz", std::min(hz, 1e12) / 1000.0);
    }
    out += buffer;
}

std::string SpectrumDisplay::frequencyText(double hz) {
    std::string text;
    appendFrequencyText(hz, text);
    return text;
}

void SpectrumDisplay::appendNoteName(double hz, std::string& out) {
    const double semitones = 12.0 * std::log2(hz / 440.0) + 69.0;
    if (!std::isfinite(semitones) || !(hz > 0.0)) {
        out += kDash;
        return;
    }
    const int m = static_cast<int>(std::lround(std::clamp(semitones, -1200.0, 1200.0)));
    const int octave = (m >= 0 ? m / 12 : (m - 11) / 12);  // rounded down, also below C-1
    out += kNoteNames[static_cast<std::size_t>(m - octave * 12)];
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", octave - 1);
    out += buffer;
}

std::string SpectrumDisplay::noteName(double hz) {
    std::string text;
    appendNoteName(hz, text);
    return text;
}

// ---- Peaks -------------------------------------------------------------------

void SpectrumDisplay::findPeaks(std::span<const float> levels, double floorDb, PeakScratch& scratch,
                                std::vector<int>& out) {
    out.clear();
    const int n = static_cast<int>(levels.size());
    if (n <= 8) return;
    const double perOctave = n * std::log10(2.0) / kDecades;
    const int r = std::max(static_cast<int>(perOctave / 6.0), 2);
    const int w = std::max(r + 1, static_cast<int>(perOctave / 2.0));
    if (n <= 2 * r) return;

    const auto higher = [](float a, float b) { return a > b; };
    const auto lower = [](float a, float b) { return a < b; };
    windowExtreme(levels, r, r, scratch.highest, scratch.deque, higher);
    windowExtreme(levels, w - 1, 0, scratch.leftLow, scratch.deque, lower);   // [j − w + 1, j]
    windowExtreme(levels, 0, w - 1, scratch.rightLow, scratch.deque, lower);  // [j, j + w − 1]

    const double loudEnough = floorDb + kPeakAboveFloorDb;
    for (int i = r; i < n - r; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const float level = levels[k];
        if (!(level > loudEnough) || level < scratch.highest[k]) continue;
        // A flat top (columns finer than the bins) is one peak, named once.
        if (!out.empty() && i - out.back() <= r && levels[static_cast<std::size_t>(out.back())] == level) continue;
        const double valley = std::max(scratch.leftLow[k - 1], scratch.rightLow[k + 1]);
        if (level - valley >= kPeakProminenceDb) out.push_back(i);
    }
    std::sort(out.begin(), out.end(), [&](int a, int b) {
        const float la = levels[static_cast<std::size_t>(a)], lb = levels[static_cast<std::size_t>(b)];
        return la != lb ? la > lb : a < b;
    });
}

// ---- Frame -------------------------------------------------------------------

void SpectrumDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    labels_.clear();
    named_.clear();
    readoutPill_.reset();
    readout_.clear();
    if (!(rect.width > 10.0)) return;
    zones.addHint(rect, Hint::spectrum);

    const Settings& settings = frame.settings;
    const SpectrumChannel channel = settings.spectrumChannel();
    const bool frozen = frame.frozen();
    const bool grabbed = frame.pointer.spectrumGrabbed;
    if (SpectrumAnalyzer* analyzer = frame.spectrum) {
        analyzer->setHolding(grabbed);
        analyzer->setChannel(channel);
        // Holding the spectrum overrides the freeze: the held curve must grow.
        if ((!frozen || grabbed) && frame.scope != nullptr) analyzer->update(*frame.scope);
    }

    const Rect field{rect.minX(), rect.minY() + kFieldInset, rect.width, rect.height - 2.0 * kFieldInset};
    zones.spectrumField = field;
    if (field.isEmpty()) return;
    CanvasState state(canvas);
    canvas.clip(field);
    const BarTheme& theme = frame.theme;

    const double scale = frame.scale > 0.0 ? frame.scale : 2.0;
    const int n = columnCount(field.width, scale);
    step_ = field.width / n;
    const auto columns = static_cast<std::size_t>(n);
    if (columnLevels_.size() != columns) columnLevels_.assign(columns, kEmptyDb);
    measureColumns(n, frame);

    if (frozen) {
        if (frozenLevels_.size() != columnLevels_.size()) frozenLevels_ = columnLevels_;
    } else {
        frozenLevels_.clear();
    }
    const std::span<const float> shown = frozen ? std::span<const float>(frozenLevels_) : columnLevels_;

    if (grabbed) {
        if (heldLevels_.size() != columnLevels_.size()) {
            heldLevels_ = columnLevels_;
        } else {
            for (std::size_t i = 0; i < heldLevels_.size(); ++i) {
                heldLevels_[i] = std::max(heldLevels_[i], columnLevels_[i]);
            }
        }
    } else {
        heldLevels_.clear();
    }

    colourColumns(shown, scale, theme);
    drawField(canvas, field, scale, theme, shown, grabbed);
    drawFrequencyGrid(canvas, field, scale, theme);
    drawLevelGrid(canvas, field, scale, theme);
    drawReadout(canvas, field, frame);
    if (grabbed) nameHeldPeaks(canvas, field, frame);
    if (rect.height >= kChannelLabelFromHeight) drawChannelLabel(canvas, rect, channel);
}

void SpectrumDisplay::measureColumns(int n, const Frame& frame) {
    if (frame.spectrum == nullptr) {
        std::fill(columnLevels_.begin(), columnLevels_.end(), static_cast<float>(kEmptyDb));
        return;
    }
    const SpectrumAnalyzer& analyzer = *frame.spectrum;
    const double tilt = frame.settings.spectrumTilt();
    // Column i spans half a column either side of its x; the edges form a
    // geometric series, so one power per frame is enough.
    const double ratio = std::pow(10.0, kDecades / n);
    const double halfStep = std::sqrt(ratio);
    double centre = kLowHz;
    for (int i = 0; i < n; ++i, centre *= ratio) {
        const double lo = i == 0 ? kLowHz : centre / halfStep;
        const double hi = i == 0 ? kLowHz * ratio : std::min(centre * halfStep, kHighHz);
        columnLevels_[static_cast<std::size_t>(i)] = analyzer.level(lo, hi, tilt);
    }
}

void SpectrumDisplay::colourColumns(std::span<const float> levels, double scale, const BarTheme& theme) {
    const std::array<Colour, 3> key{theme.meterFill, theme.meterTrack, theme.background};
    if (paletteFor_ != key) {
        palette_ = SpectrogramPalette::spectrumColours(theme);
        paletteFor_ = key;
    }
    const std::size_t n = levels.size();
    fractionSums_.resize(n + 1);
    fractionSums_[0] = 0.0;
    for (std::size_t i = 0; i < n; ++i) fractionSums_[i + 1] = fractionSums_[i] + levelFraction(levels[i]);
    const auto spread = static_cast<std::size_t>(std::max(0.0, std::trunc(kColourSpreadPoints * scale)));
    row_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = i > spread ? i - spread : 0;
        const std::size_t to = std::min(n, i + spread + 1);
        const double mean = (fractionSums_[to] - fractionSums_[from]) / static_cast<double>(to - from);
        row_[i] = palette_[static_cast<std::size_t>(std::trunc(255.0 * std::clamp(mean, 0.0, 1.0)))];
    }
}

void SpectrumDisplay::drawField(Canvas& canvas, const Rect& field, double scale, const BarTheme& theme,
                                std::span<const float> shown, bool grabbed) {
    // The picture lies on whole device pixels, column i of the curve on
    // pixel column i.
    const double left = std::round(field.minX() * scale), bottom = std::round(field.minY() * scale);
    const auto pixels = [](double v) {
        return v >= 1.0 ? static_cast<int>(std::min(v, static_cast<double>(kMaxColumns))) : 0;  // NaN: none
    };
    const int width = pixels(std::round(field.maxX() * scale) - left);
    const int height = pixels(std::round(field.maxY() * scale) - bottom);
    const auto rows = [&](std::span<const float> levels, std::vector<float>& out) {
        out.resize(levels.size());
        for (std::size_t i = 0; i < levels.size(); ++i) {
            out[i] = static_cast<float>(levelY(levels[i], field) * scale - bottom);
        }
    };
    rows(shown, curveRows_);
    if (grabbed) rows(heldLevels_, heldRows_);
    const SpectrumPicture::Colours colours{
        .track = theme.meterTrack, .held = theme.meterFill.withAlpha(0.4), .outline = theme.integratedMarker};
    const std::span<const float> held = grabbed ? std::span<const float>(heldRows_) : std::span<const float>();
    picture_.paint(width, height, curveRows_, row_, held, scale * kOutlineWidth, colours);
    if (picture_.image().isNull()) {
        canvas.fill(field, theme.meterTrack);
        return;
    }
    canvas.draw(picture_.image(), Rect{left / scale, bottom / scale, width / scale, height / scale}, false);
}

void SpectrumDisplay::drawFrequencyGrid(Canvas& canvas, const Rect& field, double scale, const BarTheme& theme) {
    const Font font = LiveFont::toolbar(kTextSize);
    const Colour labelColour = Colour::white(0.8);
    const bool wide = field.width > kWideLabelsAbove;
    double previousEnd = -1e9;
    for (int decade = 10; decade <= 10000; decade *= 10) {
        for (int multiplier = 1; multiplier <= 9; ++multiplier) {
            const int hz = decade * multiplier;
            if (hz < kLowHz || hz > kHighHz) continue;
            const double x = std::trunc(scale * xOfFrequency(hz, field)) / scale;
            canvas.fill(Rect{x, field.minY(), 2.0 / scale, field.height},
                        multiplier == 1 ? theme.spectrumGridMajor : theme.spectrumGridMinor);
            if (multiplier != 1 && !(multiplier == 5 && wide)) continue;
            const std::string_view text = gridText(hz);
            const Size size = canvas.textSize(text, font);
            const double at = x + 3.0;
            if (!(at > previousEnd + 6.0) || !(at + size.width < field.maxX() - 2.0)) continue;
            canvas.drawText(text, font, labelColour, {at, field.minY() + 1.0});
            labels_.push_back({static_cast<double>(hz), Rect{at, field.minY() + 1.0, size.width, size.height}});
            previousEnd = at + size.width;
        }
    }
}

void SpectrumDisplay::drawLevelGrid(Canvas& canvas, const Rect& field, double scale, const BarTheme& theme) {
    for (const double db : kLevelLines) {
        const double y = std::round(scale * levelY(db, field)) / scale;
        canvas.fill(Rect{field.minX(), y, field.width, 2.0 / scale}, theme.spectrumGridMinor);
    }
}

void SpectrumDisplay::drawPill(Canvas& canvas, const Rect& pill, std::string_view text, const Size& textSize,
                               const BarTheme& theme) {
    canvas.fillRoundedRect(pill, kPillRadius, theme.fieldBackground.value_or(theme.hintBackground));
    canvas.drawText(text, LiveFont::toolbar(kTextSize), theme.valueColor,
                    {pill.midX() - textSize.width / 2.0, pill.midY() - textSize.height / 2.0 - 0.5});
}

void SpectrumDisplay::drawReadout(Canvas& canvas, const Rect& field, const Frame& frame) {
    const std::optional<double> pointer = frame.pointer.grabPointerX;
    if (!pointer || !(*pointer >= field.minX()) || !(*pointer <= field.maxX())) return;
    const double px = *pointer;
    const BarTheme& theme = frame.theme;
    canvas.fill(Rect{px - 0.5, field.minY(), 1.0, field.height}, theme.integratedMarker.withAlpha(0.6));

    const double hz = frequencyAt(px, field);
    appendFrequencyText(hz, readout_);
    readout_ += kSeparator;
    appendNoteName(hz, readout_);
    const Size size = canvas.textSize(readout_, LiveFont::toolbar(kTextSize));
    const double width = size.width + kPillPadding;
    const double x = std::min(std::max(px - width / 2.0, field.minX() + 1.0), field.maxX() - 1.0 - width);
    const Rect pill{x, field.minY() + 1.0, width, kPillHeight};
    drawPill(canvas, pill, readout_, size, theme);
    readoutPill_ = pill;
}

void SpectrumDisplay::nameHeldPeaks(Canvas& canvas, const Rect& field, const Frame& frame) {
    findPeaks(heldLevels_, kFloorDb, peakScratch_, peaks_);
    const Font font = LiveFont::toolbar(kTextSize);
    const auto blocked = [&](const Rect& pill) {
        const auto grownMeets = [&](const Rect& other) { return meets(pill, other.insetBy(-3.0, -1.0)); };
        if (readoutPill_ && grownMeets(*readoutPill_)) return true;
        return std::any_of(named_.begin(), named_.end(), [&](const Peak& p) { return grownMeets(p.pill); });
    };
    const int limit = std::min(namedPeakLimit(field.width), static_cast<int>(peaks_.size()));
    for (int k = 0; k < limit; ++k) {
        const int column = peaks_[static_cast<std::size_t>(k)];
        const double x = field.minX() + column * step_;
        const double y = levelY(heldLevels_[static_cast<std::size_t>(column)], field);
        const double near = frequencyAt(x, field);
        const double hz = frame.spectrum != nullptr ? frame.spectrum->peakFrequency(near) : near;
        peakText_.clear();
        appendFrequencyText(hz, peakText_);
        const Size size = canvas.textSize(peakText_, font);
        const double width = size.width + kPillPadding;
        Rect pill = keptInside(Rect{x - width / 2.0, y + 4.0, width, kPillHeight}, field);
        if (blocked(pill)) {
            pill = keptInside(Rect{x - width / 2.0, y - 15.0, width, kPillHeight}, field);
            if (blocked(pill)) continue;
        }
        drawPill(canvas, pill, peakText_, size, frame.theme);
        named_.push_back({column, hz, pill});
    }
}

void SpectrumDisplay::drawChannelLabel(Canvas& canvas, const Rect& rect, SpectrumChannel channel) {
    if (channel == SpectrumChannel::stereo) return;
    const Font font = LiveFont::toolbar(kTextSize);
    const std::string_view text = title(channel);
    const Size size = canvas.textSize(text, font);
    canvas.drawText(text, font, Colour::white(0.45), {rect.maxX() - size.width - 5.0, rect.maxY() - size.height - 3.0});
}

}  // namespace crestline
