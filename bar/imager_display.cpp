#include "bar/imager_display.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <span>

#include <QPainter>

#include "analysis/scope_buffer.h"
#include "bar/column_raster.h"
#include "settings/settings.h"

namespace crestline {

namespace {

constexpr double kHalfPi = std::numbers::pi / 2.0;
constexpr double kLabelSize = 8.0;        // points
constexpr double kCorrelationSize = 11.0;  // points, the strip's number
constexpr double kLargestGlowPixels = 16384.0;
const Colour kLabelColour = Colour::white(0.55);

// A quarter circle as one cubic curve: control points this far along the tangents.
constexpr double kArcHandle = 0.5522847498;

// Folds a frame into the front half: the angle of (mid, side) from straight
// ahead, −π/2 (all left... antiphase) to π/2, mono being 0.
double stereoAngle(float left, float right) {
    double mid = (static_cast<double>(left) + right) / 2.0;
    double side = (static_cast<double>(right) - left) / 2.0;
    if (mid < 0.0) {
        mid = -mid;
        side = -side;
    }
    return std::atan2(side, mid);
}

}  // namespace

ImagerDisplay::Shape ImagerDisplay::shapeFor(const Rect& rect, ImagerMode mode) {
    if (!(rect.width > 40.0) || !(rect.height > 6.0)) return Shape::none;
    if (std::min(rect.width / 2.0, rect.height) < kLargeFrom) return Shape::strip;
    return mode == ImagerMode::lissajous ? Shape::lissajous : Shape::polar;
}

ImagerDisplay::Geometry ImagerDisplay::geometry(const Rect& rect, ImagerMode mode, double labelHeight) {
    Geometry g;
    g.shape = shapeFor(rect, mode);
    switch (g.shape) {
        case Shape::none: break;
        case Shape::strip: {
            g.reserve = rect.width > 200.0 ? 44.0 : 0.0;
            g.plot = Rect{rect.minX() + 8.0, rect.minY() + 2.0, rect.width - 16.0 - g.reserve, rect.height - 4.0};
            if (!(g.plot.width > 20.0) || !(g.plot.height > 2.0)) {
                g.shape = Shape::none;
                break;
            }
            g.glow = g.plot;
            g.labelHeight = std::trunc(labelHeight);
            break;
        }
        case Shape::polar: {
            g.reserve = rect.width > 160.0 ? 30.0 : 0.0;
            g.labelHeight = std::ceil(labelHeight);
            const double gap = g.labelHeight + 4.0;  // the labels' row under the base line
            g.radius = std::max(std::min((rect.width - 16.0 - g.reserve) / 2.0, rect.height - 16.0 - gap), 10.0);
            g.cx = std::round(rect.midX() - (2.0 * g.radius + g.reserve) / 2.0 + g.radius);
            g.cy = std::round(rect.midY() - (g.radius + gap) / 2.0 + gap);
            g.glow = Rect{g.cx - g.radius, g.cy, 2.0 * g.radius, g.radius};
            break;
        }
        case Shape::lissajous: {
            g.reserve = rect.width > 160.0 ? 30.0 : 0.0;
            g.labelHeight = std::ceil(labelHeight);
            g.radius = std::max(std::min((rect.width - 16.0 - g.reserve) / 2.0, (rect.height - 16.0) / 2.0), 10.0);
            g.cx = std::round(rect.midX() - (2.0 * g.radius + g.reserve) / 2.0 + g.radius);
            g.cy = std::round(rect.midY());
            g.glow = Rect{g.cx - g.radius, g.cy - g.radius, 2.0 * g.radius, 2.0 * g.radius};
            break;
        }
    }
    if (g.shape != Shape::none) {
        constexpr double p = kGlowPixelsPerPoint;
        const double left = std::floor(g.glow.minX() * p) / p;
        const double bottom = std::floor(g.glow.minY() * p) / p;
        g.bitmap = Rect{left, bottom, std::ceil(g.glow.maxX() * p) / p - left, std::ceil(g.glow.maxY() * p) / p - bottom};
    }
    return g;
}

std::optional<Point> ImagerDisplay::dotCentre(const Geometry& g, float left, float right, float peak) {
    if (!std::isfinite(left) || !std::isfinite(right) || !(peak > 0.0f)) return std::nullopt;
    const double level = std::max(std::fabs(left), std::fabs(right));
    switch (g.shape) {
        case Shape::none: return std::nullopt;
        case Shape::strip: {
            const double a = level / peak;
            if (!(a > 0.001)) return std::nullopt;
            const double angle = stereoAngle(left, right);
            return Point{g.plot.midX() + g.plot.width / 2.0 * angle / kHalfPi,
                         g.plot.minY() + std::min(a, 1.0) * g.plot.height};
        }
        case Shape::polar: {
            const double a = g.radius / peak * level;
            if (!(a > 0.5)) return std::nullopt;
            const double angle = stereoAngle(left, right);
            return Point{g.cx + a * std::sin(angle), g.cy + a * std::cos(angle)};
        }
        case Shape::lissajous: {
            const double scale = g.radius / peak;
            return Point{g.cx + scale * (static_cast<double>(right) - left) / 2.0,
                         g.cy + scale * (static_cast<double>(left) + right) / 2.0};
        }
    }
    return std::nullopt;
}

bool ImagerDisplay::fade(std::uint8_t* bytes, std::size_t count) {
    // v × 224 / 256, rounded down, is v − ⌈v / 8⌉: byte lanes only, sixteen
    // at a time.
    static_assert(kFade == 224);
    using Bytes = std::uint8_t __attribute__((vector_size(16)));
    Bytes lit{};
    std::size_t k = 0;
    for (; k + 16 <= count; k += 16) {
        Bytes v;
        std::memcpy(&v, bytes + k, sizeof v);
        const Bytes eighth = v >> 3;
        const Bytes rest = reinterpret_cast<Bytes>((v & 7) != 0) & 1;
        v = v - eighth - rest;
        v &= reinterpret_cast<Bytes>(v >= 2);  // what falls below 2 goes dark
        lit |= v;
        std::memcpy(bytes + k, &v, sizeof v);
    }
    unsigned any = 0;
    for (int lane = 0; lane < 16; ++lane) any |= lit[lane];
    for (; k < count; ++k) {
        unsigned v = (bytes[k] * static_cast<unsigned>(kFade)) >> 8;
        if (v < 2) v = 0;
        bytes[k] = static_cast<std::uint8_t>(v);
        any |= v;
    }
    return any != 0;
}

std::string ImagerDisplay::correlationText(double correlation) {
    if (!std::isfinite(correlation)) return "\xE2\x80\x93";  // –
    char buffer[32];
    // A value that rounds to zero has no side: "+0.00", never "−0.00".
    const double shown = std::fabs(correlation) < 0.005 ? 0.0 : std::clamp(correlation, -9.99, 9.99);
    std::snprintf(buffer, sizeof buffer, "%+.2f", shown);
    std::string text;
    for (const char* c = buffer; *c != 0; ++c) {
        if (*c == '-') {
            text += "\xE2\x88\x92";  // −
        } else {
            text += *c;
        }
    }
    return text;
}

int ImagerDisplay::pullSamples(const Frame& frame) {
    // A frozen imager reads nothing: the same dots stand.
    if (frame.frozen()) return lastCount_;
    int fresh = 0;
    float loudest = 0.0f;
    if (frame.scope != nullptr) {
        if (left_.size() != static_cast<std::size_t>(kMaxFrames)) {
            left_.assign(kMaxFrames, 0.0f);
            right_.assign(kMaxFrames, 0.0f);
        }
        // The newest frames in one hold of the buffer's lock; those that
        // arrived since the last frame are its last `fresh`.
        const int want = std::min(kMaxFrames, frame.scope->capacity());
        const std::uint64_t total = frame.scope->copyLatest(want, std::span<float>(left_.data(), want),
                                                            std::span<float>(right_.data(), want), {});
        copied_ = want;
        if (total > lastFrames_) fresh = static_cast<int>(std::min<std::uint64_t>(total - lastFrames_, want));
        lastFrames_ = total;
        for (int k = copied_ - fresh; k < copied_; ++k) {
            const auto index = static_cast<std::size_t>(k);
            loudest = std::max({loudest, std::fabs(left_[index]), std::fabs(right_[index])});
        }
    }
    lastCount_ = fresh;
    peak_ = std::max({peak_ * kPeakDecay, loudest, kPeakFloor});
    return fresh;
}

void ImagerDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    zones.addHint(rect, Hint::imager);
    const int count = pullSamples(frame);
    const ImagerMode mode = frame.settings.imagerMode();
    const Font label = LiveFont::toolbar(kLabelSize);
    geometry_ = geometry(rect, mode, label.ascent() + label.descent());
    switch (geometry_.shape) {
        case Shape::none: return;
        case Shape::strip: drawStrip(canvas, rect, frame, count); return;
        case Shape::polar:
        case Shape::lissajous: drawLarge(canvas, rect, frame, count); return;
    }
}

void ImagerDisplay::drawStrip(Canvas& canvas, const Rect& rect, const Frame& frame, int count) {
    const Rect& plot = geometry_.plot;
    const BarTheme& theme = frame.theme;
    // The centre and the ±45° directions.
    const double quarter = plot.width / 4.0;
    for (const double x : {plot.midX() - quarter, plot.midX(), plot.midX() + quarter}) {
        canvas.fill(Rect{x - 0.5, plot.minY(), 1.0, plot.height}, theme.spectrumGridMajor);
    }
    const double fh = geometry_.labelHeight;
    if (fh <= plot.height) {
        const Font font = LiveFont::toolbar(kLabelSize);
        const double y = plot.maxY() - fh;
        canvas.drawText("L", font, kLabelColour, {plot.midX() - quarter + 3.0, y});
        const double width = canvas.textSize("R", font).width;
        canvas.drawText("R", font, kLabelColour, {plot.midX() + quarter - 3.0 - width, y});
    }
    drawGlow(canvas, frame, count);

    if (rect.width > 200.0) {
        const double c = frame.reading.correlation;
        const std::string text = correlationText(c);
        const Font font = LiveFont::toolbar(kCorrelationSize);
        const Size size = canvas.textSize(text, font);
        const Colour colour = std::isfinite(c) && c < kWarnBelow ? theme.warnColor : Colour::white(0.75);
        canvas.drawText(text, font, colour, {rect.maxX() - 8.0 - size.width, rect.midY() - size.height / 2.0});
    }
}

void ImagerDisplay::drawLarge(Canvas& canvas, const Rect& rect, const Frame& frame, int count) {
    const double scale = canvas.scale();
    const BarTheme& theme = frame.theme;
    const Colour& grid = theme.spectrumGridMajor;
    char buffer[200];
    std::snprintf(buffer, sizeof buffer, "%d %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f",
                  static_cast<int>(geometry_.shape), rect.x, rect.y, rect.width, rect.height, scale, grid.red,
                  grid.green, grid.blue, grid.alpha);
    key_.assign(buffer);  // in the string's kept storage
    if (backdrop_.isNull() || key_ != backdropKey_) {
        backdropKey_ = key_;
        const double left = std::floor(rect.minX() * scale) / scale;
        const double bottom = std::floor(rect.minY() * scale) / scale;
        backdropRect_ = Rect{left, bottom, std::ceil(rect.maxX() * scale) / scale - left,
                             std::ceil(rect.maxY() * scale) / scale - bottom};
        const int width = static_cast<int>(std::clamp(std::lround(backdropRect_.width * scale), 1L, 32768L));
        const int height = static_cast<int>(std::clamp(std::lround(backdropRect_.height * scale), 1L, 32768L));
        backdrop_ = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        backdrop_.setDevicePixelRatio(scale);
        backdrop_.fill(Qt::transparent);
        QPainter painter(&backdrop_);
        Canvas local(painter, backdropRect_.height, scale, canvas.texts());
        painter.translate(-left, -bottom);  // bar coordinates from here on
        paintBackdrop(local, rect, frame);
    }
    canvas.draw(backdrop_, backdropRect_, false);
    drawGlow(canvas, frame, count);
    if (rect.width > 160.0) drawMarker(canvas, frame);
}

void ImagerDisplay::paintBackdrop(Canvas& canvas, const Rect& rect, const Frame& frame) {
    const BarTheme& theme = frame.theme;
    const double cx = geometry_.cx;
    const double cy = geometry_.cy;
    const double r = geometry_.radius;
    const double fh = geometry_.labelHeight;
    const Font font = LiveFont::toolbar(kLabelSize);
    const double rWidth = canvas.textSize("R", font).width;

    outline_.clear();
    if (geometry_.shape == Shape::polar) {
        // The upper half-circle, its base and the ±45° spokes.
        const double h = kArcHandle * r;
        const double spoke = r / std::numbers::sqrt2;
        outline_.moveTo({cx + r, cy})
            .curveTo({cx + r, cy + h}, {cx + h, cy + r}, {cx, cy + r})
            .curveTo({cx - h, cy + r}, {cx - r, cy + h}, {cx - r, cy})
            .lineTo({cx + r, cy})
            .moveTo({cx, cy})
            .lineTo({cx - spoke, cy + spoke})
            .moveTo({cx, cy})
            .lineTo({cx + spoke, cy + spoke});
        canvas.stroke(outline_, theme.spectrumGridMajor, 1.0);
        canvas.drawText("L", font, kLabelColour, {cx - r - 2.0, cy - fh - 3.0});
        canvas.drawText("R", font, kLabelColour, {cx + r + 2.0 - rWidth, cy - fh - 3.0});
    } else {
        // The diamond and the channel axes joining the midpoints of its edges.
        const double k = r / 2.0;
        outline_.moveTo({cx, cy + r})
            .lineTo({cx + r, cy})
            .lineTo({cx, cy - r})
            .lineTo({cx - r, cy})
            .close()
            .moveTo({cx - k, cy + k})
            .lineTo({cx + k, cy - k})
            .moveTo({cx + k, cy + k})
            .lineTo({cx - k, cy - k});
        canvas.stroke(outline_, theme.spectrumGridMajor, 1.0);
        canvas.drawText("L", font, kLabelColour, {cx - k - 10.0, cy + k + 2.0});
        canvas.drawText("R", font, kLabelColour, {cx + k + 4.0, cy + k + 2.0});
    }
    if (!(rect.width > 160.0)) return;
    // The correlation scale beside the glow: +1 at its top, −1 at its foot.
    const double bottom = geometry_.glow.minY();
    const double top = geometry_.glow.maxY();
    const double x = std::round(cx + r + 10.0);
    canvas.fill(Rect{x, bottom, 1.0, top - bottom}, theme.spectrumGridMajor);
    const std::pair<double, const char*> labels[] = {{1.0, "+1"}, {0.0, "0"}, {-1.0, "\xE2\x88\x92" "1"}};
    for (const auto& [value, text] : labels) {
        canvas.drawText(text, font, kLabelColour, {x + 6.0, bottom + (value + 1.0) / 2.0 * (top - bottom) - fh / 2.0});
    }
}

void ImagerDisplay::drawMarker(Canvas& canvas, const Frame& frame) {
    const double c = frame.reading.correlation;
    if (!std::isfinite(c)) return;
    const BarTheme& theme = frame.theme;
    const double bottom = geometry_.glow.minY();
    const double top = geometry_.glow.maxY();
    const double x = std::round(geometry_.cx + geometry_.radius + 10.0);
    const double shown = std::clamp(c, -1.0, 1.0);
    const double y = std::round(bottom + (shown + 1.0) / 2.0 * (top - bottom)) - 2.0;
    canvas.fill(Rect{x - 3.0, y, 7.0, 4.0}, c < kWarnBelow ? theme.warnColor : theme.meterFill.withAlpha(1.0));
}

void ImagerDisplay::drawGlow(Canvas& canvas, const Frame& frame, int count) {
    const Rect& rect = geometry_.bitmap;
    if (rect.isEmpty()) return;
    // At two pixels a point the bitmap lands pixel for pixel.
    const bool smooth = canvas.scale() != kGlowPixelsPerPoint;
    const bool remade = glow_.isNull() || rect != glowRect_;
    if (remade) {
        const auto pixels = [](double points) {
            return static_cast<int>(std::clamp(std::ceil(points * kGlowPixelsPerPoint), 1.0, kLargestGlowPixels));
        };
        glow_ = QImage(pixels(rect.width), pixels(rect.height), QImage::Format_ARGB32_Premultiplied);
        glow_.fill(Qt::transparent);
        glowRect_ = rect;
        glowLit_ = false;
        litFrom_ = glow_.height();
        litTo_ = 0;
    }
    // Frozen, the picture stands as it is: no fade, and its dots are already
    // in it (unless the bitmap was just made anew).
    const bool frozen = frame.frozen();
    if (!frozen && glowLit_) {
        // Only the rows that dots have lit since the bitmap was last dark.
        const auto stride = static_cast<std::size_t>(glow_.bytesPerLine());
        glowLit_ = fade(glow_.bits() + static_cast<std::size_t>(litFrom_) * stride,
                        static_cast<std::size_t>(litTo_ - litFrom_) * stride);
        if (!glowLit_) {
            litFrom_ = glow_.height();
            litTo_ = 0;
        }
    }
    if (frozen && !remade) {
        canvas.draw(glow_, rect, smooth);
        return;
    }

    const Colour& fill = frame.theme.meterFill;
    const double alpha = std::clamp(fill.alpha, 0.0, 1.0);
    const auto byte = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    const std::uint32_t colour =
        byte(alpha) << 24 | byte(fill.red * alpha) << 16 | byte(fill.green * alpha) << 8 | byte(fill.blue * alpha);
    glowBits_ = glow_.bits();  // once per frame: each call checks whether the image is shared
    const int first = std::max(copied_ - count, 0);
    for (int k = first; k < copied_; ++k) {
        const auto index = static_cast<std::size_t>(k);
        if (const std::optional<Point> centre = dotCentre(geometry_, left_[index], right_[index], peak_)) {
            paintDot(centre->x, centre->y, colour);
            glowLit_ = true;
        }
    }
    canvas.draw(glow_, rect, smooth);
}

void ImagerDisplay::paintDot(double x, double y, std::uint32_t colour) {
    // The dot's square in bitmap pixels (rows from the top), painted over
    // what is there with the share of each pixel it covers: at most 4 x 4.
    constexpr double kSide = kDotSize * kGlowPixelsPerPoint;
    const double left = (x - kDotSize / 2.0 - glowRect_.minX()) * kGlowPixelsPerPoint;
    const double top = (glowRect_.maxY() - y - kDotSize / 2.0) * kGlowPixelsPerPoint;
    const int width = glow_.width();
    const int height = glow_.height();
    if (!(left < width) || !(left + kSide > 0.0) || !(top < height) || !(top + kSide > 0.0)) return;
    const int column0 = static_cast<int>(std::floor(left));
    const int row0 = static_cast<int>(std::floor(top));
    std::array<unsigned, 4> coverX{};
    std::array<unsigned, 4> coverY{};
    for (int k = 0; k < 4; ++k) {
        const double cx = std::min(column0 + k + 1.0, left + kSide) - std::max(column0 + k + 0.0, left);
        const double cy = std::min(row0 + k + 1.0, top + kSide) - std::max(row0 + k + 0.0, top);
        coverX[static_cast<std::size_t>(k)] = cx > 0.0 ? static_cast<unsigned>(cx * 256.0 + 0.5) : 0u;
        coverY[static_cast<std::size_t>(k)] = cy > 0.0 ? static_cast<unsigned>(cy * 256.0 + 0.5) : 0u;
    }
    const auto stride = static_cast<std::ptrdiff_t>(glow_.bytesPerLine());
    for (int k = 0; k < 4; ++k) {
        const int row = row0 + k;
        const unsigned cy = coverY[static_cast<std::size_t>(k)];
        if (row < 0 || row >= height || cy == 0) continue;
        auto* line = reinterpret_cast<std::uint32_t*>(glowBits_ + row * stride);
        for (int j = 0; j < 4; ++j) {
            const int column = column0 + j;
            const unsigned cover = (coverX[static_cast<std::size_t>(j)] * cy + 128u) >> 8;
            if (column < 0 || column >= width || cover == 0) continue;
            line[column] = paintOver(colour, cover, line[column]);
        }
        litFrom_ = std::min(litFrom_, row);
        litTo_ = std::max(litTo_, row + 1);
    }
}

}  // namespace crestline
