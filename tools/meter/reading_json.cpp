#include "tools/meter/reading_json.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace crestline::meter_tool {
namespace {

nlohmann::ordered_json level(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

}  // namespace

std::string formatReport(const MeterReport& report) {
    nlohmann::ordered_json j;
    if (!report.originKey.empty()) j[report.originKey] = report.origin;
    if (report.t) j["t"] = *report.t;
    // Whole rates read as integers (48000, not 48000.0).
    if (report.sampleRate == std::floor(report.sampleRate) && std::fabs(report.sampleRate) < 1e12) {
        j["sampleRate"] = static_cast<long long>(report.sampleRate);
    } else {
        j["sampleRate"] = report.sampleRate;
    }
    j["frames"] = report.frames;
    const LoudnessReading& r = report.reading;
    j["momentary"] = level(r.momentary);
    j["shortTerm"] = level(r.shortTerm);
    j["integrated"] = level(r.integrated);
    j["loudnessRange"] = level(r.loudnessRange);
    j["truePeak"] = level(r.truePeak);
    j["shortTermPeak"] = level(r.shortTermPeak);
    j["overs"] = r.overs;
    j["correlation"] = level(r.correlation);
    if (report.samplePeak) {
        j["samplePeak"] = nlohmann::ordered_json::array({level(report.samplePeak->left), level(report.samplePeak->right)});
    }
    j["maxMomentary"] = level(report.maxMomentary);
    j["maxShortTerm"] = level(report.maxShortTerm);
    // Paths need not be UTF-8: replace what is not, instead of throwing.
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool writeLine(std::FILE* out, const std::string& line) {
    std::string whole = line;
    whole.push_back('\n');
    const bool written = std::fwrite(whole.data(), 1, whole.size(), out) == whole.size();
    return std::fflush(out) == 0 && written;
}

}  // namespace crestline::meter_tool
