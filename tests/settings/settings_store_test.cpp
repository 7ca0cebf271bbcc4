#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "platform/clock.h"
#include "platform/log.h"
#include "tests/settings/test_folder.h"

using namespace crestline;
using namespace crestline::test;
namespace fs = std::filesystem;

namespace {

using Writing = SettingsStore::Writing;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(SettingsStore, EveryTypeSurvivesAWriteAndANewStoreOverTheSameFile) {
    const auto file = freshFolder() / "crestline" / "settings.json";  // the folder comes with the first write
    FakeClock clock;
    // Data of every length modulo three, so every padding of the text form.
    const std::vector<std::string> blobs{"", "a", "ab", std::string("{\"a\":1}\0\xff\x01 tail", 14)};
    {
        SettingsStore store(file, clock, Writing::manual);
        store.setBool("b", true);
        store.setInteger("i", -42);
        store.setNumber("whole", 36.0);
        store.setNumber("d", 0.1);
        store.setNumber("nan", kNaN);  // non-finite numbers are not stored
        store.setNumbers("inf", {0.5, std::numeric_limits<double>::infinity()});
        store.setString("s", "Mid \u2212 Side");
        store.setStrings("ss", {"shortTerm", "integrated"});
        store.setStrings("empty", {});
        store.setNumbers("ns", {246.0 / 255.0, 0.5, 1.0});
        store.setDate("t", dateFromReferenceSeconds(790000000.0));
        for (std::size_t k = 0; k < blobs.size(); ++k) store.setData("x" + std::to_string(k), blobs[k]);
        ASSERT_TRUE(store.flush());
    }
    SettingsStore again(file, clock, Writing::manual);
    EXPECT_EQ(again.boolean("b"), true);
    EXPECT_EQ(again.integer("i"), -42);
    EXPECT_EQ(again.number("i"), -42.0);
    EXPECT_EQ(again.number("whole"), 36.0);
    EXPECT_EQ(again.integer("whole"), 36);  // a whole double counts as an integer
    EXPECT_EQ(again.number("d"), 0.1);      // exact: written with round-trip precision
    EXPECT_FALSE(again.contains("nan") || again.contains("inf"));
    EXPECT_EQ(again.string("s"), "Mid \u2212 Side");
    EXPECT_EQ(again.strings("ss"), (std::vector<std::string>{"shortTerm", "integrated"}));
    EXPECT_EQ(again.strings("empty"), std::vector<std::string>{});
    EXPECT_EQ(again.numbers("ns"), (std::vector<double>{246.0 / 255.0, 0.5, 1.0}));
    EXPECT_EQ(again.date("t"), dateFromReferenceSeconds(790000000.0));
    for (std::size_t k = 0; k < blobs.size(); ++k) EXPECT_EQ(again.data("x" + std::to_string(k)), blobs[k]) << k;
    // As the file holds them: a whole double keeps its point; dates count from the start of 2001.
    const std::string text = readFile(file);
    EXPECT_NE(text.find("36.0"), std::string::npos);
    EXPECT_NE(text.find(R"("date": 790000000.0)"), std::string::npos) << text;
    EXPECT_EQ(referenceSeconds(SettingsDate{std::chrono::seconds(978307200)}), 0.0);
}

TEST(SettingsStore, AReadOfTheWrongTypeAnswersNothing) {
    const auto folder = freshFolder();
    writeFile(folder / "settings.json", R"({
        "flag": 1, "count": "3", "text": true, "list": ["a", 2], "nums": [1, "2"],
        "half": 2.5, "huge": 18446744073709551615, "far": 1e300, "when": 5.0, "stamp": {"date": "x"},
        "blob": "aGk=", "badBlob": {"data": "a?=="}, "twoTags": {"data": "aGk=", "date": 1},
        "nothing": null, "obj": {"k": 1}
    })");
    FakeClock clock;
    SettingsStore store(folder / "settings.json", clock, Writing::manual);
    EXPECT_FALSE(store.boolean("flag") || store.integer("count") || store.number("count") || store.string("text") ||
                 store.strings("list") || store.numbers("nums") || store.integer("half") || store.integer("huge") ||
                 store.integer("far") || store.date("when") || store.date("stamp") || store.data("blob") ||
                 store.data("badBlob") || store.data("twoTags") || store.boolean("nothing") || store.string("obj"));
    EXPECT_EQ(store.number("half"), 2.5);
    EXPECT_EQ(store.number("far"), 1e300);  // beyond an integer: range-checked, not converted
    EXPECT_TRUE(store.contains("obj"));
    EXPECT_FALSE(store.contains("missing"));
}

TEST(SettingsStore, UnparsableFilesAreKeptAsideEachUnderItsOwnNameAndTheStoreStartsEmpty) {
    const std::vector<std::string> broken{
        "",                                    // empty
        "{\"barHeight\": 40, \"barMo",         // truncated
        "\x89PNG\r\n\x1a\n garbage \xff\xfe",  // garbage
        "[1, 2, 3]",                           // JSON, but not an object
        "{\"a\": 1} trailing",
        std::string(200, '[') + std::string(200, ']'),  // nesting beyond reason
    };
    const auto folder = freshFolder();
    const auto file = folder / "settings.json";
    FakeClock clock;  // 2026-01-01 00:00:00 UTC: every file goes aside in the same second
    for (std::size_t k = 0; k < broken.size(); ++k) {
        SCOPED_TRACE(k);
        writeFile(file, broken[k]);
        LogCapture log;
        {
            SettingsStore store(file, clock, Writing::manual);
            EXPECT_FALSE(store.contains("barHeight"));
            store.setBool("fresh", true);
            EXPECT_TRUE(store.flush());
        }
        const fs::path aside = folder / ("settings.json.corrupt-20260101-000000" +
                                         (k == 0 ? std::string() : "-" + std::to_string(k + 1)));
        ASSERT_TRUE(fs::exists(aside));
        EXPECT_EQ(readFile(aside), broken[k]);  // the bad file is still there, untouched
        EXPECT_EQ(log.count("Crestline: instellingen onleesbaar"), 1);
        EXPECT_TRUE(log.contains(aside.string()));
        EXPECT_EQ(SettingsStore(file, clock, Writing::manual).boolean("fresh"), true);
    }
}

TEST(SettingsStore, AMemoryStoreReadsTheFileButNeverWritesOrMovesIt) {
    const auto file = freshFolder() / "settings.json";
    FakeClock clock;
    for (const std::string& text : {std::string("{\"barHeight\": 40}"), std::string("{\"barHei")}) {
        writeFile(file, text);
        {
            SettingsStore store(file, clock, Writing::memory);
            EXPECT_EQ(store.integer("barHeight"), text.size() > 12 ? std::optional<std::int64_t>(40) : std::nullopt);
            store.setInteger("barHeight", 60);
            EXPECT_EQ(store.integer("barHeight"), 60);
            EXPECT_FALSE(store.flush());
        }
        EXPECT_EQ(readFile(file), text);  // also the broken one stays where it was
        EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
    }
}

TEST(SettingsStore, AFileItCannotReadOrWriteIsLoggedOnceNeverReplacedAndTheStoreWorksOnInMemory) {
    const auto folder = freshFolder();
    writeFile(folder / "not-a-folder", "x");                      // a file where the folder should be
    fs::create_directories(folder / "settings.json" / "inside");  // reading a folder fails
    FakeClock clock;
    LogCapture log;
    for (const fs::path& file : {folder / "not-a-folder" / "settings.json", folder / "settings.json"}) {
        SettingsStore store(file, clock, Writing::manual);
        store.setString("barMode", "floating");
        EXPECT_FALSE(store.flush());
        store.setNumber("barHeight", 40);
        EXPECT_FALSE(store.flush());
        EXPECT_EQ(store.string("barMode"), "floating");
        EXPECT_EQ(store.number("barHeight"), 40.0);
    }
    EXPECT_EQ(log.count("Crestline: instellingen niet op te slaan"), 1);
    EXPECT_EQ(log.count("Crestline: instellingen niet te lezen"), 1);
    EXPECT_TRUE(fs::is_directory(folder / "settings.json" / "inside"));
}

TEST(SettingsStore, WritesReplaceTheFileWholeKeepUnknownEntriesTheModeAndALinkAndLeaveNoTemporaryFiles) {
    const auto folder = freshFolder();
    const auto file = folder / "settings.json", target = folder / "dotfiles" / "crestline.json";
    fs::create_directories(target.parent_path());
    writeFile(target, R"({"future": {"kind": "ring", "size": [1, 2]}, "keep": "me"})");
    fs::create_symlink(target, file);
    ::chmod(target.c_str(), 0640);
    FakeClock clock;
    {
        SettingsStore store(file, clock, Writing::manual);
        for (int i = 0; i < 20; ++i) {
            store.setInteger("count", i);
            ASSERT_TRUE(store.flush());
        }
        EXPECT_TRUE(store.flush());  // nothing pending: no write
        EXPECT_EQ(store.writesCompleted(), 20u);
        store.setBool("new", true);
    }  // the destructor writes
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator()), 1);
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);  // the user's mode is kept
    SettingsStore again(file, clock, Writing::manual);
    EXPECT_EQ(again.string("keep"), "me");
    EXPECT_EQ(again.boolean("new"), true);
    EXPECT_NE(readFile(target).find("\"ring\""), std::string::npos);
}

TEST(SettingsStore, TheBackgroundWriterFollowsChangesAndTheDestructorWritesWhatItHasNotYet) {
    const auto file = freshFolder() / "settings.json";
    FakeClock clock;
    {
        SettingsStore store(file, clock, Writing::background, /*debounceSeconds=*/0.0);
        store.setString("barMode", "floating");
        ASSERT_TRUE(store.waitForWrites(1, 10.0));
        EXPECT_EQ(SettingsStore(file, clock, Writing::manual).string("barMode"), "floating");
        store.remove("barMode");
        ASSERT_TRUE(store.waitForWrites(2, 10.0));
        EXPECT_FALSE(SettingsStore(file, clock, Writing::manual).contains("barMode"));
    }
    {
        SettingsStore store(file, clock, Writing::background, /*debounceSeconds=*/3600.0);
        store.setInteger("meterIndex", 1);
    }
    EXPECT_EQ(SettingsStore(file, clock, Writing::manual).integer("meterIndex"), 1);
}

TEST(SettingsStore, ReadersOnAnotherThreadSeeWholeValuesWhileTheOwnerWrites) {
    const auto file = freshFolder() / "settings.json";
    FakeClock clock;
    SettingsStore store(file, clock, Writing::background, /*debounceSeconds=*/0.0);
    store.setString("spectrogramChannel", "stereo");
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            const auto channel = store.string("spectrogramChannel");
            if (!channel || (*channel != "stereo" && *channel != "side")) ++torn;
            ++reads;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        store.setString("spectrogramChannel", i % 2 == 0 ? "side" : "stereo");
        store.setNumbers("accentColor.scope", {0.1, 0.2, double(i % 10) / 10.0});
        if (i % 500 == 0) store.flush();
    }
    while (reads.load() < 100) std::this_thread::yield();
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_TRUE(store.flush());
    EXPECT_EQ(SettingsStore(file, clock, Writing::manual).string("spectrogramChannel"), "stereo");
}
