// Every test binary starts here. Tests never touch the user's settings, the
// user's runtime folder or the system log: each run gets fresh XDG folders in
// a temporary directory, removed at the end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "bar/third_party_leaks.h"

namespace {

class IsolatedFolders final : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "crestline-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        root_ = pattern;
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
            const auto folder = root_ / name;
            std::filesystem::create_directories(folder);
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
            setenv(name, folder.c_str(), 1);
        }
    }
    void TearDown() override {
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }

private:
    std::filesystem::path root_;
};

}  // namespace

int main(int argc, char** argv) {
    // ctest hands over only part of the environment; fill in the rest.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
#ifdef CRESTLINE_TEST_SOURCE_DIR
    setenv("CRESTLINE_SOURCE_DIR", CRESTLINE_TEST_SOURCE_DIR, 0);
#endif
#ifdef CRESTLINE_TEST_BIN_DIR
    setenv("CRESTLINE_BIN_DIR", CRESTLINE_TEST_BIN_DIR, 0);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new IsolatedFolders);
    return RUN_ALL_TESTS();
}
