#include "live/live_theme.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "live/live_places.h"
#include "live/live_set_reader.h"
#include "platform/accessibility.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace crestline::LiveTheme {
namespace {

namespace fs = std::filesystem;
using TimePoint = std::chrono::system_clock::time_point;

constexpr double kLightBrightness = 0.4;
constexpr double kSearchIntervalSeconds = 0.5;
constexpr double kFindTimeoutSeconds = 0.25;
constexpr int kMaxWalkDepth = 5;
// A saved Preferences.cfg newer than the choice by more than this means
// Live stored another theme since.
constexpr auto kChoiceGrace = std::chrono::seconds(2);
// Live's files are far smaller; these caps keep a stray file from costing
// memory or time.
constexpr std::uint64_t kMaxPreferencesBytes = 16ull << 20;
constexpr std::uint64_t kMaxThemeBytes = 4ull << 20;
// Seconds from 1970-01-01 to 2001-01-01, the epoch of stored dates.
constexpr double kReferenceEpochSeconds = 978307200.0;

const char* const kLabels[] = {"Theme", "Appearance", "Tone", "High Contrast", "Brightness", "Color Intensity",
                               "Color Hue"};

struct Cached {
    TimePoint stamp;
    std::optional<Choice> choice;
    bool systemDark = false;
    std::optional<Colours> colours;
};

struct State {
    std::mutex mutex;
    bool choiceLoaded = false;
    std::optional<Choice> choice;
    std::optional<Cached> cached;
    std::int64_t generation = 0;
    std::map<std::string, AXElementRef> controls;
    double lastSearch = -1e300;  // monotonic seconds; the distant past
    std::unique_ptr<AXObserver> observer;
    std::function<void()> onChange;
    std::function<bool()> systemIsDark;
    std::function<bool()> mouseButtonsPressed;
    std::function<void(std::function<void()>)> dispatch;
    const Clock* clock = nullptr;
};

State& state() {
    static State s;
    return s;
}

const Clock& clockOf(const State& s) { return s.clock != nullptr ? *s.clock : systemClock(); }

bool systemDark(const State& s) { return s.systemIsDark ? s.systemIsDark() : false; }

// Caller holds the mutex.
void loadChoiceLocked(State& s) {
    if (s.choiceLoaded) return;
    s.choiceLoaded = true;
    if (const auto stored = Settings::shared().liveThemeChoice()) s.choice = Choice::fromJson(*stored);
}

bool sameChoice(const std::optional<Choice>& a, const std::optional<Choice>& b) {
    if (!a || !b) return !a && !b;
    return a->sameAs(*b);
}

// Writes `c` as UTF-8 at `out`; returns the end.
char* appendUtf8(char* out, char32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

std::string utf16Text(std::string_view bytes, std::size_t from) {
    // A code unit becomes at most three bytes (a surrogate pair four for
    // two units): size once, write through a pointer, trim at the end.
    std::string text(3 * (bytes.size() / 2 + 1), '\0');
    char* out = text.data();
    auto unitAt = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    std::size_t i = from;
    while (i + 1 < bytes.size()) {
        const char16_t unit = unitAt(i);
        i += 2;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 < bytes.size()) {
                const char16_t next = unitAt(i);
                if (next >= 0xDC00 && next <= 0xDFFF) {
                    i += 2;
                    out = appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (next - 0xDC00));
                    continue;
                }
            }
            out = appendUtf8(out, 0xFFFD);
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            out = appendUtf8(out, 0xFFFD);
        } else {
            out = appendUtf8(out, unit);
        }
    }
    text.resize(static_cast<std::size_t>(out - text.data()));
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// `count` hex digits at `at` as a number, or -1.
long hexRun(std::string_view text, std::size_t at, std::size_t count) {
    if (at > text.size() || text.size() - at < count) return -1;
    long value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int digit = hexValue(text[at + i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

Colour rgb(long value, double alpha = 1.0) {
    return Colour{static_cast<double>((value >> 16) & 0xFF) / 255.0, static_cast<double>((value >> 8) & 0xFF) / 255.0,
                  static_cast<double>(value & 0xFF) / 255.0, alpha};
}

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Theme files of a folder, by name so the order does not depend on the disk.
void listThemes(const fs::path& folder, std::vector<fs::path>& out) {
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".ask") found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    out.insert(out.end(), found.begin(), found.end());
}

std::optional<std::string> readText(const fs::path& path) {
    const auto bytes = readFileBytes(path, kMaxThemeBytes);
    if (!bytes) return std::nullopt;
    return LiveSetReader::repairedUtf8(*bytes);
}

// Returns the observer so that the caller destroys it outside the lock:
// its handler takes the lock.
std::unique_ptr<AXObserver> dropControlsLocked(State& s) {
    s.controls.clear();
    return std::move(s.observer);
}

}  // namespace

std::string Colour::hex() const {
    auto byte = [](double v) {
        const double clamped = std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
        return static_cast<int>(std::lround(clamped * 255.0));
    };
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X", byte(red), byte(green), byte(blue));
    return buffer;
}

bool Choice::sameAs(const Choice& o) const {
    return theme == o.theme && appearance == o.appearance && tone == o.tone && highContrast == o.highContrast &&
           brightness == o.brightness && intensity == o.intensity && hue == o.hue;
}

std::string Choice::json() const {
    const double seconds =
        std::chrono::duration<double>(seen.time_since_epoch()).count() - kReferenceEpochSeconds;
    nlohmann::json object = {{"theme", theme},         {"appearance", appearance}, {"tone", tone},
                             {"highContrast", highContrast}, {"brightness", brightness}, {"intensity", intensity},
                             {"hue", hue},             {"seen", seconds}};
    return object.dump();
}

std::optional<Choice> Choice::fromJson(std::string_view text) {
    const auto object = nlohmann::json::parse(text, nullptr, false);
    if (!object.is_object()) return std::nullopt;
    auto string = [&](const char* key) -> const nlohmann::json* {
        const auto it = object.find(key);
        return it != object.end() && it->is_string() ? &*it : nullptr;
    };
    auto number = [&](const char* key) -> const nlohmann::json* {
        const auto it = object.find(key);
        return it != object.end() && it->is_number() && std::isfinite(it->get<double>()) ? &*it : nullptr;
    };
    const auto contrast = object.find("highContrast");
    const auto* theme = string("theme");
    const auto* appearance = string("appearance");
    const auto* tone = string("tone");
    const auto* brightness = number("brightness");
    const auto* intensity = number("intensity");
    const auto* hue = number("hue");
    const auto* seen = number("seen");
    if (!theme || !appearance || !tone || !brightness || !intensity || !hue || !seen || contrast == object.end() ||
        !contrast->is_boolean()) {
        return std::nullopt;
    }
    const double since = seen->get<double>() + kReferenceEpochSeconds;
    // Far outside the clock's range a date is not one we stored.
    if (std::fabs(since) > 1e12) return std::nullopt;
    Choice choice;
    choice.theme = theme->get<std::string>();
    choice.appearance = appearance->get<std::string>();
    choice.tone = tone->get<std::string>();
    choice.highContrast = contrast->get<bool>();
    choice.brightness = brightness->get<double>();
    choice.intensity = intensity->get<double>();
    choice.hue = hue->get<double>();
    choice.seen = TimePoint(std::chrono::duration_cast<TimePoint::duration>(std::chrono::duration<double>(since)));
    return choice;
}

std::optional<fs::path> newestPreferences() {
    const auto folder = LivePlaces::newestPreferencesFolder();
    if (!folder) return std::nullopt;
    return *folder / "Preferences.cfg";
}

std::optional<Colours> current() {
    const auto prefs = newestPreferences();
    if (!prefs) return std::nullopt;
    const auto stamp = fileStamp(*prefs);
    const TimePoint modified = stamp ? stamp->modified : TimePoint::min();
    State& s = state();
    std::optional<Choice> choiceNow;
    bool dark = false;
    {
        std::scoped_lock lock(s.mutex);
        loadChoiceLocked(s);
        dark = systemDark(s);
        if (s.cached && s.cached->stamp == modified && sameChoice(s.cached->choice, s.choice) &&
            s.cached->systemDark == dark) {
            return s.cached->colours;
        }
        choiceNow = s.choice;
    }
    auto colours = read(*prefs, modified);
    std::scoped_lock lock(s.mutex);
    s.cached = Cached{modified, choiceNow, dark, colours};
    ++s.generation;
    return colours;
}

std::int64_t generation() {
    std::scoped_lock lock(state().mutex);
    return state().generation;
}

std::string preferencesText(std::string_view bytes) {
    std::string text = utf16Text(bytes, 0);
    text.push_back('\0');
    text += utf16Text(bytes, 1);
    return text;
}

std::optional<Colours> read(const fs::path& preferences, TimePoint stamp) {
    const auto bytes = readFileBytes(preferences, kMaxPreferencesBytes);
    if (!bytes) return std::nullopt;
    const auto places = LivePlaces::find();
    if (!places.application.path) return std::nullopt;
    const std::string prefsText = preferencesText(*bytes);

    std::vector<fs::path> themes;
    if (places.themes.path) listThemes(*places.themes.path, themes);
    if (places.userLibrary.place.path) listThemes(*places.userLibrary.place.path / "Themes", themes);

    // Longer names first: "Dusk Blue" must win over "Dusk" when both occur.
    std::vector<std::string> candidates;
    for (const auto& theme : themes) {
        auto name = theme.stem().string();
        if (!name.starts_with("Default ")) candidates.push_back(std::move(name));
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.size() > b.size(); });
    std::string fileTheme = "Default";
    for (const auto& candidate : candidates) {
        if (!candidate.empty() && prefsText.find(candidate) != std::string::npos) {
            fileTheme = candidate;
            break;
        }
    }

    std::optional<Choice> remembered;
    bool dark = false;
    {
        State& s = state();
        std::scoped_lock lock(s.mutex);
        loadChoiceLocked(s);
        remembered = s.choice;
        dark = systemDark(s);
    }
    if (remembered && stamp > remembered->seen + kChoiceGrace && remembered->theme != fileTheme) {
        remembered.reset();
    }
    std::string name = remembered ? remembered->theme : fileTheme;
    if (name == "Default") {
        if (remembered && remembered->appearance == "Dark") dark = true;
        if (remembered && remembered->appearance == "Light") dark = false;
        std::string tone = "Neutral";
        if (remembered && (remembered->tone == "Cool" || remembered->tone == "Neutral" || remembered->tone == "Warm")) {
            tone = remembered->tone;
        }
        const std::string contrast = remembered && remembered->highContrast ? "High" : "Medium";
        name = "Default " + std::string(dark ? "Dark" : "Light") + " " + tone + " " + contrast;
    }

    const auto file = std::find_if(themes.begin(), themes.end(), [&](const auto& t) { return t.stem() == name; });
    if (file == themes.end()) return std::nullopt;
    const auto text = readText(*file);
    if (!text) return std::nullopt;
    const auto area = colour("SurfaceArea", *text);
    const auto surface = colour("SurfaceBackground", *text);
    const auto control = colour("ControlBackground", *text);
    if (!area || !surface || !control) return std::nullopt;
    const bool isLight = std::max({area->red, area->green, area->blue}) > kLightBrightness;
    return Colours{*area, *surface, *control, isLight, colours(*text)};
}

std::optional<Colour> colour(std::string_view name, std::string_view text) {
    std::string needle = "<";
    needle.append(name);
    needle += " Value=\"#";
    const std::size_t at = text.find(needle);
    if (at == std::string_view::npos) return std::nullopt;
    const long value = hexRun(text, at + needle.size(), 6);
    if (value < 0) return std::nullopt;
    return rgb(value);
}

// The entries `<Name Value="#RRGGBB">` with optional alpha digits, in order,
// the first of each name kept. A forward scan, linear in the text: each
// candidate starts at a "<" and is decided within a few characters past its
// name.
ColourMap colours(std::string_view text) {
    static constexpr std::string_view kValue = " Value=\"#";
    ColourMap map;
    std::size_t i = text.find('<');
    while (i != std::string_view::npos) {
        std::size_t end = i + 1;
        while (end < text.size() && isWordChar(text[end])) ++end;
        std::size_t next = i + 1;
        if (end > i + 1 && text.substr(end, kValue.size()) == kValue) {
            const std::size_t digits = end + kValue.size();
            const long value = hexRun(text, digits, 6);
            if (value >= 0) {
                std::optional<double> alpha;
                std::size_t close = digits + 6;
                if (const long a = hexRun(text, close, 2); a >= 0 && close + 2 < text.size() && text[close + 2] == '"') {
                    alpha = static_cast<double>(a) / 255.0;
                    close += 2;
                }
                if (close < text.size() && text[close] == '"') {
                    map.try_emplace(std::string(text.substr(i + 1, end - i - 1)), rgb(value, alpha.value_or(1.0)));
                    next = close + 1;
                }
            }
        }
        i = text.find('<', next);
    }
    return map;
}

ColourMap bundled(std::string_view name) {
    const auto folder = LivePlaces::themesFolder();
    if (!folder) return {};
    const auto text = readText(*folder / (std::string(name) + ".ask"));
    if (!text) return {};
    return colours(*text);
}

const ColourMap& lightReference() {
    static const ColourMap map = bundled("Classic Medium Light");
    return map;
}

const ColourMap& darkReference() {
    static const ColourMap map = bundled("Default Dark Neutral Medium");
    return map;
}

void find(int pid) {
    const AXElementRef app = accessibility().application(pid);
    if (!app) return;
    app->setMessagingTimeout(kFindTimeoutSeconds);
    const auto windows = axElements(*app, "AXWindows");
    if (!windows) return;
    AXElementRef settingsWindow;
    for (const auto& window : *windows) {
        if (window && axString(*window, "AXTitle") == "Settings") {
            settingsWindow = window;
            break;
        }
    }
    if (!settingsWindow) return;

    std::map<std::string, AXElementRef> found;
    std::function<void(const AXElementRef&, int)> walk = [&](const AXElementRef& element, int depth) {
        if (!element || depth > kMaxWalkDepth) return;
        if (const auto label = axString(*element, "AXDescription")) {
            if (std::find(std::begin(kLabels), std::end(kLabels), *label) != std::end(kLabels)) {
                found[*label] = element;
            }
        }
        if (const auto children = axElements(*element, "AXChildren")) {
            for (const auto& child : *children) walk(child, depth + 1);
        }
    };
    walk(settingsWindow, 0);
    if (!found.contains("Theme")) return;

    std::unique_ptr<AXObserver> observer = accessibility().createObserver(pid, [](const AXElementRef&, const std::string&) {
        State& s = state();
        std::function<void(std::function<void()>)> dispatch;
        {
            std::scoped_lock lock(s.mutex);
            dispatch = s.dispatch;
        }
        auto notify = [] {
            std::function<void()> callback;
            {
                std::scoped_lock lock(state().mutex);
                callback = state().onChange;
            }
            if (callback) callback();
        };
        if (dispatch) {
            dispatch(notify);
        } else {
            notify();
        }
    });
    if (observer) {
        for (const auto& [label, element] : found) observer->addNotification(element, "AXValueChanged");
    }
    State& s = state();
    std::scoped_lock lock(s.mutex);
    s.controls = std::move(found);
    std::swap(s.observer, observer);  // the replaced one goes after the lock
}

bool readSettings(int pid) {
    State& s = state();
    std::map<std::string, AXElementRef> controls;
    {
        std::scoped_lock lock(s.mutex);
        if (s.mouseButtonsPressed && s.mouseButtonsPressed()) return false;
        loadChoiceLocked(s);
        if (s.controls.empty()) {
            const double now = clockOf(s).now();
            if (now - s.lastSearch <= kSearchIntervalSeconds) return false;
            s.lastSearch = now;
        }
        controls = s.controls;
    }
    if (controls.empty()) {
        find(pid);
        std::scoped_lock lock(s.mutex);
        controls = s.controls;
        if (controls.empty()) return false;
    }

    std::map<std::string, std::string> values;
    for (const auto& [label, element] : controls) {
        AXValue value;
        std::optional<std::string> text;
        if (element && element->copyAttribute("AXValue", value) == AXError::success) text = axText(value);
        if (!text) {
            // The Settings window closed: watch nothing until it is found again.
            std::unique_ptr<AXObserver> gone;
            {
                std::scoped_lock lock(s.mutex);
                gone = dropControlsLocked(s);
            }
            return false;
        }
        values[label] = *text;
    }
    const auto theme = values.find("Theme");
    if (theme == values.end()) return false;
    auto text = [&](const char* key, const char* fallback) {
        const auto it = values.find(key);
        return it != values.end() ? it->second : std::string(fallback);
    };
    auto number = [&](const char* key, double fallback) {
        const auto it = values.find(key);
        if (it == values.end()) return fallback;
        return LiveSetReader::parseNumber(it->second).value_or(fallback);
    };
    Choice next;
    next.theme = theme->second;
    next.appearance = text("Appearance", "Follow System");
    next.tone = text("Tone", "Neutral");
    next.highContrast = text("High Contrast", "") == "On";
    next.brightness = number("Brightness", 100.0);
    next.intensity = number("Color Intensity", 0.0);
    next.hue = number("Color Hue", 0.0);

    std::scoped_lock lock(s.mutex);
    next.seen = clockOf(s).date();
    if (s.choice && s.choice->sameAs(next)) return false;
    s.choice = next;
    Settings::shared().setLiveThemeChoice(next.json());
    return true;
}

std::optional<Choice> choice() {
    std::scoped_lock lock(state().mutex);
    loadChoiceLocked(state());
    return state().choice;
}

std::vector<std::string> controlLabels() {
    std::scoped_lock lock(state().mutex);
    std::vector<std::string> labels;
    for (const auto& [label, element] : state().controls) labels.push_back(label);
    return labels;
}

void setOnChange(std::function<void()> callback) {
    std::scoped_lock lock(state().mutex);
    state().onChange = std::move(callback);
}

void setSystemIsDark(std::function<bool()> isDark) {
    std::scoped_lock lock(state().mutex);
    state().systemIsDark = std::move(isDark);
}

void setMouseButtonsPressed(std::function<bool()> pressed) {
    std::scoped_lock lock(state().mutex);
    state().mouseButtonsPressed = std::move(pressed);
}

void setMainThreadDispatcher(std::function<void(std::function<void()>)> dispatch) {
    std::scoped_lock lock(state().mutex);
    state().dispatch = std::move(dispatch);
}

void setClock(const Clock& clock) {
    std::scoped_lock lock(state().mutex);
    state().clock = &clock;
}

void resetForTesting() {
    std::unique_ptr<AXObserver> observer;
    {
        State& s = state();
        std::scoped_lock lock(s.mutex);
        observer = std::move(s.observer);
        s.choiceLoaded = false;
        s.choice.reset();
        s.cached.reset();
        s.generation = 0;
        s.controls.clear();
        s.lastSearch = -1e300;
        s.onChange = nullptr;
        s.systemIsDark = nullptr;
        s.mouseButtonsPressed = nullptr;
        s.dispatch = nullptr;
        s.clock = nullptr;
    }
    observer.reset();  // outside the lock: its handler takes it
}

}  // namespace crestline::LiveTheme
