#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/clock.h"
#include "tests/settings/test_folder.h"

using namespace crestline;
using namespace crestline::test;
namespace fs = std::filesystem;

namespace {

using Areas = std::vector<ColorArea>;
using Kinds = std::vector<GraphKind>;
using Strings = std::vector<std::string_view>;
const Areas kDefaultModules{ColorArea::scope, ColorArea::history, ColorArea::meter};

class SettingsTest : public ::testing::Test {
protected:
    fs::path folder_ = freshFolder();
    FakeClock clock_;
    Settings settings_{folder_ / "settings.json", clock_, Settings::Writing::manual};

    // A store over a file written by hand (or by an older version).
    std::unique_ptr<Settings> over(const std::string& json) {
        writeFile(folder_ / "given.json", json);
        return std::make_unique<Settings>(folder_ / "given.json", clock_, Settings::Writing::manual);
    }
};

// Every accessor's documented default, and every optional one absent.
void expectDefaults(const Settings& s, const char* store) {
    SCOPED_TRACE(store);
    EXPECT_EQ((Strings{rawValue(s.barMode()), rawValue(s.scopeWindow()), rawValue(s.scopeMode()),
                       rawValue(s.scopeColorMap()), rawValue(s.spectrumChannel()), rawValue(s.spectrogramChannel()),
                       rawValue(s.spectrogramRange()), rawValue(s.spectrogramColorMap()), rawValue(s.imagerMode())}),
              (Strings{"pinned", "ms40", "mid", "module", "stereo", "stereo", "normal", "module", "polarSample"}));
    EXPECT_EQ((std::vector{s.barHeight(), s.floatingWidth(), s.floatingHeight(), s.spectrogramSeconds(),
                           s.historyMinutes(), s.spectrumTilt(), s.spectrogramTilt()}),
              (std::vector{36.0, 900.0, 36.0, 60.0, 1.0, 0.0, 0.0}));
    EXPECT_EQ(s.moduleOrder(), kDefaultModules);
    EXPECT_EQ(s.historyShows(), (std::vector{HistorySource::shortTerm, HistorySource::integrated}));
    EXPECT_FALSE(s.floatingOrigin() || s.liveMinimumHeight() || s.targetLUFS() || s.historyTargetLUFS() ||
                 s.customTargetLUFS() || s.meterIndex() || s.meterSpread() || s.graphSplit() || s.meterWidth() ||
                 s.firstLaunch() || s.liveThemeChoice() || s.window(3) || s.window(4) || s.window(5));
    EXPECT_TRUE(s.showHistory() && s.fitAbleton() && s.followAbleton() && s.showTimelineMarks() &&
                s.autoResetAfterSilence() && s.historyPeakMarks());
    EXPECT_FALSE(s.listenToAll() || s.quitWithAbleton() || s.showHints() || s.spectrumPeakHold() ||
                 s.historyDynamics());
    for (MeterPart part : allCases<MeterPart>()) EXPECT_TRUE(s.showMeterPart(part)) << rawValue(part);
    for (int slot = 1; slot <= Settings::kGraphSlots; ++slot) EXPECT_EQ(s.windowWeight(slot), 1.0) << slot;
    for (ColorArea area : allCases<ColorArea>()) {
        EXPECT_FALSE(s.accentColor(area) || s.moduleWidth(area) || s.freezeOnHover(area)) << rawValue(area);
    }
}

// The five graph slots as stored (the kind, "-" when absent, and "*weight" when
// one is stored), then the meter's place: "scope history off off off | meter at 1".
std::string layout(const Settings& s) {
    std::string out;
    for (int slot = 1; slot <= Settings::kGraphSlots; ++slot) {
        out += (slot > 1 ? " " : "") + s.string("window" + std::to_string(slot)).value_or("-");
        if (const auto weight = s.number("windowWeight" + std::to_string(slot))) {
            out += "*" + std::to_string(static_cast<int>(*weight));
        }
    }
    out += s.boolean("showMeter") == false ? " | no meter" : " | meter";
    if (const auto index = s.integer("meterIndex")) out += " at " + std::to_string(*index);
    return out;
}

}  // namespace

TEST_F(SettingsTest, AFreshStoreAndWrongTypedOutOfRangeOrUnknownValuesGiveTheDefaultsAndRangesIncludeTheirEdges) {
    expectDefaults(settings_, "fresh");
    expectDefaults(*over(R"({"barMode": "sideways", "barHeight": 27, "floatingWidth": 319, "floatingHeight": 0,
        "floatingX": 1e300, "liveMinimumHeight": 0, "listenToAll": 1, "showTimelineMarks": "no",
        "historyMinutes": 10.5, "spectrogramSeconds": 601, "windowWeight1": 1001, "windowWeight2": 0,
        "meterSpread": 61, "graphSplit": 1.5, "meterWidth": 16385, "moduleWidth.scope": -3, "targetLUFS": -70.5,
        "customTargetLUFS": 1, "spectrumTilt": 1e9, "spectrogramTilt": -24.5, "accentColor.scope": [1.01, 0, 0],
        "accentColor.imager": [0.5, 0.5], "scopeMode": "Mid", "scopeColorMap": "heat", "spectrumChannel": 4,
        "spectrogramColorMap": "frequency", "spectrogramRange": "huge", "imagerMode": "dots",
        "historyShows": "momentary", "freezeOnHover.imager": "yes", "meterPart.psr": 0, "firstLaunch": 790000000,
        "meterIndex": "0", "liveThemeChoice": "{}"})"), "bad values");
    // Ranges include their edges.
    auto s = over(R"({"barHeight": 2000, "floatingHeight": 28, "historyMinutes": 10, "spectrogramSeconds": 600,
                      "meterSpread": 0, "targetLUFS": 0, "customTargetLUFS": -70, "spectrumTilt": -24,
                      "accentColor.scope": [0, 1, 0.5], "floatingX": 10})");
    EXPECT_EQ((std::vector{s->barHeight(), s->floatingHeight(), s->historyMinutes(), s->spectrogramSeconds(),
                           s->meterSpread().value_or(9), s->targetLUFS().value_or(9), s->customTargetLUFS().value_or(9),
                           s->spectrogramTilt()}),
              (std::vector{2000.0, 28.0, 10.0, 600.0, 0.0, 0.0, -70.0, -24.0}));  // the spectrum's tilt
    EXPECT_EQ(s->accentColor(ColorArea::scope), (Rgb{0, 1, 0.5}));
    EXPECT_EQ(s->floatingOrigin(), (Point{10, 0}));  // the origin exists with "floatingX" alone
}

TEST_F(SettingsTest, OlderKeysAreReadWhereTheNewOnesAreAbsent) {
    // Milliseconds: the nearest triggered window, the earlier on a tie; a valid new key wins.
    for (const auto& [json, expected] : std::vector<std::pair<std::string, std::string_view>>{
             {"30", "ms40"}, {"200", "ms250"}, {"5000", "ms250"}, {"25", "ms10"}, {"0", "ms40"}, {"-5", "ms40"},
             {"\"100\"", "ms40"}, {"70", "ms40"}, {"71", "ms100"}, {"10, \"scopeWindow\": \"bars8\"", "bars8"},
             {"10, \"scopeWindow\": \"bars9\"", "ms10"}}) {
        EXPECT_EQ(rawValue(over(R"({"scopeWindowMs": )" + json + "}")->scopeWindow()), expected) << json;
    }
    // Slots 1 and 2 fall back to the older keys until the slot is stored, even as "off" or unknown text;
    // a slot of the wrong type counts as absent.
    for (const auto& [json, slot, expected] : std::vector<std::tuple<std::string, int, std::string_view>>{
             {R"({"showScope": false, "graphView": "spectrum"})", 1, "-"},
             {R"({"graphView": "spectrum"})", 1, "spectrum"},
             {R"({"showScope": true, "graphView": "other"})", 1, "scope"},
             {R"({"showHistory": false})", 2, "-"},
             {R"({"historyView": "spectrogram"})", 2, "spectrogram"},
             {R"({"window1": "off", "graphView": "spectrum"})", 1, "-"},
             {R"({"window2": "meter"})", 2, "-"},
             {R"({"window1": "imager"})", 1, "imager"},
             {R"({"window1": 3, "graphView": "spectrum"})", 1, "spectrum"}}) {
        const auto kind = over(json)->window(slot);
        EXPECT_EQ(kind ? rawValue(*kind) : "-", expected) << json;
    }
    EXPECT_FALSE(over(R"({"window2": "off", "window3": "off"})")->showHistory());
    EXPECT_TRUE(over(R"({"window2": "off", "window5": "imager"})")->showHistory());
    EXPECT_FALSE(settings_.window(0) || settings_.window(6));

    auto s = over(R"({"scopeFreeze": true, "spectrumFreeze": true})");
    EXPECT_TRUE(s->freezeOnHover(ColorArea::scope) && s->spectrumPeakHold());
    EXPECT_FALSE(s->freezeOnHover(ColorArea::imager));
    s->setFreezeOnHover(ColorArea::scope, false);
    s->setSpectrumPeakHold(false);
    EXPECT_FALSE(s->freezeOnHover(ColorArea::scope) || s->spectrumPeakHold());
    EXPECT_TRUE(s->boolean("scopeFreeze").value_or(false));  // never rewritten
}

TEST_F(SettingsTest, TheGraphOrderDropsGapsAndRepeatsAndTheMeterGoesWhereItsIndexSays) {
    auto s = over(R"({"window1": "off", "window2": "spectrum", "window3": "spectrum", "window4": "scope",
                      "meterIndex": 1})");
    EXPECT_EQ(s->graphOrder(), (Kinds{GraphKind::spectrum, GraphKind::scope}));
    EXPECT_EQ(s->moduleOrder(), (Areas{ColorArea::spectrum, ColorArea::meter, ColorArea::scope}));
    s->setInteger("meterIndex", 2);  // after the last graph
    EXPECT_EQ(s->meterIndex(), 2);
    for (int beyond : {3, -1}) {  // reads as absent: the meter goes last
        s->setInteger("meterIndex", beyond);
        EXPECT_FALSE(s->meterIndex());
        EXPECT_EQ(s->moduleOrder(), (Areas{ColorArea::spectrum, ColorArea::scope, ColorArea::meter}));
    }
    s->setBool("showMeter", false);
    EXPECT_EQ(s->moduleOrder(), (Areas{ColorArea::spectrum, ColorArea::scope}));
}

TEST_F(SettingsTest, SetModuleOrderStoresTheMetersPlaceAmongTheGraphs) {
    Settings& s = settings_;
    s.setModuleOrder({ColorArea::meter, ColorArea::scope});
    EXPECT_EQ(layout(s), "scope off off off off | meter at 0");
    const Areas four{ColorArea::spectrum, ColorArea::meter, ColorArea::imager, ColorArea::history};
    s.setModuleOrder(four);
    EXPECT_EQ(layout(s), "spectrum imager history off off | meter at 1");
    EXPECT_EQ(s.moduleOrder(), four);
    s.setModuleOrder({ColorArea::scope, ColorArea::meter});
    EXPECT_EQ(layout(s), "scope off off off off | meter");
    EXPECT_EQ(s.boolean("showMeter"), true);

    s.setInteger("meterIndex", 0);
    s.setModuleOrder({ColorArea::scope});
    EXPECT_EQ(layout(s), "scope off off off off | no meter at 0");  // the index is left as it was
    EXPECT_FALSE(s.showIntegrated());  // every meter part hides with the meter
    EXPECT_EQ(s.moduleOrder(), (Areas{ColorArea::scope}));
}

TEST_F(SettingsTest, SetGraphOrderAndSetShownKeepEveryGraphsWidthShare) {
    Settings& s = settings_;
    s.setModuleOrder({ColorArea::scope, ColorArea::spectrum, ColorArea::meter});
    const int weights[] = {2, 3, 9, 4};
    for (int slot = 1; slot <= 4; ++slot) s.setNumber("windowWeight" + std::to_string(slot), weights[slot - 1]);
    s.setGraphOrder({GraphKind::spectrum, GraphKind::scope});
    EXPECT_EQ(layout(s), "spectrum*3 scope*2 off off off | meter");  // an empty slot's weight is not carried
    // A graph that had no weight gets none; a stored 0 or less is carried as 1.
    s.setNumber("windowWeight2", -4);
    s.setGraphOrder({GraphKind::imager, GraphKind::scope, GraphKind::spectrum});
    EXPECT_EQ(layout(s), "imager scope*1 spectrum*3 off off | meter");
    s.setShown(GraphKind::history, true);
    EXPECT_EQ(layout(s), "imager scope*1 spectrum*3 history off | meter");
    s.setShown(GraphKind::imager, false);
    s.setShown(GraphKind::scope, true);  // moves it to the end
    EXPECT_EQ(layout(s), "spectrum*3 history scope*1 off off | meter");
}

TEST_F(SettingsTest, TheHistoryKeepsTheFixedOrderOfItsLinesAndFollowsTheMetersTargetUntilGivenItsOwn) {
    EXPECT_EQ(over(R"({"historyShows": ["psr", "momentary"]})")->historyShows(),
              std::vector<HistorySource>{HistorySource::momentary});
    EXPECT_EQ(over(R"({"historyShows": ["integrated", "truePeak", "shortTerm", "momentary", "integrated"]})")
                  ->historyShows(),
              (std::vector{HistorySource::momentary, HistorySource::shortTerm, HistorySource::integrated}));

    // The history's target follows the meter's until chosen on its own.
    Settings& s = settings_;
    s.setTargetLUFS(-14.0);
    EXPECT_EQ(s.historyTargetLUFS(), -14.0);
    s.setHistoryTargetLUFS(-10.0);
    EXPECT_EQ(s.boolean("historyTargetChosen"), true);
    EXPECT_EQ(s.historyTargetLUFS(), -10.0);
    s.setHistoryTargetLUFS(std::nullopt);  // no line, even though the meter has a target
    EXPECT_FALSE(s.contains("historyTargetLUFS") || s.historyTargetLUFS());
    EXPECT_EQ(s.targetLUFS(), -14.0);
    s.setTargetLUFS(std::nullopt);
    EXPECT_FALSE(s.contains("targetLUFS"));
}

TEST_F(SettingsTest, OutputSourcesAreStoredPerDeviceAsText) {
    settings_.setOutputSource(TapSource::pair(3), "alsa_output.usb-RME");
    settings_.setOutputSource(TapSource::automatic(), "hdmi");
    EXPECT_EQ(settings_.string("outputSource.alsa_output.usb-RME"), "pair:3");
    EXPECT_EQ(settings_.string("outputSource.hdmi"), "auto");
    EXPECT_EQ(settings_.outputSource("alsa_output.usb-RME"), TapSource::pair(3));
    EXPECT_FALSE(settings_.outputSource("never-seen"));
    // Plain decimal digits only; anything else is automatic.
    for (const auto& [text, read] : std::vector<std::pair<std::string, std::string>>{
             {"mixdown", "mixdown"}, {"pair:0", "pair:0"}, {"pair:012", "pair:12"}, {"pair:", "auto"},
             {"pair:ab", "auto"}, {"pair:3x", "auto"}, {"pair: 3", "auto"}, {"pair:-1", "auto"},
             {"pair:+2", "auto"}, {"pair:99999999999", "auto"}, {"Mixdown", "auto"}, {"", "auto"}}) {
        EXPECT_EQ(Settings::sourceText(Settings::source(text)), read) << text;
    }
}

TEST_F(SettingsTest, TheLiveRootIsAnAbsoluteFolderOrTheHomeFolder) {
    const fs::path home = std::getenv("HOME");
    EXPECT_EQ(settings_.liveRoot(), home);
    for (const auto& [stored, root] : std::vector<std::pair<std::string, fs::path>>{
             {"/srv/wine/drive_c/users/me", "/srv/wine/drive_c/users/me"},
             {"~/recorded/live", home / "recorded/live"},
             {"relative/path", home}}) {
        settings_.setString("liveRoot", stored);
        EXPECT_EQ(settings_.liveRoot(), root) << stored;
    }
    settings_.setLiveRoot(std::nullopt);
    EXPECT_FALSE(settings_.contains("liveRoot"));
}

TEST_F(SettingsTest, WrittenValuesAndTheFirstLaunchAreSeenByANewStoreOverTheSameFile) {
    const std::string choice = R"({"theme":"Default","appearance":"Dark","highContrast":false,"seen":790000000})";
    settings_.setLiveThemeChoice(choice);
    settings_.setAccentColor(Rgb{0.25, 0.5, 0.75}, ColorArea::meter);
    settings_.recordFirstLaunch();
    const auto first = clock_.date();
    clock_.advance(86400);
    settings_.recordFirstLaunch();  // recorded once
    ASSERT_TRUE(settings_.flush());
    Settings again(folder_ / "settings.json", clock_, Settings::Writing::manual);
    EXPECT_EQ(again.liveThemeChoice(), choice);
    EXPECT_EQ(again.accentColor(ColorArea::meter), (Rgb{0.25, 0.5, 0.75}));
    EXPECT_EQ(again.firstLaunch(), first);
}

TEST_F(SettingsTest, MigrationsMoveSlotAndBarColoursToTheModulesAndTidyTheSlotsOnce) {
    settings_.migrateToModules();  // a fresh install gets the default slots written
    EXPECT_EQ(layout(settings_), "scope history off off off | meter");

    auto s = over(R"({"window1": "spectrum", "window2": "off", "window3": "spectrum", "window4": "imager",
                      "accentColor.window1": [0.1, 0.2, 0.3], "accentColor.window2": [0.9, 0.9, 0.9],
                      "accentColor.window4": [0.4, 0.5, 0.6], "accentColor.imager": [1, 1, 1],
                      "accentColor.window5": [0.7, 0.7, 0.7], "windowWeight4": 2})");
    s->migrateToModules();
    EXPECT_EQ(s->accentColor(ColorArea::spectrum), (Rgb{0.1, 0.2, 0.3}));
    EXPECT_EQ(s->accentColor(ColorArea::imager), (Rgb{1, 1, 1}));  // an existing colour stays
    for (int slot = 1; slot <= 5; ++slot) EXPECT_FALSE(s->contains("accentColor.window" + std::to_string(slot)));
    EXPECT_EQ(layout(*s), "spectrum imager*2 off off off | meter");
    EXPECT_EQ(s->boolean("modulesMigrated"), true);

    // Guarded: a second run changes nothing.
    s->setNumbers("accentColor.window1", {0.5, 0.5, 0.5});
    s->setString("window3", "scope");
    s->migrateToModules();
    EXPECT_TRUE(s->contains("accentColor.window1"));
    EXPECT_EQ(layout(*s), "spectrum imager*2 scope off off | meter");

    // The bar's one colour goes to every module without a colour of its own.
    s = over(R"({"accentColor": [0.2, 0.4, 0.6], "accentColor.scope": [0.1, 0.1, 0.1, 0.1],
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
    EXPECT_EQ(layout(s), "scope history off off off | meter");
    for (ColorArea area : allCases<ColorArea>()) EXPECT_FALSE(s.moduleWidth(area));
    EXPECT_FALSE(s.graphSplit() || s.meterWidth());
    EXPECT_EQ(s.meterSpread(), 10.0);  // not a layout size of the reset
}

TEST_F(SettingsTest, TheSharedStoreLivesInTheUsersConfigFolder) {
    EXPECT_EQ(Settings::shared().store().file(), fs::path(std::getenv("XDG_CONFIG_HOME")) / "crestline/settings.json");
}
