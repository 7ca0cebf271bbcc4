// What the bar shows on its timeline from Live's open set: arrangement
// locators, time-signature changes and the saved play-head position. A plain
// value, copied freely between the set-reading queue and the main thread.
// The helper's locators (transport sync) use the same `Locator` type.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace crestline {

struct LiveSet {
    struct Locator {
        double beat = 0.0;  // quarter-note beats from the arrangement start
        std::string name;   // empty when the locator has no name
        bool operator==(const Locator&) const = default;
    };
    struct Signature {
        double beat = 0.0;         // where the signature takes effect
        double beatsPerBar = 4.0;  // greater than 0
        bool operator==(const Signature&) const = default;
    };

    std::string path;
    std::chrono::system_clock::time_point modified;
    std::vector<Locator> locators;      // ascending by beat, ties in document order
    std::vector<Signature> signatures;  // ascending by beat, ties in document order
    std::optional<double> savedBeat;

    // 1-based, fractional bar number at a beat.
    double bar(double atBeat) const;
    // Beats per bar in force at a beat.
    double beatsPerBar(double atBeat) const;
};

}  // namespace crestline
