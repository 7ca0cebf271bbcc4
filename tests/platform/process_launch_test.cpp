#include "platform/process_launch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/settings/test_folder.h"

namespace crestline {
namespace {

namespace fs = std::filesystem;

// A folder laid out like /proc for one process.
class FakeProc : public ::testing::Test {
protected:
    FakeProc() { fs::create_directories(root_ / "77"); }

    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(root_ / "77" / name, std::ios::binary) << bytes;
    }

    fs::path root_ = test::freshFolder();
};

TEST_F(FakeProc, TheRecordIsTheArgumentsEnvironmentAndFolderOfTheProcess) {
    using namespace std::string_literals;
    write("cmdline", "/opt/Live/Ableton Live 12\0--verbose\0/home/u/Song.als\0"s);
    write("environ", "HOME=/home/u\0WINEPREFIX=/home/u/.wine\0"s);
    fs::create_directory_symlink("/tmp", root_ / "77" / "cwd");
    const auto record = readLaunchRecord(77, root_.string());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->arguments,
              (std::vector<std::string>{"/opt/Live/Ableton Live 12", "--verbose", "/home/u/Song.als"}));
    EXPECT_EQ(record->environment, (std::vector<std::string>{"HOME=/home/u", "WINEPREFIX=/home/u/.wine"}));
    EXPECT_EQ(record->workingFolder, "/tmp");

    // A process that is gone, or has no command line (a kernel thread).
    EXPECT_FALSE(readLaunchRecord(78, root_.string()));
    write("cmdline", "");
    EXPECT_FALSE(readLaunchRecord(77, root_.string()));
    EXPECT_FALSE(readLaunchRecord(0, root_.string()));
}

TEST(Relaunch, ArgumentsDropEarlierSetsAndStartWindowsProgramsThroughWine) {
    struct Row {
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
        std::optional<std::string> document;
        std::vector<std::string> expected;
    };
    const std::string exe = R"(C:\ProgramData\Ableton\Live 12 Suite\Program\Ableton Live 12 Suite.exe)";
    const Row rows[] = {
        {{"/opt/live", "/a/Old.als", "-x"}, {}, "/b/New.als", {"/opt/live", "-x", "/b/New.als"}},
        {{"/opt/live", "/a/OLD.ALS"}, {}, std::nullopt, {"/opt/live"}},
        {{exe}, {"WINELOADER=/usr/lib/wine/wine64"}, "/b/New.als", {"/usr/lib/wine/wine64", exe, "/b/New.als"}},
        {{exe}, {}, std::nullopt, {"wine", exe}},
        {{}, {}, "/b/New.als", {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(relaunchArguments(LaunchRecord{row.arguments, row.environment, {}}, row.document), row.expected)
            << ::testing::PrintToString(row.arguments);
    }
}

TEST(Relaunch, StartsTheProgramDetachedAndSaysWhenItCannot) {
    const fs::path marker = fs::temp_directory_path() / ("crestline-relaunch-" + std::to_string(::getpid()));
    fs::remove(marker);
    // Written aside and renamed: the marker appears only with its text.
    const LaunchRecord record{{"/bin/sh", "-c", "echo \"$SET\" > \"$1.part\" && mv \"$1.part\" \"$1\"", "sh",
                               marker.string()},
                              {"SET=in its environment", "PATH=/usr/bin:/bin"},
                              "/"};
    ASSERT_TRUE(relaunch(record, std::nullopt));
    for (int i = 0; i < 100 && !fs::exists(marker); ++i) ::usleep(20000);
    std::ifstream in(marker);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "in its environment");
    fs::remove(marker);

    EXPECT_FALSE(relaunch(LaunchRecord{{"/nonexistent/Ableton Live"}, {}, "/"}, std::nullopt));
}

TEST_F(FakeProc, ALiveOnAnotherDisplayIsNotOnThisDesktop) {
    const char* saved = std::getenv("DISPLAY");
    const std::string ours = saved != nullptr ? saved : "";
    setenv("DISPLAY", ":5", 1);
    struct Row {
        const char* environ;
        bool ours;
    };
    const Row rows[] = {
        {"DISPLAY=:5", true}, {"DISPLAY=:5.0", true}, {"DISPLAY=:7", false}, {"HOME=/x", true}, {"", true},
    };
    for (const Row& row : rows) {
        write("environ", std::string(row.environ) + '\0');
        EXPECT_EQ(onThisDesktop(77, root_.string()), row.ours) << row.environ;
    }
    EXPECT_FALSE(onThisDesktop(78, root_.string()));  // gone
    if (saved != nullptr) {
        setenv("DISPLAY", ours.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
}

}  // namespace
}  // namespace crestline
