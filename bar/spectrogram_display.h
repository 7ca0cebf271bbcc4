// The spectrogram module: the recorder's history of spectra as an image,
// time running to the right with the newest column at the right edge,
// 20 Hz to 20 kHz upwards on a logarithmic scale, each level coloured
// through a 256-entry table for the chosen colour map and dB range; over it
// the 100 Hz, 1 kHz and 10 kHz lines with their labels, Live's bars and
// locators over the same seconds, and the channel label.
//
// The image has at most one pixel column per recorded column and per
// device pixel, and at most 160 rows (one per band); it is rendered only
// when the recorder stored a new column (its generation count, read under
// its lock) or the size, span, tilt or colours changed, and otherwise the
// kept image is drawn again. While the module is frozen the kept image
// stands still as the recorder goes on. The render reads the recorder's
// ring under its lock; the rest is this display's own.
//
// Main thread only. Cost: a render walks at most 160 x W pixels about 25
// times a second and is then scaled (nearest pixel) to the device pixels
// of the panel once; every frame blits that picture 1:1, which costs a copy
// instead of a scaling blit (a third of the time at 1920 x 150 points).
// The pixel buffer, the image over it and the scaled picture are kept, so
// a frame at stable sizes allocates nothing.
#pragma once

#include <QImage>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "bar/module_display.h"
#include "bar/spectrogram_palette.h"
#include "bar/timeline_marks.h"

namespace crestline {

class SpectrogramDisplay final : public ModuleDisplay {
public:
    static constexpr double kColumnsPerSecond = 25.0;  // the recorder's rate
    static constexpr int kMaxRows = 160;               // one per band
    static constexpr double kLowHz = 20.0;
    static constexpr double kDecades = 3.0;  // 20 Hz to 20 kHz
    static constexpr double kChannelLabelFromHeight = 30.0;

    // The picture for a module: span S in history columns, W x H pixels.
    struct ImageSize {
        int span = 1;
        int width = 1;
        int height = 1;
        bool operator==(const ImageSize&) const = default;
    };

    struct Label {
        int hz = 0;
        Rect rect;
    };

    ColorArea area() const override { return ColorArea::spectrogram; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;
    void themeChanged() override { tableFor_.reset(); }

    // Never more pixel columns than history columns or device pixels, never
    // more rows than bands. `imageRect` is the module less 2 points at top
    // and bottom.
    static ImageSize imageSize(double seconds, const Rect& imageRect, double scale);
    // y of a frequency in the image rectangle, before snapping.
    static double frequencyY(double hz, const Rect& imageRect);

    // What the last frame drew, for tests.
    const ImageSize& size() const { return size_; }
    const QImage& image() const { return image_; }
    const std::vector<Label>& labels() const { return labels_; }
    const std::optional<Rect>& channelLabel() const { return channelLabel_; }
    const TimelineMarks& marks() const { return marks_; }
    int renders() const { return renders_; }

private:
    // What the kept image was rendered from.
    struct ImageKey {
        std::uint64_t generation = 0;
        ImageSize size;
        double tilt = 0.0;
        bool operator==(const ImageKey&) const = default;
    };
    // What the colour table was built from.
    struct TableKey {
        Colour fill, track, background;
        SpectrogramRange range = SpectrogramRange::normal;
        bool heat = false;
        bool operator==(const TableKey&) const = default;
    };

    void updateTable(const Frame& frame);
    void updateImage(const Frame& frame, const ImageSize& size);
    // Scales the image to `width` x `height` device pixels unless the kept
    // picture is already that of the current image.
    void updateScaled(int width, int height);
    void drawGrid(Canvas& canvas, const Rect& imageRect, double scale, const BarTheme& theme);
    void drawChannelLabel(Canvas& canvas, const Rect& rect, SpectrumChannel channel, const Zones& zones);

    SpectrogramPalette::Table table_{};
    std::optional<TableKey> tableFor_;
    std::vector<std::uint32_t> pixels_;  // W x H, row 0 at the top
    QImage image_;                       // over `pixels_`, without a copy
    int imageVersion_ = 0;               // changes with every render
    QImage scaled_;                      // the image at the panel's device pixels
    std::optional<std::array<int, 3>> scaledFor_;  // image version, width, height
    std::vector<int> sourceColumn_;      // per scaled pixel column
    std::optional<ImageKey> imageFor_;
    ImageSize size_;
    TimelineMarks marks_;
    std::vector<Label> labels_;
    std::optional<Rect> channelLabel_;
    int renders_ = 0;
};

}  // namespace crestline
