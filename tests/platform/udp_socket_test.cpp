#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/read_source.h"
#include "platform/serial_queue.h"
#include "platform/udp_socket.h"

using namespace crestline;
using namespace std::chrono_literals;

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(UdpSocket, ASecondBindToAPortInUseFailsAsABindFailure) {
    UdpSocket::Failure failure = UdpSocket::Failure::socket;
    UdpSocket first = UdpSocket::bindLoopback(0, &failure);
    ASSERT_TRUE(first.isOpen());
    EXPECT_EQ(failure, UdpSocket::Failure::none);
    const std::uint16_t port = first.localPort();
    ASSERT_NE(port, 0);

    UdpSocket second = UdpSocket::bindLoopback(port, &failure);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(failure, UdpSocket::Failure::bind);

    first.close();  // free again once closed
    EXPECT_TRUE(UdpSocket::bindLoopback(port).isOpen());
}

TEST(UdpSocket, ReceivesWholeDatagramsWithoutBlockingAndCutsLongOnes) {
    UdpSocket receiver = UdpSocket::bindLoopback(0);
    UdpSocket sender = UdpSocket::openSender();
    std::vector<std::uint8_t> buffer(8);
    EXPECT_FALSE(receiver.receive(buffer));  // nothing waiting: no block

    ASSERT_TRUE(sender.sendTo(receiver.localPort(), bytesOf("")));
    ASSERT_TRUE(sender.sendTo(receiver.localPort(), bytesOf("abc")));
    ASSERT_TRUE(sender.sendTo(receiver.localPort(), bytesOf("0123456789")));
    EXPECT_EQ(receiver.receive(buffer), 0u);
    EXPECT_EQ(receiver.receive(buffer), 3u);
    EXPECT_EQ(receiver.receive(buffer), 8u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "01234567");
    EXPECT_FALSE(receiver.receive(buffer));

    UdpSocket moved = std::move(receiver);
    EXPECT_FALSE(receiver.isOpen());
    EXPECT_TRUE(moved.isOpen());
    EXPECT_FALSE(UdpSocket().sendTo(moved.localPort(), bytesOf("x")));
}

TEST(ReadSource, RunsTheHandlerOnTheQueueWhenReadableAndCancelJoins) {
    UdpSocket receiver = UdpSocket::bindLoopback(0);
    UdpSocket sender = UdpSocket::openSender();
    SerialQueue queue("app.test.helper");
    std::atomic<int> datagrams{0};
    std::atomic<bool> onQueue{true};
    ReadSource source(receiver.fd(), queue, [&] {
        if (!queue.isCurrent()) onQueue = false;
        std::vector<std::uint8_t> buffer(64);
        while (receiver.receive(buffer)) ++datagrams;
    });
    ASSERT_TRUE(source.resume());
    EXPECT_FALSE(source.resume());
    for (int i = 0; i < 3; ++i) sender.sendTo(receiver.localPort(), bytesOf("x"));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (datagrams < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(datagrams, 3);
    EXPECT_TRUE(onQueue);
    source.cancel();
    EXPECT_TRUE(source.isCancelled());
    source.cancel();  // twice is harmless
    sender.sendTo(receiver.localPort(), bytesOf("x"));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(datagrams, 3);
}

TEST(ReadSource, CancelWithoutResumeOrDataReturnsAtOnce) {
    SerialQueue queue("q");
    UdpSocket receiver = UdpSocket::bindLoopback(0);
    { ReadSource idle(receiver.fd(), queue, [] {}); }
    ReadSource waiting(receiver.fd(), queue, [] {});
    ASSERT_TRUE(waiting.resume());
    waiting.cancel();
    EXPECT_FALSE(waiting.resume());
}

}  // namespace
