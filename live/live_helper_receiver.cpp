#include "live/live_helper_receiver.h"

#include <string>

#include "platform/app_identity.h"
#include "platform/log.h"

namespace crestline {
namespace {

// Whether the JSON text nests at most `limit` lists and objects deep,
// counting brackets outside strings. Run before the parser so that a
// datagram of 50,000 "[" costs one pass and no memory. Text that closes more
// than it opened is invalid anyway and answers false.
bool nestingWithin(std::span<const std::uint8_t> bytes, int limit) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const std::uint8_t byte : bytes) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (byte == '\\') {
                escaped = true;
            } else if (byte == '"') {
                inString = false;
            }
            continue;
        }
        switch (byte) {
            case '"':
                inString = true;
                break;
            case '[':
            case '{':
                if (++depth > limit) return false;
                break;
            case ']':
            case '}':
                if (--depth < 0) return false;
                break;
            default:
                break;
        }
    }
    return true;
}

}  // namespace

LiveHelperReceiver::LiveHelperReceiver(Handler onMessage, std::uint16_t port)
    : onMessage_(std::move(onMessage)), requestedPort_(port), queue_(queueLabel(".helper")) {}

LiveHelperReceiver::~LiveHelperReceiver() {
    stop();
    queue_.stop();
}

void LiveHelperReceiver::start() {
    std::scoped_lock held(mutex_);
    if (session_) return;
    UdpSocket::Failure failure = UdpSocket::Failure::none;
    auto session = std::make_unique<Session>();
    session->socket = UdpSocket::bindLoopback(requestedPort_, &failure);
    if (failure == UdpSocket::Failure::bind) {
        log("Crestline: poort " + std::to_string(requestedPort_) + " voor de Live Helper is bezet");
        return;
    }
    if (!session->socket.isOpen()) return;  // no socket at all: silent
    if (buffer_.empty()) buffer_.resize(kMaxDatagramBytes);
    stopping_.store(false, std::memory_order_relaxed);
    const UdpSocket& socket = session->socket;
    session->source = std::make_unique<ReadSource>(socket.fd(), queue_, [this, &socket] { read(socket); });
    if (!session->source->resume()) return;
    session_ = std::move(session);
}

void LiveHelperReceiver::stop() {
    std::unique_ptr<Session> session;
    {
        std::scoped_lock held(mutex_);
        session = std::move(session_);
    }
    if (!session) return;
    stopping_.store(true, std::memory_order_relaxed);
    // The source goes first: once it is cancelled no read runs, and only
    // then may the descriptor close.
    session->source.reset();
    session->socket.close();
}

bool LiveHelperReceiver::isStarted() const {
    std::scoped_lock held(mutex_);
    return session_ != nullptr;
}

std::uint16_t LiveHelperReceiver::port() const {
    std::scoped_lock held(mutex_);
    return session_ ? session_->socket.localPort() : requestedPort_;
}

LiveHelperReceiver::Statistics LiveHelperReceiver::statistics() const {
    return {reads_.load(std::memory_order_relaxed), delivered_.load(std::memory_order_relaxed),
            dropped_.load(std::memory_order_relaxed)};
}

void LiveHelperReceiver::read(const UdpSocket& socket) {
    reads_.fetch_add(1, std::memory_order_relaxed);
    // In arrival order; what is left after the cap waits for the next
    // wake-up, which follows at once because the socket stays readable.
    for (int n = 0; n < kMaxDatagramsPerRead; ++n) {
        if (stopping_.load(std::memory_order_relaxed)) return;
        const std::optional<std::size_t> size = socket.receive(buffer_);
        if (!size) return;
        std::optional<nlohmann::json> message = decode(std::span(buffer_.data(), *size));
        if (!message) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        delivered_.fetch_add(1, std::memory_order_relaxed);
        onMessage_(*message);
    }
}

std::optional<nlohmann::json> LiveHelperReceiver::decode(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || !nestingWithin(bytes, kMaxNesting)) return std::nullopt;
    try {
        // Without exceptions a syntax error, invalid UTF-8 in a string or
        // trailing garbage gives a discarded value, which is not an object.
        nlohmann::json value = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
        if (!value.is_object()) return std::nullopt;
        return value;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace crestline
