#include "tools/meter/loudness_targets.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace crestline::meter_tool {
namespace {

// A finite number as the whole text, in the C locale's notation.
std::optional<double> number(const std::string& text) {
    if (text.empty() || text.size() > 64 || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

}  // namespace

const std::vector<LoudnessTarget>& streamingTargets() {
    static const std::vector<LoudnessTarget> targets{{-14.0, -1.0}, {-16.0, -1.0}, {-23.0, -1.0}};
    return targets;
}

std::optional<LoudnessTarget> parseTarget(const std::string& text) {
    const std::size_t colon = text.find(':');
    const auto lufs = number(text.substr(0, colon));
    if (!lufs || *lufs < kMinTarget || *lufs > kMaxTarget) return std::nullopt;
    LoudnessTarget target{*lufs, kDefaultCeiling};
    if (colon != std::string::npos) {
        const auto ceiling = number(text.substr(colon + 1));
        if (!ceiling || *ceiling < kMinCeiling || *ceiling > kMaxCeiling) return std::nullopt;
        target.ceiling = *ceiling;
    }
    return target;
}

std::optional<TargetGain> gainToward(const LoudnessTarget& target, double integrated, double truePeak) {
    if (!std::isfinite(integrated)) return std::nullopt;
    const double gain = target.lufs - integrated;
    if (!std::isfinite(truePeak)) return TargetGain{gain, -std::numeric_limits<double>::infinity(), false};
    const double after = truePeak + gain;
    return TargetGain{gain, after, after > target.ceiling};
}

}  // namespace crestline::meter_tool
