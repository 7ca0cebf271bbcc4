#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "capture/core_audio.h"
#include "platform/simulated_audio_service.h"

using namespace crestline;

namespace {

using Fault = SimulatedAudioService::Fault;
using Call = SimulatedAudioService::Call;

class CoreAudioTest : public ::testing::Test {
protected:
    std::shared_ptr<SimulatedAudioService> sim = std::make_shared<SimulatedAudioService>();
    ScopedAudioService scoped{sim};
    AudioObjectID device = sim->addDevice("Speakers", "speakers-uid", {2, 8}, 44100.0);
};

template <typename Body>
CoreAudioError caught(Body body) {
    try {
        body();
    } catch (const CoreAudioError& error) {
        return error;
    }
    ADD_FAILURE() << "no CoreAudioError thrown";
    return CoreAudioError(12345, "none");
}

}  // namespace

TEST(CoreAudioError, DescriptionIsContextThenStatusInDecimal) {
    const CoreAudioError error(-50, "Audio starten mislukt");
    EXPECT_EQ(error.status(), -50);
    EXPECT_EQ(error.context(), "Audio starten mislukt");
    EXPECT_EQ(error.description(), "Audio starten mislukt (OSStatus -50)");
    EXPECT_STREQ(error.what(), "Audio starten mislukt (OSStatus -50)");
    EXPECT_EQ(CoreAudioError(kAudioHardwareNotRunningError, "x").description(), "x (OSStatus 1937010544)");
}

TEST_F(CoreAudioTest, ReadsFixedSizeValuesOfEitherType) {
    EXPECT_EQ(CA::read(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice, AudioObjectID{0}), device);
    EXPECT_DOUBLE_EQ(CA::read(device, kAudioDevicePropertyNominalSampleRate, 0.0), 44100.0);
    const auto streams = CA::readObjectList(device, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(CA::read(streams[1], kAudioStreamPropertyVirtualFormat, AudioStreamBasicDescription{}).mChannelsPerFrame,
              8u);
}

TEST_F(CoreAudioTest, ReadFailuresCarryTheServiceStatus) {
    sim->inject(Fault::failing(Call::getPropertyData, kAudioHardwareBadObjectError));
    auto error = caught([&] { CA::read(device, kAudioDevicePropertyNominalSampleRate, 0.0); });
    EXPECT_EQ(error.description(), "Core Audio property lezen mislukt (OSStatus 560947818)");
    // A value of the wrong size is refused rather than half written.
    error = caught([&] { CA::read(device, kAudioDevicePropertyNominalSampleRate, std::uint32_t{0}); });
    EXPECT_EQ(error.status(), kAudioHardwareBadPropertySizeError);
    error = caught([&] { CA::read(999, kAudioDevicePropertyNominalSampleRate, 0.0); });
    EXPECT_EQ(error.status(), kAudioHardwareBadObjectError);
}

TEST_F(CoreAudioTest, EmptyListSkipsTheDataRead) {
    sim->clearJournal();
    EXPECT_TRUE(CA::readObjectList(device, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput).empty());
    const auto journal = sim->journal();
    EXPECT_EQ(journal, std::vector<std::string>{"size stm# " + std::to_string(device)});

    // Fewer than four bytes is no entry either.
    sim->setProperty(device, {kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput}, std::vector<std::byte>(3));
    EXPECT_TRUE(CA::readObjectList(device, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput).empty());
}

TEST_F(CoreAudioTest, ListIsCutToTheEntriesTheDataReadReports) {
    // Ten bytes: two whole entries and a stray half.
    std::vector<std::byte> bytes(10, std::byte{0});
    bytes[0] = std::byte{7};
    bytes[4] = std::byte{9};
    sim->setProperty(device, {kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput}, bytes);
    EXPECT_EQ(CA::readObjectList(device, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput),
              (std::vector<AudioObjectID>{7, 9}));

    // The list shrank between the two calls.
    sim->inject(Fault::empty(Call::getPropertyData));
    EXPECT_TRUE(CA::readObjectList(device, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput).empty());
}

TEST_F(CoreAudioTest, ListFailuresNameTheFailingStep) {
    sim->inject(Fault::failing(Call::getPropertyDataSize, kAudioHardwareUnknownPropertyError));
    EXPECT_EQ(caught([&] { CA::readObjectList(device, kAudioDevicePropertyStreams); }).description(),
              "Core Audio lijstgrootte lezen mislukt (OSStatus 2003332927)");
    sim->inject(Fault::failing(Call::getPropertyData, kAudioHardwareUnspecifiedError));
    EXPECT_EQ(caught([&] { CA::readObjectList(device, kAudioDevicePropertyStreams); }).description(),
              "Core Audio lijst lezen mislukt (OSStatus 2003329396)");
}

TEST_F(CoreAudioTest, StringsAndTheirFailures) {
    EXPECT_EQ(CA::readString(device, kAudioObjectPropertyName), "Speakers");
    EXPECT_EQ(CA::readString(device, kAudioDevicePropertyDeviceUID), "speakers-uid");

    sim->setStringProperty(device, kAudioObjectPropertyName, std::nullopt);
    auto error = caught([&] { CA::readString(device, kAudioObjectPropertyName); });
    EXPECT_EQ(error.status(), 0);
    EXPECT_EQ(error.description(), "Core Audio string lezen mislukt (OSStatus 0)");

    sim->inject(Fault::failing(Call::getPropertyString, kAudioHardwareBadDeviceError));
    error = caught([&] { CA::readString(device, kAudioDevicePropertyDeviceUID); });
    EXPECT_EQ(error.status(), kAudioHardwareBadDeviceError);
    EXPECT_EQ(error.context(), "Core Audio string lezen mislukt");
}

TEST_F(CoreAudioTest, ProcessObjectOfAPidThatPlaysAndOfOneThatDoesNot) {
    const AudioObjectID process = sim->addProcess(4242, {device});
    EXPECT_EQ(CA::processObject(4242), process);

    auto error = caught([&] { CA::processObject(7); });
    EXPECT_EQ(error.status(), 0);
    EXPECT_EQ(error.description(), "Ableton heeft nog geen actief audioproces (OSStatus 0)");

    sim->inject(Fault::failing(Call::getPropertyData, kAudioHardwareNotRunningError));
    error = caught([&] { CA::processObject(4242); });
    EXPECT_EQ(error.status(), kAudioHardwareNotRunningError);
    EXPECT_EQ(error.context(), "Ableton heeft nog geen actief audioproces");
}
