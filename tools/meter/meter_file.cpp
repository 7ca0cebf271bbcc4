#include "tools/meter/meter_file.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "analysis/loudness_meter.h"
#include "tools/meter/audio_input.h"
#include "tools/meter/meter_session.h"

namespace crestline::meter_tool {
namespace {

constexpr int kBlockFrames = 512;   // frames per block fed to the meter
constexpr int kReadFrames = 16384;  // frames per read from the file
constexpr double kProgressAfterSeconds = 60.0;

void fail(std::FILE* errors, const std::string& path, const std::string& reason) {
    std::fprintf(errors, "crestline-meter: %s: %s\n", path.c_str(), reason.c_str());
    std::fflush(errors);
}

// A line on a terminal, rewritten in place as whole percents go by and
// erased at the end so the terminal shows only results.
class Progress {
public:
    Progress(std::FILE* stream, const std::string& path, long long totalFrames, double sampleRate)
        : stream_(stream), path_(path), total_(totalFrames) {
        active_ = stream != nullptr && ::isatty(::fileno(stream)) == 1 && sampleRate > 0.0 && totalFrames > 0 &&
                  static_cast<double>(totalFrames) / sampleRate > kProgressAfterSeconds;
    }
    ~Progress() { clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Takes the line away, for good or (erase) until the next update.
    void clear() {
        erase();
        active_ = false;
    }
    void erase() {
        if (active_ && shown_ >= 0) {
            std::fputs("\r\033[K", stream_);
            std::fflush(stream_);
        }
        shown_ = -1;
    }
    void update(long long frames) {
        if (!active_) return;
        const int percent = static_cast<int>(std::min(100LL, frames * 100 / total_));
        if (percent == shown_) return;
        shown_ = percent;
        std::fprintf(stream_, "\rcrestline-meter: %s %d%%", path_.c_str(), percent);
        std::fflush(stream_);
    }

private:
    std::FILE* stream_;
    std::string path_;
    long long total_;
    bool active_ = false;
    int shown_ = -1;
};

}  // namespace

bool meterFile(const std::string& path, const MeterOptions& options, std::FILE* out, std::FILE* errors,
               MeterReport* result, GatingHistograms* histograms) {
    std::string error;
    const std::unique_ptr<AudioInput> file = openAudioInput(path, error);
    if (!file) {
        fail(errors, path, error);
        return false;
    }
    const int channels = file->channels();
    if (file->layout().empty()) {
        fail(errors, path,
             std::to_string(channels) + " channels (files of up to " + std::to_string(kMaxLayoutChannels) +
                 " channels, 7.1, are metered)");
        return false;
    }
    // Periodic lines may share the terminal with the progress line: take it
    // away first so that every object starts on a line of its own.
    Progress progress(errors, path, file->framesHint(), file->sampleRate());
    MeterSession session(options.autoReset, options.every, [out, &progress](const MeterReport& report) {
        progress.erase();
        writeLine(out, formatReport(report));
    });
    const bool surround = channels > 2;
    if (!(surround ? session.startChannels(file->sampleRate(), file->layout()) : session.start(file->sampleRate()))) {
        char reason[128];
        std::snprintf(reason, sizeof reason, "unsupported sample rate %g Hz (%g to %g Hz are metered)",
                      file->sampleRate(), LoudnessMeter::kMinSampleRate, LoudnessMeter::kMaxSampleRate);
        fail(errors, path, reason);
        return false;
    }
    std::vector<std::vector<float>> buffers(static_cast<std::size_t>(channels), std::vector<float>(kReadFrames));
    std::vector<float*> planes;
    for (auto& b : buffers) planes.push_back(b.data());
    std::array<float*, kMaxLayoutChannels> block{};
    for (;;) {
        const int n = file->read(planes.data(), kReadFrames);
        if (n < 0) {
            progress.clear();
            fail(errors, path, file->error());
            return false;
        }
        if (n == 0) break;
        for (int done = 0; done < n; done += kBlockFrames) {
            const int frames = std::min(kBlockFrames, n - done);
            if (surround) {
                for (std::size_t c = 0; c < planes.size(); ++c) block[c] = planes[c] + done;
                session.feedChannels(block.data(), frames);
            } else {
                // Mono plays on both sides.
                session.feed(planes[0] + done, planes[channels > 1 ? 1 : 0] + done, frames);
            }
        }
        progress.update(session.frames());
    }
    progress.clear();
    MeterReport report = session.finish("file", path);
    report.targets = options.targets;
    if (!writeLine(out, formatReport(report))) {
        fail(errors, path, "could not write the result");
        return false;
    }
    if (result != nullptr) *result = report;
    if (histograms != nullptr) *histograms = session.gatingHistograms();
    return true;
}

}  // namespace crestline::meter_tool
