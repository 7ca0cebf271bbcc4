#include "app/menus.h"

#include <algorithm>

#include "settings/settings.h"

namespace crestline {

bool menuItemEnabled(MenuRole role, bool liveRunning, bool floating) {
    switch (role) {
    case MenuRole::positionPinned: return liveRunning;
    case MenuRole::toggleFullScreen: return floating;
    case MenuRole::positionFloating:
    case MenuRole::none: return true;
    }
    return true;
}

namespace {

MenuItem optionItem(const DrawerOption& option, bool showInfo, bool keepsOpen) {
    MenuItem item = MenuItem::command(option.title, option.action);
    item.checked = option.selected;
    item.swatch = option.swatch;
    if (showInfo) item.detail = option.info;
    item.keepsMenuOpen = keepsOpen;
    return item;
}

}  // namespace

Menu moduleMenu(const std::vector<DrawerControl>& rows, std::optional<Rgb> colour, std::function<void()> remove) {
    Menu menu;
    for (const DrawerControl& row : rows) {
        if (row.isAction && !row.options.empty()) {
            MenuItem item = MenuItem::command(row.options.front().title, row.options.front().action);
            item.detail = row.options.front().info;
            menu.push_back(std::move(item));
            continue;
        }
        MenuItem item{.title = row.label};
        item.detail = row.about.value_or("");
        if (row.several) {
            const auto chosen = std::count_if(row.options.begin(), row.options.end(),
                                              [](const DrawerOption& o) { return o.selected; });
            item.badge = std::to_string(chosen) + " of " + std::to_string(row.options.size());
        }
        if (row.label == "Color") item.swatch = colour;
        std::optional<std::string> group;
        for (const DrawerOption& option : row.options) {
            if (row.groupedByInfo && option.info != group) {
                group = option.info;
                item.submenu.push_back(MenuItem::heading(option.info));
            }
            item.submenu.push_back(optionItem(option, !row.groupedByInfo, row.several));
        }
        if (item.submenu.empty()) item.enabled = false;
        menu.push_back(std::move(item));
    }
    menu.push_back(MenuItem::separator());
    menu.push_back(MenuItem::command("Delete", std::move(remove), "Del"));
    return menu;
}

namespace {

bool inBar(const Settings& settings, ColorArea area) {
    if (area == ColorArea::meter) return settings.showMeter();
    const auto order = settings.graphOrder();
    return std::find(order.begin(), order.end(), *graphKind(area)) != order.end();
}

}  // namespace

Menu addMenu(const Settings& settings, std::function<void(ColorArea)> add) {
    Menu menu;
    for (ColorArea area : allCases<ColorArea>()) {
        if (inBar(settings, area)) continue;
        MenuItem item = MenuItem::command(std::string(title(area)), [add, area] {
            if (add) add(area);
        });
        item.icon = area;
        menu.push_back(std::move(item));
    }
    return menu;
}

void addModule(Settings& settings, ColorArea area) {
    if (const auto kind = graphKind(area)) {
        settings.setShown(*kind, true);
    } else {
        settings.setBool("showMeter", true);
    }
}

void removeModule(Settings& settings, ColorArea area) {
    if (const auto kind = graphKind(area)) {
        settings.setShown(*kind, false);
    } else {
        settings.setBool("showMeter", false);
    }
}

Menu attentionItems(const StatusState& state, const StatusActions& actions) {
    Menu items;
    if (state.updateVersion) items.push_back(MenuItem::command("Update to Crestline " + *state.updateVersion,
                                                               actions.checkForUpdates));
    if (!state.liveRunning && !state.standalone) {
        items.push_back(MenuItem::note("Ableton Live is not running"));
        return items;
    }
    if (!state.hasTap) items.push_back(MenuItem::note("Waiting for Live's audio…"));
    if (!state.trusted) items.push_back(MenuItem::command("Allow Accessibility Access…", actions.openAccessibility));
    if (!state.helperHeardRecently && state.liveRunning && state.liveRunningSeconds > 20.0) {
        using Kind = LiveHelper::Registration::Kind;
        const auto kind = state.registration ? std::optional<Kind>(state.registration->kind) : std::nullopt;
        if (!kind || *kind == Kind::added || *kind == Kind::present) {
            items.push_back(MenuItem::command("Restart Live to Show Markers…", actions.restartLive));
        } else {
            items.push_back(MenuItem::command("Finish Setting Up Markers…", actions.explainLiveHelper));
        }
    }
    return items;
}

Menu statusMenu(const StatusState& state, const StatusActions& actions) {
    Menu menu = attentionItems(state, actions);
    if (!menu.empty()) menu.push_back(MenuItem::separator());
    menu.push_back(MenuItem::command("Settings…", actions.openSettings, "Ctrl+,"));
    menu.push_back(MenuItem::separator());
    menu.push_back(MenuItem::command("Quit Crestline", actions.quit, "Ctrl+Q"));
    return menu;
}

Menu mainMenu(const MainMenuActions& actions) {
    const auto page = [&actions](std::string anchor) {
        return [open = actions.openSitePage, anchor = std::move(anchor)] {
            if (open) open(anchor);
        };
    };
    MenuItem app{.title = "Crestline"};
    app.submenu = {
        MenuItem::command("About Crestline", actions.showAbout),
        MenuItem::separator(),
        MenuItem::command("Settings…", actions.openSettings, "Ctrl+,"),
        MenuItem::command("Check for Updates…", actions.checkForUpdates),
        MenuItem::separator(),
        MenuItem::command("Hide Crestline", actions.hide, "Ctrl+H"),
        MenuItem::separator(),
        MenuItem::command("Quit Crestline", actions.quit, "Ctrl+Q"),
    };
    MenuItem view{.title = "View"};
    MenuItem fullScreen = MenuItem::command("Toggle Full Screen", actions.toggleFullScreen, "Ctrl+Meta+F");
    fullScreen.role = MenuRole::toggleFullScreen;
    view.submenu = {
        MenuItem::command("Reset Meter", actions.resetMeter, "Ctrl+R"),
        MenuItem::command("Clear History", actions.clearHistory),
        MenuItem::separator(),
        std::move(fullScreen),
    };
    MenuItem window{.title = "Window"};
    window.submenu = {
        MenuItem::command("Reset Sizes", actions.resetSizes),
        MenuItem::command("Reset Layout", actions.resetLayout),
    };
    MenuItem help{.title = "Help"};
    help.submenu = {
        MenuItem::command("Getting Started", page("#start")),
        MenuItem::command("What’s New", page("#updates")),
        MenuItem::command("Send Feedback…", page("#feedback")),
    };
    return {std::move(app), std::move(view), std::move(window), std::move(help)};
}

void resetGraphSplit(Settings& settings) {
    settings.remove("graphSplit");
    for (int slot = 1; slot <= Settings::kGraphSlots; ++slot) settings.remove("windowWeight" + std::to_string(slot));
    for (ColorArea area : allCases<ColorArea>()) settings.remove("moduleWidth." + std::string(rawValue(area)));
    settings.remove("meterWidth");
    settings.remove("meterSpread");
}

}  // namespace crestline
