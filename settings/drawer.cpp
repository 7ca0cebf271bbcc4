#include "settings/drawer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

namespace crestline {

namespace {

constexpr std::string_view kMinus = "\u2212";
constexpr std::array<double, 4> kPresetTargets{-14.0, -10.0, -8.0, -6.0};  // LUFS
// A stored colour names a swatch when every component is within half a step
// of the 8-bit value.
constexpr double kColourTolerance = 0.5 / 255.0;

constexpr std::string_view kFreezeInfo =
    "Hold the pointer on the module to pause it at once; move away and it runs again.";

bool sameColour(const Rgb& a, const Rgb& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!(std::fabs(a[i] - b[i]) < kColourTolerance)) return false;
    }
    return true;
}

std::string customTargetTitle(double target) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", std::fabs(target));
    return "Custom: " + std::string(kMinus) + number + " LUFS";
}

}  // namespace

DrawerCatalogue::DrawerCatalogue(Settings& settings, std::weak_ptr<DrawerHost> host)
    : settings_(&settings), host_(std::move(host)) {}

std::function<void()> DrawerCatalogue::act(std::function<void(DrawerHost&)> body) const {
    return [host = host_, body = std::move(body)] {
        const auto alive = host.lock();
        if (!alive) return;
        body(*alive);
        alive->redraw();
    };
}

std::vector<DrawerControl> DrawerCatalogue::drawerControls(ColorArea area) const {
    switch (area) {
        case ColorArea::scope: return scopeRows();
        case ColorArea::spectrum: return spectrumRows();
        case ColorArea::imager: return imagerRows();
        case ColorArea::history: return historyRows();
        case ColorArea::spectrogram: return spectrogramRows();
        case ColorArea::meter: return meterRows();
    }
    return {};
}

// ---- shared rows -----------------------------------------------------------

DrawerControl DrawerCatalogue::scopeWindowControl() const {
    DrawerControl row{.label = "Window", .groupedByInfo = true};
    const ScopeWindow current = settings_->scopeWindow();
    for (ScopeWindow window : allCases<ScopeWindow>()) {
        row.options.push_back({
            .title = std::string(title(window)),
            .selected = window == current,
            .info = isSyncedToLive(window) ? "Synced to Live" : "Time",
            .action = act([s = settings_, window](DrawerHost&) { s->setScopeWindow(window); }),
        });
    }
    return row;
}

DrawerControl DrawerCatalogue::targetControl(std::optional<double> current, std::string about,
                                             std::function<void(std::optional<double>)> set) const {
    DrawerControl row{.label = "LUFS Target", .about = std::move(about)};
    row.options.push_back({
        .title = "None",
        .selected = !current.has_value(),
        .action = act([set](DrawerHost&) { set(std::nullopt); }),
    });
    bool isPreset = false;
    for (double preset : kPresetTargets) {
        const bool chosen = current == preset;
        isPreset = isPreset || chosen;
        char title[32];
        std::snprintf(title, sizeof title, "%.0f LUFS", std::fabs(preset));
        row.options.push_back({
            .title = std::string(kMinus) + title,
            .selected = chosen,
            .action = act([set, preset](DrawerHost&) { set(preset); }),
        });
    }
    const bool custom = current.has_value() && !isPreset;
    // The dialog answers later; its value is stored only while the host lives.
    auto store = [host = host_, set](std::optional<double> target) {
        const auto alive = host.lock();
        if (!alive) return;
        set(target);
        alive->redraw();
    };
    row.options.push_back({
        .title = custom ? customTargetTitle(*current) : "Custom\u2026",
        .selected = custom,
        .info = "Type any target, for example 11.5. The minus sign can be left out.",
        .action = act([current, store](DrawerHost& host) { host.askCustomTarget(current, store); }),
    });
    return row;
}

DrawerControl DrawerCatalogue::toggle(std::string label, bool value, std::string info,
                                      std::function<void(bool)> set) const {
    DrawerControl row{.label = std::move(label)};
    row.options.push_back({.title = "On", .selected = value, .info = info, .action = act([set](DrawerHost&) { set(true); })});
    row.options.push_back({.title = "Off", .selected = !value, .info = info, .action = act([set](DrawerHost&) { set(false); })});
    return row;
}

const std::vector<NamedColor>& DrawerCatalogue::colorChoices() {
    static const std::vector<NamedColor> choices = [] {
        constexpr std::array<std::pair<std::string_view, std::array<int, 3>>, 9> named{{
            {"Salmon", {246, 182, 142}},
            {"Amber", {247, 200, 115}},
            {"Lemon", {237, 235, 126}},
            {"Lime", {191, 227, 132}},
            {"Mint", {143, 224, 184}},
            {"Sky", {143, 208, 240}},
            {"Periwinkle", {169, 180, 245}},
            {"Lavender", {210, 168, 240}},
            {"Rose", {242, 163, 196}},
        }};
        std::vector<NamedColor> out;
        for (const auto& [name, rgb] : named) {
            out.push_back({name, Rgb{rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0}});
        }
        return out;
    }();
    return choices;
}

std::vector<DrawerOption> DrawerCatalogue::colourOptions(ColorArea area) const {
    const auto stored = settings_->accentColor(area);
    const auto& choices = colorChoices();
    std::vector<DrawerOption> options;
    bool named = false;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        const NamedColor& choice = choices[i];
        const bool isDefault = i == 0;
        const bool matches = stored && sameColour(*stored, choice.color);
        named = named || matches;
        options.push_back({
            .title = std::string(choice.name),
            .selected = matches || (isDefault && !stored),
            .info = std::string(choice.name) + (isDefault ? ", Live's clip colour and the default." : "."),
            .swatch = choice.color,
            .action = act([s = settings_, area, isDefault, colour = choice.color](DrawerHost& host) {
                s->setAccentColor(isDefault ? std::nullopt : std::optional<Rgb>(colour), area);
                host.refreshPalette();
            }),
        });
    }
    options.push_back({
        .title = "Custom\u2026",
        .selected = stored.has_value() && !named,
        .info = "Any colour, from the colour wheel. The bar changes along as you turn it.",
        .action = act([area](DrawerHost& host) { host.openColorWheel(area); }),
    });
    return options;
}

// ---- row helpers -----------------------------------------------------------

template <class E>
DrawerControl DrawerCatalogue::choiceRow(std::string label, E current,
                                         const std::vector<std::pair<E, std::string_view>>& choices,
                                         std::function<void(E, DrawerHost&)> choose) const {
    DrawerControl row{.label = std::move(label)};
    for (const auto& [value, info] : choices) {
        row.options.push_back({
            .title = std::string(title(value)),
            .selected = value == current,
            .info = std::string(info),
            .action = act([choose, value = value](DrawerHost& host) { choose(value, host); }),
        });
    }
    return row;
}

DrawerControl DrawerCatalogue::channelRow(SpectrumChannel current, std::string_view sideInfo,
                                          std::function<void(SpectrumChannel, DrawerHost&)> choose) const {
    return choiceRow<SpectrumChannel>("Channel", current,
                                      {{SpectrumChannel::stereo, "Left and right together: everything in the mix."},
                                       {SpectrumChannel::left, "Only the left channel."},
                                       {SpectrumChannel::right, "Only the right channel."},
                                       {SpectrumChannel::mid, "Left plus right: the mix as it sounds in mono."},
                                       {SpectrumChannel::side, sideInfo}},
                                      std::move(choose));
}

DrawerControl DrawerCatalogue::numberRow(std::string label, std::optional<std::string> about,
                                         const std::vector<NumberChoice>& choices,
                                         const std::function<bool(double)>& isSelected,
                                         std::function<void(double)> set) const {
    DrawerControl row{.label = std::move(label), .about = std::move(about)};
    for (const NumberChoice& choice : choices) {
        row.options.push_back({
            .title = std::string(choice.title),
            .selected = isSelected(choice.value),
            .info = std::string(choice.info),
            .action = act([set, value = choice.value](DrawerHost&) { set(value); }),
        });
    }
    return row;
}

DrawerControl DrawerCatalogue::tiltRow(double current, std::function<void(double)> set) const {
    return numberRow(
        "Tilt", std::nullopt,
        {{0.0, "Off", "The raw measurement. Best for comparing with Live's own analyser."},
         {3.0, "3 dB per Octave",
          "Pink noise lies flat: equal energy per octave, the classic reference for tonal balance."},
         {4.5, "4.5 dB per Octave", "A finished modern mix lies about flat."}},
        [current](double tilt) { return tilt == current; },  // exact: a nudged value selects none
        std::move(set));
}

DrawerControl DrawerCatalogue::freezeRow(ColorArea area) const {
    return toggle("Freeze on Hover", settings_->freezeOnHover(area), std::string(kFreezeInfo),
                  [s = settings_, area](bool on) { s->setFreezeOnHover(area, on); });
}

DrawerControl DrawerCatalogue::colourRow(ColorArea area) const {
    return DrawerControl{.label = "Color", .options = colourOptions(area)};
}

DrawerControl DrawerCatalogue::actionRow(std::string label, std::string info,
                                         std::function<void(DrawerHost&)> command) const {
    DrawerControl row{.label = label, .isAction = true};
    row.options.push_back({.title = std::move(label), .info = std::move(info), .action = act(std::move(command))});
    return row;
}

// ---- modules ---------------------------------------------------------------

std::vector<DrawerControl> DrawerCatalogue::scopeRows() const {
    Settings* s = settings_;
    std::vector<DrawerControl> rows;
    rows.push_back(scopeWindowControl());

    rows.push_back(choiceRow<ScopeMode>("Channel", s->scopeMode(),
                                        {{ScopeMode::mid, "Left plus right: the mix as it sounds in mono."},
                                         {ScopeMode::stereo, "Left and right over each other, each in its own colour."},
                                         {ScopeMode::left, "Only the left channel."},
                                         {ScopeMode::right, "Only the right channel."},
                                         {ScopeMode::side, "Left minus right: what is wide."}},
                                        [s](ScopeMode mode, DrawerHost&) { s->setScopeMode(mode); }));
    rows.push_back(choiceRow<ColorMap>(
        "Color Map", s->scopeColorMap(),
        {{ColorMap::module, "In the module's own colour."},
         {ColorMap::frequency,
          "Red for lows, green for mids, blue for highs: you see where the kick and bass are. From 1 second and 1 beat "
          "up."}},
        [s](ColorMap map, DrawerHost&) { s->setScopeColorMap(map); }));
    rows.push_back(actionRow("Clear History", "Empties the waveform kept for the longer windows, in seconds and in bars.",
                             [](DrawerHost& host) { host.clearScopeOverview(); }));
    rows.push_back(freezeRow(ColorArea::scope));
    rows.push_back(colourRow(ColorArea::scope));
    return rows;
}

std::vector<DrawerControl> DrawerCatalogue::spectrumRows() const {
    Settings* s = settings_;
    std::vector<DrawerControl> rows;
    rows.push_back(channelRow(s->spectrumChannel(), "Left minus right: what is wide, and what disappears in mono.",
                              [s](SpectrumChannel channel, DrawerHost&) { s->setSpectrumChannel(channel); }));
    rows.push_back(tiltRow(s->spectrumTilt(), [s](double tilt) { s->setSpectrumTilt(tilt); }));

    // Freeze and peak hold exclude each other; with both stored on, freezing wins.
    const bool freeze = s->freezeOnHover(ColorArea::spectrum);
    const bool hold = s->spectrumPeakHold() && !freeze;
    auto hover = [s](bool freezeOn, bool holdOn) {
        return [s, freezeOn, holdOn](DrawerHost&) {
            s->setFreezeOnHover(ColorArea::spectrum, freezeOn);
            s->setSpectrumPeakHold(holdOn);
        };
    };
    DrawerControl onHover{.label = "On Hover"};
    onHover.options.push_back({
        .title = "Nothing",
        .selected = !freeze && !hold,
        .info = "The spectrum keeps running; the pointer reads out the frequency under it.",
        .action = act(hover(false, false)),
    });
    onHover.options.push_back({
        .title = "Freeze",
        .selected = freeze,
        .info = "The spectrum stands still while the pointer is on it.",
        .action = act(hover(true, false)),
    });
    onHover.options.push_back({
        .title = "Peak Hold",
        .selected = hold,
        .info = "It keeps the highest level each frequency reaches while the pointer is on it, and names the main "
                "peaks.",
        .action = act(hover(false, true)),
    });
    rows.push_back(std::move(onHover));
    rows.push_back(colourRow(ColorArea::spectrum));
    return rows;
}

std::vector<DrawerControl> DrawerCatalogue::imagerRows() const {
    Settings* s = settings_;
    std::vector<DrawerControl> rows;
    rows.push_back(choiceRow<ImagerMode>(
        "View", s->imagerMode(),
        {{ImagerMode::polarSample, "Every sample as a dot in a half circle: mono stands in the middle, wide fans out."},
         {ImagerMode::lissajous, "The classic diamond: left on one diagonal, right on the other."}},
        [s](ImagerMode mode, DrawerHost&) { s->setImagerMode(mode); }));
    rows.push_back(freezeRow(ColorArea::imager));
    rows.push_back(colourRow(ColorArea::imager));
    return rows;
}

std::vector<DrawerControl> DrawerCatalogue::historyRows() const {
    Settings* s = settings_;
    std::vector<DrawerControl> rows;

    const auto shown = s->historyShows();
    DrawerControl shows{.label = "Shows", .several = true};
    const std::array<std::pair<HistorySource, std::string_view>, 3> sources{{
        {HistorySource::shortTerm, "The last 3 seconds, as the filled shape: how loud each part of the song is."},
        {HistorySource::integrated, "As a line over it: how the average of the whole song builds up."},
        {HistorySource::momentary, "The last 400 ms, as a faint line: every hit and drop."},
    }};
    for (const auto& [source, info] : sources) {
        shows.options.push_back({
            .title = std::string(title(source)),
            .selected = std::find(shown.begin(), shown.end(), source) != shown.end(),
            .info = std::string(info),
            .action = act([s, source = source](DrawerHost&) {
                auto list = s->historyShows();
                if (std::erase(list, source) == 0) list.push_back(source);
                s->setHistoryShows(list);
            }),
        });
    }
    rows.push_back(std::move(shows));

    const double minutes = s->historyMinutes();
    rows.push_back(numberRow(
        "Span", "How much of the song it shows. At 3 or 5 minutes a whole song fits, with your locators.",
        {{0.5, "30 Seconds", ""}, {1.0, "1 Minute", ""}, {3.0, "3 Minutes", ""}, {5.0, "5 Minutes", ""},
         {10.0, "10 Minutes", ""}},
        [minutes](double value) { return std::fabs(minutes - value) < 0.01; },
        [s](double value) { s->setHistoryMinutes(value); }));

    rows.push_back(targetControl(s->historyTargetLUFS(),
                                 "The integrated loudness to aim for, drawn as a line with Integrated.",
                                 [s](std::optional<double> target) { s->setHistoryTargetLUFS(target); }));
    rows.push_back(toggle("True Peak Marks", s->historyPeakMarks(),
                          "A short red mark along the top where the true peak went over \u22121 dBTP.",
                          [s](bool on) { s->setHistoryPeakMarks(on); }));
    rows.push_back(toggle("Dynamics Strip", s->historyDynamics(),
                          "A thin strip along the foot that turns red where the mix is squashed: PSR under 5.",
                          [s](bool on) { s->setHistoryDynamics(on); }));
    rows.push_back(actionRow("Clear History", "Empties the graph. The measurements themselves go on.",
                             [](DrawerHost& host) { host.clearMeterHistory(); }));
    rows.push_back(freezeRow(ColorArea::history));
    rows.push_back(colourRow(ColorArea::history));
    return rows;
}

std::vector<DrawerControl> DrawerCatalogue::spectrogramRows() const {
    Settings* s = settings_;
    std::vector<DrawerControl> rows;

    const double seconds = s->spectrogramSeconds();
    rows.push_back(numberRow(
        "Span", "How much time it shows. Shorter is zoomed in: more detail per second.",
        {{10.0, "10 Seconds", ""}, {30.0, "30 Seconds", ""}, {60.0, "1 Minute", ""}, {120.0, "2 Minutes", ""},
         {300.0, "5 Minutes", ""}},
        [seconds](double value) { return std::fabs(seconds - value) < 0.5; },
        [s](double value) { s->setSpectrogramSeconds(value); }));

    rows.push_back(choiceRow<SpectrogramRange>(
        "Range", s->spectrogramRange(),
        {{SpectrogramRange::wide, "From \u2212120 dB: the noise floor and the tails of reverb show."},
         {SpectrogramRange::normal, "From \u221290 dB: the whole mix, as the spectrum shows it."},
         {SpectrogramRange::tight, "From \u221260 dB: only what is loud, so the body of the mix stands out."}},
        [s](SpectrogramRange range, DrawerHost&) { s->setSpectrogramRange(range); }));

    rows.push_back(channelRow(s->spectrogramChannel(),
                              "Left minus right: where the mix goes wide, and what disappears in mono.",
                              [s](SpectrumChannel channel, DrawerHost& host) {
                                  s->setSpectrogramChannel(channel);
                                  host.spectrogramChannelChanged(channel);
                              }));
    rows.push_back(tiltRow(s->spectrogramTilt(), [s](double tilt) { s->setSpectrogramTilt(tilt); }));

    rows.push_back(choiceRow<ColorMap>(
        "Color Map", s->spectrogramColorMap(),
        {{ColorMap::module, "From the dark track through the module's colour to white."},
         {ColorMap::heat,
          "From black through purple, red and orange to yellow: many more levels to tell apart, so quiet detail shows "
          "beside the loud."}},
        [s](ColorMap map, DrawerHost&) { s->setSpectrogramColorMap(map); }));

    rows.push_back(actionRow("Clear History", "Empties the spectrogram: it starts again from now.",
                             [](DrawerHost& host) { host.clearSpectrogram(); }));
    rows.push_back(freezeRow(ColorArea::spectrogram));
    rows.push_back(colourRow(ColorArea::spectrogram));
    return rows;
}

std::vector<DrawerControl> DrawerCatalogue::meterRows() const {
    Settings* s = settings_;
    std::vector<DrawerControl> rows;

    DrawerControl shows{.label = "Shows", .several = true};
    const std::array<std::pair<MeterPart, std::string_view>, 7> parts{{
        {MeterPart::momentary, "Loudness of the last 400 ms."},
        {MeterPart::shortTerm, "Loudness of the last 3 seconds."},
        {MeterPart::integrated, "Loudness of the whole song so far."},
        {MeterPart::loudnessRange, "How much the loudness varies over the song."},
        {MeterPart::psr, "Peak to Short-term Ratio: how much punch is left above the loudness."},
        {MeterPart::truePeak, "The highest peak, including the ones between samples."},
        {MeterPart::peak, "Sample peak, left and right, like the meters in your DAW."},
    }};
    for (const auto& [part, info] : parts) {
        // The part's own choice, whether or not the meter itself is shown.
        shows.options.push_back({
            .title = std::string(title(part)),
            .selected = s->meterPartChosen(part),
            .info = std::string(info),
            .action = act([s, part = part](DrawerHost& host) {
                s->setShowMeterPart(part, !s->meterPartChosen(part));
                host.relayout();
                host.refreshPalette();
            }),
        });
    }
    rows.push_back(std::move(shows));

    rows.push_back(targetControl(s->targetLUFS(), "The integrated loudness to aim for. Above it, the meter turns red.",
                                 [s](std::optional<double> target) { s->setTargetLUFS(target); }));
    rows.push_back(toggle("Reset After Silence", s->autoResetAfterSilence(),
                          "Starts the measurement over when the music has been silent for 3 seconds.",
                          [s, host = host_](bool on) {
                              s->setAutoResetAfterSilence(on);
                              if (const auto alive = host.lock()) alive->autoResetChanged(on);
                          }));
    rows.push_back(actionRow("Reset Measurement", "Starts integrated loudness, LRA, PSR and the peaks over.",
                             [](DrawerHost& host) { host.resetMeasurement(); }));
    rows.push_back(freezeRow(ColorArea::meter));
    rows.push_back(colourRow(ColorArea::meter));
    return rows;
}

}  // namespace crestline
