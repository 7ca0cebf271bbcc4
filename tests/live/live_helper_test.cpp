#include <gtest/gtest.h>

#include <sys/stat.h>

#include "live/live_helper.h"
#include "platform/log.h"
#include "tests/live/fixtures.h"

using namespace crestline;
namespace fx = crestline::fixtures;
namespace fs = std::filesystem;
using Registration = LiveHelper::Registration;

namespace {

class LiveHelperTest : public ::testing::Test {
protected:
    LiveHelperTest() : override_(root_.path()) {
        resources_ = root_ / "resources";
        fx::writeFile(resources_ / "LiveScript" / "Crestline" / "__init__.py", kScript);
        setenv("CRESTLINE_RESOURCE_DIR", resources_.c_str(), 1);
        prefsFolder_ = root_ / "Library" / "Preferences" / "Ableton" / "Live 12.1";
    }
    ~LiveHelperTest() override {
        unsetenv("CRESTLINE_RESOURCE_DIR");
        LiveHelper::setBeforeReplaceHookForTesting({});
    }

    fs::path writePrefs(const std::string& bytes, mode_t mode = 0600) {
        const auto file = prefsFolder_ / "Preferences.cfg";
        fx::writeFile(file, bytes);
        chmod(file.c_str(), mode);
        return file;
    }

    static constexpr const char* kScript = "# helper v2\nprint('hi')\n";
    fx::ScratchFolder root_;
    fx::LiveRootOverride override_;
    fs::path resources_;
    fs::path prefsFolder_;
};

}  // namespace

TEST(LiveHelperRecords, EncodesAndReadsLengthPrefixedUtf16) {
    EXPECT_EQ(LiveHelper::encoded(u"None").size(), 12u);
    EXPECT_EQ(LiveHelper::encoded(u"Crestline").size(), 22u);
    EXPECT_EQ(LiveHelper::encoded(u"None"), std::string("\x04\0\0\0N\0o\0n\0e\0", 12));
    const std::string two = fx::record(u"ab") + fx::record(std::u16string(64, u'x'));
    const auto list = LiveHelper::strings(two, 0, 2);
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)[1], (LiveHelper::StringRecord{8, std::u16string(64, u'x')}));
    EXPECT_FALSE(LiveHelper::strings(two, 0, 3));  // not a shorter list
    EXPECT_FALSE(LiveHelper::strings(fx::record(std::u16string(65, u'x')), 0, 1));
    EXPECT_FALSE(LiveHelper::strings(std::string("\0\0\0\0", 4), 0, 1));
    EXPECT_FALSE(LiveHelper::strings(two.substr(0, two.size() - 1), 0, 2));
    EXPECT_FALSE(LiveHelper::strings(two, two.size() + 3, 1));
    EXPECT_TRUE(LiveHelper::strings(two, 0, 0));
}

TEST(LiveHelperRecords, FindsExactlyOneControlSurfaceBlock) {
    const std::string prefs = fx::preferencesCfg({u"APC40", u"None"}, u"Big Theme", 3);
    const auto block = LiveHelper::controlSurfaces(prefs);
    ASSERT_TRUE(block);
    ASSERT_EQ(block->size(), 21u);
    EXPECT_EQ((*block)[0].text, u"APC40");
    EXPECT_EQ((*block)[19].text, u"FromPush");

    // A record of 65 units in the chain breaks it.
    std::string broken = fx::preferencesCfg({u"APC40"});
    const size_t at = broken.find(fx::record(u"APC40"));
    broken.replace(at, fx::record(u"APC40").size(), fx::record(std::u16string(65, u'A')));
    EXPECT_FALSE(LiveHelper::controlSurfaces(broken));
    // ... but one before the block does not matter.
    EXPECT_TRUE(LiveHelper::controlSurfaces(fx::record(std::u16string(65, u'A')) + std::string(4, '\x7f') + prefs));

    // Two valid blocks: we cannot tell which one Live reads.
    EXPECT_FALSE(LiveHelper::controlSurfaces(prefs + prefs));
    // An anchor alone, a control character, an empty file, garbage.
    EXPECT_FALSE(LiveHelper::controlSurfaces(fx::record(u"FromPush") + fx::record(u"ToPush")));
    EXPECT_FALSE(LiveHelper::controlSurfaces(fx::preferencesCfg({u"Bad\tName"})));
    EXPECT_FALSE(LiveHelper::controlSurfaces(""));
    std::string garbage;
    for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) % 251));
    EXPECT_FALSE(LiveHelper::controlSurfaces(garbage + fx::record(u"FromPush")));
}

TEST_F(LiveHelperTest, RegistersInTheFirstFreeSlotWithABackupAndTheModeKept) {
    const std::string original = fx::preferencesCfg({u"APC40", u"None", u"None"});
    const auto file = writePrefs(original, 0640);
    EXPECT_EQ(LiveHelper::registerIn(std::nullopt), Registration::added(2));
    EXPECT_EQ(Registration::added(2).text(), "added(slot: 2)");
    const std::string edited = fx::readFile(file);
    EXPECT_EQ(edited.size(), original.size() + 10);
    const auto block = LiveHelper::controlSurfaces(edited);
    ASSERT_TRUE(block);
    EXPECT_EQ((*block)[3].text, u"Crestline");
    EXPECT_EQ((*block)[0].text, u"APC40");
    EXPECT_EQ((*block)[6].text, u"None");
    EXPECT_EQ(fx::readFile(prefsFolder_ / "Preferences.cfg.before-crestline"), original);
    struct stat info {};
    stat(file.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // Registering again finds it, touches nothing and keeps the first backup.
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::present());
    EXPECT_EQ(fx::readFile(file), edited);
    EXPECT_EQ(fx::readFile(prefsFolder_ / "Preferences.cfg.before-crestline"), original);
}

TEST_F(LiveHelperTest, SlotOutcomes) {
    writePrefs(fx::preferencesCfg({}));
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::added(1));

    const std::string present = fx::preferencesCfg({u"A", u"B", u"C", u"Crestline", u"None"});
    writePrefs(present);
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::present());
    EXPECT_EQ(fx::readFile(prefsFolder_ / "Preferences.cfg"), present);

    fs::remove(prefsFolder_ / "Preferences.cfg.before-crestline");
    const std::string full = fx::preferencesCfg({u"A", u"B", u"C", u"D", u"E", u"F"});
    writePrefs(full);
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::noFreeSlot());
    EXPECT_EQ(Registration::noFreeSlot().text(), "noFreeSlot");
    EXPECT_EQ(fx::readFile(prefsFolder_ / "Preferences.cfg"), full);
    EXPECT_FALSE(fs::exists(prefsFolder_ / "Preferences.cfg.before-crestline"));
}

TEST_F(LiveHelperTest, UnrecognisedLayoutsAreNeverWritten) {
    EXPECT_EQ(LiveHelper::registerIn(std::nullopt), Registration::unrecognised());  // no folder
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::unrecognised());  // no file
    const std::string twice = fx::preferencesCfg({}) + fx::preferencesCfg({});
    writePrefs(twice);
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::unrecognised());
    EXPECT_EQ(Registration::unrecognised().text(), "unrecognised");
    EXPECT_EQ(fx::readFile(prefsFolder_ / "Preferences.cfg"), twice);
    EXPECT_FALSE(fs::exists(prefsFolder_ / "Preferences.cfg.before-crestline"));
}

TEST_F(LiveHelperTest, AFailingBackupAbortsTheEdit) {
    const std::string original = fx::preferencesCfg({});
    writePrefs(original);
    // A dangling link where the backup goes: it cannot be created, and the
    // file it points to does not exist either.
    fs::create_symlink(root_ / "nowhere" / "backup", prefsFolder_ / "Preferences.cfg.before-crestline");
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::unrecognised());
    EXPECT_EQ(fx::readFile(prefsFolder_ / "Preferences.cfg"), original);
}

TEST_F(LiveHelperTest, AFileChangedBeforeTheReplaceIsLeftAlone) {
    writePrefs(fx::preferencesCfg({}));
    const std::string livesVersion = fx::preferencesCfg({u"Push2"}) + "saved by Live";
    LiveHelper::setBeforeReplaceHookForTesting([&] { writePrefs(livesVersion); });
    EXPECT_EQ(LiveHelper::registerIn(prefsFolder_), Registration::unrecognised());
    EXPECT_EQ(fx::readFile(prefsFolder_ / "Preferences.cfg"), livesVersion);
}

TEST_F(LiveHelperTest, PreferencesFolderIsTheNewestLiveFolder) {
    const auto base = root_ / "Library" / "Preferences" / "Ableton";
    fx::writeFile(base / "Live 11.3" / "Preferences.cfg", "old");
    fx::writeFile(base / "Live 12.0" / "Preferences.cfg", "new");
    fx::writeFile(base / "Beta 13" / "Preferences.cfg", "newest but not Live");
    fs::create_directories(base / "Live 13.0");  // no Preferences.cfg
    fx::setModified(base / "Live 11.3" / "Preferences.cfg", 1700000000);
    fx::setModified(base / "Live 12.0" / "Preferences.cfg", 1700000100);
    fx::setModified(base / "Beta 13" / "Preferences.cfg", 1700000200);
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
    const auto library = prefsFolder_ / "Library.cfg";
    fx::writeFile(library, "<Ableton><ContentLibrary><ProjectPath Value=\"/elsewhere\" /></ContentLibrary>"
                           "<UserLibrary><LibraryProject><ProjectPath Value=\"" +
                               (root_.path().string() + "/Sounds &amp; Things") +
                               "\" /></LibraryProject></UserLibrary></Ableton>");
    EXPECT_EQ(LiveHelper::userLibrary(), custom / "User Library");
    EXPECT_EQ(LiveHelper::installedScript(), custom / "User Library" / "Remote Scripts" / "Crestline" / "__init__.py");

    for (const std::string& text :
         {std::string("<UserLibrary><ProjectPath Value=\"\" /></UserLibrary>"),
          std::string("<Other><ProjectPath Value=\"") + custom.string() + "\" /></Other>",
          std::string("<UserLibrary><ProjectPath Value=\"") + (root_ / "missing").string() + "\" /></UserLibrary>",
          std::string("<UserLibrary><ProjectPath Value=\"") + custom.string(),
          std::string("<UserLibrary><ProjectPath Value=\"") + custom.string() + "\" />"}) {
        fx::writeFile(library, text);
        EXPECT_EQ(LiveHelper::userLibrary(), fallback) << text;
    }
}

TEST_F(LiveHelperTest, InstallsUpdatesAndLeavesAnIdenticalScriptAlone) {
    LogCapture log;
    const auto dest = root_ / "Music" / "Ableton" / "User Library" / "Remote Scripts" / "Crestline" / "__init__.py";
    EXPECT_EQ(LiveHelper::installOrUpdate(), LiveHelper::InstallOutcome::installed);
    EXPECT_EQ(fx::readFile(dest), kScript);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Crestline: Live Helper geinstalleerd in " + dest.string()});

    log.clear();
    const auto before = fs::last_write_time(dest);
    EXPECT_EQ(LiveHelper::installOrUpdate(), LiveHelper::InstallOutcome::unchanged);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(fs::last_write_time(dest), before);

    fx::writeFile(dest, "# helper v1\n");
    fx::writeFile(dest.parent_path() / "__pycache__" / "__init__.cpython-311.pyc", "old byte code");
    EXPECT_EQ(LiveHelper::installOrUpdate(), LiveHelper::InstallOutcome::updated);
    EXPECT_EQ(fx::readFile(dest), kScript);
    EXPECT_FALSE(fs::exists(dest.parent_path() / "__pycache__"));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Crestline: Live Helper bijgewerkt in " + dest.string()});

    // Without our copy there is nothing to compare with.
    log.clear();
    fx::writeFile(dest, "# edited by hand\n");
    setenv("CRESTLINE_RESOURCE_DIR", (root_ / "empty").c_str(), 1);
    EXPECT_EQ(LiveHelper::installOrUpdate(), LiveHelper::InstallOutcome::nothingToCompare);
    EXPECT_TRUE(log.lines().empty());
    fs::remove(dest);
    EXPECT_EQ(LiveHelper::installOrUpdate(), LiveHelper::InstallOutcome::installFailed);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.lines()[0].starts_with("Crestline: Live Helper installeren mislukt: ")) << log.lines()[0];
    EXPECT_THROW(LiveHelper::install(), std::system_error);
}

TEST_F(LiveHelperTest, InstallFailuresAreLoggedWithTheirReason) {
    LogCapture log;
    // "Remote Scripts" is a file, so the script's folder cannot be made.
    fx::writeFile(root_ / "Music" / "Ableton" / "User Library" / "Remote Scripts", "not a folder");
    EXPECT_EQ(LiveHelper::installOrUpdate(), LiveHelper::InstallOutcome::installFailed);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.lines()[0].starts_with("Crestline: Live Helper installeren mislukt: ")) << log.lines()[0];
}

TEST(LiveHelperResources, TheBuildTreeCarriesTheScriptNextToTheBinaries) {
    unsetenv("CRESTLINE_RESOURCE_DIR");
    const auto found = LiveHelper::bundled();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->filename(), "__init__.py");
    EXPECT_EQ(found->parent_path().filename(), "Crestline");
    const char* source = std::getenv("CRESTLINE_SOURCE_DIR");
    if (source != nullptr) {
        EXPECT_EQ(fx::readFile(*found), fx::readFile(fs::path(source) / "resources" / "LiveScript" / "Crestline" / "__init__.py"));
    }
}
