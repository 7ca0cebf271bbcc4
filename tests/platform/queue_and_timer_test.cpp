#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/log.h"
#include "platform/serial_queue.h"
#include "platform/timer_source.h"

using namespace crestline;

TEST(SerialQueue, RunsTasksInOrderOnOneThreadWithItsLabelAndSyncFromItselfRunsInline) {
    SerialQueue queue("app.test.audio");
    std::vector<int> order;
    std::string label;
    for (int i = 0; i < 100; ++i) queue.async([&order, i] { order.push_back(i); });
    bool inner = false;
    queue.sync([&] {
        label = SerialQueue::currentLabel();
        queue.sync([&] { inner = true; });  // a dispatch queue would deadlock here
    });
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(label, "app.test.audio");
    EXPECT_EQ(SerialQueue::currentLabel(), "");
    EXPECT_TRUE(inner);
}

TEST(SerialQueue, StopFinishesTheRunningTaskAndDropsTheRest) {
    SerialQueue queue("q");
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::atomic<int> later{0};
    queue.async([&] {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // still running when stop() comes
        finished = true;
    });
    for (int i = 0; i < 10; ++i) queue.async([&] { ++later; });
    while (!started) std::this_thread::yield();
    queue.stop();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(queue.sync([&] { ++later; }));
    queue.async([&] { ++later; });
    EXPECT_EQ(later, 0);
    queue.stop();  // twice is harmless
}

TEST(TimerSource, TheFirstFireIsQueuedBeforeStartReturnsAndCancelWakesTheTicker) {
    SerialQueue queue("timer");
    int fires = 0;  // touched only on the queue and after drain()
    TimerSource timer(queue, 60.0, 0.004, [&] { ++fires; });
    timer.start();
    timer.start();  // a second start changes nothing
    queue.drain();
    EXPECT_EQ(fires, 1);
    EXPECT_TRUE(timer.isRunning());
    timer.cancel();  // wakes the ticker instead of waiting out the minute
    EXPECT_FALSE(timer.isRunning());
    timer.start();  // a cancelled timer stays cancelled
    queue.drain();
    EXPECT_EQ(fires, 1);
}

TEST(TimerSource, RepeatsAndCancelWaitsForARunningHandler) {
    SerialQueue queue("timer");
    std::atomic<int> fires{0};
    std::atomic<bool> inHandler{false};
    TimerSource timer(queue, 0.005, 0.001, [&] {
        inHandler = true;
        ++fires;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        inHandler = false;
    });
    timer.start();
    while (fires < 3) std::this_thread::yield();
    timer.cancel();
    EXPECT_FALSE(inHandler);
    const int after = fires;
    queue.drain();  // a fire queued before the cancel does not run
    EXPECT_EQ(fires, after);
}

TEST(TimerSource, CancelFromItsOwnHandlerStopsLaterFires) {
    SerialQueue queue("timer");
    int fires = 0;  // touched only on the queue and after drain()
    TimerSource* self = nullptr;
    auto timer = std::make_unique<TimerSource>(queue, 0.002, 0.0, [&] {
        ++fires;
        self->cancel();
    });
    self = timer.get();
    timer->start();
    queue.drain();
    EXPECT_EQ(fires, 1);
    EXPECT_FALSE(timer->isRunning());
    timer.reset();
    queue.drain();
    EXPECT_EQ(fires, 1);
}

TEST(Log, CaptureTakesLinesFromEveryThreadAndRestoresTheSink) {
    LogCapture capture;
    std::thread([] { log("Crestline: from another thread"); }).join();
    log("Crestline: samplerate gewijzigd naar 48000");
    EXPECT_EQ(capture.lines().size(), 2u);
    EXPECT_TRUE(capture.contains("gewijzigd"));
    {
        LogCapture inner;
        log("Crestline: inner");
        EXPECT_EQ(inner.count("inner"), 1);
    }
    log("Crestline: outer again");
    EXPECT_EQ(capture.count("outer again"), 1);
    EXPECT_EQ(capture.count("inner"), 0);
}
