#include "tools/meter/album.h"

#include <cmath>

namespace crestline::meter_tool {
namespace {

void raise(double& maximum, double value) {
    if (std::isfinite(value) && !(value <= maximum)) maximum = value;
}

}  // namespace

void Album::add(const MeterReport& file, const GatingHistograms& histograms) {
    histograms_.add(histograms);
    ++files_;
    raise(truePeak_, file.reading.truePeak);
    raise(maxMomentary_, file.maxMomentary);
    raise(maxShortTerm_, file.maxShortTerm);
}

AlbumReport Album::report(const std::vector<LoudnessTarget>& targets) const {
    AlbumReport r;
    r.files = files_;
    r.integrated = histograms_.integrated();
    r.loudnessRange = histograms_.loudnessRange();
    r.truePeak = truePeak_;
    r.maxMomentary = maxMomentary_;
    r.maxShortTerm = maxShortTerm_;
    r.targets = targets;
    return r;
}

}  // namespace crestline::meter_tool
