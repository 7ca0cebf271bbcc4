// The catalogue of option rows every module offers: the rows the module's
// menu and the settings window show. Each option carries its own action,
// which writes the settings and then asks the application (a `DrawerHost`)
// for the redraw, relayout or engine call the change needs; the presenters
// only show the rows and call the actions.
//
// Lists are built anew on every call from the current settings, so
// `selected` always reflects the store. Actions hold the host weakly and do
// nothing, not even the settings write, once it is gone. Build and call on
// the main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/module_options.h"
#include "settings/settings.h"

namespace crestline {

// One choice of a row.
struct DrawerOption {
    std::string title{};
    bool selected = false;
    std::string info{};          // may be empty
    std::optional<Rgb> swatch{}; // a colour to show beside the title
    std::function<void()> action{};
};

// One row of options.
struct DrawerControl {
    std::string label{};
    std::vector<DrawerOption> options{};
    std::optional<std::string> about{};  // explains the row as a whole
    bool several = false;        // independent check marks rather than one choice
    bool groupedByInfo = false;  // consecutive options with the same info form a group under it
    bool isAction = false;       // a single command, not a setting
};

// What the catalogue's actions need from the application. Called on the main
// thread, after the settings are written.
class DrawerHost {
public:
    virtual ~DrawerHost() = default;

    virtual void redraw() = 0;
    virtual void relayout() = 0;
    // Rebuild the bar's theme from the settings and refresh its palette.
    virtual void refreshPalette() = 0;
    virtual void clearScopeOverview() = 0;
    virtual void clearMeterHistory() = 0;
    // Restart the spectrogram from now (its display rebuilds the image).
    virtual void clearSpectrogram() = 0;
    // Reset integrated loudness, LRA, PSR and the peaks.
    virtual void resetMeasurement() = 0;
    // Hand the new channel to the spectrogram recorder.
    virtual void spectrogramChannelChanged(SpectrumChannel channel) = 0;
    // Hand the new choice to the loudness meter.
    virtual void autoResetChanged(bool on) = 0;
    // Open the colour wheel for `area`; each move stores that module's colour.
    virtual void openColorWheel(ColorArea area) = 0;
    // Ask for a custom loudness target prefilled with `current`; a valid
    // answer goes to `set`.
    virtual void askCustomTarget(std::optional<double> current, std::function<void(std::optional<double>)> set) = 0;
};

struct NamedColor {
    std::string_view name;
    Rgb color;  // components 0...1
};

// The catalogue over one settings store and one host. A cheap value: build
// one where the rows are needed.
class DrawerCatalogue {
public:
    DrawerCatalogue(Settings& settings, std::weak_ptr<DrawerHost> host);

    // The rows of a module, in menu order.
    std::vector<DrawerControl> drawerControls(ColorArea area) const;

    // The shared rows.
    DrawerControl scopeWindowControl() const;
    DrawerControl targetControl(std::optional<double> current, std::string about,
                                std::function<void(std::optional<double>)> set) const;
    DrawerControl toggle(std::string label, bool value, std::string info, std::function<void(bool)> set) const;
    // The options of a module's "Color" row.
    std::vector<DrawerOption> colourOptions(ColorArea area) const;

    // The named colours, the default first. Built once.
    static const std::vector<NamedColor>& colorChoices();

private:
    std::vector<DrawerControl> scopeRows() const;
    std::vector<DrawerControl> spectrumRows() const;
    std::vector<DrawerControl> imagerRows() const;
    std::vector<DrawerControl> historyRows() const;
    std::vector<DrawerControl> spectrogramRows() const;
    std::vector<DrawerControl> meterRows() const;

    // One choice among enumeration cases, titled by the case, selected when
    // it is `current`.
    template <class E>
    DrawerControl choiceRow(std::string label, E current, const std::vector<std::pair<E, std::string_view>>& choices,
                            std::function<void(E, DrawerHost&)> choose) const;
    DrawerControl channelRow(SpectrumChannel current, std::string_view sideInfo,
                             std::function<void(SpectrumChannel, DrawerHost&)> choose) const;
    struct NumberChoice {
        double value;
        std::string_view title;
        std::string_view info;
    };
    DrawerControl numberRow(std::string label, std::optional<std::string> about,
                            const std::vector<NumberChoice>& choices, const std::function<bool(double)>& isSelected,
                            std::function<void(double)> set) const;
    DrawerControl tiltRow(double current, std::function<void(double)> set) const;
    DrawerControl freezeRow(ColorArea area) const;
    DrawerControl colourRow(ColorArea area) const;
    DrawerControl actionRow(std::string label, std::string info, std::function<void(DrawerHost&)> command) const;

    // An action that runs `body` with the host while it lives, then redraws.
    std::function<void()> act(std::function<void(DrawerHost&)> body) const;

    Settings* settings_;
    std::weak_ptr<DrawerHost> host_;
};

}  // namespace crestline
