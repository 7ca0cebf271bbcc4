// Reads of the audio service's object properties that turn every failure
// into a `CoreAudioError`: a status and a Dutch text saying what was being
// attempted. Stateless; any thread. They go to the current audio service
// (platform/audio_service.h) and never log.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/audio_service.h"

namespace crestline {

class CoreAudioError : public std::runtime_error {
public:
    // `status` is 0 where the failure is not one of the service's statuses
    // (an empty result, an unusable value).
    CoreAudioError(OSStatus status, std::string context);

    OSStatus status() const { return status_; }
    const std::string& context() const { return context_; }
    // The context, " (OSStatus ", the status in decimal and ")"; also `what()`.
    std::string description() const { return what(); }

private:
    OSStatus status_;
    std::string context_;
};

namespace CA {

// One fixed-size value (a 32-bit object identifier or count, a 64-bit rate,
// a stream format). `initial` only gives the type.
template <typename T>
T read(AudioObjectID object, AudioObjectPropertySelector selector, T initial,
       AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) {
    static_assert(std::is_trivially_copyable_v<T>);
    T value = initial;
    std::uint32_t size = sizeof(T);
    const OSStatus status = audioService()->getPropertyData(object, {selector, scope, kAudioObjectPropertyElementMain},
                                                            {}, size, &value);
    if (status != kAudioHardwareNoError) throw CoreAudioError(status, "Core Audio property lezen mislukt");
    return value;
}

std::vector<AudioObjectID> readObjectList(AudioObjectID object, AudioObjectPropertySelector selector,
                                          AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal);

std::string readString(AudioObjectID object, AudioObjectPropertySelector selector);

// The audio process object of a pid; fails when the process plays nothing.
AudioObjectID processObject(std::int32_t pid);

}  // namespace CA
}  // namespace crestline
