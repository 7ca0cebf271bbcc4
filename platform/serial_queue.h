// A serial queue: one worker thread running tasks one at a time, in the order
// they were submitted. It stands in for the labelled dispatch queues of the
// capture, spectrogram, set-reading and helper paths.
//
// `stop()` lets the running task finish, drops the ones still waiting and
// joins the thread; the destructor stops. Owners stop their queues before
// destroying anything the tasks use. After `stop()`, `async` drops the task
// and `sync` returns false without running it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace crestline {

class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    void async(std::function<void()> task);

    // Runs `task` on the queue and waits for it. Called from the queue's own
    // thread it runs inline (a dispatch queue would deadlock instead).
    // Returns false when the queue is stopped and the task did not run.
    bool sync(const std::function<void()>& task);

    // Waits until every task submitted before this call has run.
    void drain();

    void stop();
    bool isStopped() const;

    // True on the queue's worker thread.
    bool isCurrent() const;

    // The label of the queue whose worker is the calling thread, or "".
    static std::string currentLabel();

private:
    void run();

    const std::string label_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread worker_;
    std::thread::id workerId_;
};

}  // namespace crestline
