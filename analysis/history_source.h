// Which loudness history series a caller means. Stored in the settings by
// its text form, so the raw values never change.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace crestline {

enum class HistorySource { momentary, shortTerm, integrated, truePeak, psr };

inline constexpr std::array<HistorySource, 5> kAllHistorySources{
    HistorySource::momentary, HistorySource::shortTerm, HistorySource::integrated,
    HistorySource::truePeak, HistorySource::psr};

constexpr std::string_view rawValue(HistorySource source) {
    switch (source) {
        case HistorySource::momentary: return "momentary";
        case HistorySource::shortTerm: return "shortTerm";
        case HistorySource::integrated: return "integrated";
        case HistorySource::truePeak: return "truePeak";
        case HistorySource::psr: return "psr";
    }
    return "momentary";
}

constexpr std::optional<HistorySource> historySource(std::string_view raw) {
    for (HistorySource s : kAllHistorySources) {
        if (rawValue(s) == raw) return s;
    }
    return std::nullopt;
}

}  // namespace crestline
