#include "app/settings_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <cmath>

#include "settings/settings.h"
#include "tests/app/service_fakes.h"
#include "tests/settings/test_folder.h"

namespace crestline {
namespace {

class FakeSettingsHost final : public SettingsHost {
public:
    void listenChanged() override { calls.push_back("listenChanged"); }
    std::optional<MeasuredDevice> measuredDevice() const override { return device; }
    void outputChanged() override { calls.push_back("outputChanged"); }
    bool detached() const override { return isDetached; }
    void setDetached(bool on) override { calls.push_back(on ? "detach" : "pin"); }
    bool launchAtLogin() const override { return atLogin; }
    void setLaunchAtLogin(bool on) override { calls.push_back(on ? "login:on" : "login:off"); }
    void redraw() override { calls.push_back("redraw"); }

    std::optional<MeasuredDevice> device;
    bool isDetached = false;
    bool atLogin = false;
    std::vector<std::string> calls;
};

// "Label: title* title" per row, the selected titles starred.
std::vector<std::string> outline(const std::vector<SettingsTab>& tabs) {
    std::vector<std::string> lines;
    for (const SettingsTab& tab : tabs) {
        for (const SettingsSection& section : tab.sections) {
            for (const DrawerControl& row : section.rows) {
                std::string line = section.title + "/" + row.label + ":";
                for (const DrawerOption& option : row.options) line += " " + option.title + (option.selected ? "*" : "");
                lines.push_back(line);
            }
        }
    }
    return lines;
}

const DrawerOption& option(const std::vector<SettingsTab>& tabs, const std::string& row, const std::string& title) {
    for (const SettingsSection& section : tabs.at(0).sections)
        for (const DrawerControl& r : section.rows)
            if (r.label == row)
                for (const DrawerOption& o : r.options)
                    if (o.title == title) return o;
    ADD_FAILURE() << row << " / " << title;
    static const DrawerOption none;
    return none;
}

class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest() { test::application(); }
    std::filesystem::path folder = test::freshFolder();
    FakeClock clock;
    Settings settings{folder / "settings.json", clock, Settings::Writing::manual};
    std::shared_ptr<FakeSettingsHost> host = std::make_shared<FakeSettingsHost>();
    std::vector<SettingsTab> tabs() { return settingsTabs(settings, host); }
};

TEST(CustomTargetView, ParsesWhatPeopleTypeAndNothingElse) {
    const struct {
        const char* text;
        std::optional<double> target;
    } cases[] = {
        {"11,5", -11.5}, {"14 LUFS", -14.0}, {"-14", -14.0}, {"\u221214", -14.0}, {"  9 ", -9.0},
        {"12 lufs", -12.0}, {"+8", -8.0}, {"36", -36.0}, {"11.54", -11.5}, {"0", 0.0}, {"1e1", -10.0},
        {"40", std::nullopt}, {"36.1", std::nullopt}, {"abc", std::nullopt}, {"LUFS", std::nullopt},
        {"", std::nullopt}, {"--9", std::nullopt}, {"9x", std::nullopt}, {"1,2,3", std::nullopt},
        {"nan", std::nullopt}, {"inf", std::nullopt}, {"1e400", std::nullopt}, {"\xff\xfe", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = CustomTargetView::parse(c.text);
        EXPECT_EQ(parsed, c.target) << c.text;
        if (parsed) {
            EXPECT_FALSE(std::signbit(*parsed) && *parsed == 0.0) << c.text;
        }
    }
    EXPECT_EQ(CustomTargetView::parse(std::string(100000, '1')), std::nullopt);
    EXPECT_EQ(CustomTargetView::prefill(-11.5), "11.5");
    EXPECT_EQ(CustomTargetView::prefill(-14.0), "14");
}

TEST_F(SettingsWindowTest, TheRowsFollowTheStoreAndTheHost) {
    EXPECT_EQ(outline(tabs()), (std::vector<std::string>{
                                   "Audio/Listen To: Ableton Live* All Sound on This Computer",
                                   "Bar/Position: Above Live* Separate Window",
                                   "Bar/Fit Live Below the Bar: On* Off",
                                   "Bar/Open at Login: On Off*",
                                   "Bar/Show Hints: On Off*",
                               }));
    EXPECT_EQ(tabs()[0].title, "General");
    settings.setShowHints(true);
    settings.setListenToAll(true);
    settings.setFitAbleton(false);
    host->isDetached = true;
    host->atLogin = true;
    EXPECT_EQ(outline(tabs()), (std::vector<std::string>{
                                   "Audio/Listen To: Ableton Live All Sound on This Computer*",
                                   "Bar/Position: Above Live Separate Window*",
                                   "Bar/Fit Live Below the Bar: On Off*",
                                   "Bar/Open at Login: On* Off",
                                   "Bar/Show Hints: On* Off",
                               }));
}

TEST_F(SettingsWindowTest, OutputsAreOfferedOnlyForADeviceWithSeveralPairs) {
    const struct {
        std::vector<int> streams;
        TapSource source;
        std::string row;  // empty: no row
    } cases[] = {
        {{2}, TapSource::automatic(), ""},
        {{1, 1, 3}, TapSource::automatic(), ""},
        {{2, 2}, TapSource::automatic(), "Audio/Outputs: Auto* 1/2 3/4 All"},
        {{4}, TapSource::pair(1), "Audio/Outputs: Auto 1/2 3/4* All"},
        {{20}, TapSource::mixdown(),
         "Audio/Outputs: Auto 1/2 3/4 5/6 7/8 9/10 11/12 13/14 15/16 All*"},
    };
    for (const auto& c : cases) {
        host->device = MeasuredDevice{"usb-1", "Scarlett 18i20", c.streams, c.source};
        const auto lines = outline(tabs());
        if (c.row.empty()) {
            EXPECT_EQ(lines.size(), 5u);
        } else {
            ASSERT_EQ(lines.size(), 6u);
            EXPECT_EQ(lines[1], c.row);
        }
    }
    host->device = MeasuredDevice{"usb-1", "", {4}, TapSource::automatic()};
    EXPECT_EQ(option(tabs(), "Outputs", "3/4").info, "Measures outputs 3/4 of the interface.");
    host->device->name = "Scarlett";
    EXPECT_EQ(option(tabs(), "Outputs", "1/2").info, "Measures outputs 1/2 of Scarlett.");

    option(tabs(), "Outputs", "3/4").action();
    EXPECT_EQ(settings.outputSource("usb-1"), TapSource::pair(1));
    option(tabs(), "Outputs", "All").action();
    EXPECT_EQ(settings.outputSource("usb-1"), TapSource::mixdown());
    EXPECT_EQ(host->calls, (std::vector<std::string>{"outputChanged", "outputChanged"}));
    host->device.reset();
    EXPECT_EQ(outline(tabs()).size(), 5u);
}

TEST_F(SettingsWindowTest, ChoicesWriteTheStoreAndAskTheHost) {
    option(tabs(), "Listen To", "Ableton Live").action();  // no change: nothing happens
    option(tabs(), "Listen To", "All Sound on This Computer").action();
    EXPECT_TRUE(settings.listenToAll());
    option(tabs(), "Position", "Separate Window").action();
    option(tabs(), "Fit Live Below the Bar", "Off").action();
    option(tabs(), "Open at Login", "On").action();
    option(tabs(), "Show Hints", "On").action();
    EXPECT_FALSE(settings.fitAbleton());
    EXPECT_TRUE(settings.showHints());
    EXPECT_EQ(host->calls,
              (std::vector<std::string>{"listenChanged", "detach", "redraw", "login:on", "redraw"}));

    // Once the host is gone, the rows still show but choose nothing.
    const auto rows = tabs();
    host.reset();
    option(rows, "Show Hints", "Off").action();
    EXPECT_TRUE(settings.showHints());
}

TEST_F(SettingsWindowTest, TheViewExplainsWhatIsPointedAtAndRunsWhatIsClicked) {
    SettingsView view([this] { return tabs(); });
    view.setTheme(BarTheme::liveDark());
    const auto& layout = view.layout();
    ASSERT_EQ(layout.zones.size(), 10u);
    ASSERT_EQ(layout.tabZones.size(), 1u);
    EXPECT_EQ(view.info(), kNoInfo);
    // Zones do not overlap and stay inside the view.
    for (std::size_t i = 0; i < layout.zones.size(); ++i) {
        EXPECT_TRUE(QRectF(QPointF(0, 0), layout.size).contains(layout.zones[i].rect));
        for (std::size_t j = i + 1; j < layout.zones.size(); ++j)
            EXPECT_FALSE(layout.zones[i].rect.intersects(layout.zones[j].rect)) << i << " " << j;
    }

    settings.setShowHints(true);
    view.refresh();
    const QPointF hints = layout.zones[8].rect.center();  // Show Hints: On
    view.pointAt(hints);
    EXPECT_EQ(view.info(), "Explains a part of the bar when you rest the pointer on it.");
    view.pointAt(QPointF(1, 1));
    EXPECT_EQ(view.info(), kNoInfo);
    view.pointAt(hints);
    view.pointerLeft();
    EXPECT_EQ(view.info(), kNoInfo);

    view.clickAt(layout.zones[9].rect.center());  // Show Hints: Off
    EXPECT_FALSE(settings.showHints());
    EXPECT_EQ(outline(view.tabs()).back(), "Bar/Show Hints: On Off*");
    view.clickAt(layout.tabZones[0].first.center());
    EXPECT_EQ(view.selected(), 0);

    QImage picture(view.size() * 2, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(2.0);
    view.pointAt(layout.zones[3].rect.center());
    view.render(&picture);
    if (const char* out = std::getenv("CRESTLINE_SETTINGS_PNG")) picture.save(QString::fromUtf8(out));
    // A selected choice is drawn in the accent, an unselected one is not.
    const QColor accent = BarTheme::liveDark().trace.toQColor();
    const auto at = [&](const QRectF& r) { return picture.pixelColor((r.left() + 3) * 2, r.center().y() * 2).rgb(); };
    EXPECT_EQ(at(layout.zones[0].rect), accent.rgb());
    EXPECT_NE(at(layout.zones[1].rect), accent.rgb());
}

TEST_F(SettingsWindowTest, TheCustomTargetDialogStoresOnlyAValidTarget) {
    std::vector<std::optional<double>> set;
    settings.setCustomTargetLUFS(-9.5);
    CustomTargetDialog* dialog = askCustomTarget(settings, std::nullopt, [&](std::optional<double> t) { set.push_back(t); });
    EXPECT_EQ(dialog->field().text(), "9.5");
    dialog->field().setText("loud");
    dialog->commit();
    EXPECT_TRUE(set.empty());
    EXPECT_FALSE(dialog->error().isHidden());
    EXPECT_EQ(settings.customTargetLUFS(), -9.5);
    dialog->field().setText("11,5");
    emit dialog->field().returnPressed();
    EXPECT_EQ(set, (std::vector<std::optional<double>>{-11.5}));
    EXPECT_EQ(settings.customTargetLUFS(), -11.5);

    CustomTargetDialog* second = askCustomTarget(settings, -14.0, {});
    EXPECT_EQ(second->field().text(), "14");
    second->reject();
}

}  // namespace
}  // namespace crestline
