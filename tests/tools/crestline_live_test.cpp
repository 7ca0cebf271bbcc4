// crestline-live as users run it: the built binary on files made here.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <cstdio>

#include "tests/live/fixtures.h"

namespace fx = crestline::fixtures;
namespace fs = std::filesystem;

namespace {

struct Run {
    int code = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Run crestlineLive(const std::string& args, const fx::ScratchFolder& scratch) {
    const char* bin = std::getenv("CRESTLINE_BIN_DIR");
    const std::string tool = (fs::path(bin ? bin : ".") / "crestline-live").string();
    const auto errFile = scratch / "stderr.txt";
    const std::string command = quoted(tool) + " " + args + " 2>" + quoted(errFile.string());
    Run run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = fx::readFile(errFile);
    return run;
}

}  // namespace

TEST(CrestlineLive, SetPrintsTheTimelineAsJson) {
    fx::ScratchFolder scratch;
    const auto file = scratch / "My Song.als";
    fx::writeFile(file, fx::gzip(fx::liveSetXml({{"16", "Drop &amp; Roll"}, {"0", "Intro"}}, {{"6", "32"}, {"4", "0"}},
                                                "12.5")));
    fx::setModified(file, 1767225600.25);
    const auto run = crestlineLive("set " + quoted(file.string()), scratch);
    ASSERT_EQ(run.code, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["path"], file.string());
    EXPECT_EQ(json["modified"], "2026-01-01T00:00:00.250Z");
    EXPECT_EQ(json["locators"], nlohmann::json::parse(R"([{"beat":0.0,"name":"Intro"},{"beat":16.0,"name":"Drop & Roll"}])"));
    EXPECT_EQ(json["signatures"],
              nlohmann::json::parse(R"([{"beat":0.0,"beatsPerBar":4.0},{"beat":32.0,"beatsPerBar":6.0}])"));
    EXPECT_EQ(json["savedBeat"], 12.5);

    fx::writeFile(file, fx::gzip(fx::liveSetXml({}, {}, "")));
    const auto bare = nlohmann::json::parse(crestlineLive("set " + quoted(file.string()), scratch).out);
    EXPECT_TRUE(bare["savedBeat"].is_null());
    EXPECT_TRUE(bare["locators"].empty());
}

TEST(CrestlineLive, BadSetFilesGiveOneLineNamingTheFile) {
    fx::ScratchFolder scratch;
    const auto truncated = scratch / "cut.als";
    const std::string member = fx::gzip(fx::liveSetXml({{"1", "a"}}, {}));
    fx::writeFile(truncated, member.substr(0, member.size() / 2));
    const auto plain = scratch / "plain.als";
    fx::writeFile(plain, "<Ableton/>");
    const auto other = scratch / "other.als";
    fx::writeFile(other, fx::gzip("just some text"));
    for (const auto& path : {truncated, plain, other, scratch / "missing.als", scratch.path()}) {
        const auto run = crestlineLive("set " + quoted(path.string()), scratch);
        EXPECT_EQ(run.code, 2) << path;
        EXPECT_TRUE(run.out.empty());
        EXPECT_NE(run.err.find(path.string()), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_EQ(crestlineLive("set", scratch).code, 2);
    EXPECT_EQ(crestlineLive("frobnicate", scratch).code, 2);
    EXPECT_EQ(crestlineLive("", scratch).code, 2);
    EXPECT_EQ(crestlineLive("--help", scratch).code, 0);
}

TEST(CrestlineLive, ThemeRegisterAndInstallUnderARoot) {
    fx::ScratchFolder root;
    const std::string rootArg = "--root " + quoted(root.path().string());
    EXPECT_EQ(crestlineLive("theme " + rootArg, root).out, "null\n");

    const auto themes = root / "Applications" / "Ableton Live 12 Suite.app" / "Contents" / "App-Resources" / "Themes";
    fx::writeFile(themes / "Default Dark Neutral Medium.ask",
                  "<SurfaceArea Value=\"#1A1A1A\" />\n<SurfaceBackground Value=\"#2B2B2B\" />\n"
                  "<ControlBackground Value=\"#3C3C3C\" />\n<Accent Value=\"#FF000080\" />\n");
    const auto prefs = root / "Library" / "Preferences" / "Ableton" / "Live 12.1" / "Preferences.cfg";
    fx::writeFile(prefs, fx::preferencesCfg({u"APC40"}));
    const auto theme = crestlineLive("theme --dark " + rootArg, root);
    ASSERT_EQ(theme.code, 0) << theme.err;
    EXPECT_EQ(nlohmann::json::parse(theme.out),
              nlohmann::json::parse(
                  R"({"area":"#1A1A1A","surface":"#2B2B2B","control":"#3C3C3C","isLight":false,"colours":4})"));
    EXPECT_EQ(crestlineLive("theme --light " + rootArg, root).out, "null\n");  // no light default here
    EXPECT_EQ(crestlineLive("theme --sepia " + rootArg, root).code, 2);

    const auto reg = crestlineLive("register " + rootArg, root);
    EXPECT_EQ(reg.out, "added(slot: 2)\n");
    EXPECT_EQ(reg.code, 0);
    EXPECT_EQ(crestlineLive("register " + rootArg, root).out, "present\n");
    EXPECT_TRUE(fs::exists(prefs.parent_path() / "Preferences.cfg.before-crestline"));
    EXPECT_EQ(crestlineLive("register --root", root).code, 2);

    const auto install = crestlineLive("install " + rootArg, root);
    EXPECT_EQ(install.code, 0) << install.err;
    EXPECT_TRUE(install.out.starts_with("installed ")) << install.out;
    const auto script = root / "Music" / "Ableton" / "User Library" / "Remote Scripts" / "Crestline" / "__init__.py";
    EXPECT_TRUE(fs::exists(script));
    EXPECT_TRUE(crestlineLive("install " + rootArg, root).out.starts_with("unchanged "));
}
