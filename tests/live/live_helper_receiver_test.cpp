#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "live/live_helper_receiver.h"
#include "platform/log.h"
#include "platform/udp_socket.h"

using namespace crestline;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// What the handler saw, on which queue. Waiting is for real datagrams on
// the loopback interface, so it is bounded by a generous deadline.
class Inbox {
public:
    void operator()(const json& message) {
        std::scoped_lock held(mutex_);
        messages_.push_back(message);
        labels_.push_back(SerialQueue::currentLabel());
        arrived_.notify_all();
    }

    bool waitFor(std::size_t count, std::chrono::seconds deadline = 10s) {
        std::unique_lock held(mutex_);
        return arrived_.wait_for(held, deadline, [&] { return messages_.size() >= count; });
    }

    std::vector<json> messages() const {
        std::scoped_lock held(mutex_);
        return messages_;
    }
    std::vector<std::string> labels() const {
        std::scoped_lock held(mutex_);
        return labels_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<json> messages_;
    std::vector<std::string> labels_;
};

class Sender {
public:
    explicit Sender(std::uint16_t port) : port_(port), socket_(UdpSocket::openSender()) {}
    bool send(const std::string& text) const { return socket_.sendTo(port_, bytesOf(text)); }

private:
    std::uint16_t port_;
    UdpSocket socket_;
};

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// --- Decoding ---------------------------------------------------------------

TEST(LiveHelperDecode, OnlyOneJsonObjectOfModestNestingIsAMessage) {
    const auto decoded = LiveHelperReceiver::decode(bytesOf(R"({"type":"position","beat":2.5,"playing":true})"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ((*decoded)["beat"], 2.5);
    EXPECT_TRUE(LiveHelperReceiver::decode(bytesOf("{}")));
    EXPECT_TRUE(LiveHelperReceiver::decode(bytesOf(" {\"a\":\"[[[[{{{{\\\"]]\"} \n")));  // brackets in strings do not nest
    EXPECT_TRUE(LiveHelperReceiver::decode(bytesOf("{\"name\":\"Caf\xC3\xA9\"}")));

    const std::vector<std::string> garbage{
        "", "[1,2]", "42", "\"text\"", "null", "true", "{", "}", "{\"a\":1,}", "{'a':1}", "{\"a\":1} {}",
        "{\"a\":1}x", "{\"a\":01}", "{\"a\":NaN}", "{\"a\":Infinity}", "{a:1}", "{\"a\"}", "{\"a\":1 /* c */}",
        std::string("{\"a\":\"\xFF\xFE\"}"), std::string("{\"a\":\"\xC3\"}"), std::string("\xFF{}"),
        std::string("{\"a\":\"x\0y\"}", 12), std::string("{\0}", 3), "]{}[", "{\"a\":\"unterminated}"};
    for (const auto& text : garbage) EXPECT_FALSE(LiveHelperReceiver::decode(bytesOf(text))) << text;

    const std::string message = R"({"type":"locators","locators":[[0,"Intro"],[32,"Drop"]],"numerator":7,"denominator":8})";
    for (std::size_t length = 0; length < message.size(); ++length) {
        EXPECT_FALSE(LiveHelperReceiver::decode(bytesOf(message.substr(0, length)))) << length;
    }
}

TEST(LiveHelperDecode, NestingIsCappedBeforeParsing) {
    auto nested = [](int depth) {
        std::string text = "{\"a\":";
        for (int i = 1; i < depth; ++i) text += "[";
        text += "0";
        for (int i = 1; i < depth; ++i) text += "]";
        return text + "}";
    };
    EXPECT_TRUE(LiveHelperReceiver::decode(bytesOf(nested(LiveHelperReceiver::kMaxNesting))));
    EXPECT_FALSE(LiveHelperReceiver::decode(bytesOf(nested(LiveHelperReceiver::kMaxNesting + 1))));
    EXPECT_FALSE(LiveHelperReceiver::decode(bytesOf(std::string(50000, '['))));
    EXPECT_FALSE(LiveHelperReceiver::decode(bytesOf("{\"a\":" + std::string(65000, '{'))));
}

// --- Over the loopback interface ----------------------------------------------

TEST(LiveHelperReceiver, DeliversObjectsInOrderOnItsQueueAndDropsEverythingElse) {
    Inbox inbox;
    LiveHelperReceiver receiver(std::ref(inbox), 0);
    receiver.start();
    ASSERT_TRUE(receiver.isStarted());
    ASSERT_NE(receiver.port(), 0);
    Sender sender(receiver.port());

    const std::vector<std::string> dropped{"[1,2]", "42", "\xFF\xFE", "{\"a\":\"\xC0\xAF\"}", std::string(50000, '['),
                                           "", "{\"type\":"};
    for (const auto& text : dropped) ASSERT_TRUE(sender.send(text));
    for (const auto& text : {"{}", R"({"type":"position","beat":1})", R"({"type":"hello","n":[1,{"x":null}]})"}) {
        ASSERT_TRUE(sender.send(text));
    }
    ASSERT_TRUE(inbox.waitFor(3));
    const auto messages = inbox.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], json::object());
    EXPECT_EQ(messages[1]["type"], "position");
    EXPECT_EQ(messages[2]["n"][1]["x"], nullptr);
    for (const auto& label : inbox.labels()) EXPECT_EQ(label, "app.crestline.Crestline.helper");
    const auto stats = receiver.statistics();
    EXPECT_EQ(stats.delivered, 3u);
    EXPECT_EQ(stats.dropped, dropped.size());
    receiver.stop();
    EXPECT_FALSE(receiver.isStarted());
}

TEST(LiveHelperReceiver, DatagramsQueuedBehindABusyHandlerAllArriveInOneRead) {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    Inbox inbox;
    LiveHelperReceiver receiver(
        [&](const json& message) {
            if (message.value("type", "") == "gate") {
                std::unique_lock held(mutex);
                entered = true;
                changed.notify_all();
                changed.wait(held, [&] { return released; });
            }
            inbox(message);
        },
        0);
    receiver.start();
    Sender sender(receiver.port());
    ASSERT_TRUE(sender.send(R"({"type":"gate"})"));
    {
        std::unique_lock held(mutex);
        ASSERT_TRUE(changed.wait_for(held, 10s, [&] { return entered; }));
    }
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(sender.send(json{{"type", "n"}, {"n", i}}.dump()));
    {
        std::scoped_lock held(mutex);
        released = true;
    }
    changed.notify_all();
    ASSERT_TRUE(inbox.waitFor(21));
    const auto messages = inbox.messages();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(messages[static_cast<std::size_t>(i) + 1]["n"], i);
    EXPECT_EQ(receiver.statistics().reads, 1u);
}

TEST(LiveHelperReceiver, ASecondReceiverOnTheSamePortLogsAndStaysStopped) {
    Inbox inbox;
    LiveHelperReceiver first(std::ref(inbox), 0);
    first.start();
    const std::uint16_t port = first.port();

    LogCapture log;
    LiveHelperReceiver second([](const json&) {}, port);
    second.start();
    EXPECT_FALSE(second.isStarted());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Crestline: poort " + std::to_string(port) + " voor de Live Helper is bezet"});

    // The first one keeps working, and starting it again changes nothing.
    first.start();
    EXPECT_EQ(first.port(), port);
    ASSERT_TRUE(Sender(port).send("{}"));
    EXPECT_TRUE(inbox.waitFor(1));
    EXPECT_EQ(first.statistics().delivered, 1u);
}

TEST(LiveHelperReceiver, TheDefaultPortIs47811) {
    // Held here so the receiver's bind must fail, whoever else runs.
    UdpSocket blocker = UdpSocket::bindLoopback(47811);
    LogCapture log;
    LiveHelperReceiver receiver([](const json&) {});
    EXPECT_EQ(receiver.port(), 47811);
    receiver.start();
    EXPECT_FALSE(receiver.isStarted());
    EXPECT_TRUE(log.contains("Crestline: poort 47811 voor de Live Helper is bezet"));
}

TEST(LiveHelperReceiver, StopWaitsForTheRunningHandlerAndDeliversNothingAfterwards) {
    std::atomic<bool> inHandler{false};
    std::atomic<int> calls{0};
    LiveHelperReceiver receiver(
        [&](const json&) {
            inHandler = true;
            ++calls;
            std::this_thread::sleep_for(50ms);  // a slow handler, not a wait for logic
            inHandler = false;
        },
        0);
    receiver.start();
    const std::uint16_t port = receiver.port();
    Sender sender(port);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(sender.send("{}"));
    while (calls == 0) std::this_thread::yield();
    receiver.stop();
    EXPECT_FALSE(inHandler);
    const int after = calls;
    EXPECT_LT(after, 5);  // the drain stops between datagrams
    sender.send("{}");
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(calls, after);

    // A stopped receiver can start again.
    receiver.start();
    EXPECT_TRUE(receiver.isStarted());
}

TEST(LiveHelperReceiver, AFloodLeavesMemoryBoundedAndTheReceiverAlive) {
    std::atomic<std::uint64_t> seen{0};
    LiveHelperReceiver receiver([&](const json&) { ++seen; }, 0);
    receiver.start();
    Sender sender(receiver.port());
    const std::size_t before = residentBytes();
    const std::string payload = R"({"type":"position","beat":12.5,"playing":true,"pad":")" + std::string(200, 'x') + "\"}";
    for (int i = 0; i < 100000; ++i) sender.send(payload);  // the kernel drops what the socket cannot hold
    const std::size_t grown = residentBytes() - std::min(before, residentBytes());
#if defined(__SANITIZE_ADDRESS__)
    const std::size_t bound = 512u << 20;  // the sanitiser's quarantine keeps freed blocks
#else
    const std::size_t bound = 32u << 20;
#endif
    EXPECT_LT(grown, bound);

    // Alive: a marker sent after the flood comes through.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    std::uint64_t marker = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        marker = seen.load();
        sender.send("{}");
        std::this_thread::sleep_for(10ms);
        if (seen.load() > marker && receiver.statistics().reads > 0) break;
    }
    EXPECT_GT(seen.load(), marker);
    const auto stats = receiver.statistics();
    EXPECT_LE(stats.delivered + stats.dropped, stats.reads * LiveHelperReceiver::kMaxDatagramsPerRead);
    EXPECT_TRUE(receiver.isStarted());
}

}  // namespace
