#include "capture/process_tap.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/log.h"

namespace crestline {
namespace {

constexpr double kLowestSampleRate = 8000.0;
constexpr double kHighestSampleRate = 768000.0;

// A double the way the system's logs print one: shortest exact form, with
// ".0" on whole numbers (48000.0, 44100.5).
std::string decimalText(double value) {
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    if (error != std::errc()) return "nan";
    std::string result(text, end);
    if (std::isfinite(value) && result.find_first_of(".e") == std::string::npos) result += ".0";
    return result;
}

const char* modeName(TapMode mode) { return mode == TapMode::tapOnly ? "tapOnly" : "withOutputDevice"; }

int initialPair(TapSource source) {
    return source.kind == TapSource::Kind::pair ? std::max(source.pairIndex, 0) : 0;
}

}  // namespace

ProcessTap::ProcessTap(std::int32_t pid, Mode mode, Source source)
    : pid_(pid),
      mode_(mode),
      source_(source),
      activePair_(initialPair(source)),
      scratchL_(kScratchFrames, 0.0f),
      scratchR_(kScratchFrames, 0.0f) {}

ProcessTap::~ProcessTap() { stop(); }

// --- finding the process and its sink

std::uint32_t ProcessTap::sinkInputOf(std::int32_t pid, Deadline deadline) {
    std::vector<SinkInput> inputs;
    try {
        inputs = soundServer()->sinkInputs(deadline);
    } catch (const ServerError& error) {
        throw CoreAudioError(error.status(), "Ableton heeft nog geen actief audioproces");
    }
    std::optional<std::uint32_t> found;
    for (const SinkInput& input : inputs) {
        if (input.pid == pid && (!found || input.index < *found)) found = input.index;
    }
    if (!found) throw CoreAudioError(0, "Ableton heeft nog geen actief audioproces");
    return *found;
}

std::optional<ProcessTap::Device> ProcessTap::currentDevice(std::optional<std::uint32_t> sinkInput, bool allowDefault,
                                                            Deadline deadline) {
    const auto server = soundServer();
    std::optional<Sink> sink;
    try {
        if (sinkInput) {
            for (const SinkInput& input : server->sinkInputs(deadline)) {
                if (input.index == *sinkInput) sink = server->sink(input.sink, deadline);
            }
        }
        if (!sink && (allowDefault || !sinkInput)) sink = server->defaultSink(deadline);
    } catch (const ServerError&) {
        return std::nullopt;
    }
    if (!sink) return std::nullopt;
    return Device{sink->index, sink->description.empty() ? "onbekend apparaat" : sink->description, sink->name,
                  sink->channels, sink->channelMap, sink->rate};
}

// --- set-up

void ProcessTap::prepare() {
    const Deadline deadline = deadlineIn(kPrepareSeconds);
    const auto server = soundServer();
    try {
        if (pid_ != 0) sinkInput_ = sinkInputOf(pid_, deadline);
        device_ = currentDevice(sinkInput_, true, deadline);
        if (source_.kind == Source::Kind::mixdown || !device_) {
            openMixdown(*server, deadline);
        } else {
            try {
                openPerStream(*server, deadline);
            } catch (const CoreAudioError& error) {
                log("Crestline: per-stream tap lukt niet (" + error.description() + "), terugval op mixdown");
                openMixdown(*server, deadline);
            }
        }
        sampleRate_ = recording_->rate();
        // An absurd rate would size the analysers' buffers after it.
        if (!std::isfinite(sampleRate_) || sampleRate_ < kLowestSampleRate || sampleRate_ > kHighestSampleRate) {
            throw CoreAudioError(0, "Samplerate " + decimalText(sampleRate_) + " Hz wordt niet ondersteund");
        }
    } catch (const CoreAudioError&) {
        stop();
        throw;
    }
}

std::unique_ptr<Recording> ProcessTap::open(SoundServer& server, Deadline deadline) {
    Sink sink;
    if (device_) {
        sink = {device_->sink, device_->uid, device_->name, device_->channels, device_->channelMap, device_->sampleRate};
    } else if (const auto fallback = server.defaultSink(deadline)) {
        sink = *fallback;
    } else {
        throw ServerError(ServerStatus::noSuchEntity, "geen sink");
    }
    RecordingCallbacks callbacks{
        [this](const float* samples, int frames, int channels) { handleInput(samples, frames, channels); },
        [this](RecordingEnd how, const std::string& reason) { ended(how, reason); }};
    // `stop` (also run by the destructor) closes the recording, which waits
    // out a running callback, so the callbacks may hold the tap by address.
    return server.record(sink, sinkInput_, std::move(callbacks), deadline);
}

void ProcessTap::openPerStream(SoundServer& server, Deadline deadline) {
    try {
        recording_ = open(server, deadline);
    } catch (const ServerError& error) {
        throw CoreAudioError(error.status(), "Tap op stream 0 aanmaken mislukt");
    }
    usingMixdown_ = false;
}

void ProcessTap::openMixdown(SoundServer& server, Deadline deadline) {
    try {
        recording_ = open(server, deadline);
    } catch (const ServerError& error) {
        throw CoreAudioError(error.status(), "Process tap aanmaken mislukt");
    }
    usingMixdown_ = true;

    // Each side of our down-mix averages its channels; scale back so a pair
    // at full level reads at full level.
    const int channels = device_ ? device_->channels : 2;
    if (device_ && channels < 2) {
        mixdownScale_ = 1.0;
    } else {
        mixdownScale_ = channels * 0.5;
        if (mixdownScale_ > 1.0) {
            char line[96];
            std::snprintf(line, sizeof line, "Crestline: mixdown corrigeert %+.2f dB voor %d kanalen",
                          20.0 * std::log10(mixdownScale_), channels);
            log(line);
        }
    }
    const int recorded = recording_->channels();
    mixGain_ = static_cast<float>(mixdownScale_ * (recorded > 2 ? 2.0 / recorded : 1.0));
}

// --- running

void ProcessTap::start(Handler handler) {
    if (!recording_) throw CoreAudioError(0, "Audio callback aanmaken mislukt");
    if (failed_.load(std::memory_order_acquire)) {
        const OSStatus status = failure() == RecordingEnd::streamGone ? static_cast<OSStatus>(ServerStatus::noSuchEntity)
                                                                      : static_cast<OSStatus>(ServerStatus::unreachable);
        stop();
        throw CoreAudioError(status, "Audio starten mislukt");
    }
    if (started_.load(std::memory_order_relaxed)) {
        // A tap is never restarted; the handler cannot change under a running callback.
        assert(!"tap started twice");
        return;
    }
    handler_ = std::move(handler);
    started_.store(true, std::memory_order_release);
}

void ProcessTap::stop() {
    recording_.reset();  // returns once no callback runs
    started_.store(false, std::memory_order_relaxed);
    handler_ = nullptr;
}

void ProcessTap::ended(RecordingEnd how, const std::string& reason) {
    failure_ = how;
    failed_.store(true, std::memory_order_release);
    const char* what = how == RecordingEnd::stalled ? "stil" : how == RecordingEnd::serverGone ? "server weg" : "gestopt";
    log(std::string("Crestline: audiostream ") + what + " (" + reason + ")");
}

std::optional<RecordingEnd> ProcessTap::failure() const {
    if (!failed_.load(std::memory_order_acquire)) return std::nullopt;
    return failure_;
}

std::optional<double> ProcessTap::liveSampleRate() const {
    if (!recording_) return std::nullopt;
    const auto rate = recording_->sinkRate();
    if (rate && *rate > 0.0 && std::isfinite(*rate)) return rate;
    return std::nullopt;
}

std::vector<ProcessTap::Pair> ProcessTap::pairMap() const {
    const int count = pairCount_.load(std::memory_order_acquire);
    return {pairMap_.begin(), pairMap_.begin() + count};
}

void ProcessTap::refreshAutoSelection() {
    if (source_.kind != Source::Kind::automatic) return;
    const int count = std::min(pairCount_.load(std::memory_order_acquire), kMaxPairs);
    if (count == 0) return;
    int candidate = -1;
    // Every peak starts over, so a pair that fell silent loses its claim.
    for (int i = 0; i < count; ++i) {
        const float peak = pairPeaks_[static_cast<std::size_t>(i)].exchange(0.0f, std::memory_order_relaxed);
        if (candidate < 0 && peak > kSignalThreshold) candidate = i;
    }
    if (candidate >= 0) activePair_.store(candidate, std::memory_order_relaxed);
}

// --- the server's thread

void ProcessTap::handleInput(const float* samples, int frames, int channels) {
    if (!started_.load(std::memory_order_acquire)) return;
    callbackCount_.fetch_add(1, std::memory_order_relaxed);
    if (frames < 1 || channels < 1) return;
    if (!loggedLayout_) {
        loggedLayout_ = true;
        publishPairMap(channels, frames);
    }
    // Blocks longer than the scratch buffers go through in pieces.
    for (int done = 0; done < frames; done += kScratchFrames) {
        const int n = std::min(kScratchFrames, frames - done);
        const float* piece = samples + static_cast<std::size_t>(done) * static_cast<std::size_t>(channels);
        if (usingMixdown_) {
            deliverMixdown(piece, n, channels);
        } else {
            deliverPair(piece, n, channels);
        }
    }
}

void ProcessTap::publishPairMap(int channels, int frames) {
    int pairs = 0;
    if (!usingMixdown_) {
        for (int k = 0; k + 1 < channels && pairs < kMaxPairs; k += 2) pairMap_[static_cast<std::size_t>(pairs++)] = {0, k};
    }
    pairCount_.store(pairs, std::memory_order_release);
    log("Crestline: 1 buffers [" + std::to_string(channels) + "ch/" + std::to_string(frames * channels * 4) +
        "b], skip 0, mode " + modeName(mode_) + ", " + (usingMixdown_ ? "mixdown" : "per stream") + ", " +
        std::to_string(pairs) + " paren, " + decimalText(sampleRate_) + " Hz");
}

void ProcessTap::deliverMixdown(const float* samples, int frames, int channels) {
    const auto stride = static_cast<std::size_t>(channels);
    // Even channels go left, odd ones right; a lone last channel feeds both.
    const int paired = channels - channels % 2;
    for (int i = 0; i < frames; ++i) {
        const float* frame = samples + static_cast<std::size_t>(i) * stride;
        float left = 0.0f;
        float right = 0.0f;
        for (int c = 0; c < paired; c += 2) {
            left += frame[c];
            right += frame[c + 1];
        }
        if (paired != channels) {
            left += frame[channels - 1];
            right += frame[channels - 1];
        }
        scratchL_[static_cast<std::size_t>(i)] = left * mixGain_;
        scratchR_[static_cast<std::size_t>(i)] = right * mixGain_;
    }
    handler_(scratchL_.data(), scratchR_.data(), frames);
}

void ProcessTap::raisePairPeaks(const float* samples, int frames, int channels) {
    const int pairs = std::min(pairCount_.load(std::memory_order_relaxed), kMaxPairs);
    const auto stride = static_cast<std::size_t>(channels);
    for (int i = 0; i < pairs; ++i) {
        const auto channel = static_cast<std::size_t>(pairMap_[static_cast<std::size_t>(i)].channel);
        if (channel + 1 >= stride) continue;
        float peak = 0.0f;
        for (std::size_t f = 0; f < static_cast<std::size_t>(frames); ++f) {
            peak = std::max({peak, std::fabs(samples[f * stride + channel]), std::fabs(samples[f * stride + channel + 1])});
        }
        auto& stored = pairPeaks_[static_cast<std::size_t>(i)];
        if (peak > stored.load(std::memory_order_relaxed)) stored.store(peak, std::memory_order_relaxed);
    }
}

void ProcessTap::deliverPair(const float* samples, int frames, int channels) {
    if (source_.kind == Source::Kind::automatic) raisePairPeaks(samples, frames, channels);
    const int p = std::min(pairCount_.load(std::memory_order_relaxed) - 1, activePair_.load(std::memory_order_relaxed));
    if (p < 0) return;
    const auto channel = static_cast<std::size_t>(pairMap_[static_cast<std::size_t>(p)].channel);
    const auto stride = static_cast<std::size_t>(channels);
    if (channel + 1 >= stride) return;  // a block narrower than the first one
    for (std::size_t i = 0; i < static_cast<std::size_t>(frames); ++i) {
        scratchL_[i] = samples[i * stride + channel];
        scratchR_[i] = samples[i * stride + channel + 1];
    }
    handler_(scratchL_.data(), scratchR_.data(), frames);
}

}  // namespace crestline
