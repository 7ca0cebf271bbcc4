#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
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

// What the handler saw, on which queue. Real datagrams on the loopback
// interface are waited for with a generous deadline.
struct Inbox {
    void operator()(const json& message) {
        std::scoped_lock held(mutex);
        messages.push_back(message);
        labels.push_back(SerialQueue::currentLabel());
        arrived.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock held(mutex);
        return arrived.wait_for(held, 10s, [&] { return messages.size() >= count; });
    }
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<json> messages;
    std::vector<std::string> labels;
};

struct Sender {
    std::uint16_t port;
    UdpSocket socket = UdpSocket::openSender();
    bool send(const std::string& text) const { return socket.sendTo(port, bytesOf(text)); }
};

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

TEST(LiveHelperDecode, OnlyOneJsonObjectOfModestNestingIsAMessage) {
    EXPECT_EQ(LiveHelperReceiver::decode(bytesOf(R"({"type":"position","beat":2.5})")),
              (json{{"type", "position"}, {"beat", 2.5}}));
    for (const std::string text : {"{}", " {\"a\":\"[[[[{{{{\\\"]]\"} \n", "{\"name\":\"Caf\xC3\xA9\"}"}) {
        EXPECT_TRUE(LiveHelperReceiver::decode(bytesOf(text))) << text;  // brackets in strings do not nest
    }
    const std::string garbage[] = {
        "", "[1,2]", "42", "\"text\"", "null", "true", "{", "}", "{\"a\":1,}", "{'a':1}", "{\"a\":1} {}",
        "{\"a\":1}x", "{\"a\":01}", "{\"a\":NaN}", "{\"a\":Infinity}", "{a:1}", "{\"a\"}", "{\"a\":1 /* c */}",
        "{\"a\":\"\xFF\xFE\"}", "{\"a\":\"\xC3\"}", "\xFF{}", std::string("{\"a\":\"x\0y\"}", 12), std::string("{\0}", 3),
        "]{}[", "{\"a\":\"unterminated}", std::string(50000, '['), "{\"a\":" + std::string(65000, '{')};
    for (const auto& text : garbage) EXPECT_FALSE(LiveHelperReceiver::decode(bytesOf(text))) << text.substr(0, 40);

    const std::string message = R"({"type":"locators","locators":[[0,"Intro"],[32,"Drop"]],"numerator":7})";
    for (std::size_t length = 0; length < message.size(); ++length) {
        EXPECT_FALSE(LiveHelperReceiver::decode(bytesOf(message.substr(0, length)))) << length;
    }
    const auto nested = [](int depth) {
        return "{\"a\":" + std::string(depth - 1, '[') + "0" + std::string(depth - 1, ']') + "}";
    };
    EXPECT_TRUE(LiveHelperReceiver::decode(bytesOf(nested(LiveHelperReceiver::kMaxNesting))));
    EXPECT_FALSE(LiveHelperReceiver::decode(bytesOf(nested(LiveHelperReceiver::kMaxNesting + 1))));
}

TEST(LiveHelperReceiver, QueuedDatagramsArriveInOrderInOneReadWithoutTheGarbageAndTheSecondReceiverStaysStopped) {
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    EXPECT_EQ(LiveHelperReceiver([](const json&) {}).port(), 47811);  // asked for until started
    Inbox inbox;
    LiveHelperReceiver receiver(
        [&](const json& message) {
            if (message.contains("gate")) {
                entered.set_value();
                released.wait();
            }
            inbox(message);
        },
        0);
    receiver.start();
    ASSERT_TRUE(receiver.isStarted());
    const Sender sender{receiver.port()};
    ASSERT_TRUE(sender.send(R"({"gate":1})"));
    ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
    const std::string dropped[] = {"[1,2]", "42", "\xFF\xFE", "{\"a\":\"\xC0\xAF\"}", std::string(50000, '['), "",
                                   "{\"n\":"};
    std::vector<json> expected{{{"gate", 1}}, json::object()};
    ASSERT_TRUE(sender.send("{}"));
    for (std::size_t i = 0; i < 20; ++i) {
        expected.push_back({{"n", i}, {"x", {1, {{"y", nullptr}}}}});
        ASSERT_TRUE(sender.send(expected.back().dump()));
        ASSERT_TRUE(i >= std::size(dropped) || sender.send(dropped[i]));
    }
    release.set_value();
    ASSERT_TRUE(inbox.waitFor(expected.size()));
    EXPECT_EQ(inbox.messages, expected);
    EXPECT_EQ(inbox.labels, std::vector<std::string>(expected.size(), "app.crestline.Crestline.helper"));
    const auto stats = receiver.statistics();
    EXPECT_EQ(stats.reads, 1u);
    EXPECT_EQ(stats.delivered, expected.size());
    EXPECT_EQ(stats.dropped, std::size(dropped));

    // A second receiver on the port logs and stays stopped; the first keeps
    // working, and starting it again changes nothing.
    LogCapture log;
    LiveHelperReceiver second([](const json&) {}, sender.port);
    second.start();
    EXPECT_FALSE(second.isStarted());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Crestline: poort " + std::to_string(sender.port) +
                                                    " voor de Live Helper is bezet"});
    receiver.start();
    EXPECT_EQ(receiver.port(), sender.port);
    ASSERT_TRUE(sender.send("{}"));
    EXPECT_TRUE(inbox.waitFor(expected.size() + 1));
    receiver.stop();
    EXPECT_FALSE(receiver.isStarted());
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
    const Sender sender{receiver.port()};
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(sender.send("{}"));
    while (calls == 0) std::this_thread::yield();
    receiver.stop();
    EXPECT_FALSE(inHandler);
    const int after = calls;
    EXPECT_LT(after, 5);  // the drain stops between datagrams
    sender.send("{}");
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(calls, after);
    receiver.start();  // a stopped receiver can start again
    EXPECT_TRUE(receiver.isStarted());
}

TEST(LiveHelperReceiver, AFloodLeavesMemoryBoundedAndTheReceiverAlive) {
    std::atomic<std::uint64_t> seen{0};
    LiveHelperReceiver receiver([&](const json&) { ++seen; }, 0);
    receiver.start();
    const Sender sender{receiver.port()};
    const std::size_t before = residentBytes();
    const std::string payload = R"({"type":"position","beat":12.5,"playing":true,"pad":")" + std::string(200, 'x') + "\"}";
    for (int i = 0; i < 100000; ++i) sender.send(payload);  // the kernel drops what the socket cannot hold
#if defined(__SANITIZE_ADDRESS__)
    const std::size_t bound = 512u << 20;  // the sanitiser's quarantine keeps freed blocks
#else
    const std::size_t bound = 32u << 20;
#endif
    EXPECT_LT(residentBytes() - std::min(before, residentBytes()), bound);

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
