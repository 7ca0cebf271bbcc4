#include <gtest/gtest.h>

#include "live/live_helper.h"
#include "live/live_places.h"
#include "live/live_set_reader.h"
#include "live/live_window_title.h"
#include "platform/fake_accessibility.h"
#include "platform/log.h"
#include "tests/live/fixtures.h"

using namespace crestline;
namespace fx = crestline::fixtures;
namespace fs = std::filesystem;
using LivePlaces::Layout;

namespace {

constexpr double kSaved = 1767225600.0;  // 2026-01-01

class LivePlacesTest : public ::testing::Test {
protected:
    LivePlacesTest() { LivePlaces::resetLogForTesting(); }

    fx::ScratchFolder root_;
    fx::LiveRootOverride override_{root_.path()};
    fx::WinePrefix prefix_{root_.path(), root_ / "unix"};
    fs::path macPrefs_ = root_ / "Library" / "Preferences" / "Ableton" / "Live 12.1";
};

}  // namespace

TEST_F(LivePlacesTest, OfBothLayoutsTheNewestPreferencesWinAndAreTheOnlyOnesUsed) {
    // Wine's side alone has Ableton's folders but no Preferences.cfg yet.
    prefix_.addProgram("Live 12 Suite", {{"Default Dark Neutral Medium", fx::askTheme("#1A1A1A")}});
    EXPECT_EQ(LivePlaces::layout(), Layout::windows);
    EXPECT_FALSE(LivePlaces::newestPreferencesFolder());
    EXPECT_EQ(LivePlaces::userLibrary(), prefix_.documents() / "Ableton" / "User Library");

    fx::writeFile(macPrefs_ / "Preferences.cfg", "mac");
    fx::setModified(macPrefs_ / "Preferences.cfg", kSaved);
    EXPECT_EQ(LivePlaces::layout(), Layout::mac);
    EXPECT_EQ(LivePlaces::userLibrary(), root_ / "Music" / "Ableton" / "User Library");

    const auto wine = prefix_.addPreferences("Live 12.1.5", "wine", kSaved + 1);
    EXPECT_EQ(LivePlaces::newestPreferencesFolder(), wine);
    EXPECT_EQ(LivePlaces::themesFolder(), root_ / "drive_c" / "ProgramData" / "Ableton" / "Live 12 Suite" / "Resources" / "Themes");
    fx::setModified(macPrefs_ / "Preferences.cfg", kSaved + 2);
    const auto places = LivePlaces::find();
    EXPECT_EQ(places.layout, Layout::mac);
    EXPECT_EQ(places.preferences.path, macPrefs_);
    EXPECT_EQ(places.application.path, std::nullopt);  // no Mac application: Wine's is not borrowed
    EXPECT_NE(places.application.missing.find("Applications/Ableton Live"), std::string::npos);
    EXPECT_EQ(LiveHelper::registerIn(std::nullopt), LiveHelper::Registration::unrecognised());  // "mac" is no block
    EXPECT_EQ(fx::readFile(wine / "Preferences.cfg"), "wine");
    fx::setModified(wine / "Preferences.cfg", kSaved + 2);  // a tie goes to the prefix
    EXPECT_EQ(LivePlaces::layout(), Layout::windows);
}

TEST_F(LivePlacesTest, AnUntranslatableLibraryPathFallsBackAndIsLoggedOnce) {
    const auto prefs = prefix_.addPreferences("Live 12.1.5", "x", kSaved);
    fx::writeFile(prefs / "Library.cfg", fx::libraryCfg("Q:\\Ableton"));
    LogCapture log;
    for (int tick = 0; tick < 3; ++tick) EXPECT_EQ(LivePlaces::userLibrary(), prefix_.documents() / "Ableton" / "User Library");
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Crestline: User Library uit Library.cfg (Q:\\Ableton) niet te vinden in " +
                                                    root_.path().string() + ": drive q: is not mapped in " +
                                                    (root_ / "dosdevices").string() +
                                                    "; de standaard User Library wordt gebruikt"});
    fx::writeFile(prefs / "Library.cfg", fx::libraryCfg("R:\\Ableton"));  // another path: another line
    LivePlaces::userLibrary();
    EXPECT_EQ(log.count("(R:\\Ableton)"), 1);
}

TEST(LivePlacesFiles, LibraryCfgProjectPathAndVersionNames) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {fx::libraryCfg("C:\\Users\\me &amp; you\\Documents\\Ableton"), "C:\\Users\\me & you\\Documents\\Ableton"},
        {fx::libraryCfg(""), std::nullopt},
        {"<UserLibrary><ProjectPath Value=\"C:\\x\" />", std::nullopt},  // unclosed element
        {"<UserLibrary><ProjectPath Value=\"C:\\x</UserLibrary>", std::nullopt},
        {"<ContentLibrary><ProjectPath Value=\"C:\\x\" /></ContentLibrary>", std::nullopt},
        {fx::libraryCfg("C:\\x").substr(0, 300), std::nullopt},
        {"\x1f\x8b\x08\x00garbage", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        std::string why;
        EXPECT_EQ(LivePlaces::libraryProjectPath(text, &why), expected) << text;
        EXPECT_EQ(why.empty(), expected.has_value()) << why;
    }
    const std::pair<fs::path, std::string> versions[] = {
        {"/p/drive_c/users/me/AppData/Roaming/Ableton/Live 12.1.5/Preferences", "Live 12.1.5"},
        {"/p/drive_c/users/me/AppData/Roaming/Ableton/Live 12.1.5/preferences/", "Live 12.1.5"},
        {"/home/me/Library/Preferences/Ableton/Live 11.3", "Live 11.3"},
    };
    for (const auto& [folder, version] : versions) {
        EXPECT_EQ(LivePlaces::versionName(folder), version);
        EXPECT_EQ(LivePlaces::registrationKey(folder), "liveHelperRegistered." + version);
    }
}

TEST(LiveWindowTitle, TheSetAndItsProjectComeFromLivesMainWindowTitle) {
    using Set = LiveWindowTitle::TitledSet;
    const std::pair<std::string, std::optional<Set>> cases[] = {
        {"My Song [My Song Project] - Ableton Live 12 Suite", Set{"My Song", "My Song Project", "Ableton Live 12 Suite", false}},
        {"My Song* [My Song Project] - Ableton Live 12 Suite", Set{"My Song", "My Song Project", "Ableton Live 12 Suite", true}},
        {"Untitled - Ableton Live 11 Lite", Set{"Untitled", "", "Ableton Live 11 Lite", false}},
        {"Mix [v2] - Ableton [old] [Final] - Ableton Live 12 Suite", Set{"Mix [v2] - Ableton [old]", "Final", "Ableton Live 12 Suite", false}},
        {"Settings", std::nullopt},
        {"Serum/1-Audio", std::nullopt},
        {" - Ableton Live 12 Suite", std::nullopt},
        {"* [] - Ableton Live 12", std::nullopt},
        {"", std::nullopt},
        {std::string(5000, 'a') + " - Ableton Live 12", std::nullopt},
    };
    for (const auto& [title, expected] : cases) EXPECT_EQ(LiveWindowTitle::parse(title), expected) << title.substr(0, 60);

    FakeAccessibility ax;
    ax.addWindow(42, "Serum/1-Audio");
    ax.addWindow(42, "Beat* [Beat Project] - Ableton Live 12 Suite");
    EXPECT_EQ(LiveWindowTitle::openSet(42, ax), (Set{"Beat", "Beat Project", "Ableton Live 12 Suite", true}));
    EXPECT_FALSE(LiveWindowTitle::openSet(43, ax));
}

TEST_F(LivePlacesTest, ATitledSetIsFoundInLivesRecentDocumentsOrBesideTheUsualFolders) {
    using Set = LiveWindowTitle::TitledSet;
    const fs::path music = prefix_.userFolder() / "Music";
    const fs::path gig = music / "Gigs" / "2026" / "Beat Project" / "Beat.als";  // deeper than any search
    fx::writeFile(gig, "set");
    // Live's recent documents: one gone since, one in another case than on disk.
    const std::string prefs = fx::preferencesCfg({}) + fx::record(u"C:\\Old\\Beat Project\\Beat.als") +
                              fx::record(u"C:\\users\\me\\MUSIC\\gigs\\2026\\Beat Project\\Beat.als") + "\x01";
    prefix_.addPreferences("Live 12.1.5", prefs, kSaved);
    const fs::path song = prefix_.documents() / "Ableton" / "Song Project" / "Song.als";
    const fs::path idea = prefix_.userFolder() / "Desktop" / "Sketches" / "Idea Project" / "Idea.als";
    fx::writeFile(song, "set");
    fx::writeFile(idea, "set");
    fs::create_directories(prefix_.documents() / "Ableton" / "User Library");

    const std::pair<Set, std::optional<fs::path>> cases[] = {
        {Set{"Beat", "Beat Project", "", true}, gig},
        {Set{"Song", "Song Project", "", false}, song},
        {Set{"Idea", "Idea Project", "", false}, idea},
        {Set{"Idea", "Other Project", "", false}, std::nullopt},
        {Set{"Untitled", "", "", false}, std::nullopt},  // never saved
    };
    for (const auto& [set, expected] : cases) EXPECT_EQ(LiveWindowTitle::findSetFile(set), expected) << set.set;

    // Windows that know no document: the set reader takes the title's set.
    FakeAccessibility ax;
    ax.addWindow(7, "Serum/1-Audio");
    const auto main = ax.addWindow(7, "Song* [Song Project] - Ableton Live 12 Suite");
    EXPECT_EQ(LiveSetReader::openSetPath(7, ax), song.string());
    main->set("AXTitle", std::string("Song [Song Project] - Ableton Live 12 Suite"));  // saved: the same set
    EXPECT_EQ(LiveSetReader::openSetPath(7, ax), song.string());
    fs::remove(song);
    EXPECT_FALSE(LiveSetReader::openSetPath(7, ax));
}
