#include "platform/serial_queue.h"

#include <pthread.h>

#include <future>

namespace crestline {
namespace {

thread_local const std::string* tCurrentLabel = nullptr;

}  // namespace

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    worker_ = std::thread([this] { run(); });
    std::scoped_lock lock(mutex_);
    workerId_ = worker_.get_id();
}

SerialQueue::~SerialQueue() { stop(); }

void SerialQueue::async(std::function<void()> task) {
    if (!task) return;
    {
        std::scoped_lock lock(mutex_);
        if (stopping_) return;
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

bool SerialQueue::sync(const std::function<void()>& task) {
    if (isCurrent()) {
        if (task) task();
        return true;
    }
    auto done = std::make_shared<std::promise<bool>>();
    auto result = done->get_future();
    {
        std::scoped_lock lock(mutex_);
        if (stopping_) return false;
        tasks_.push_back([done, &task] {
            if (task) task();
            done->set_value(true);
        });
    }
    wake_.notify_one();
    // A task dropped by stop() destroys the promise unfulfilled.
    try {
        return result.get();
    } catch (const std::future_error&) {
        return false;
    }
}

void SerialQueue::drain() { sync({}); }

void SerialQueue::stop() {
    {
        std::scoped_lock lock(mutex_);
        if (stopping_ && !worker_.joinable()) return;
        stopping_ = true;
    }
    wake_.notify_all();
    if (isCurrent()) {
        // Stopped from one of its own tasks: the worker leaves after this
        // task; whoever destroys the queue joins it.
        return;
    }
    if (worker_.joinable()) worker_.join();
    std::deque<std::function<void()>> dropped;
    {
        std::scoped_lock lock(mutex_);
        dropped.swap(tasks_);
    }
}

bool SerialQueue::isStopped() const {
    std::scoped_lock lock(mutex_);
    return stopping_;
}

bool SerialQueue::isCurrent() const {
    std::scoped_lock lock(mutex_);
    return std::this_thread::get_id() == workerId_;
}

std::string SerialQueue::currentLabel() { return tCurrentLabel ? *tCurrentLabel : std::string(); }

void SerialQueue::run() {
    tCurrentLabel = &label_;
    // Thread names are limited to 15 characters; keep the distinctive end.
    std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(pthread_self(), name.c_str());
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) break;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
    tCurrentLabel = nullptr;
}

}  // namespace crestline
