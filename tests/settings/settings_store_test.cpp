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
using crestline::test::freshFolder;
using crestline::test::readFile;
using crestline::test::writeFile;
namespace fs = std::filesystem;

namespace {

using Writing = SettingsStore::Writing;

std::vector<fs::path> entries(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(folder)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(SettingsStore, EveryTypeSurvivesAWriteAndANewStoreOverTheSameFile) {
    const auto file = freshFolder() / "crestline" / "settings.json";  // the folder comes with the first write
    FakeClock clock;
    const auto when = dateFromReferenceSeconds(790000000.25);
    const std::string bytes("{\"a\":1}\0\xff\x01 tail", 14);
    {
        SettingsStore store(file, clock, Writing::manual);
        store.setBool("b", true);
        store.setInteger("i", -42);
        store.setNumber("whole", 36.0);
        store.setNumber("d", 0.1);
        store.setString("s", "Mid \u2212 Side");
        store.setStrings("ss", {"shortTerm", "integrated"});
        store.setStrings("empty", {});
        store.setNumbers("ns", {246.0 / 255.0, 0.5, 1.0});
        store.setDate("t", when);
        store.setData("x", bytes);
        ASSERT_TRUE(store.flush());
    }
    SettingsStore again(file, clock, Writing::manual);
    EXPECT_EQ(again.boolean("b"), true);
    EXPECT_EQ(again.integer("i"), -42);
    EXPECT_EQ(again.number("whole"), 36.0);
    EXPECT_EQ(again.number("d"), 0.1);  // exact: written with round-trip precision
    EXPECT_EQ(again.string("s"), "Mid \u2212 Side");
    EXPECT_EQ(again.strings("ss"), (std::vector<std::string>{"shortTerm", "integrated"}));
    EXPECT_EQ(again.strings("empty"), std::vector<std::string>{});
    EXPECT_EQ(again.numbers("ns"), (std::vector<double>{246.0 / 255.0, 0.5, 1.0}));
    ASSERT_TRUE(again.date("t").has_value());
    EXPECT_NEAR(referenceSeconds(*again.date("t")), 790000000.25, 1e-6);
    EXPECT_EQ(again.data("x"), bytes);
    // A whole double keeps its type in the file; an integer reads as a number.
    EXPECT_NE(readFile(file).find("36.0"), std::string::npos);
    EXPECT_EQ(again.number("i"), -42.0);
}

TEST(SettingsStore, AReadOfTheWrongTypeAnswersNothing) {
    const auto folder = freshFolder();
    writeFile(folder / "settings.json", R"({
        "flag": 1, "count": "3", "text": true, "list": ["a", 2], "nums": [1, "2"],
        "half": 2.5, "huge": 18446744073709551615, "when": 5.0, "stamp": {"date": "x"},
        "blob": "aGk=", "badBlob": {"data": "a?=="}, "twoTags": {"data": "aGk=", "date": 1},
        "nothing": null, "obj": {"k": 1}
    })");
    FakeClock clock;
    SettingsStore store(folder / "settings.json", clock, Writing::manual);
    EXPECT_FALSE(store.boolean("flag"));
    EXPECT_FALSE(store.integer("count"));
    EXPECT_FALSE(store.number("count"));
    EXPECT_FALSE(store.string("text"));
    EXPECT_FALSE(store.strings("list"));
    EXPECT_FALSE(store.numbers("nums"));
    EXPECT_FALSE(store.integer("half"));
    EXPECT_EQ(store.number("half"), 2.5);
    EXPECT_FALSE(store.integer("huge"));
    EXPECT_FALSE(store.date("when"));
    EXPECT_FALSE(store.date("stamp"));
    EXPECT_FALSE(store.data("blob"));
    EXPECT_FALSE(store.data("badBlob"));
    EXPECT_FALSE(store.data("twoTags"));
    EXPECT_FALSE(store.boolean("nothing"));
    EXPECT_FALSE(store.string("obj"));
    EXPECT_TRUE(store.contains("obj"));
    EXPECT_FALSE(store.contains("missing"));
}

TEST(SettingsStore, WholeDoublesCountAsIntegersAndNonFiniteNumbersAreNotStored) {
    FakeClock clock;
    SettingsStore store(freshFolder() / "settings.json", clock, Writing::manual);
    store.setNumber("n", 3.0);
    EXPECT_EQ(store.integer("n"), 3);
    store.setNumber("n", 1e300);
    EXPECT_FALSE(store.integer("n"));  // beyond an integer: range-checked, not converted
    store.setNumber("n", std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(store.contains("n"));
    store.setNumbers("c", {0.5, std::numeric_limits<double>::infinity(), 0.5});
    EXPECT_FALSE(store.contains("c"));
}

TEST(SettingsStore, EntriesItDoesNotUnderstandSurviveARewrite) {
    const auto file = freshFolder() / "settings.json";
    writeFile(file, R"({"future": {"kind": "ring", "size": [1, 2]}, "keep": "me"})");
    FakeClock clock;
    {
        SettingsStore store(file, clock, Writing::manual);
        store.setBool("new", true);
    }  // the destructor writes
    SettingsStore again(file, clock, Writing::manual);
    EXPECT_EQ(again.string("keep"), "me");
    EXPECT_EQ(again.boolean("new"), true);
    EXPECT_NE(readFile(file).find("\"ring\""), std::string::npos);
}

TEST(SettingsStore, DateNumbersCountFromTheStartOf2001) {
    const SettingsDate start2001{std::chrono::seconds(978307200)};
    EXPECT_EQ(referenceSeconds(start2001), 0.0);
    EXPECT_EQ(dateFromReferenceSeconds(86400.0), start2001 + std::chrono::hours(24));
}

TEST(SettingsStore, UnparsableFilesAreKeptAsideAndTheStoreStartsEmpty) {
    const std::vector<std::string> broken{
        "",                                  // empty
        "{\"barHeight\": 40, \"barMo",       // truncated
        "\x89PNG\r\n\x1a\n garbage \xff\xfe",  // garbage
        "[1, 2, 3]",                         // JSON, but not an object
        "{\"a\": 1} trailing",
        std::string(200, '[') + std::string(200, ']'),  // nesting beyond reason
    };
    for (const auto& text : broken) {
        SCOPED_TRACE(text.substr(0, 20));
        const auto folder = freshFolder();
        const auto file = folder / "settings.json";
        writeFile(file, text);
        FakeClock clock;  // 2026-01-01 00:00:00 UTC
        LogCapture log;
        {
            SettingsStore store(file, clock, Writing::manual);
            EXPECT_FALSE(store.contains("barHeight"));
            store.setBool("fresh", true);
            EXPECT_TRUE(store.flush());
        }
        const auto aside = folder / "settings.json.corrupt-20260101-000000";
        ASSERT_TRUE(fs::exists(aside));
        EXPECT_EQ(readFile(aside), text);  // the bad file is still there, untouched
        EXPECT_EQ(log.count("Crestline: instellingen onleesbaar"), 1);
        EXPECT_TRUE(log.contains(aside.string()));
        SettingsStore again(file, clock, Writing::manual);
        EXPECT_EQ(again.boolean("fresh"), true);
    }
}

TEST(SettingsStore, ASecondCorruptFileInTheSameSecondGetsItsOwnName) {
    const auto folder = freshFolder();
    const auto file = folder / "settings.json";
    FakeClock clock;
    writeFile(file, "first");
    { SettingsStore store(file, clock, Writing::manual); }
    writeFile(file, "second");
    { SettingsStore store(file, clock, Writing::manual); }
    EXPECT_EQ(readFile(folder / "settings.json.corrupt-20260101-000000"), "first");
    EXPECT_EQ(readFile(folder / "settings.json.corrupt-20260101-000000-2"), "second");
}

TEST(SettingsStore, AnUnwritableFolderLogsOnceAndKeepsWorkingInMemory) {
    const auto folder = freshFolder();
    writeFile(folder / "not-a-folder", "x");  // a file where the folder should be
    FakeClock clock;
    LogCapture log;
    SettingsStore store(folder / "not-a-folder" / "settings.json", clock, Writing::manual);
    store.setString("barMode", "floating");
    EXPECT_FALSE(store.flush());
    store.setNumber("barHeight", 40);
    EXPECT_FALSE(store.flush());
    EXPECT_EQ(store.string("barMode"), "floating");
    EXPECT_EQ(store.number("barHeight"), 40.0);
    EXPECT_EQ(log.count("Crestline: instellingen niet op te slaan"), 1);
}

TEST(SettingsStore, AFileThatCannotBeReadIsNeverReplaced) {
    const auto folder = freshFolder();
    fs::create_directories(folder / "settings.json" / "inside");  // reading a folder fails
    FakeClock clock;
    LogCapture log;
    {
        SettingsStore store(folder / "settings.json", clock, Writing::manual);
        store.setBool("showHints", true);
        EXPECT_EQ(store.boolean("showHints"), true);
        EXPECT_FALSE(store.flush());
    }
    EXPECT_TRUE(fs::is_directory(folder / "settings.json" / "inside"));
    EXPECT_TRUE(log.contains("Crestline: instellingen niet te lezen"));
}

TEST(SettingsStore, WritesReplaceTheFileWholeAndLeaveNoTemporaryFiles) {
    const auto folder = freshFolder();
    const auto file = folder / "settings.json";
    writeFile(file, "{}");
    ::chmod(file.c_str(), 0640);
    FakeClock clock;
    SettingsStore store(file, clock, Writing::manual);
    for (int i = 0; i < 20; ++i) {
        store.setInteger("count", i);
        ASSERT_TRUE(store.flush());
    }
    EXPECT_EQ(entries(folder), std::vector<fs::path>{"settings.json"});
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);  // the user's mode is kept
    EXPECT_EQ(store.writesCompleted(), 20u);
    EXPECT_TRUE(store.flush());  // nothing pending: no write
    EXPECT_EQ(store.writesCompleted(), 20u);
}

TEST(SettingsStore, ALinkedSettingsFileStaysALink) {
    const auto folder = freshFolder();
    fs::create_directories(folder / "dotfiles");
    writeFile(folder / "dotfiles" / "crestline.json", "{}");
    fs::create_symlink(folder / "dotfiles" / "crestline.json", folder / "settings.json");
    FakeClock clock;
    SettingsStore store(folder / "settings.json", clock, Writing::manual);
    store.setBool("showHints", true);
    ASSERT_TRUE(store.flush());
    EXPECT_TRUE(fs::is_symlink(folder / "settings.json"));
    EXPECT_NE(readFile(folder / "dotfiles" / "crestline.json").find("showHints"), std::string::npos);
}

TEST(SettingsStore, TheBackgroundWriterFollowsChangesWithoutAFlush) {
    const auto file = freshFolder() / "settings.json";
    FakeClock clock;
    SettingsStore store(file, clock, Writing::background, /*debounceSeconds=*/0.0);
    store.setString("barMode", "floating");
    ASSERT_TRUE(store.waitForWrites(1, 10.0));
    SettingsStore reader(file, clock, Writing::manual);
    EXPECT_EQ(reader.string("barMode"), "floating");
    store.remove("barMode");
    ASSERT_TRUE(store.waitForWrites(2, 10.0));
    SettingsStore reader2(file, clock, Writing::manual);
    EXPECT_FALSE(reader2.contains("barMode"));
}

TEST(SettingsStore, TheDestructorWritesWhatTheWriterHasNotYet) {
    const auto file = freshFolder() / "settings.json";
    FakeClock clock;
    {
        SettingsStore store(file, clock, Writing::background, /*debounceSeconds=*/3600.0);
        store.setInteger("meterIndex", 1);
    }
    SettingsStore again(file, clock, Writing::manual);
    EXPECT_EQ(again.integer("meterIndex"), 1);
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
    SettingsStore again(file, clock, Writing::manual);
    EXPECT_EQ(again.string("spectrogramChannel"), "stereo");
}
