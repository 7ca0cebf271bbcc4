#include "settings/drawer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/clock.h"
#include "tests/settings/test_folder.h"

using namespace crestline;
using crestline::test::freshFolder;

namespace {

// Records what the catalogue asks of the application, as one line of words.
class RecordingHost final : public DrawerHost {
public:
    std::string calls;
    std::optional<double> askedWith;
    std::function<void(std::optional<double>)> customSetter;

    void redraw() override { note("redraw"); }
    void relayout() override { note("relayout"); }
    void refreshPalette() override { note("refreshPalette"); }
    void clearScopeOverview() override { note("clearScopeOverview"); }
    void clearMeterHistory() override { note("clearMeterHistory"); }
    void clearSpectrogram() override { note("clearSpectrogram"); }
    void resetMeasurement() override { note("resetMeasurement"); }
    void spectrogramChannelChanged(SpectrumChannel c) override { note("channel:" + std::string(rawValue(c))); }
    void autoResetChanged(bool on) override { note(on ? "autoReset:on" : "autoReset:off"); }
    void openColorWheel(ColorArea area) override { note("colorWheel:" + std::string(rawValue(area))); }
    void askCustomTarget(std::optional<double> current, std::function<void(std::optional<double>)> set) override {
        note("askCustomTarget");
        askedWith = current;
        customSetter = std::move(set);
    }

private:
    void note(const std::string& call) { calls += (calls.empty() ? "" : " ") + call; }
};

class DrawerTest : public ::testing::Test {
protected:
    FakeClock clock_;
    Settings settings_{freshFolder() / "settings.json", clock_, Settings::Writing::manual};
    std::shared_ptr<RecordingHost> host_ = std::make_shared<RecordingHost>();
    DrawerCatalogue catalogue_{settings_, host_};

    DrawerControl row(ColorArea area, std::string_view label) const {
        for (auto& control : catalogue_.drawerControls(area)) {
            if (control.label == label) return control;
        }
        ADD_FAILURE() << "no row " << label;
        return {};
    }

    // The titles of a row's selected options, joined by "|".
    std::string selected(ColorArea area, std::string_view label) const {
        std::string out;
        for (const auto& o : row(area, label).options) {
            if (o.selected) out += (out.empty() ? "" : "|") + o.title;
        }
        return out;
    }

    void choose(ColorArea area, std::string_view label, std::string_view title) {
        for (const auto& o : row(area, label).options) {
            if (o.title == title) return o.action();
        }
        ADD_FAILURE() << "no option " << title << " in " << label;
    }

    // A stored value as short text: "-" when absent.
    std::string stored(const std::string& key) const {
        std::ostringstream out;
        if (const auto b = settings_.boolean(key)) {
            out << (*b ? "true" : "false");
        } else if (const auto n = settings_.number(key)) {
            out << *n;
        } else if (const auto list = settings_.strings(key)) {
            for (const auto& item : *list) out << (&item == &list->front() ? "" : ",") << item;
        } else if (const auto numbers = settings_.numbers(key)) {
            for (const double& x : *numbers) out << (&x == &numbers->front() ? "" : ",") << x;
        } else {
            out << settings_.string(key).value_or(settings_.contains(key) ? "?" : "-");
        }
        return out.str();
    }
};

}  // namespace

TEST_F(DrawerTest, EveryModuleOffersItsRowsInMenuOrderWithOneChoiceSelectedInEveryChoiceRow) {
    const std::string rows[] = {
        "Window|Channel|Color Map|Clear History|Freeze on Hover|Color",
        "Channel|Tilt|On Hover|Color",
        "View|Freeze on Hover|Color",
        "Shows|Span|LUFS Target|True Peak Marks|Dynamics Strip|Clear History|Freeze on Hover|Color",
        "Span|Range|Channel|Tilt|Color Map|Clear History|Freeze on Hover|Color",
        "Shows|LUFS Target|Reset After Silence|Reset Measurement|Freeze on Hover|Color",
    };
    for (ColorArea area : allCases<ColorArea>()) {
        std::string labels;
        for (const auto& control : catalogue_.drawerControls(area)) {
            SCOPED_TRACE(std::string(rawValue(area)) + " " + control.label);
            labels += (labels.empty() ? "" : "|") + control.label;
            for (const auto& o : control.options) EXPECT_TRUE(o.action);
            if (control.isAction) {
                ASSERT_EQ(control.options.size(), 1u);
                EXPECT_EQ(control.options[0].title, control.label);
                EXPECT_FALSE(control.options[0].info.empty() || control.options[0].selected);
            } else if (!control.several) {
                EXPECT_EQ(std::count_if(control.options.begin(), control.options.end(),
                                        [](const DrawerOption& o) { return o.selected; }),
                          1);
            }
        }
        EXPECT_EQ(labels, rows[static_cast<int>(area)]);
    }
    EXPECT_EQ(selected(ColorArea::scope, "Channel"), "Mid");
    EXPECT_EQ(selected(ColorArea::history, "Shows"), "Short-term|Integrated");
    EXPECT_EQ(selected(ColorArea::spectrogram, "Span"), "1 Minute");
    EXPECT_EQ(selected(ColorArea::meter, "Color"), "Salmon");
    const auto window = catalogue_.scopeWindowControl();
    EXPECT_TRUE(window.groupedByInfo);
    EXPECT_EQ(window.options[7].info + "|" + window.options[8].info + "|" + window.options[12].info,
              "Time|Synced to Live|Synced to Live");  // 30 Seconds, 1 Beat, 16 Bars
}

TEST_F(DrawerTest, EveryChoiceWritesItsKeyAndTellsTheApplication) {
    struct Case {
        ColorArea area;
        std::string_view label, title;
        std::string key, value, calls;
    };
    const Case cases[] = {
        {ColorArea::scope, "Color Map", "Frequency", "scopeColorMap", "frequency", "redraw"},
        {ColorArea::imager, "Freeze on Hover", "On", "freezeOnHover.imager", "true", "redraw"},
        {ColorArea::spectrogram, "Channel", "Side", "spectrogramChannel", "side", "channel:side redraw"},
        {ColorArea::meter, "Reset After Silence", "Off", "autoResetAfterSilence", "false", "autoReset:off redraw"},
        {ColorArea::scope, "Clear History", "Clear History", "", "", "clearScopeOverview redraw"},
        {ColorArea::history, "Clear History", "Clear History", "", "", "clearMeterHistory redraw"},
        {ColorArea::spectrogram, "Clear History", "Clear History", "", "", "clearSpectrogram redraw"},
        {ColorArea::meter, "Reset Measurement", "Reset Measurement", "", "", "resetMeasurement redraw"},
        {ColorArea::meter, "Shows", "PSR", "meterPart.psr", "false", "relayout refreshPalette redraw"},
        {ColorArea::meter, "Shows", "PSR", "meterPart.psr", "true", "relayout refreshPalette redraw"},
        {ColorArea::history, "Color", "Lime", "accentColor.history", "0.74902,0.890196,0.517647",
         "refreshPalette redraw"},
        {ColorArea::history, "Color", "Salmon", "accentColor.history", "-", ""},  // the default is no colour
        {ColorArea::history, "Color", "Custom\u2026", "accentColor.history", "-", "colorWheel:history redraw"},
        {ColorArea::scope, "Window", "4 Bars", "scopeWindow", "bars4", "redraw"},
        {ColorArea::spectrogram, "Tilt", "4.5 dB per Octave", "spectrogramTilt", "4.5", ""},
        {ColorArea::spectrogram, "Tilt", "4.5 dB per Octave", "spectrumTilt", "-", ""},  // its own from now on
        {ColorArea::spectrogram, "Span", "5 Minutes", "spectrogramSeconds", "300", ""},
        {ColorArea::history, "Span", "10 Minutes", "historyMinutes", "10", ""},
        {ColorArea::meter, "LUFS Target", "\u22128 LUFS", "targetLUFS", "-8", ""},
        {ColorArea::meter, "LUFS Target", "None", "targetLUFS", "-", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + std::string(c.title));
        host_->calls.clear();
        choose(c.area, c.label, c.title);
        if (!c.key.empty()) {
            EXPECT_EQ(stored(c.key), c.value);
        }
        if (!c.calls.empty()) {
            EXPECT_EQ(host_->calls, c.calls);
        }
    }
    EXPECT_EQ(selected(ColorArea::scope, "Window") + "|" + selected(ColorArea::spectrogram, "Tilt"),
              "4 Bars|4.5 dB per Octave");
    EXPECT_EQ(selected(ColorArea::meter, "LUFS Target"), "None");
}

TEST_F(DrawerTest, AChoiceIsSelectedOnlyWithinItsToleranceOtherwiseCustomOrNothing) {
    const auto scope = [&](double r, double g, double b) {
        return [=, this] { settings_.setAccentColor(Rgb{r / 255, g / 255, b / 255}, ColorArea::scope); };
    };
    const std::tuple<std::function<void()>, ColorArea, std::string_view, std::string> cases[] = {
        {[&] { settings_.setTargetLUFS(-14.0); }, ColorArea::meter, "LUFS Target", "\u221214 LUFS"},
        {[&] { settings_.setTargetLUFS(-11.5); }, ColorArea::meter, "LUFS Target", "Custom: \u221211.5 LUFS"},
        {[&] { settings_.setTargetLUFS(-14.0000001); }, ColorArea::meter, "LUFS Target", "Custom: \u221214 LUFS"},
        {[&] { settings_.setSpectrumTilt(3.0000001); }, ColorArea::spectrum, "Tilt", ""},
        {[] {}, ColorArea::spectrogram, "Tilt", ""},
        {[&] { settings_.setSpectrumTilt(3.0); }, ColorArea::spectrum, "Tilt", "3 dB per Octave"},
        {[] {}, ColorArea::spectrogram, "Tilt", "3 dB per Octave"},  // the spectrum's until it has its own
        {[&] { settings_.setSpectrogramSeconds(29.6); }, ColorArea::spectrogram, "Span", "30 Seconds"},
        {[&] { settings_.setSpectrogramSeconds(29.4); }, ColorArea::spectrogram, "Span", ""},
        {[&] { settings_.setHistoryMinutes(0.505); }, ColorArea::history, "Span", "30 Seconds"},
        {[&] { settings_.setHistoryMinutes(0.515); }, ColorArea::history, "Span", ""},
        // Colours match a named swatch within half a step of 1/255, per module.
        {scope(246, 182, 142), ColorArea::scope, "Color", "Salmon"},
        {scope(100, 100, 100), ColorArea::scope, "Color", "Custom\u2026"},
        {scope(143.4, 207.6, 240), ColorArea::scope, "Color", "Sky"},
        {scope(143.6, 208, 240), ColorArea::scope, "Color", "Custom\u2026"},
        {[] {}, ColorArea::imager, "Color", "Salmon"},
    };
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const auto& [set, area, label, expected] = cases[k];
        set();
        EXPECT_EQ(selected(area, label), expected) << k;
    }
    EXPECT_EQ(row(ColorArea::scope, "Color").options[5].swatch, (Rgb{143 / 255.0, 208 / 255.0, 240 / 255.0}));
    EXPECT_FALSE(row(ColorArea::scope, "Color").options.back().swatch);  // Custom…
}

TEST_F(DrawerTest, TheCustomTargetIsAskedForAndStoredThroughTheRowsSetter) {
    settings_.setTargetLUFS(-9.0);
    // The history's row follows the meter's target until it gets its own.
    EXPECT_EQ(selected(ColorArea::history, "LUFS Target"), "Custom: \u22129 LUFS");
    choose(ColorArea::history, "LUFS Target", "Custom: \u22129 LUFS");
    EXPECT_EQ(host_->askedWith, -9.0);
    ASSERT_TRUE(host_->customSetter);
    host_->calls.clear();
    host_->customSetter(-16.5);
    EXPECT_EQ(settings_.historyTargetLUFS(), -16.5);
    EXPECT_EQ(settings_.targetLUFS(), -9.0);  // the meter's target is its own
    EXPECT_EQ(host_->calls, "redraw");
    // An answer arriving after the application is gone changes nothing.
    auto setter = host_->customSetter;
    host_.reset();
    setter(-20.0);
    EXPECT_EQ(settings_.historyTargetLUFS(), -16.5);
}

TEST_F(DrawerTest, OnHoverKeepsFreezeAndPeakHoldExclusive) {
    const auto state = [&] { return stored("spectrumPeakHold") + " " + stored("freezeOnHover.spectrum"); };
    choose(ColorArea::spectrum, "On Hover", "Peak Hold");
    EXPECT_EQ(state(), "true false");
    EXPECT_EQ(selected(ColorArea::spectrum, "On Hover"), "Peak Hold");
    choose(ColorArea::spectrum, "On Hover", "Freeze");
    EXPECT_EQ(state(), "false true");
    choose(ColorArea::spectrum, "On Hover", "Nothing");
    EXPECT_FALSE(settings_.spectrumPeakHold() || settings_.freezeOnHover(ColorArea::spectrum));
    EXPECT_EQ(selected(ColorArea::spectrum, "On Hover"), "Nothing");
    settings_.setSpectrumPeakHold(true);
    settings_.setFreezeOnHover(ColorArea::spectrum, true);
    EXPECT_EQ(selected(ColorArea::spectrum, "On Hover"), "Freeze");
}

TEST_F(DrawerTest, ShowsRowsToggleEachLineOrPart) {
    // The history's lines may all go.
    choose(ColorArea::history, "Shows", "Momentary");
    EXPECT_EQ(stored("historyShows"), "shortTerm,integrated,momentary");
    for (const char* line : {"Short-term", "Integrated", "Momentary"}) choose(ColorArea::history, "Shows", line);
    EXPECT_EQ(settings_.strings("historyShows"), std::vector<std::string>{});
    EXPECT_EQ(selected(ColorArea::history, "Shows"), "");
    choose(ColorArea::history, "Shows", "Integrated");
    EXPECT_EQ(selected(ColorArea::history, "Shows"), "Integrated");
    // The meter's row shows each part's own choice even while the meter is hidden.
    EXPECT_TRUE(row(ColorArea::meter, "Shows").several);
    settings_.setShowMeterPart(MeterPart::peak, false);
    settings_.setModuleOrder({ColorArea::scope});
    EXPECT_EQ(selected(ColorArea::meter, "Shows"), "Momentary|Short-term|Integrated|Loudness Range (LRA)|PSR|True Peak");
}

TEST_F(DrawerTest, ActionsDoNothingOnceTheApplicationIsGone) {
    auto rows = catalogue_.drawerControls(ColorArea::spectrum);
    for (auto& control : catalogue_.drawerControls(ColorArea::meter)) rows.push_back(std::move(control));
    host_.reset();
    for (const auto& control : rows) {
        for (const auto& o : control.options) o.action();
    }
    for (const char* key : {"spectrumChannel", "spectrumTilt", "accentColor.spectrum", "meterPart.psr", "targetLUFS"}) {
        EXPECT_FALSE(settings_.contains(key)) << key;
    }
}
