#include "settings/drawer.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "tests/settings/test_folder.h"

using namespace crestline;
using crestline::test::freshFolder;

namespace {

// Records what the catalogue asks of the application.
class RecordingHost final : public DrawerHost {
public:
    std::vector<std::string> calls;
    std::optional<double> askedWith;
    std::function<void(std::optional<double>)> customSetter;

    void redraw() override { calls.push_back("redraw"); }
    void relayout() override { calls.push_back("relayout"); }
    void refreshPalette() override { calls.push_back("refreshPalette"); }
    void clearScopeOverview() override { calls.push_back("clearScopeOverview"); }
    void clearMeterHistory() override { calls.push_back("clearMeterHistory"); }
    void clearSpectrogram() override { calls.push_back("clearSpectrogram"); }
    void resetMeasurement() override { calls.push_back("resetMeasurement"); }
    void spectrogramChannelChanged(SpectrumChannel channel) override {
        calls.push_back("spectrogramChannel:" + std::string(rawValue(channel)));
    }
    void autoResetChanged(bool on) override { calls.push_back(on ? "autoReset:on" : "autoReset:off"); }
    void openColorWheel(ColorArea area) override { calls.push_back("colorWheel:" + std::string(rawValue(area))); }
    void askCustomTarget(std::optional<double> current, std::function<void(std::optional<double>)> set) override {
        calls.push_back("askCustomTarget");
        askedWith = current;
        customSetter = std::move(set);
    }
};

using Strings = std::vector<std::string>;

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

    static const DrawerOption& option(const DrawerControl& control, std::string_view title) {
        for (const auto& o : control.options) {
            if (o.title == title) return o;
        }
        static const DrawerOption none;
        ADD_FAILURE() << "no option " << title << " in " << control.label;
        return none;
    }

    static Strings selected(const DrawerControl& control) {
        Strings out;
        for (const auto& o : control.options) {
            if (o.selected) out.push_back(o.title);
        }
        return out;
    }

    void choose(ColorArea area, std::string_view label, std::string_view title) {
        const auto control = row(area, label);
        const auto& o = option(control, title);
        ASSERT_TRUE(o.action);
        o.action();
    }
};

Strings labels(const std::vector<DrawerControl>& rows) {
    Strings out;
    for (const auto& r : rows) out.push_back(r.label);
    return out;
}

Strings titles(const DrawerControl& control) {
    Strings out;
    for (const auto& o : control.options) out.push_back(o.title);
    return out;
}

}  // namespace

TEST_F(DrawerTest, EveryModuleOffersItsRowsInMenuOrder) {
    EXPECT_EQ(labels(catalogue_.drawerControls(ColorArea::scope)),
              (Strings{"Window", "Channel", "Color Map", "Clear History", "Freeze on Hover", "Color"}));
    EXPECT_EQ(labels(catalogue_.drawerControls(ColorArea::spectrum)), (Strings{"Channel", "Tilt", "On Hover", "Color"}));
    EXPECT_EQ(labels(catalogue_.drawerControls(ColorArea::imager)), (Strings{"View", "Freeze on Hover", "Color"}));
    EXPECT_EQ(labels(catalogue_.drawerControls(ColorArea::history)),
              (Strings{"Shows", "Span", "LUFS Target", "True Peak Marks", "Dynamics Strip", "Clear History",
                       "Freeze on Hover", "Color"}));
    EXPECT_EQ(labels(catalogue_.drawerControls(ColorArea::spectrogram)),
              (Strings{"Span", "Range", "Channel", "Tilt", "Color Map", "Clear History", "Freeze on Hover", "Color"}));
    EXPECT_EQ(labels(catalogue_.drawerControls(ColorArea::meter)),
              (Strings{"Shows", "LUFS Target", "Reset After Silence", "Reset Measurement", "Freeze on Hover", "Color"}));
}

TEST_F(DrawerTest, AFreshStoreSelectsExactlyOneChoiceInEveryChoiceRow) {
    for (ColorArea area : allCases<ColorArea>()) {
        for (const auto& control : catalogue_.drawerControls(area)) {
            SCOPED_TRACE(std::string(rawValue(area)) + " " + control.label);
            for (const auto& o : control.options) EXPECT_TRUE(o.action);
            if (control.isAction) {
                ASSERT_EQ(control.options.size(), 1u);
                EXPECT_EQ(control.options[0].title, control.label);
                EXPECT_FALSE(control.options[0].info.empty());
                EXPECT_FALSE(control.options[0].selected);
            } else if (!control.several) {
                EXPECT_EQ(selected(control).size(), 1u);
            }
        }
    }
    EXPECT_EQ(selected(row(ColorArea::scope, "Channel")), Strings{"Mid"});
    EXPECT_EQ(selected(row(ColorArea::history, "Shows")), (Strings{"Short-term", "Integrated"}));
    EXPECT_EQ(selected(row(ColorArea::spectrogram, "Span")), Strings{"1 Minute"});
    EXPECT_EQ(selected(row(ColorArea::meter, "Shows")).size(), 7u);
    EXPECT_EQ(selected(row(ColorArea::meter, "Color")), Strings{"Salmon"});
}

TEST_F(DrawerTest, TheScopeWindowRowGroupsTimeAndSyncedSpans) {
    const auto control = catalogue_.scopeWindowControl();
    EXPECT_TRUE(control.groupedByInfo);
    ASSERT_EQ(control.options.size(), 13u);
    EXPECT_EQ(control.options[4].title, "1 Second");
    EXPECT_EQ(control.options[7].info, "Time");
    EXPECT_EQ(control.options[8].title, "1 Beat");
    EXPECT_EQ(control.options[8].info, "Synced to Live");
    EXPECT_EQ(control.options[12].info, "Synced to Live");
    control.options[10].action();  // 4 Bars
    EXPECT_EQ(settings_.string("scopeWindow"), "bars4");
    EXPECT_EQ(host_->calls, Strings{"redraw"});
    EXPECT_EQ(selected(catalogue_.scopeWindowControl()), Strings{"4 Bars"});
}

TEST_F(DrawerTest, ThePresetTargetIsSelectedExactlyAndAnyOtherIsCustom) {
    settings_.setTargetLUFS(-14.0);
    auto target = row(ColorArea::meter, "LUFS Target");
    EXPECT_EQ(titles(target), (Strings{"None", "\u221214 LUFS", "\u221210 LUFS", "\u22128 LUFS", "\u22126 LUFS", "Custom\u2026"}));
    EXPECT_EQ(selected(target), Strings{"\u221214 LUFS"});
    EXPECT_EQ(target.about, "The integrated loudness to aim for. Above it, the meter turns red.");

    settings_.setTargetLUFS(-11.5);
    target = row(ColorArea::meter, "LUFS Target");
    EXPECT_EQ(selected(target), Strings{"Custom: \u221211.5 LUFS"});
    EXPECT_EQ(target.options.back().info, "Type any target, for example 11.5. The minus sign can be left out.");

    settings_.setTargetLUFS(-14.0000001);  // not a preset
    EXPECT_EQ(selected(row(ColorArea::meter, "LUFS Target")), Strings{"Custom: \u221214 LUFS"});

    choose(ColorArea::meter, "LUFS Target", "None");
    EXPECT_FALSE(settings_.contains("targetLUFS"));
    choose(ColorArea::meter, "LUFS Target", "\u22128 LUFS");
    EXPECT_EQ(settings_.targetLUFS(), -8.0);
}

TEST_F(DrawerTest, TheCustomTargetIsAskedForAndStoredThroughTheRowsSetter) {
    settings_.setTargetLUFS(-9.0);
    // The history's row follows the meter's target until it gets its own.
    EXPECT_EQ(selected(row(ColorArea::history, "LUFS Target")), Strings{"Custom: \u22129 LUFS"});
    choose(ColorArea::history, "LUFS Target", "Custom: \u22129 LUFS");
    EXPECT_EQ(host_->askedWith, -9.0);
    ASSERT_TRUE(host_->customSetter);
    host_->calls.clear();
    host_->customSetter(-16.5);
    EXPECT_EQ(settings_.historyTargetLUFS(), -16.5);
    EXPECT_EQ(settings_.targetLUFS(), -9.0);  // the meter's target is its own
    EXPECT_EQ(host_->calls, Strings{"redraw"});
    // An answer arriving after the application is gone changes nothing.
    auto setter = host_->customSetter;
    host_.reset();
    setter(-20.0);
    EXPECT_EQ(settings_.historyTargetLUFS(), -16.5);
}

TEST_F(DrawerTest, TiltIsSelectedOnlyByAnExactValue) {
    settings_.setSpectrumTilt(3.0000001);
    EXPECT_TRUE(selected(row(ColorArea::spectrum, "Tilt")).empty());
    EXPECT_TRUE(selected(row(ColorArea::spectrogram, "Tilt")).empty());  // it follows the spectrum's
    settings_.setSpectrumTilt(3.0);
    EXPECT_EQ(selected(row(ColorArea::spectrum, "Tilt")), Strings{"3 dB per Octave"});
    choose(ColorArea::spectrogram, "Tilt", "4.5 dB per Octave");
    EXPECT_EQ(settings_.number("spectrogramTilt"), 4.5);
    EXPECT_EQ(settings_.spectrumTilt(), 3.0);
    EXPECT_EQ(selected(row(ColorArea::spectrogram, "Tilt")), Strings{"4.5 dB per Octave"});
}

TEST_F(DrawerTest, ColoursMatchANamedSwatchWithinHalfAStep) {
    const auto colourRow = [&](ColorArea area) { return row(area, "Color"); };
    auto colours = colourRow(ColorArea::scope);
    EXPECT_EQ(titles(colours), (Strings{"Salmon", "Amber", "Lemon", "Lime", "Mint", "Sky", "Periwinkle", "Lavender",
                                        "Rose", "Custom\u2026"}));
    EXPECT_EQ(colours.options[0].info, "Salmon, Live's clip colour and the default.");
    EXPECT_EQ(colours.options[5].info, "Sky.");
    EXPECT_EQ(colours.options[5].swatch, (Rgb{143 / 255.0, 208 / 255.0, 240 / 255.0}));
    EXPECT_FALSE(colours.options.back().swatch);

    settings_.setAccentColor(Rgb{246 / 255.0, 182 / 255.0, 142 / 255.0}, ColorArea::scope);
    EXPECT_EQ(selected(colourRow(ColorArea::scope)), Strings{"Salmon"});
    settings_.setAccentColor(Rgb{100 / 255.0, 100 / 255.0, 100 / 255.0}, ColorArea::scope);
    EXPECT_EQ(selected(colourRow(ColorArea::scope)), Strings{"Custom\u2026"});
    settings_.setAccentColor(Rgb{143.4 / 255.0, 207.6 / 255.0, 240 / 255.0}, ColorArea::scope);
    EXPECT_EQ(selected(colourRow(ColorArea::scope)), Strings{"Sky"});
    settings_.setAccentColor(Rgb{143.6 / 255.0, 208 / 255.0, 240 / 255.0}, ColorArea::scope);
    EXPECT_EQ(selected(colourRow(ColorArea::scope)), Strings{"Custom\u2026"});
    EXPECT_EQ(selected(colourRow(ColorArea::imager)), Strings{"Salmon"});  // per module
}

TEST_F(DrawerTest, ChoosingAColourStoresItAndRefreshesThePalette) {
    choose(ColorArea::history, "Color", "Lime");
    EXPECT_EQ(settings_.accentColor(ColorArea::history), (Rgb{191 / 255.0, 227 / 255.0, 132 / 255.0}));
    EXPECT_EQ(host_->calls, (Strings{"refreshPalette", "redraw"}));
    choose(ColorArea::history, "Color", "Salmon");  // the default is no stored colour
    EXPECT_FALSE(settings_.contains("accentColor.history"));
    host_->calls.clear();
    choose(ColorArea::history, "Color", "Custom\u2026");
    EXPECT_EQ(host_->calls, (Strings{"colorWheel:history", "redraw"}));
}

TEST_F(DrawerTest, OnHoverKeepsFreezeAndPeakHoldExclusive) {
    choose(ColorArea::spectrum, "On Hover", "Peak Hold");
    EXPECT_EQ(settings_.boolean("spectrumPeakHold"), true);
    EXPECT_EQ(settings_.boolean("freezeOnHover.spectrum"), false);
    EXPECT_EQ(selected(row(ColorArea::spectrum, "On Hover")), Strings{"Peak Hold"});
    choose(ColorArea::spectrum, "On Hover", "Freeze");
    EXPECT_EQ(settings_.boolean("spectrumPeakHold"), false);
    EXPECT_EQ(settings_.boolean("freezeOnHover.spectrum"), true);
    choose(ColorArea::spectrum, "On Hover", "Nothing");
    EXPECT_FALSE(settings_.spectrumPeakHold() || settings_.freezeOnHover(ColorArea::spectrum));

    settings_.setSpectrumPeakHold(true);
    settings_.setFreezeOnHover(ColorArea::spectrum, true);
    EXPECT_EQ(selected(row(ColorArea::spectrum, "On Hover")), Strings{"Freeze"});
}

TEST_F(DrawerTest, HistoryShowsTogglesEachLineAndMayBecomeEmpty) {
    choose(ColorArea::history, "Shows", "Momentary");
    EXPECT_EQ(settings_.strings("historyShows"), (Strings{"shortTerm", "integrated", "momentary"}));
    choose(ColorArea::history, "Shows", "Short-term");
    choose(ColorArea::history, "Shows", "Integrated");
    choose(ColorArea::history, "Shows", "Momentary");
    EXPECT_EQ(settings_.strings("historyShows"), Strings{});
    EXPECT_TRUE(selected(row(ColorArea::history, "Shows")).empty());
    choose(ColorArea::history, "Shows", "Integrated");
    EXPECT_EQ(selected(row(ColorArea::history, "Shows")), Strings{"Integrated"});
}

TEST_F(DrawerTest, MeterPartsFlipTheirKeyAndLayTheBarOutAgain) {
    const auto shows = row(ColorArea::meter, "Shows");
    EXPECT_TRUE(shows.several);
    EXPECT_EQ(titles(shows), (Strings{"Momentary", "Short-term", "Integrated", "Loudness Range (LRA)", "PSR",
                                      "True Peak", "Peak (L/R)"}));
    choose(ColorArea::meter, "Shows", "PSR");
    EXPECT_EQ(settings_.boolean("meterPart.psr"), false);
    EXPECT_EQ(host_->calls, (Strings{"relayout", "refreshPalette", "redraw"}));
    choose(ColorArea::meter, "Shows", "PSR");
    EXPECT_EQ(settings_.boolean("meterPart.psr"), true);
    // The row shows each part's own choice even while the meter is hidden.
    settings_.setModuleOrder({ColorArea::scope});
    EXPECT_EQ(selected(row(ColorArea::meter, "Shows")).size(), 7u);
}

TEST_F(DrawerTest, SpansAreSelectedWithinTheirTolerance) {
    settings_.setSpectrogramSeconds(29.6);
    EXPECT_EQ(selected(row(ColorArea::spectrogram, "Span")), Strings{"30 Seconds"});
    settings_.setSpectrogramSeconds(29.4);
    EXPECT_TRUE(selected(row(ColorArea::spectrogram, "Span")).empty());
    choose(ColorArea::spectrogram, "Span", "5 Minutes");
    EXPECT_EQ(settings_.spectrogramSeconds(), 300.0);

    settings_.setHistoryMinutes(0.505);
    EXPECT_EQ(selected(row(ColorArea::history, "Span")), Strings{"30 Seconds"});
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
    EXPECT_EQ(host_->calls, (Strings{"spectrogramChannel:side", "redraw", "autoReset:off", "redraw",
                                     "clearScopeOverview", "redraw", "clearMeterHistory", "redraw",
                                     "clearSpectrogram", "redraw", "resetMeasurement", "redraw"}));
}

TEST_F(DrawerTest, ActionsDoNothingOnceTheApplicationIsGone) {
    const auto rows = catalogue_.drawerControls(ColorArea::spectrum);
    const auto meter = catalogue_.drawerControls(ColorArea::meter);
    host_.reset();
    for (const auto& control : rows) {
        for (const auto& o : control.options) o.action();
    }
    for (const auto& control : meter) {
        for (const auto& o : control.options) o.action();
    }
    EXPECT_FALSE(settings_.contains("spectrumChannel"));
    EXPECT_FALSE(settings_.contains("spectrumTilt"));
    EXPECT_FALSE(settings_.contains("accentColor.spectrum"));
    EXPECT_FALSE(settings_.contains("meterPart.psr"));
    EXPECT_FALSE(settings_.contains("targetLUFS"));
}
