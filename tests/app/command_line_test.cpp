#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/processes.h"

namespace crestline {
namespace {

TEST(CommandLine, AcceptsTheLoginFlagAndAReportIntervalAndRefusesAnythingElse) {
    struct Row {
        std::vector<std::string> args;
        bool ok;
        bool autostart;
        std::optional<double> report;
    };
    const Row rows[] = {
        {{}, true, false, std::nullopt},
        {{"--autostart"}, true, true, std::nullopt},
        {{"--report", "0.5", "--autostart"}, true, true, 0.5},
        {{"--report", "3600"}, true, false, 3600.0},
        {{"--report"}, false, false, std::nullopt},
        {{"--report", ""}, false, false, std::nullopt},
        {{"--report", "0.05"}, false, false, std::nullopt},
        {{"--report", "1e9"}, false, false, std::nullopt},
        {{"--report", "nan"}, false, false, std::nullopt},
        {{"--report", "2s"}, false, false, std::nullopt},
        {{"--report", "-1"}, false, false, std::nullopt},
        {{"--reportt", "1"}, false, false, std::nullopt},
        {{"\xff\xfe"}, false, false, std::nullopt},
    };
    for (const Row& row : rows) {
        const auto parsed = parseAppOptions(row.args);
        ASSERT_EQ(parsed.options.has_value(), row.ok) << ::testing::PrintToString(row.args);
        if (!row.ok) {
            EXPECT_FALSE(parsed.error.empty());
            EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
            continue;
        }
        EXPECT_EQ(parsed.options->autostart, row.autostart);
        EXPECT_EQ(parsed.options->reportSeconds, row.report);
    }
}

TEST(CommandLine, WithoutADisplayTheApplicationSaysSoAndEndsWithAnError) {
    const std::string text = test::commandOutput("timeout 10 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                                                 test::binary("crestline") + "' 2>&1; echo \"exit $?\"");
    EXPECT_NE(text.find("crestline: no display"), std::string::npos) << text;
    EXPECT_NE(text.find("exit 1\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace crestline
