// The metering loop of crestline-meter, independent of where the audio
// comes from: blocks go through the same block handler as live capture
// (non-finite samples become 0, then loudness meter, then peak meter), the
// largest momentary and short-term values are tracked after every block,
// and with an interval a periodic reading is emitted after every interval
// of audio. The final reading takes the peak meter once, so its sample
// peak covers everything fed.
//
// Files of more than two channels go through the meter's multichannel entry
// instead (started with a layout, fed with feedChannels); everything after
// the block is the same.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/block_handler.h"
#include "analysis/channel_layout.h"
#include "analysis/gating_histograms.h"
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
    // For three to eight channels: BS.1770 weights by speaker, correlation
    // between front left and front right. False as `start`, or for a layout
    // the meter cannot take.
    bool startChannels(double sampleRate, const std::vector<Speaker>& layout);

    void feed(const float* left, const float* right, int frames);
    // channels[c] for each channel of the layout; non-finite samples are set
    // to 0 where they stand.
    void feedChannels(float* const* channels, int frames);

    long long frames() const { return frames_; }
    double sampleRate() const { return sampleRate_; }
    GatingHistograms gatingHistograms() const { return meter_.gatingHistograms(); }

    MeterReport finish(const std::string& originKey, const std::string& origin);

private:
    void afterBlock(int frames);
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
    // Multichannel only: the layout and each channel's sample peak (linear).
    std::vector<Speaker> layout_;
    std::vector<float> channelPeaks_;
    bool reportedNonFinite_ = false;
};

}  // namespace crestline::meter_tool
