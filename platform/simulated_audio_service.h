// A scripted audio service for tests. The test builds a small world
// (devices with any stream layout, processes playing to them, a default
// output), makes any call fail or answer "nothing" when it wants, reads a
// journal of every call, and drives the IO callbacks itself: `deliver` runs
// one callback with the given buffers on each running proc's queue.
//
// Object identifiers: the system is 1, devices count from 10, processes from
// 100, streams from 200, taps from 300, aggregates from 400.
//
// Thread-safe; `deliver` and `fail` wait on the procs' queues, so call them
// from the test thread, never from inside a callback.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/audio_service.h"

namespace crestline {

class SimulatedAudioService final : public AudioService {
public:
    enum class Call {
        getPropertyDataSize,
        getPropertyData,
        getPropertyString,
        createProcessTap,
        destroyProcessTap,
        createAggregateDevice,
        destroyAggregateDevice,
        createIOProcID,
        startDevice,
        stopDevice,
        destroyIOProcID,
    };

    // A scripted failure. A matching call fails with `status`; with
    // `nullResult` it reports `status` (usually 0) and yields nothing: object
    // 0, proc 0, a null string.
    // Built like `Fault::failing(Call::startDevice, -50)` or
    // `Fault::empty(Call::getPropertyData).on(kAudioTapPropertyFormat).always()`.
    struct Fault {
        Call call = Call::getPropertyData;
        OSStatus status = kAudioHardwareUnspecifiedError;
        bool nullResult = false;
        std::optional<AudioObjectPropertySelector> selector;  // property calls only
        std::optional<AudioObjectID> object;
        int skip = 0;   // matching calls let through first
        int times = 1;  // matching calls that fail; -1 = all

        static Fault failing(Call call, OSStatus status) {
            Fault fault;
            fault.call = call;
            fault.status = status;
            return fault;
        }
        static Fault empty(Call call, OSStatus status = kAudioHardwareNoError) {
            Fault fault = failing(call, status);
            fault.nullResult = true;
            return fault;
        }
        Fault on(AudioObjectPropertySelector s) const { return with([&](Fault& f) { f.selector = s; }); }
        Fault of(AudioObjectID o) const { return with([&](Fault& f) { f.object = o; }); }
        Fault after(int calls) const { return with([&](Fault& f) { f.skip = calls; }); }
        Fault repeated(int count) const { return with([&](Fault& f) { f.times = count; }); }
        Fault always() const { return repeated(-1); }

    private:
        template <typename Change>
        Fault with(Change change) const {
            Fault copy = *this;
            change(copy);
            return copy;
        }
    };

    // One buffer of a driven callback. `byteSize` overrides the size that
    // the samples give; `noData` delivers the buffer without data.
    struct Buffer {
        std::uint32_t channels = 2;
        std::vector<float> samples;
        std::optional<std::uint32_t> byteSize;
        bool noData = false;
    };

    struct TapRecord {
        AudioObjectID id = 0;
        TapDescription description;
    };
    struct AggregateRecord {
        AudioObjectID id = 0;
        AggregateDescription description;
    };

    SimulatedAudioService();
    ~SimulatedAudioService() override;

    // --- the world
    AudioObjectID addDevice(std::string name, std::string uid, std::vector<std::uint32_t> outputStreamChannels,
                            double sampleRate = 48000.0, int inputStreams = 0);
    AudioObjectID addProcess(std::int32_t pid, std::vector<AudioObjectID> outputDevices);
    void removeProcess(std::int32_t pid);
    void setDefaultOutputDevice(AudioObjectID device);
    // The rate every tap reports from now on, instead of its device's.
    void setTapSampleRate(double rate);
    // Replaces what a property answers, whatever the world says.
    void setProperty(AudioObjectID object, AudioObjectPropertyAddress address, std::vector<std::byte> bytes);
    void setStringProperty(AudioObjectID object, AudioObjectPropertySelector selector,
                           std::optional<std::string> value);

    // --- failures
    void inject(Fault fault);
    void clearFaults();

    // --- inspection
    // One line per call: "read id2p 1", "size stm# 10", "string uid  10",
    // "createProcessTap Crestline stream 0", "destroyProcessTap 300",
    // "createAggregateDevice Crestline Tap", "destroyAggregateDevice 400",
    // "createIOProcID 400", "startDevice 400", "stopDevice 400",
    // "destroyIOProcID 400".
    std::vector<std::string> journal() const;
    void clearJournal();
    std::vector<TapRecord> taps() const;
    std::vector<AggregateRecord> aggregates() const;
    int ioProcCount() const;
    int runningIOProcCount() const;

    // --- driving
    // Runs one callback on every running proc and waits for it; returns the
    // number of procs called.
    int deliver(const std::vector<Buffer>& buffers);
    // Posts one callback to every running proc without waiting.
    int deliverAsync(std::vector<Buffer> buffers);
    // Every running proc stops delivering and reports the failure on its
    // queue; waits until the reports ran. Returns the number of procs.
    int fail(OSStatus status, const std::string& reason);

    // --- AudioService
    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::span<const std::byte> qualifier, std::uint32_t& size) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::span<const std::byte> qualifier, std::uint32_t& size, void* data) override;
    OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::optional<std::string>& value) override;
    OSStatus createProcessTap(const TapDescription& description, AudioObjectID& tap) override;
    OSStatus destroyProcessTap(AudioObjectID tap) override;
    OSStatus createAggregateDevice(const AggregateDescription& description, AudioObjectID& device) override;
    OSStatus destroyAggregateDevice(AudioObjectID device) override;
    OSStatus createIOProcID(AudioObjectID device, SerialQueue& queue, AudioIOBlock block, AudioIOFailure onFailure,
                            AudioDeviceIOProcID& proc) override;
    OSStatus startDevice(AudioObjectID device, AudioDeviceIOProcID proc) override;
    OSStatus stopDevice(AudioObjectID device, AudioDeviceIOProcID proc) override;
    OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID proc) override;

private:
    struct Device {
        std::string name;
        std::string uid;
        std::vector<AudioObjectID> outputStreams;
        std::vector<AudioObjectID> inputStreams;
        double sampleRate = 48000.0;
    };
    struct Process {
        std::int32_t pid = 0;
        std::vector<AudioObjectID> devices;
    };
    struct Stream {
        AudioObjectID device = 0;
        std::uint32_t channels = 0;
    };
    struct Proc;  // an IO proc and what its callbacks share

    // Stops (and for destroyIOProcID removes) a proc and waits for its queue.
    OSStatus endProc(Call call, AudioObjectID device, AudioDeviceIOProcID proc);
    std::optional<Fault> takeFault(Call call, AudioObjectID object, AudioObjectPropertySelector selector);
    void note(std::string line);
    // The value of a non-string property, or a status.
    OSStatus value(AudioObjectID object, const AudioObjectPropertyAddress& address,
                   std::span<const std::byte> qualifier, std::vector<std::byte>& bytes) const;
    const Device* deviceByUID(const std::string& uid) const;
    AudioObjectID tapDevice(const TapDescription& description) const;
    std::vector<std::shared_ptr<Proc>> runningProcs() const;
    // Posts `task` to the queue of every running proc; each future says what
    // the task returned (a queue stopped by its owner breaks its promise).
    std::vector<std::future<bool>> postToRunning(std::function<bool(Proc&)> task);

    mutable std::mutex mutex_;
    std::map<AudioObjectID, Device> devices_;
    std::map<AudioObjectID, Process> processes_;
    std::map<AudioObjectID, Stream> streams_;
    std::map<AudioObjectID, TapRecord> taps_;
    std::map<AudioObjectID, AggregateRecord> aggregates_;
    std::map<AudioDeviceIOProcID, std::shared_ptr<Proc>> procs_;
    std::map<std::tuple<AudioObjectID, AudioObjectPropertySelector, AudioObjectPropertyScope>, std::vector<std::byte>>
        overrides_;
    std::map<std::pair<AudioObjectID, AudioObjectPropertySelector>, std::optional<std::string>> stringOverrides_;
    std::vector<Fault> faults_;
    std::vector<std::string> journal_;
    AudioObjectID defaultOutput_ = 0;
    std::optional<double> tapSampleRate_;
    AudioObjectID nextDevice_ = 10;
    AudioObjectID nextProcess_ = 100;
    AudioObjectID nextStream_ = 200;
    AudioObjectID nextTap_ = 300;
    AudioObjectID nextAggregate_ = 400;
    AudioDeviceIOProcID nextProc_ = 1;
};

}  // namespace crestline
