#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/log.h"

namespace crestline {
namespace {

constexpr const char* kReopen = "reopen\n";
constexpr const char* kNone = "none\n";
constexpr int kAnswerMilliseconds = 1000;  // a running instance answers at once

bool addressOf(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// ":0.0" and "localhost:10" both name a display; keep what a file name may hold.
std::string displayTag(std::string display) {
    for (char& c : display) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-')) c = '_';
    }
    return display.empty() ? std::string("none") : display;
}

}  // namespace

std::string SingleInstance::socketPath(const std::string& display) {
    std::string name = display;
    if (name.empty()) {
        const char* env = std::getenv("DISPLAY");
        name = env != nullptr ? env : "";
    }
    const std::string file = "crestline-" + displayTag(name) + ".socket";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        return std::string(runtime) + "/" + file;
    }
    const std::string folder = "/tmp/crestline-" + std::to_string(getuid());
    ::mkdir(folder.c_str(), 0700);
    return folder + "/" + file;
}

bool SingleInstance::tellRunning(const std::string& path, Request request) {
    sockaddr_un address;
    if (!addressOf(path, address)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool told = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const char* text = request == Request::reopen ? kReopen : kNone;
        const auto length = static_cast<ssize_t>(std::strlen(text));
        if (::send(fd, text, static_cast<size_t>(length), MSG_NOSIGNAL) == length) {
            // The running instance closes once it has read the request.
            pollfd wait{fd, POLLIN, 0};
            char answer = 0;
            told = ::poll(&wait, 1, kAnswerMilliseconds) == 1 && ::recv(fd, &answer, 1, 0) >= 0;
        }
    }
    ::close(fd);
    return told;
}

SingleInstance::SingleInstance(const std::string& path, std::function<void()> onReopen)
    : path_(path), onReopen_(std::move(onReopen)) {
    sockaddr_un address;
    if (!addressOf(path_, address)) return;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    // The caller found nobody answering there: what is left is a crashed
    // run's socket.
    ::unlink(path_.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        log(std::string("Crestline: geen eigen socket voor een tweede start (") + std::strerror(errno) + ")");
        ::close(fd);
        return;
    }
    fd_ = fd;
    auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read);
    notifier_.reset(notifier);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] { accept(); });
}

SingleInstance::~SingleInstance() {
    notifier_.reset();
    if (fd_ < 0) return;
    ::close(fd_);
    ::unlink(path_.c_str());
}

void SingleInstance::accept() {
    for (;;) {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        // One short line; a peer that sends nothing in time is dropped.
        char text[16] = {};
        pollfd wait{client, POLLIN, 0};
        ssize_t got = 0;
        if (::poll(&wait, 1, 100) == 1) got = ::recv(client, text, sizeof text - 1, 0);
        ::close(client);
        if (got > 0 && std::strncmp(text, kReopen, std::strlen(kReopen)) == 0 && onReopen_) onReopen_();
    }
}

}  // namespace crestline
