#include "analysis/audio_engine.h"

#include <cassert>

#include "analysis/block_handler.h"
#include "platform/app_identity.h"
#include "settings/settings.h"

namespace crestline {
namespace {

bool carriesSignal(const float* left, const float* right, int frames) {
    for (int i = 0; i < frames; ++i) {
        if (left[i] != 0.0f || right[i] != 0.0f) return true;
    }
    return false;
}

}  // namespace

AudioEngine::AudioEngine(const Clock& clock) : clock_(clock), attachWorker_(queueLabel(".attach")) {
    spectrogram_.setChannel(Settings::shared().spectrogramChannel());
    spectrogram_.start(scope_);
}

AudioEngine::~AudioEngine() {
    attachWorker_.stop();  // a preparation under way ends within its deadline
    detach();
    spectrogram_.stop();
}

void AudioEngine::attach(std::int32_t pid, ProcessTap::Mode mode, ProcessTap::Source source) {
    detach();
    attach(prepareTap(pid, mode, source));
}

std::shared_ptr<ProcessTap> AudioEngine::prepareTap(std::int32_t pid, ProcessTap::Mode mode, ProcessTap::Source source) {
    auto tap = std::make_shared<ProcessTap>(pid, mode, source);
    tap->prepare();
    return tap;
}

void AudioEngine::attach(std::shared_ptr<ProcessTap> prepared) {
    // Never two taps feeding the analysers, not even for a moment.
    detach();
    if (!prepared) {
        assert(!"attach without a prepared tap");
        return;
    }
    // Nothing feeds the analysers now; each takes its own lock.
    scope_.configure(prepared->sampleRate());
    meter_.configure(prepared->sampleRate());
    prepared->start([this, block = BlockHandler(meter_, peaks_, &scope_)](const float* left, const float* right,
                                                                         int frames) mutable {
        block(left, right, frames);
        // Costs one relaxed load per block while nobody sleeps.
        if (wakeArmed_.load(std::memory_order_relaxed) && wake_ && carriesSignal(left, right, frames) &&
            wakeArmed_.exchange(false, std::memory_order_relaxed)) {
            wake_();
        }
    });
    tap_ = std::move(prepared);
    attachedAt_ = clock_.now();
}

void AudioEngine::beginAttach(std::int32_t pid, ProcessTap::Mode mode, ProcessTap::Source source,
                              std::function<void()> ready) {
    std::uint64_t generation = 0;
    {
        std::scoped_lock lock(pendingMutex_);
        generation = ++attachGeneration_;
        pending_ = true;
        prepared_.reset();
        attachError_ = nullptr;
    }
    attachWorker_.async([this, generation, pid, mode, source, ready = std::move(ready)] {
        std::shared_ptr<ProcessTap> tap;
        std::exception_ptr error;
        try {
            tap = prepareTap(pid, mode, source);
        } catch (const CoreAudioError&) {
            error = std::current_exception();
        }
        {
            std::scoped_lock lock(pendingMutex_);
            if (generation != attachGeneration_) return;  // superseded; the tap closes here, off the main thread
            prepared_ = std::move(tap);
            attachError_ = error;
        }
        if (ready) ready();
    });
}

bool AudioEngine::finishAttach() {
    std::shared_ptr<ProcessTap> tap;
    std::exception_ptr error;
    {
        std::scoped_lock lock(pendingMutex_);
        if (!prepared_ && !attachError_) return false;
        tap = std::move(prepared_);
        error = attachError_;
        prepared_.reset();
        attachError_ = nullptr;
        pending_ = false;
    }
    if (error) {
        detach();
        std::rethrow_exception(error);
    }
    attach(std::move(tap));
    return true;
}

bool AudioEngine::attachPending() const {
    std::scoped_lock lock(pendingMutex_);
    return pending_;
}

void AudioEngine::detach() {
    if (!tap_) return;
    tap_->stop();
    tap_.reset();
}

std::optional<double> AudioEngine::liveSampleRate() const {
    if (!tap_) return std::nullopt;
    return tap_->liveSampleRate();
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
