// crestline-meter --png: the bar drawn offscreen after metering a file.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "tools/meter/meter_options.h"

namespace fs = std::filesystem;

namespace crestline {
namespace {

using meter_tool::parseMeterOptions;

struct PngSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Width and height from the PNG signature and IHDR chunk; nothing when the
// file is not a PNG.
std::optional<PngSize> pngSize(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[24] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return std::nullopt;
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!std::equal(signature, signature + 8, header) || std::string(header + 12, header + 16) != "IHDR") {
        return std::nullopt;
    }
    const auto word = [&](int at) {
        return std::uint32_t{header[at]} << 24 | std::uint32_t{header[at + 1]} << 16 |
               std::uint32_t{header[at + 2]} << 8 | header[at + 3];
    };
    return PngSize{word(16), word(20)};
}

class MeterPictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("crestline-picture-test-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        wav_ = folder_ / "sine.wav";
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(wav_.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        std::vector<float> data(48000 * 2);
        for (int i = 0; i < 48000; ++i) {
            const float v = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000.0));
            data[static_cast<std::size_t>(2 * i)] = v;
            data[static_cast<std::size_t>(2 * i + 1)] = v;
        }
        sf_writef_float(f, data.data(), 48000);
        sf_close(f);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // Runs crestline-meter with `args`; returns its exit code, stderr in `errors`.
    int run(const std::string& args, std::string* errors = nullptr) {
        const char* bin = std::getenv("CRESTLINE_BIN_DIR");
        const fs::path tool = fs::path(bin != nullptr ? bin : "build/bin") / "crestline-meter";
        const fs::path err = folder_ / "stderr.txt";
        const std::string command =
            "'" + tool.string() + "' " + args + " >'" + (folder_ / "stdout.txt").string() + "' 2>'" + err.string() + "'";
        const int status = std::system(command.c_str());
        if (errors != nullptr) {
            std::ifstream in(err);
            *errors = std::string(std::istreambuf_iterator<char>(in), {});
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path folder_;
    fs::path wav_;
};

TEST_F(MeterPictureTest, DrawsTheBarAtTheDefaultSizeAndScale) {
    const fs::path png = folder_ / "bar.png";
    std::string errors;
    ASSERT_EQ(run("--png '" + png.string() + "' '" + wav_.string() + "'", &errors), 0) << errors;
    const auto size = pngSize(png);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, 1800u);
    EXPECT_EQ(size->height, 72u);
    EXPECT_EQ(errors, "");  // no noise from the drawing layer
    std::ifstream out(folder_ / "stdout.txt");
    std::string line;
    std::getline(out, line);
    EXPECT_NE(line.find("\"integrated\":"), std::string::npos);  // the readings still come out
}

TEST_F(MeterPictureTest, EveryLayoutHeightAndScaleGivesItsPicture) {
    for (const auto& [height, scale] : std::vector<std::pair<int, double>>{{36, 1}, {80, 2}, {150, 1.5}, {400, 1}}) {
        const fs::path png = folder_ / ("bar-" + std::to_string(height) + ".png");
        std::string errors;
        ASSERT_EQ(run("--png '" + png.string() + "' --width 1000 --height " + std::to_string(height) + " --scale " +
                          std::to_string(scale) + " --theme scope '" + wav_.string() + "'",
                      &errors),
                  0)
            << errors;
        const auto size = pngSize(png);
        ASSERT_TRUE(size.has_value()) << height;
        EXPECT_EQ(size->width, static_cast<std::uint32_t>(std::ceil(1000 * scale)));
        EXPECT_EQ(size->height, static_cast<std::uint32_t>(std::ceil(height * scale)));
    }
}

TEST_F(MeterPictureTest, AnUnwritablePictureFailsWithItsName) {
    std::string errors;
    const std::string png = (folder_ / "missing" / "bar.png").string();
    EXPECT_EQ(run("--png '" + png + "' '" + wav_.string() + "'", &errors), 2);
    EXPECT_EQ(errors.rfind("crestline-meter: " + png + ": ", 0), 0u) << errors;
}

TEST(MeterPictureOptions, RangesAndThemesAreChecked) {
    const auto parse = [](std::vector<std::string> args) { return parseMeterOptions(args); };
    auto ok = parse({"--png", "a.png", "--width", "1200", "--height", "150", "--scale", "1.5", "--theme", "liveDark",
                     "x.wav"});
    ASSERT_TRUE(ok.options.has_value()) << ok.error;
    EXPECT_EQ(*ok.options->png, "a.png");
    EXPECT_EQ(ok.options->width, 1200);
    EXPECT_EQ(ok.options->height, 150);
    EXPECT_EQ(ok.options->scale, 1.5);
    EXPECT_EQ(*ok.options->theme, "liveDark");
    const auto defaults = parse({"--png=b.png", "x.wav"});
    ASSERT_TRUE(defaults.options.has_value());
    EXPECT_EQ(defaults.options->width, 900);
    EXPECT_EQ(defaults.options->height, 36);
    EXPECT_EQ(defaults.options->scale, 2);
    EXPECT_FALSE(defaults.options->theme.has_value());
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--png", "a.png", "x.wav", "y.wav"}, {"--height", "27", "x.wav"},
          {"--height", "2001", "x.wav"}, {"--width", "0", "x.wav"}, {"--width", "nan", "x.wav"},
          {"--scale", "9", "x.wav"}, {"--scale", "", "x.wav"}, {"--theme", "dark", "x.wav"}, {"--png", "", "x.wav"},
          {"x.wav", "--png"}}) {
        EXPECT_FALSE(parse(bad).options.has_value()) << bad.front() << " " << bad[1];
    }
    EXPECT_NE(parse({"--theme", "dark", "x.wav"}).error.find("liveLight, liveDark or scope"), std::string::npos);
}

}  // namespace
}  // namespace crestline
