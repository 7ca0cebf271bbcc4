#include "tools/meter/beat_grid.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

#include "live/live_sync.h"
#include "platform/clock.h"

namespace crestline::meter_tool {

namespace {
constexpr double kMessageInterval = 0.1;  // seconds between the helper's positions
constexpr double kKeptSeconds = 600.0;    // the sync's ring holds this much at that interval
}  // namespace

void playBeatGrid(LiveSync& sync, FakeClock& clock, double seconds, double bpm,
                  std::optional<std::pair<int, int>> signature) {
    const double start = clock.now();
    const double length = std::max(0.0, seconds);
    const auto [numerator, denominator] = signature.value_or(std::pair(4, 4));
    const nlohmann::json meter = {{"type", "locators"},
                                  {"locators", nlohmann::json::array()},
                                  {"numerator", numerator},
                                  {"denominator", denominator}};
    // Older messages would only be overwritten in the ring: start where
    // the kept span begins, on the grid of messages from the file's start.
    const auto first = static_cast<long long>(std::floor(std::max(0.0, length - kKeptSeconds) / kMessageInterval));
    const auto last = static_cast<long long>(std::floor(length / kMessageInterval));
    std::scoped_lock lock(sync.lock());
    for (long long k = first; k <= last + 1; ++k) {
        const double t = std::min(static_cast<double>(k) * kMessageInterval, length);
        clock.set(start + t);
        if (k == first) sync.applyHelper(meter, clock.now());
        sync.applyHelper({{"type", "position"}, {"beat", t * bpm / 60.0}, {"playing", true}}, clock.now());
    }
    clock.set(start + length);
}

}  // namespace crestline::meter_tool
