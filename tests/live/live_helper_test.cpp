#include <gtest/gtest.h>

#include <sys/stat.h>

#include "live/live_helper.h"
#include "platform/log.h"
#include "tests/live/fixtures.h"

using namespace crestline;
namespace fx = crestline::fixtures;
namespace fs = std::filesystem;
using Registration = LiveHelper::Registration;
using Outcome = LiveHelper::InstallOutcome;

namespace {

class LiveHelperTest : public ::testing::Test {
protected:
    LiveHelperTest() : override_(root_.path()) {
        fx::writeFile(root_ / "resources" / "LiveScript" / "Crestline" / "__init__.py", kScript);
        setenv("CRESTLINE_RESOURCE_DIR", (root_ / "resources").c_str(), 1);
    }
    ~LiveHelperTest() override {
        unsetenv("CRESTLINE_RESOURCE_DIR");
        LiveHelper::setBeforeReplaceHookForTesting({});
    }

    void writePrefs(const std::string& bytes) { fx::writeFile(prefs_, bytes); }

    static constexpr const char* kScript = "# helper v2\nprint('hi')\n";
    fx::ScratchFolder root_;
    fx::LiveRootOverride override_;
    fs::path prefsFolder_ = root_ / "Library" / "Preferences" / "Ableton" / "Live 12.1";
    fs::path prefs_ = prefsFolder_ / "Preferences.cfg";
    fs::path backup_ = prefsFolder_ / "Preferences.cfg.before-crestline";
};

}  // namespace

TEST(LiveHelperRecords, Utf16RecordsOfOneTo64UnitsChainIntoExactlyOneControlSurfaceBlock) {
    EXPECT_EQ(LiveHelper::encoded(u"None"), std::string("\x04\0\0\0N\0o\0n\0e\0", 12));
    const std::string two = fx::record(u"ab") + fx::record(std::u16string(64, u'x'));
    const auto list = LiveHelper::strings(two, 0, 2);
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)[1], (LiveHelper::StringRecord{8, std::u16string(64, u'x')}));
    EXPECT_TRUE(LiveHelper::strings(two, 0, 0));
    EXPECT_FALSE(LiveHelper::strings(two, 0, 3));  // not a shorter list
    EXPECT_FALSE(LiveHelper::strings(fx::record(std::u16string(65, u'x')), 0, 1));
    EXPECT_FALSE(LiveHelper::strings(std::string("\0\0\0\0", 4), 0, 1));
    EXPECT_FALSE(LiveHelper::strings(two.substr(0, two.size() - 1), 0, 2));
    EXPECT_FALSE(LiveHelper::strings(two, two.size() + 3, 1));

    const std::string prefs = fx::preferencesCfg({u"APC40", u"None"}, u"Big Theme", 3);
    const auto block = LiveHelper::controlSurfaces(prefs);
    ASSERT_TRUE(block);
    ASSERT_EQ(block->size(), 21u);
    EXPECT_EQ((*block)[0].text, u"APC40");
    EXPECT_EQ((*block)[19].text, u"FromPush");
    // A record of 65 units before the block does not matter, one in the chain breaks it.
    EXPECT_TRUE(LiveHelper::controlSurfaces(fx::record(std::u16string(65, u'A')) + std::string(4, '\x7f') + prefs));
    std::string broken = fx::preferencesCfg({u"APC40"});
    broken.replace(broken.find(fx::record(u"APC40")), fx::record(u"APC40").size(), fx::record(std::u16string(65, u'A')));
    std::string garbage;
    for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) % 251));
    const std::string bad[] = {broken,
                               prefs + prefs,  // two blocks: we cannot tell which one Live reads
                               fx::record(u"FromPush") + fx::record(u"ToPush"),
                               fx::preferencesCfg({u"Bad\tName"}),
                               "",
                               garbage + fx::record(u"FromPush"),
                               prefs.substr(0, prefs.size() - 20)};
    for (const auto& bytes : bad) EXPECT_FALSE(LiveHelper::controlSurfaces(bytes)) << bytes.size();
}

TEST_F(LiveHelperTest, OnlyAnAdditionWritesTheFileKeepingItsModeAndTheFirstBackup) {
    EXPECT_EQ(LiveHelper::registerIn(std::nullopt), Registration::unrecognised());  // no folder
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::unrecognised());  // no file
    const std::string original = fx::preferencesCfg({u"APC40", u"None", u"None"});
    writePrefs(original);
    chmod(prefs_.c_str(), 0640);
    EXPECT_EQ(LiveHelper::registerIn(std::nullopt), Registration::added(2));
    const std::string edited = fx::readFile(prefs_);
    EXPECT_EQ(edited, fx::preferencesCfg({u"APC40", u"Crestline"}));
    EXPECT_EQ(fx::readFile(backup_), original);
    struct stat info {};
    stat(prefs_.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::present());
    EXPECT_EQ(fx::readFile(prefs_), edited);
    EXPECT_EQ(fx::readFile(backup_), original);

    fs::remove(backup_);
    const std::pair<std::string, Registration> cases[] = {
        {fx::preferencesCfg({u"A", u"B", u"C", u"Crestline", u"None"}), Registration::present()},
        {fx::preferencesCfg({u"A", u"B", u"C", u"D", u"E", u"F"}), Registration::noFreeSlot()},
        {fx::preferencesCfg({}) + fx::preferencesCfg({}), Registration::unrecognised()},
    };
    for (const auto& [bytes, outcome] : cases) {
        writePrefs(bytes);
        EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), outcome) << outcome.text();
        EXPECT_EQ(fx::readFile(prefs_), bytes);
        EXPECT_FALSE(fs::exists(backup_));
    }
}

TEST_F(LiveHelperTest, AFailingBackupOrALateChangeAbortsTheEdit) {
    const std::string original = fx::preferencesCfg({});
    writePrefs(original);
    // A dangling link where the backup goes: it cannot be created, and the
    // file it points to does not exist either.
    fs::create_symlink(root_ / "nowhere" / "backup", backup_);
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::unrecognised());
    EXPECT_EQ(fx::readFile(prefs_), original);

    // Live saves between our last check and the replace.
    fs::remove(backup_);
    const std::string livesVersion = fx::preferencesCfg({u"Push2"}) + "saved by Live";
    LiveHelper::setBeforeReplaceHookForTesting([&] { writePrefs(livesVersion); });
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::unrecognised());
    EXPECT_EQ(fx::readFile(prefs_), livesVersion);
}

TEST_F(LiveHelperTest, PreferencesFolderIsTheNewestLiveFolder) {
    const auto base = root_ / "Library" / "Preferences" / "Ableton";
    for (const auto& [folder, saved] :
         {std::pair{"Live 11.3", 1700000000}, {"Live 12.0", 1700000100}, {"Beta 13", 1700000200}}) {
        fx::writeFile(base / folder / "Preferences.cfg", folder);
        fx::setModified(base / folder / "Preferences.cfg", saved);
    }
    fs::create_directories(base / "Live 13.0");  // no Preferences.cfg
    EXPECT_EQ(LiveHelper::preferencesFolder(), base / "Live 12.0");
    fx::setModified(base / "Live 11.3" / "Preferences.cfg", 1700000300);
    EXPECT_EQ(LiveHelper::preferencesFolder(), base / "Live 11.3");
    fx::setModified(base / "Live 12.0" / "Preferences.cfg", 1700000300);
    EXPECT_EQ(LiveHelper::preferencesFolder(), base / "Live 11.3");  // a tie: first by name
}

TEST_F(LiveHelperTest, UserLibraryComesFromLibraryCfgWhenThatFolderExists) {
    const auto fallback = root_ / "Music" / "Ableton" / "User Library";
    EXPECT_EQ(LiveHelper::userLibrary(), fallback);
    writePrefs(fx::preferencesCfg({}));
    const auto custom = root_ / "Sounds & Things";
    fs::create_directories(custom / "User Library");
    const std::string open = "<UserLibrary><LibraryProject><ProjectPath Value=\"";
    const std::string close = "\" /></LibraryProject></UserLibrary>";
    const std::string elsewhere = "<ContentLibrary><ProjectPath Value=\"/elsewhere\" /></ContentLibrary>";
    fx::writeFile(prefsFolder_ / "Library.cfg", elsewhere + open + root_.path().string() + "/Sounds &amp; Things" + close);
    EXPECT_EQ(LiveHelper::userLibrary(), custom / "User Library");
    EXPECT_EQ(LiveHelper::installedScript(), custom / "User Library" / "Remote Scripts" / "Crestline" / "__init__.py");

    for (const std::string& text : {open + close, "<Other><ProjectPath Value=\"" + custom.string() + "\" /></Other>",
                                    open + (root_ / "missing").string() + close, open + custom.string(),
                                    open + custom.string() + "\" />"}) {
        fx::writeFile(prefsFolder_ / "Library.cfg", text);
        EXPECT_EQ(LiveHelper::userLibrary(), fallback) << text;
    }
}

TEST_F(LiveHelperTest, InstallsUpdatesAndLeavesAnIdenticalScriptAlone) {
    fs::create_directories(root_ / "Music" / "Ableton");  // Live's Mac folders, so the root has a layout
    LogCapture log;
    const auto dest = root_ / "Music" / "Ableton" / "User Library" / "Remote Scripts" / "Crestline" / "__init__.py";
    using Lines = std::vector<std::string>;
    const auto step = [&](Outcome expected) {
        log.clear();
        EXPECT_EQ(LiveHelper::installOrUpdate(), expected);
        return log.lines();
    };
    const auto fails = [&] {
        const auto lines = step(Outcome::installFailed);
        EXPECT_TRUE(lines.size() == 1 && lines[0].starts_with("Crestline: Live Helper installeren mislukt: "))
            << testing::PrintToString(lines);
    };
    EXPECT_EQ(step(Outcome::installed), Lines{"Crestline: Live Helper geinstalleerd in " + dest.string()});
    EXPECT_EQ(fx::readFile(dest), kScript);
    const auto before = fs::last_write_time(dest);
    EXPECT_EQ(step(Outcome::unchanged), Lines{});
    EXPECT_EQ(fs::last_write_time(dest), before);

    fx::writeFile(dest, "# helper v1\n");
    fx::writeFile(dest.parent_path() / "__pycache__" / "__init__.cpython-311.pyc", "old byte code");
    EXPECT_EQ(step(Outcome::updated), Lines{"Crestline: Live Helper bijgewerkt in " + dest.string()});
    EXPECT_EQ(fx::readFile(dest), kScript);
    EXPECT_FALSE(fs::exists(dest.parent_path() / "__pycache__"));

    // Without our copy there is nothing to compare with, nor to install.
    fx::writeFile(dest, "# edited by hand\n");
    setenv("CRESTLINE_RESOURCE_DIR", (root_ / "empty").c_str(), 1);
    EXPECT_EQ(step(Outcome::nothingToCompare), Lines{});
    fs::remove(dest);
    fails();
    EXPECT_THROW(LiveHelper::install(), std::system_error);

    // "Remote Scripts" is a file, so the script's folder cannot be made.
    setenv("CRESTLINE_RESOURCE_DIR", (root_ / "resources").c_str(), 1);
    fs::remove_all(dest.parent_path().parent_path());
    fx::writeFile(dest.parent_path().parent_path(), "not a folder");
    fails();
}
