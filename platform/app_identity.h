// The application identifier: the prefix of every queue label
// ("<id>.audio", "<id>.spectrogram", ...) and of the product's own names.
#pragma once

#include <string>
#include <string_view>

namespace crestline {

inline constexpr std::string_view kAppIdentifier = "app.crestline.Crestline";

// "<id>" followed by `suffix`, e.g. queueLabel(".spectrogram").
inline std::string queueLabel(std::string_view suffix) {
    std::string label(kAppIdentifier);
    label += suffix;
    return label;
}

}  // namespace crestline
