// Several files measured as one programme, the way loudness scanners
// compute album gain: the gating histograms of every file are added, so the
// integrated loudness and loudness range gate over every block of every
// file (not an average of the files' values); the peaks and maxima are the
// largest of any file.
#pragma once

#include <vector>

#include "analysis/gating_histograms.h"
#include "tools/meter/reading_json.h"

namespace crestline::meter_tool {

class Album {
public:
    // One metered file: its final report and its meter's histograms.
    void add(const MeterReport& file, const GatingHistograms& histograms);

    int files() const { return files_; }
    AlbumReport report(const std::vector<LoudnessTarget>& targets) const;

private:
    GatingHistograms histograms_;
    int files_ = 0;
    double truePeak_ = LoudnessReading::kNoValue;
    double maxMomentary_ = LoudnessReading::kNoValue;
    double maxShortTerm_ = LoudnessReading::kNoValue;
};

}  // namespace crestline::meter_tool
