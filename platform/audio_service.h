// The audio service the capture works against: the object/property model of
// a hardware abstraction layer (system, process, device, stream and tap
// objects with property reads), process taps, private aggregate devices and
// IO callbacks that deliver lists of interleaved float buffers.
//
// Two implementations: `PulseAudioService` (libpulse; also served by
// PipeWire) for real use and `SimulatedAudioService` for tests. The one in
// use is process-wide and replaceable (`setAudioService`, `ScopedAudioService`).
//
// Threads: every operation may be called from any thread except an IO
// callback of the same service. IO callbacks and failure reports run on the
// serial queue handed to `createIOProcID`, one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/serial_queue.h"

namespace crestline {

using OSStatus = std::int32_t;
using AudioObjectID = std::uint32_t;
using AudioObjectPropertySelector = std::uint32_t;
using AudioObjectPropertyScope = std::uint32_t;
using AudioObjectPropertyElement = std::uint32_t;
using AudioDeviceIOProcID = std::uint64_t;  // 0 = none

constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

// "glob", 'id2p' ... as text, for logs and test journals.
std::string fourCharText(std::uint32_t code);

inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = fourCharCode("glob");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = fourCharCode("outp");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeInput = fourCharCode("inpt");
inline constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;

inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyTranslatePIDToProcessObject = fourCharCode("id2p");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultOutputDevice = fourCharCode("dOut");
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyDevices = fourCharCode("pdv#");
inline constexpr AudioObjectPropertySelector kAudioObjectPropertyName = fourCharCode("lnam");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceUID = fourCharCode("uid ");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyStreams = fourCharCode("stm#");
inline constexpr AudioObjectPropertySelector kAudioStreamPropertyVirtualFormat = fourCharCode("sfmt");
inline constexpr AudioObjectPropertySelector kAudioTapPropertyFormat = fourCharCode("tfmt");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyNominalSampleRate = fourCharCode("nsrt");

// Status values of this layer. Names and codes follow the hardware layer they
// stand in for, so a logged status means the same on every implementation.
inline constexpr OSStatus kAudioHardwareNoError = 0;
inline constexpr OSStatus kAudioHardwareNotRunningError = static_cast<OSStatus>(fourCharCode("stop"));
inline constexpr OSStatus kAudioHardwareUnspecifiedError = static_cast<OSStatus>(fourCharCode("what"));
inline constexpr OSStatus kAudioHardwareUnknownPropertyError = static_cast<OSStatus>(fourCharCode("who?"));
inline constexpr OSStatus kAudioHardwareBadPropertySizeError = static_cast<OSStatus>(fourCharCode("!siz"));
inline constexpr OSStatus kAudioHardwareIllegalOperationError = static_cast<OSStatus>(fourCharCode("nope"));
inline constexpr OSStatus kAudioHardwareBadObjectError = static_cast<OSStatus>(fourCharCode("!obj"));
inline constexpr OSStatus kAudioHardwareBadDeviceError = static_cast<OSStatus>(fourCharCode("!dev"));
inline constexpr OSStatus kAudioHardwareBadStreamError = static_cast<OSStatus>(fourCharCode("!str"));
inline constexpr OSStatus kAudioHardwareUnsupportedOperationError = static_cast<OSStatus>(fourCharCode("unop"));
inline constexpr OSStatus kAudioDeviceUnsupportedFormatError = static_cast<OSStatus>(fourCharCode("!dat"));

struct AudioObjectPropertyAddress {
    AudioObjectPropertySelector selector = 0;
    AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal;
    AudioObjectPropertyElement element = kAudioObjectPropertyElementMain;
};

// The 40-byte stream format record of the stream and tap format properties.
struct AudioStreamBasicDescription {
    double mSampleRate = 0.0;
    std::uint32_t mFormatID = 0;
    std::uint32_t mFormatFlags = 0;
    std::uint32_t mBytesPerPacket = 0;
    std::uint32_t mFramesPerPacket = 0;
    std::uint32_t mBytesPerFrame = 0;
    std::uint32_t mChannelsPerFrame = 0;
    std::uint32_t mBitsPerChannel = 0;
    std::uint32_t mReserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

inline constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
inline constexpr std::uint32_t kAudioFormatFlagIsFloat = 1u << 0;
inline constexpr std::uint32_t kAudioFormatFlagIsPacked = 1u << 3;

// Interleaved 32-bit float PCM at `rate` with `channels` channels.
AudioStreamBasicDescription floatFormat(double rate, std::uint32_t channels);

// What a process tap listens to. Made by the four factories, each of which
// gives the description a fresh UUID; the aggregate refers to taps by it.
struct TapDescription {
    enum class Kind {
        processes,           // the listed processes on one stream of one device
        excludingProcesses,  // every process but the listed ones, one stream of one device
        stereoMixdown,       // the listed processes, mixed down to stereo
        stereoGlobal,        // every process but the listed ones, mixed down to stereo
    };

    Kind kind = Kind::processes;
    std::vector<AudioObjectID> processes;
    std::string deviceUID;  // per-stream kinds only
    int stream = 0;         // per-stream kinds only
    std::string name;
    std::string uuid;

    static TapDescription ofProcesses(std::vector<AudioObjectID> processes, std::string deviceUID, int stream);
    static TapDescription excludingProcesses(std::vector<AudioObjectID> processes, std::string deviceUID,
                                             int stream);
    static TapDescription stereoMixdownOfProcesses(std::vector<AudioObjectID> processes);
    static TapDescription stereoGlobalTapButExcludeProcesses(std::vector<AudioObjectID> processes);

    bool isMixdown() const { return kind == Kind::stereoMixdown || kind == Kind::stereoGlobal; }
};

// The key set of a private aggregate device; each field carries its key.
struct AggregateDescription {
    struct Tap {
        std::string uid;    // "uid": the tap description's UUID
        bool drift = true;  // "drift": drift compensation
    };
    std::string name;                          // "name"
    std::string uid;                           // "uid"
    bool isPrivate = true;                     // "private"
    bool isStacked = false;                    // "stacked"
    bool tapAutoStart = true;                  // "tapautostart"
    std::vector<Tap> taps;                     // "taps"
    std::optional<std::string> mainSubDevice;  // "master"
    std::vector<std::string> subDevices;       // "subdevices", by UID
};

// One buffer of an IO callback: `numberChannels` interleaved channels of
// 32-bit floats, `dataByteSize` bytes. `data` may be absent.
struct AudioBuffer {
    std::uint32_t numberChannels = 0;
    std::uint32_t dataByteSize = 0;
    const float* data = nullptr;
};

using AudioIOBlock = std::function<void(std::span<const AudioBuffer> input)>;
// The device stopped delivering on its own (the process quit, the server went
// away). Reported once, on the callback's queue, after the last callback.
using AudioIOFailure = std::function<void(OSStatus status, const std::string& reason)>;

class AudioService {
public:
    virtual ~AudioService() = default;

    // Property reads. `qualifier` is only used by the pid translation.
    // `size` is the byte size of `data` on entry and the bytes written on
    // return; list properties are cut to whole entries.
    virtual OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                         std::span<const std::byte> qualifier, std::uint32_t& size) = 0;
    virtual OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                     std::span<const std::byte> qualifier, std::uint32_t& size, void* data) = 0;
    // A string property; a successful read may still yield no string.
    virtual OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                       std::optional<std::string>& value) = 0;

    virtual OSStatus createProcessTap(const TapDescription& description, AudioObjectID& tap) = 0;
    virtual OSStatus destroyProcessTap(AudioObjectID tap) = 0;

    virtual OSStatus createAggregateDevice(const AggregateDescription& description, AudioObjectID& device) = 0;
    virtual OSStatus destroyAggregateDevice(AudioObjectID device) = 0;

    // `block` and `onFailure` run on `queue`, which must outlive the proc.
    virtual OSStatus createIOProcID(AudioObjectID device, SerialQueue& queue, AudioIOBlock block,
                                    AudioIOFailure onFailure, AudioDeviceIOProcID& proc) = 0;
    virtual OSStatus startDevice(AudioObjectID device, AudioDeviceIOProcID proc) = 0;
    // Returns, whatever the status, once no callback or failure report of
    // `proc` runs and none will run any more.
    virtual OSStatus stopDevice(AudioObjectID device, AudioDeviceIOProcID proc) = 0;
    // Also waits for running callbacks when the proc was never stopped.
    virtual OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID proc) = 0;
};

// Helpers for implementations. List properties (a process's devices, a
// device's streams) are cut to the whole entries that fit into `size`; any
// other value must fit whole.
bool isListProperty(AudioObjectPropertySelector selector);
template <typename T>
std::vector<std::byte> propertyBytes(const T& value) {
    std::vector<std::byte> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}
std::vector<std::byte> propertyBytes(const std::vector<AudioObjectID>& list);
OSStatus copyPropertyValue(std::span<const std::byte> value, AudioObjectPropertySelector selector,
                           std::uint32_t& size, void* data);

// The service in use; the PulseAudio service until replaced.
std::shared_ptr<AudioService> audioService();
// Installs `service` for every later use and returns the one it replaced;
// a null service restores the default.
std::shared_ptr<AudioService> setAudioService(std::shared_ptr<AudioService> service);

// Installs a service for its lifetime (tests).
class ScopedAudioService {
public:
    explicit ScopedAudioService(std::shared_ptr<AudioService> service);
    ~ScopedAudioService();
    ScopedAudioService(const ScopedAudioService&) = delete;
    ScopedAudioService& operator=(const ScopedAudioService&) = delete;

private:
    std::shared_ptr<AudioService> previous_;
};

// A random (version 4) UUID in upper-case text, as the taps and aggregates use.
std::string newUuidString();

}  // namespace crestline
