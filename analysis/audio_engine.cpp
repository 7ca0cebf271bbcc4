#include "analysis/audio_engine.h"

#include <cmath>

#include "analysis/block_handler.h"
#include "settings/settings.h"

namespace crestline {

AudioEngine::AudioEngine(const Clock& clock) : clock_(clock) {
    spectrogram_.setChannel(Settings::shared().spectrogramChannel());
    spectrogram_.start(scope_);
}

AudioEngine::~AudioEngine() {
    detach();
    spectrogram_.stop();
}

void AudioEngine::attach(std::int32_t pid, ProcessTap::Mode mode, ProcessTap::Source source) {
    // Never two taps feeding the analysers, not even for a moment.
    detach();
    auto tap = std::make_shared<ProcessTap>(pid, mode, source);
    tap->prepare();
    // Nothing feeds the analysers now; each takes its own lock.
    scope_.configure(tap->sampleRate());
    meter_.configure(tap->sampleRate());
    tap->start(BlockHandler(meter_, peaks_, &scope_));
    tap_ = std::move(tap);
    attachedAt_ = clock_.now();
}

void AudioEngine::detach() {
    if (!tap_) return;
    tap_->stop();
    tap_.reset();
}

std::optional<double> AudioEngine::liveSampleRate() const {
    if (!tap_ || tap_->tapIDs().empty() || tap_->tapIDs().front() == kAudioObjectUnknown) return std::nullopt;
    try {
        const double rate =
            CA::read(tap_->tapIDs().front(), kAudioTapPropertyFormat, AudioStreamBasicDescription{}).mSampleRate;
        if (rate > 0.0 && std::isfinite(rate)) return rate;
    } catch (const CoreAudioError&) {
    }
    return std::nullopt;
}

void AudioEngine::resetShortTerm() {
    meter_.withLock([](LoudnessMeter& meter) { meter.resetShortTermLocked(); });
}

void AudioEngine::resetIntegrated() {
    meter_.withLock([](LoudnessMeter& meter) { meter.resetIntegratedLocked(); });
}

void AudioEngine::resetTruePeak() {
    meter_.withLock([](LoudnessMeter& meter) { meter.resetTruePeakLocked(); });
}

void AudioEngine::resetHistory() {
    meter_.withLock([](LoudnessMeter& meter) { meter.resetHistoryLocked(); });
    spectrogram_.resetHistory();
}

void AudioEngine::resetMeter() {
    meter_.withLock([](LoudnessMeter& meter) {
        meter.resetShortTermLocked();
        meter.resetIntegratedLocked();
        meter.resetTruePeakLocked();
    });
}

}  // namespace crestline
