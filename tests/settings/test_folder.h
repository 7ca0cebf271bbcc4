// A fresh, empty folder per test under the run's private XDG_CONFIG_HOME.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace crestline::test {

inline std::filesystem::path freshFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path folder = std::filesystem::path(config != nullptr ? config : "/tmp") / "settings-tests" /
                                   (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace crestline::test
