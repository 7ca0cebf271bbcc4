#include "capture/core_audio.h"

#include <algorithm>
#include <span>

namespace crestline {

CoreAudioError::CoreAudioError(OSStatus status, std::string context)
    : std::runtime_error(context + " (OSStatus " + std::to_string(status) + ")"),
      status_(status),
      context_(std::move(context)) {}

namespace CA {

std::vector<AudioObjectID> readObjectList(AudioObjectID object, AudioObjectPropertySelector selector,
                                          AudioObjectPropertyScope scope) {
    const auto service = audioService();
    const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
    std::uint32_t size = 0;
    OSStatus status = service->getPropertyDataSize(object, address, {}, size);
    if (status != kAudioHardwareNoError) throw CoreAudioError(status, "Core Audio lijstgrootte lezen mislukt");
    if (size < sizeof(AudioObjectID)) return {};
    std::vector<AudioObjectID> list(size / sizeof(AudioObjectID));
    size = static_cast<std::uint32_t>(list.size() * sizeof(AudioObjectID));
    status = service->getPropertyData(object, address, {}, size, list.data());
    if (status != kAudioHardwareNoError) throw CoreAudioError(status, "Core Audio lijst lezen mislukt");
    list.resize(std::min<std::size_t>(list.size(), size / sizeof(AudioObjectID)));
    return list;
}

std::string readString(AudioObjectID object, AudioObjectPropertySelector selector) {
    std::optional<std::string> value;
    const OSStatus status = audioService()->getPropertyString(
        object, {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain}, value);
    if (status != kAudioHardwareNoError || !value) throw CoreAudioError(status, "Core Audio string lezen mislukt");
    return *value;
}

AudioObjectID processObject(std::int32_t pid) {
    AudioObjectID object = kAudioObjectUnknown;
    std::uint32_t size = sizeof object;
    const auto qualifier = std::as_bytes(std::span(&pid, 1));
    const OSStatus status = audioService()->getPropertyData(
        kAudioObjectSystemObject,
        {kAudioHardwarePropertyTranslatePIDToProcessObject, kAudioObjectPropertyScopeGlobal,
         kAudioObjectPropertyElementMain},
        qualifier, size, &object);
    if (status != kAudioHardwareNoError || object == kAudioObjectUnknown) {
        throw CoreAudioError(status, "Ableton heeft nog geen actief audioproces");
    }
    return object;
}

}  // namespace CA
}  // namespace crestline
