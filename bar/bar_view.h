// The bar: the one view that lays out and draws the loudness meter and the
// graph modules in the user's order, with their panels, dividers, title bars
// and the add button, or a status text beside the meter. Every frame is laid
// out anew from the settings and the bounds; the geometry it finds is kept
// (`layout()`) for the pointer code and for tests. Drawing runs through a
// `Canvas`, so the same frame goes into a widget or into an offscreen image.
//
// Main thread only. The analysers are read through a `MeterSource` under
// their own locks. A frame at 1920 x 36 points costs well under a
// millisecond once its texts are cached.
#pragma once

#include <QImage>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bar/bar_theme.h"
#include "bar/canvas.h"
#include "bar/geometry.h"
#include "bar/hint.h"
#include "bar/live_font.h"
#include "bar/meter_readouts.h"
#include "bar/meter_source.h"
#include "bar/text_cache.h"
#include "platform/clock.h"
#include "settings/module_options.h"

class QPainter;

namespace crestline {

class Settings;

// A divider after a module: its hit zone and what dragging it resizes.
struct TrailingLine {
    Rect rect;                 // 10 wide, full row height, centred on the divider
    int left = 0;              // index in the module order of the module to the left
    int right = -1;            // -1 in the module row
    double pairMinX = 0.0;     // where the left module starts
    double pairWidth = 0.0;    // its width
    std::optional<ColorArea> module;
    double minimum = 0.0;      // smallest width a drag may give it
    int spreadGaps = 0;        // meter: column gaps a drag spreads (0: a drag sets a width)
    bool operator==(const TrailingLine&) const = default;
};

struct EditTarget {
    enum class Kind { module, options };
    Kind kind = Kind::module;
    ColorArea area = ColorArea::meter;
    bool operator==(const EditTarget&) const = default;
};

enum class Grab { left, right, split, split2, meter, height };

// Metrics of the stacked meter for one bar height.
struct StackedMeter {
    double height = 0.0;
    Font labelFont;
    Font valueFont;
    Font heroFont;
    Font tickFont;
    double fieldHeight = 0.0;
    double fieldWidth = 0.0;
    double rowGap = 0.0;
    double columnGap = 0.0;
};

struct MeterMetrics {
    std::vector<double> labelWidths;
    std::vector<double> fieldWidths;
    double contentWidth = 0.0;
    double totalWidth = 0.0;  // natural width of the meter block
};

// The meter layout chosen for one frame and the widths that go with it.
struct MeterChoice {
    MeterLayout layout = MeterLayout::inlineRow;
    std::optional<StackedMeter> stacked;  // only while the stacked grid is in effect
    double dashboardWidth = 0.0;
    double horizontalWidth = 0.0;
};

// The span of the view hidden by a display notch, in view x-coordinates.
struct NotchGap {
    double lower = 0.0;
    double upper = 0.0;
    double width() const { return upper - lower; }
};

// Everything one frame found out about the geometry, kept until the next.
struct BarLayout {
    Rect content;
    double groundY = 0.0;
    MeterChoice meter;
    MeterMetrics metrics;
    Rect meterRect;  // where the meter block was drawn (empty when it was not)
    std::map<ColorArea, Rect> areaShapes;
    std::map<ColorArea, Rect> lastShapes;
    std::map<ColorArea, double> rowWidths;
    double moduleWidthLimit = std::numeric_limits<double>::max();
    struct { double minX = 0.0; double width = 0.0; } graphSpan;
    struct { double minX = 0.0; double maxX = 0.0; bool lineOnLeft = true; } meterSpan;
    std::pair<double, double> meterLimits{0.0, 0.0};
    double meterSpreadNow = 0.0;
    std::optional<Rect> meterHandle;
    std::optional<Rect> splitHandle;
    std::vector<TrailingLine> trailingLines;
    std::optional<TrailingLine> activeLine;
    double scrollOffset = 0.0;
    double scrollRange = 0.0;
    std::optional<Rect> plusRect;
    std::vector<std::pair<Rect, EditTarget>> editZones;
    std::vector<std::pair<Rect, ResetTarget>> resetZones;
    std::vector<std::pair<Rect, Hint>> hintZones;
    std::optional<Rect> spectrumField;
    std::optional<Rect> scopeField;
    std::optional<Rect> historyField;
    std::optional<Rect> statusRect;  // where the status text was drawn
};

// Pointer state the drawing shows (hover, selection, drags); written by the
// pointer handling, read by the chrome and finishing steps.
struct PointerState {
    struct ModuleDrag {
        ColorArea area;
        double x = 0.0;
        double y = 0.0;
    };
    std::optional<ColorArea> selectedArea;
    std::optional<ColorArea> hoverArea;
    std::optional<ColorArea> menuHighlight;  // module whose menu is open
    std::optional<ModuleDrag> editDrag;
    std::optional<ModuleDrag> paletteDrop;   // y unused
    std::optional<Grab> grab;
    std::optional<Grab> edgeHover;
    bool heightHover = false;
    bool split2Hover = false;
    bool meterHover = false;
    std::optional<ColorArea> frozenArea;
    std::optional<LoudnessReading> frozenReading;
};

class BarView {
public:
    // Layout constants, in points.
    static constexpr double kMinimumGraphWidth = 150.0;
    static constexpr double kEdgeWidth = 8.0;
    static constexpr double kMinimumHeight = 28.0;
    static constexpr double kMaximumHeight = 2000.0;
    static constexpr double kBottomEdge = 5.0;
    static constexpr double kWindowRim = 5.0;
    static constexpr double kGround = 8.0;
    static constexpr double kMaximumSpread = 60.0;
    static constexpr double kMeterPadding = 12.0;
    static constexpr double kLabelGap = 5.0;
    static constexpr double kItemGap = 12.0;
    static constexpr double kMinimumFieldWidth = 46.0;
    static constexpr double kPeakFieldWidth = 64.0;
    static constexpr double kCompactBarWidth = 80.0;
    static constexpr double kFieldHeight = 15.0;
    static constexpr double kRowChrome = 34.0;     // add button and end margin
    static constexpr double kBareModuleGap = 14.0;  // between modules without panels
    static constexpr double kGripWidth = 14.0;
    static constexpr double kPanelRadius = 3.0;
    static inline const Colour kHandleColour = Colour::white(0.5);

    BarView(Settings& settings, MeterSource* source, const Clock& clock = systemClock());
    ~BarView();
    BarView(const BarView&) = delete;
    BarView& operator=(const BarView&) = delete;

    // ---- What the host sets ------------------------------------------------
    void setBounds(Size size);
    Size bounds() const { return bounds_; }
    // Pixels per point of the device drawn into; a change empties the text cache.
    void setScale(double scale);
    double scale() const { return scale_; }
    // Returns true when the text changed (the caller redraws).
    bool setStatus(std::optional<std::string> text);
    const std::optional<std::string>& status() const { return status_; }
    void setDraggable(bool on) { draggable_ = on; }
    bool isDraggable() const { return draggable_; }
    void setTopInset(double points) { topInset_ = std::max(0.0, points); }
    void setNotchGap(std::optional<NotchGap> gap) { notchGap_ = gap; }
    void setHasTitleBar(bool on) { hasTitleBar_ = on; }
    // Sets the bar theme, rebuilds the per-module themes from the modules'
    // accents and empties the text cache.
    void setTheme(const BarTheme& theme);
    const BarTheme& theme() const { return *drawingTheme_; }
    const BarTheme& barTheme() const { return theme_; }
    const std::map<ColorArea, BarTheme>& areaThemes() const { return areaThemes_; }
    // Colour components of the meter fill and the background, "%.3f" each,
    // joined with ",": tables built from theme colours compare it.
    std::string themeColourKey() const;

    // Host time of the transport sync's last message, when there is a sync.
    std::function<std::optional<double>()> transportLastMessage;
    // Called on the main queue after a frame whose module shapes changed.
    std::function<void()> onFrameChanged;
    // The user drags the bar's height handle: the height asked for, in
    // points, and whether the drag ended. The host bounds it and lays out.
    std::function<void(double height, bool finished)> onHeightDrag;

    PointerState pointer;

    // ---- Drawing -----------------------------------------------------------
    // Draws one frame onto a painter whose device has `scale()` pixels per
    // point and `bounds()` points; through the notch picture when a notch
    // gap is set and no status is shown.
    void paint(QPainter& painter);
    // The frame itself, into any canvas of the bounds' height.
    void drawFrame(Canvas& canvas);

    // Smallest width the window may take.
    double minimumWidth();
    // Scrolls the module row; false when there is nothing to scroll (the
    // event belongs to someone else).
    bool scrollWheel(double dx, double dy, bool precise);
    // The display-link tick: true when this frame should be drawn (audio
    // within the last 4 s, or transport messages within the last 1.5 s).
    bool step();

    const BarLayout& layout() const { return layout_; }
    const PeakHold& peaks() const { return peaks_; }
    void resetPeaks() { peaks_.reset(); }
    TextCache& texts() { return texts_; }
    std::size_t levelGradientCount() const { return levelGradients_.size(); }

    // Text through the cache, measured and drawn in points.
    Size staticTextSize(std::string_view text, const Font& font);
    double textWidth(std::string_view text, const Font& font) { return staticTextSize(text, font).width; }

    static const Font& labelFont();
    static const Font& valueFont();
    static const Font& statusFont();

private:
    // Frame pieces.
    double margin() const;
    double moduleGap() const;
    double titleBarLift() const { return hasTitleBar_ ? 1.0 : 0.0; }
    double groundYFor(const std::optional<StackedMeter>& stacked) const;
    void drawModuleRow(const Rect& content, double startX, const MeterMetrics& metrics, bool resizable,
                       const LoudnessReading& reading, const std::vector<Readout>& items, Canvas& canvas);
    void drawStatusLayout(const Rect& content, double startX, double meterWidth, const LoudnessReading& reading,
                          const std::vector<Readout>& items, const MeterMetrics& metrics, Canvas& canvas);
    void drawMeterModule(const Rect& rect, const LoudnessReading& reading, const std::vector<Readout>& items,
                         const MeterMetrics& metrics, Canvas& canvas);
    void drawGraphModule(GraphKind kind, const Rect& rect, Canvas& canvas);
    void inArea(ColorArea area, const std::function<void()>& draw);
    Rect panelRect(const Rect& rect) const;
    Rect panelShape(const Rect& rect, const Colour& colour, Canvas& canvas);
    void displayPanel(const Rect& rect, Canvas& canvas, const std::function<void(const Rect&)>& draw);
    void panel(const Rect& rect, Canvas& canvas, const std::function<void(const Rect&)>& draw);
    void finishDrawing(Canvas& canvas);
    void drawModuleChrome(Canvas& canvas);
    void drawTitleBar(ColorArea area, const Rect& shape, bool selected, Canvas& canvas);
    void drawGearIcon(const Rect& rect, Canvas& canvas);
    void drawGrip(const Rect& rect, Canvas& canvas);
    void drawGrabLine(double x, const Rect& rect, Canvas& canvas);
    void divider(double x, const Rect& rect, double inset, Canvas& canvas);
    int moduleDropIndex(double x, std::optional<ColorArea> excluding) const;
    void rebuildAreaThemes();
    void postFrameChanged();
    LoudnessReading currentReading();

    // Meter (loudness display).
    void updatePeaks();
    MeterParts meterParts() const;
    std::vector<Readout> buildReadouts(const LoudnessReading& reading);
    MeterChoice chooseMeterLayout(double height, double roomWidth, const std::vector<Readout>& items);
    MeterMetrics meterMetrics(const std::vector<Readout>& items, const MeterChoice& choice);
    std::optional<StackedMeter> stackedMeter(double height);
    MeterMetrics stackedMetrics(const std::vector<Readout>& items, const StackedMeter& stacked);
    void drawMeter(const Rect& rect, const LoudnessReading& reading, const std::vector<Readout>& items,
                   const MeterMetrics& metrics, Canvas& canvas);
    void drawInlineMeter(const Rect& rect, const std::vector<Readout>& items, const MeterMetrics& metrics,
                         Canvas& canvas);
    void drawStackedMeter(const Rect& rect, const std::vector<Readout>& items, const MeterMetrics& metrics,
                          const StackedMeter& stacked, Canvas& canvas);
    void drawHorizontalDashboard(const Rect& rect, const LoudnessReading& reading, Canvas& canvas);
    void drawDashboardMeter(const Rect& rect, const LoudnessReading& reading, Canvas& canvas);
    void drawValueField(std::string_view text, double x, double fieldWidth, double midY, bool warn,
                        const Font& font, double height, const std::optional<Colour>& status, Canvas& canvas);
    void drawPeakField(double x, double width, double midY, double height, Canvas& canvas);
    const Gradient& levelGradient(const Colour& colour);
    void drawMakerMark(Point at, double height, Canvas& canvas);
    double makerMarkWidth(double height);
    void addReset(const Rect& r, const std::optional<ResetTarget>& target);
    void addHint(const Rect& r, Hint hint) { layout_.hintZones.emplace_back(r, hint); }

    Settings& settings_;
    MeterSource* source_;
    const Clock& clock_;

    Size bounds_;
    double scale_ = 2.0;
    std::optional<std::string> status_;
    bool draggable_ = false;
    double topInset_ = 0.0;
    std::optional<NotchGap> notchGap_;
    bool hasTitleBar_ = false;

    BarTheme theme_;
    const BarTheme* drawingTheme_ = &theme_;
    std::map<ColorArea, BarTheme> areaThemes_;
    std::optional<ColorArea> currentArea_;

    BarLayout layout_;
    PeakHold peaks_;
    std::optional<StackedMeter> stackedCache_;
    std::vector<std::pair<Colour, Gradient>> levelGradients_;
    // The wordmark as pictures by (height, colour, scale): its many
    // antialiased edges are costly to fill every frame.
    struct MarkPicture {
        double height;
        Colour colour;
        double scale;
        QImage image;
    };
    std::vector<MarkPicture> markPictures_;
    TextCache texts_;
    QImage cameraCanvas_;

    std::uint64_t lastActivity_ = 0;
    double lastActivityTime_ = -std::numeric_limits<double>::infinity();

    // Lets posted callbacks find out whether the view still exists.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace crestline
