#include "tools/meter/meter_capture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "analysis/audio_engine.h"
#include "platform/clock.h"
#include "tools/meter/reading_json.h"

namespace crestline::meter_tool {
namespace {

constexpr double kPollSeconds = 0.05;
// As often as the application lets the tap choose the pair that plays.
constexpr double kAutoSelectionSeconds = 0.8;

void raise(double& maximum, double value) {
    if (std::isfinite(value) && !(value <= maximum)) maximum = value;
}

}  // namespace

int meterCapture(const MeterOptions& options, std::FILE* out, std::FILE* errors) {
    const std::int32_t pid = options.pid.value_or(0);
    const std::string source = pid != 0 ? "pid:" + std::to_string(pid) : "all";
    const double seconds = options.seconds.value_or(kDefaultCaptureSeconds);
    const Clock& clock = systemClock();

    AudioEngine engine(clock);
    engine.meter().setAutoResetEnabled(options.autoReset);
    try {
        engine.attach(pid, TapMode::tapOnly, TapSource::automatic());
    } catch (const CoreAudioError& error) {
        std::fprintf(errors, "crestline-meter: %s\n", error.description().c_str());
        return 2;
    }
    const std::shared_ptr<ProcessTap> tap = engine.tap();
    const double rate = tap->sampleRate();
    const std::uint64_t firstFrame = engine.scope().totalFrames();

    MeterReport report;
    report.sampleRate = rate;
    const auto update = [&] {
        report.frames = static_cast<long long>(engine.scope().totalFrames() - firstFrame);
        report.reading = engine.meter().reading();
        raise(report.maxMomentary, report.reading.momentary);
        raise(report.maxShortTerm, report.reading.shortTerm);
    };

    // The time runs from the first block: a server may take a moment (an
    // idle sink up to two seconds) before it delivers. Without any sound it
    // runs from the attach.
    double start = clock.now();
    bool heard = false;
    double lastSelection = start;
    long long periods = 0;
    bool stoppedEarly = false;
    for (;;) {
        const double now = clock.now();
        if (!heard && tap->callbackCount() > 0) {
            heard = true;
            start = now;
        }
        if (now - start >= seconds) break;
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(kPollSeconds, seconds - (now - start))));
        update();
        if (clock.now() - lastSelection >= kAutoSelectionSeconds) {
            tap->refreshAutoSelection();
            lastSelection = clock.now();
        }
        // Periodic readings count seconds of audio, as for files.
        if (options.every) {
            const double audioSeconds = static_cast<double>(report.frames) / rate;
            const auto due = static_cast<long long>(std::floor(audioSeconds / *options.every + 1e-9));
            if (due > periods) {
                periods = due;
                MeterReport periodic = report;
                periodic.t = audioSeconds;
                writeLine(out, formatReport(periodic));
            }
        }
        if (tap->streamFailed()) {
            stoppedEarly = true;
            break;
        }
    }
    engine.detach();  // every delivered block is in the analysers now
    update();
    report.originKey = "source";
    report.origin = source;
    report.samplePeak = engine.peaks().take();
    report.targets = options.targets;
    if (!writeLine(out, formatReport(report))) {
        std::fprintf(errors, "crestline-meter: %s: could not write the result\n", source.c_str());
        return 1;
    }
    if (stoppedEarly) {
        const double metered = static_cast<double>(report.frames) / rate;
        switch (tap->failure().value_or(RecordingEnd::streamGone)) {
            case RecordingEnd::streamGone:
                std::fprintf(errors, "crestline-meter: %s: the sound stopped after %.1f s\n", source.c_str(), metered);
                return 1;
            case RecordingEnd::serverGone:
                std::fprintf(errors, "crestline-meter: %s: the sound server went away after %.1f s\n", source.c_str(),
                             metered);
                return 2;
            case RecordingEnd::stalled:
                std::fprintf(errors, "crestline-meter: %s: the recording stalled after %.1f s while the sound played on\n",
                             source.c_str(), metered);
                return 2;
        }
    }
    return 0;
}

}  // namespace crestline::meter_tool
