#include "bar/spectrogram_display.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string_view>

#include "analysis/spectrogram_recorder.h"
#include "settings/settings.h"

namespace crestline {

namespace {

constexpr double kImageInset = 2.0;  // points above and below the image
constexpr double kTextSize = 8.0;    // points, bold: grid labels and the channel
constexpr double kLabelMargin = 3.0;  // points between a grid label and the right edge
constexpr double kLabelBacking = 2.0;  // points the dimmed patch under a grid label reaches past it
const Colour kLabelBackingColour = Colour::black(0.45);
constexpr int kMaxSpan = 1 << 20;     // history columns; the ring holds 15000

struct GridLine {
    int hz;
    std::string_view text;
};
constexpr std::array<GridLine, 3> kGridLines{{{100, "100"}, {1000, "1k"}, {10000, "10k"}}};

bool meets(const Rect& a, const Rect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

Colour unpack(std::uint32_t pixel) {
    const auto byte = [pixel](int shift) { return static_cast<double>((pixel >> shift) & 0xFFu) / 255.0; };
    return {byte(16), byte(8), byte(0), 1.0};
}

}  // namespace

SpectrogramDisplay::ImageSize SpectrogramDisplay::imageSize(double seconds, const Rect& imageRect, double scale) {
    const auto atLeastOne = [](double v, double most) {
        return static_cast<int>(v >= 1.0 ? std::min(v, most) : 1.0);  // NaN and below 1 give 1
    };
    ImageSize size;
    size.span = atLeastOne(std::trunc(seconds * kColumnsPerSecond), kMaxSpan);
    size.width = std::min(size.span, atLeastOne(std::trunc(scale * imageRect.width), kMaxSpan));
    size.height = atLeastOne(std::trunc(scale * imageRect.height), kMaxRows);
    return size;
}

double SpectrogramDisplay::frequencyY(double hz, const Rect& imageRect) {
    return imageRect.minY() + imageRect.height * (std::log10(hz) - std::log10(kLowHz)) / kDecades;
}

void SpectrogramDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    labels_.clear();
    channelLabel_.reset();
    if (rect.isEmpty()) return;
    zones.addHint(rect, Hint::spectrogram);

    const Settings& settings = frame.settings;
    const double scale = frame.scale > 0.0 ? frame.scale : 2.0;
    const Rect imageRect{rect.minX(), rect.minY() + kImageInset, rect.width, rect.height - 2.0 * kImageInset};
    size_ = imageSize(settings.spectrogramSeconds(), imageRect, scale);
    updateTable(frame);

    CanvasState state(canvas);
    canvas.clip(rect);
    if (!imageRect.isEmpty()) {
        updateImage(frame, size_);
        // The picture lies on whole device pixels.
        const double left = std::round(imageRect.minX() * scale), bottom = std::round(imageRect.minY() * scale);
        const auto pixels = [](double v) { return v >= 1.0 ? static_cast<int>(std::min(v, 65536.0)) : 0; };
        const int width = pixels(std::round(imageRect.maxX() * scale) - left);
        const int height = pixels(std::round(imageRect.maxY() * scale) - bottom);
        updateScaled(width, height);
        CanvasState image(canvas);
        canvas.clip(imageRect);
        if (scaled_.isNull()) {
            canvas.fill(imageRect, unpack(table_[0]));  // no history to show: the empty colour
        } else {
            canvas.draw(scaled_, Rect{left / scale, bottom / scale, width / scale, height / scale}, false);
        }
    }
    drawGrid(canvas, imageRect, scale, frame.theme);
    marks_.draw(canvas, rect, frame, size_.span / kColumnsPerSecond, frame.shownAt(), zones.timelineNameRects);
    if (rect.height >= kChannelLabelFromHeight) drawChannelLabel(canvas, rect, settings.spectrogramChannel(), zones);
}

void SpectrogramDisplay::updateTable(const Frame& frame) {
    const BarTheme& theme = frame.theme;
    const TableKey key{.fill = theme.meterFill,
                       .track = theme.meterTrack,
                       .background = theme.background,
                       .range = frame.settings.spectrogramRange(),
                       .heat = frame.settings.spectrogramColorMap() == ColorMap::heat};
    if (tableFor_ == key) return;
    table_ = key.heat ? SpectrogramPalette::heatColours(key.range) : SpectrogramPalette::colours(theme, key.range);
    tableFor_ = key;
    // The kept image shows the old colours.
    image_ = QImage();
    imageFor_.reset();
    scaledFor_.reset();
}

void SpectrogramDisplay::updateImage(const Frame& frame, const ImageSize& size) {
    const SpectrogramRecorder* recorder = frame.spectrogram;
    if (recorder == nullptr) {
        image_ = QImage();
        imageFor_.reset();
        return;
    }
    const ImageKey key{.generation = recorder->generationCount(),
                       .size = size,
                       .tilt = frame.settings.spectrogramTilt()};
    if (!image_.isNull() && (frame.frozen() || imageFor_ == key)) return;

    recorder->render(size.span, size.width, size.height, key.tilt, table_, pixels_);
    ++renders_;
    const auto count = static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
    if (pixels_.size() != count) {  // refused: more pixels than a render may take
        image_ = QImage();
        imageFor_.reset();
        return;
    }
    // The image reads the buffer in place; it is remade only when the
    // buffer moved or changed its shape.
    const auto* bits = reinterpret_cast<const uchar*>(pixels_.data());
    if (image_.constBits() != bits || image_.width() != size.width || image_.height() != size.height) {
        image_ = QImage(bits, size.width, size.height, size.width * 4, QImage::Format_RGB32);
    }
    imageFor_ = key;
    ++imageVersion_;
}

void SpectrogramDisplay::updateScaled(int width, int height) {
    if (image_.isNull() || width < 1 || height < 1) {
        scaled_ = QImage();
        scaledFor_.reset();
        return;
    }
    const std::array<int, 3> key{imageVersion_, width, height};
    if (scaledFor_ == key) return;
    if (scaled_.width() != width || scaled_.height() != height) scaled_ = QImage(width, height, QImage::Format_RGB32);
    if (scaled_.isNull()) return;
    scaledFor_ = key;

    // Nearest pixel: the source of each pixel is the one its centre falls in.
    const int sourceWidth = image_.width(), sourceHeight = image_.height();
    sourceColumn_.resize(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        sourceColumn_[static_cast<std::size_t>(x)] =
            std::min(static_cast<int>((x + 0.5) * sourceWidth / width), sourceWidth - 1);
    }
    uchar* bits = scaled_.bits();
    const auto stride = static_cast<std::size_t>(scaled_.bytesPerLine());
    int previous = -1;
    for (int y = 0; y < height; ++y) {
        auto* out = reinterpret_cast<std::uint32_t*>(bits + stride * static_cast<std::size_t>(y));
        const int source = std::min(static_cast<int>((y + 0.5) * sourceHeight / height), sourceHeight - 1);
        if (source == previous) {
            std::memcpy(out, bits + stride * static_cast<std::size_t>(y - 1), static_cast<std::size_t>(width) * 4);
            continue;
        }
        previous = source;
        const auto* in = reinterpret_cast<const std::uint32_t*>(image_.constScanLine(source));
        for (std::size_t x = 0; x < sourceColumn_.size(); ++x) out[x] = in[sourceColumn_[x]];
    }
}

void SpectrogramDisplay::drawGrid(Canvas& canvas, const Rect& imageRect, double scale, const BarTheme& theme) {
    if (imageRect.isEmpty()) return;
    const Font font = LiveFont::toolbar(kTextSize, true);
    const Colour labelColour = Colour::white(0.7);
    std::optional<Rect> previous;
    for (const GridLine& line : kGridLines) {
        const double y = std::round(scale * frequencyY(line.hz, imageRect)) / scale;
        canvas.fill(Rect{imageRect.minX(), y, imageRect.width, 2.0 / scale}, theme.spectrumGridMajor);
        const Size size = canvas.textSize(line.text, font);
        Rect label{imageRect.maxX() - kLabelMargin - size.width, y + 1.0, size.width, size.height};
        if (label.maxY() > imageRect.maxY()) label.y = y - 1.0 - size.height;
        if (previous && meets(label, *previous)) continue;
        // On a dimmed patch: over loud material the image is as light as
        // the text, and a label nobody can read marks nothing.
        canvas.fill(label.insetBy(-kLabelBacking, 0.0), kLabelBackingColour);
        canvas.drawText(line.text, font, labelColour, {label.x, label.y});
        labels_.push_back({line.hz, label});
        previous = label;
    }
}

void SpectrogramDisplay::drawChannelLabel(Canvas& canvas, const Rect& rect, SpectrumChannel channel,
                                          const Zones& zones) {
    if (channel == SpectrumChannel::stereo) return;
    const Font font = LiveFont::toolbar(kTextSize, true);
    const std::string_view text = title(channel);
    const Size size = canvas.textSize(text, font);
    const double y = rect.maxY() - 3.0 - size.height;
    for (const double x : {rect.maxX() - 5.0 - size.width, rect.minX() + 5.0}) {
        const Rect place{x, y, size.width, size.height};
        const Rect grown = place.insetBy(-4.0, -1.0);
        const auto hits = [&](const Rect& other) { return meets(grown, other); };
        if (std::any_of(labels_.begin(), labels_.end(), [&](const Label& l) { return hits(l.rect); })) continue;
        if (std::any_of(zones.timelineNameRects.begin(), zones.timelineNameRects.end(), hits)) continue;
        canvas.drawText(text, font, Colour::white(0.75), {x, y});
        channelLabel_ = place;
        return;
    }
}

}  // namespace crestline
