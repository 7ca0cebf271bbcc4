// Which signal a spectrum analyses. Stored in the settings
// ("spectrumChannel", "spectrogramChannel") by its text form, so the raw
// values never change.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace crestline {

enum class SpectrumChannel { stereo, left, right, mid, side };

inline constexpr std::array<SpectrumChannel, 5> kAllSpectrumChannels{
    SpectrumChannel::stereo, SpectrumChannel::left, SpectrumChannel::right, SpectrumChannel::mid,
    SpectrumChannel::side};

constexpr std::string_view rawValue(SpectrumChannel channel) {
    switch (channel) {
        case SpectrumChannel::stereo: return "stereo";
        case SpectrumChannel::left: return "left";
        case SpectrumChannel::right: return "right";
        case SpectrumChannel::mid: return "mid";
        case SpectrumChannel::side: return "side";
    }
    return "stereo";
}

constexpr std::optional<SpectrumChannel> spectrumChannel(std::string_view raw) {
    for (SpectrumChannel c : kAllSpectrumChannels) {
        if (rawValue(c) == raw) return c;
    }
    return std::nullopt;
}

}  // namespace crestline
