#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "live/live_theme.h"
#include "platform/fake_accessibility.h"
#include "settings/settings.h"
#include "tests/live/fixtures.h"

using namespace crestline;
namespace fx = crestline::fixtures;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using LiveTheme::Choice;
using LiveTheme::Colour;

namespace {

constexpr double kSaved = 1767225600.0;  // 2026-01-01, the fake clock's wall-clock start

class LiveThemeTest : public ::testing::Test {
protected:
    LiveThemeTest()
        : override_(root_.path()), settings_(root_ / "config" / "settings.json", clock_, Settings::Writing::manual) {
        Settings::setSharedForTesting(&settings_);
        previousAx_ = setAccessibility(ax_);
        reset();
        // Neighbours of the expected default themes in another colour, so a
        // wrong name shows.
        for (const auto& [name, area] : {std::pair{"Dark Neutral Medium", "#141414"}, {"Dark Cool Medium", "#111111"},
                                         {"Dark Neutral High", "#111111"}, {"Light Neutral Medium", "#DADADA"},
                                         {"Light Warm High", "#EFE0D0"}, {"Light Warm Medium", "#E0E0E0"}}) {
            fx::writeFile(appThemes_ / ("Default " + std::string(name) + ".ask"), fx::askTheme(area));
        }
        fx::writeFile(appThemes_ / "Classic Medium Light.ask", fx::askTheme("#C0C0C0"));
        fx::writeFile(appThemes_ / "Notes.txt", "not a theme");
        fx::writeFile(userThemes_ / "Dusk.ask", fx::askTheme("#303040"));
        fx::writeFile(userThemes_ / "Dusk Blue.ask", fx::askTheme("#203050"));
    }
    ~LiveThemeTest() override {
        LiveTheme::resetForTesting();
        setAccessibility(previousAx_);
        Settings::setSharedForTesting(nullptr);
    }
    void reset() {
        LiveTheme::resetForTesting();
        LiveTheme::setClock(clock_);
        LiveTheme::setSystemIsDark([this] { return dark_; });
    }

    // Preferences.cfg naming a theme as UTF-16, at an odd or even offset.
    void savePrefs(std::u16string_view theme, double when = kSaved, size_t shift = 1) {
        fx::writeFile(prefs_, fx::preferencesCfg({}, theme, shift));
        fx::setModified(prefs_, when);
    }
    // A choice seen in Live's Settings window when the preferences were saved.
    void remember(std::string theme, std::string appearance = "Dark", std::string tone = "Neutral", bool contrast = false) {
        settings_.setLiveThemeChoice(Choice{theme, appearance, tone, contrast, 100, 0, 0, clock_.date()}.json());
        reset();
    }
    // A Settings-window control as the accessibility layer shows it.
    static std::shared_ptr<FakeAXElement> control(std::shared_ptr<FakeAXElement> element, const char* label, AXValue value) {
        element->set("AXDescription", std::string(label));
        element->set("AXValue", std::move(value));
        return element;
    }
    static std::string area() {
        const auto colours = LiveTheme::current();
        return colours ? colours->area.hex() : "none";
    }

    fx::ScratchFolder root_;
    fx::LiveRootOverride override_;
    FakeClock clock_;
    Settings settings_;
    std::shared_ptr<FakeAccessibility> ax_ = std::make_shared<FakeAccessibility>();
    std::shared_ptr<Accessibility> previousAx_;
    bool dark_ = true;
    fs::path app_ = root_ / "Applications" / "Ableton Live 12 Suite.app";
    fs::path appThemes_ = app_ / "Contents" / "App-Resources" / "Themes";
    fs::path userThemes_ = root_ / "Music" / "Ableton" / "User Library" / "Themes";
    fs::path prefs_ = root_ / "Library" / "Preferences" / "Ableton" / "Live 12.1" / "Preferences.cfg";
};

}  // namespace

TEST(LiveThemeFiles, ColourEntriesFirstOccurrenceWinsWithAlphaAndPreferencesTextAtBothAlignments) {
    const std::string text = "<SelectionBackground Value=\"#102030\" />\n<SelectionBackground Value=\"#405060\" />\n"
                             "<Tint Value=\"#FFFFFF80\" />\n<Bad1 Value=\"#12345\" />\n<Bad2 Value=\"#1234567\" />\n"
                             "<Bad3 Value=\"#GG0000\" />\n< Value=\"#010101\" />\n<a<Nested_1 Value=\"#0a0B0c\"/>\n"
                             "<Cut Value=\"#ABCDEF";
    EXPECT_EQ(LiveTheme::colours(text), (LiveTheme::ColourMap{{"SelectionBackground", {16 / 255.0, 32 / 255.0, 48 / 255.0}},
                                                              {"Tint", {1, 1, 1, 128 / 255.0}},
                                                              {"Nested_1", {10 / 255.0, 11 / 255.0, 12 / 255.0}}}));
    EXPECT_TRUE(LiveTheme::colours("").empty());
    EXPECT_TRUE(LiveTheme::colours(std::string(100000, '<')).empty());

    EXPECT_EQ(LiveTheme::colour("Tint", text), (Colour{1, 1, 1, 1}));  // alpha ignored here
    EXPECT_EQ(LiveTheme::colour("SelectionBackground", text)->hex(), "#102030");
    EXPECT_EQ(LiveTheme::colour("Cut", text)->hex(), "#ABCDEF");  // six digits suffice here
    EXPECT_FALSE(LiveTheme::colour("Cut", "<Cut Value=\"#ABCDE"));
    EXPECT_FALSE(LiveTheme::colour("Bad1", text));
    EXPECT_FALSE(LiveTheme::colour("Missing", text));

    // Preferences.cfg: names in UTF-16 at either alignment.
    for (size_t shift : {0u, 1u}) {
        const std::string prefs = LiveTheme::preferencesText(std::string(shift, 'x') + fx::record(u"Dusk \u00e9\U0001F3B5"));
        EXPECT_NE(prefs.find("Dusk \xC3\xA9\xF0\x9F\x8E\xB5"), std::string::npos) << shift;
    }
    // Lone surrogates and a trailing odd byte do not stop the decoding.
    const std::string broken = std::string("\x00\xD8" "A\x00" "\x00\xDC" "B\x00" "\x07", 9);
    EXPECT_EQ(LiveTheme::preferencesText(broken).substr(0, 8), "\xEF\xBF\xBD" "A" "\xEF\xBF\xBD" "B");
}

TEST(LiveThemeChoice, StoresAsJsonWithEveryKeyRequired) {
    const Choice c{"Dusk", "Dark", "Warm", true, 90, 10, -5, std::chrono::sys_seconds(978307200s + 100s)};
    auto json = nlohmann::json::parse(c.json());
    EXPECT_EQ(json["seen"], 100.0);  // seconds since 2001
    const auto back = Choice::fromJson(c.json());
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->sameAs(c) && back->seen == c.seen);
    auto without = json;
    without.erase("hue");
    json["highContrast"] = 1;
    for (const auto& text : {json.dump(), without.dump(), std::string("[1]"), std::string("{")}) {
        EXPECT_FALSE(Choice::fromJson(text)) << text;
    }
    auto other = c;
    other.seen += 1h;
    EXPECT_TRUE(other.sameAs(c));
    other.hue = 1;
    EXPECT_FALSE(other.sameAs(c));
}

TEST_F(LiveThemeTest, TheDefaultThemesNameComesFromTheChoiceOrTheSystem) {
    savePrefs(u"");
    const auto colours = LiveTheme::current();
    ASSERT_TRUE(colours);
    EXPECT_EQ(colours->area.hex(), "#141414");
    EXPECT_FALSE(colours->isLight);
    dark_ = false;
    EXPECT_EQ(area(), "#DADADA");
    EXPECT_TRUE(LiveTheme::current().value().isLight);

    remember("Default", "Light", "Warm", true);
    EXPECT_EQ(area(), "#EFE0D0");  // Default Light Warm High
    remember("Default", "Dark", "Purple");
    EXPECT_EQ(area(), "#141414");  // unknown tone: Neutral
    remember("Default", "Follow System");
    EXPECT_EQ(area(), "#DADADA");
}

TEST_F(LiveThemeTest, TheLongerNameWinsAndTheNewestPreferencesCount) {
    savePrefs(u"Dusk Blue");
    EXPECT_EQ(area(), "#203050");
    savePrefs(u"Dusk", kSaved + 10, 0);
    EXPECT_EQ(area(), "#303040");

    // The folder choice itself is the helper's; here only that a newer one is read.
    const auto older = root_ / "Library" / "Preferences" / "Ableton" / "Live 11.3" / "Preferences.cfg";
    fx::writeFile(older, fx::preferencesCfg({}, u"Dusk Blue"));
    fx::setModified(older, kSaved - 100);
    EXPECT_EQ(area(), "#303040");
    fx::setModified(older, kSaved + 100);
    EXPECT_EQ(area(), "#203050");
}

TEST_F(LiveThemeTest, ChoiceWinsUntilTheFileIsSavedMoreThanTwoSecondsLater) {
    remember("Dusk");
    savePrefs(u"Dusk Blue", kSaved + 1);
    EXPECT_EQ(area(), "#303040");  // the choice
    savePrefs(u"Dusk Blue", kSaved + 3);
    EXPECT_EQ(area(), "#203050");  // the file
    // A file that agrees with the choice keeps it in force.
    savePrefs(u"Dusk", kSaved + 30);
    EXPECT_EQ(area(), "#303040");
}

TEST_F(LiveThemeTest, LightnessThresholdIsStrictlyAboveFourTenths) {
    fx::writeFile(userThemes_ / "Grey 41.ask", fx::askTheme("#696969"));  // 105/255 = 0.41
    fx::writeFile(userThemes_ / "Grey 40.ask", fx::askTheme("#666666"));  // 102/255 = 0.40
    savePrefs(u"Grey 41");
    EXPECT_TRUE(LiveTheme::current().value().isLight);
    savePrefs(u"Grey 40", kSaved + 5);
    EXPECT_FALSE(LiveTheme::current().value().isLight);
}

TEST_F(LiveThemeTest, MissingPiecesGiveNoColours) {
    EXPECT_EQ(area(), "none");  // no Preferences.cfg
    fx::writeFile(userThemes_ / "Broken.ask", "<SurfaceArea Value=\"#101010\" />");
    savePrefs(u"Broken");
    EXPECT_EQ(area(), "none");
    savePrefs(u"Dusk", kSaved + 5);
    EXPECT_EQ(area(), "#303040");
    EXPECT_EQ(LiveTheme::bundled("Classic Medium Light").at("SurfaceArea").hex(), "#C0C0C0");
    EXPECT_TRUE(LiveTheme::bundled("No Such Theme").empty());
    fs::remove_all(app_);
    savePrefs(u"Dusk", kSaved + 6);
    EXPECT_EQ(area(), "none");
    EXPECT_TRUE(LiveTheme::bundled("Classic Medium Light").empty());
}

TEST_F(LiveThemeTest, TheCacheKeyDecidesWhenToReadAgain) {
    savePrefs(u"Dusk");
    const auto reads = [] {
        const auto before = LiveTheme::generation();
        LiveTheme::current();
        return LiveTheme::generation() - before;
    };
    EXPECT_EQ(reads(), 1);
    EXPECT_EQ(reads(), 0);
    fx::setModified(prefs_, kSaved + 1);
    EXPECT_EQ(reads(), 1);
    dark_ = !dark_;
    EXPECT_EQ(reads(), 1);
}

TEST_F(LiveThemeTest, SettingsWindowChoiceIsReadStoredAndWatched) {
    const int pid = 77;
    savePrefs(u"");
    ax_->addWindow(pid, "Song");
    auto group = ax_->addWindow(pid, "Settings")->addChild();
    std::map<std::string, std::shared_ptr<FakeAXElement>> controls;
    for (const auto& [label, value] : std::initializer_list<std::pair<const char*, AXValue>>{
             {"Theme", std::string("Default")}, {"Appearance", std::string("Light")}, {"Tone", std::string("Warm")},
             {"High Contrast", std::string("On")}, {"Brightness", 100.0}, {"Color Intensity", 0.0}, {"Color Hue", 0.0}}) {
        controls[label] = control(group->addChild()->addChild(), label, value);
    }
    int changes = 0, dispatched = 0;
    LiveTheme::setOnChange([&] { ++changes; });
    LiveTheme::setMainThreadDispatcher([&](std::function<void()> task) {
        ++dispatched;
        task();
    });

    EXPECT_TRUE(LiveTheme::readSettings(pid));
    EXPECT_EQ(LiveTheme::controlLabels().size(), 7u);
    EXPECT_EQ(ax_->app(pid)->messagingTimeout(), 0.25);
    const auto stored = Choice::fromJson(settings_.liveThemeChoice().value_or(""));
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->sameAs(Choice{"Default", "Light", "Warm", true, 100, 0, 0, {}}));
    EXPECT_EQ(stored->seen, clock_.date());
    const auto before = LiveTheme::current();
    EXPECT_EQ(area(), "#EFE0D0");
    const auto generation = LiveTheme::generation();
    EXPECT_FALSE(LiveTheme::readSettings(pid));  // nothing changed: no new choice

    // Only the hue moves: a new choice and a new generation, same colours.
    controls["Color Hue"]->set("AXValue", 12.0);
    EXPECT_EQ(ax_->post(controls["Color Hue"], "AXValueChanged"), 1);
    EXPECT_EQ(std::pair(changes, dispatched), std::pair(1, 1));
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
    ax_->addWindow(pid, "Song");
    const auto asks = [&](double after) {
        clock_.advance(after);
        const int before = ax_->app(pid)->requests();
        const bool found = LiveTheme::readSettings(pid);
        return std::pair(found, ax_->app(pid)->requests() - before);
    };
    EXPECT_EQ(asks(0), std::pair(false, 1));
    EXPECT_EQ(asks(0.3), std::pair(false, 0));
    EXPECT_EQ(asks(0.3), std::pair(false, 1));

    // A Settings window without a "Theme" control is not Live's.
    auto window = ax_->addWindow(pid, "Settings");
    control(window->addChild(), "Tone", std::string("Neutral"));
    EXPECT_FALSE(asks(1).first);
    EXPECT_TRUE(LiveTheme::controlLabels().empty());
    // Controls deeper than five levels are not looked at.
    auto deep = window->addChild();
    for (int i = 0; i < 5; ++i) deep = deep->addChild();
    control(deep, "Theme", std::string("Dusk"));
    EXPECT_FALSE(asks(1).first);
    control(window->addChild(), "Theme", std::string("Dusk"));
    EXPECT_TRUE(asks(1).first);
    EXPECT_TRUE(LiveTheme::choice()->sameAs(Choice{"Dusk", "Follow System", "Neutral", false, 100, 0, 0, {}}));
}
