// Receives the helper script's messages: one JSON object per UDP datagram on
// 127.0.0.1:47811, sent by the Remote Script running inside Live. Each
// decoded object goes to the handler; the receiver knows nothing about the
// contents (LiveSync does). Anything that is not one JSON object of modest
// nesting is dropped without a word.
//
// Threads: reading, decoding and every call of the handler happen on the
// receiver's own serial queue ("<app id>.helper"). `start` and `stop` come
// from the owner's thread, never from the handler. Per wake-up at most 256
// datagrams are read, so a flood cannot keep the queue to itself; what the
// socket cannot hold the kernel drops, so memory stays bounded.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/read_source.h"
#include "platform/serial_queue.h"
#include "platform/udp_socket.h"

namespace crestline {

class LiveHelperReceiver {
public:
    using Handler = std::function<void(const nlohmann::json& message)>;

    static constexpr std::uint16_t kPort = 47811;
    static constexpr std::size_t kMaxDatagramBytes = 65536;
    static constexpr int kMaxDatagramsPerRead = 256;
    // Real messages nest three deep (object, list of locators, locator).
    static constexpr int kMaxNesting = 64;

    struct Statistics {
        std::uint64_t reads = 0;      // wake-ups that found the socket readable
        std::uint64_t delivered = 0;  // messages handed to the handler
        std::uint64_t dropped = 0;    // datagrams that were not one JSON object
    };

    // `port` 0 binds a free port (tests); see `port()`.
    explicit LiveHelperReceiver(Handler onMessage, std::uint16_t port = kPort);
    ~LiveHelperReceiver();
    LiveHelperReceiver(const LiveHelperReceiver&) = delete;
    LiveHelperReceiver& operator=(const LiveHelperReceiver&) = delete;

    // Binds the socket and starts reading. Does nothing while started. When
    // the port is taken (another instance runs) it logs one line and stays
    // stopped; the bar then follows MIDI alone.
    void start();
    // Stops reading, waits for a running handler and closes the socket. For
    // the ordered shut-down and tests; the destructor does it too.
    void stop();

    bool isStarted() const;
    // The bound port while started, else the one asked for.
    std::uint16_t port() const;
    Statistics statistics() const;

    // The decoding rule: the object `bytes` hold, or nothing unless they are
    // exactly one UTF-8 JSON text whose top level is an object nested at
    // most kMaxNesting deep. Never throws.
    static std::optional<nlohmann::json> decode(std::span<const std::uint8_t> bytes);

private:
    // One started period: the socket and the source that watches it. The
    // source is declared last so it is cancelled before the socket closes.
    struct Session {
        UdpSocket socket;
        std::unique_ptr<ReadSource> source;
    };

    void read(const UdpSocket& socket);  // on queue_

    const Handler onMessage_;
    const std::uint16_t requestedPort_;
    mutable std::mutex mutex_;  // guards session_; never held while waiting for the queue
    std::unique_ptr<Session> session_;
    std::vector<std::uint8_t> buffer_;  // used on queue_ only
    // Writer: stop(); reader: read() between datagrams, so a stop never
    // waits for a whole drain.
    std::atomic<bool> stopping_{false};
    // Written on queue_, read by any thread.
    std::atomic<std::uint64_t> reads_{0};
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<std::uint64_t> dropped_{0};
    SerialQueue queue_;  // last: stopped and joined before the members above go
};

}  // namespace crestline
