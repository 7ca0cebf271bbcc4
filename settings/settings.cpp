#include "settings/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>

namespace crestline {

namespace fs = std::filesystem;

namespace {

// Accepted ranges: a stored number outside its range reads as absent, so a
// hand-edited or damaged file can never size a window to a million points
// or turn a loudness target into nonsense.
constexpr double kMinBarHeight = 28.0;
constexpr double kMaxBarHeight = 2000.0;
constexpr double kDefaultBarHeight = 36.0;
constexpr double kMinFloatingWidth = 320.0;
constexpr double kMaxFloatingWidth = 16384.0;
constexpr double kDefaultFloatingWidth = 900.0;
constexpr double kMaxOriginMagnitude = 1.0e6;     // points, far beyond any desktop
constexpr double kMaxModuleWidth = 16384.0;       // points
constexpr double kMaxLiveHeight = 16384.0;        // points
constexpr double kMinTargetLUFS = -70.0;
constexpr double kMaxTargetLUFS = 0.0;
constexpr double kMaxHistoryMinutes = 10.0;
constexpr double kMaxSpectrogramSeconds = 600.0;
constexpr double kMaxTilt = 24.0;                 // dB per octave, either way
constexpr double kMaxWindowWeight = 1000.0;
constexpr double kMaxMeterSpread = 60.0;          // points
constexpr int kMaxPairDigits = 6;

std::atomic<Settings*> sharedOverride{nullptr};

constexpr std::array kHistorySources{HistorySource::momentary, HistorySource::shortTerm, HistorySource::integrated};

// A key made of two parts. The bar reads per-module keys every frame, so
// the key sits in a buffer of its own rather than on the heap; only a key
// longer than the buffer (a long device id) spills into a string.
class Key {
public:
    Key(std::string_view prefix, std::string_view suffix) {
        const std::size_t size = prefix.size() + suffix.size();
        if (size <= sizeof(buffer_)) {
            std::copy(prefix.begin(), prefix.end(), buffer_);
            std::copy(suffix.begin(), suffix.end(), buffer_ + prefix.size());
            view_ = std::string_view(buffer_, size);
        } else {
            spilled_.reserve(size);
            spilled_.append(prefix).append(suffix);
            view_ = spilled_;
        }
    }
    Key(const Key&) = delete;  // the view points into this object
    Key& operator=(const Key&) = delete;
    operator std::string_view() const { return view_; }

private:
    char buffer_[48];
    std::string spilled_;
    std::string_view view_;
};

Key key(std::string_view prefix, std::string_view suffix) { return Key(prefix, suffix); }

Key slotKey(std::string_view prefix, int slot) {
    const char digit[] = {static_cast<char>('0' + std::clamp(slot, 0, 9))};
    return Key(prefix, std::string_view(digit, 1));
}

fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return "/";
}

bool isGraphSlot(int slot) { return slot >= 1 && slot <= Settings::kGraphSlots; }

}  // namespace

Settings::Settings(fs::path file, const Clock& clock, Writing writing)
    : clock_(clock), store_(std::move(file), clock, writing) {}

Settings& Settings::shared() {
    if (Settings* settings = sharedOverride.load(std::memory_order_acquire)) return *settings;
    static Settings instance(defaultFile());
    return instance;
}

void Settings::setSharedForTesting(Settings* settings) { sharedOverride.store(settings, std::memory_order_release); }

fs::path Settings::defaultFile() {
    fs::path config;
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else {
        config = homeFolder() / ".config";
    }
    return config / "crestline" / "settings.json";
}

// ---- helpers -------------------------------------------------------------

std::optional<double> Settings::numberIn(std::string_view k, double low, double high) const {
    const auto value = store_.number(k);
    if (!value || *value < low || *value > high) return std::nullopt;
    return value;
}

std::optional<double> Settings::positiveUpTo(std::string_view k, double high) const {
    const auto value = store_.number(k);
    if (!value || *value <= 0.0 || *value > high) return std::nullopt;
    return value;
}

void Settings::setOptionalNumber(std::string_view k, std::optional<double> value) {
    if (value) {
        store_.setNumber(k, *value);
    } else {
        store_.remove(k);
    }
}

std::optional<Rgb> Settings::colorAt(std::string_view k) const {
    const auto values = store_.numbers(k);
    if (!values || values->size() != 3) return std::nullopt;
    Rgb color{};
    for (std::size_t i = 0; i < 3; ++i) {
        const double c = (*values)[i];
        if (c < 0.0 || c > 1.0) return std::nullopt;
        color[i] = c;
    }
    return color;
}

// ---- the bar and its windows --------------------------------------------

BarMode Settings::barMode() const {
    return store_.string("barMode") == "floating" ? BarMode::floating : BarMode::pinned;
}
void Settings::setBarMode(BarMode mode) { store_.setString("barMode", rawValue(mode)); }

double Settings::barHeight() const {
    return numberIn("barHeight", kMinBarHeight, kMaxBarHeight).value_or(kDefaultBarHeight);
}
void Settings::setBarHeight(double points) { store_.setNumber("barHeight", points); }

std::optional<Point> Settings::floatingOrigin() const {
    const auto x = numberIn("floatingX", -kMaxOriginMagnitude, kMaxOriginMagnitude);
    if (!x) return std::nullopt;
    return Point{*x, numberIn("floatingY", -kMaxOriginMagnitude, kMaxOriginMagnitude).value_or(0.0)};
}
void Settings::setFloatingOrigin(std::optional<Point> origin) {
    if (origin) {
        store_.setNumber("floatingX", origin->x);
        store_.setNumber("floatingY", origin->y);
    } else {
        store_.remove("floatingX");
        store_.remove("floatingY");
    }
}

double Settings::floatingWidth() const {
    return numberIn("floatingWidth", kMinFloatingWidth, kMaxFloatingWidth).value_or(kDefaultFloatingWidth);
}
double Settings::floatingHeight() const {
    // The height of the floating window's bar, so the bar's own range.
    if (const auto h = numberIn("floatingHeight", kMinBarHeight, kMaxBarHeight)) return *h;
    return barHeight();
}
void Settings::setFloatingSize(double width, double height) {
    store_.setNumber("floatingWidth", width);
    store_.setNumber("floatingHeight", height);
}

std::optional<double> Settings::liveMinimumHeight() const { return positiveUpTo("liveMinimumHeight", kMaxLiveHeight); }
void Settings::setLiveMinimumHeight(std::optional<double> points) { setOptionalNumber("liveMinimumHeight", points); }

// ---- capture -------------------------------------------------------------

bool Settings::listenToAll() const { return store_.boolean("listenToAll").value_or(false); }
void Settings::setListenToAll(bool on) { store_.setBool("listenToAll", on); }

std::optional<TapSource> Settings::outputSource(std::string_view deviceUID) const {
    const auto text = store_.string(key("outputSource.", deviceUID));
    if (!text) return std::nullopt;
    return source(*text);
}

void Settings::setOutputSource(TapSource tapSource, std::string_view deviceUID) {
    store_.setString(key("outputSource.", deviceUID), sourceText(tapSource));
}

TapSource Settings::source(std::string_view text) {
    if (text == "mixdown") return TapSource::mixdown();
    constexpr std::string_view kPair = "pair:";
    if (text.starts_with(kPair)) {
        const std::string_view digits = text.substr(kPair.size());
        // Plain decimal digits only: no sign, no spaces, nothing after.
        if (digits.empty() || digits.size() > kMaxPairDigits) return TapSource::automatic();
        for (char c : digits) {
            if (c < '0' || c > '9') return TapSource::automatic();
        }
        int index = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), index);
        return TapSource::pair(index);
    }
    return TapSource::automatic();
}

std::string Settings::sourceText(TapSource tapSource) {
    switch (tapSource.kind) {
        case TapSource::Kind::mixdown: return "mixdown";
        case TapSource::Kind::pair: return "pair:" + std::to_string(tapSource.pairIndex);
        case TapSource::Kind::automatic: break;
    }
    return "auto";
}

// ---- Live ----------------------------------------------------------------

bool Settings::fitAbleton() const { return store_.boolean("fillAbleton").value_or(true); }
void Settings::setFitAbleton(bool on) { store_.setBool("fillAbleton", on); }
bool Settings::followAbleton() const { return store_.boolean("followAbleton").value_or(true); }
void Settings::setFollowAbleton(bool on) { store_.setBool("followAbleton", on); }
bool Settings::quitWithAbleton() const { return store_.boolean("quitWithAbleton").value_or(false); }
void Settings::setQuitWithAbleton(bool on) { store_.setBool("quitWithAbleton", on); }

fs::path Settings::liveRoot() const { return liveRootSetting().value_or(homeFolder()); }

std::optional<fs::path> Settings::liveRootSetting() const {
    const auto stored = store_.string("liveRoot");
    if (stored && (*stored == "~" || stored->starts_with("~/"))) {
        return (homeFolder() / stored->substr(std::min<std::size_t>(2, stored->size()))).lexically_normal();
    }
    // A relative path would depend on the working folder: not a root.
    if (stored && !stored->empty() && (*stored)[0] == '/') return fs::path(*stored).lexically_normal();
    return std::nullopt;
}

void Settings::setLiveRoot(std::optional<fs::path> root) {
    if (root && !root->empty()) {
        store_.setString("liveRoot", root->string());
    } else {
        store_.remove("liveRoot");
    }
}

std::optional<std::string> Settings::liveThemeChoice() const { return store_.data("liveThemeChoice"); }
void Settings::setLiveThemeChoice(std::optional<std::string_view> json) {
    if (json) {
        store_.setData("liveThemeChoice", *json);
    } else {
        store_.remove("liveThemeChoice");
    }
}

// ---- general -------------------------------------------------------------

bool Settings::showHints() const { return store_.boolean("showHints").value_or(false); }
void Settings::setShowHints(bool on) { store_.setBool("showHints", on); }
bool Settings::showTimelineMarks() const { return store_.boolean("showTimelineMarks").value_or(true); }
void Settings::setShowTimelineMarks(bool on) { store_.setBool("showTimelineMarks", on); }
bool Settings::autoResetAfterSilence() const { return store_.boolean("autoResetAfterSilence").value_or(true); }
void Settings::setAutoResetAfterSilence(bool on) { store_.setBool("autoResetAfterSilence", on); }

// ---- targets -------------------------------------------------------------

std::optional<double> Settings::targetLUFS() const { return numberIn("targetLUFS", kMinTargetLUFS, kMaxTargetLUFS); }
void Settings::setTargetLUFS(std::optional<double> lufs) { setOptionalNumber("targetLUFS", lufs); }

std::optional<double> Settings::customTargetLUFS() const {
    return numberIn("customTargetLUFS", kMinTargetLUFS, kMaxTargetLUFS);
}
void Settings::setCustomTargetLUFS(std::optional<double> lufs) { setOptionalNumber("customTargetLUFS", lufs); }

std::optional<double> Settings::historyTargetLUFS() const {
    if (store_.boolean("historyTargetChosen") == true) {
        return numberIn("historyTargetLUFS", kMinTargetLUFS, kMaxTargetLUFS);
    }
    return targetLUFS();
}

void Settings::setHistoryTargetLUFS(std::optional<double> lufs) {
    store_.setBool("historyTargetChosen", true);
    setOptionalNumber("historyTargetLUFS", lufs);
}

// ---- history -------------------------------------------------------------

ShortList<HistorySource> Settings::historyShowsList() const {
    // One reference captured, so the std::function holds it in place.
    struct {
        std::array<bool, kHistorySources.size()> shown{};
    } found;
    if (!store_.eachString("historyShows", [&found](std::string_view raw) {
            for (std::size_t i = 0; i < kHistorySources.size(); ++i) {
                found.shown[i] = found.shown[i] || raw == rawValue(kHistorySources[i]);
            }
        })) {
        return ShortList<HistorySource>{{HistorySource::shortTerm, HistorySource::integrated}, 2};
    }
    ShortList<HistorySource> shown;
    for (std::size_t i = 0; i < kHistorySources.size(); ++i) {
        if (found.shown[i]) shown.push_back(kHistorySources[i]);
    }
    return shown;
}

std::vector<HistorySource> Settings::historyShows() const { return historyShowsList().vector(); }

void Settings::setHistoryShows(const std::vector<HistorySource>& sources) {
    std::vector<std::string> raw;
    raw.reserve(sources.size());
    for (HistorySource s : sources) raw.emplace_back(rawValue(s));
    store_.setStrings("historyShows", raw);
}

double Settings::historyMinutes() const { return positiveUpTo("historyMinutes", kMaxHistoryMinutes).value_or(1.0); }
void Settings::setHistoryMinutes(double minutes) { store_.setNumber("historyMinutes", minutes); }
bool Settings::historyPeakMarks() const { return store_.boolean("historyPeakMarks").value_or(true); }
void Settings::setHistoryPeakMarks(bool on) { store_.setBool("historyPeakMarks", on); }
bool Settings::historyDynamics() const { return store_.boolean("historyDynamics").value_or(false); }
void Settings::setHistoryDynamics(bool on) { store_.setBool("historyDynamics", on); }

// ---- scope ---------------------------------------------------------------

ScopeWindow Settings::scopeWindow() const {
    if (const auto raw = store_.string("scopeWindow")) {
        if (const auto window = fromRawValue<ScopeWindow>(*raw)) return *window;
    }
    // The older millisecond form: the nearest triggered window, the earlier
    // one on a tie.
    double ms = store_.number("scopeWindowMs").value_or(40.0);
    if (ms <= 0.0) ms = 40.0;
    constexpr std::array<std::pair<ScopeWindow, double>, 4> kTriggered{
        {{ScopeWindow::ms10, 10.0}, {ScopeWindow::ms40, 40.0}, {ScopeWindow::ms100, 100.0}, {ScopeWindow::ms250, 250.0}}};
    ScopeWindow best = kTriggered[0].first;
    double bestDistance = std::fabs(ms - kTriggered[0].second);
    for (const auto& [window, duration] : kTriggered) {
        const double distance = std::fabs(ms - duration);
        if (distance < bestDistance) {
            best = window;
            bestDistance = distance;
        }
    }
    return best;
}
void Settings::setScopeWindow(ScopeWindow window) { store_.setString("scopeWindow", rawValue(window)); }

ScopeMode Settings::scopeMode() const {
    return fromRawValue<ScopeMode>(store_.string("scopeMode").value_or("")).value_or(ScopeMode::mid);
}
void Settings::setScopeMode(ScopeMode mode) { store_.setString("scopeMode", rawValue(mode)); }

ColorMap Settings::scopeColorMap() const {
    return store_.string("scopeColorMap") == "frequency" ? ColorMap::frequency : ColorMap::module;
}
void Settings::setScopeColorMap(ColorMap map) { store_.setString("scopeColorMap", rawValue(map)); }

// ---- spectrum ------------------------------------------------------------

SpectrumChannel Settings::spectrumChannel() const {
    return fromRawValue<SpectrumChannel>(store_.string("spectrumChannel").value_or("")).value_or(SpectrumChannel::stereo);
}
void Settings::setSpectrumChannel(SpectrumChannel channel) { store_.setString("spectrumChannel", rawValue(channel)); }

double Settings::spectrumTilt() const { return numberIn("spectrumTilt", -kMaxTilt, kMaxTilt).value_or(0.0); }
void Settings::setSpectrumTilt(double dbPerOctave) { store_.setNumber("spectrumTilt", dbPerOctave); }

bool Settings::spectrumPeakHold() const {
    if (const auto on = store_.boolean("spectrumPeakHold")) return *on;
    return store_.boolean("spectrumFreeze").value_or(false);
}
void Settings::setSpectrumPeakHold(bool on) { store_.setBool("spectrumPeakHold", on); }

// ---- spectrogram ---------------------------------------------------------

SpectrumChannel Settings::spectrogramChannel() const {
    return fromRawValue<SpectrumChannel>(store_.string("spectrogramChannel").value_or(""))
        .value_or(SpectrumChannel::stereo);
}
void Settings::setSpectrogramChannel(SpectrumChannel channel) {
    store_.setString("spectrogramChannel", rawValue(channel));
}

ColorMap Settings::spectrogramColorMap() const {
    return store_.string("spectrogramColorMap") == "heat" ? ColorMap::heat : ColorMap::module;
}
void Settings::setSpectrogramColorMap(ColorMap map) { store_.setString("spectrogramColorMap", rawValue(map)); }

double Settings::spectrogramTilt() const {
    if (const auto tilt = numberIn("spectrogramTilt", -kMaxTilt, kMaxTilt)) return *tilt;
    return spectrumTilt();
}
void Settings::setSpectrogramTilt(double dbPerOctave) { store_.setNumber("spectrogramTilt", dbPerOctave); }

double Settings::spectrogramSeconds() const {
    return positiveUpTo("spectrogramSeconds", kMaxSpectrogramSeconds).value_or(60.0);
}
void Settings::setSpectrogramSeconds(double seconds) { store_.setNumber("spectrogramSeconds", seconds); }

SpectrogramRange Settings::spectrogramRange() const {
    return fromRawValue<SpectrogramRange>(store_.string("spectrogramRange").value_or(""))
        .value_or(SpectrogramRange::normal);
}
void Settings::setSpectrogramRange(SpectrogramRange range) { store_.setString("spectrogramRange", rawValue(range)); }

// ---- imager --------------------------------------------------------------

ImagerMode Settings::imagerMode() const {
    return store_.string("imagerMode") == "lissajous" ? ImagerMode::lissajous : ImagerMode::polarSample;
}
void Settings::setImagerMode(ImagerMode mode) { store_.setString("imagerMode", rawValue(mode)); }

// ---- per module ----------------------------------------------------------

bool Settings::freezeOnHover(ColorArea area) const {
    if (const auto on = store_.boolean(key("freezeOnHover.", rawValue(area)))) return *on;
    if (area == ColorArea::scope) return store_.boolean("scopeFreeze").value_or(false);
    return false;
}
void Settings::setFreezeOnHover(ColorArea area, bool on) { store_.setBool(key("freezeOnHover.", rawValue(area)), on); }

std::optional<Rgb> Settings::accentColor(ColorArea area) const { return colorAt(key("accentColor.", rawValue(area))); }

void Settings::setAccentColor(std::optional<Rgb> color, ColorArea area) {
    const Key k = key("accentColor.", rawValue(area));
    if (color) {
        store_.setNumbers(k, {(*color)[0], (*color)[1], (*color)[2]});
    } else {
        store_.remove(k);
    }
}

std::optional<Rgb> Settings::accentColor() const { return colorAt("accentColor"); }

// ---- layout --------------------------------------------------------------

std::optional<GraphKind> Settings::slotFromKey(std::string_view k) const {
    const auto raw = store_.string(k);
    return raw ? fromRawValue<GraphKind>(*raw) : std::nullopt;  // "off" names no kind
}

std::optional<GraphKind> Settings::window1() const {
    if (store_.string("window1")) return slotFromKey("window1");
    if (store_.boolean("showScope") == false) return std::nullopt;
    return store_.string("graphView") == "spectrum" ? GraphKind::spectrum : GraphKind::scope;
}

std::optional<GraphKind> Settings::window2() const {
    if (store_.string("window2")) return slotFromKey("window2");
    if (store_.boolean("showHistory") == false) return std::nullopt;
    return store_.string("historyView") == "spectrogram" ? GraphKind::spectrogram : GraphKind::history;
}

std::optional<GraphKind> Settings::window(int slot) const {
    if (slot == 1) return window1();
    if (slot == 2) return window2();
    if (!isGraphSlot(slot)) return std::nullopt;
    return slotFromKey(slotKey("window", slot));
}

bool Settings::showHistory() const {
    for (int slot = 2; slot <= kGraphSlots; ++slot) {
        if (window(slot)) return true;
    }
    return false;
}

double Settings::windowWeight(int slot) const {
    if (!isGraphSlot(slot)) return 1.0;
    return positiveUpTo(slotKey("windowWeight", slot), kMaxWindowWeight).value_or(1.0);
}

std::optional<int> Settings::meterIndex() const {
    const auto index = store_.integer("meterIndex");
    if (!index || *index < 0 || *index > static_cast<std::int64_t>(graphOrderList().size())) return std::nullopt;
    return static_cast<int>(*index);
}

ShortList<GraphKind> Settings::graphOrderList() const {
    ShortList<GraphKind> order;
    for (int slot = 1; slot <= kGraphSlots; ++slot) {
        const auto kind = window(slot);
        if (kind && !order.contains(*kind)) order.push_back(*kind);
    }
    return order;
}

ShortList<ColorArea> Settings::moduleOrderList() const {
    ShortList<ColorArea> order;
    for (GraphKind kind : graphOrderList()) order.push_back(colorArea(kind));
    if (showMeter()) {
        const std::size_t graphs = order.size();
        order.insert(std::min(static_cast<std::size_t>(meterIndex().value_or(static_cast<int>(graphs))), graphs),
                     ColorArea::meter);
    }
    return order;
}

std::vector<GraphKind> Settings::graphOrder() const { return graphOrderList().vector(); }
std::vector<ColorArea> Settings::moduleOrder() const { return moduleOrderList().vector(); }

void Settings::setModuleOrder(const std::vector<ColorArea>& order) {
    std::vector<GraphKind> graphs;
    for (ColorArea area : order) {
        if (const auto kind = graphKind(area)) graphs.push_back(*kind);
    }
    setGraphOrder(graphs);

    const auto meter = std::find(order.begin(), order.end(), ColorArea::meter);
    if (meter == order.end()) {
        store_.setBool("showMeter", false);
        return;
    }
    store_.setBool("showMeter", true);
    if (meter + 1 == order.end()) {
        store_.remove("meterIndex");
        return;
    }
    const auto graphsBefore = std::count_if(order.begin(), meter, [](ColorArea a) { return a != ColorArea::meter; });
    store_.setInteger("meterIndex", graphsBefore);
}

void Settings::setGraphOrder(const std::vector<GraphKind>& kinds) {
    // Read every slot before writing any: slots 1 and 2 may still come from
    // the older keys.
    std::map<GraphKind, double> weights;
    for (int slot = 1; slot <= kGraphSlots; ++slot) {
        const auto kind = window(slot);
        if (kind && store_.number(slotKey("windowWeight", slot)) && !weights.contains(*kind)) {
            weights[*kind] = windowWeight(slot);  // a stored 0 or less counts as 1
        }
    }
    for (int slot = 1; slot <= kGraphSlots; ++slot) {
        const auto index = static_cast<std::size_t>(slot - 1);
        const Key weightKey = slotKey("windowWeight", slot);
        if (index < kinds.size()) {
            store_.setString(slotKey("window", slot), rawValue(kinds[index]));
            if (const auto weight = weights.find(kinds[index]); weight != weights.end()) {
                store_.setNumber(weightKey, weight->second);
                continue;
            }
        } else {
            store_.setString(slotKey("window", slot), "off");
        }
        store_.remove(weightKey);
    }
}

void Settings::setShown(GraphKind kind, bool shown) {
    auto order = graphOrder();
    std::erase(order, kind);
    if (shown) order.push_back(kind);
    setGraphOrder(order);
}

bool Settings::showMeter() const { return store_.boolean("showMeter").value_or(true); }

bool Settings::showMeterPart(MeterPart part) const {
    return showMeter() && meterPartChosen(part);
}
bool Settings::meterPartChosen(MeterPart part) const {
    return store_.boolean(key("meterPart.", rawValue(part))).value_or(true);
}
void Settings::setShowMeterPart(MeterPart part, bool on) { store_.setBool(key("meterPart.", rawValue(part)), on); }

std::optional<double> Settings::moduleWidth(ColorArea area) const {
    return positiveUpTo(key("moduleWidth.", rawValue(area)), kMaxModuleWidth);
}
void Settings::setModuleWidth(ColorArea area, std::optional<double> width) {
    setOptionalNumber(key("moduleWidth.", rawValue(area)), width);
}

std::optional<double> Settings::graphSplit() const { return numberIn("graphSplit", 0.0, 1.0); }
void Settings::setGraphSplit(std::optional<double> share) { setOptionalNumber("graphSplit", share); }
std::optional<double> Settings::meterWidth() const { return positiveUpTo("meterWidth", kMaxModuleWidth); }
void Settings::setMeterWidth(std::optional<double> width) { setOptionalNumber("meterWidth", width); }
std::optional<double> Settings::meterSpread() const { return numberIn("meterSpread", 0.0, kMaxMeterSpread); }
void Settings::setMeterSpread(std::optional<double> spread) { setOptionalNumber("meterSpread", spread); }

// ---- launch --------------------------------------------------------------

std::optional<SettingsDate> Settings::firstLaunch() const { return store_.date("firstLaunch"); }

void Settings::recordFirstLaunch() {
    if (!firstLaunch()) store_.setDate("firstLaunch", clock_.date());
}

// ---- migrations ----------------------------------------------------------

void Settings::migrateToModules() {
    if (store_.boolean("modulesMigrated") == true) return;
    for (int slot = 1; slot <= kGraphSlots; ++slot) {
        const Key oldKey = slotKey("accentColor.window", slot);
        const auto kind = window(slot);
        const auto color = colorAt(oldKey);
        if (kind && color && !accentColor(colorArea(*kind))) setAccentColor(color, colorArea(*kind));
        store_.remove(oldKey);
    }
    setGraphOrder(graphOrder());
    store_.setBool("modulesMigrated", true);
}

void Settings::migrateAwayFromBarColour() {
    const auto color = accentColor();
    if (!color) return;
    for (ColorArea area : allCases<ColorArea>()) {
        if (!accentColor(area)) setAccentColor(color, area);
    }
    store_.remove("accentColor");
}

void Settings::resetLayout() {
    setModuleOrder({ColorArea::scope, ColorArea::history, ColorArea::meter});
    for (int slot = 1; slot <= kGraphSlots; ++slot) store_.remove(slotKey("windowWeight", slot));
    for (ColorArea area : allCases<ColorArea>()) store_.remove(key("moduleWidth.", rawValue(area)));
    store_.remove("graphSplit");
    store_.remove("meterWidth");
}

}  // namespace crestline
