// Time sources. The logic never reads a clock of its own: it is handed a
// `Clock`, so tests advance a `FakeClock` instead of sleeping.
// `now()` is monotonic host time in seconds (the media clock of transport
// samples and hold timers); `date()` is the wall clock for file dates and
// records that outlive the process.
#pragma once

#include <atomic>
#include <chrono>

namespace crestline {

class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
    virtual std::chrono::system_clock::time_point date() const = 0;
};

// CLOCK_MONOTONIC and the system clock. Thread-safe; one per process.
Clock& systemClock();

// A clock that moves only when told. Any thread may read it while the test
// thread advances it.
class FakeClock final : public Clock {
public:
    explicit FakeClock(double startSeconds = 1000.0);

    double now() const override;
    std::chrono::system_clock::time_point date() const override;

    void advance(double seconds);
    void set(double seconds);

private:
    // Writer: the test thread; readers: any thread; relaxed is enough because
    // nothing else is published through it.
    std::atomic<double> now_;
    const double start_;
    const std::chrono::system_clock::time_point startDate_;
};

}  // namespace crestline
