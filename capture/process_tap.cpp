#include "capture/process_tap.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/app_identity.h"
#include "platform/log.h"

namespace crestline {
namespace {

constexpr double kFallbackSampleRate = 48000.0;
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

// Frames in a buffer of interleaved channels, or 0 when it cannot be read:
// no data, or not even one frame.
std::size_t framesIn(const AudioBuffer& buffer, std::size_t stride) {
    if (buffer.data == nullptr || 4 * stride > buffer.dataByteSize) return 0;
    return buffer.dataByteSize / (4 * stride);
}

std::size_t strideOf(const AudioBuffer& buffer) {
    return buffer.numberChannels >= 2 ? buffer.numberChannels : 1;
}

}  // namespace

ProcessTap::ProcessTap(std::int32_t pid, Mode mode, Source source)
    : pid_(pid),
      mode_(mode),
      source_(source),
      service_(audioService()),
      activePair_(initialPair(source)),
      scratchL_(kInitialScratchFrames, 0.0f),
      scratchR_(kInitialScratchFrames, 0.0f),
      queue_(queueLabel(".audio")) {}

ProcessTap::~ProcessTap() { stop(); }

// --- finding the device

std::optional<ProcessTap::Device> ProcessTap::currentDevice(AudioObjectID processObject, bool allowDefault) {
    AudioObjectID device = kAudioObjectUnknown;
    if (processObject != kAudioObjectUnknown) {
        std::vector<AudioObjectID> devices;
        try {
            devices = CA::readObjectList(processObject, kAudioProcessPropertyDevices, kAudioObjectPropertyScopeOutput);
        } catch (const CoreAudioError&) {
        }
        if (!devices.empty()) {
            if (devices.front() == kAudioObjectUnknown) return std::nullopt;
            device = devices.front();
        } else if (!allowDefault) {
            return std::nullopt;
        }
    }
    if (device == kAudioObjectUnknown) {
        try {
            device = CA::read(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice, AudioObjectID{0});
        } catch (const CoreAudioError&) {
            return std::nullopt;
        }
        if (device == kAudioObjectUnknown) return std::nullopt;
    }

    Device result;
    result.id = device;
    try {
        result.name = CA::readString(device, kAudioObjectPropertyName);
    } catch (const CoreAudioError&) {
        result.name = "onbekend apparaat";
    }
    try {
        result.uid = CA::readString(device, kAudioDevicePropertyDeviceUID);
    } catch (const CoreAudioError&) {
        return std::nullopt;
    }
    std::vector<AudioObjectID> streams;
    try {
        streams = CA::readObjectList(device, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput);
    } catch (const CoreAudioError&) {
    }
    for (AudioObjectID stream : streams) {
        int channels = 0;
        try {
            channels = static_cast<int>(
                CA::read(stream, kAudioStreamPropertyVirtualFormat, AudioStreamBasicDescription{}).mChannelsPerFrame);
        } catch (const CoreAudioError&) {
        }
        result.streamChannels.push_back(channels);
    }
    return result;
}

// --- set-up

void ProcessTap::prepare() {
    try {
        if (pid_ != 0) processObjectID_ = CA::processObject(pid_);
        device_ = currentDevice(processObjectID_, true);
        createTaps();
        createAggregate();
        if (!(sampleRate_ > 0.0)) sampleRate_ = kFallbackSampleRate;
        // An absurd rate would size the analysers' buffers after it.
        if (!std::isfinite(sampleRate_) || sampleRate_ < kLowestSampleRate || sampleRate_ > kHighestSampleRate) {
            throw CoreAudioError(0, "Samplerate " + decimalText(sampleRate_) + " Hz wordt niet ondersteund");
        }
    } catch (const CoreAudioError&) {
        stop();
        throw;
    }
}

void ProcessTap::createTaps() {
    if (source_.kind == Source::Kind::mixdown) {
        createMixdownTap();
        return;
    }
    if (device_ && !device_->streamChannels.empty()) {
        try {
            createPerStreamTaps();
            usingMixdown_ = false;
        } catch (const CoreAudioError& error) {
            log("Crestline: per-stream tap lukt niet (" + error.description() + "), terugval op mixdown");
            destroyTaps();
            createMixdownTap();
        }
        return;
    }
    createMixdownTap();
}

void ProcessTap::createPerStreamTaps() {
    const int streams = device_ ? static_cast<int>(device_->streamChannels.size()) : 0;
    if (streams == 0) throw CoreAudioError(0, "Apparaat meldt geen uitvoerstreams");
    for (int s = 0; s < streams; ++s) {
        TapDescription description = pid_ != 0 ? TapDescription::ofProcesses({processObjectID_}, device_->uid, s)
                                               : TapDescription::excludingProcesses({}, device_->uid, s);
        description.name = "Crestline stream " + std::to_string(s);
        AudioObjectID tap = kAudioObjectUnknown;
        const OSStatus status = service_->createProcessTap(description, tap);
        if (status != kAudioHardwareNoError || tap == kAudioObjectUnknown) {
            throw CoreAudioError(status, "Tap op stream " + std::to_string(s) + " aanmaken mislukt");
        }
        tapIDs_.push_back(tap);
        tapUIDs_.push_back(description.uuid);
        if (!(sampleRate_ > 0.0)) {
            try {
                const double rate = CA::read(tap, kAudioTapPropertyFormat, AudioStreamBasicDescription{}).mSampleRate;
                if (rate > 0.0) sampleRate_ = rate;
            } catch (const CoreAudioError&) {
            }
        }
    }
}

void ProcessTap::createMixdownTap() {
    TapDescription description = pid_ != 0 ? TapDescription::stereoMixdownOfProcesses({processObjectID_})
                                           : TapDescription::stereoGlobalTapButExcludeProcesses({});
    description.name = "Crestline mixdown";
    AudioObjectID tap = kAudioObjectUnknown;
    const OSStatus status = service_->createProcessTap(description, tap);
    if (status != kAudioHardwareNoError || tap == kAudioObjectUnknown) {
        throw CoreAudioError(status, "Process tap aanmaken mislukt");
    }
    tapIDs_ = {tap};
    tapUIDs_ = {description.uuid};
    usingMixdown_ = true;

    // The mixdown spreads the device's channels over two; scale back so a
    // pair at full level reads at full level.
    const bool hasStreams = device_ && !device_->streamChannels.empty();
    const int channels = hasStreams ? device_->streamChannels.front() : 2;
    if (hasStreams && channels < 2) {
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
    try {
        const double rate = CA::read(tap, kAudioTapPropertyFormat, AudioStreamBasicDescription{}).mSampleRate;
        if (rate > 0.0) sampleRate_ = rate;
    } catch (const CoreAudioError&) {
    }
}

void ProcessTap::createAggregate() {
    AggregateDescription description;
    description.name = "Crestline Tap";
    description.uid = std::string(kAppIdentifier) + ".tap." + newUuidString();
    description.isPrivate = true;
    description.isStacked = false;
    description.tapAutoStart = true;
    for (const auto& uid : tapUIDs_) description.taps.push_back({uid, true});
    if (mode_ == Mode::withOutputDevice && device_) {
        description.mainSubDevice = device_->uid;
        description.subDevices = {device_->uid};
        try {
            skipBuffers_ = static_cast<int>(
                CA::readObjectList(device_->id, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput).size());
        } catch (const CoreAudioError&) {
            skipBuffers_ = 0;
        }
    }
    AudioObjectID aggregate = kAudioObjectUnknown;
    const OSStatus status = service_->createAggregateDevice(description, aggregate);
    if (status != kAudioHardwareNoError || aggregate == kAudioObjectUnknown) {
        throw CoreAudioError(status, "Aggregate device aanmaken mislukt");
    }
    aggregateID_ = aggregate;
    if (!(sampleRate_ > 0.0)) {
        try {
            sampleRate_ = CA::read(aggregateID_, kAudioDevicePropertyNominalSampleRate, 0.0);
        } catch (const CoreAudioError&) {
        }
    }
}

void ProcessTap::destroyTaps() {
    for (AudioObjectID tap : tapIDs_) {
        if (tap != kAudioObjectUnknown) service_->destroyProcessTap(tap);
    }
    tapIDs_.clear();
    tapUIDs_.clear();
}

// --- running

void ProcessTap::start(Handler handler) {
    // A second start replaces the callback; the first must be gone before
    // the handler changes under it.
    if (ioProcID_ != 0) {
        service_->stopDevice(aggregateID_, ioProcID_);
        service_->destroyIOProcID(aggregateID_, ioProcID_);
        ioProcID_ = 0;
    }
    handler_ = std::move(handler);
    AudioDeviceIOProcID proc = 0;
    // `stop` (also run by the destructor) returns only once no callback
    // runs and none will, so the callbacks may hold the tap by address.
    OSStatus status = service_->createIOProcID(
        aggregateID_, queue_, [this](std::span<const AudioBuffer> input) { handleInput(input); },
        [this](OSStatus failure, const std::string& reason) { streamStopped(failure, reason); }, proc);
    if (status != kAudioHardwareNoError || proc == 0) {
        stop();
        throw CoreAudioError(status, "Audio callback aanmaken mislukt");
    }
    ioProcID_ = proc;
    status = service_->startDevice(aggregateID_, ioProcID_);
    if (status != kAudioHardwareNoError) {
        stop();
        throw CoreAudioError(status, "Audio starten mislukt");
    }
}

void ProcessTap::stop() {
    if (ioProcID_ != 0) {
        // Both wait until no callback of the proc runs any more.
        service_->stopDevice(aggregateID_, ioProcID_);
        service_->destroyIOProcID(aggregateID_, ioProcID_);
    }
    ioProcID_ = 0;
    if (aggregateID_ != kAudioObjectUnknown) {
        service_->destroyAggregateDevice(aggregateID_);
        aggregateID_ = kAudioObjectUnknown;
    }
    destroyTaps();
    handler_ = nullptr;
    scratchL_ = {};
    scratchR_ = {};
}

void ProcessTap::streamStopped(OSStatus status, const std::string& reason) {
    streamFailed_.store(true, std::memory_order_release);
    log("Crestline: audiostream gestopt (" + reason + ", OSStatus " + std::to_string(status) + ")");
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

// --- the capture queue

void ProcessTap::handleInput(std::span<const AudioBuffer> input) {
    if (!handler_) return;
    callbackCount_.fetch_add(1, std::memory_order_relaxed);
    const int count = static_cast<int>(input.size());
    const int first = skipBuffers_ < count ? skipBuffers_ : 0;
    const int available = count - first;
    if (available < 1) return;
    if (!loggedLayout_) {
        loggedLayout_ = true;
        publishPairMap(input, first, available);
    }
    if (usingMixdown_) {
        deliverMixdown(input, first, available);
    } else {
        deliverPair(input, first);
    }
}

void ProcessTap::publishPairMap(std::span<const AudioBuffer> input, int first, int available) {
    int pairs = 0;
    if (!usingMixdown_) {
        for (int b = 0; b < available && pairs < kMaxPairs; ++b) {
            const auto channels = static_cast<int>(input[static_cast<std::size_t>(first + b)].numberChannels);
            for (int k = 0; k + 1 < channels && pairs < kMaxPairs; k += 2) {
                pairMap_[static_cast<std::size_t>(pairs++)] = {b, k};
            }
        }
    }
    pairCount_.store(pairs, std::memory_order_release);
    logLayout(input, pairs);
}

void ProcessTap::logLayout(std::span<const AudioBuffer> input, int pairs) const {
    std::string line = "Crestline: " + std::to_string(input.size()) + " buffers [";
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (i > 0) line += ", ";
        line += std::to_string(input[i].numberChannels) + "ch/" + std::to_string(input[i].dataByteSize) + "b";
    }
    line += "], skip " + std::to_string(skipBuffers_) + ", mode " + modeName(mode_) + ", " +
            (usingMixdown_ ? "mixdown" : "per stream") + ", " + std::to_string(pairs) + " paren, " +
            decimalText(sampleRate_) + " Hz";
    log(line);
}

void ProcessTap::growScratch(std::size_t frames) {
    if (scratchL_.size() < frames) scratchL_.assign(frames, 0.0f);
    if (scratchR_.size() < frames) scratchR_.assign(frames, 0.0f);
}

void ProcessTap::deliverMixdown(std::span<const AudioBuffer> input, int first, int available) {
    const AudioBuffer& buffer = input[static_cast<std::size_t>(first)];
    const std::size_t stride = strideOf(buffer);
    std::size_t frames = framesIn(buffer, stride);
    if (frames == 0) return;
    const auto gain = static_cast<float>(mixdownScale_);
    const float* samples = buffer.data;
    if (stride >= 2) {
        growScratch(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            scratchL_[i] = samples[i * stride] * gain;
            scratchR_[i] = samples[i * stride + 1] * gain;
        }
    } else {
        const AudioBuffer* right = &buffer;
        if (available >= 2 && input[static_cast<std::size_t>(first + 1)].data != nullptr) {
            right = &input[static_cast<std::size_t>(first + 1)];
        }
        // The right buffer may be shorter than the left one.
        frames = std::min<std::size_t>(frames, right->dataByteSize / 4);
        if (frames == 0) return;
        growScratch(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            scratchL_[i] = samples[i] * gain;
            scratchR_[i] = right->data[i] * gain;
        }
    }
    handler_(scratchL_.data(), scratchR_.data(), static_cast<int>(frames));
}

void ProcessTap::raisePairPeaks(std::span<const AudioBuffer> input, int first) {
    const int pairs = std::min(pairCount_.load(std::memory_order_relaxed), kMaxPairs);
    for (int i = 0; i < pairs; ++i) {
        const Pair pair = pairMap_[static_cast<std::size_t>(i)];
        const auto index = static_cast<std::size_t>(first + pair.buffer);
        if (index >= input.size()) continue;  // fewer buffers than the first callback had
        const AudioBuffer& buffer = input[index];
        const std::size_t stride = strideOf(buffer);
        const std::size_t frames = framesIn(buffer, stride);
        const auto channel = static_cast<std::size_t>(pair.channel);
        if (frames == 0 || channel + 1 >= stride) continue;
        float peak = 0.0f;
        for (std::size_t f = 0; f < frames; ++f) {
            const float left = std::fabs(buffer.data[f * stride + channel]);
            const float right = std::fabs(buffer.data[f * stride + channel + 1]);
            if (left > peak) peak = left;
            if (right > peak) peak = right;
        }
        auto& stored = pairPeaks_[static_cast<std::size_t>(i)];
        if (peak > stored.load(std::memory_order_relaxed)) stored.store(peak, std::memory_order_relaxed);
    }
}

void ProcessTap::deliverPair(std::span<const AudioBuffer> input, int first) {
    if (source_.kind == Source::Kind::automatic) raisePairPeaks(input, first);
    const int pairs = pairCount_.load(std::memory_order_relaxed);
    const int p = std::min(pairs - 1, activePair_.load(std::memory_order_relaxed));
    if (p < 0) return;
    const Pair pair = pairMap_[static_cast<std::size_t>(p)];
    const auto index = static_cast<std::size_t>(first + pair.buffer);
    if (index >= input.size()) return;
    const AudioBuffer& buffer = input[index];
    const std::size_t stride = strideOf(buffer);
    const std::size_t frames = framesIn(buffer, stride);
    const auto channel = static_cast<std::size_t>(pair.channel);
    if (frames == 0 || channel + 1 >= stride) return;
    growScratch(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        scratchL_[i] = buffer.data[i * stride + channel];
        scratchR_[i] = buffer.data[i * stride + channel + 1];
    }
    handler_(scratchL_.data(), scratchR_.data(), static_cast<int>(frames));
}

}  // namespace crestline
