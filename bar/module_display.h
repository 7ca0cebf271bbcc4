// One module of the bar's row draws itself through a ModuleDisplay: the
// meter (LoudnessDisplay) and the five graphs (ScopeDisplay, SpectrumDisplay,
// ImagerDisplay, HistoryDisplay, SpectrogramDisplay), each in its own file
// pair. The view lays the row out, draws the module's panel and, for a graph,
// clips to it, then calls `draw` with the panel's shape; the display draws
// only inside that rectangle and registers what the pointer needs (hint and
// reset zones, its field) in `zones`.
//
// Writing a display: keep every piece of working state in the class (sample
// copies, smoothing anchors, colour tables, pictures, frozen copies) and
// size it once, so a frame at unchanged sizes allocates nothing. Everything
// a frame may read is in `Frame`: the module's theme, scale, the view's
// clock, the settings, the pointer (hover, freeze, grab), and the sources:
// the analysers (each read under its own lock, through its own methods),
// the transport and Live's set. Text goes through `canvas.drawText` and
// `canvas.textSize` (the bar's text cache). Registering: the view makes one
// display per graph kind with `makeGraphDisplay` (module_display.cpp); a
// display's constructor takes no arguments, so filling in a display never
// touches the view.
//
// Main thread only, like the view.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/loudness_reading.h"
#include "bar/bar_theme.h"
#include "bar/canvas.h"
#include "bar/geometry.h"
#include "bar/hint.h"
#include "bar/level_gradients.h"
#include "bar/meter_readouts.h"
#include "bar/pointer_state.h"
#include "settings/module_options.h"

namespace crestline {

class LiveSync;
class LoudnessMeter;
class ScopeBuffer;
class Settings;
class SpectrogramRecorder;
class SpectrumAnalyzer;
struct LiveSet;

// What one module reads to draw one frame. Built by the view for each
// module; pointers are null when the source is missing (a view without an
// engine, no transport, no open set).
struct Frame {
    ColorArea area;               // the module being drawn
    const BarTheme& theme;        // the bar's theme tinted with the module's accent
    const BarTheme& barTheme;     // the bar's own
    const Settings& settings;
    const PointerState& pointer;
    LevelGradients& gradients;    // the level bars' gradients, shared by every module
    Size bounds;                  // of the whole bar, points
    double scale = 2.0;           // device pixels per point
    double now = 0.0;             // media seconds of the view's clock

    // The loudness reading of this frame: the one frozen with this module
    // while it is frozen (taken when it froze), else the meter's current.
    LoudnessReading reading;
    const PeakHold* peaks = nullptr;      // the sample-peak bars: shown, held, clipped (dBFS)
    const ScopeBuffer* scope = nullptr;
    const LoudnessMeter* loudness = nullptr;         // history series
    const SpectrogramRecorder* spectrogram = nullptr;
    SpectrumAnalyzer* spectrum = nullptr;  // the view's own; the spectrum display updates it
    const LiveSync* sync = nullptr;         // Live's transport
    const LiveSet* liveSet = nullptr;       // the open set's locators and signatures

    bool frozen() const { return pointer.frozenArea == area; }
    // The moment the module shows: when it froze, else now.
    double shownAt() const { return frozen() ? pointer.frozenAt : now; }
};

// The zones of one frame, rebuilt by every draw: what a click resets, what
// a hover explains, the title bars and gears, and the fields of the modules
// with pointer read-outs.
struct Zones {
    std::vector<std::pair<Rect, ResetTarget>> resetZones;
    std::vector<std::pair<Rect, Hint>> hintZones;
    std::vector<std::pair<Rect, EditTarget>> editZones;
    std::optional<Rect> spectrumField;
    std::optional<Rect> scopeField;
    std::optional<Rect> historyField;
    std::vector<Rect> timelineNameRects;  // locator names drawn this frame

    void addHint(const Rect& r, Hint hint) { hintZones.emplace_back(r, hint); }
    void addReset(const Rect& r, const std::optional<ResetTarget>& target) {
        if (target) resetZones.emplace_back(r, *target);
    }
    // Empties every list, keeping their storage.
    void clear();
};

class ModuleDisplay {
public:
    virtual ~ModuleDisplay() = default;

    virtual ColorArea area() const = 0;
    // Draws one frame into `rect` (the panel's shape, or the module's
    // rectangle when no panel is drawn).
    virtual void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) = 0;
    // The theme, the accents or the scale changed: tables and pictures made
    // for the old ones go.
    virtual void themeChanged() {}
};

// One display per graph kind, for the view.
std::unique_ptr<ModuleDisplay> makeGraphDisplay(GraphKind kind);

// The colour components of the theme's meter fill and background, "%.3f"
// each, joined with ",": tables built from theme colours remember it and
// are rebuilt when it changes.
std::string themeColourKey(const BarTheme& theme);

// The module's name, centred in `rect`, for a display that has nothing of
// its own to show yet.
void drawModuleName(Canvas& canvas, const Rect& rect, const Frame& frame);

}  // namespace crestline
