// Read readiness of a descriptor turned into calls on a serial queue: a
// thread blocked in poll() that, whenever the descriptor is readable, runs
// the handler on the queue and waits for it before polling again, so a
// handler that drains the descriptor is never woken twice for the same data.
//
// `cancel()` wakes the thread through an eventfd, waits for a running
// handler and joins; it must not be called from the handler. The descriptor
// stays with its owner, who closes it after cancelling. The destructor
// cancels.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/serial_queue.h"

namespace crestline {

class ReadSource {
public:
    ReadSource(int fd, SerialQueue& queue, std::function<void()> handler);
    ~ReadSource();
    ReadSource(const ReadSource&) = delete;
    ReadSource& operator=(const ReadSource&) = delete;

    // Starts watching. False when the wake-up descriptor could not be made.
    bool resume();
    void cancel();

    // True once `cancel()` began: long handlers check it between steps.
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

private:
    void run();

    const int fd_;
    SerialQueue& queue_;
    const std::function<void()> handler_;
    int wake_ = -1;  // eventfd written by cancel()
    // Writer: cancel() on the owner's thread; reader: the poll thread and
    // the handler; release/acquire so the reader sees the eventfd write.
    std::atomic<bool> cancelled_{false};
    std::thread thread_;
};

}  // namespace crestline
