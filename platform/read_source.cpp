#include "platform/read_source.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdint>

namespace crestline {

ReadSource::ReadSource(int fd, SerialQueue& queue, std::function<void()> handler)
    : fd_(fd), queue_(queue), handler_(std::move(handler)) {}

ReadSource::~ReadSource() {
    cancel();
    if (wake_ >= 0) ::close(wake_);
}

bool ReadSource::resume() {
    if (thread_.joinable() || isCancelled() || fd_ < 0) return false;
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) return false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void ReadSource::cancel() {
    if (queue_.isCurrent()) {
        // The poll thread waits for this very handler: joining would hang.
        assert(!"ReadSource cancelled from its own handler");
        cancelled_.store(true, std::memory_order_release);
        return;
    }
    if (!cancelled_.exchange(true, std::memory_order_acq_rel) && wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
}

void ReadSource::run() {
    pthread_setname_np(pthread_self(), "read source");
    pollfd watched[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    while (!isCancelled()) {
        watched[0].revents = 0;
        watched[1].revents = 0;
        const int ready = ::poll(watched, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[1].revents != 0 || isCancelled()) return;
        if (watched[0].revents & POLLNVAL) return;  // the descriptor was closed under us
        if (watched[0].revents == 0) continue;
        // Errors are readable too: the handler's receive clears them.
        if (!queue_.sync([this] {
                if (!isCancelled()) handler_();
            })) {
            return;  // the queue was stopped
        }
    }
}

}  // namespace crestline
