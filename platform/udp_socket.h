// IPv4 datagram sockets on the loopback interface (127.0.0.1): the helper
// script's messages arrive on one, and the tools send them from another.
// Never sets SO_REUSEADDR or SO_REUSEPORT, so a second bind to a port in use
// fails instead of splitting the messages between two processes.
//
// Move-only owner of one descriptor; closing is the destructor's job. Any
// thread may use a socket, one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace crestline {

class UdpSocket {
public:
    enum class Failure { none, socket, bind };

    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Bound to 127.0.0.1:`port`; port 0 lets the system pick a free one
    // (see `localPort`). On failure the socket is closed and `failure`
    // (when given) says which step failed.
    static UdpSocket bindLoopback(std::uint16_t port, Failure* failure = nullptr);
    // Unbound, for sending only.
    static UdpSocket openSender();

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::uint16_t localPort() const;

    // One datagram without blocking: its length (0 for an empty datagram),
    // or nothing when none is waiting or on an error. A datagram longer than
    // `buffer` is cut to its size.
    std::optional<std::size_t> receive(std::span<std::uint8_t> buffer) const;

    // One datagram to 127.0.0.1:`port`; false when the system refused it.
    bool sendTo(std::uint16_t port, std::span<const std::uint8_t> bytes) const;

    void close();

private:
    explicit UdpSocket(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace crestline
