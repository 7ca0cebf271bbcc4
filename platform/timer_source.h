// A repeating timer whose handler runs on a serial queue: fires once at
// `start()` (queued before `start()` returns), then every `interval` seconds
// on a fixed grid (late fires are skipped, never bunched). `leeway` is the slack the caller allows; we fire
// as close to the deadline as the scheduler lets us and use it only to
// coalesce a fire that is already due.
//
// `cancel()` returns once no handler runs and none will; called from the
// handler itself it only prevents later fires. The destructor cancels.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/serial_queue.h"

namespace crestline {

class TimerSource {
public:
    TimerSource(SerialQueue& queue, double intervalSeconds, double leewaySeconds,
                std::function<void()> handler);
    ~TimerSource();
    TimerSource(const TimerSource&) = delete;
    TimerSource& operator=(const TimerSource&) = delete;

    void start();
    void cancel();
    bool isRunning() const;

private:
    struct State;
    void tick();
    void postLocked();  // queues one fire unless one is waiting; state mutex held

    SerialQueue& queue_;
    const double interval_;
    const double leeway_;
    std::shared_ptr<State> state_;
    std::thread ticker_;
};

}  // namespace crestline
