#include "platform/clock.h"

#include <time.h>

namespace crestline {
namespace {

class SystemClock final : public Clock {
public:
    double now() const override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }
    std::chrono::system_clock::time_point date() const override {
        return std::chrono::system_clock::now();
    }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

// The fake's wall clock starts at a fixed, recognisable date
// (2026-01-01 00:00:00 UTC) so file-date tests do not depend on today.
FakeClock::FakeClock(double startSeconds)
    : now_(startSeconds),
      start_(startSeconds),
      startDate_(std::chrono::system_clock::time_point(std::chrono::seconds(1767225600))) {}

double FakeClock::now() const { return now_.load(std::memory_order_relaxed); }

std::chrono::system_clock::time_point FakeClock::date() const {
    const double elapsed = now() - start_;
    return startDate_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                            std::chrono::duration<double>(elapsed));
}

void FakeClock::advance(double seconds) {
    double current = now_.load(std::memory_order_relaxed);
    while (!now_.compare_exchange_weak(current, current + seconds, std::memory_order_relaxed)) {
    }
}

void FakeClock::set(double seconds) { now_.store(seconds, std::memory_order_relaxed); }

}  // namespace crestline
