#include "platform/sound_server.h"

#include <mutex>

#include "platform/pulse_sound_server.h"

namespace crestline {
namespace {

std::mutex& serverMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<SoundServer>& installedServer() {  // null while the default is in use
    static std::shared_ptr<SoundServer> server;
    return server;
}

}  // namespace

std::shared_ptr<SoundServer> soundServer() {
    std::scoped_lock lock(serverMutex());
    if (installedServer()) return installedServer();
    // Made on first use and kept until exit: recordings may outlive any caller.
    static const auto pulse = std::make_shared<PulseSoundServer>();
    return pulse;
}

std::shared_ptr<SoundServer> setSoundServer(std::shared_ptr<SoundServer> server) {
    std::scoped_lock lock(serverMutex());
    auto previous = std::move(installedServer());
    installedServer() = std::move(server);
    return previous;
}

}  // namespace crestline
