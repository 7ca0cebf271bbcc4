#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "capture/core_audio.h"
#include "platform/simulated_audio_service.h"

using namespace crestline;

namespace {

using Fault = SimulatedAudioService::Fault;
using Call = SimulatedAudioService::Call;

class CoreAudioTest : public ::testing::Test {
protected:
    std::vector<AudioObjectID> inputStreams() {
        return CA::readObjectList(device, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput);
    }

    std::shared_ptr<SimulatedAudioService> sim = std::make_shared<SimulatedAudioService>();
    ScopedAudioService scoped{sim};
    AudioObjectID device = sim->addDevice("Speakers", "speakers-uid", {2, 8}, 44100.0);
};

std::string failureOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const CoreAudioError& error) {
        return error.description();
    }
    return "no failure";
}

}  // namespace

TEST_F(CoreAudioTest, ListsTakeOnlyTheWholeEntriesTheDataReadReports) {
    sim->clearJournal();
    EXPECT_TRUE(inputStreams().empty());
    EXPECT_EQ(sim->journal(), std::vector<std::string>{"size stm# " + std::to_string(device)});  // no data read

    const auto answer = [&](std::vector<std::byte> bytes) {
        sim->setProperty(device, {kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput}, std::move(bytes));
        return inputStreams();
    };
    EXPECT_TRUE(answer(std::vector<std::byte>(3)).empty());
    std::vector<std::byte> bytes(10, std::byte{0});  // two entries and a stray half
    bytes[0] = std::byte{7};
    bytes[4] = std::byte{9};
    EXPECT_EQ(answer(bytes), (std::vector<AudioObjectID>{7, 9}));

    // The list shrank between the size and the data read.
    sim->inject(Fault::empty(Call::getPropertyData));
    EXPECT_TRUE(inputStreams().empty());
}

TEST_F(CoreAudioTest, EveryFailureNamesItsStepAndCarriesTheServiceStatus) {
    sim->addProcess(4242, {device});
    sim->setStringProperty(device, kAudioObjectPropertyName, std::nullopt);
    const auto rate = [&](auto type) { CA::read(device, kAudioDevicePropertyNominalSampleRate, type); };
    const auto list = [&] { CA::readObjectList(device, kAudioDevicePropertyStreams); };
    struct Case {
        std::optional<Fault> fault;
        std::function<void()> body;
        std::string description;
    };
    const std::vector<Case> cases = {
        {Fault::failing(Call::getPropertyData, kAudioHardwareBadObjectError), [&] { rate(0.0); },
         "Core Audio property lezen mislukt (OSStatus 560947818)"},
        // A value of the wrong size is refused rather than half written.
        {{}, [&] { rate(std::uint32_t{0}); }, "Core Audio property lezen mislukt (OSStatus 561211770)"},
        {{}, [&] { CA::read(999, kAudioDevicePropertyNominalSampleRate, 0.0); },
         "Core Audio property lezen mislukt (OSStatus 560947818)"},
        {Fault::failing(Call::getPropertyDataSize, kAudioHardwareUnknownPropertyError), list,
         "Core Audio lijstgrootte lezen mislukt (OSStatus 2003332927)"},
        {Fault::failing(Call::getPropertyData, kAudioHardwareUnspecifiedError), list,
         "Core Audio lijst lezen mislukt (OSStatus 2003329396)"},
        {Fault::failing(Call::getPropertyString, kAudioHardwareBadDeviceError),
         [&] { CA::readString(device, kAudioDevicePropertyDeviceUID); },
         "Core Audio string lezen mislukt (OSStatus 560227702)"},
        {{}, [&] { CA::readString(device, kAudioObjectPropertyName); }, "Core Audio string lezen mislukt (OSStatus 0)"},
        {{}, [] { CA::processObject(7); }, "Ableton heeft nog geen actief audioproces (OSStatus 0)"},
        {Fault::failing(Call::getPropertyData, kAudioHardwareNotRunningError), [] { CA::processObject(4242); },
         "Ableton heeft nog geen actief audioproces (OSStatus 1937010544)"},
    };
    for (const auto& c : cases) {
        if (c.fault) sim->inject(*c.fault);
        EXPECT_EQ(failureOf(c.body), c.description);
    }
}
