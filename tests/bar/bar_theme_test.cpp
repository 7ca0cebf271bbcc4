#include "bar/bar_theme.h"

#include <gtest/gtest.h>

#include <cmath>

namespace crestline {
namespace {

LiveTheme::Colours liveColours(bool light) {
    LiveTheme::Colours c;
    c.area = {0.5, 0.5, 0.5, 1.0};
    c.surface = {0.6, 0.6, 0.6, 1.0};
    c.control = {0.7, 0.7, 0.7, 1.0};
    c.isLight = light;
    c.all = {{"ControlForeground", {0.2, 0.2, 0.2, 1.0}},
             {"ControlContrastFrame", {0.3, 0.3, 0.3, 1.0}},
             {"SelectionBackground", {0.1, 0.4, 0.9, 1.0}},
             {"SurfaceHighlight", {0.8, 0.8, 0.8, 1.0}}};
    return c;
}

TEST(BarTheme, PresetColoursAreReencodedToGamma18) {
    const BarTheme& light = BarTheme::liveLight();
    // Grey 105: linear 0.14126, to the power 1/1.8; not 105/255.
    EXPECT_NEAR(light.background.red, 0.3371, 0.0001);
    EXPECT_NEAR(light.background.green, 0.3371, 0.0001);
    EXPECT_NEAR(light.background.blue, 0.3371, 0.0001);
    EXPECT_EQ(light.background.alpha, 1.0);
    // 0 and 255 stay exact, alphas pass through.
    EXPECT_EQ(light.separator, (Colour{0.0, 0.0, 0.0, 0.32}));
    EXPECT_EQ(light.integratedMarker, (Colour{1.0, 1.0, 1.0, 1.0}));
    EXPECT_EQ(BarTheme::liveDark().valueColor, (Colour{1.0, 1.0, 1.0, 0.92}));
    // The warning colours are plain sRGB.
    EXPECT_EQ(light.warnColor, (Colour{0.72, 0.11, 0.07, 1.0}));
    EXPECT_EQ(BarTheme::scope().warnColor, (Colour{1.0, 0.38, 0.36, 1.0}));
}

TEST(BarTheme, PresetsDifferWhereTheTableSays) {
    EXPECT_TRUE(BarTheme::liveLight().squared);
    EXPECT_FALSE(BarTheme::liveDark().squared);
    EXPECT_FALSE(BarTheme::scope().squared);
    EXPECT_FALSE(BarTheme::liveLight().traceGlow.has_value());
    ASSERT_TRUE(BarTheme::scope().traceGlow.has_value());
    EXPECT_EQ(BarTheme::scope().traceGlow->alpha, 0.18);
    EXPECT_FALSE(BarTheme::scope().fieldBackground.has_value());
    EXPECT_TRUE(BarTheme::liveDark().fieldBackground.has_value());
    EXPECT_EQ(BarTheme::scope().traceWidth, 1.2);
    EXPECT_FALSE(BarTheme::liveLight().panel.has_value());
    EXPECT_EQ(BarTheme::preset(BarThemeName::liveDark), BarTheme::liveDark());
    EXPECT_EQ(BarTheme::preset(BarThemeName::scope), BarTheme::scope());
}

TEST(BarTheme, NamesRoundTripAndUnknownNamesAreNothing) {
    for (BarThemeName name : {BarThemeName::liveLight, BarThemeName::liveDark, BarThemeName::scope}) {
        EXPECT_EQ(barThemeName(rawValue(name)), name);
    }
    EXPECT_FALSE(barThemeName("LiveLight").has_value());
    EXPECT_FALSE(barThemeName("").has_value());
}

TEST(BarTheme, FollowShiftsByLiveMinusReferenceClampedWithBaseAlpha) {
    const LiveTheme::ColourMap live{{"K", {0.9, 0.1, 0.5, 0.2}}};
    const LiveTheme::ColourMap reference{{"K", {0.1, 0.9, 0.5, 1.0}}};
    const Colour base{0.5, 0.5, 0.5, 0.32};
    const Colour followed = follow(base, "K", live, reference);
    EXPECT_EQ(followed.red, 1.0);   // 1.3 clamped
    EXPECT_EQ(followed.green, 0.0); // -0.3 clamped
    EXPECT_DOUBLE_EQ(followed.blue, 0.5);
    EXPECT_EQ(followed.alpha, 0.32);
}

TEST(BarTheme, FollowKeepsTheBaseWhenAMapLacksTheKeyOrAColourIsBroken) {
    const Colour base{0.4, 0.4, 0.4, 1.0};
    const LiveTheme::ColourMap live{{"K", {0.2, 0.2, 0.2, 1.0}}};
    EXPECT_EQ(follow(base, "K", live, {}), base);
    EXPECT_EQ(follow(base, "K", {}, live), base);
    EXPECT_EQ(follow(base, "Other", live, live), base);
    // A Live colour equal to the reference leaves the base unchanged.
    EXPECT_EQ(follow(base, "K", live, live), base);
    const LiveTheme::ColourMap broken{{"K", {NAN, 0.2, 0.2, 1.0}}};
    EXPECT_EQ(follow(base, "K", broken, live), base);
}

TEST(BarTheme, MatchingLiveTakesLivesColoursOverTheBaseOfItsLightness) {
    const LiveTheme::Colours colours = liveColours(false);
    const LiveTheme::ColourMap reference{{"ControlForeground", {0.1, 0.1, 0.1, 1.0}},
                                  {"ControlContrastFrame", {0.3, 0.3, 0.3, 1.0}}};
    const BarTheme t = BarTheme::liveLight().matchingLive(colours, {}, reference);
    // Dark Live: the liveDark preset is the base, the receiver is not kept.
    EXPECT_EQ(t.background, barColour(colours.area));
    EXPECT_EQ(t.panel, barColour(colours.surface));
    EXPECT_EQ(t.fieldBackground, barColour(colours.control));
    EXPECT_TRUE(t.squared);
    EXPECT_EQ(t.meterFill, BarTheme::liveDark().meterFill);
    EXPECT_EQ(t.border, BarTheme::liveDark().border);  // frame equals the reference
    EXPECT_EQ(t.hintBorder, BarTheme::liveDark().hintBorder);
    // Text colours move by +0.1 and keep their alpha.
    EXPECT_DOUBLE_EQ(t.valueColor.red, 1.0);
    EXPECT_EQ(t.valueColor.alpha, 0.92);
    EXPECT_DOUBLE_EQ(t.labelColor.alpha, 0.62);
    ASSERT_TRUE(t.menuHighlight.has_value());
    EXPECT_EQ(*t.menuHighlight, (Colour{0.1, 0.4, 0.9, 1.0}));
    EXPECT_FALSE(t.menuHighlightText.has_value());
    EXPECT_FALSE(t.menuDisabledText.has_value());
    EXPECT_EQ(t.titleBar, (Colour{0.8, 0.8, 0.8, 1.0}));
}

TEST(BarTheme, MatchingLiveWithoutControlForegroundKeepsThePresetTexts) {
    LiveTheme::Colours colours = liveColours(true);
    colours.all.erase("ControlForeground");
    const BarTheme t = BarTheme::liveLight().matchingLive(colours, colours.all, {});
    EXPECT_EQ(t.labelColor, BarTheme::liveLight().labelColor);
    EXPECT_EQ(t.hintText, BarTheme::liveLight().hintText);
}

TEST(BarTheme, MatchingLiveLeavesNonFollowingThemesAndMissingColoursAlone) {
    EXPECT_EQ(BarTheme::scope().matchingLive(liveColours(true), {}, {}), BarTheme::scope());
    EXPECT_EQ(BarTheme::liveLight().matchingLive(std::nullopt, {}, {}), BarTheme::liveLight());
    // liveDark is not squared: it does not follow Live on its own.
    EXPECT_EQ(BarTheme::liveDark().matchingLive(liveColours(true), {}, {}), BarTheme::liveDark());
}

TEST(BarTheme, TintedRecoloursTraceGlowAndFillKeepingAlphas) {
    const std::vector<double> accent{1.0, 0.0, 0.5};
    const BarTheme t = BarTheme::scope().tinted(accent);
    EXPECT_EQ(t.trace.red, 1.0);
    EXPECT_EQ(t.trace.green, 0.0);
    EXPECT_NEAR(t.trace.blue, std::pow(srgbToLinear(0.5), 1.0 / 1.8), 1e-12);
    EXPECT_EQ(t.trace.alpha, 0.95);
    ASSERT_TRUE(t.traceGlow.has_value());
    EXPECT_EQ(t.traceGlow->alpha, 0.18);
    EXPECT_EQ(t.traceGlow->red, 1.0);
    EXPECT_EQ(t.meterFill.alpha, 0.8);
    EXPECT_EQ(t.meterFill.red, 1.0);
    EXPECT_EQ(t.traceRight, BarTheme::scope().traceRight);
    EXPECT_EQ(t.background, BarTheme::scope().background);
    // No glow stays no glow.
    EXPECT_FALSE(BarTheme::liveLight().tinted(accent).traceGlow.has_value());
}

TEST(BarTheme, AccentsOfTheWrongLengthOrBrokenNumbersAreIgnored) {
    const BarTheme& base = BarTheme::liveLight();
    EXPECT_EQ(base.tinted(std::vector<double>{0.1, 0.2}), base);
    EXPECT_EQ(base.tinted(std::vector<double>{0.1, 0.2, 0.3, 0.4}), base);
    EXPECT_EQ(base.tinted(std::nullopt), base);
    EXPECT_EQ(base.tinted(std::vector<double>{0.1, NAN, 0.3}), base);
    // Components outside 0...1 are clamped, never NaN.
    const BarTheme t = base.tinted(std::vector<double>{2.0, -1.0, 0.5});
    EXPECT_EQ(t.trace.red, 1.0);
    EXPECT_EQ(t.trace.green, 0.0);
}

}  // namespace
}  // namespace crestline

#include "settings/settings.h"
#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

class CurrentThemeTest : public ::testing::Test {
protected:
    CurrentThemeTest() : settings(testing::freshSettingsFile(), clock, Settings::Writing::manual) {}

    static LiveTheme::Colours lightLive() {
        LiveTheme::Colours c;
        c.area = {0.8, 0.8, 0.8, 1.0};
        c.surface = {0.9, 0.9, 0.9, 1.0};
        c.control = {0.7, 0.7, 0.7, 1.0};
        c.isLight = true;
        c.all = {{"ControlForeground", {0.1, 0.1, 0.1, 1.0}}};
        return c;
    }

    FakeClock clock;
    Settings settings;
};

TEST_F(CurrentThemeTest, LiveDarkFollowsALightLive) {
    settings.setString("barTheme", "liveDark");
    const BarTheme t = currentTheme(settings, lightLive(), {}, {});
    EXPECT_EQ(t.background, barColour(lightLive().area));
    EXPECT_EQ(t.meterTrack, BarTheme::liveLight().meterTrack);
    EXPECT_EQ(t.hintBackground, BarTheme::liveLight().hintBackground);
    EXPECT_TRUE(t.squared);
}

TEST_F(CurrentThemeTest, WithoutLiveTheLiveLightPresetIsUsedTinted) {
    for (const char* name : {"liveDark", "liveLight", "nonsense"}) {
        settings.setString("barTheme", name);
        EXPECT_EQ(currentTheme(settings, std::nullopt, {}, {}), BarTheme::liveLight()) << name;
    }
    settings.remove("barTheme");
    settings.setNumbers("accentColor", {0.0, 0.5, 1.0});
    const BarTheme t = currentTheme(settings, std::nullopt, {}, {});
    EXPECT_EQ(t.meterFill, accentColour({0.0, 0.5, 1.0}, 1.0));
    EXPECT_EQ(t.background, BarTheme::liveLight().background);
}

TEST_F(CurrentThemeTest, ScopeIgnoresLiveButTakesTheAccent) {
    settings.setString("barTheme", "scope");
    EXPECT_EQ(currentTheme(settings, lightLive(), {}, {}), BarTheme::scope());
    settings.setNumbers("accentColor", {1.0, 0.0, 0.0});
    const BarTheme t = currentTheme(settings, lightLive(), {}, {});
    EXPECT_EQ(t.trace, (Colour{1.0, 0.0, 0.0, 0.95}));
    EXPECT_EQ(t.traceGlow, (Colour{1.0, 0.0, 0.0, 0.18}));
    EXPECT_EQ(t.meterFill, (Colour{1.0, 0.0, 0.0, 0.8}));
    // An accent of four numbers is no accent.
    settings.setNumbers("accentColor", {1.0, 0.0, 0.0, 1.0});
    EXPECT_EQ(currentTheme(settings, lightLive(), {}, {}), BarTheme::scope());
}

}  // namespace
}  // namespace crestline
