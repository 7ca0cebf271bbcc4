// The metering loop of crestline-meter, independent of where the audio
// comes from: blocks go through the same block handler as live capture
// (non-finite samples become 0, then loudness meter, then peak meter), the
// largest momentary and short-term values are tracked after every block,
// and with an interval a periodic reading is emitted after every interval
// of audio. The final reading takes the peak meter once, so its sample
// peak covers everything fed.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "analysis/block_handler.h"
#include "analysis/loudness_meter.h"
#include "analysis/peak_meter.h"
#include "tools/meter/reading_json.h"

namespace crestline::meter_tool {

class MeterSession {
public:
    using Emit = std::function<void(const MeterReport&)>;

    // `every`: seconds of audio between periodic readings, handed to
    // `emitPeriodic`; an interval shorter than a block emits after every block.
    MeterSession(bool autoReset, std::optional<double> every, Emit emitPeriodic);
    MeterSession(const MeterSession&) = delete;
    MeterSession& operator=(const MeterSession&) = delete;

    // False (and the session unusable) for a rate the meter refuses.
    bool start(double sampleRate);

    void feed(const float* left, const float* right, int frames);

    long long frames() const { return frames_; }
    double sampleRate() const { return sampleRate_; }

    MeterReport finish(const std::string& originKey, const std::string& origin);

private:
    MeterReport snapshot() const;

    LoudnessMeter meter_;
    PeakMeter peaks_;
    BlockHandler handler_;
    std::optional<double> every_;
    Emit emitPeriodic_;
    double sampleRate_ = 0.0;
    long long frames_ = 0;
    long long periodsEmitted_ = 0;
    double maxMomentary_ = LoudnessReading::kNoValue;
    double maxShortTerm_ = LoudnessReading::kNoValue;
};

}  // namespace crestline::meter_tool
