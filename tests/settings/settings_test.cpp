#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/clock.h"
#include "tests/settings/test_folder.h"

using namespace crestline;
using crestline::test::freshFolder;
using crestline::test::writeFile;
namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    fs::path folder_ = freshFolder();
    FakeClock clock_;
    Settings settings_{folder_ / "settings.json", clock_, Settings::Writing::manual};

    // A store over a file written by hand (or by an older version).
    std::unique_ptr<Settings> over(const std::string& json) {
        const auto file = folder_ / "given.json";
        writeFile(file, json);
        return std::make_unique<Settings>(file, clock_, Settings::Writing::manual);
    }
};

using Areas = std::vector<ColorArea>;
using Kinds = std::vector<GraphKind>;

}  // namespace

TEST_F(SettingsTest, AFreshStoreYieldsTheDocumentedDefaults) {
    const Settings& s = settings_;
    EXPECT_EQ(s.barMode(), BarMode::pinned);
    EXPECT_EQ(s.barHeight(), 36.0);
    EXPECT_FALSE(s.floatingOrigin());
    EXPECT_EQ(s.floatingWidth(), 900.0);
    EXPECT_EQ(s.floatingHeight(), 36.0);
    EXPECT_FALSE(s.listenToAll());
    EXPECT_EQ(s.window(1), GraphKind::scope);
    EXPECT_EQ(s.window(2), GraphKind::history);
    EXPECT_FALSE(s.window(3));
    EXPECT_FALSE(s.window(4));
    EXPECT_FALSE(s.window(5));
    EXPECT_TRUE(s.showHistory());
    EXPECT_EQ(s.moduleOrder(), (Areas{ColorArea::scope, ColorArea::history, ColorArea::meter}));
    EXPECT_EQ(s.scopeWindow(), ScopeWindow::ms40);
    EXPECT_EQ(s.scopeMode(), ScopeMode::mid);
    EXPECT_EQ(s.scopeColorMap(), ColorMap::module);
    EXPECT_EQ(s.spectrumChannel(), SpectrumChannel::stereo);
    EXPECT_EQ(s.spectrogramChannel(), SpectrumChannel::stereo);
    EXPECT_EQ(s.spectrogramSeconds(), 60.0);
    EXPECT_EQ(s.spectrogramRange(), SpectrogramRange::normal);
    EXPECT_EQ(s.spectrogramColorMap(), ColorMap::module);
    EXPECT_EQ(s.imagerMode(), ImagerMode::polarSample);
    EXPECT_EQ(s.historyMinutes(), 1.0);
    EXPECT_EQ(s.historyShows(), (std::vector<HistorySource>{HistorySource::shortTerm, HistorySource::integrated}));
    EXPECT_FALSE(s.targetLUFS());
    EXPECT_FALSE(s.historyTargetLUFS());
    EXPECT_FALSE(s.customTargetLUFS());
    EXPECT_TRUE(s.fitAbleton() && s.followAbleton() && s.showTimelineMarks() && s.autoResetAfterSilence());
    EXPECT_FALSE(s.quitWithAbleton() || s.showHints() || s.spectrumPeakHold() || s.historyDynamics());
    EXPECT_TRUE(s.showMomentary() && s.showTruePeak() && s.showPeak());
}

TEST_F(SettingsTest, TheOlderMillisecondScopeKeyPicksTheNearestTriggeredWindow) {
    const std::vector<std::pair<std::string, ScopeWindow>> cases{
        {"30", ScopeWindow::ms40},   {"200", ScopeWindow::ms250}, {"5000", ScopeWindow::ms250},
        {"25", ScopeWindow::ms10},   // a tie: the earlier wins
        {"0", ScopeWindow::ms40},    {"-5", ScopeWindow::ms40},   {"\"100\"", ScopeWindow::ms40},
        {"70", ScopeWindow::ms40},   {"71", ScopeWindow::ms100},
    };
    for (const auto& [ms, expected] : cases) {
        SCOPED_TRACE(ms);
        EXPECT_EQ(over(R"({"scopeWindowMs": )" + ms + "}")->scopeWindow(), expected);
    }
    // A valid new key wins; an unknown one falls back to the old key.
    EXPECT_EQ(over(R"({"scopeWindow": "bars8", "scopeWindowMs": 10})")->scopeWindow(), ScopeWindow::bars8);
    EXPECT_EQ(over(R"({"scopeWindow": "bars9", "scopeWindowMs": 10})")->scopeWindow(), ScopeWindow::ms10);
}

TEST_F(SettingsTest, SlotsOneAndTwoFallBackToTheOlderKeys) {
    EXPECT_FALSE(over(R"({"showScope": false, "graphView": "spectrum"})")->window1());
    EXPECT_EQ(over(R"({"graphView": "spectrum"})")->window1(), GraphKind::spectrum);
    EXPECT_EQ(over(R"({"showScope": true, "graphView": "other"})")->window1(), GraphKind::scope);
    EXPECT_FALSE(over(R"({"showHistory": false})")->window2());
    EXPECT_EQ(over(R"({"historyView": "spectrogram"})")->window2(), GraphKind::spectrogram);
    // A stored slot, even "off" or unknown text, ends the fallback.
    EXPECT_FALSE(over(R"({"window1": "off", "graphView": "spectrum"})")->window1());
    EXPECT_FALSE(over(R"({"window2": "meter"})")->window2());
    EXPECT_EQ(over(R"({"window1": "imager"})")->window1(), GraphKind::imager);
    // A slot of the wrong type counts as absent, so the fallback applies.
    EXPECT_EQ(over(R"({"window1": 3, "graphView": "spectrum"})")->window1(), GraphKind::spectrum);
    EXPECT_FALSE(over(R"({"window2": "off", "window3": "off"})")->showHistory());
    EXPECT_TRUE(over(R"({"window2": "off", "window5": "imager"})")->showHistory());
    EXPECT_FALSE(settings_.window(0));
    EXPECT_FALSE(settings_.window(6));
}

TEST_F(SettingsTest, OlderFreezeKeysAreReadOnlyWhereTheNewOnesAreAbsent) {
    auto s = over(R"({"scopeFreeze": true, "spectrumFreeze": true})");
    EXPECT_TRUE(s->freezeOnHover(ColorArea::scope));
    EXPECT_FALSE(s->freezeOnHover(ColorArea::imager));
    EXPECT_TRUE(s->spectrumPeakHold());
    s->setFreezeOnHover(ColorArea::scope, false);
    s->setSpectrumPeakHold(false);
    EXPECT_FALSE(s->freezeOnHover(ColorArea::scope));
    EXPECT_FALSE(s->spectrumPeakHold());
    EXPECT_TRUE(s->boolean("scopeFreeze").value_or(false));  // never rewritten
}

TEST_F(SettingsTest, TheGraphOrderDropsGapsAndRepeatsAndTheMeterGoesWhereItsIndexSays) {
    auto s = over(R"({"window1": "off", "window2": "spectrum", "window3": "spectrum", "window4": "scope",
                      "meterIndex": 1})");
    EXPECT_EQ(s->graphOrder(), (Kinds{GraphKind::spectrum, GraphKind::scope}));
    EXPECT_EQ(s->moduleOrder(), (Areas{ColorArea::spectrum, ColorArea::meter, ColorArea::scope}));
    // An index beyond the graphs reads as absent: the meter goes last.
    s->setInteger("meterIndex", 7);
    EXPECT_FALSE(s->meterIndex());
    EXPECT_EQ(s->moduleOrder(), (Areas{ColorArea::spectrum, ColorArea::scope, ColorArea::meter}));
    s->setInteger("meterIndex", -1);
    EXPECT_EQ(s->moduleOrder().back(), ColorArea::meter);
    s->setBool("showMeter", false);
    EXPECT_EQ(s->moduleOrder(), (Areas{ColorArea::spectrum, ColorArea::scope}));
}

TEST_F(SettingsTest, SetModuleOrderStoresTheMetersPlaceAmongTheGraphs) {
    Settings& s = settings_;
    s.setModuleOrder({ColorArea::meter, ColorArea::scope});
    EXPECT_EQ(s.integer("meterIndex"), 0);
    EXPECT_EQ(s.moduleOrder(), (Areas{ColorArea::meter, ColorArea::scope}));
    EXPECT_EQ(s.string("window1"), "scope");
    EXPECT_EQ(s.string("window2"), "off");

    s.setModuleOrder({ColorArea::spectrum, ColorArea::meter, ColorArea::imager, ColorArea::history});
    EXPECT_EQ(s.integer("meterIndex"), 1);
    EXPECT_EQ(s.moduleOrder(), (Areas{ColorArea::spectrum, ColorArea::meter, ColorArea::imager, ColorArea::history}));

    s.setModuleOrder({ColorArea::scope, ColorArea::meter});
    EXPECT_FALSE(s.contains("meterIndex"));
    EXPECT_EQ(s.boolean("showMeter"), true);

    s.setInteger("meterIndex", 0);
    s.setModuleOrder({ColorArea::scope});
    EXPECT_EQ(s.boolean("showMeter"), false);
    EXPECT_EQ(s.integer("meterIndex"), 0);  // left as it was
    EXPECT_FALSE(s.showIntegrated());       // every meter part hides with the meter
    EXPECT_EQ(s.moduleOrder(), (Areas{ColorArea::scope}));
}

TEST_F(SettingsTest, SetGraphOrderKeepsEveryGraphsWidthShare) {
    Settings& s = settings_;
    s.setModuleOrder({ColorArea::scope, ColorArea::spectrum, ColorArea::meter});
    s.setNumber("windowWeight1", 2);
    s.setNumber("windowWeight2", 3);
    s.setNumber("windowWeight3", 9);  // an empty slot's weight is not carried
    s.setNumber("windowWeight4", 4);
    s.setGraphOrder({GraphKind::spectrum, GraphKind::scope});
    EXPECT_EQ(s.number("windowWeight1"), 3.0);
    EXPECT_EQ(s.number("windowWeight2"), 2.0);
    for (int slot = 3; slot <= 5; ++slot) {
        EXPECT_EQ(s.string("window" + std::to_string(slot)), "off");
        EXPECT_FALSE(s.contains("windowWeight" + std::to_string(slot)));
    }
    // A graph that had no weight gets none; a stored 0 or less is carried as 1.
    s.setNumber("windowWeight2", -4);
    s.setGraphOrder({GraphKind::imager, GraphKind::scope, GraphKind::spectrum});
    EXPECT_FALSE(s.contains("windowWeight1"));
    EXPECT_EQ(s.number("windowWeight2"), 1.0);
    EXPECT_EQ(s.number("windowWeight3"), 3.0);
}

TEST_F(SettingsTest, SetShownAppendsOrRemovesOneGraph) {
    Settings& s = settings_;
    s.setShown(GraphKind::spectrogram, true);
    EXPECT_EQ(s.graphOrder(), (Kinds{GraphKind::scope, GraphKind::history, GraphKind::spectrogram}));
    s.setShown(GraphKind::scope, false);
    EXPECT_EQ(s.graphOrder(), (Kinds{GraphKind::history, GraphKind::spectrogram}));
    s.setShown(GraphKind::history, true);  // moves it to the end
    EXPECT_EQ(s.graphOrder(), (Kinds{GraphKind::spectrogram, GraphKind::history}));
}

TEST_F(SettingsTest, NumbersOutsideTheirRangesReadAsAbsent) {
    auto s = over(R"({"barHeight": 27, "floatingWidth": 319, "floatingHeight": 0, "historyMinutes": 10.5,
                      "spectrogramSeconds": 601, "windowWeight1": 1001, "windowWeight2": 0, "meterSpread": 61,
                      "targetLUFS": -70.5, "customTargetLUFS": 1, "accentColor.scope": [1.01, 0, 0],
                      "accentColor.imager": [0.5, 0.5], "spectrumTilt": 1e9, "moduleWidth.scope": -3,
                      "graphSplit": 1.5, "floatingX": 1e300, "liveMinimumHeight": 0})");
    EXPECT_EQ(s->barHeight(), 36.0);
    EXPECT_EQ(s->floatingWidth(), 900.0);
    EXPECT_EQ(s->floatingHeight(), 36.0);
    EXPECT_EQ(s->historyMinutes(), 1.0);
    EXPECT_EQ(s->spectrogramSeconds(), 60.0);
    EXPECT_EQ(s->windowWeight(1), 1.0);
    EXPECT_EQ(s->windowWeight(2), 1.0);
    EXPECT_FALSE(s->meterSpread());
    EXPECT_FALSE(s->targetLUFS());
    EXPECT_FALSE(s->customTargetLUFS());
    EXPECT_FALSE(s->accentColor(ColorArea::scope));
    EXPECT_FALSE(s->accentColor(ColorArea::imager));
    EXPECT_EQ(s->spectrumTilt(), 0.0);
    EXPECT_FALSE(s->moduleWidth(ColorArea::scope));
    EXPECT_FALSE(s->graphSplit());
    EXPECT_FALSE(s->floatingOrigin());
    EXPECT_FALSE(s->liveMinimumHeight());

    auto edges = over(R"({"barHeight": 2000, "historyMinutes": 10, "spectrogramSeconds": 600, "meterSpread": 0,
                          "targetLUFS": 0, "customTargetLUFS": -70, "accentColor.scope": [0, 1, 0.5], "floatingX": 10})");
    EXPECT_EQ(edges->barHeight(), 2000.0);
    EXPECT_EQ(edges->historyMinutes(), 10.0);
    EXPECT_EQ(edges->spectrogramSeconds(), 600.0);
    EXPECT_EQ(edges->meterSpread(), 0.0);
    EXPECT_EQ(edges->targetLUFS(), 0.0);
    EXPECT_EQ(edges->customTargetLUFS(), -70.0);
    EXPECT_EQ(edges->accentColor(ColorArea::scope), (Rgb{0, 1, 0.5}));
    EXPECT_EQ(edges->floatingOrigin(), (Point{10, 0}));  // the origin exists with "floatingX" alone
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeOrUnknownTextYieldTheDefaults) {
    auto s = over(R"({"barMode": "sideways", "barHeight": "40", "listenToAll": 1, "showTimelineMarks": "no",
                      "scopeMode": "both", "scopeColorMap": "heat", "spectrumChannel": 4,
                      "spectrogramColorMap": "frequency", "spectrogramRange": "huge", "imagerMode": "dots",
                      "historyShows": "momentary", "freezeOnHover.imager": "yes", "meterPart.psr": 0,
                      "firstLaunch": 790000000, "meterIndex": "0", "liveThemeChoice": "{}"})");
    EXPECT_EQ(s->barMode(), BarMode::pinned);
    EXPECT_EQ(s->barHeight(), 36.0);
    EXPECT_FALSE(s->listenToAll());
    EXPECT_TRUE(s->showTimelineMarks());
    EXPECT_EQ(s->scopeMode(), ScopeMode::mid);
    EXPECT_EQ(s->scopeColorMap(), ColorMap::module);
    EXPECT_EQ(s->spectrumChannel(), SpectrumChannel::stereo);
    EXPECT_EQ(s->spectrogramColorMap(), ColorMap::module);
    EXPECT_EQ(s->spectrogramRange(), SpectrogramRange::normal);
    EXPECT_EQ(s->imagerMode(), ImagerMode::polarSample);
    EXPECT_EQ(s->historyShows().size(), 2u);
    EXPECT_FALSE(s->freezeOnHover(ColorArea::imager));
    EXPECT_TRUE(s->showPSR());
    EXPECT_FALSE(s->firstLaunch());
    EXPECT_FALSE(s->meterIndex());
    EXPECT_FALSE(s->liveThemeChoice());
}

TEST_F(SettingsTest, HistoryShowsKeepsTheFixedOrderOfTheThreeLines) {
    EXPECT_EQ(over(R"({"historyShows": ["psr", "momentary"]})")->historyShows(),
              std::vector<HistorySource>{HistorySource::momentary});
    EXPECT_EQ(over(R"({"historyShows": ["integrated", "truePeak", "momentary", "integrated"]})")->historyShows(),
              (std::vector<HistorySource>{HistorySource::momentary, HistorySource::integrated}));
    settings_.setHistoryShows({});
    EXPECT_EQ(settings_.strings("historyShows"), std::vector<std::string>{});
    EXPECT_TRUE(settings_.historyShows().empty());
}

TEST_F(SettingsTest, TheHistoryTargetFollowsTheMeterUntilChosenOnItsOwn) {
    Settings& s = settings_;
    s.setTargetLUFS(-14.0);
    EXPECT_EQ(s.historyTargetLUFS(), -14.0);
    s.setHistoryTargetLUFS(-10.0);
    EXPECT_EQ(s.boolean("historyTargetChosen"), true);
    EXPECT_EQ(s.historyTargetLUFS(), -10.0);
    s.setHistoryTargetLUFS(std::nullopt);  // no line, even though the meter has a target
    EXPECT_FALSE(s.contains("historyTargetLUFS"));
    EXPECT_FALSE(s.historyTargetLUFS());
    EXPECT_EQ(s.targetLUFS(), -14.0);
    s.setTargetLUFS(std::nullopt);
    EXPECT_FALSE(s.contains("targetLUFS"));
}

TEST_F(SettingsTest, OutputSourcesAreStoredPerDeviceAsText) {
    Settings& s = settings_;
    s.setOutputSource(TapSource::pair(3), "alsa_output.usb-RME");
    s.setOutputSource(TapSource::mixdown(), "null");
    s.setOutputSource(TapSource::automatic(), "hdmi");
    EXPECT_EQ(s.string("outputSource.alsa_output.usb-RME"), "pair:3");
    EXPECT_EQ(s.string("outputSource.null"), "mixdown");
    EXPECT_EQ(s.string("outputSource.hdmi"), "auto");
    EXPECT_EQ(s.outputSource("alsa_output.usb-RME"), TapSource::pair(3));
    EXPECT_EQ(s.outputSource("null"), TapSource::mixdown());
    EXPECT_FALSE(s.outputSource("never-seen"));

    EXPECT_EQ(Settings::source("pair:0"), TapSource::pair(0));
    EXPECT_EQ(Settings::source("pair:012"), TapSource::pair(12));
    for (const char* text : {"pair:", "pair:ab", "pair:3x", "pair: 3", "pair:-1", "pair:+2", "pair:99999999999",
                             "auto", "Mixdown", "", "pair"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Settings::source(text), TapSource::automatic());
    }
}

TEST_F(SettingsTest, TheFirstLaunchIsRecordedOnce) {
    settings_.recordFirstLaunch();
    const auto first = settings_.firstLaunch();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, clock_.date());
    clock_.advance(86400);
    settings_.recordFirstLaunch();
    EXPECT_EQ(settings_.firstLaunch(), first);
}

TEST_F(SettingsTest, TheLiveRootIsAnAbsoluteFolderOrTheHomeFolder) {
    const fs::path home = std::getenv("HOME");
    EXPECT_EQ(settings_.liveRoot(), home);
    settings_.setLiveRoot("/srv/wine/drive_c/users/me");
    EXPECT_EQ(settings_.liveRoot(), "/srv/wine/drive_c/users/me");
    settings_.setString("liveRoot", "~/recorded/live");
    EXPECT_EQ(settings_.liveRoot(), home / "recorded/live");
    settings_.setString("liveRoot", "relative/path");
    EXPECT_EQ(settings_.liveRoot(), home);
    settings_.setLiveRoot(std::nullopt);
    EXPECT_FALSE(settings_.contains("liveRoot"));
}

TEST_F(SettingsTest, AWrittenValueIsSeenByANewStoreOverTheSameFile) {
    const std::string choice =
        R"({"theme":"Default","appearance":"Dark","tone":"Neutral","highContrast":false,)"
        R"("brightness":100,"intensity":0,"hue":0,"seen":790000000})";
    settings_.setLiveThemeChoice(choice);
    settings_.setSpectrogramChannel(SpectrumChannel::side);
    settings_.setAccentColor(Rgb{0.25, 0.5, 0.75}, ColorArea::meter);
    settings_.recordFirstLaunch();
    ASSERT_TRUE(settings_.flush());
    Settings again(folder_ / "settings.json", clock_, Settings::Writing::manual);
    EXPECT_EQ(again.liveThemeChoice(), choice);
    EXPECT_EQ(again.spectrogramChannel(), SpectrumChannel::side);
    EXPECT_EQ(again.accentColor(ColorArea::meter), (Rgb{0.25, 0.5, 0.75}));
    EXPECT_EQ(again.firstLaunch(), clock_.date());
}

TEST_F(SettingsTest, TheModuleMigrationMovesSlotColoursAndTidiesTheSlots) {
    auto s = over(R"({"window1": "spectrum", "window2": "off", "window3": "spectrum", "window4": "imager",
                      "accentColor.window1": [0.1, 0.2, 0.3], "accentColor.window2": [0.9, 0.9, 0.9],
                      "accentColor.window4": [0.4, 0.5, 0.6], "accentColor.imager": [1, 1, 1],
                      "accentColor.window5": [0.7, 0.7, 0.7], "windowWeight4": 2})");
    s->migrateToModules();
    EXPECT_EQ(s->accentColor(ColorArea::spectrum), (Rgb{0.1, 0.2, 0.3}));
    EXPECT_EQ(s->accentColor(ColorArea::imager), (Rgb{1, 1, 1}));  // an existing colour stays
    for (int slot = 1; slot <= 5; ++slot) EXPECT_FALSE(s->contains("accentColor.window" + std::to_string(slot)));
    EXPECT_EQ(s->string("window1"), "spectrum");
    EXPECT_EQ(s->string("window2"), "imager");
    EXPECT_EQ(s->string("window3"), "off");
    EXPECT_EQ(s->windowWeight(2), 2.0);
    EXPECT_EQ(s->boolean("modulesMigrated"), true);

    // Guarded: a second run changes nothing.
    s->setNumbers("accentColor.window1", {0.5, 0.5, 0.5});
    s->setString("window3", "scope");
    s->migrateToModules();
    EXPECT_TRUE(s->contains("accentColor.window1"));
    EXPECT_EQ(s->string("window3"), "scope");
}

TEST_F(SettingsTest, TheModuleMigrationOfAFreshInstallWritesTheDefaultSlots) {
    settings_.migrateToModules();
    EXPECT_EQ(settings_.string("window1"), "scope");
    EXPECT_EQ(settings_.string("window2"), "history");
    EXPECT_EQ(settings_.moduleOrder(), (Areas{ColorArea::scope, ColorArea::history, ColorArea::meter}));
}

TEST_F(SettingsTest, TheBarColourMigrationGivesEveryModuleWithoutItsOwnColourTheOldOne) {
    auto s = over(R"({"accentColor": [0.2, 0.4, 0.6], "accentColor.scope": [0.1, 0.1, 0.1, 0.1],
                      "accentColor.meter": [0.9, 0.8, 0.7]})");
    s->migrateAwayFromBarColour();
    EXPECT_EQ(s->accentColor(ColorArea::scope), (Rgb{0.2, 0.4, 0.6}));  // four numbers were overwritten
    EXPECT_EQ(s->accentColor(ColorArea::spectrogram), (Rgb{0.2, 0.4, 0.6}));
    EXPECT_EQ(s->accentColor(ColorArea::meter), (Rgb{0.9, 0.8, 0.7}));
    EXPECT_FALSE(s->contains("accentColor"));

    auto broken = over(R"({"accentColor": [0.2, 0.4]})");
    broken->migrateAwayFromBarColour();
    EXPECT_TRUE(broken->contains("accentColor"));
    EXPECT_FALSE(broken->accentColor(ColorArea::scope));
}

TEST_F(SettingsTest, ResetLayoutRestoresTheDefaultModulesAndForgetsSizes) {
    Settings& s = settings_;
    s.setModuleOrder({ColorArea::meter, ColorArea::imager});
    for (int slot = 1; slot <= 5; ++slot) s.setNumber("windowWeight" + std::to_string(slot), 2);
    for (ColorArea area : allCases<ColorArea>()) s.setModuleWidth(area, 300);
    s.setGraphSplit(0.4);
    s.setMeterWidth(200);
    s.setMeterSpread(10);
    s.resetLayout();
    EXPECT_EQ(s.moduleOrder(), (Areas{ColorArea::scope, ColorArea::history, ColorArea::meter}));
    for (int slot = 1; slot <= 5; ++slot) EXPECT_FALSE(s.contains("windowWeight" + std::to_string(slot)));
    for (ColorArea area : allCases<ColorArea>()) EXPECT_FALSE(s.moduleWidth(area));
    EXPECT_FALSE(s.graphSplit());
    EXPECT_FALSE(s.meterWidth());
    EXPECT_EQ(s.meterSpread(), 10.0);  // not a layout size of the reset
}

TEST_F(SettingsTest, SharedCanBePointedAtATestStore) {
    Settings::setSharedForTesting(&settings_);
    EXPECT_EQ(&Settings::shared(), &settings_);
    Settings::setSharedForTesting(nullptr);
    EXPECT_NE(&Settings::shared(), &settings_);
    EXPECT_EQ(Settings::shared().store().file(), Settings::defaultFile());
    EXPECT_EQ(Settings::defaultFile(), fs::path(std::getenv("XDG_CONFIG_HOME")) / "crestline" / "settings.json");
}

TEST(ModuleOptions, RawValuesAndTitlesRoundTrip) {
    EXPECT_EQ(title(ColorArea::history), "Loudness History");
    EXPECT_EQ(title(HistorySource::shortTerm), "Short-term");
    EXPECT_EQ(graphKind(ColorArea::imager), GraphKind::imager);
    EXPECT_FALSE(graphKind(ColorArea::meter));
    EXPECT_FALSE(fromRawValue<ScopeMode>("Mid"));
    for (ScopeWindow w : allCases<ScopeWindow>()) EXPECT_EQ(fromRawValue<ScopeWindow>(rawValue(w)), w);
    EXPECT_EQ(span(ScopeWindow::ms250).amount, 0.25);
    EXPECT_TRUE(isSyncedToLive(ScopeWindow::beat1));
}
