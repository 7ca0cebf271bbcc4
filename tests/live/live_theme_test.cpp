#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "live/live_theme.h"
#include "platform/fake_accessibility.h"
#include "settings/settings.h"
#include "tests/live/fixtures.h"

using namespace crestline;
namespace fx = crestline::fixtures;
namespace fs = std::filesystem;
using LiveTheme::Colour;

namespace {

constexpr double kSaved = 1767225600.0;  // 2026-01-01, the fake clock's wall-clock start

std::string askFile(const std::string& area, const std::string& surface = "#202020",
                    const std::string& control = "#303030", const std::string& extra = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Ableton MajorVersion=\"5\">\n\t<Theme>\n"
           "\t\t<ControlForeground Value=\"#FFFFFF\" />\n"
           "\t\t<SurfaceArea Value=\"" + area + "\" />\n"
           "\t\t<SurfaceBackground Value=\"" + surface + "\" />\n"
           "\t\t<ControlBackground Value=\"" + control + "\" />\n" + extra +
           "\t</Theme>\n</Ableton>\n";
}

class LiveThemeTest : public ::testing::Test {
protected:
    LiveThemeTest()
        : override_(root_.path()),
          settings_(root_ / "config" / "settings.json", clock_, Settings::Writing::manual) {
        Settings::setSharedForTesting(&settings_);
        LiveTheme::resetForTesting();
        LiveTheme::setClock(clock_);
        LiveTheme::setSystemIsDark([this] { return dark_; });
        previousAx_ = setAccessibility(ax_);
        app_ = root_ / "Applications" / "Ableton Live 12 Suite.app";
        appThemes_ = app_ / "Contents" / "App-Resources" / "Themes";
        userThemes_ = root_ / "Music" / "Ableton" / "User Library" / "Themes";
        prefs_ = root_ / "Library" / "Preferences" / "Ableton" / "Live 12.1" / "Preferences.cfg";
        for (const char* tone : {"Cool", "Neutral", "Warm"}) {
            for (const char* contrast : {"Medium", "High"}) {
                fx::writeFile(appThemes_ / ("Default Dark " + std::string(tone) + " " + contrast + ".ask"),
                              askFile("#111111"));
                fx::writeFile(appThemes_ / ("Default Light " + std::string(tone) + " " + contrast + ".ask"),
                              askFile("#E0E0E0"));
            }
        }
        fx::writeFile(appThemes_ / "Default Dark Neutral Medium.ask", askFile("#141414"));
        fx::writeFile(appThemes_ / "Default Light Neutral Medium.ask", askFile("#DADADA"));
        fx::writeFile(appThemes_ / "Default Light Warm High.ask", askFile("#EFE0D0"));
        fx::writeFile(appThemes_ / "Classic Medium Light.ask", askFile("#C0C0C0"));
        fx::writeFile(appThemes_ / "Notes.txt", "not a theme");
        fx::writeFile(userThemes_ / "Dusk.ask", askFile("#303040"));
        fx::writeFile(userThemes_ / "Dusk Blue.ask", askFile("#203050"));
    }
    ~LiveThemeTest() override {
        LiveTheme::resetForTesting();
        setAccessibility(previousAx_);
        Settings::setSharedForTesting(nullptr);
    }

    // Preferences.cfg naming a theme as UTF-16, at an odd or even offset.
    void savePrefs(std::u16string_view theme, double when = kSaved, size_t shift = 1) {
        fx::writeFile(prefs_, fx::preferencesCfg({}, theme, shift));
        fx::setModified(prefs_, when);
    }

    LiveTheme::Choice choiceOf(const std::string& theme, double seenSeconds, const std::string& appearance = "Dark",
                               const std::string& tone = "Neutral", bool contrast = false) {
        LiveTheme::Choice c;
        c.theme = theme;
        c.appearance = appearance;
        c.tone = tone;
        c.highContrast = contrast;
        c.seen = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seenSeconds)));
        return c;
    }
    void remember(const LiveTheme::Choice& choice) {
        settings_.setLiveThemeChoice(choice.json());
        LiveTheme::resetForTesting();
        LiveTheme::setClock(clock_);
        LiveTheme::setSystemIsDark([this] { return dark_; });
    }

    // A Settings window with the seven controls.
    std::map<std::string, std::shared_ptr<FakeAXElement>> openSettingsWindow(int pid) {
        ax_->addWindow(pid, "Song");
        auto window = ax_->addWindow(pid, "Settings");
        auto group = window->addChild();
        std::map<std::string, std::shared_ptr<FakeAXElement>> controls;
        const std::pair<const char*, AXValue> values[] = {
            {"Theme", std::string("Default")}, {"Appearance", std::string("Light")}, {"Tone", std::string("Warm")},
            {"High Contrast", std::string("On")}, {"Brightness", 100.0}, {"Color Intensity", 0.0}, {"Color Hue", 0.0}};
        for (const auto& [label, value] : values) {
            auto control = group->addChild()->addChild();
            control->set("AXDescription", std::string(label));
            control->set("AXValue", value);
            controls[label] = control;
        }
        return controls;
    }

    fx::ScratchFolder root_;
    fx::LiveRootOverride override_;
    FakeClock clock_;
    Settings settings_;
    std::shared_ptr<FakeAccessibility> ax_ = std::make_shared<FakeAccessibility>();
    std::shared_ptr<Accessibility> previousAx_;
    bool dark_ = true;
    fs::path app_, appThemes_, userThemes_, prefs_;
};

}  // namespace

TEST(LiveThemeFiles, ColourEntriesFirstOccurrenceWinsWithAlpha) {
    const std::string text = "<SelectionBackground Value=\"#102030\" />\n"
                             "<SelectionBackground Value=\"#405060\" />\n"
                             "<Tint Value=\"#FFFFFF80\" />\n"
                             "<Bad1 Value=\"#12345\" />\n"
                             "<Bad2 Value=\"#1234567\" />\n"
                             "<Bad3 Value=\"#GG0000\" />\n"
                             "< Value=\"#010101\" />\n"
                             "<a<Nested_1 Value=\"#0a0B0c\"/>\n"
                             "<Cut Value=\"#ABCDEF";
    const auto map = LiveTheme::colours(text);
    ASSERT_EQ(map.size(), 3u);
    EXPECT_EQ(map.at("SelectionBackground"), (Colour{16 / 255.0, 32 / 255.0, 48 / 255.0, 1}));
    EXPECT_EQ(map.at("Tint"), (Colour{1, 1, 1, 128 / 255.0}));
    EXPECT_EQ(map.at("Nested_1"), (Colour{10 / 255.0, 11 / 255.0, 12 / 255.0, 1}));
    EXPECT_TRUE(LiveTheme::colours("").empty());
    EXPECT_TRUE(LiveTheme::colours(std::string(100000, '<')).empty());

    EXPECT_EQ(LiveTheme::colour("Tint", text), (Colour{1, 1, 1, 1}));  // alpha ignored here
    EXPECT_FALSE(LiveTheme::colour("Bad1", text));
    EXPECT_EQ(LiveTheme::colour("Cut", text)->hex(), "#ABCDEF");  // six digits suffice here
    EXPECT_FALSE(map.contains("Cut"));                            // but an entry needs its quote
    EXPECT_FALSE(LiveTheme::colour("Cut", "<Cut Value=\"#ABCDE"));
    EXPECT_FALSE(LiveTheme::colour("Missing", text));
    EXPECT_EQ(LiveTheme::colour("SelectionBackground", text)->hex(), "#102030");
}

TEST(LiveThemeFiles, PreferencesTextFindsNamesAtBothAlignments) {
    for (size_t shift : {0u, 1u, 2u, 3u}) {
        const std::string bytes = std::string(shift, 'x') + fx::record(u"Dusk \u00e9\U0001F3B5");
        const std::string text = LiveTheme::preferencesText(bytes);
        EXPECT_NE(text.find("Dusk \xC3\xA9\xF0\x9F\x8E\xB5"), std::string::npos) << shift;
    }
    // Lone surrogates and a trailing odd byte do not stop the decoding.
    const std::string broken = std::string("\x00\xD8" "A\x00" "\x00\xDC" "B\x00" "\x07", 9);
    EXPECT_EQ(LiveTheme::preferencesText(broken).substr(0, 8), "\xEF\xBF\xBD" "A" "\xEF\xBF\xBD" "B");
}

TEST(LiveThemeChoice, StoresAsJsonWithEveryKeyRequired) {
    LiveTheme::Choice c;
    c.theme = "Dusk";
    c.appearance = "Dark";
    c.tone = "Warm";
    c.highContrast = true;
    c.brightness = 90;
    c.intensity = 10;
    c.hue = -5;
    c.seen = std::chrono::system_clock::time_point(std::chrono::seconds(978307200 + 100));
    const auto json = nlohmann::json::parse(c.json());
    EXPECT_EQ(json["seen"], 100.0);
    EXPECT_EQ(json["theme"], "Dusk");
    const auto back = LiveTheme::Choice::fromJson(c.json());
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->sameAs(c));
    EXPECT_EQ(back->seen, c.seen);
    auto without = json;
    without.erase("hue");
    EXPECT_FALSE(LiveTheme::Choice::fromJson(without.dump()));
    auto wrongType = json;
    wrongType["highContrast"] = 1;
    EXPECT_FALSE(LiveTheme::Choice::fromJson(wrongType.dump()));
    EXPECT_FALSE(LiveTheme::Choice::fromJson("[1]"));
    EXPECT_FALSE(LiveTheme::Choice::fromJson("{"));
    auto other = c;
    other.seen += std::chrono::hours(1);
    EXPECT_TRUE(other.sameAs(c));
    other.hue = 1;
    EXPECT_FALSE(other.sameAs(c));
}

TEST_F(LiveThemeTest, DefaultsFollowTheSystemAppearance) {
    savePrefs(u"");
    dark_ = true;
    auto colours = LiveTheme::current();
    ASSERT_TRUE(colours);
    EXPECT_EQ(colours->area.hex(), "#141414");
    EXPECT_FALSE(colours->isLight);
    EXPECT_EQ(colours->all.size(), 4u);
    dark_ = false;
    colours = LiveTheme::current();
    ASSERT_TRUE(colours);
    EXPECT_EQ(colours->area.hex(), "#DADADA");
    EXPECT_TRUE(colours->isLight);
}

TEST_F(LiveThemeTest, TheLongerUserThemeNameWins) {
    savePrefs(u"Dusk Blue");
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#203050");
    savePrefs(u"Dusk", kSaved + 10, 0);
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#303040");
}

TEST_F(LiveThemeTest, TheNewestPreferencesFolderIsUsed) {
    savePrefs(u"Dusk");
    const auto older = root_ / "Library" / "Preferences" / "Ableton" / "Live 11.3" / "Preferences.cfg";
    fx::writeFile(older, fx::preferencesCfg({}, u"Dusk Blue"));
    fx::setModified(older, kSaved - 100);
    fx::writeFile(root_ / "Library" / "Preferences" / "Ableton" / "Other" / "Preferences.cfg",
                  fx::preferencesCfg({}, u"Dusk Blue"));
    EXPECT_EQ(LiveTheme::newestPreferences(), prefs_);
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#303040");
    fx::setModified(older, kSaved + 100);
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#203050");
}

TEST_F(LiveThemeTest, RememberedChoiceBuildsTheDefaultName) {
    savePrefs(u"");
    remember(choiceOf("Default", kSaved, "Light", "Warm", true));
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#EFE0D0");  // Default Light Warm High
    remember(choiceOf("Default", kSaved, "Dark", "Purple", false));
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#141414");  // unknown tone: Neutral
    dark_ = false;
    remember(choiceOf("Default", kSaved, "Follow System", "Neutral", false));
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#DADADA");
}

TEST_F(LiveThemeTest, ChoiceWinsUntilTheFileIsSavedMoreThanTwoSecondsLater) {
    remember(choiceOf("Dusk", kSaved));
    savePrefs(u"Dusk Blue", kSaved + 1);
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#303040");  // the choice
    savePrefs(u"Dusk Blue", kSaved + 3);
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#203050");  // the file
    // A file that agrees with the choice keeps it in force.
    savePrefs(u"Dusk", kSaved + 30);
    EXPECT_EQ(LiveTheme::current()->area.hex(), "#303040");
}

TEST_F(LiveThemeTest, LightnessThresholdIsStrictlyAboveFourTenths) {
    fx::writeFile(userThemes_ / "Grey 41.ask", askFile("#696969"));  // 105/255 = 0.41
    fx::writeFile(userThemes_ / "Grey 40.ask", askFile("#666666"));  // 102/255 = 0.40
    savePrefs(u"Grey 41");
    EXPECT_TRUE(LiveTheme::current()->isLight);
    savePrefs(u"Grey 40", kSaved + 5);
    EXPECT_FALSE(LiveTheme::current()->isLight);
}

TEST_F(LiveThemeTest, MissingPiecesGiveNoColours) {
    EXPECT_FALSE(LiveTheme::current());  // no Preferences.cfg
    fx::writeFile(userThemes_ / "Broken.ask", "<SurfaceArea Value=\"#101010\" />");
    savePrefs(u"Broken");
    EXPECT_FALSE(LiveTheme::current());
    savePrefs(u"Dusk", kSaved + 5);
    EXPECT_TRUE(LiveTheme::current());
    fs::remove_all(app_);
    savePrefs(u"Dusk", kSaved + 6);
    EXPECT_FALSE(LiveTheme::current());
    EXPECT_TRUE(LiveTheme::bundled("Classic Medium Light").empty());
}

TEST_F(LiveThemeTest, TheCacheKeyDecidesWhenToReadAgain) {
    savePrefs(u"Dusk");
    const auto start = LiveTheme::generation();
    const auto first = LiveTheme::current();
    EXPECT_EQ(LiveTheme::generation(), start + 1);
    EXPECT_EQ(LiveTheme::current(), first);
    EXPECT_EQ(LiveTheme::generation(), start + 1);
    fx::setModified(prefs_, kSaved + 1);
    LiveTheme::current();
    EXPECT_EQ(LiveTheme::generation(), start + 2);
    dark_ = !dark_;
    LiveTheme::current();
    EXPECT_EQ(LiveTheme::generation(), start + 3);
}

TEST_F(LiveThemeTest, BundledThemesAndReferences) {
    EXPECT_EQ(LiveTheme::bundled("Classic Medium Light").at("SurfaceArea").hex(), "#C0C0C0");
    EXPECT_TRUE(LiveTheme::bundled("No Such Theme").empty());
}

TEST_F(LiveThemeTest, SettingsWindowChoiceIsReadStoredAndWatched) {
    const int pid = 77;
    savePrefs(u"");
    auto controls = openSettingsWindow(pid);
    int changes = 0;
    int dispatched = 0;
    LiveTheme::setOnChange([&] { ++changes; });
    LiveTheme::setMainThreadDispatcher([&](std::function<void()> task) {
        ++dispatched;
        task();
    });

    EXPECT_TRUE(LiveTheme::readSettings(pid));
    EXPECT_EQ(LiveTheme::controlLabels().size(), 7u);
    EXPECT_EQ(ax_->app(pid)->messagingTimeout(), 0.25);
    const auto stored = LiveTheme::Choice::fromJson(settings_.liveThemeChoice().value_or(""));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->theme, "Default");
    EXPECT_EQ(stored->appearance, "Light");
    EXPECT_TRUE(stored->highContrast);
    EXPECT_EQ(stored->seen, clock_.date());
    const auto before = LiveTheme::current();
    ASSERT_TRUE(before);
    EXPECT_EQ(before->area.hex(), "#EFE0D0");
    const auto generation = LiveTheme::generation();

    // Nothing changed: no new choice.
    EXPECT_FALSE(LiveTheme::readSettings(pid));
    // Only the hue moves: a new choice and a new generation, same colours.
    controls["Color Hue"]->set("AXValue", 12.0);
    EXPECT_EQ(ax_->post(controls["Color Hue"], "AXValueChanged"), 1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(dispatched, 1);
    EXPECT_TRUE(LiveTheme::readSettings(pid));
    EXPECT_EQ(LiveTheme::choice()->hue, 12.0);
    EXPECT_EQ(LiveTheme::current(), before);
    EXPECT_EQ(LiveTheme::generation(), generation + 1);

    // While a mouse button is held nothing is read.
    controls["Tone"]->set("AXValue", std::string("Cool"));
    bool pressed = true;
    LiveTheme::setMouseButtonsPressed([&] { return pressed; });
    EXPECT_FALSE(LiveTheme::readSettings(pid));
    pressed = false;
    EXPECT_TRUE(LiveTheme::readSettings(pid));

    // The window closes: the controls and their observer are dropped.
    controls["Brightness"]->fail("AXValue", AXError::invalidElement);
    EXPECT_FALSE(LiveTheme::readSettings(pid));
    EXPECT_TRUE(LiveTheme::controlLabels().empty());
    EXPECT_EQ(ax_->liveObservers(), 0);
}

TEST_F(LiveThemeTest, SearchesForTheSettingsWindowAtMostTwiceASecond) {
    const int pid = 78;
    auto song = ax_->addWindow(pid, "Song");
    EXPECT_FALSE(LiveTheme::readSettings(pid));
    const int asked = ax_->app(pid)->requests();
    clock_.advance(0.3);
    EXPECT_FALSE(LiveTheme::readSettings(pid));
    EXPECT_EQ(ax_->app(pid)->requests(), asked);
    clock_.advance(0.3);
    EXPECT_FALSE(LiveTheme::readSettings(pid));
    EXPECT_EQ(ax_->app(pid)->requests(), asked + 1);

    // A Settings window without a "Theme" control is not Live's.
    auto window = ax_->addWindow(pid, "Settings");
    auto tone = window->addChild();
    tone->set("AXDescription", std::string("Tone"));
    tone->set("AXValue", std::string("Neutral"));
    clock_.advance(1);
    EXPECT_FALSE(LiveTheme::readSettings(pid));
    EXPECT_TRUE(LiveTheme::controlLabels().empty());

    // Controls deeper than five levels are not looked at.
    auto deep = window->addChild();
    for (int i = 0; i < 5; ++i) deep = deep->addChild();
    deep->set("AXDescription", std::string("Theme"));
    deep->set("AXValue", std::string("Dusk"));
    clock_.advance(1);
    EXPECT_FALSE(LiveTheme::readSettings(pid));
    auto shallow = window->addChild();
    shallow->set("AXDescription", std::string("Theme"));
    shallow->set("AXValue", std::string("Dusk"));
    clock_.advance(1);
    EXPECT_TRUE(LiveTheme::readSettings(pid));
    EXPECT_EQ(LiveTheme::choice()->tone, "Neutral");
    EXPECT_EQ(LiveTheme::choice()->appearance, "Follow System");
    EXPECT_EQ(LiveTheme::choice()->brightness, 100.0);
    EXPECT_FALSE(LiveTheme::choice()->highContrast);
}
