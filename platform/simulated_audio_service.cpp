#include "platform/simulated_audio_service.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

namespace crestline {

struct SimulatedAudioService::Proc {
    AudioObjectID device = 0;
    SerialQueue* queue = nullptr;
    AudioIOBlock block;
    AudioIOFailure onFailure;
    // Written under the service mutex, read by tasks on the proc's queue.
    std::atomic<bool> running{false};
    std::atomic<bool> stopped{false};  // stopped or destroyed by its owner: no failure report either
};

namespace {

bool isPropertyCall(SimulatedAudioService::Call call) {
    using Call = SimulatedAudioService::Call;
    return call == Call::getPropertyDataSize || call == Call::getPropertyData || call == Call::getPropertyString;
}

}  // namespace

SimulatedAudioService::SimulatedAudioService() = default;

SimulatedAudioService::~SimulatedAudioService() {
    std::vector<std::shared_ptr<Proc>> procs;
    {
        std::scoped_lock lock(mutex_);
        for (auto& [id, proc] : procs_) procs.push_back(proc);
        procs_.clear();
    }
    for (auto& proc : procs) {
        proc->running = false;
        proc->stopped = true;
    }
}

// --- the world

AudioObjectID SimulatedAudioService::addDevice(std::string name, std::string uid,
                                               std::vector<std::uint32_t> outputStreamChannels, double sampleRate,
                                               int inputStreams) {
    std::scoped_lock lock(mutex_);
    const AudioObjectID id = nextDevice_++;
    Device device{std::move(name), std::move(uid), {}, {}, sampleRate};
    for (std::uint32_t channels : outputStreamChannels) {
        const AudioObjectID stream = nextStream_++;
        streams_[stream] = {id, channels};
        device.outputStreams.push_back(stream);
    }
    for (int i = 0; i < inputStreams; ++i) {
        const AudioObjectID stream = nextStream_++;
        streams_[stream] = {id, 2};
        device.inputStreams.push_back(stream);
    }
    devices_[id] = std::move(device);
    if (defaultOutput_ == 0) defaultOutput_ = id;
    return id;
}

AudioObjectID SimulatedAudioService::addProcess(std::int32_t pid, std::vector<AudioObjectID> outputDevices) {
    std::scoped_lock lock(mutex_);
    const AudioObjectID id = nextProcess_++;
    processes_[id] = {pid, std::move(outputDevices)};
    return id;
}

void SimulatedAudioService::removeProcess(std::int32_t pid) {
    std::scoped_lock lock(mutex_);
    std::erase_if(processes_, [pid](const auto& entry) { return entry.second.pid == pid; });
}

void SimulatedAudioService::setDefaultOutputDevice(AudioObjectID device) {
    std::scoped_lock lock(mutex_);
    defaultOutput_ = device;
}

void SimulatedAudioService::setTapSampleRate(double rate) {
    std::scoped_lock lock(mutex_);
    tapSampleRate_ = rate;
}

void SimulatedAudioService::setProperty(AudioObjectID object, AudioObjectPropertyAddress address,
                                        std::vector<std::byte> bytes) {
    std::scoped_lock lock(mutex_);
    overrides_[{object, address.selector, address.scope}] = std::move(bytes);
}

void SimulatedAudioService::setStringProperty(AudioObjectID object, AudioObjectPropertySelector selector,
                                              std::optional<std::string> value) {
    std::scoped_lock lock(mutex_);
    stringOverrides_[{object, selector}] = std::move(value);
}

// --- failures

void SimulatedAudioService::inject(Fault fault) {
    std::scoped_lock lock(mutex_);
    faults_.push_back(fault);
}

void SimulatedAudioService::clearFaults() {
    std::scoped_lock lock(mutex_);
    faults_.clear();
}

std::optional<SimulatedAudioService::Fault> SimulatedAudioService::takeFault(Call call, AudioObjectID object,
                                                                              AudioObjectPropertySelector selector) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->call != call) continue;
        if (it->object && *it->object != object) continue;
        if (it->selector && isPropertyCall(call) && *it->selector != selector) continue;
        if (it->skip > 0) {
            --it->skip;
            return std::nullopt;
        }
        Fault fault = *it;
        if (it->times > 0 && --it->times == 0) faults_.erase(it);
        return fault;
    }
    return std::nullopt;
}

// --- inspection

void SimulatedAudioService::note(std::string line) { journal_.push_back(std::move(line)); }

std::vector<std::string> SimulatedAudioService::journal() const {
    std::scoped_lock lock(mutex_);
    return journal_;
}

void SimulatedAudioService::clearJournal() {
    std::scoped_lock lock(mutex_);
    journal_.clear();
}

std::vector<SimulatedAudioService::TapRecord> SimulatedAudioService::taps() const {
    std::scoped_lock lock(mutex_);
    std::vector<TapRecord> records;
    for (const auto& [id, record] : taps_) records.push_back(record);
    return records;
}

std::vector<SimulatedAudioService::AggregateRecord> SimulatedAudioService::aggregates() const {
    std::scoped_lock lock(mutex_);
    std::vector<AggregateRecord> records;
    for (const auto& [id, record] : aggregates_) records.push_back(record);
    return records;
}

int SimulatedAudioService::ioProcCount() const {
    std::scoped_lock lock(mutex_);
    return static_cast<int>(procs_.size());
}

int SimulatedAudioService::runningIOProcCount() const { return static_cast<int>(runningProcs().size()); }

std::vector<std::shared_ptr<SimulatedAudioService::Proc>> SimulatedAudioService::runningProcs() const {
    std::scoped_lock lock(mutex_);
    std::vector<std::shared_ptr<Proc>> running;
    for (const auto& [id, proc] : procs_) {
        if (proc->running) running.push_back(proc);
    }
    return running;
}

// --- driving

namespace {

// Keeps the samples alive for as long as a posted callback may read them.
struct Delivery {
    std::vector<SimulatedAudioService::Buffer> buffers;
    std::vector<AudioBuffer> list;

    explicit Delivery(std::vector<SimulatedAudioService::Buffer> from) : buffers(std::move(from)) {
        for (const auto& buffer : buffers) {
            AudioBuffer entry;
            entry.numberChannels = buffer.channels;
            entry.dataByteSize =
                buffer.byteSize ? *buffer.byteSize : static_cast<std::uint32_t>(buffer.samples.size() * sizeof(float));
            entry.data = buffer.noData ? nullptr : buffer.samples.data();
            list.push_back(entry);
        }
    }
};

}  // namespace

std::vector<std::future<bool>> SimulatedAudioService::postToRunning(std::function<bool(Proc&)> task) {
    // Posted under the service lock: a proc that its owner stops or destroys
    // is marked so under the same lock, so nothing reaches its queue after
    // that call returned (the owner may free the queue then).
    auto shared = std::make_shared<const std::function<bool(Proc&)>>(std::move(task));
    std::vector<std::future<bool>> done;
    std::scoped_lock lock(mutex_);
    for (const auto& [id, proc] : procs_) {
        if (!proc->running) continue;
        auto promise = std::make_shared<std::promise<bool>>();
        done.push_back(promise->get_future());
        proc->queue->async([proc = proc, promise, shared] { promise->set_value((*shared)(*proc)); });
    }
    return done;
}

int SimulatedAudioService::deliver(const std::vector<Buffer>& buffers) {
    const auto delivery = std::make_shared<const Delivery>(buffers);
    int called = 0;
    for (auto& ran : postToRunning([delivery](Proc& proc) {
             if (!proc.running) return false;
             proc.block(delivery->list);
             return true;
         })) {
        // A queue stopped by its owner drops the task unrun.
        try {
            if (ran.get()) ++called;
        } catch (const std::future_error&) {
        }
    }
    return called;
}

int SimulatedAudioService::deliverAsync(std::vector<Buffer> buffers) {
    auto delivery = std::make_shared<const Delivery>(std::move(buffers));
    return static_cast<int>(postToRunning([delivery](Proc& proc) {
                                if (proc.running) proc.block(delivery->list);
                                return true;
                            }).size());
}

int SimulatedAudioService::fail(OSStatus status, const std::string& reason) {
    auto reports = postToRunning([status, reason](Proc& proc) {
        proc.running = false;
        if (!proc.stopped && proc.onFailure) proc.onFailure(status, reason);
        return true;
    });
    for (auto& report : reports) {
        try {
            report.get();
        } catch (const std::future_error&) {
        }
    }
    return static_cast<int>(reports.size());
}

// --- properties

const SimulatedAudioService::Device* SimulatedAudioService::deviceByUID(const std::string& uid) const {
    for (const auto& [id, device] : devices_) {
        if (device.uid == uid) return &device;
    }
    return nullptr;
}

AudioObjectID SimulatedAudioService::tapDevice(const TapDescription& description) const {
    if (!description.isMixdown()) {
        for (const auto& [id, device] : devices_) {
            if (device.uid == description.deviceUID) return id;
        }
        return 0;
    }
    if (description.kind == TapDescription::Kind::stereoMixdown && !description.processes.empty()) {
        const auto process = processes_.find(description.processes.front());
        if (process != processes_.end() && !process->second.devices.empty()) return process->second.devices.front();
    }
    return defaultOutput_;
}

OSStatus SimulatedAudioService::value(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                      std::span<const std::byte> qualifier, std::vector<std::byte>& bytes) const {
    if (const auto it = overrides_.find({object, address.selector, address.scope}); it != overrides_.end()) {
        bytes = it->second;
        return kAudioHardwareNoError;
    }
    const auto selector = address.selector;
    if (object == kAudioObjectSystemObject) {
        if (selector == kAudioHardwarePropertyTranslatePIDToProcessObject) {
            if (qualifier.size() != sizeof(std::int32_t)) return kAudioHardwareBadPropertySizeError;
            std::int32_t pid = 0;
            std::memcpy(&pid, qualifier.data(), sizeof pid);
            AudioObjectID found = 0;
            for (const auto& [id, process] : processes_) {
                if (process.pid == pid) {
                    found = id;
                    break;
                }
            }
            bytes = propertyBytes(found);
            return kAudioHardwareNoError;
        }
        if (selector == kAudioHardwarePropertyDefaultOutputDevice) {
            bytes = propertyBytes(defaultOutput_);
            return kAudioHardwareNoError;
        }
        return kAudioHardwareUnknownPropertyError;
    }
    if (const auto process = processes_.find(object); process != processes_.end()) {
        if (selector != kAudioProcessPropertyDevices) return kAudioHardwareUnknownPropertyError;
        bytes = propertyBytes(address.scope == kAudioObjectPropertyScopeInput ? std::vector<AudioObjectID>{}
                                                                        : process->second.devices);
        return kAudioHardwareNoError;
    }
    if (const auto device = devices_.find(object); device != devices_.end()) {
        if (selector == kAudioDevicePropertyStreams) {
            bytes = propertyBytes(address.scope == kAudioObjectPropertyScopeInput ? device->second.inputStreams
                                                                            : device->second.outputStreams);
            return kAudioHardwareNoError;
        }
        if (selector == kAudioDevicePropertyNominalSampleRate) {
            bytes = propertyBytes(device->second.sampleRate);
            return kAudioHardwareNoError;
        }
        return kAudioHardwareUnknownPropertyError;
    }
    if (const auto stream = streams_.find(object); stream != streams_.end()) {
        if (selector != kAudioStreamPropertyVirtualFormat) return kAudioHardwareUnknownPropertyError;
        const auto device = devices_.find(stream->second.device);
        const double rate = device != devices_.end() ? device->second.sampleRate : 48000.0;
        bytes = propertyBytes(floatFormat(rate, stream->second.channels));
        return kAudioHardwareNoError;
    }
    const auto rateOfTap = [this](const TapDescription& description) {
        if (tapSampleRate_) return *tapSampleRate_;
        const auto device = devices_.find(tapDevice(description));
        return device != devices_.end() ? device->second.sampleRate : 48000.0;
    };
    if (const auto tap = taps_.find(object); tap != taps_.end()) {
        if (selector != kAudioTapPropertyFormat) return kAudioHardwareUnknownPropertyError;
        const auto& description = tap->second.description;
        std::uint32_t channels = 2;
        if (!description.isMixdown()) {
            const Device* device = deviceByUID(description.deviceUID);
            const auto index = static_cast<std::size_t>(description.stream);
            if (device && index < device->outputStreams.size()) {
                channels = streams_.at(device->outputStreams[index]).channels;
            }
        }
        bytes = propertyBytes(floatFormat(rateOfTap(description), channels));
        return kAudioHardwareNoError;
    }
    if (const auto aggregate = aggregates_.find(object); aggregate != aggregates_.end()) {
        if (selector != kAudioDevicePropertyNominalSampleRate) return kAudioHardwareUnknownPropertyError;
        double rate = tapSampleRate_.value_or(48000.0);
        for (const auto& entry : aggregate->second.description.taps) {
            for (const auto& [id, tap] : taps_) {
                if (tap.description.uuid == entry.uid) rate = rateOfTap(tap.description);
            }
            break;
        }
        bytes = propertyBytes(rate);
        return kAudioHardwareNoError;
    }
    return kAudioHardwareBadObjectError;
}

OSStatus SimulatedAudioService::getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                                    std::span<const std::byte> qualifier, std::uint32_t& size) {
    std::scoped_lock lock(mutex_);
    note("size " + fourCharText(address.selector) + " " + std::to_string(object));
    if (const auto fault = takeFault(Call::getPropertyDataSize, object, address.selector)) {
        if (fault->nullResult) size = 0;
        return fault->status;
    }
    std::vector<std::byte> bytes;
    const OSStatus status = value(object, address, qualifier, bytes);
    if (status == kAudioHardwareNoError) size = static_cast<std::uint32_t>(bytes.size());
    return status;
}

OSStatus SimulatedAudioService::getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                                std::span<const std::byte> qualifier, std::uint32_t& size,
                                                void* data) {
    std::scoped_lock lock(mutex_);
    note("read " + fourCharText(address.selector) + " " + std::to_string(object));
    if (const auto fault = takeFault(Call::getPropertyData, object, address.selector)) {
        if (fault->nullResult) {
            if (isListProperty(address.selector)) {
                size = 0;
            } else if (data) {
                std::memset(data, 0, size);
            }
        }
        return fault->status;
    }
    std::vector<std::byte> bytes;
    const OSStatus status = value(object, address, qualifier, bytes);
    if (status != kAudioHardwareNoError) return status;
    return copyPropertyValue(bytes, address.selector, size, data);
}

OSStatus SimulatedAudioService::getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                                  std::optional<std::string>& value) {
    std::scoped_lock lock(mutex_);
    note("string " + fourCharText(address.selector) + " " + std::to_string(object));
    if (const auto fault = takeFault(Call::getPropertyString, object, address.selector)) {
        if (fault->nullResult) value.reset();
        return fault->status;
    }
    if (const auto it = stringOverrides_.find({object, address.selector}); it != stringOverrides_.end()) {
        value = it->second;
        return kAudioHardwareNoError;
    }
    const auto device = devices_.find(object);
    if (device == devices_.end()) {
        return object == kAudioObjectSystemObject || processes_.contains(object) || streams_.contains(object)
                   ? kAudioHardwareUnknownPropertyError
                   : kAudioHardwareBadObjectError;
    }
    if (address.selector == kAudioObjectPropertyName) {
        value = device->second.name;
    } else if (address.selector == kAudioDevicePropertyDeviceUID) {
        value = device->second.uid;
    } else {
        return kAudioHardwareUnknownPropertyError;
    }
    return kAudioHardwareNoError;
}

// --- taps and aggregates

OSStatus SimulatedAudioService::createProcessTap(const TapDescription& description, AudioObjectID& tap) {
    std::scoped_lock lock(mutex_);
    note("createProcessTap " + description.name);
    if (const auto fault = takeFault(Call::createProcessTap, 0, 0)) {
        if (fault->nullResult) tap = 0;
        return fault->status;
    }
    const bool listedMustExist = description.kind == TapDescription::Kind::processes ||
                                 description.kind == TapDescription::Kind::stereoMixdown;
    if (listedMustExist) {
        if (description.processes.empty()) return kAudioHardwareIllegalOperationError;
        for (AudioObjectID process : description.processes) {
            if (!processes_.contains(process)) return kAudioHardwareBadObjectError;
        }
    }
    if (!description.isMixdown()) {
        const Device* device = deviceByUID(description.deviceUID);
        if (!device) return kAudioHardwareBadDeviceError;
        if (description.stream < 0 || static_cast<std::size_t>(description.stream) >= device->outputStreams.size()) {
            return kAudioHardwareBadStreamError;
        }
    }
    tap = nextTap_++;
    taps_[tap] = {tap, description};
    return kAudioHardwareNoError;
}

OSStatus SimulatedAudioService::destroyProcessTap(AudioObjectID tap) {
    std::scoped_lock lock(mutex_);
    note("destroyProcessTap " + std::to_string(tap));
    if (const auto fault = takeFault(Call::destroyProcessTap, tap, 0)) return fault->status;
    return taps_.erase(tap) == 1 ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

OSStatus SimulatedAudioService::createAggregateDevice(const AggregateDescription& description,
                                                      AudioObjectID& device) {
    std::scoped_lock lock(mutex_);
    note("createAggregateDevice " + description.name);
    if (const auto fault = takeFault(Call::createAggregateDevice, 0, 0)) {
        if (fault->nullResult) device = 0;
        return fault->status;
    }
    for (const auto& entry : description.taps) {
        const bool known = std::any_of(taps_.begin(), taps_.end(),
                                       [&](const auto& tap) { return tap.second.description.uuid == entry.uid; });
        if (!known) return kAudioHardwareBadObjectError;
    }
    if (description.mainSubDevice && !deviceByUID(*description.mainSubDevice)) return kAudioHardwareBadDeviceError;
    for (const auto& uid : description.subDevices) {
        if (!deviceByUID(uid)) return kAudioHardwareBadDeviceError;
    }
    device = nextAggregate_++;
    aggregates_[device] = {device, description};
    return kAudioHardwareNoError;
}

OSStatus SimulatedAudioService::destroyAggregateDevice(AudioObjectID device) {
    std::scoped_lock lock(mutex_);
    note("destroyAggregateDevice " + std::to_string(device));
    if (const auto fault = takeFault(Call::destroyAggregateDevice, device, 0)) return fault->status;
    return aggregates_.erase(device) == 1 ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

// --- IO procs

OSStatus SimulatedAudioService::createIOProcID(AudioObjectID device, SerialQueue& queue, AudioIOBlock block,
                                               AudioIOFailure onFailure, AudioDeviceIOProcID& proc) {
    std::scoped_lock lock(mutex_);
    note("createIOProcID " + std::to_string(device));
    if (const auto fault = takeFault(Call::createIOProcID, device, 0)) {
        if (fault->nullResult) proc = 0;
        return fault->status;
    }
    if (!aggregates_.contains(device) && !devices_.contains(device)) return kAudioHardwareBadDeviceError;
    if (!block) return kAudioHardwareIllegalOperationError;
    auto entry = std::make_shared<Proc>();
    entry->device = device;
    entry->queue = &queue;
    entry->block = std::move(block);
    entry->onFailure = std::move(onFailure);
    proc = nextProc_++;
    procs_[proc] = std::move(entry);
    return kAudioHardwareNoError;
}

OSStatus SimulatedAudioService::startDevice(AudioObjectID device, AudioDeviceIOProcID proc) {
    std::scoped_lock lock(mutex_);
    note("startDevice " + std::to_string(device));
    if (const auto fault = takeFault(Call::startDevice, device, 0)) return fault->status;
    const auto it = procs_.find(proc);
    if (it == procs_.end() || it->second->device != device) return kAudioHardwareBadObjectError;
    if (!aggregates_.contains(device) && !devices_.contains(device)) return kAudioHardwareBadDeviceError;
    it->second->running = true;
    return kAudioHardwareNoError;
}

OSStatus SimulatedAudioService::stopDevice(AudioObjectID device, AudioDeviceIOProcID proc) {
    return endProc(Call::stopDevice, device, proc);
}

OSStatus SimulatedAudioService::destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID proc) {
    return endProc(Call::destroyIOProcID, device, proc);
}

OSStatus SimulatedAudioService::endProc(Call call, AudioObjectID device, AudioDeviceIOProcID proc) {
    const bool destroy = call == Call::destroyIOProcID;
    std::shared_ptr<Proc> entry;
    OSStatus status = kAudioHardwareNoError;
    {
        std::scoped_lock lock(mutex_);
        note((destroy ? "destroyIOProcID " : "stopDevice ") + std::to_string(device));
        const auto it = procs_.find(proc);
        if (it != procs_.end() && it->second->device == device) entry = it->second;
        if (const auto fault = takeFault(call, device, 0)) {
            status = fault->status;
        } else if (!entry) {
            status = kAudioHardwareBadObjectError;
        } else if (destroy) {
            procs_.erase(it);
        }
        if (entry) {
            entry->running = false;
            entry->stopped = true;
        }
    }
    // Whatever the status: once this returns no callback of the proc runs.
    if (entry) entry->queue->drain();
    return status;
}

}  // namespace crestline
