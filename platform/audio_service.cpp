#include "platform/audio_service.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include "platform/pulse_audio_service.h"

namespace crestline {
namespace {

std::mutex& serviceMutex() {
    static std::mutex mutex;
    return mutex;
}

// Null while the default is in use.
std::shared_ptr<AudioService>& installedService() {
    static std::shared_ptr<AudioService> service;
    return service;
}

std::shared_ptr<AudioService>& defaultService() {
    static std::shared_ptr<AudioService> service;
    return service;
}

}  // namespace

std::string fourCharText(std::uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((code >> (8 * (3 - i))) & 0xFF);
        text[static_cast<std::size_t>(i)] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

AudioStreamBasicDescription floatFormat(double rate, std::uint32_t channels) {
    AudioStreamBasicDescription format;
    format.mSampleRate = rate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    format.mBytesPerFrame = 4 * channels;
    format.mBytesPerPacket = format.mBytesPerFrame;
    format.mFramesPerPacket = 1;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = 32;
    return format;
}

TapDescription TapDescription::ofProcesses(std::vector<AudioObjectID> processes, std::string deviceUID,
                                           int stream) {
    return {Kind::processes, std::move(processes), std::move(deviceUID), stream, {}, newUuidString()};
}

TapDescription TapDescription::excludingProcesses(std::vector<AudioObjectID> processes, std::string deviceUID,
                                                  int stream) {
    return {Kind::excludingProcesses, std::move(processes), std::move(deviceUID), stream, {}, newUuidString()};
}

TapDescription TapDescription::stereoMixdownOfProcesses(std::vector<AudioObjectID> processes) {
    return {Kind::stereoMixdown, std::move(processes), {}, 0, {}, newUuidString()};
}

TapDescription TapDescription::stereoGlobalTapButExcludeProcesses(std::vector<AudioObjectID> processes) {
    return {Kind::stereoGlobal, std::move(processes), {}, 0, {}, newUuidString()};
}

bool isListProperty(AudioObjectPropertySelector selector) {
    return selector == kAudioProcessPropertyDevices || selector == kAudioDevicePropertyStreams;
}

std::vector<std::byte> propertyBytes(const std::vector<AudioObjectID>& list) {
    std::vector<std::byte> bytes(list.size() * sizeof(AudioObjectID));
    if (!list.empty()) std::memcpy(bytes.data(), list.data(), bytes.size());
    return bytes;
}

OSStatus copyPropertyValue(std::span<const std::byte> value, AudioObjectPropertySelector selector,
                           std::uint32_t& size, void* data) {
    std::size_t count = value.size();
    if (count > size) {
        if (!isListProperty(selector)) return kAudioHardwareBadPropertySizeError;
        count = size - size % sizeof(AudioObjectID);
    }
    if (count > 0 && data != nullptr) std::memcpy(data, value.data(), count);
    size = static_cast<std::uint32_t>(count);
    return kAudioHardwareNoError;
}

std::shared_ptr<AudioService> audioService() {
    std::scoped_lock lock(serviceMutex());
    if (installedService()) return installedService();
    if (!defaultService()) defaultService() = std::make_shared<PulseAudioService>();
    return defaultService();
}

std::shared_ptr<AudioService> setAudioService(std::shared_ptr<AudioService> service) {
    std::scoped_lock lock(serviceMutex());
    auto previous = std::move(installedService());
    installedService() = std::move(service);
    return previous;
}

ScopedAudioService::ScopedAudioService(std::shared_ptr<AudioService> service)
    : previous_(setAudioService(std::move(service))) {}

ScopedAudioService::~ScopedAudioService() { setAudioService(std::move(previous_)); }

std::string newUuidString() {
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    {
        std::scoped_lock lock(mutex);
        high = generator();
        low = generator();
    }
    high = (high & ~0xF000ull) | 0x4000ull;                     // version 4
    low = (low & ~(0xC0ull << 56)) | (0x80ull << 56);           // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                  static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                  static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

}  // namespace crestline
