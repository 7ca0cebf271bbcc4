// The stereo imager module: the newest samples as glowing dots that fade
// over the next frames, with the stereo correlation. In a low module a
// strip (stereo angle across, level up); with room, as "imagerMode" says,
// a polar half-circle (mono straight up, one channel on a 45° spoke,
// antiphase flat along the base) or a Lissajous diamond (mono vertical,
// antiphase horizontal, each channel on a diagonal).
//
// Each frame copies the newest 8192 frames of the scope buffer's rings
// under the buffer's lock (one hold; the frames that arrived since the last
// frame are drawn), normalises them by a running peak, and paints them into
// a bitmap of two pixels per point that is faded by 224/256 per frame, so
// a dot falls to an eighth of its brightness in about 15 frames. While the
// module is frozen nothing is read or faded and the last picture stands.
//
// Main thread only. Cost per frame: the copy, one pass over at most 8192
// frames, a byte-wise fade of the bitmap (16 bytes at a time, skipped when
// nothing is lit); nothing is allocated once the rectangle is stable.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bar/module_display.h"

namespace crestline {

class ImagerDisplay final : public ModuleDisplay {
public:
    static constexpr int kMaxFrames = 8192;       // frames drawn per frame, at most
    static constexpr float kInitialPeak = 0.1f;   // linear full scale = 1
    static constexpr float kPeakFloor = 0.02f;
    static constexpr float kPeakDecay = 0.985f;   // per frame
    static constexpr double kDotSize = 1.5;       // points
    static constexpr int kGlowPixelsPerPoint = 2;
    static constexpr int kFade = 224;             // of 256 kept per frame
    static constexpr double kWarnBelow = -0.2;    // correlation drawn in the warn colour
    static constexpr double kLargeFrom = 70.0;    // min(width / 2, height) from which the large displays draw

    enum class Shape { none, strip, polar, lissajous };

    // Where everything goes for one rectangle: the glow bitmap's rectangle,
    // the plot (strip) or centre and radius (large displays), the space
    // kept for the correlation and the label height.
    struct Geometry {
        Shape shape = Shape::none;
        Rect glow;
        Rect bitmap;         // the glow's rectangle grown to whole bitmap pixels
        Rect plot;           // strip: the dots' area (the glow's too)
        double cx = 0.0;     // large displays: the centre...
        double cy = 0.0;
        double radius = 0.0;  // ...and the radius
        double reserve = 0.0;  // points kept at the right for the correlation
        double labelHeight = 0.0;
    };

    ImagerDisplay() = default;

    ColorArea area() const override { return ColorArea::imager; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;

    // The shape for a rectangle: none at 40 points wide or 6 high or less,
    // the strip while min(width / 2, height) is under 70, else the mode's.
    static Shape shapeFor(const Rect& rect, ImagerMode mode);
    // `labelHeight` is the 8-point label font's ascender − descender.
    static Geometry geometry(const Rect& rect, ImagerMode mode, double labelHeight);
    // Where a frame (l, r) puts its dot, as the dot's centre in points, or
    // nothing when it is too quiet to draw.
    static std::optional<Point> dotCentre(const Geometry& g, float left, float right, float peak);
    // One fade step over premultiplied pixel bytes: v → v × 224 / 256,
    // below 2 → 0. Returns whether any byte is still lit.
    static bool fade(std::uint8_t* bytes, std::size_t count);
    // "%+.2f" with the minus sign U+2212, "–" when not finite.
    static std::string correlationText(double correlation);

    // State after the last frame, for tests.
    float peak() const { return peak_; }
    int lastCount() const { return lastCount_; }
    const QImage& glow() const { return glow_; }
    const Geometry& lastGeometry() const { return geometry_; }

private:
    // Reads the frames that arrived since the last frame; returns how many.
    int pullSamples(const Frame& frame);
    void drawStrip(Canvas& canvas, const Rect& rect, const Frame& frame, int count);
    void drawLarge(Canvas& canvas, const Rect& rect, const Frame& frame, int count);
    // The outline, its labels and the correlation scale, kept as a picture
    // while the rectangle, the scale and the colours stay.
    void paintBackdrop(Canvas& canvas, const Rect& rect, const Frame& frame);
    void drawMarker(Canvas& canvas, const Frame& frame);
    // Fades (unless frozen), paints this frame's dots and draws the bitmap.
    void drawGlow(Canvas& canvas, const Frame& frame, int count);
    void paintDot(double x, double y, const std::uint8_t premultiplied[4]);

    std::vector<float> left_;   // the newest frames, oldest first; the new ones at the end
    std::vector<float> right_;
    int copied_ = 0;            // frames held in left_ / right_
    float peak_ = kInitialPeak;
    std::uint64_t lastFrames_ = 0;  // the scope's frame count at the last read
    int lastCount_ = 0;

    Geometry geometry_;
    Path outline_;
    QImage backdrop_;
    Rect backdropRect_;  // points, on whole device pixels
    std::string backdropKey_;  // what it was painted for
    std::string key_;          // scratch for this frame's key
    QImage glow_;      // ARGB32 premultiplied, kGlowPixelsPerPoint per point
    Rect glowRect_;    // what the bitmap was made for
    bool glowLit_ = false;
    int litFrom_ = 0;  // rows of the bitmap lit since it was last dark: [litFrom_, litTo_)
    int litTo_ = 0;
};

}  // namespace crestline
