#include "tools/meter/reading_json.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace crestline::meter_tool {
namespace {

using Json = nlohmann::ordered_json;

Json level(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

// Per target: the gain to it and whether the true peak would then pass the
// ceiling; null gain and verdict when there is no integrated loudness.
Json gains(const std::vector<LoudnessTarget>& targets, double integrated, double truePeak) {
    Json list = Json::array();
    for (const LoudnessTarget& target : targets) {
        Json g;
        g["target"] = target.lufs;
        g["ceiling"] = target.ceiling;
        const auto gain = gainToward(target, integrated, truePeak);
        g["gain"] = gain ? level(gain->gain) : nullptr;
        g["truePeak"] = gain ? level(gain->truePeakAfter) : nullptr;
        g["aboveCeiling"] = gain ? Json(gain->aboveCeiling) : Json(nullptr);
        list.push_back(std::move(g));
    }
    return list;
}

// Paths need not be UTF-8: replace what is not, instead of throwing.
std::string dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string formatReport(const MeterReport& report) {
    Json j;
    if (!report.originKey.empty()) j[report.originKey] = report.origin;
    if (report.t) j["t"] = *report.t;
    // Whole rates read as integers (48000, not 48000.0).
    if (report.sampleRate == std::floor(report.sampleRate) && std::fabs(report.sampleRate) < 1e12) {
        j["sampleRate"] = static_cast<long long>(report.sampleRate);
    } else {
        j["sampleRate"] = report.sampleRate;
    }
    j["frames"] = report.frames;
    if (!report.channels.empty()) j["channels"] = report.channels;
    const LoudnessReading& r = report.reading;
    j["momentary"] = level(r.momentary);
    j["shortTerm"] = level(r.shortTerm);
    j["integrated"] = level(r.integrated);
    j["loudnessRange"] = level(r.loudnessRange);
    j["truePeak"] = level(r.truePeak);
    j["shortTermPeak"] = level(r.shortTermPeak);
    j["overs"] = r.overs;
    j["correlation"] = level(r.correlation);
    if (!report.channelPeaks.empty()) {
        Json peaks = Json::array();
        for (double p : report.channelPeaks) peaks.push_back(level(p));
        j["samplePeak"] = std::move(peaks);
    } else if (report.samplePeak) {
        j["samplePeak"] = Json::array({level(report.samplePeak->left), level(report.samplePeak->right)});
    }
    j["maxMomentary"] = level(report.maxMomentary);
    j["maxShortTerm"] = level(report.maxShortTerm);
    if (!report.targets.empty()) j["gains"] = gains(report.targets, r.integrated, r.truePeak);
    return dump(j);
}

std::string formatAlbum(const AlbumReport& album) {
    Json j;
    j["album"] = true;
    j["files"] = album.files;
    j["integrated"] = level(album.integrated);
    j["loudnessRange"] = level(album.loudnessRange);
    j["truePeak"] = level(album.truePeak);
    j["maxMomentary"] = level(album.maxMomentary);
    j["maxShortTerm"] = level(album.maxShortTerm);
    if (!album.targets.empty()) j["gains"] = gains(album.targets, album.integrated, album.truePeak);
    return dump(j);
}

bool writeLine(std::FILE* out, const std::string& line) {
    std::string whole = line;
    whole.push_back('\n');
    const bool written = std::fwrite(whole.data(), 1, whole.size(), out) == whole.size();
    return std::fflush(out) == 0 && written;
}

}  // namespace crestline::meter_tool
