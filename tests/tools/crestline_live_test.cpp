// crestline-live's set, theme, register and install commands on files made here.
#include <nlohmann/json.hpp>

#include <ctime>

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

    const auto places = nlohmann::json::parse(run("crestline-live", "places " + rootArg).out);
    EXPECT_EQ(places["layout"], "mac");
    EXPECT_EQ(places["preferences"]["version"], "Live 12.1");
    EXPECT_EQ(places["themes"]["path"], themes.string());
    EXPECT_EQ(places["registration"]["settingsKey"], "liveHelperRegistered.Live 12.1");
    EXPECT_EQ(places["helperScript"]["current"], true);
    EXPECT_FALSE(fs::exists(dir_ / "drive_c"));
}

namespace {

constexpr double kSaved = 1767225600.0;  // 2026-01-01

std::string scriptText() {
    return fx::readFile(fs::path(std::getenv("CRESTLINE_SOURCE_DIR")) / "resources" / "LiveScript" / "Crestline" /
                        "__init__.py");
}

fs::path scriptIn(const fs::path& userLibrary) { return userLibrary / "Remote Scripts" / "Crestline" / "__init__.py"; }

// Every file under a folder, relative to it, sorted: what a command left behind.
std::vector<std::string> filesUnder(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class CrestlineLiveWine : public ToolTest {
protected:
    nlohmann::json places(const fs::path& root) {
        const auto r = run("crestline-live", "places --root " + quoted(root));
        EXPECT_EQ(r.code, 0) << r.err;
        return nlohmann::json::parse(r.out);
    }
    ToolRun command(const std::string& name, const fs::path& root, const std::string& more = "") {
        return run("crestline-live", name + " --root " + quoted(root) + more);
    }

    fs::path outside_ = dir_ / "unix";  // what "z:" leads to, standing in for "/"
    fx::WinePrefix prefix_{dir_ / "prefix", outside_};
    fs::path library_ = prefix_.documents() / "Ableton" / "User Library";
    std::vector<std::pair<std::string, std::string>> themes_ = {{"Default Dark Neutral Medium", fx::askTheme("#1A1A1A")},
                                                                {"Default Light Neutral Medium", fx::askTheme("#E0E0E0")}};
};

}  // namespace

TEST_F(CrestlineLiveWine, ADefaultPrefixIsUsedWhereLiveReadsItsFiles) {
    const std::string original = fx::preferencesCfg({u"APC40"});
    const auto prefs = prefix_.addPreferences("Live 12.1.5", original, kSaved);
    fx::writeFile(prefs / "Library.cfg", fx::libraryCfg("C:\\users\\me\\Documents\\Ableton"));
    fs::create_directories(library_);
    const auto program = prefix_.addProgram("Live 12 Suite", themes_);
    const fs::path root = prefix_.root();

    const nlohmann::json before = places(root);
    using Json = nlohmann::json;
    EXPECT_EQ(before, (Json{{"layout", "windows"},
                            {"layoutWhy", "Live's preferences are in the Wine prefix (drive_c)"},
                            {"root", root.string()},
                            {"rootFrom", "--root"},
                            {"preferences", {{"path", prefs.string()}, {"version", "Live 12.1.5"}}},
                            {"userLibrary", {{"path", library_.string()}, {"fromLibraryCfg", true}}},
                            {"application", {{"path", program.string()}}},
                            {"themes", {{"path", (program / "Resources" / "Themes").string()}, {"themeFiles", 2}}},
                            {"helperScript",
                             {{"path", scriptIn(library_).string()},
                              {"installed", false},
                              {"missing", "not installed yet: run crestline-live install"}}},
                            {"registration",
                             {{"state", "notRegistered"},
                              {"freeSlot", 2},
                              {"missing", "not registered yet: run crestline-live register while Live is closed"},
                              {"settingsKey", "liveHelperRegistered.Live 12.1.5"}}}}));

    const auto install = command("install", root);
    EXPECT_EQ(install.out, "installed " + scriptIn(library_).string() + "\n") << install.err;
    EXPECT_EQ(fx::readFile(scriptIn(library_)), scriptText());
    const auto reg = command("register", root);
    EXPECT_EQ(reg.out, "added(slot: 2)\n") << reg.err;
    EXPECT_EQ(fx::readFile(prefs / "Preferences.cfg"), fx::preferencesCfg({u"APC40", u"Crestline"}));
    EXPECT_EQ(fx::readFile(prefs / "Preferences.cfg.before-crestline"), original);
    const auto theme = command("theme", root, " --dark");
    EXPECT_EQ(nlohmann::json::parse(theme.out)["area"], "#1A1A1A") << theme.err;
    EXPECT_EQ(nlohmann::json::parse(command("theme", root, " --light").out)["area"], "#E0E0E0");

    const nlohmann::json after = places(root);
    EXPECT_EQ(after["helperScript"], (Json{{"path", scriptIn(library_).string()}, {"installed", true}, {"current", true}}));
    EXPECT_EQ(after["registration"],
              (Json{{"state", "registered"}, {"slot", 2}, {"settingsKey", "liveHelperRegistered.Live 12.1.5"}}));
    // Nothing of the Mac layout appeared, and nothing outside the prefix.
    EXPECT_FALSE(fs::exists(root / "Library") || fs::exists(root / "Music") || fs::exists(outside_));
}

TEST_F(CrestlineLiveWine, LibraryCfgPathsAreTranslatedThroughTheDrivesOrExplained) {
    const auto prefs = prefix_.addPreferences("Live 12.1.5", fx::preferencesCfg({}, u"Dusk"), kSaved);
    prefix_.addProgram("Live 12 Suite", themes_);
    fs::create_directories(library_);
    const fs::path onZ = outside_ / "home" / "me" / "Music" / "Ableton" / "User Library";
    fx::writeFile(onZ / "Themes" / "Dusk.ask", fx::askTheme("#303040"));
    struct Case {
        std::string projectPath;  // as Live writes it
        fs::path expected;
        bool fromLibraryCfg;
        std::string why;  // part of the explanation when not from Library.cfg
    };
    const Case cases[] = {
        {"Z:\\home\\me\\Music\\Ableton", onZ, true, ""},
        {"c:\\USERS\\ME\\documents\\ABLETON", library_, true, ""},  // Windows ignores case; so do we
        {"D:\\Samples\\Ableton", library_, false, "drive d: is not mapped"},
        {"\\\\studio\\share\\Ableton", library_, false, "a network path"},
        {"C:\\users\\me\\Missing", library_, false, "which is not a folder"},
        {"", library_, false, "empty ProjectPath"},
    };
    for (const auto& c : cases) {
        fx::writeFile(prefs / "Library.cfg", fx::libraryCfg(c.projectPath));
        const auto r = run("crestline-live", "places --root " + quoted(prefix_.root()));
        const auto json = nlohmann::json::parse(r.out);
        EXPECT_EQ(json["userLibrary"]["path"], c.expected.string()) << c.projectPath;
        EXPECT_EQ(json["userLibrary"]["fromLibraryCfg"], c.fromLibraryCfg) << c.projectPath;
        if (!c.fromLibraryCfg) {
            EXPECT_NE(json["userLibrary"]["libraryCfg"].get<std::string>().find(c.why), std::string::npos)
                << json["userLibrary"];
        }
    }

    // In another case than on disk: installed into the folder that exists,
    // not into a new "DOCUMENTS".
    fx::writeFile(prefs / "Library.cfg", fx::libraryCfg("c:\\USERS\\ME\\documents\\ABLETON"));
    EXPECT_EQ(command("install", prefix_.root()).code, 0);
    EXPECT_EQ(fx::readFile(scriptIn(library_)), scriptText());
    EXPECT_EQ(filesUnder(prefix_.userFolder()),
              (std::vector<std::string>{"AppData/Roaming/Ableton/Live 12.1.5/Preferences/Library.cfg",
                                        "AppData/Roaming/Ableton/Live 12.1.5/Preferences/Preferences.cfg",
                                        "Documents/Ableton/User Library/Remote Scripts/Crestline/__init__.py"}));

    // Installed, registered and themed through Z:, outside the prefix, where
    // Live reads them.
    fx::writeFile(prefs / "Library.cfg", fx::libraryCfg("Z:\\home\\me\\Music\\Ableton"));
    EXPECT_EQ(command("install", prefix_.root()).code, 0);
    EXPECT_EQ(fx::readFile(scriptIn(onZ)), scriptText());
    EXPECT_EQ(command("register", prefix_.root()).out, "added(slot: 1)\n");
    EXPECT_EQ(fx::readFile(prefs / "Preferences.cfg"), fx::preferencesCfg({u"Crestline"}, u"Dusk"));
    EXPECT_EQ(nlohmann::json::parse(command("theme", prefix_.root()).out)["area"], "#303040");
}

TEST_F(CrestlineLiveWine, OfTwoVersionsTheNewestPreferencesServeAndOnlyThoseAreEdited) {
    const std::string older = fx::preferencesCfg({u"Push2"});
    const auto live11 = prefix_.addPreferences("Live 11.3.2", older, kSaved - 86400);
    const auto live12 = prefix_.addPreferences("Live 12.1.5", fx::preferencesCfg({}), kSaved);
    prefix_.addProgram("Live 11 Suite", {{"Default Dark Neutral Medium", fx::askTheme("#111111")}});
    const auto program12 = prefix_.addProgram("Live 12 Suite", themes_);

    auto json = places(prefix_.root());
    EXPECT_EQ(json["preferences"]["path"], live12.string());
    EXPECT_EQ(json["application"]["path"], program12.string());
    EXPECT_EQ(command("register", prefix_.root()).out, "added(slot: 1)\n");
    EXPECT_EQ(fx::readFile(live12 / "Preferences.cfg"), fx::preferencesCfg({u"Crestline"}));
    EXPECT_EQ(fx::readFile(live11 / "Preferences.cfg"), older);
    EXPECT_FALSE(fs::exists(live11 / "Preferences.cfg.before-crestline"));
    EXPECT_EQ(nlohmann::json::parse(command("theme", prefix_.root(), " --dark").out)["area"], "#1A1A1A");
    EXPECT_EQ(command("install", prefix_.root()).code, 0);
    EXPECT_EQ(fx::readFile(scriptIn(library_)), scriptText());

    // Live 11 saved last (after our edit of Live 12's file): it is the one
    // that runs, and it is not registered.
    fx::setModified(live11 / "Preferences.cfg", static_cast<double>(std::time(nullptr) + 3600));
    json = places(prefix_.root());
    EXPECT_EQ(json["preferences"]["version"], "Live 11.3.2");
    EXPECT_EQ(json["registration"]["settingsKey"], "liveHelperRegistered.Live 11.3.2");
    EXPECT_EQ(json["registration"]["state"], "notRegistered");
}

TEST_F(CrestlineLiveWine, AnOlderPrefixWithApplicationDataAndALinkedMyDocumentsWorksTheSame) {
    fs::remove_all(prefix_.documents());
    const fs::path homeDocuments = outside_ / "home" / "me" / "Documents";
    fs::create_directories(homeDocuments);
    fs::create_symlink(homeDocuments, prefix_.userFolder() / "My Documents");
    const std::string original = fx::preferencesCfg({u"A", u"B", u"C"});
    const auto prefs = prefix_.addPreferences("Live 10.1.30", original, kSaved, true);
    prefix_.addProgram("Live 10 Suite", themes_);

    const auto json = places(prefix_.root());
    const fs::path library = prefix_.userFolder() / "My Documents" / "Ableton" / "User Library";
    EXPECT_EQ(json["preferences"]["path"], prefs.string());
    EXPECT_EQ(json["userLibrary"]["path"], library.string());
    EXPECT_EQ(json["userLibrary"]["fromLibraryCfg"], false);
    EXPECT_EQ(command("install", prefix_.root()).code, 0);
    EXPECT_EQ(filesUnder(homeDocuments), std::vector<std::string>{"Ableton/User Library/Remote Scripts/Crestline/__init__.py"});
    EXPECT_EQ(command("register", prefix_.root()).out, "added(slot: 4)\n");
    EXPECT_EQ(fx::readFile(prefs / "Preferences.cfg"), fx::preferencesCfg({u"A", u"B", u"C", u"Crestline"}));
    EXPECT_EQ(nlohmann::json::parse(command("theme", prefix_.root(), " --light").out)["area"], "#E0E0E0");
    EXPECT_EQ(places(prefix_.root())["registration"]["settingsKey"], "liveHelperRegistered.Live 10.1.30");
}

TEST_F(CrestlineLiveWine, ARootWithoutLiveIsExplainedAndLeftAsItWas) {
    const fs::path empty = dir_ / "empty";
    fs::create_directories(empty / "Documents");
    // A prefix in which Live was never installed counts as no layout as well.
    for (const fs::path& root : {empty, prefix_.root(), dir_ / "missing"}) {
        const auto before = fs::exists(root) ? filesUnder(root) : std::vector<std::string>{};
        const auto json = places(root);
        EXPECT_EQ(json["layout"], "none") << root;
        for (const char* place : {"preferences", "userLibrary", "application", "themes", "helperScript"}) {
            EXPECT_TRUE(json[place]["path"].is_null()) << place;
            EXPECT_FALSE(json[place]["missing"].get<std::string>().empty()) << place;
        }
        EXPECT_EQ(json["registration"]["state"], "unrecognised");
        const auto install = command("install", root);
        EXPECT_EQ(install.code, 1);
        EXPECT_NE(install.err.find(json["layoutWhy"].get<std::string>()), std::string::npos) << install.err;
        EXPECT_EQ(command("register", root).out, "unrecognised\n");
        EXPECT_EQ(command("theme", root).out, "null\n");
        EXPECT_EQ(fs::exists(root) ? filesUnder(root) : std::vector<std::string>{}, before) << root;
    }
}

TEST_F(CrestlineLiveWine, TheRootComesFromTheOptionEnvironmentSettingWinePrefixOrDefaultPrefix) {
    const fs::path home = dir_ / "home";
    const fs::path config = dir_ / "config";
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    unsetenv("WINEPREFIX");
    unsetenv("CRESTLINE_LIVE_ROOT");
    auto from = [&](const std::string& more = "") {
        const auto json = nlohmann::json::parse(run("crestline-live", "places" + more).out);
        return json["rootFrom"].get<std::string>() + " " + json["root"].get<std::string>();
    };
    EXPECT_EQ(from(), "home " + home.string());
    fs::create_directories(home / ".wine");
    EXPECT_EQ(from(), "home " + home.string());  // not a prefix without drive_c
    fs::create_directories(home / ".wine" / "drive_c");
    EXPECT_EQ(from(), "~/.wine " + (home / ".wine").string());
    setenv("WINEPREFIX", prefix_.root().c_str(), 1);
    EXPECT_EQ(from(), "WINEPREFIX " + prefix_.root().string());
    fx::writeFile(config / "crestline" / "settings.json", R"({"liveRoot": "~/Live"})");
    EXPECT_EQ(from(), "liveRoot " + (home / "Live").string());
    setenv("CRESTLINE_LIVE_ROOT", dir_.c_str(), 1);
    EXPECT_EQ(from(), "CRESTLINE_LIVE_ROOT " + dir_.string());
    EXPECT_EQ(from(" --root " + quoted(outside_)), "--root " + outside_.string());
    EXPECT_EQ(run("crestline-live", "places --root").code, 2);
    EXPECT_EQ(run("crestline-live", "places extra").code, 2);
}
