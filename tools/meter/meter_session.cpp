#include "tools/meter/meter_session.h"

#include <cmath>
#include <limits>

#include "platform/log.h"

namespace crestline::meter_tool {
namespace {

double decibels(float amplitude) {
    return amplitude > 0.0f ? 20.0 * std::log10(static_cast<double>(amplitude)) : LoudnessReading::kNoValue;
}

}  // namespace

MeterSession::MeterSession(bool autoReset, std::optional<double> every, Emit emitPeriodic)
    : handler_(meter_, peaks_), every_(every), emitPeriodic_(std::move(emitPeriodic)) {
    meter_.setAutoResetEnabled(autoReset);
}

bool MeterSession::start(double sampleRate) {
    if (!meter_.configure(sampleRate)) return false;
    sampleRate_ = sampleRate;
    return true;
}

bool MeterSession::startChannels(double sampleRate, const std::vector<Speaker>& layout) {
    std::vector<double> weights;
    for (Speaker s : layout) weights.push_back(channelWeight(s));
    if (!meter_.configureChannels(sampleRate, weights, channelAt(layout, Speaker::frontLeft),
                                  channelAt(layout, Speaker::frontRight))) {
        return false;
    }
    sampleRate_ = sampleRate;
    layout_ = layout;
    channelPeaks_.assign(layout.size(), 0.0f);
    return true;
}

void MeterSession::feed(const float* left, const float* right, int frames) {
    if (frames < 1 || sampleRate_ <= 0.0) return;
    handler_(left, right, frames);
    afterBlock(frames);
}

void MeterSession::feedChannels(float* const* channels, int frames) {
    if (frames < 1 || sampleRate_ <= 0.0 || layout_.empty()) return;
    for (std::size_t c = 0; c < layout_.size(); ++c) {
        float* samples = channels[c];
        // As the block handler does for stereo: a NaN or an infinity would
        // poison the filters for good.
        if (!allFinite(samples, frames)) {
            if (!reportedNonFinite_) {
                reportedNonFinite_ = true;
                log("Crestline: niet-eindige samples (NaN of oneindig) vervangen door 0");
            }
            for (int i = 0; i < frames; ++i) {
                if (!std::isfinite(samples[i])) samples[i] = 0.0f;
            }
        }
        const float peak = maxMagnitude(samples, frames);
        if (peak > channelPeaks_[c]) channelPeaks_[c] = peak;
    }
    meter_.processChannels(channels, frames);
    afterBlock(frames);
}

void MeterSession::afterBlock(int frames) {
    frames_ += frames;

    const LoudnessReading r = meter_.reading();
    if (std::isfinite(r.momentary) && !(r.momentary <= maxMomentary_)) maxMomentary_ = r.momentary;
    if (std::isfinite(r.shortTerm) && !(r.shortTerm <= maxShortTerm_)) maxShortTerm_ = r.shortTerm;

    if (!every_ || !emitPeriodic_) return;
    // Counted in whole intervals from the start, so rounding never drifts.
    const double seconds = static_cast<double>(frames_) / sampleRate_;
    // In floating point first: a tiny interval makes the count overflow.
    const double due = std::floor(seconds / *every_ + 1e-9);
    if (!(due > static_cast<double>(periodsEmitted_))) return;
    periodsEmitted_ = due < 9e18 ? static_cast<long long>(due) : std::numeric_limits<long long>::max();
    MeterReport report = snapshot();
    report.t = seconds;
    emitPeriodic_(report);
}

MeterReport MeterSession::snapshot() const {
    MeterReport report;
    report.sampleRate = sampleRate_;
    report.frames = frames_;
    report.reading = meter_.reading();
    report.maxMomentary = maxMomentary_;
    report.maxShortTerm = maxShortTerm_;
    return report;
}

MeterReport MeterSession::finish(const std::string& originKey, const std::string& origin) {
    MeterReport report = snapshot();
    report.originKey = originKey;
    report.origin = origin;
    if (layout_.empty()) {
        report.samplePeak = peaks_.take();
        return report;
    }
    float left = 0.0f, right = 0.0f;
    for (std::size_t c = 0; c < layout_.size(); ++c) {
        const float p = channelPeaks_[c];
        report.channels.emplace_back(speakerName(layout_[c]));
        report.channelPeaks.push_back(decibels(p));
        const int side = speakerSide(layout_[c]);
        if (side <= 0 && p > left) left = p;
        if (side >= 0 && p > right) right = p;
    }
    report.samplePeak = PeakLevels{decibels(left), decibels(right)};
    return report;
}

}  // namespace crestline::meter_tool
