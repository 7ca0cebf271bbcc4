// The bar: the one view that lays out and draws the loudness meter and the
// graph modules in the user's order, with their panels, dividers, title bars
// and the add button, or a status text beside the meter. Every frame is laid
// out anew from the settings and the bounds; the geometry it finds is kept
// (`layout()`) for the pointer code and for tests. Drawing runs through a
// `Canvas`, so the same frame goes into a widget or into an offscreen image.
//
// Composition: `layoutRow` gives the geometry, one `ModuleDisplay` per
// module draws into its rectangle (the meter's `LoudnessDisplay` and one
// display per graph kind), and the view draws what lies between them:
// panels, dividers, the add button, title bars, the grip and the edges.
//
// Main thread only. The analysers are read through a `MeterSource` under
// their own locks; the transport through the `LiveSync` the application
// hands over. A frame at 1920 x 36 points costs well under a millisecond
// once its texts are cached.
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

#include "bar/bar_menu.h"
#include "bar/bar_theme.h"
#include "bar/canvas.h"
#include "bar/geometry.h"
#include "bar/hint.h"
#include "bar/level_gradients.h"
#include "bar/live_font.h"
#include "bar/loudness_display.h"
#include "bar/meter_metrics.h"
#include "bar/meter_readouts.h"
#include "bar/meter_source.h"
#include "bar/module_display.h"
#include "bar/pointer_state.h"
#include "bar/row_layout.h"
#include "bar/text_cache.h"
#include "live/live_set.h"
#include "platform/clock.h"
#include "settings/module_options.h"

class QPainter;

namespace crestline {

class LiveSync;
class Settings;
class SpectrumAnalyzer;

// Everything one frame found out: the row's geometry, the zones the
// displays registered, and what the view adds (the meter's layout and
// widths, the previous frame's shapes, the divider under the pointer, where
// the status text went). Kept until the next frame for the pointer code.
struct BarLayout : RowLayout, Zones {
    MeterChoice meter;
    MeterMetrics metrics;
    AreaMap<Rect> lastShapes;
    std::optional<Rect> meterHandle;  // legacy handles: never shown by the module row
    std::optional<Rect> splitHandle;
    std::optional<TrailingLine> activeLine;
    std::optional<Rect> statusRect;  // where the status text was drawn
};

class BarView {
public:
    // Layout constants, in points (the row's and the meter's own are in
    // row_layout.h and meter_metrics.h).
    static constexpr double kMinimumGraphWidth = crestline::kMinimumGraphWidth;
    static constexpr double kEdgeWidth = 8.0;
    static constexpr double kMinimumHeight = 28.0;
    static constexpr double kMaximumHeight = 2000.0;
    static constexpr double kBottomEdge = 5.0;
    static constexpr double kWindowRim = 5.0;
    static constexpr double kGround = crestline::kGround;
    static constexpr double kMaximumSpread = crestline::kMaximumSpread;
    static constexpr double kMeterPadding = crestline::kMeterPadding;
    static constexpr double kLabelGap = crestline::kLabelGap;
    static constexpr double kItemGap = crestline::kItemGap;
    static constexpr double kMinimumFieldWidth = crestline::kMinimumFieldWidth;
    static constexpr double kPeakFieldWidth = crestline::kPeakFieldWidth;
    static constexpr double kCompactBarWidth = crestline::kCompactBarWidth;
    static constexpr double kFieldHeight = crestline::kFieldHeight;
    static constexpr double kRowChrome = crestline::kRowChrome;
    static constexpr double kBareModuleGap = crestline::kBareModuleGap;
    static constexpr double kGripWidth = crestline::kGripWidth;
    static constexpr double kPanelRadius = crestline::kPanelRadius;
    static inline const Colour kHandleColour = Colour::white(0.5);
    // The view's spectrum analyser: bins fall at most this fast, and the
    // window is zero-padded this many times for finer bins at the bottom.
    static constexpr float kSpectrumReleasePerSecond = 60.0f;
    static constexpr int kSpectrumPadding = 2;

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
    bool hasTitleBar() const { return hasTitleBar_; }
    double topInset() const { return topInset_; }
    const std::optional<NotchGap>& notchGap() const { return notchGap_; }
    // Whether the bottom edge drags the bar's height: off while the bar sits
    // in a full-screen strip or Live's window is fitted under it.
    void setHeightHandle(bool shown) { heightHandle_ = shown; }
    bool heightHandle() const { return heightHandle_; }
    // Sets the bar theme, rebuilds the per-module themes from the modules'
    // accents and empties the text cache.
    void setTheme(const BarTheme& theme);
    const BarTheme& barTheme() const { return theme_; }
    const std::map<ColorArea, BarTheme>& areaThemes() const { return areaThemes_; }
    // Colour components of the meter fill and the background of the bar's
    // theme, "%.3f" each, joined with ",".
    std::string themeColourKey() const { return crestline::themeColourKey(theme_); }

    // Live's transport, followed by the beat-synced scope and the timeline
    // marks; null while there is none. The sync must outlive the view or be
    // taken back first.
    void setSync(const LiveSync* sync) { sync_ = sync; }
    const LiveSync* sync() const { return sync_; }
    // The open Live set's locators and signatures; nothing without a set.
    void setLiveSet(std::optional<LiveSet> set) { liveSet_ = std::move(set); }
    const std::optional<LiveSet>& liveSet() const { return liveSet_; }

    // Host time of the transport's last message, for a host without a
    // `LiveSync` to hand over.
    std::function<std::optional<double>()> transportLastMessage;
    // Called on the main queue after a frame whose module shapes changed.
    std::function<void()> onFrameChanged;
    // The user drags the bar's height handle: the height asked for, in
    // points, and whether the drag ended. The host bounds it and lays out.
    std::function<void(double height, bool finished)> onHeightDrag;

    // ---- Callbacks of the pointer's gestures (set by the window owner) ----
    // Every press and context-menu request, before anything else.
    std::function<void()> onClicked;
    // A click on a reset zone.
    std::function<void(ResetTarget)> onReset;
    std::function<void(std::optional<ColorArea>)> onSelectionChanged;
    // A module was dragged off the bar, or removed with Delete.
    std::function<void(ColorArea)> onLayoutHide;
    // A module was dropped at `index` among the others.
    std::function<void(ColorArea, int index)> onLayoutMove;
    // Kept for the window owner; no gesture calls it.
    std::function<void()> onModulesMoved;
    // The menus of a module (gear, right-click) and of the add button;
    // nothing shows no menu.
    std::function<std::unique_ptr<BarMenu>(ColorArea)> moduleMenu;
    std::function<std::unique_ptr<BarMenu>()> addMenu;
    std::function<std::vector<DrawerControl>(ColorArea)> moduleControls;
    // One of the application's own menus is open (no hint then).
    std::function<bool()> applicationMenuOpen;

    PointerState pointer;
    // The divider under the pointer or being dragged; kept across frames
    // by module (see keepActiveLine).
    void setActiveLine(std::optional<TrailingLine> line) { layout_.activeLine = std::move(line); }

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
    Settings& settings() { return settings_; }
    const Clock& clock() const { return clock_; }
    // Modules of the order other than `excluding` whose shape's middle lies
    // left of `x`: where a module dropped at x goes.
    int moduleDropIndex(double x, std::optional<ColorArea> excluding) const;
    const PeakHold& peaks() const { return meter_.peaks(); }
    void resetPeaks() { meter_.resetPeaks(); }
    TextCache& texts() { return texts_; }
    std::size_t levelGradientCount() const { return gradients_.size(); }
    // The displays, for tests and the benchmark.
    LoudnessDisplay& meterDisplay() { return meter_; }
    ModuleDisplay& display(GraphKind kind) { return *graphs_[static_cast<std::size_t>(kind)]; }
    // Puts another display in a graph kind's place; returns the one it had.
    std::unique_ptr<ModuleDisplay> replaceDisplay(GraphKind kind, std::unique_ptr<ModuleDisplay> display) {
        return std::exchange(graphs_[static_cast<std::size_t>(kind)], std::move(display));
    }
    SpectrumAnalyzer& spectrum() { return *spectrum_; }

    // Text through the cache, measured in points.
    Size staticTextSize(std::string_view text, const Font& font);
    double textWidth(std::string_view text, const Font& font) { return staticTextSize(text, font).width; }

    static const Font& statusFont();

private:
    RowInputs rowInputs() const;
    const BarTheme& areaTheme(ColorArea area) const;
    Frame frameFor(ColorArea area, const LoudnessReading& current);
    LoudnessReading readingFor(ColorArea area, const LoudnessReading& current);
    void drawRow(const LoudnessReading& reading, Canvas& canvas);
    void drawStatus(const LoudnessReading& reading, Canvas& canvas);
    void drawModule(const PlacedModule& module, const LoudnessReading& reading, Canvas& canvas);
    void drawAddButton(const Rect& button, Canvas& canvas);
    void keepActiveLine();
    void finishDrawing(Canvas& canvas);
    void drawModuleChrome(Canvas& canvas);
    void drawTitleBar(ColorArea area, const Rect& shape, bool selected, Canvas& canvas);
    void drawGearIcon(const Rect& rect, Canvas& canvas);
    void drawGrip(const Rect& rect, Canvas& canvas);
    void drawGrabLine(double x, const Rect& rect, Canvas& canvas);
    void rebuildAreaThemes();
    void postFrameChanged();

    Settings& settings_;
    MeterSource* source_;
    const Clock& clock_;
    const LiveSync* sync_ = nullptr;
    std::optional<LiveSet> liveSet_;

    Size bounds_;
    double scale_ = 2.0;
    std::optional<std::string> status_;
    bool draggable_ = false;
    double topInset_ = 0.0;
    std::optional<NotchGap> notchGap_;
    bool hasTitleBar_ = false;
    bool heightHandle_ = true;

    BarTheme theme_;
    std::map<ColorArea, BarTheme> areaThemes_;

    BarLayout layout_;
    LoudnessDisplay meter_;
    std::array<std::unique_ptr<ModuleDisplay>, 5> graphs_;  // by GraphKind
    std::unique_ptr<SpectrumAnalyzer> spectrum_;
    LevelGradients gradients_;
    TextCache texts_;
    QImage cameraCanvas_;

    std::uint64_t lastActivity_ = 0;
    double lastActivityTime_ = -std::numeric_limits<double>::infinity();

    // Lets posted callbacks find out whether the view still exists.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace crestline
