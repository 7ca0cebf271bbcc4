#include "platform/fft.h"

#include <fftw3.h>

#include <mutex>

namespace crestline {
namespace {

// FFTW's planner and its allocator share global state.
std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

RealFft::RealFft(int size) {
    if (size < 2) return;
    std::scoped_lock lock(plannerMutex());
    input_ = fftwf_alloc_real(static_cast<std::size_t>(size));
    fftwf_complex* out = fftwf_alloc_complex(static_cast<std::size_t>(size / 2 + 1));
    // std::complex<float> is layout-compatible with fftwf_complex.
    output_ = reinterpret_cast<std::complex<float>*>(out);
    if (input_ == nullptr || out == nullptr) return;
    for (int i = 0; i < size; ++i) input_[i] = 0.0f;
    plan_ = fftwf_plan_dft_r2c_1d(size, input_, out, FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    if (plan_ != nullptr) size_ = size;
}

RealFft::~RealFft() {
    std::scoped_lock lock(plannerMutex());
    if (plan_ != nullptr) fftwf_destroy_plan(static_cast<fftwf_plan>(plan_));
    fftwf_free(input_);
    fftwf_free(output_);
}

void RealFft::execute() {
    if (plan_ != nullptr) fftwf_execute(static_cast<fftwf_plan>(plan_));
}

}  // namespace crestline
