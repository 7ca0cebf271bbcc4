#include "live/live_sync.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "platform/log.h"

namespace crestline {
namespace {

constexpr std::uint8_t kSongPositionPointer = 0xF2;
constexpr std::uint8_t kTimingClock = 0xF8;
constexpr std::uint8_t kStart = 0xFA;
constexpr std::uint8_t kContinue = 0xFB;
constexpr std::uint8_t kStop = 0xFC;

constexpr double kMidiSampleInterval = 0.1;     // seconds between samples from MIDI
constexpr double kHelperSampleInterval = 0.05;  // seconds between samples from the helper
constexpr double kStaleAfterSeconds = 1.5;      // no transport input for this long: no clock
constexpr double kSampleWindowSeconds = 3.0;
constexpr int kMaxFitSamples = 40;
constexpr int kMinFitSamples = 6;
// A forward step faster than this (plus half a beat of jitter) is a jump.
constexpr double kMaxBeatsPerSecondStep = 5.0;
constexpr double kMinBeatsPerSecond = 0.3;  // 18 BPM
constexpr double kMaxBeatsPerSecond = 6.0;  // 360 BPM

// A number from a helper message that is safe to use as a beat: finite and
// within ±kMaxBeat. JSON cannot spell NaN, but an out-of-range literal
// (1e400) may reach us as infinity.
std::optional<double> beatValue(const nlohmann::json& value) {
    if (!value.is_number()) return std::nullopt;
    const double beat = value.get<double>();
    if (!std::isfinite(beat) || std::fabs(beat) > LiveSync::kMaxBeat) return std::nullopt;
    return beat;
}

// Beats per bar of a time signature, or nothing unless the numerator is a
// whole number 1…99 and the denominator one Live offers.
std::optional<double> beatsPerBar(const nlohmann::json& numerator, const nlohmann::json& denominator) {
    if (!numerator.is_number() || !denominator.is_number()) return std::nullopt;
    const double top = numerator.get<double>();
    const double bottom = denominator.get<double>();
    if (!(top >= 1.0 && top <= 99.0) || top != std::floor(top)) return std::nullopt;
    if (bottom != 1.0 && bottom != 2.0 && bottom != 4.0 && bottom != 8.0 && bottom != 16.0) return std::nullopt;
    return top * 4.0 / bottom;
}

const nlohmann::json& member(const nlohmann::json& object, const char* key) {
    static const nlohmann::json absent;
    const auto found = object.find(key);
    return found == object.end() ? absent : *found;
}

}  // namespace

LiveSync::LiveSync(const Clock& clock, std::unique_ptr<MidiInput> midi) : clock_(clock), midi_(std::move(midi)) {}

LiveSync::~LiveSync() { stop(); }

void LiveSync::start() {
    if (!midi_ || midi_->isOpen()) return;
    const MidiOpenResult result =
        midi_->open("Crestline", [this](std::span<const std::uint8_t> bytes) { receive(bytes); });
    switch (result.failure) {
        case MidiOpenResult::Failure::none:
            break;
        case MidiOpenResult::Failure::client:
            log("Crestline: MIDI-client aanmaken mislukt (" + std::to_string(result.status) + ")");
            break;
        case MidiOpenResult::Failure::port:
            log("Crestline: MIDI-poort aanmaken mislukt (" + std::to_string(result.status) + ")");
            break;
    }
}

void LiveSync::stop() {
    if (midi_) midi_->close();
}

void LiveSync::clearSamples() {
    std::scoped_lock held(lock_);
    state_.index = 0;
    state_.filled = 0;
    state_.lastSample = 0.0;
}

void LiveSync::receive(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    const double now = clock_.now();
    std::scoped_lock held(lock_);
    apply(bytes, now);
}

void LiveSync::apply(std::span<const std::uint8_t> bytes, double at) {
    if (helperFreshLocked(at)) return;
    State& s = state_;
    bool changed = false;
    // Data bytes and every other status byte (active sensing, reset, channel
    // messages) are skipped; only the transport's system messages act.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        switch (bytes[i]) {
            case kSongPositionPointer: {
                // A pointer needs two data bytes; a status byte in their
                // place means the message was cut, so the pointer is skipped
                // and that byte is read as what it is.
                if (i + 2 >= bytes.size() || bytes[i + 1] >= 0x80 || bytes[i + 2] >= 0x80) break;
                const std::int64_t sixteenths = bytes[i + 1] + 128 * bytes[i + 2];
                std::int64_t ticks = sixteenths * 6;
                // The pointer wraps after 4096 beats: add the whole laps that
                // bring it back near where we were.
                if (s.anchored && s.ticks >= kPointerLapTicks) {
                    auto laps = static_cast<std::int64_t>(static_cast<double>(s.ticks - ticks) /
                                                          static_cast<double>(kPointerLapTicks));
                    laps = std::min(laps, s.ticks / kPointerLapTicks);
                    if (laps < 1) laps = 0;
                    ticks += laps * kPointerLapTicks;
                }
                s.ticks = ticks;
                s.anchored = true;
                changed = true;
                i += 2;
                break;
            }
            case kTimingClock:
                if (s.playing) s.ticks += 1;
                changed = true;
                break;
            case kStart:
                s.ticks = 0;
                s.playing = true;
                changed = true;
                break;
            case kContinue:
                s.playing = true;
                changed = true;
                break;
            case kStop:
                s.playing = false;
                changed = true;
                break;
            default:
                break;
        }
    }
    if (changed) {
        s.lastMessage = at;
        record(at, kMidiSampleInterval);
    }
}

void LiveSync::record(double at, double minimumInterval) {
    State& s = state_;
    if (!(at - s.lastSample >= minimumInterval)) return;
    s.lastSample = at;
    const auto slot = static_cast<std::size_t>(s.index);
    s.times[slot] = at;
    s.beats[slot] = static_cast<double>(s.ticks) / kTicksPerBeat;
    s.index = (s.index + 1) % kRingSize;
    s.filled = std::min<std::int64_t>(s.filled + 1, kRingSize);
}

bool LiveSync::helperFreshLocked(double at) const {
    return state_.helperLastMessage > 0.0 && at - state_.helperLastMessage < kHelperFreshSeconds;
}

void LiveSync::applyHelper(const nlohmann::json& message, double at) {
    // Any message, whatever it holds, shows that the helper is alive.
    state_.helperLastMessage = at;
    if (!message.is_object()) return;
    const nlohmann::json& type = member(message, "type");
    if (!type.is_string()) return;
    const auto& name = type.get_ref<const std::string&>();
    if (name == "position") {
        applyPosition(message, at);
    } else if (name == "locators") {
        applyLocators(message);
    }
}

void LiveSync::applyPosition(const nlohmann::json& message, double at) {
    const std::optional<double> beat = beatValue(member(message, "beat"));
    if (!beat) return;
    State& s = state_;
    s.ticks = static_cast<std::int64_t>(*beat * kTicksPerBeat);  // toward zero; |beat| ≤ 1e7 fits
    s.anchored = true;
    const nlohmann::json& playing = member(message, "playing");
    if (playing.is_boolean()) s.playing = playing.get<bool>();
    s.lastMessage = at;
    record(at, kHelperSampleInterval);
}

void LiveSync::applyLocators(const nlohmann::json& message) {
    std::vector<LiveSet::Locator> locators;
    const nlohmann::json& list = member(message, "locators");
    if (list.is_array()) {
        locators.reserve(list.size());
        for (const nlohmann::json& item : list) {
            if (!item.is_array() || item.size() < 2) continue;
            const std::optional<double> beat = beatValue(item[0]);
            if (!beat) continue;
            LiveSet::Locator locator;
            locator.beat = *beat;
            if (item[1].is_string()) locator.name = item[1].get<std::string>();
            locators.push_back(std::move(locator));
        }
    }
    std::stable_sort(locators.begin(), locators.end(),
                     [](const LiveSet::Locator& a, const LiveSet::Locator& b) { return a.beat < b.beat; });
    state_.helperLocators = std::move(locators);
    if (const auto perBar = beatsPerBar(member(message, "numerator"), member(message, "denominator"))) {
        state_.helperBeatsPerBar = *perBar;
    }
}

std::optional<LiveSync::BeatClock> LiveSync::beatClock(double at) const {
    std::scoped_lock held(lock_);
    const State& s = state_;
    if (!s.playing || s.filled < kMinFitSamples || !(at - s.lastMessage < kStaleAfterSeconds)) return std::nullopt;

    // Newest first, back to the first break in continuity: a step back or a
    // standstill (a loop or relocation), or a leap forward no tempo explains.
    std::array<double, kMaxFitSamples> times{};
    std::array<double, kMaxFitSamples> beats{};
    int count = 0;
    const auto limit = static_cast<int>(std::min<std::int64_t>(s.filled, kMaxFitSamples));
    std::int64_t slot = s.index;
    for (int k = 0; k < limit; ++k) {
        slot = (slot + kRingSize - 1) % kRingSize;
        const double time = s.times[static_cast<std::size_t>(slot)];
        const double beat = s.beats[static_cast<std::size_t>(slot)];
        if (!(at - time <= kSampleWindowSeconds)) break;
        if (count > 0) {
            const double newerTime = times[static_cast<std::size_t>(count - 1)];
            const double newerBeat = beats[static_cast<std::size_t>(count - 1)];
            if (newerBeat <= beat) break;
            if (newerBeat - beat > (newerTime - time) * kMaxBeatsPerSecondStep + 0.5) break;
        }
        times[static_cast<std::size_t>(count)] = time;
        beats[static_cast<std::size_t>(count)] = beat;
        ++count;
    }
    if (count < kMinFitSamples) return std::nullopt;

    double meanTime = 0.0;
    double meanBeat = 0.0;
    for (int i = 0; i < count; ++i) {
        meanTime += times[static_cast<std::size_t>(i)];
        meanBeat += beats[static_cast<std::size_t>(i)];
    }
    meanTime /= count;
    meanBeat /= count;
    double covariance = 0.0;
    double variance = 0.0;
    for (int i = 0; i < count; ++i) {
        const double dt = times[static_cast<std::size_t>(i)] - meanTime;
        covariance += dt * (beats[static_cast<std::size_t>(i)] - meanBeat);
        variance += dt * dt;
    }
    if (!(variance > 0.0)) return std::nullopt;
    const double slope = covariance / variance;
    if (!(slope > kMinBeatsPerSecond && slope < kMaxBeatsPerSecond)) return std::nullopt;
    return BeatClock{meanBeat + (at - meanTime) * slope, slope};
}

}  // namespace crestline
