// The application's menus as plain data, built fresh each time they open:
// the main menu (the floating window's menu bar), the tray menu with its
// attention items, a module's options and the menu that adds a module. The
// presenters (Qt menus in app/qt_menus.h, Live-styled ones in
// app/live_menu.h) only show the items and run their actions.
//
// Builders are pure: they read what they are given and the settings, so
// tests walk the items without showing anything. Main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "live/live_helper.h"
#include "settings/drawer.h"
#include "settings/module_options.h"

namespace crestline {

class Settings;

// Where an item's enabled state comes from when its menu opens.
enum class MenuRole { none, positionPinned, positionFloating, toggleFullScreen };

struct MenuItem {
    enum class Kind { action, separator, heading };

    Kind kind = Kind::action;
    std::string title{};
    bool enabled = true;
    bool checked = false;
    std::string detail{};  // explanation shown under or beside the title
    std::string badge{};   // "5 of 7"
    std::string shortcut{};  // portable key text, "Ctrl+,"
    std::optional<Rgb> swatch{};
    std::optional<ColorArea> icon{};  // a module's pictogram
    bool keepsMenuOpen = false;     // choosing it leaves the menu open
    MenuRole role = MenuRole::none;
    std::function<void()> action{};
    std::vector<MenuItem> submenu{};

    static MenuItem separator() { return MenuItem{.kind = Kind::separator}; }
    static MenuItem heading(std::string title) {
        return MenuItem{.kind = Kind::heading, .title = std::move(title), .enabled = false};
    }
    static MenuItem command(std::string title, std::function<void()> action, std::string shortcut = {}) {
        return MenuItem{.title = std::move(title), .shortcut = std::move(shortcut), .action = std::move(action)};
    }
    static MenuItem note(std::string title) { return MenuItem{.title = std::move(title), .enabled = false}; }
    bool hasSubmenu() const { return !submenu.empty(); }
};

using Menu = std::vector<MenuItem>;

// The rules of `validateMenuItem`: the pinned position only while Live runs;
// "Toggle Full Screen" only in the effective floating mode.
bool menuItemEnabled(MenuRole role, bool liveRunning, bool floating);

// A module's options from its rows: action rows as commands, other rows as
// submenus (with the "x of n" badge for rows of independent choices and the
// swatch of the selected colour for "Color"), grouped rows with their info
// as disabled headings; then a separator and "Delete", which runs `remove`.
// `colour` is the module's colour as the bar draws it.
Menu moduleMenu(const std::vector<DrawerControl>& rows, std::optional<Rgb> colour, std::function<void()> remove);

// One item per module not in the bar, in module order, each with its icon;
// `add` puts the module in the bar.
Menu addMenu(const Settings& settings, std::function<void(ColorArea)> add);
// Puts a module in the bar: a graph after the others, the meter by
// "showMeter".
void addModule(Settings& settings, ColorArea area);
// Takes a module out of the bar.
void removeModule(Settings& settings, ColorArea area);

// What the tray menu's attention items depend on, read when it opens.
struct StatusState {
    std::optional<std::string> updateVersion{};  // a newer version to offer
    bool liveRunning = false;
    bool standalone = false;
    bool hasTap = false;
    bool trusted = true;  // Live's windows can be read
    bool helperHeardRecently = false;  // a helper message less than 5 s ago
    double liveRunningSeconds = 0.0;
    std::optional<LiveHelper::Registration> registration{};  // this run's
};

struct StatusActions {
    std::function<void()> checkForUpdates;
    std::function<void()> openAccessibility;
    std::function<void()> restartLive;
    std::function<void()> explainLiveHelper;
    std::function<void()> openSettings;
    std::function<void()> quit;
};

Menu attentionItems(const StatusState& state, const StatusActions& actions);
// The attention items, a separator when there are any, "Settings…", a
// separator and "Quit Crestline".
Menu statusMenu(const StatusState& state, const StatusActions& actions);

struct MainMenuActions {
    std::function<void()> showAbout;
    std::function<void()> openSettings;
    std::function<void()> checkForUpdates;
    std::function<void()> hide;
    std::function<void()> quit;
    std::function<void()> resetMeter;
    std::function<void()> clearHistory;
    std::function<void()> toggleFullScreen;
    std::function<void()> resetSizes;
    std::function<void()> resetLayout;
    std::function<void(std::string anchor)> openSitePage;  // "#start", "#updates", "#feedback"
};

// "Crestline", "View", "Window" and "Help", each a submenu.
Menu mainMenu(const MainMenuActions& actions);

// The alert of "Finish Setting Up Markers…".
inline constexpr const char* kHelperExplanationTitle = "Show Your Markers Right Away";
inline constexpr const char* kHelperExplanation =
    "Crestline could not add its helper to Live by itself. In Live, open Settings, then Link, Tempo & MIDI, and "
    "choose Crestline in an empty Control Surface slot. Input and Output can stay on None.\n\n"
    "Until then, locators show up once you save your set.";

// "Reset Sizes": forgets the widths the user gave the modules.
void resetGraphSplit(Settings& settings);

}  // namespace crestline
