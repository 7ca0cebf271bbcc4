#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace crestline {
namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

UdpSocket::~UdpSocket() { close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

UdpSocket UdpSocket::bindLoopback(std::uint16_t port, Failure* failure) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (failure) *failure = Failure::socket;
        return {};
    }
    UdpSocket socket(fd);
    const sockaddr_in address = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (failure) *failure = Failure::bind;
        return {};
    }
    if (failure) *failure = Failure::none;
    return socket;
}

UdpSocket UdpSocket::openSender() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? UdpSocket() : UdpSocket(fd);
}

std::uint16_t UdpSocket::localPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

std::optional<std::size_t> UdpSocket::receive(std::span<std::uint8_t> buffer) const {
    if (fd_ < 0) return std::nullopt;
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return std::nullopt;
    }
}

bool UdpSocket::sendTo(std::uint16_t port, std::span<const std::uint8_t> bytes) const {
    if (fd_ < 0) return false;
    const sockaddr_in address = loopback(port);
    for (;;) {
        const ssize_t n = ::sendto(fd_, bytes.data(), bytes.size(), 0,
                                   reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (n >= 0) return static_cast<std::size_t>(n) == bytes.size();
        if (errno != EINTR) return false;
    }
}

void UdpSocket::close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace crestline
