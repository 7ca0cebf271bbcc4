#include "tools/meter/meter_session.h"

#include <cmath>
#include <limits>

namespace crestline::meter_tool {

MeterSession::MeterSession(bool autoReset, std::optional<double> every, Emit emitPeriodic)
    : handler_(meter_, peaks_), every_(every), emitPeriodic_(std::move(emitPeriodic)) {
    meter_.setAutoResetEnabled(autoReset);
}

bool MeterSession::start(double sampleRate) {
    if (!meter_.configure(sampleRate)) return false;
    sampleRate_ = sampleRate;
    return true;
}

void MeterSession::feed(const float* left, const float* right, int frames) {
    if (frames < 1 || sampleRate_ <= 0.0) return;
    handler_(left, right, frames);
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
    report.samplePeak = peaks_.take();
    return report;
}

}  // namespace crestline::meter_tool
