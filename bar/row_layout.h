// The bar's geometry as a pure function: from the settings (module order,
// slots, weights, stored widths, meter spread), the bounds, the window's
// circumstances and the meter's measured width to the rectangle and panel
// shape of every module, the dividers the pointer drags, the add button and
// the scroll range. Nothing is drawn and nothing is kept: the view calls it
// once per frame, tests call it on its own.
#pragma once

#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "bar/area_map.h"
#include "bar/geometry.h"
#include "bar/meter_metrics.h"
#include "settings/module_options.h"

namespace crestline {

class Settings;

// Fixed sizes of the row, in points.
inline constexpr double kMinimumGraphWidth = 150.0;  // also the per-graph step of the minimum width
inline constexpr double kGround = 8.0;               // gap between panels; cap of their vertical inset
inline constexpr double kMaximumSpread = 60.0;       // largest extra gap between meter columns
inline constexpr double kRowChrome = 34.0;           // the add button and the end margin
inline constexpr double kBareModuleGap = 14.0;       // between modules without panels
inline constexpr double kGripWidth = 14.0;
inline constexpr double kPanelRadius = 3.0;
inline constexpr double kStatusReserve = 20.0;       // kept free at the right beside a notch
inline constexpr double kNotchMargin = 6.0;          // room kept on each side of a notch
inline constexpr double kDividerHitWidth = 10.0;

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

// The span of the view hidden by a display notch, in view x-coordinates.
struct NotchGap {
    double lower = 0.0;
    double upper = 0.0;
    double width() const { return upper - lower; }
};

struct RowInputs {
    const Settings& settings;
    Size bounds;
    double topInset = 0.0;              // strip at the top left empty for the window owner
    std::optional<NotchGap> notchGap;
    bool status = false;                // a status text replaces the row
    bool draggable = false;             // a free-floating strip with a grip
    bool hasTitleBar = false;           // the window has a title bar: panels sit 1 point lower
    bool panels = false;                // the theme draws module panels
    MeterChoice meter;                  // chosen for the content height
    double meterNaturalWidth = 0.0;     // MeterMetrics::totalWidth
    int meterColumns = 0;               // columns the meter's spread goes between
    double scrollOffset = 0.0;          // as the user left it; clamped to the new range
};

// One module of the row as it is drawn.
struct PlacedModule {
    ColorArea area = ColorArea::meter;
    Rect rect;           // the module's rectangle: its row width less the gap after it
    Rect shape;          // the panel shape, or the rectangle when no panel is drawn
    bool panel = false;  // a panel is drawn (and, for a graph, clips the display)
    double width = 0.0;  // its width in the row, gap included
};

struct RowLayout {
    Rect content;          // bounds less the notch reserve and the top inset
    double grip = 0.0;     // width of the grip (free-floating strip)
    double margin = 0.0;   // before the first module
    double startX = 0.0;   // where the row (or the status text) starts
    double groundY = 0.0;  // vertical inset of the panels
    double gap = 0.0;      // after every module
    Rect clip;             // the row draws inside this
    std::vector<PlacedModule> modules;  // in the module order; the meter alone beside a status text
    Rect meterRect;        // where the meter block goes (empty when it is not shown)
    AreaMap<Rect> areaShapes;
    AreaMap<double> rowWidths;  // user-sizable modules only
    double moduleWidthLimit = std::numeric_limits<double>::max();
    struct {
        double minX = 0.0;
        double width = 0.0;
    } graphSpan;
    struct {
        double minX = 0.0;
        double maxX = 0.0;
        bool lineOnLeft = true;
    } meterSpan;
    std::pair<double, double> meterLimits{0.0, 0.0};  // while the meter is resizable
    double meterSpreadNow = 0.0;                      // extra gap between meter columns
    std::vector<TrailingLine> trailingLines;
    double scrollOffset = 0.0;
    double scrollRange = 0.0;
    std::optional<Rect> plusRect;  // the add button, while a module is missing
};

// The content rectangle alone: what the meter is measured for before the
// row is laid out.
Rect rowContent(const RowInputs& in);
RowLayout layoutRow(const RowInputs& in);
// The same into `out`, keeping its lists' storage: the view lays out every
// frame without touching the heap.
void layoutRow(const RowInputs& in, RowLayout& out);

// Space before the first module: 10 without panels, else the ground (one
// more under a window title bar).
double rowMargin(bool panels, bool hasTitleBar);
// Vertical inset of panels for a content height and the meter's fields.
double panelInset(double height, const std::optional<StackedMeter>& stacked, bool hasTitleBar, bool notch);
// Smallest width the window may take: grip, margin, the meter's natural
// width and 150 points per graph slot in use (slots 2 to 5 count at least
// once when any holds a graph); at least 320.
double minimumRowWidth(const Settings& settings, bool draggable, double margin, double meterNaturalWidth);

}  // namespace crestline
