#include "tools/meter/meter_file.h"

#include <unistd.h>

#include <cmath>
#include <vector>

#include "analysis/loudness_meter.h"
#include "tools/meter/meter_session.h"
#include "tools/meter/sound_file.h"

namespace crestline::meter_tool {
namespace {

constexpr int kBlockFrames = 512;
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
               MeterReport* result) {
    SoundFile file(path, kBlockFrames);
    if (!file.isOpen()) {
        fail(errors, path, file.error());
        return false;
    }
    // Periodic lines may share the terminal with the progress line: take it
    // away first so that every object starts on a line of its own.
    Progress progress(errors, path, file.framesHint(), file.sampleRate());
    MeterSession session(options.autoReset, options.every, [out, &progress](const MeterReport& report) {
        progress.erase();
        writeLine(out, formatReport(report));
    });
    if (!session.start(file.sampleRate())) {
        char reason[128];
        std::snprintf(reason, sizeof reason, "unsupported sample rate %g Hz (%g to %g Hz are metered)",
                      file.sampleRate(), LoudnessMeter::kMinSampleRate, LoudnessMeter::kMaxSampleRate);
        fail(errors, path, reason);
        return false;
    }
    std::vector<float> left(kBlockFrames), right(kBlockFrames);
    for (;;) {
        const int n = file.read(left.data(), right.data());
        if (n < 0) {
            progress.clear();
            fail(errors, path, file.error());
            return false;
        }
        if (n == 0) break;
        session.feed(left.data(), right.data(), n);
        progress.update(session.frames());
    }
    progress.clear();
    const MeterReport report = session.finish("file", path);
    if (!writeLine(out, formatReport(report))) {
        fail(errors, path, "could not write the result");
        return false;
    }
    if (result != nullptr) *result = report;
    return true;
}

}  // namespace crestline::meter_tool
