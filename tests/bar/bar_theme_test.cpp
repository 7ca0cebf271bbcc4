#include "bar/bar_theme.h"

#include <cmath>

#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

LiveTheme::Colours liveColours(bool light) {
    return {{0.5, 0.5, 0.5, 1.0}, {0.6, 0.6, 0.6, 1.0}, {0.7, 0.7, 0.7, 1.0}, light,
            {{"ControlForeground", {0.2, 0.2, 0.2, 1.0}}, {"ControlContrastFrame", {0.3, 0.3, 0.3, 1.0}},
             {"SelectionBackground", {0.1, 0.4, 0.9, 1.0}}, {"SurfaceHighlight", {0.8, 0.8, 0.8, 1.0}}}};
}

TEST(BarTheme, PresetColoursAreReencodedToGamma18) {
    const BarTheme& light = BarTheme::liveLight();
    // Grey 105: linear 0.14126, to the power 1/1.8; not 105/255.
    EXPECT_NEAR(light.background.red, 0.3371, 0.0001);
    EXPECT_EQ(light.background, (Colour{light.background.red, light.background.red, light.background.red, 1.0}));
    // 0 and 255 stay exact and alphas pass through.
    EXPECT_EQ(light.separator, (Colour{0.0, 0.0, 0.0, 0.32}));
    EXPECT_EQ(light.integratedMarker, (Colour{1.0, 1.0, 1.0, 1.0}));
}

TEST(BarTheme, NamesRoundTripAndUnknownNamesAreNothing) {
    for (BarThemeName name : {BarThemeName::liveLight, BarThemeName::liveDark, BarThemeName::scope}) {
        EXPECT_EQ(barThemeName(rawValue(name)), name);
    }
    EXPECT_EQ(barThemeName("LiveLight"), std::nullopt);
    EXPECT_EQ(barThemeName(""), std::nullopt);
}

TEST(BarTheme, FollowShiftsByLiveMinusReferenceClampedWithBaseAlpha) {
    const LiveTheme::ColourMap live{{"K", {0.9, 0.1, 0.5, 0.2}}};
    const LiveTheme::ColourMap reference{{"K", {0.1, 0.9, 0.5, 1.0}}};
    // 1.3 and -0.3 clamped.
    EXPECT_EQ(follow(Colour{0.5, 0.5, 0.5, 0.32}, "K", live, reference), (Colour{1.0, 0.0, 0.5, 0.32}));
    // A missing key, a Live colour equal to the reference or a broken one
    // leave the base as it is.
    const Colour base{0.4, 0.4, 0.4, 1.0};
    const LiveTheme::ColourMap broken{{"K", {NAN, 0.2, 0.2, 1.0}}};
    EXPECT_EQ(follow(base, "K", live, {}), base);
    EXPECT_EQ(follow(base, "K", {}, live), base);
    EXPECT_EQ(follow(base, "Other", live, live), base);
    EXPECT_EQ(follow(base, "K", live, live), base);
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
    // Text colours move by +0.1 and keep their alpha.
    EXPECT_EQ(t.valueColor, (Colour{1.0, 1.0, 1.0, 0.92}));
    EXPECT_DOUBLE_EQ(t.labelColor.alpha, 0.62);
    EXPECT_EQ(t.menuHighlight, (Colour{0.1, 0.4, 0.9, 1.0}));
    EXPECT_FALSE(t.menuHighlightText.has_value());
    EXPECT_EQ(t.titleBar, (Colour{0.8, 0.8, 0.8, 1.0}));

    LiveTheme::Colours noForeground = liveColours(true);
    noForeground.all.erase("ControlForeground");
    const BarTheme plain = BarTheme::liveLight().matchingLive(noForeground, noForeground.all, {});
    EXPECT_EQ(plain.labelColor, BarTheme::liveLight().labelColor);
    EXPECT_EQ(plain.hintText, BarTheme::liveLight().hintText);

    // Only the squared Live presets follow, and only a known Live.
    EXPECT_EQ(BarTheme::scope().matchingLive(liveColours(true), {}, {}), BarTheme::scope());
    EXPECT_EQ(BarTheme::liveDark().matchingLive(liveColours(true), {}, {}), BarTheme::liveDark());
    EXPECT_EQ(BarTheme::liveLight().matchingLive(std::nullopt, {}, {}), BarTheme::liveLight());
}

TEST(BarTheme, TintedRecoloursTraceGlowAndFillKeepingAlphas) {
    const std::vector<double> accent{1.0, 0.0, 0.5};
    const BarTheme t = BarTheme::scope().tinted(accent);
    const double blue = std::pow(srgbToLinear(0.5), 1.0 / 1.8);  // sRGB to the bar's gamma 1.8
    EXPECT_EQ(t.trace, (Colour{1.0, 0.0, blue, 0.95}));
    EXPECT_EQ(t.traceGlow, (Colour{1.0, 0.0, blue, 0.18}));
    EXPECT_EQ(t.meterFill, (Colour{1.0, 0.0, blue, 0.8}));
    EXPECT_EQ(t.traceRight, BarTheme::scope().traceRight);
    EXPECT_EQ(t.background, BarTheme::scope().background);
    EXPECT_FALSE(BarTheme::liveLight().tinted(accent).traceGlow.has_value());
}

TEST(BarTheme, AccentsOfTheWrongLengthOrBrokenNumbersAreIgnored) {
    const BarTheme& base = BarTheme::liveLight();
    EXPECT_EQ(base.tinted(std::vector{0.1, 0.2}), base);
    EXPECT_EQ(base.tinted(std::vector{0.1, 0.2, 0.3, 0.4}), base);
    EXPECT_EQ(base.tinted(std::vector<double>{0.1, NAN, 0.3}), base);
    EXPECT_EQ(base.tinted(std::nullopt), base);
    const Colour clamped = base.tinted(std::vector<double>{2.0, -1.0, 0.0}).trace;  // never NaN
    EXPECT_EQ(clamped, (Colour{1.0, 0.0, 0.0, clamped.alpha}));
}

using CurrentThemeTest = testing::BarFixture;

TEST_F(CurrentThemeTest, LivePresetsFollowLiveWhenItIsKnownAndAllTakeTheAccent) {
    settings.setString("barTheme", "liveDark");
    const BarTheme t = currentTheme(settings, liveColours(true), {}, {});
    EXPECT_EQ(t.background, barColour(liveColours(true).area));  // a light Live: liveLight's colours
    EXPECT_EQ(t.meterTrack, BarTheme::liveLight().meterTrack);
    EXPECT_EQ(t.hintBackground, BarTheme::liveLight().hintBackground);
    EXPECT_TRUE(t.squared);
    for (const char* name : {"liveDark", "liveLight", "nonsense"}) {
        settings.setString("barTheme", name);
        EXPECT_EQ(currentTheme(settings, std::nullopt, {}, {}), BarTheme::liveLight()) << name;
    }
    settings.setNumbers("accentColor", {0.0, 0.5, 1.0});
    EXPECT_EQ(currentTheme(settings, std::nullopt, {}, {}), BarTheme::liveLight().tinted(std::vector{0.0, 0.5, 1.0}));

    settings.setString("barTheme", "scope");
    EXPECT_EQ(currentTheme(settings, liveColours(true), {}, {}), BarTheme::scope().tinted(std::vector{0.0, 0.5, 1.0}));
    settings.setNumbers("accentColor", {1.0, 0.0, 0.0, 1.0});  // four numbers: no accent
    EXPECT_EQ(currentTheme(settings, liveColours(true), {}, {}), BarTheme::scope());
}

}  // namespace
}  // namespace crestline
