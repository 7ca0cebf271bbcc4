#include "platform/timer_source.h"

#include <algorithm>
#include <chrono>

namespace crestline {

// Shared with tasks already posted to the queue, which may outlive a
// cancelled timer's thread by a moment.
struct TimerSource::State {
    std::mutex mutex;
    std::condition_variable wake;
    bool running = false;
    bool cancelled = false;
    bool pending = false;  // a fire is queued and has not run yet
    std::function<void()> handler;
};

TimerSource::TimerSource(SerialQueue& queue, double intervalSeconds, double leewaySeconds,
                         std::function<void()> handler)
    : queue_(queue),
      interval_(std::max(intervalSeconds, 0.001)),
      leeway_(std::max(leewaySeconds, 0.0)),
      state_(std::make_shared<State>()) {
    state_->handler = std::move(handler);
}

TimerSource::~TimerSource() { cancel(); }

void TimerSource::start() {
    {
        std::scoped_lock lock(state_->mutex);
        if (state_->running || state_->cancelled) return;
        state_->running = true;
        // The first fire is queued here rather than by the ticker, so that a
        // `drain()` of the queue right after `start()` has seen it run.
        postLocked();
    }
    ticker_ = std::thread([this] { tick(); });
}

void TimerSource::postLocked() {
    if (state_->pending) return;  // late fires are skipped, never bunched
    state_->pending = true;
    std::weak_ptr<State> weak = state_;
    queue_.async([weak] {
        auto state = weak.lock();
        if (!state) return;
        std::function<void()> handler;
        {
            std::scoped_lock inner(state->mutex);
            state->pending = false;
            if (state->cancelled) return;
            handler = state->handler;
        }
        handler();
    });
}

bool TimerSource::isRunning() const {
    std::scoped_lock lock(state_->mutex);
    return state_->running && !state_->cancelled;
}

void TimerSource::tick() {
    using clock = std::chrono::steady_clock;
    const auto interval = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(interval_));
    const auto leeway = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(leeway_));
    auto deadline = clock::now() + interval;
    std::unique_lock lock(state_->mutex);
    for (;;) {
        state_->wake.wait_until(lock, deadline, [this] { return state_->cancelled; });
        if (state_->cancelled) return;
        const auto now = clock::now();
        if (now + leeway < deadline) continue;  // woken early
        postLocked();
        deadline += interval;
        if (deadline < now) {
            const auto missed = (now - deadline) / interval + 1;
            deadline += missed * interval;
        }
    }
}

void TimerSource::cancel() {
    {
        std::scoped_lock lock(state_->mutex);
        state_->cancelled = true;
    }
    state_->wake.notify_all();
    if (ticker_.joinable() && ticker_.get_id() != std::this_thread::get_id()) ticker_.join();
    // Wait out a handler that is running now; queued fires see `cancelled`.
    if (!queue_.isCurrent()) queue_.drain();
}

}  // namespace crestline
