// Forward real FFT of one fixed length over FFTW3 (single precision).
//
// The object owns its input and output buffers and its plan is made for
// exactly those buffers (FFTW_ESTIMATE: planning costs microseconds, not a
// measuring run), so `execute` allocates nothing and may run on any thread.
// FFTW's planner is not thread-safe: every plan is created and destroyed
// under one process-wide mutex, so objects may be made and dropped on
// several threads at once.
//
// Output bin k of n/2 + 1 is the plain DFT Σ x[i]·e^(−2πik·i/n), without
// normalisation; the input is left as it was.
#pragma once

#include <complex>
#include <span>

namespace crestline {

class RealFft {
public:
    // `size` must be at least 2; check `valid()` (FFTW may also refuse).
    explicit RealFft(int size);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    bool valid() const { return plan_ != nullptr; }
    int size() const { return size_; }

    std::span<float> input() { return {input_, valid() ? static_cast<std::size_t>(size_) : 0u}; }
    std::span<const std::complex<float>> output() const {
        return {output_, valid() ? static_cast<std::size_t>(size_ / 2 + 1) : 0u};
    }

    // Transforms `input()` into `output()`; does nothing when not valid.
    void execute();

private:
    int size_ = 0;
    float* input_ = nullptr;
    std::complex<float>* output_ = nullptr;
    void* plan_ = nullptr;  // fftwf_plan, kept out of this header
};

}  // namespace crestline
