#include "capture/core_audio.h"

namespace crestline {

CoreAudioError::CoreAudioError(OSStatus status, std::string context)
    : std::runtime_error(context + " (OSStatus " + std::to_string(status) + ")"),
      status_(status),
      context_(std::move(context)) {}

}  // namespace crestline
