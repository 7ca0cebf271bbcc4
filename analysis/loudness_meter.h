// Loudness after ITU-R BS.1770 / EBU R128 on a stereo stream: momentary
// (400 ms), short-term (3 s), gated integrated loudness, loudness range,
// true peak with a count of overs, the short-term true-peak maximum,
// correlation, and a ten-minute history of five series.
//
// Threads: `process` runs on the capture thread; `configure`, the resets and
// the auto-reset switch on the main thread; the view reads `reading` and
// `copyHistory` on the main thread. The measurements serialise on one mutex
// that `process` takes only to fold a filtered chunk in, never while it
// filters. Operations named ...Locked expect the caller to hold it (use
// `withLock`).
//
// Cost: constant memory, allocated in the constructor (rings, two 1000-bin
// histograms, 5 x 6000 history floats, block scratch); constant work per
// sample (two biquads per channel, a 48-tap interpolation per channel); per
// 100 ms hop at most two walks over 1000 bins. Gating works on histograms of
// 0.1 LU bins instead of lists of blocks.
#pragma once

#include <array>
#include <mutex>
#include <span>
#include <vector>

#include "analysis/gating_histograms.h"
#include "analysis/history_source.h"
#include "analysis/loudness_filters.h"
#include "analysis/loudness_reading.h"

namespace crestline {

class LoudnessMeter {
public:
    static constexpr double overAmplitude = 0.8912509381337456;  // −1 dBTP, linear
    static constexpr double kMinSampleRate = 8000.0;              // Hz
    static constexpr double kMaxSampleRate = 768000.0;            // Hz
    static constexpr int kHopRing = 30;           // 100 ms hops: 3 s short-term window
    static constexpr int kStepRing = 40;          // 10 ms steps: 400 ms momentary window
    static constexpr int kCorrelationRing = 4;    // hops: 400 ms
    static constexpr int kBins = 1000;            // 0.1 LU from −70 LUFS
    static constexpr int kHistoryLength = 6000;   // hops: ten minutes
    static constexpr int kSilentHopsBeforeReset = 30;  // 3 s
    static constexpr int kHopsPerRangeBlock = 10;      // one loudness-range block per second
    static constexpr int kMinRangeBlocks = 10;

    LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Sets the rate and restarts every measurement except momentary and the
    // short-term peak readings, which keep their values until the next
    // update. Refuses (returns false, changes nothing) a rate that is not
    // finite or lies outside 8,000...768,000 Hz.
    bool configure(double sampleRate);
    double sampleRate() const;

    // One block of `frames` stereo frames. Allocates nothing.
    void process(const float* left, const float* right, int frames);

    LoudnessReading reading() const;

    // Copies the newest min(count, stored) entries of a series, oldest first,
    // into `out` (grown to that size with −∞ if shorter; longer keeps its
    // tail). Returns how many it copied; 0 leaves `out` untouched.
    int copyHistory(int count, HistorySource source, std::vector<float>& out) const;

    bool autoResetEnabled() const;
    void setAutoResetEnabled(bool enabled);

    // Runs `f(*this)` under the meter's lock, for the ...Locked operations
    // (the reset-meter command does four resets in one hold).
    template <class F>
    decltype(auto) withLock(F&& f) {
        std::scoped_lock lock(mutex_);
        return f(*this);
    }

    void resetShortTermLocked();
    void resetIntegratedLocked();  // integrated loudness and loudness range
    void resetTruePeakLocked();    // true peak and overs
    void resetHistoryLocked();
    void resetCorrelationLocked();

    const LoudnessReading& readingLocked() const { return reading_; }

    // The integrated and loudness-range histograms as they stand, for
    // gating several measurements as one programme.
    GatingHistograms gatingHistograms() const;

    // ---- Files of more than two channels (loudness_meter_channels.cpp) ----
    // crestline-meter measures surround files through these; the live bar
    // and stereo files use `configure` and `process` alone.
    static constexpr int kMaxChannels = 8;

    // `configure`, then a weighting and a true-peak detector for each of
    // weights.size() channels. A channel weighs weights[c] in the summed
    // power (BS.1770 Gi; 0 leaves it out of loudness, not out of the true
    // peak). Correlation is read between channels `left` and `right`;
    // without either (−1) it stays undefined. Allocates. False, changing
    // nothing, for a refused rate, a channel count outside 1...kMaxChannels,
    // a negative or non-finite weight or a channel index out of range.
    bool configureChannels(double sampleRate, std::span<const double> weights, int left, int right);

    // One block; channels[c] holds `frames` samples of channel c for each
    // configured channel. Allocates nothing. The true peak is the largest
    // over all channels.
    void processChannels(const float* const* channels, int frames);

private:
    static constexpr int kChunk = 512;  // frames weighted and interpolated per pass

    // Fills the chunk scratch: per-frame summed power and true-peak values.
    // filterMutex_ held.
    void filterChunk(const float* left, const float* right, int frames);
    // Folds the chunk scratch into the measurements; `left` and `right`
    // feed the correlation.
    void processChunkLocked(const float* left, const float* right, int frames);
    void stepEndLocked();
    void hopEndLocked();
    void updateCorrelationLocked();
    void addIntegratedBlockLocked(double power, double loudness);
    void addRangeBlockLocked(double power);
    void seedTruePeakFromBlockLocked();

    // The filters' state and the chunk scratch: `process` holds it for a
    // whole block, `configure` too, taking it before `mutex_`; readers
    // never take it.
    std::mutex filterMutex_;
    mutable std::mutex mutex_;
    double sampleRate_ = 48000.0;
    KWeighting kLeft_, kRight_;               // filterMutex_
    TruePeakDetector peakLeft_, peakRight_;  // history: filterMutex_; peak: mutex_

    int hopLength_ = 4800;  // samples per 100 ms
    int hopPosition_ = 0;
    double hopEnergy_ = 0.0;  // Σ kl² + kr² of the current hop
    std::array<double, kHopRing> hops_{};
    int hopIndex_ = 0;
    int hopsFilled_ = 0;
    int shortTermFilled_ = 0;

    int stepLength_ = 480;  // samples per 10 ms
    int stepPosition_ = 0;
    double stepEnergy_ = 0.0;
    std::array<double, kStepRing> steps_{};
    int stepIndex_ = 0;
    int stepsFilled_ = 0;
    double stepWindowEnergy_ = 0.0;  // running Σ of steps_, re-summed when the ring wraps

    std::array<long long, kBins> binCounts_{};
    std::array<double, kBins> binEnergy_{};
    long long gatedCount_ = 0;
    double gatedEnergy_ = 0.0;
    std::array<long long, kBins> lraCounts_{};
    std::array<double, kBins> lraEnergy_{};
    long long lraTotalCount_ = 0;
    double lraTotalEnergy_ = 0.0;
    int hopsSinceLRASample_ = 0;

    std::array<float, kHopRing> hopPeaks_{};  // linear, same slots as hops_
    float hopPeakCurrent_ = 0.0f;
    // Overs that began in each hop, same slots as hops_: lets the silence
    // auto-reset keep the overs of the block that ended the silence.
    std::array<int, kHopRing> hopOvers_{};
    int hopOversCurrent_ = 0;

    double corLR_ = 0.0, corL2_ = 0.0, corR2_ = 0.0;
    std::array<double, kCorrelationRing> corRingLR_{}, corRingL2_{}, corRingR2_{};
    int corIndex_ = 0;

    std::vector<float> historyValues_;  // short-term
    std::vector<float> historyMomentary_;
    std::vector<float> historyIntegrated_;
    std::vector<float> historyPeak_;  // dBTP of each hop
    std::vector<float> historyPSR_;   // short-term peak − short-term, NaN when undefined
    int historyIndex_ = 0;
    int historyFilled_ = 0;

    bool wasOver_ = false;
    int silentHops_ = 0;
    bool autoResetEnabled_ = true;
    LoudnessReading reading_;

    // Block scratch, sized once: weighted energy and true-peak value per frame.
    std::vector<double> energyScratch_;
    std::vector<float> peakScratchLeft_, peakScratchRight_;

    // Multichannel state, empty until configureChannels; filterChannelsChunk
    // fills the same scratch as filterChunk.
    void filterChannelsChunk(const float* const* channels, int offset, int frames);
    struct WeightedChannel {
        KWeighting weighting;
        TruePeakDetector truePeak;  // its `peak` stays unused: the walk keeps the maximum
        double weight = 1.0;
    };
    std::vector<WeightedChannel> channels_;
    int correlationLeft_ = -1, correlationRight_ = -1;
    std::vector<float> silentScratch_;  // kChunk zeros: the correlation pair when there is none
};

// The loudness-range percentile on a histogram of 0.1 LU bins from −70 LUFS:
// the lower edge of the first bin at or above `start` where the running
// count exceeds floor(total·p); the top bin's edge when the walk runs out.
double rangePercentile(const long long* counts, int start, long long total, double p);

}  // namespace crestline
