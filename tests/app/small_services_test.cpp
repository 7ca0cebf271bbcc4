#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/app_paths.h"
#include "app/login_item.h"
#include "app/product_site.h"
#include "app/updater.h"
#include "app/whats_new.h"
#include "platform/log.h"
#include "settings/settings.h"
#include "tests/app/service_fakes.h"
#include "tests/settings/test_folder.h"

namespace crestline {
namespace {

using test::freshFolder;
using test::readFile;
using test::writeFile;

class SmallServices : public ::testing::Test {
protected:
    std::filesystem::path folder = freshFolder();
    FakeClock clock;
    Settings settings{folder / "settings.json", clock, Settings::Writing::manual};
};

TEST_F(SmallServices, WhatsNewIsNeverShownToAFirstTimeUserAndOnceAfterAnUpdate) {
    EXPECT_FALSE(WhatsNew::isPending(settings, false, "1.0"));
    EXPECT_EQ(settings.string(WhatsNew::kLastSeenKey), "1.0");
    EXPECT_FALSE(WhatsNew::isPending(settings, true, "1.0"));
    EXPECT_TRUE(WhatsNew::isPending(settings, true, "1.1"));
    // The controller stores the version as it shows the notice.
    settings.setString(WhatsNew::kLastSeenKey, "1.1");
    EXPECT_FALSE(WhatsNew::isPending(settings, true, "1.1"));

    // Someone who used a version from before the notice existed sees it.
    settings.remove(WhatsNew::kLastSeenKey);
    EXPECT_TRUE(WhatsNew::isPending(settings, true, "1.1"));
    EXPECT_FALSE(settings.contains(WhatsNew::kLastSeenKey));
}

TEST_F(SmallServices, WhatsNewReadsTheSectionOfTheVersion) {
    const std::string notes =
        "# Notes\n> not in a section\n## 1.1 \r\n> Faster.\n>  And calmer. \n- One\n-Not an item\n- Two\n"
        "## 1.0\n> Old.\n- Old item\n";
    EXPECT_EQ(WhatsNew::note(notes, "1.1"), (WhatsNew::Note{"Faster. And calmer.", {"One", "Two"}}));
    EXPECT_EQ(WhatsNew::note(notes, "1.0"), (WhatsNew::Note{"Old.", {"Old item"}}));
    EXPECT_EQ(WhatsNew::note(notes, "2.0"), std::nullopt);
    EXPECT_EQ(WhatsNew::note("", "1.0"), std::nullopt);
    EXPECT_EQ(WhatsNew::note("## 1.0", "1.0"), WhatsNew::Note{});  // truncated after the heading
    EXPECT_EQ(WhatsNew::note(std::string("\0\xff## 1.0\n", 8), "1.0"), std::nullopt);

    const Alert withNote = WhatsNew::alert(WhatsNew::note(notes, "1.1"), "1.1", "https://example.org");
    EXPECT_EQ(withNote.message, "Crestline is updated to 1.1");
    EXPECT_EQ(withNote.information, "Faster. And calmer.\n\nWhat's new:\nOne\nTwo");
    EXPECT_EQ(withNote.first, "OK");
    EXPECT_EQ(withNote.second, "What's New");
    const Alert without = WhatsNew::alert(std::nullopt, "2.0", "https://example.org");
    EXPECT_EQ(without.information, "Read what changed on https://example.org.");
}

TEST_F(SmallServices, TheShippedNotesHaveASectionForThisVersion) {
    const auto text = readFile(std::filesystem::path(CRESTLINE_TEST_SOURCE_DIR) / "resources" / WhatsNew::kResourceName);
    const auto note = WhatsNew::note(text, WhatsNew::currentVersion());
    ASSERT_TRUE(note.has_value());
    EXPECT_FALSE(note->intro.empty());
    EXPECT_FALSE(note->items.empty());
}

TEST_F(SmallServices, WhatsNewOpensThePageOnlyForItsButton) {
    test::ScriptedAlerts alerts;
    test::RecordingPages pages;
    for (AlertAnswer answer : {AlertAnswer::first, AlertAnswer::dismissed, AlertAnswer::second}) {
        WhatsNew::show(alerts, pages, "https://example.org");
        alerts.answer(answer);
    }
    EXPECT_EQ(pages.opened, std::vector<std::string>{"https://example.org#updates"});
}

TEST_F(SmallServices, TheLoginItemIsWrittenWholeAndRemoved) {
    LoginItem item(folder / "autostart", "/opt/My Apps/crestline");
    EXPECT_FALSE(item.isEnabled());
    ASSERT_TRUE(item.toggle());
    EXPECT_TRUE(item.isEnabled());
    const std::string entry = readFile(item.entryPath());
    EXPECT_EQ(item.entryPath(), folder / "autostart" / "crestline.desktop");
    EXPECT_NE(entry.find("\nExec=\"/opt/My Apps/crestline\" --autostart\n"), std::string::npos) << entry;
    EXPECT_EQ(entry.rfind("[Desktop Entry]\nType=Application\n", 0), 0u);
    struct stat info {};
    ASSERT_EQ(stat(item.entryPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    // Written by rename: no temporary file stays beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "autostart"), {}), 1);

    ASSERT_TRUE(item.toggle());
    EXPECT_FALSE(item.isEnabled());
    EXPECT_TRUE(item.setEnabled(false));  // already off

    EXPECT_EQ(LoginItem(folder, "/usr/bin/crestline").entryText().find("Exec=/usr/bin/crestline --autostart"),
              entry.find("Exec="));
    EXPECT_NE(LoginItem(folder, "/a/$b\\c\"d").entryText().find(R"(Exec="/a/\\$b\\\\c\\"d" --autostart)"),
              std::string::npos);
}

TEST_F(SmallServices, ALoginItemThatCannotBeWrittenIsLogged) {
    writeFile(folder / "autostart", "a file where the folder should be");
    LogCapture logs;
    LoginItem item(folder / "autostart", "/usr/bin/crestline");
    EXPECT_FALSE(item.setEnabled(true));
    EXPECT_EQ(logs.count("Crestline: inlogonderdeel aanpassen mislukt: "), 1);
}

TEST_F(SmallServices, OpenAtLoginIsDefaultedOnceAndOnlyForAnInstalledCopy) {
    const struct {
        const char* executable;
        bool installed;
    } copies[] = {
        {"/usr/bin/crestline", true},
        {"/opt/crestline/bin/crestline", true},
        {"/home/alice/Downloads/crestline/bin/crestline", false},
        {"/work/crestline/build/bin/crestline", false},
        {"/usr/../home/x/crestline", false},
    };
    for (const auto& copy : copies) {
        Settings fresh(folder / (std::string("s") + std::to_string(copy.installed) + ".json"), clock,
                       Settings::Writing::manual);
        fresh.remove(LoginItem::kDefaultedKey);
        const auto autostart = freshFolder() / "autostart";
        LoginItem item(autostart, copy.executable);
        item.openAtLoginByDefault(fresh);
        EXPECT_EQ(item.isEnabled(), copy.installed) << copy.executable;
        EXPECT_EQ(fresh.boolean(LoginItem::kDefaultedKey).value_or(false), copy.installed) << copy.executable;
        if (!copy.installed) continue;
        // Turned off by the user, it stays off.
        item.setEnabled(false);
        item.openAtLoginByDefault(fresh);
        EXPECT_FALSE(item.isEnabled());
    }
}

TEST_F(SmallServices, TheSiteIsOneSettingWithASafeDefault) {
    EXPECT_EQ(productSite(settings), kDefaultProductSite);
    const struct {
        const char* stored;
        std::string site;
    } cases[] = {
        {"https://example.org/", "https://example.org"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"file:///etc/passwd", kDefaultProductSite},
        {"javascript:alert(1)", kDefaultProductSite},
        {"https://a b", kDefaultProductSite},
        {"", kDefaultProductSite},
    };
    for (const auto& c : cases) {
        settings.setString(kProductSiteKey, c.stored);
        EXPECT_EQ(productSite(settings), c.site) << c.stored;
    }
    settings.setString(kProductSiteKey, "https://example.org");
    EXPECT_EQ(crashEndpoint(settings), "https://example.org/api/crash");
    test::RecordingPages pages;
    Updater().checkForUpdates(pages, productSite(settings));
    EXPECT_EQ(pages.opened, std::vector<std::string>{"https://example.org/download"});
}

}  // namespace
}  // namespace crestline
