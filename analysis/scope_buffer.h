// The recent raw stereo signal, for everything that draws waveforms or
// analyses spectra: rings of the newest left, right and trigger samples
// (oscilloscope, imager, spectrum, spectrogram), and a five-minute overview
// ring of 64-frame chunks, each summarised by the minimum and maximum of left,
// right, mid and side and the RMS of a low, mid and high band (the scope's
// history and beat-synced views, and its band colouring).
//
// Threads: `write` on the capture queue; the copies from the main thread and
// the spectrogram queue. Every operation takes the buffer's own mutex for its
// whole duration and no caller ever holds it, so it can never be taken twice.
//
// Memory is fixed at construction (3 × capacity floats for the rings and
// 2,475,000 floats for the overview); `write` does constant work per frame
// and allocates nothing.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace crestline {

class ScopeBuffer {
public:
    static constexpr int kEngineCapacity = 262144;    // frames, what the engine asks for
    static constexpr int kOverviewCapacity = 225000;  // chunks: five minutes at 48 kHz
    static constexpr int kChunkFrames = 64;
    static constexpr int kChunkFloats = 11;

    // Where each value sits in an 11-float chunk summary. Mid is (L+R)/2 and
    // side (L−R)/2; the band values are RMS over the chunk.
    struct Chunk {
        static constexpr int minLeft = 0, maxLeft = 1, minRight = 2, maxRight = 3;
        static constexpr int minMid = 4, maxMid = 5, minSide = 6, maxSide = 7;
        static constexpr int lowRms = 8, midRms = 9, highRms = 10;
    };

    // A capacity below 1 becomes 1.
    explicit ScopeBuffer(int capacity = kEngineCapacity);
    ScopeBuffer(const ScopeBuffer&) = delete;
    ScopeBuffer& operator=(const ScopeBuffer&) = delete;

    // Sets the rate and the filter poles for it and clears the trigger
    // filter. Rings, indices, band states and the pending chunk are kept, so
    // audio after a re-attach is drawn next to the older audio. A rate the
    // analysers do not support is ignored.
    void configure(double sampleRate);

    // Appends a block (capture queue). Nothing happens for frames < 1 or a
    // missing channel.
    void write(const float* left, const float* right, int frames);

    // Copies the newest min(count, capacity) frames of the three rings, oldest
    // first, into the front of the three outputs; never more than the
    // shortest output holds. An empty output skips its ring (the spectrum has
    // no use for the trigger). Returns `totalFrames`, the absolute frame
    // number just after the newest copied frame.
    std::uint64_t copyLatest(int count, std::span<float> left, std::span<float> right,
                             std::span<float> trigger) const;

    // Copies the newest min(count, kOverviewCapacity) chunk summaries, oldest
    // first (chunk k at floats 11k…11k+10). An output shorter than that is
    // first replaced by zeros of the right length. Slots never written read as
    // zeros; the returned `totalChunks` tells how many chunks are real.
    std::uint64_t copyOverview(int count, std::vector<float>& out) const;

    // Zeros every stored chunk summary; the chunk count and the chunk being
    // collected stay.
    void clearOverview();

    int capacity() const { return capacity_; }  // fixed at construction
    double rate() const;
    std::uint64_t activity() const;     // written blocks with a non-zero sample
    std::uint64_t totalFrames() const;  // frames written since construction
    std::uint64_t totalChunks() const;  // chunks completed since construction

private:
    void finishChunkLocked();

    const int capacity_;
    mutable std::mutex mutex_;

    std::vector<float> left_;
    std::vector<float> right_;
    std::vector<float> trigger_;  // (L+R)/2 through two one-pole low-pass stages at 150 Hz
    int writeIndex_ = 0;
    float lowpass1_ = 0.0f;
    float lowpass2_ = 0.0f;
    float coefficient_ = 0.98f;  // pole of the trigger low-pass
    double rate_ = 48000.0;      // Hz
    std::uint64_t activity_ = 0;
    std::uint64_t totalFrames_ = 0;

    std::vector<float> overview_;  // kOverviewCapacity × kChunkFloats
    int overviewIndex_ = 0;
    std::uint64_t totalChunks_ = 0;
    std::array<float, kChunkFloats> pending_{};
    int pendingFrames_ = 0;  // 0…63

    // Band filters on the mono signal, single precision throughout.
    float lowA_ = 0.0f, lowB_ = 0.0f;    // low: two low-pass stages at 200 Hz
    float midHpA_ = 0.0f, midHpB_ = 0.0f;  // mid: two high-pass stages at 200 Hz...
    float midLpA_ = 0.0f, midLpB_ = 0.0f;  // ...then two low-pass stages at 2500 Hz
    float highA_ = 0.0f, highB_ = 0.0f;  // high: two high-pass stages at 2500 Hz
    float lowCoefficient_ = 0.974f;      // pole at 200 Hz
    float topCoefficient_ = 0.72f;       // pole at 2500 Hz
    std::array<float, 3> bandEnergy_{};  // Σ squared low, mid, high output in the pending chunk
};

}  // namespace crestline
