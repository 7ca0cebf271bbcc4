// crestline-live simulate: plays the helper script for demos and tests. It
// sends what the script sends from inside Live while the transport runs: a
// "locators" message at once and every 2 s (the script sends it on every
// change; repeating it keeps a listener that starts late informed), and a
// "position" message every 50 ms, with the song at beat 0 when the command
// starts and moving at the given tempo. At the end the transport stops.
// Each message sent is printed as {"time": host seconds, "sent": message}.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "live/live_helper_receiver.h"
#include "live/live_set.h"
#include "live/live_sync.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "tools/live/command_line.h"
#include "tools/live/commands.h"

namespace crestline::live_tool {
namespace {

constexpr auto kPositionInterval = std::chrono::milliseconds(50);
constexpr auto kLocatorsInterval = std::chrono::seconds(2);

struct Signature {
    int numerator = 4;
    int denominator = 4;
};

// "0:Intro,32:Drop": beat, a colon and a name (which may be empty or
// missing). Nothing when an entry's beat is not a number within ±1e7.
std::optional<std::vector<LiveSet::Locator>> parseLocators(const std::string& text) {
    std::vector<LiveSet::Locator> locators;
    if (text.empty()) return locators;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string entry = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t colon = entry.find(':');
        const std::optional<double> beat = parseNumber(entry.substr(0, colon));
        if (!beat || std::fabs(*beat) > LiveSync::kMaxBeat) return std::nullopt;
        locators.push_back({*beat, colon == std::string::npos ? std::string() : entry.substr(colon + 1)});
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return locators;
}

// "7/8": a whole numerator 1…99 over 1, 2, 4, 8 or 16.
std::optional<Signature> parseSignature(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return std::nullopt;
    const std::optional<double> top = parseNumber(text.substr(0, slash));
    const std::optional<double> bottom = parseNumber(text.substr(slash + 1));
    if (!top || !bottom || *top < 1 || *top > 99 || *top != std::floor(*top)) return std::nullopt;
    for (const int allowed : {1, 2, 4, 8, 16}) {
        if (*bottom == allowed) return Signature{static_cast<int>(*top), allowed};
    }
    return std::nullopt;
}

class Transmitter {
public:
    explicit Transmitter(std::uint16_t port) : port_(port), socket_(UdpSocket::openSender()) {}

    bool isOpen() const { return socket_.isOpen(); }

    // Nobody listening is not an error for a datagram: the script does not
    // know either.
    // `time` is the host time the message describes.
    void send(const nlohmann::json& message, double time) {
        const std::string text = message.dump();
        socket_.sendTo(port_, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        printLine({{"time", time}, {"sent", message}});
    }

private:
    std::uint16_t port_;
    UdpSocket socket_;
};

int usageError(const char* text) {
    std::fprintf(stderr, "crestline-live simulate: %s\n", text);
    return 2;
}

}  // namespace

int simulate(std::span<const std::string> args) {
    const auto options = parseOptions("simulate", args, {"--bpm", "--seconds", "--locators", "--signature", "--port"});
    if (!options) return 2;
    double bpm = 120.0;
    double seconds = std::numeric_limits<double>::infinity();
    std::vector<LiveSet::Locator> locators;
    Signature signature;
    std::uint16_t port = LiveHelperReceiver::kPort;
    if (options->contains("bpm")) {
        const auto value = parseNumber(options->at("bpm"));
        if (!value || *value <= 0 || *value > 999) return usageError("--bpm needs a tempo above 0 and at most 999");
        bpm = *value;
    }
    if (options->contains("seconds")) {
        const auto value = parseNumber(options->at("seconds"));
        if (!value || *value <= 0 || *value > 1e9) return usageError("--seconds needs a number of seconds above 0");
        seconds = *value;
    }
    if (options->contains("locators")) {
        const auto value = parseLocators(options->at("locators"));
        if (!value) return usageError("--locators needs beat:name entries separated by commas, e.g. \"0:Intro,32:Drop\"");
        locators = *value;
    }
    if (options->contains("signature")) {
        const auto value = parseSignature(options->at("signature"));
        if (!value) return usageError("--signature needs numerator/denominator, e.g. 7/8 (1…99 over 1, 2, 4, 8 or 16)");
        signature = *value;
    }
    if (options->contains("port")) {
        const auto value = parsePort(options->at("port"));
        if (!value) return usageError("--port needs a port number 1…65535");
        port = *value;
    }

    Interrupts interrupts;
    const Clock& clock = systemClock();
    Transmitter transmitter(port);
    if (!transmitter.isOpen()) {
        std::fputs("crestline-live simulate: cannot open a UDP socket\n", stderr);
        return 1;
    }
    nlohmann::json locatorMessage = {{"type", "locators"},
                                     {"locators", nlohmann::json::array()},
                                     {"numerator", signature.numerator},
                                     {"denominator", signature.denominator}};
    for (const auto& locator : locators) locatorMessage["locators"].push_back({locator.beat, locator.name});

    using steady = std::chrono::steady_clock;
    const double startTime = clock.now();
    const double beatsPerSecond = bpm / 60.0;
    auto sendPosition = [&](bool playing) {
        const double now = clock.now();
        transmitter.send({{"type", "position"}, {"beat", (now - startTime) * beatsPerSecond}, {"playing", playing}}, now);
    };
    const steady::time_point begin = steady::now();
    const steady::time_point end = deadlineAfter(seconds);
    steady::time_point nextLocators = begin;
    for (steady::time_point next = begin;; next += kPositionInterval) {
        if (next >= end || !interrupts.waitUntil(next)) break;
        if (next >= nextLocators) {
            transmitter.send(locatorMessage, clock.now());
            nextLocators += kLocatorsInterval;
        }
        sendPosition(true);
    }
    sendPosition(false);
    return 0;
}

}  // namespace crestline::live_tool
