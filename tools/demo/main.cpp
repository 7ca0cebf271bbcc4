// crestline-demo OUT.wav [--seconds S]: writes generated music-like stereo
// material (48 kHz; WAV, or FLAC/AIFF/Ogg by the file's extension) for
// `make run` and for trying crestline-meter. Exit 0 on success, 2 on a
// usage or write error with one line on stderr.
#include <sndfile.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/demo/demo_signal.h"

namespace {

constexpr const char* kUsage = "usage: crestline-demo OUT.wav [--seconds S]";

int failUsage(const std::string& reason) {
    std::fprintf(stderr, "crestline-demo: %s (%s)\n", reason.c_str(), kUsage);
    return 2;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t k = 0; k < suffix.size(); ++k) {
        const char c = s[s.size() - suffix.size() + k];
        if (static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != suffix[k]) return false;
    }
    return true;
}

int formatFor(const std::string& path) {
    if (endsWith(path, ".flac")) return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    if (endsWith(path, ".aiff") || endsWith(path, ".aif")) return SF_FORMAT_AIFF | SF_FORMAT_PCM_24;
    if (endsWith(path, ".ogg")) return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    return SF_FORMAT_WAV | SF_FORMAT_PCM_24;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out;
    double seconds = 8.0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds") {
            if (i + 1 >= argc) return failUsage("--seconds: missing value");
            const std::string value = argv[++i];
            char* end = nullptr;
            errno = 0;
            seconds = std::strtod(value.c_str(), &end);
            if (errno != 0 || end != value.c_str() + value.size() || !std::isfinite(seconds) || seconds <= 0.0 ||
                seconds > 600.0) {
                return failUsage("--seconds: expected a number of seconds up to 600, got '" + value + "'");
            }
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return failUsage("unknown option " + arg);
        } else if (out.empty()) {
            out = arg;
        } else {
            return failUsage("one output file only");
        }
    }
    if (out.empty()) return failUsage("no output file");

    const crestline::demo::DemoAudio audio = crestline::demo::generateDemo(seconds);
    SF_INFO info{};
    info.samplerate = static_cast<int>(audio.sampleRate);
    info.channels = 2;
    info.format = formatFor(out);
    SNDFILE* file = sf_open(out.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "crestline-demo: %s: %s\n", out.c_str(), sf_strerror(nullptr));
        return 2;
    }
    std::vector<float> interleaved(2 * audio.left.size());
    for (std::size_t i = 0; i < audio.left.size(); ++i) {
        interleaved[2 * i] = audio.left[i];
        interleaved[2 * i + 1] = audio.right[i];
    }
    const auto frames = static_cast<sf_count_t>(audio.left.size());
    const bool written = sf_writef_float(file, interleaved.data(), frames) == frames;
    const int closed = sf_close(file);
    if (!written || closed != 0) {
        std::fprintf(stderr, "crestline-demo: %s: could not write the audio\n", out.c_str());
        return 2;
    }
    return 0;
}
