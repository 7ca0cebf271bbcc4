// Which colour theme Live shows, and that theme's colours, so the bar can
// take Live's look. Three sources: the newest Preferences.cfg (the theme's
// name as UTF-16 text; its date tells when Live saved), Live's theme files
// (.ask) in the application and the User Library, and Live's own Settings
// window read through the accessibility layer while it is open, which shows
// a new choice before Live saves it. The last choice seen is remembered in
// the setting "liveThemeChoice".
//
// Process-wide state, used from the main thread. `current()` costs one stat
// while nothing changed; the expensive path (decoding Preferences.cfg,
// listing theme folders, scanning a theme file) runs only when the cache key
// (file date, choice, system appearance) changes, and bumps `generation()`.
// Observer callbacks come from the accessibility layer's thread and are
// handed to the main-thread dispatcher that the application installs.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace crestline::LiveTheme {

// An sRGB colour, components 0...1.
struct Colour {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;
    bool operator==(const Colour&) const = default;
    // "#RRGGBB", alpha left out.
    std::string hex() const;
};

using ColourMap = std::map<std::string, Colour, std::less<>>;

struct Colours {
    Colour area;     // "SurfaceArea"
    Colour surface;  // "SurfaceBackground"
    Colour control;  // "ControlBackground"
    bool isLight = false;
    ColourMap all;   // every entry of the theme file; first occurrence wins
    bool operator==(const Colours&) const = default;
};

// What the user picked in Live's Settings window.
struct Choice {
    std::string theme;       // "Default" or a theme's name
    std::string appearance;  // "Dark", "Light", "Follow System"
    std::string tone;        // "Cool", "Neutral", "Warm"
    bool highContrast = false;
    double brightness = 100.0;
    double intensity = 0.0;
    double hue = 0.0;
    std::chrono::system_clock::time_point seen;  // when last read from Live

    // Equal in every field but `seen`.
    bool sameAs(const Choice& other) const;
    // The stored form: a JSON object of the field names, `seen` as seconds
    // since 2001-01-01 UTC.
    std::string json() const;
    // Every key required with its type; anything else is no choice.
    static std::optional<Choice> fromJson(std::string_view text);
};

std::optional<Colours> current();
// Increases by one each time the colours are read anew.
std::int64_t generation();
// Reads Live's Settings window, if open; true when it stored a new choice.
bool readSettings(int pid);
// The colours of one of Live's built-in themes; empty when not found.
ColourMap bundled(std::string_view name);
// "Classic Medium Light" and "Default Dark Neutral Medium", loaded once.
const ColourMap& lightReference();
const ColourMap& darkReference();

// ---- Supplied by the application (defaults in brackets) -----------------
// Called on the main thread when a watched Settings control changed [none].
void setOnChange(std::function<void()> callback);
// Whether the system appearance is dark [false].
void setSystemIsDark(std::function<bool()> isDark);
// Whether a mouse button is held [false].
void setMouseButtonsPressed(std::function<bool()> pressed);
// Runs a task on the main thread [runs it at once, on the calling thread].
void setMainThreadDispatcher(std::function<void(std::function<void()>)> dispatch);
// Time source for `seen` and the search rate limit [the system clock].
void setClock(const Clock& clock);

// ---- Internal steps, open for tests and tools --------------------------
std::optional<std::filesystem::path> newestPreferences();
std::optional<Colours> read(const std::filesystem::path& preferences, std::chrono::system_clock::time_point stamp);
std::optional<Colour> colour(std::string_view name, std::string_view text);
ColourMap colours(std::string_view text);
void find(int pid);
// Both byte alignments of UTF-16LE as UTF-8, joined by one NUL.
std::string preferencesText(std::string_view bytes);
std::optional<Choice> choice();
// Settings-window controls currently known (label → element), by label.
std::vector<std::string> controlLabels();
// Forgets all process-wide state and restores the defaults above.
void resetForTesting();

}  // namespace crestline::LiveTheme
