// The built tools run as a user runs them: through the shell, from
// CRESTLINE_BIN_DIR, with stdout and stderr kept apart, in a scratch folder
// of the test's own.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "tests/live/fixtures.h"
#include "tests/support/processes.h"

namespace crestline::tools_test {

namespace fs = std::filesystem;

inline std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
inline std::string quoted(const fs::path& p) { return quoted(p.string()); }

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream stream(out);
        for (std::string line; std::getline(stream, line);) result.push_back(line);
        return result;
    }
    long errorLines() const { return std::count(err.begin(), err.end(), '\n'); }
};

class ToolTest : public ::testing::Test {
protected:
    // `arguments` go through the shell as they are: quote paths with quoted().
    ToolRun run(const std::string& tool, const std::string& arguments) const {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        const std::string command =
            quoted(test::binary(tool)) + " " + arguments + " >" + quoted(out) + " 2>" + quoted(err) + " </dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fixtures::readFile(out), fixtures::readFile(err)};
    }

    fixtures::ScratchFolder scratch_;
    const fs::path& dir_ = scratch_.path();
};

// Width and height from the PNG signature and IHDR chunk; 0x0 when the file is no PNG.
inline std::string pngSize(const fs::path& path) {
    const std::string h = fixtures::readFile(path);
    if (h.size() < 24 || !h.starts_with("\x89PNG\r\n\x1a\n") || h.compare(12, 4, "IHDR") != 0) return "0x0";
    std::uint32_t size[2];
    std::memcpy(size, h.data() + 16, sizeof size);
    return std::to_string(ntohl(size[0])) + "x" + std::to_string(ntohl(size[1]));
}


inline float sineAt(double dbfs, double frequency, int rate, int i) {
    return static_cast<float>(std::pow(10.0, dbfs / 20.0) *
                              std::sin(2.0 * std::numbers::pi * frequency * i / static_cast<double>(rate)));
}

// `sample(i, c)` is channel c of frame i, written as floats through libsndfile.
template <class Sample>
void writeAudio(const fs::path& path, int format, int rate, int channels, int frames, Sample sample) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> data(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels));
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) data[static_cast<std::size_t>(i * channels + c)] = sample(i, c);
    }
    ASSERT_EQ(sf_writef_float(f, data.data(), frames), frames);
    sf_close(f);
}

}  // namespace crestline::tools_test
