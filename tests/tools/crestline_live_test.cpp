// crestline-live's set, theme, register and install commands on files made here.
#include <nlohmann/json.hpp>

#include "tests/tools/tool_run.h"

namespace fx = crestline::fixtures;
using namespace crestline::tools_test;
using CrestlineLive = ToolTest;

TEST_F(CrestlineLive, SetPrintsTheTimelineAsJson) {
    const auto file = dir_ / "My Song.als";
    fx::writeFile(file, fx::gzip(fx::liveSetXml({{"16", "Drop &amp; Roll"}, {"0", "Intro"}}, {{"6", "32"}, {"4", "0"}},
                                                "12.5")));
    fx::setModified(file, 1767225600.25);
    const auto r = run("crestline-live", "set " + quoted(file));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["path"], file.string());
    EXPECT_EQ(json["modified"], "2026-01-01T00:00:00.250Z");
    EXPECT_EQ(json["locators"], nlohmann::json::parse(R"([{"beat":0.0,"name":"Intro"},{"beat":16.0,"name":"Drop & Roll"}])"));
    EXPECT_EQ(json["signatures"],
              nlohmann::json::parse(R"([{"beat":0.0,"beatsPerBar":4.0},{"beat":32.0,"beatsPerBar":6.0}])"));
    EXPECT_EQ(json["savedBeat"], 12.5);

    fx::writeFile(file, fx::gzip(fx::liveSetXml({}, {}, "")));
    const auto bare = nlohmann::json::parse(run("crestline-live", "set " + quoted(file)).out);
    EXPECT_TRUE(bare["savedBeat"].is_null());
    EXPECT_TRUE(bare["locators"].empty());
}

TEST_F(CrestlineLive, BadSetFilesGiveOneLineNamingTheFileAndBadUsageExitsWithTwo) {
    const auto truncated = dir_ / "cut.als";
    const std::string member = fx::gzip(fx::liveSetXml({{"1", "a"}}, {}));
    fx::writeFile(truncated, member.substr(0, member.size() / 2));
    const auto plain = dir_ / "plain.als";
    fx::writeFile(plain, "<Ableton/>");
    const auto other = dir_ / "other.als";
    fx::writeFile(other, fx::gzip("just some text"));
    for (const auto& path : {truncated, plain, other, dir_ / "missing.als", dir_}) {
        const auto r = run("crestline-live", "set " + quoted(path));
        EXPECT_EQ(r.code, 2) << path;
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find(path.string()), std::string::npos) << r.err;
        EXPECT_EQ(r.errorLines(), 1) << r.err;
    }
    for (const char* usage : {"", "set", "frobnicate", "listen --seconds 0", "listen --seconds nan", "listen --port 70000",
                              "listen --port", "listen --bogus 1", "simulate --bpm fast", "simulate --bpm -120",
                              "simulate --signature 7/0", "simulate --signature 100/4", "simulate --signature 1e-9/4",
                              "simulate --signature 7", "simulate --locators 0:Intro,x:Drop",
                              "simulate --locators 1e300:Far", "simulate --locators 0:Intro,,8:B"}) {
        const auto r = run("crestline-live", usage);
        EXPECT_EQ(r.code, 2) << usage;
        EXPECT_NE(r.err, "") << usage;
    }
    EXPECT_EQ(run("crestline-live", "--help").code, 0);
}

TEST_F(CrestlineLive, ThemeRegisterAndInstallUnderARoot) {
    const std::string rootArg = "--root " + quoted(dir_);
    EXPECT_EQ(run("crestline-live", "theme " + rootArg).out, "null\n");

    const auto themes = dir_ / "Applications" / "Ableton Live 12 Suite.app" / "Contents" / "App-Resources" / "Themes";
    fx::writeFile(themes / "Default Dark Neutral Medium.ask",
                  "<SurfaceArea Value=\"#1A1A1A\" />\n<SurfaceBackground Value=\"#2B2B2B\" />\n"
                  "<ControlBackground Value=\"#3C3C3C\" />\n<Accent Value=\"#FF000080\" />\n");
    const auto prefs = dir_ / "Library" / "Preferences" / "Ableton" / "Live 12.1" / "Preferences.cfg";
    fx::writeFile(prefs, fx::preferencesCfg({u"APC40"}));
    const auto theme = run("crestline-live", "theme --dark " + rootArg);
    ASSERT_EQ(theme.code, 0) << theme.err;
    EXPECT_EQ(nlohmann::json::parse(theme.out),
              nlohmann::json::parse(
                  R"({"area":"#1A1A1A","surface":"#2B2B2B","control":"#3C3C3C","isLight":false,"colours":4})"));
    EXPECT_EQ(run("crestline-live", "theme --light " + rootArg).out, "null\n");  // no light default here
    EXPECT_EQ(run("crestline-live", "theme --sepia " + rootArg).code, 2);

    const auto reg = run("crestline-live", "register " + rootArg);
    EXPECT_EQ(reg.out, "added(slot: 2)\n");
    EXPECT_EQ(reg.code, 0);
    EXPECT_EQ(run("crestline-live", "register " + rootArg).out, "present\n");
    EXPECT_TRUE(fs::exists(prefs.parent_path() / "Preferences.cfg.before-crestline"));
    EXPECT_EQ(run("crestline-live", "register --root").code, 2);

    const auto install = run("crestline-live", "install " + rootArg);
    EXPECT_EQ(install.code, 0) << install.err;
    EXPECT_TRUE(install.out.starts_with("installed ")) << install.out;
    const auto script = dir_ / "Music" / "Ableton" / "User Library" / "Remote Scripts" / "Crestline" / "__init__.py";
    EXPECT_TRUE(fs::exists(script));
    EXPECT_TRUE(run("crestline-live", "install " + rootArg).out.starts_with("unchanged "));
}
