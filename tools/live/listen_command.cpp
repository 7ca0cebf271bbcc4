// crestline-live listen: what the application would follow. Starts the
// helper receiver and the MIDI port "Crestline", prints each decoded helper
// message as one JSON line, and once a second the beat clock:
//   {"beat":12.5,"bpm":120.0,"playing":true,"source":"helper","time":8123.4}
// ("time" is the host time the beat is for) or {"beat":null}.
#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>

#include "live/live_helper_receiver.h"
#include "live/live_sync.h"
#include "platform/clock.h"
#include "tools/live/command_line.h"
#include "tools/live/commands.h"

namespace crestline::live_tool {
namespace {

nlohmann::json beatClockLine(const LiveSync& sync, double now) {
    const std::optional<LiveSync::BeatClock> clock = sync.beatClock(now);
    if (!clock) return {{"beat", nullptr}};
    bool playing = false;
    bool helper = false;
    {
        std::scoped_lock held(sync.lock());
        playing = sync.stateLocked().playing;
        helper = sync.helperFreshLocked(now);
    }
    return {{"beat", clock->beat},
            {"bpm", clock->beatsPerSecond * 60.0},
            {"playing", playing},
            {"source", helper ? "helper" : "midi"},
            {"time", now}};
}

}  // namespace

int listen(std::span<const std::string> args) {
    const auto options = parseOptions("listen", args, {"--seconds", "--port"});
    if (!options) return 2;
    double seconds = std::numeric_limits<double>::infinity();
    std::uint16_t port = LiveHelperReceiver::kPort;
    if (options->contains("seconds")) {
        const auto value = parseNumber(options->at("seconds"));
        if (!value || *value <= 0 || *value > 1e9) {
            std::fputs("crestline-live listen: --seconds needs a number of seconds above 0\n", stderr);
            return 2;
        }
        seconds = *value;
    }
    if (options->contains("port")) {
        const auto value = parsePort(options->at("port"));
        if (!value) {
            std::fputs("crestline-live listen: --port needs a port number 1…65535\n", stderr);
            return 2;
        }
        port = *value;
    }

    Interrupts interrupts;  // before any thread starts
    const Clock& clock = systemClock();
    LiveSync sync(clock);
    LiveHelperReceiver receiver(
        [&](const nlohmann::json& message) {
            const double now = clock.now();
            {
                std::scoped_lock held(sync.lock());
                sync.applyHelper(message, now);
            }
            printLine(message);
        },
        port);
    sync.start();
    receiver.start();  // a port in use is logged; MIDI alone still works

    using steady = std::chrono::steady_clock;
    const steady::time_point begin = steady::now();
    const steady::time_point end = deadlineAfter(seconds);
    for (int tick = 1;; ++tick) {
        const steady::time_point next = begin + std::chrono::seconds(tick);
        if (next > end) {
            interrupts.waitUntil(end);
            break;
        }
        if (!interrupts.waitUntil(next)) break;
        printLine(beatClockLine(sync, clock.now()));
    }
    // Ordered shut-down: no handler may run once the sync object goes.
    receiver.stop();
    sync.stop();
    return 0;
}

}  // namespace crestline::live_tool
