// The spectrum module: the view's spectrum analyser drawn as a filled
// curve over 20 Hz to 20 kHz (logarithmic) and −90 to −6 dB, one column per
// device pixel, each column coloured from the spectrum palette by the
// loudness around it; a frequency grid with labels, a level grid, the
// channel label and, under the pointer, the frequency and note there. While
// the pointer holds the spectrum the held curve is drawn over it with its
// main peaks named; while the module is frozen the columns of the moment it
// froze stand still.
//
// Each frame updates the analyser from the scope buffer (the buffer's lock
// is taken inside the analyser; nothing else is shared), asks it for one
// band level per column and paints the field into a picture of its own at
// device resolution (SpectrumPicture: track, held area, coloured curve,
// held outline), then the grids and texts over it. Main thread only. Cost
// at 1920 x 150 points and scale 2: the analyser's two FFTs, 3840 band
// queries, about a pass over the field's 1.1 million pixels and their blit;
// the peak search while held is linear in the columns. Buffers and the
// picture are kept between frames, so a frame at stable sizes allocates
// nothing.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bar/module_display.h"
#include "bar/spectrogram_palette.h"
#include "bar/spectrum_picture.h"

namespace crestline {

class SpectrumDisplay final : public ModuleDisplay {
public:
    static constexpr double kLowHz = 20.0;      // the field's left edge
    static constexpr double kHighHz = 20000.0;  // its right edge, three decades on
    static constexpr double kFloorDb = -90.0;   // the field's bottom
    static constexpr double kTopDb = -6.0;      // its top; louder stays there
    static constexpr double kEmptyDb = -200.0;  // a column before its first level
    static constexpr double kPeakAboveFloorDb = 12.0;
    static constexpr double kPeakProminenceDb = 5.0;
    static constexpr double kPeakLabelSpacing = 110.0;  // points of field width per named peak
    static constexpr int kMaxNamedPeaks = 6;
    static constexpr double kWideLabelsAbove = 520.0;  // field width from which 50, 500 and 5k are labelled

    struct Label {
        double hz = 0.0;
        Rect rect;  // where the text was drawn
    };
    struct Peak {
        int column = 0;
        double hz = 0.0;  // refined by the analyser
        Rect pill;
    };

    SpectrumDisplay();

    ColorArea area() const override { return ColorArea::spectrum; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;
    void themeChanged() override { paletteFor_.reset(); }

    // ---- The mappings, in the field's coordinates (points, y up) -----------
    static double xOfFrequency(double hz, const Rect& field);
    static double frequencyAt(double x, const Rect& field);
    // 0 at −90 dB and below (and for NaN), 1 at −6 dB and above.
    static double levelFraction(double db);
    static double levelY(double db, const Rect& field);
    // One column per device pixel, at least one.
    static int columnCount(double fieldWidth, double scale);
    // How many peaks a field of this width names at most.
    static int namedPeakLimit(double fieldWidth);

    // "440 Hz", "1.2 kHz", "12 kHz"; a dash for a frequency that is not one.
    static void appendFrequencyText(double hz, std::string& out);
    static std::string frequencyText(double hz);
    // The nearest equal-tempered note, A4 = 440 Hz: "A4", "C#5".
    static void appendNoteName(double hz, std::string& out);
    static std::string noteName(double hz);

    // The peaks of `levels` (one per column across the three decades, so
    // n·log10(2)/3 columns to an octave) worth naming, loudest first: louder
    // than `floorDb` + 12 dB, the highest within a sixth of an octave (a flat
    // top counts once) and at least 5 dB above the higher of the two valleys
    // within half an octave either side. Linear in the columns; `scratch`
    // keeps the working rows between calls.
    struct PeakScratch {
        std::vector<float> highest, leftLow, rightLow;
        std::vector<int> deque;
    };
    static void findPeaks(std::span<const float> levels, double floorDb, PeakScratch& scratch,
                          std::vector<int>& out);

    // What the last frame drew, for tests.
    std::span<const float> columnLevels() const { return columnLevels_; }
    std::span<const float> heldLevels() const { return heldLevels_; }
    const std::vector<Label>& labels() const { return labels_; }
    const std::vector<Peak>& namedPeaks() const { return named_; }
    const std::optional<Rect>& readoutPill() const { return readoutPill_; }
    const std::string& readout() const { return readout_; }

private:
    void measureColumns(int n, const Frame& frame);
    void colourColumns(std::span<const float> levels, double scale, const BarTheme& theme);
    void drawField(Canvas& canvas, const Rect& field, double scale, const BarTheme& theme,
                   std::span<const float> shown, bool grabbed);
    void drawFrequencyGrid(Canvas& canvas, const Rect& field, double scale, const BarTheme& theme);
    void drawLevelGrid(Canvas& canvas, const Rect& field, double scale, const BarTheme& theme);
    void drawReadout(Canvas& canvas, const Rect& field, const Frame& frame);
    void nameHeldPeaks(Canvas& canvas, const Rect& field, const Frame& frame);
    void drawChannelLabel(Canvas& canvas, const Rect& rect, SpectrumChannel channel);
    void drawPill(Canvas& canvas, const Rect& pill, std::string_view text, const Size& textSize,
                  const BarTheme& theme);

    double step_ = 1.0;                // points per column
    std::vector<float> columnLevels_;  // dB, one per column of the current frame
    std::vector<float> heldLevels_;    // per-column maximum while held; empty otherwise
    std::vector<float> frozenLevels_;  // the columns kept while the module is frozen
    std::vector<double> fractionSums_;  // running sums of the level fractions, for the colours
    std::vector<std::uint32_t> row_;   // one palette colour per column
    std::vector<float> curveRows_, heldRows_;  // the curves' heights in device rows above the field's foot
    SpectrumPicture picture_;
    SpectrogramPalette::Table palette_{};
    std::optional<std::array<Colour, 3>> paletteFor_;  // meter fill, track and background it was made for
    PeakScratch peakScratch_;
    std::vector<int> peaks_;
    std::vector<Label> labels_;
    std::vector<Peak> named_;
    std::optional<Rect> readoutPill_;
    std::string readout_;
    std::string peakText_;
};

}  // namespace crestline
