// The meter's entry for files of more than two channels. Each channel gets
// its own weighting and true-peak detector; per frame the weighted squares
// are summed with the channels' BS.1770 weights, and from there the block
// walk is the stereo one (steps, hops, gating, range, history).
#include <algorithm>
#include <cassert>
#include <cmath>

#include "analysis/loudness_meter.h"

namespace crestline {
namespace {

using Double2 = double __attribute__((vector_size(16)));  // two channels of one frame

// energy[i] += wa·ka² + wb·kb² with ka, kb the weighted samples of x and y;
// the two channels share a vector register, as in the stereo path.
void addWeightedPair(KWeighting& a, KWeighting& b, double wa, double wb, const float* x, const float* y, int frames,
                     double* energy) {
    const Biquad &as = a.shelf, &bs = b.shelf, &ah = a.highpass, &bh = b.highpass;
    const Double2 sb0{as.b0, bs.b0}, sb1{as.b1, bs.b1}, sb2{as.b2, bs.b2}, sa1{as.a1, bs.a1}, sa2{as.a2, bs.a2};
    const Double2 hb0{ah.b0, bh.b0}, hb1{ah.b1, bh.b1}, hb2{ah.b2, bh.b2}, ha1{ah.a1, bh.a1}, ha2{ah.a2, bh.a2};
    const Double2 w{wa, wb};
    Double2 sz1{as.z1, bs.z1}, sz2{as.z2, bs.z2}, hz1{ah.z1, bh.z1}, hz2{ah.z2, bh.z2};
    for (int i = 0; i < frames; ++i) {
        const Double2 in{static_cast<double>(x[i]), static_cast<double>(y[i])};
        const Double2 s = sb0 * in + sz1;
        sz1 = sz2 + (sb1 * in - sa1 * s);
        sz2 = sb2 * in - sa2 * s;
        const Double2 k = hb0 * s + hz1;
        hz1 = hz2 + (hb1 * s - ha1 * k);
        hz2 = hb2 * s - ha2 * k;
        const Double2 sq = w * (k * k);
        energy[i] += sq[0] + sq[1];
    }
    a.shelf.z1 = sz1[0];
    a.shelf.z2 = sz2[0];
    b.shelf.z1 = sz1[1];
    b.shelf.z2 = sz2[1];
    a.highpass.z1 = hz1[0];
    a.highpass.z2 = hz2[0];
    b.highpass.z1 = hz1[1];
    b.highpass.z2 = hz2[1];
}

void addWeighted(KWeighting& k, double w, const float* x, int frames, double* energy) {
    for (int i = 0; i < frames; ++i) {
        const double y = k.process(static_cast<double>(x[i]));
        energy[i] += w * (y * y);
    }
}

}  // namespace

bool LoudnessMeter::configureChannels(double sampleRate, std::span<const double> weights, int left, int right) {
    const int count = static_cast<int>(weights.size());
    if (count < 1 || count > kMaxChannels || left < -1 || left >= count || right < -1 || right >= count) return false;
    for (double w : weights) {
        if (!std::isfinite(w) || w < 0.0) return false;
    }
    if (!configure(sampleRate)) return false;
    std::scoped_lock lock(filterMutex_, mutex_);
    channels_.assign(weights.size(), WeightedChannel{});
    for (std::size_t c = 0; c < weights.size(); ++c) {
        channels_[c].weighting = KWeighting(sampleRate);
        channels_[c].weight = weights[c];
    }
    correlationLeft_ = left;
    correlationRight_ = right;
    silentScratch_.assign(kChunk, 0.0f);
    return true;
}

void LoudnessMeter::processChannels(const float* const* channels, int frames) {
    if (frames < 1) {
        assert(frames == 0 && "negative frame count");
        return;
    }
    // As for stereo: filtered outside the meter's lock, folded in under it.
    std::scoped_lock filters(filterMutex_);
    if (channels_.empty()) {
        assert(!"processChannels before configureChannels");
        return;
    }
    // Without a front pair the sums stay 0 and the correlation undefined.
    const bool pair = correlationLeft_ >= 0 && correlationRight_ >= 0;
    for (int done = 0; done < frames; done += kChunk) {
        const int n = std::min(kChunk, frames - done);
        filterChannelsChunk(channels, done, n);
        std::scoped_lock lock(mutex_);
        processChunkLocked(pair ? channels[correlationLeft_] + done : silentScratch_.data(),
                           pair ? channels[correlationRight_] + done : silentScratch_.data(), n);
    }
    for (WeightedChannel& channel : channels_) channel.weighting.mendState();
}

void LoudnessMeter::filterChannelsChunk(const float* const* channels, int offset, int frames) {
    double* const energy = energyScratch_.data();
    std::fill(energy, energy + frames, 0.0);
    // Weighted channels two at a time; the LFE (weight 0) is never filtered.
    WeightedChannel* pending = nullptr;
    const float* pendingSamples = nullptr;
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        WeightedChannel& channel = channels_[c];
        if (channel.weight == 0.0) continue;
        const float* samples = channels[c] + offset;
        if (pending == nullptr) {
            pending = &channel;
            pendingSamples = samples;
            continue;
        }
        addWeightedPair(pending->weighting, channel.weighting, pending->weight, channel.weight, pendingSamples, samples,
                        frames, energy);
        pending = nullptr;
    }
    if (pending != nullptr) addWeighted(pending->weighting, pending->weight, pendingSamples, frames, energy);

    // The true peak of a frame is the largest over every channel, the LFE
    // included; the walk reads it from both sides' scratch.
    float* const tpMax = peakScratchLeft_.data();
    float* const tp = peakScratchRight_.data();
    channels_[0].truePeak.pushBlock(channels[0] + offset, frames, tpMax);
    for (std::size_t c = 1; c < channels_.size(); ++c) {
        channels_[c].truePeak.pushBlock(channels[c] + offset, frames, tp);
        for (int i = 0; i < frames; ++i) tpMax[i] = tpMax[i] < tp[i] ? tp[i] : tpMax[i];
    }
    std::copy(tpMax, tpMax + frames, tp);
}

}  // namespace crestline
