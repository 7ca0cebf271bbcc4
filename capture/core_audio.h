// The capture's error: a status and a Dutch text saying which step failed.
// Its description (also `what()`) is the text, " (OSStatus ", the status in
// decimal and ")", the form the application shows and logs.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/sound_server.h"

namespace crestline {

using OSStatus = std::int32_t;

class CoreAudioError : public std::runtime_error {
public:
    // `status` is 0 where the failure is no answer of the server (an empty
    // result, an unusable value).
    CoreAudioError(OSStatus status, std::string context);
    CoreAudioError(ServerStatus status, std::string context) : CoreAudioError(static_cast<OSStatus>(status), std::move(context)) {}

    OSStatus status() const { return status_; }
    const std::string& context() const { return context_; }
    std::string description() const { return what(); }

private:
    OSStatus status_;
    std::string context_;
};

}  // namespace crestline
