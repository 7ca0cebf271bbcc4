// The application's answers to the bar's gestures: the resets a click on a
// readout asks for, modules hidden, added and moved, the module and add
// menus (plain Qt menus of the option rows), and the host the option rows'
// actions call for redraws, relayouts and the engine's resets.
//
// `install` connects the view's callbacks, each holding the commands
// weakly; `uninstall` takes them back before the view or the engine go.
// Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "bar/bar_menu.h"
#include "bar/meter_readouts.h"
#include "settings/drawer.h"
#include "settings/module_options.h"

class QWidget;

namespace crestline {

class AudioEngine;
class BarView;
class Settings;

class BarCommands final : public DrawerHost, public std::enable_shared_from_this<BarCommands> {
public:
    struct Hooks {
        std::function<void()> relayout;  // the window's frame and the bar, anew
        std::function<void()> redraw;
        std::function<void(std::optional<ColorArea>)> selectionChanged;
        std::function<void()> clearTransportSamples;  // with the loudness history
    };

    static std::shared_ptr<BarCommands> install(Settings& settings, BarView& view, AudioEngine& engine, Hooks hooks);
    BarCommands(Settings& settings, BarView& view, AudioEngine& engine, Hooks hooks);
    ~BarCommands() override;
    void uninstall();

    void reset(ResetTarget target);
    void hide(ColorArea area);
    void add(ColorArea area);
    // Puts `area` at `index` among the other modules of the order.
    void move(ColorArea area, int index);
    std::unique_ptr<BarMenu> moduleMenu(ColorArea area);
    std::unique_ptr<BarMenu> addMenu();

    // ---- DrawerHost ---------------------------------------------------------
    void redraw() override;
    void relayout() override;
    void refreshPalette() override;
    void clearScopeOverview() override;
    void clearMeterHistory() override;
    void clearSpectrogram() override;
    void resetMeasurement() override;
    void spectrogramChannelChanged(SpectrumChannel channel) override;
    void autoResetChanged(bool on) override;
    void openColorWheel(ColorArea area) override;
    void askCustomTarget(std::optional<double> current, std::function<void(std::optional<double>)> set) override;

private:
    Settings& settings_;
    BarView& view_;
    AudioEngine& engine_;
    Hooks hooks_;
    bool installed_ = false;
};

}  // namespace crestline
