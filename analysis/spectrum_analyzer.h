// A smoothed power spectrum of the newest audio of a scope buffer, in dB.
//
// Each update copies the newest stretch of the buffer (at least 160 ms, a
// power of two of at least 4096 samples), applies a periodic Blackman-Harris
// window, zero-pads by `padding`, runs a real FFT and turns every bin into a
// level that rises at once and falls by at most `releasePerSecond` dB per
// second (infinite: no smoothing), with an optional peak hold. A sine of
// amplitude A centred on a bin reads 20·log10(A) in that bin in every channel
// mode that carries it at full level; empty bins read −200.
//
// No lock: an instance belongs to one thread (the bar view's on the main
// thread, a spectrogram recorder's on its queue). The scope buffer is read
// through its own lock. Buffers and the FFT plan are made when the rate
// changes; an update at an unchanged rate allocates nothing.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "settings/module_options.h"  // SpectrumChannel
#include "platform/clock.h"

namespace crestline {

class RealFft;
class ScopeBuffer;

class SpectrumAnalyzer {
public:
    static constexpr float kFloorDb = -200.0f;  // level of an empty bin
    static constexpr int kMaxPadding = 16;

    // `padding` is clamped to 1…16. The clock supplies the time between
    // updates for the release.
    SpectrumAnalyzer(float releasePerSecond, int padding, const Clock& clock = systemClock());
    ~SpectrumAnalyzer();
    SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
    SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

    // Prepares for the buffer's rate if it changed, then analyses its newest
    // `size()` frames. A rate outside 8 kHz…768 kHz leaves everything as it was.
    void update(const ScopeBuffer& scope);

    // The highest level in dB of the bins between two frequencies in Hz (a
    // Catmull-Rom interpolation for a band narrower than one bin), plus `tilt`
    // dB per octave pivoting at 1 kHz, taken at the band's geometric centre.
    // −200 before the first update.
    float level(double from, double to, double tilt) const;

    // The frequency in Hz of the highest bin within a semitone of `near`,
    // refined by a parabola through it and its neighbours; reads the held
    // curve while holding. `near` itself when there is nothing to find.
    double peakFrequency(double near) const;

    SpectrumChannel channel() const { return channel_; }
    void setChannel(SpectrumChannel channel) { channel_ = channel; }

    // Switching the hold on or off starts the held curve afresh from the
    // current levels.
    bool holding() const { return holding_; }
    void setHolding(bool on);

    int size() const { return size_; }        // analysed samples, 0 until prepared
    int fftSize() const { return fftSize_; }  // size × padding
    int padding() const { return padding_; }
    double sampleRate() const { return sampleRate_; }
    double binWidth() const;  // Hz per bin, 0 until prepared

    // Bin k stands for k · sampleRate / fftSize; fftSize/2 bins.
    std::span<const float> levels() const { return levels_; }
    std::span<const float> held() const { return held_; }

private:
    void prepare(double sampleRate);
    void transform(const std::vector<float>& samples);

    const Clock& clock_;
    int size_ = 0;
    const int padding_;
    int fftSize_ = 0;
    std::unique_ptr<RealFft> fft_;  // its input holds the windowed, zero-padded samples
    std::vector<float> window_;
    float scale_ = 1.0f;  // 1 / Σ window
    double sampleRate_ = 48000.0;
    std::vector<float> left_, right_;  // the newest samples of the scope
    std::vector<float> power_;  // Σ |bin|² over the transformed channels
    std::vector<float> levels_;
    bool holding_ = false;
    std::vector<float> held_;
    double lastUpdate_ = 0.0;  // clock seconds of the previous update; 0 = none
    const float releasePerSecond_;
    SpectrumChannel channel_ = SpectrumChannel::stereo;
};

}  // namespace crestline
