#include "settings/drawer.h"

#include <gtest/gtest.h>

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

    // The titles of a row's options (only the selected ones), joined by "|".
    static std::string titles(const DrawerControl& control, bool onlySelected = false) {
        std::string out;
        for (const auto& o : control.options) {
            if (!onlySelected || o.selected) out += (out.empty() ? "" : "|") + o.title;
        }
        return out;
    }
    std::string selected(ColorArea area, std::string_view label) const { return titles(row(area, label), true); }

    void choose(ColorArea area, std::string_view label, std::string_view title) {
        const auto control = row(area, label);
        for (const auto& o : control.options) {
            if (o.title == title) return o.action();
        }
        ADD_FAILURE() << "no option " << title << " in " << label;
    }
};

}  // namespace

TEST_F(DrawerTest, EveryModuleOffersItsRowsInMenuOrder) {
    const std::pair<ColorArea, std::string> modules[] = {
        {ColorArea::scope, "Window|Channel|Color Map|Clear History|Freeze on Hover|Color"},
        {ColorArea::spectrum, "Channel|Tilt|On Hover|Color"},
        {ColorArea::imager, "View|Freeze on Hover|Color"},
        {ColorArea::history,
         "Shows|Span|LUFS Target|True Peak Marks|Dynamics Strip|Clear History|Freeze on Hover|Color"},
        {ColorArea::spectrogram, "Span|Range|Channel|Tilt|Color Map|Clear History|Freeze on Hover|Color"},
        {ColorArea::meter, "Shows|LUFS Target|Reset After Silence|Reset Measurement|Freeze on Hover|Color"},
    };
    for (const auto& [area, rows] : modules) {
        std::string labels;
        for (const auto& control : catalogue_.drawerControls(area)) labels += (labels.empty() ? "" : "|") + control.label;
        EXPECT_EQ(labels, rows);
    }
}

TEST_F(DrawerTest, AFreshStoreSelectsExactlyOneChoiceInEveryChoiceRow) {
    for (ColorArea area : allCases<ColorArea>()) {
        for (const auto& control : catalogue_.drawerControls(area)) {
            SCOPED_TRACE(std::string(rawValue(area)) + " " + control.label);
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
    }
    EXPECT_EQ(selected(ColorArea::scope, "Channel"), "Mid");
    EXPECT_EQ(selected(ColorArea::history, "Shows"), "Short-term|Integrated");
    EXPECT_EQ(selected(ColorArea::spectrogram, "Span"), "1 Minute");
    EXPECT_EQ(selected(ColorArea::meter, "Color"), "Salmon");
}

TEST_F(DrawerTest, TheScopeWindowRowGroupsTimeAndSyncedSpans) {
    const auto control = catalogue_.scopeWindowControl();
    EXPECT_TRUE(control.groupedByInfo);
    EXPECT_EQ(titles(control), "10 ms|40 ms|100 ms|250 ms|1 Second|4 Seconds|10 Seconds|30 Seconds|1 Beat|1 Bar|"
                               "4 Bars|8 Bars|16 Bars");
    EXPECT_EQ(control.options[7].info, "Time");
    EXPECT_EQ(control.options[8].info, "Synced to Live");
    EXPECT_EQ(control.options[12].info, "Synced to Live");
    control.options[10].action();  // 4 Bars
    EXPECT_EQ(settings_.string("scopeWindow"), "bars4");
    EXPECT_EQ(host_->calls, "redraw");
    EXPECT_EQ(titles(catalogue_.scopeWindowControl(), true), "4 Bars");
}

TEST_F(DrawerTest, ThePresetTargetIsSelectedExactlyAndAnyOtherIsCustom) {
    settings_.setTargetLUFS(-14.0);
    auto target = row(ColorArea::meter, "LUFS Target");
    EXPECT_EQ(titles(target), "None|\u221214 LUFS|\u221210 LUFS|\u22128 LUFS|\u22126 LUFS|Custom\u2026");
    EXPECT_EQ(titles(target, true), "\u221214 LUFS");
    EXPECT_EQ(target.about, "The integrated loudness to aim for. Above it, the meter turns red.");

    settings_.setTargetLUFS(-11.5);
    target = row(ColorArea::meter, "LUFS Target");
    EXPECT_EQ(titles(target, true), "Custom: \u221211.5 LUFS");
    EXPECT_EQ(target.options.back().info, "Type any target, for example 11.5. The minus sign can be left out.");
    settings_.setTargetLUFS(-14.0000001);  // not a preset
    EXPECT_EQ(selected(ColorArea::meter, "LUFS Target"), "Custom: \u221214 LUFS");

    choose(ColorArea::meter, "LUFS Target", "None");
    EXPECT_FALSE(settings_.contains("targetLUFS"));
    EXPECT_EQ(selected(ColorArea::meter, "LUFS Target"), "None");
    choose(ColorArea::meter, "LUFS Target", "\u22128 LUFS");
    EXPECT_EQ(settings_.targetLUFS(), -8.0);
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

TEST_F(DrawerTest, TiltIsSelectedOnlyByAnExactValue) {
    settings_.setSpectrumTilt(3.0000001);
    EXPECT_EQ(selected(ColorArea::spectrum, "Tilt"), "");
    EXPECT_EQ(selected(ColorArea::spectrogram, "Tilt"), "");  // it follows the spectrum's
    settings_.setSpectrumTilt(3.0);
    EXPECT_EQ(selected(ColorArea::spectrum, "Tilt"), "3 dB per Octave");
    choose(ColorArea::spectrogram, "Tilt", "4.5 dB per Octave");
    EXPECT_EQ(settings_.number("spectrogramTilt"), 4.5);
    EXPECT_EQ(settings_.spectrumTilt(), 3.0);
    EXPECT_EQ(selected(ColorArea::spectrogram, "Tilt"), "4.5 dB per Octave");
}

TEST_F(DrawerTest, ColoursMatchANamedSwatchWithinHalfAStepAndAreStoredPerModule) {
    const auto colours = row(ColorArea::scope, "Color");
    EXPECT_EQ(titles(colours), "Salmon|Amber|Lemon|Lime|Mint|Sky|Periwinkle|Lavender|Rose|Custom\u2026");
    EXPECT_EQ(colours.options[0].info, "Salmon, Live's clip colour and the default.");
    EXPECT_EQ(colours.options[5].info, "Sky.");
    EXPECT_EQ(colours.options[5].swatch, (Rgb{143 / 255.0, 208 / 255.0, 240 / 255.0}));
    EXPECT_FALSE(colours.options.back().swatch);
    for (const auto& [rgb, name] : std::vector<std::pair<Rgb, std::string>>{
             {{246 / 255.0, 182 / 255.0, 142 / 255.0}, "Salmon"},
             {{100 / 255.0, 100 / 255.0, 100 / 255.0}, "Custom\u2026"},
             {{143.4 / 255.0, 207.6 / 255.0, 240 / 255.0}, "Sky"},
             {{143.6 / 255.0, 208 / 255.0, 240 / 255.0}, "Custom\u2026"}}) {
        settings_.setAccentColor(rgb, ColorArea::scope);
        EXPECT_EQ(selected(ColorArea::scope, "Color"), name) << rgb[0] * 255;
    }
    EXPECT_EQ(selected(ColorArea::imager, "Color"), "Salmon");

    choose(ColorArea::history, "Color", "Lime");
    EXPECT_EQ(settings_.accentColor(ColorArea::history), (Rgb{191 / 255.0, 227 / 255.0, 132 / 255.0}));
    EXPECT_EQ(host_->calls, "refreshPalette redraw");
    choose(ColorArea::history, "Color", "Salmon");  // the default is no stored colour
    EXPECT_FALSE(settings_.contains("accentColor.history"));
    host_->calls.clear();
    choose(ColorArea::history, "Color", "Custom\u2026");
    EXPECT_EQ(host_->calls, "colorWheel:history redraw");
}

TEST_F(DrawerTest, OnHoverKeepsFreezeAndPeakHoldExclusive) {
    choose(ColorArea::spectrum, "On Hover", "Peak Hold");
    EXPECT_EQ(settings_.boolean("spectrumPeakHold"), true);
    EXPECT_EQ(settings_.boolean("freezeOnHover.spectrum"), false);
    EXPECT_EQ(selected(ColorArea::spectrum, "On Hover"), "Peak Hold");
    choose(ColorArea::spectrum, "On Hover", "Freeze");
    EXPECT_EQ(settings_.boolean("spectrumPeakHold"), false);
    EXPECT_EQ(settings_.boolean("freezeOnHover.spectrum"), true);
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
    EXPECT_EQ(settings_.strings("historyShows"), (std::vector<std::string>{"shortTerm", "integrated", "momentary"}));
    for (const char* line : {"Short-term", "Integrated", "Momentary"}) choose(ColorArea::history, "Shows", line);
    EXPECT_EQ(settings_.strings("historyShows"), std::vector<std::string>{});
    EXPECT_EQ(selected(ColorArea::history, "Shows"), "");
    choose(ColorArea::history, "Shows", "Integrated");
    EXPECT_EQ(selected(ColorArea::history, "Shows"), "Integrated");

    // A meter part flips its key and lays the bar out again.
    const auto parts = row(ColorArea::meter, "Shows");
    EXPECT_TRUE(parts.several);
    EXPECT_EQ(titles(parts), "Momentary|Short-term|Integrated|Loudness Range (LRA)|PSR|True Peak|Peak (L/R)");
    host_->calls.clear();
    choose(ColorArea::meter, "Shows", "PSR");
    EXPECT_EQ(settings_.boolean("meterPart.psr"), false);
    EXPECT_EQ(host_->calls, "relayout refreshPalette redraw");
    choose(ColorArea::meter, "Shows", "PSR");
    EXPECT_EQ(settings_.boolean("meterPart.psr"), true);
    // The row shows each part's own choice even while the meter is hidden.
    settings_.setShowMeterPart(MeterPart::peak, false);
    settings_.setModuleOrder({ColorArea::scope});
    EXPECT_EQ(selected(ColorArea::meter, "Shows"), "Momentary|Short-term|Integrated|Loudness Range (LRA)|PSR|True Peak");
}

TEST_F(DrawerTest, SpansAreSelectedWithinTheirTolerance) {
    settings_.setSpectrogramSeconds(29.6);
    EXPECT_EQ(selected(ColorArea::spectrogram, "Span"), "30 Seconds");
    settings_.setSpectrogramSeconds(29.4);
    EXPECT_EQ(selected(ColorArea::spectrogram, "Span"), "");
    choose(ColorArea::spectrogram, "Span", "5 Minutes");
    EXPECT_EQ(settings_.spectrogramSeconds(), 300.0);

    settings_.setHistoryMinutes(0.505);
    EXPECT_EQ(selected(ColorArea::history, "Span"), "30 Seconds");
    settings_.setHistoryMinutes(0.515);
    EXPECT_EQ(selected(ColorArea::history, "Span"), "");
    choose(ColorArea::history, "Span", "10 Minutes");
    EXPECT_EQ(settings_.historyMinutes(), 10.0);
}

TEST_F(DrawerTest, ChoicesWriteTheirKeysAndTellTheApplication) {
    choose(ColorArea::scope, "Color Map", "Frequency");
    EXPECT_EQ(settings_.string("scopeColorMap"), "frequency");
    choose(ColorArea::imager, "Freeze on Hover", "On");
    EXPECT_EQ(settings_.boolean("freezeOnHover.imager"), true);

    host_->calls.clear();
    choose(ColorArea::spectrogram, "Channel", "Side");
    EXPECT_EQ(settings_.string("spectrogramChannel"), "side");
    choose(ColorArea::meter, "Reset After Silence", "Off");
    EXPECT_EQ(settings_.boolean("autoResetAfterSilence"), false);
    choose(ColorArea::scope, "Clear History", "Clear History");
    choose(ColorArea::history, "Clear History", "Clear History");
    choose(ColorArea::spectrogram, "Clear History", "Clear History");
    choose(ColorArea::meter, "Reset Measurement", "Reset Measurement");
    EXPECT_EQ(host_->calls, "channel:side redraw autoReset:off redraw clearScopeOverview redraw clearMeterHistory "
                            "redraw clearSpectrogram redraw resetMeasurement redraw");
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
