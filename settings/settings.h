// The application's preferences: every key the bar keeps, with its type, its
// default and its "absent" rule, over one typed JSON document
// ($XDG_CONFIG_HOME/crestline/settings.json, see settings_store.h).
//
// There is no cache and no change notification: every accessor reads the
// store when called, and whoever writes a value triggers the relayout or
// redraw it needs. A value of the wrong type, out of its range or naming no
// known case reads as absent, so it yields the documented default.
//
// Threads: the application calls from the main thread; the audio engine
// reads "spectrogramChannel" from its own thread. Every call is one short
// critical section of the store, so any thread may call any accessor.
//
// Tests: build an isolated store over a file of their own,
//     Settings settings(folder / "settings.json", clock, Settings::Writing::manual);
// and, for code that reaches for `Settings::shared()`, point it there with
//     Settings::setSharedForTesting(&settings);   // ... and nullptr to undo
#pragma once

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/tap_source.h"
#include "platform/clock.h"
#include "settings/module_options.h"
#include "settings/settings_store.h"

namespace crestline {

// Red, green, blue, each 0 to 1.
using Rgb = std::array<double, 3>;

struct Point {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const Point&) const = default;
};

// At most one entry per module, in order, on a fixed array: what the
// bar reads every frame without touching the heap.
template <typename T>
struct ShortList {
    std::array<T, 6> items{};
    std::size_t count = 0;

    const T* begin() const { return items.data(); }
    const T* end() const { return items.data() + count; }
    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    const T& operator[](std::size_t i) const { return items[i]; }
    bool contains(T value) const { return std::find(begin(), end(), value) != end(); }
    void push_back(T value) {
        if (count < items.size()) items[count++] = value;
    }
    void insert(std::size_t at, T value) {
        if (count >= items.size() || at > count) return;
        std::move_backward(items.begin() + static_cast<std::ptrdiff_t>(at),
                           items.begin() + static_cast<std::ptrdiff_t>(count),
                           items.begin() + static_cast<std::ptrdiff_t>(count + 1));
        items[at] = value;
        ++count;
    }
    std::vector<T> vector() const { return {begin(), end()}; }
};

class Settings {
public:
    using Writing = SettingsStore::Writing;

    static constexpr int kGraphSlots = 5;

    // A store over `file`, loaded at once.
    explicit Settings(std::filesystem::path file, const Clock& clock = systemClock(),
                      Writing writing = Writing::background);

    // The process's store over `defaultFile()`, created on first use and
    // written at exit; or the instance given to `setSharedForTesting`.
    static Settings& shared();
    // Makes `shared()` answer `settings` until called with nullptr. The
    // caller keeps `settings` alive meanwhile.
    static void setSharedForTesting(Settings* settings);
    // $XDG_CONFIG_HOME/crestline/settings.json (XDG_CONFIG_HOME defaults to
    // ~/.config).
    static std::filesystem::path defaultFile();

    // ---- Direct typed access, for keys without an accessor ----------------
    bool contains(std::string_view key) const { return store_.contains(key); }
    std::optional<bool> boolean(std::string_view key) const { return store_.boolean(key); }
    std::optional<std::int64_t> integer(std::string_view key) const { return store_.integer(key); }
    std::optional<double> number(std::string_view key) const { return store_.number(key); }
    std::optional<std::string> string(std::string_view key) const { return store_.string(key); }
    std::optional<std::vector<std::string>> strings(std::string_view key) const { return store_.strings(key); }
    std::optional<std::vector<double>> numbers(std::string_view key) const { return store_.numbers(key); }
    std::optional<SettingsDate> date(std::string_view key) const { return store_.date(key); }
    std::optional<std::string> data(std::string_view key) const { return store_.data(key); }
    void setBool(std::string_view key, bool value) { store_.setBool(key, value); }
    void setInteger(std::string_view key, std::int64_t value) { store_.setInteger(key, value); }
    void setNumber(std::string_view key, double value) { store_.setNumber(key, value); }
    void setString(std::string_view key, std::string_view value) { store_.setString(key, value); }
    void setStrings(std::string_view key, const std::vector<std::string>& value) { store_.setStrings(key, value); }
    void setNumbers(std::string_view key, const std::vector<double>& value) { store_.setNumbers(key, value); }
    void setDate(std::string_view key, SettingsDate value) { store_.setDate(key, value); }
    void setData(std::string_view key, std::string_view bytes) { store_.setData(key, bytes); }
    void remove(std::string_view key) { store_.remove(key); }

    // Writes pending changes now (also done within a second and at exit).
    bool flush() { return store_.flush(); }
    SettingsStore& store() { return store_; }

    // ---- The bar and its windows --------------------------------------------
    BarMode barMode() const;  // "floating", anything else pinned
    void setBarMode(BarMode mode);
    double barHeight() const;  // 36; stored 28...2000
    void setBarHeight(double points);
    std::optional<Point> floatingOrigin() const;  // present when "floatingX" is
    void setFloatingOrigin(std::optional<Point> origin);
    double floatingWidth() const;   // 900; stored 320...16384
    double floatingHeight() const;  // stored 28...2000, else barHeight()
    void setFloatingSize(double width, double height);
    std::optional<double> liveMinimumHeight() const;
    void setLiveMinimumHeight(std::optional<double> points);

    // ---- Capture ----------------------------------------------------------
    bool listenToAll() const;  // false: measure Live only
    void setListenToAll(bool on);
    std::optional<TapSource> outputSource(std::string_view deviceUID) const;
    void setOutputSource(TapSource source, std::string_view deviceUID);
    // "mixdown", "pair:<decimal>", everything else (including "auto") auto.
    static TapSource source(std::string_view text);
    static std::string sourceText(TapSource source);

    // ---- Live -------------------------------------------------------------
    bool fitAbleton() const;  // key "fillAbleton"
    void setFitAbleton(bool on);
    bool followAbleton() const;
    void setFollowAbleton(bool on);
    bool quitWithAbleton() const;
    void setQuitWithAbleton(bool on);
    // The folder under which Live's home-relative paths resolve: an absolute
    // stored path ("~/" allowed), else the home folder.
    std::filesystem::path liveRoot() const;
    // The stored root alone, as liveRoot() reads it; nothing when none is
    // stored, so that Live's places can look further (a Wine prefix).
    std::optional<std::filesystem::path> liveRootSetting() const;
    void setLiveRoot(std::optional<std::filesystem::path> root);
    // Live's last theme choice as its JSON text, kept as data.
    std::optional<std::string> liveThemeChoice() const;
    void setLiveThemeChoice(std::optional<std::string_view> json);

    // ---- General ----------------------------------------------------------
    bool showHints() const;
    void setShowHints(bool on);
    bool showTimelineMarks() const;
    void setShowTimelineMarks(bool on);
    bool autoResetAfterSilence() const;
    void setAutoResetAfterSilence(bool on);

    // ---- Loudness targets (LUFS, −70...0; nullopt is no target) -----------
    std::optional<double> targetLUFS() const;
    void setTargetLUFS(std::optional<double> lufs);
    std::optional<double> customTargetLUFS() const;
    void setCustomTargetLUFS(std::optional<double> lufs);
    // The history's own target once one was chosen for it, else targetLUFS().
    std::optional<double> historyTargetLUFS() const;
    void setHistoryTargetLUFS(std::optional<double> lufs);

    // ---- Loudness history -------------------------------------------------
    // Of momentary, shortTerm, integrated (in that order) those stored.
    std::vector<HistorySource> historyShows() const;
    ShortList<HistorySource> historyShowsList() const;  // the same without the heap
    void setHistoryShows(const std::vector<HistorySource>& sources);
    double historyMinutes() const;  // 1; stored (0, 10]
    void setHistoryMinutes(double minutes);
    bool historyPeakMarks() const;
    void setHistoryPeakMarks(bool on);
    bool historyDynamics() const;
    void setHistoryDynamics(bool on);

    // ---- Scope ------------------------------------------------------------
    ScopeWindow scopeWindow() const;  // also from the older "scopeWindowMs"
    void setScopeWindow(ScopeWindow window);
    ScopeMode scopeMode() const;  // mid
    void setScopeMode(ScopeMode mode);
    ColorMap scopeColorMap() const;  // frequency or module
    void setScopeColorMap(ColorMap map);

    // ---- Spectrum ---------------------------------------------------------
    SpectrumChannel spectrumChannel() const;  // stereo
    void setSpectrumChannel(SpectrumChannel channel);
    double spectrumTilt() const;  // dB per octave; 0; stored −24...24
    void setSpectrumTilt(double dbPerOctave);
    bool spectrumPeakHold() const;  // also from the older "spectrumFreeze"
    void setSpectrumPeakHold(bool on);

    // ---- Spectrogram ------------------------------------------------------
    SpectrumChannel spectrogramChannel() const;  // stereo; read by the engine's thread
    void setSpectrogramChannel(SpectrumChannel channel);
    ColorMap spectrogramColorMap() const;  // heat or module
    void setSpectrogramColorMap(ColorMap map);
    double spectrogramTilt() const;  // else spectrumTilt()
    void setSpectrogramTilt(double dbPerOctave);
    double spectrogramSeconds() const;  // 60; stored (0, 600]
    void setSpectrogramSeconds(double seconds);
    SpectrogramRange spectrogramRange() const;  // normal
    void setSpectrogramRange(SpectrogramRange range);

    // ---- Imager -----------------------------------------------------------
    ImagerMode imagerMode() const;  // lissajous or polarSample
    void setImagerMode(ImagerMode mode);

    // ---- Per module -------------------------------------------------------
    bool freezeOnHover(ColorArea area) const;  // the scope also reads "scopeFreeze"
    void setFreezeOnHover(ColorArea area, bool on);
    // Exactly three components, each 0...1, else nothing.
    std::optional<Rgb> accentColor(ColorArea area) const;
    void setAccentColor(std::optional<Rgb> color, ColorArea area);
    // The older single accent of the whole bar (read by the migration and
    // by the theme).
    std::optional<Rgb> accentColor() const;
    // Room for `currentTheme()`: the bar's colour set in use, from
    // "barTheme", Live's theme and accentColor(); it arrives with the bar's
    // theme.

    // ---- Layout -----------------------------------------------------------
    std::optional<GraphKind> window1() const;  // also from the older keys
    std::optional<GraphKind> window2() const;
    std::optional<GraphKind> window(int slot) const;  // slots 1...5
    bool showHistory() const;  // any of slots 2...5 holds a graph
    double windowWeight(int slot) const;  // 1; stored (0, 1000]
    std::optional<int> meterIndex() const;  // 0...number of graphs
    // Slots 1...5 without empty slots and repeated kinds.
    std::vector<GraphKind> graphOrder() const;
    // The graphs with the meter among them (when shown).
    std::vector<ColorArea> moduleOrder() const;
    // The same two without the heap, for the bar's every frame.
    ShortList<GraphKind> graphOrderList() const;
    ShortList<ColorArea> moduleOrderList() const;
    void setModuleOrder(const std::vector<ColorArea>& order);
    // Rewrites the slots so that every graph keeps its width share.
    void setGraphOrder(const std::vector<GraphKind>& kinds);
    void setShown(GraphKind kind, bool shown);
    bool showMeter() const;
    bool showMeterPart(MeterPart part) const;  // false while the meter is hidden
    bool meterPartChosen(MeterPart part) const;  // the part's own key, true when absent
    void setShowMeterPart(MeterPart part, bool on);
    bool showMomentary() const { return showMeterPart(MeterPart::momentary); }
    bool showShortTerm() const { return showMeterPart(MeterPart::shortTerm); }
    bool showIntegrated() const { return showMeterPart(MeterPart::integrated); }
    bool showLoudnessRange() const { return showMeterPart(MeterPart::loudnessRange); }
    bool showTruePeak() const { return showMeterPart(MeterPart::truePeak); }
    bool showPSR() const { return showMeterPart(MeterPart::psr); }
    bool showPeak() const { return showMeterPart(MeterPart::peak); }
    std::optional<double> moduleWidth(ColorArea area) const;  // (0, 16384]
    void setModuleWidth(ColorArea area, std::optional<double> width);
    std::optional<double> graphSplit() const;  // share 0...1
    void setGraphSplit(std::optional<double> share);
    std::optional<double> meterWidth() const;  // (0, 16384]
    void setMeterWidth(std::optional<double> width);
    std::optional<double> meterSpread() const;  // 0...60
    void setMeterSpread(std::optional<double> spread);

    // ---- Launch -----------------------------------------------------------
    std::optional<SettingsDate> firstLaunch() const;
    void recordFirstLaunch();  // only when none is stored

    // ---- Start-up migrations and layout reset -----------------------------
    void migrateToModules();          // once, guarded by "modulesMigrated"
    void migrateAwayFromBarColour();  // after migrateToModules
    void resetLayout();               // scope, history, meter; sizes removed

private:
    std::optional<double> numberIn(std::string_view key, double low, double high) const;
    std::optional<double> positiveUpTo(std::string_view key, double high) const;
    void setOptionalNumber(std::string_view key, std::optional<double> value);
    std::optional<Rgb> colorAt(std::string_view key) const;
    std::optional<GraphKind> slotFromKey(std::string_view key) const;

    const Clock& clock_;
    SettingsStore store_;
};

}  // namespace crestline
