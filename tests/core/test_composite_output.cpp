#include "midi/CompositeMidiOutput.h"

#include "Fakes.h"
#include "midi/BuiltinSynth.h"
#include "midi/MidiPort.h"
#include "midi/RecordingMidiOutput.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace velmora;
using namespace velmora::midi;
using Call = RecordingMidiOutput::Call;
using Bytes = std::vector<std::uint8_t>;

namespace {

class CompositeTest : public ::testing::Test {
protected:
    CompositeTest()
    {
        auto a = std::make_unique<RecordingMidiOutput>(std::vector<std::string>{"A0", "A1"});
        auto b = std::make_unique<RecordingMidiOutput>(std::vector<std::string>{"B0"});
        first = a.get();
        second = b.get();
        std::vector<std::unique_ptr<MidiOutput>> backends;
        backends.push_back(std::move(a));
        backends.push_back(std::move(b));
        composite = std::make_unique<CompositeMidiOutput>(std::move(backends));
    }

    static std::size_t countOf(const RecordingMidiOutput& output, Call call)
    {
        std::size_t n = 0;
        for (const auto& r : output.records())
            n += r.call == call;
        return n;
    }

    RecordingMidiOutput* first = nullptr;
    RecordingMidiOutput* second = nullptr;
    std::unique_ptr<CompositeMidiOutput> composite;
};

}  // namespace

TEST_F(CompositeTest, DevicesFollowOneAnotherInBackendOrder)
{
    EXPECT_EQ(composite->deviceCount(), 3u);
    EXPECT_EQ(composite->deviceName(0), "A0");
    EXPECT_EQ(composite->deviceName(1), "A1");
    EXPECT_EQ(composite->deviceName(2), "B0");
    EXPECT_FALSE(composite->deviceName(3).has_value());

    first->failDeviceName(1);
    EXPECT_FALSE(composite->deviceName(1).has_value());
}

TEST_F(CompositeTest, OpenReachesTheBackendsOwnDeviceNumber)
{
    composite->deviceCount();
    Handle handle = kNoHandle;
    ASSERT_EQ(composite->open(2, handle), 0u);
    EXPECT_NE(handle, kNoHandle);
    EXPECT_EQ(countOf(*first, Call::Open), 0u);
    ASSERT_EQ(countOf(*second, Call::Open), 1u);
    EXPECT_EQ(second->records().back().device, 0u);
}

TEST_F(CompositeTest, HandlesAreItsOwnAndRouteToTheRightBackend)
{
    Handle a = kNoHandle;
    Handle b = kNoHandle;
    ASSERT_EQ(composite->open(0, a), 0u);
    ASSERT_EQ(composite->open(2, b), 0u);
    // Both backends handed out their first handle; the composite's two must still differ.
    EXPECT_NE(a, b);

    EXPECT_EQ(composite->shortMessage(b, packShortMessage(0x90, 0x3C, 0x64)), 0u);
    MidiHeader header{kGsResetMsg.data(), 11};
    EXPECT_EQ(composite->prepareHeader(a, header, kMidiHeaderSize), 0u);
    EXPECT_EQ(composite->longMessage(a, header, kMidiHeaderSize), 0u);
    EXPECT_EQ(composite->reset(b), 0u);

    EXPECT_EQ(first->deliveredMessages(), std::vector<Bytes>{Bytes(kGsResetMsg.begin(), kGsResetMsg.end())});
    EXPECT_EQ(second->deliveredMessages(), (std::vector<Bytes>{{0x90, 0x3C, 0x64}}));
    EXPECT_EQ(countOf(*second, Call::Reset), 1u);
    EXPECT_EQ(countOf(*first, Call::Reset), 0u);
}

TEST_F(CompositeTest, UnknownOrClosedHandleIsInvalid)
{
    Handle handle = kNoHandle;
    ASSERT_EQ(composite->open(1, handle), 0u);
    EXPECT_EQ(composite->close(handle), 0u);
    EXPECT_FALSE(first->isOpen(first->records().back().handle));

    MidiHeader header{kGsResetMsg.data(), 11, true};
    for (Handle h : {handle, Handle{0x100}, kNoHandle}) {
        EXPECT_EQ(composite->shortMessage(h, packShortMessage(0x90, 60, 100)), mmresult::InvalidHandle);
        EXPECT_EQ(composite->prepareHeader(h, header, kMidiHeaderSize), mmresult::InvalidHandle);
        EXPECT_EQ(composite->longMessage(h, header, kMidiHeaderSize), mmresult::InvalidHandle);
        EXPECT_EQ(composite->reset(h), mmresult::InvalidHandle);
        EXPECT_EQ(composite->close(h), mmresult::InvalidHandle);
    }
    EXPECT_TRUE(first->attemptedMessages().empty());
}

TEST_F(CompositeTest, OpenFailuresPassThroughWithNoHandle)
{
    second->failOpen(0, mmresult::Allocated);
    Handle handle = 0x42;
    EXPECT_EQ(composite->open(2, handle), mmresult::Allocated);
    EXPECT_EQ(handle, kNoHandle);

    handle = 0x42;
    EXPECT_EQ(composite->open(3, handle), mmresult::BadDeviceId);
    EXPECT_EQ(handle, kNoHandle);
    EXPECT_EQ(countOf(*first, Call::Open) + countOf(*second, Call::Open), 1u);
}

TEST_F(CompositeTest, DeviceNumbersFollowTheLatestCount)
{
    EXPECT_EQ(composite->deviceCount(), 3u);
    first->setDevices({"A0", "A1", "A2"});
    EXPECT_EQ(composite->deviceName(2), "B0");  // as the last listing showed it
    EXPECT_EQ(composite->deviceCount(), 4u);
    EXPECT_EQ(composite->deviceName(2), "A2");
    EXPECT_EQ(composite->deviceName(3), "B0");
}

TEST_F(CompositeTest, PortSwitchesFromOneBackendToAnother)
{
    test::VirtualClock clock;
    test::RecordingMessageBoxes boxes;
    MidiPort port(*composite, clock, boxes, Edition::Japanese);
    EXPECT_EQ(port.fillDeviceList(), (std::vector<std::string>{"A0", "A1", "B0"}));
    port.setDeviceId(port.deviceIdAt(0));
    ASSERT_EQ(port.openMidiPort(), 0u);

    port.switchDevice(2, [&] { port.sendScaleTuning({}, {}, 0); });

    EXPECT_TRUE(boxes.messages.empty());
    EXPECT_EQ(first->deliveredMessages(), (std::vector<Bytes>{{0xB9, 0x78, 0x00}}));
    EXPECT_EQ(first->openPortCount(), 0u);
    const auto delivered = second->deliveredMessages();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0], Bytes(kGsResetMsg.begin(), kGsResetMsg.end()));
    EXPECT_EQ(delivered[1].size(), 22u);
    EXPECT_EQ(countOf(*second, Call::Reset), 1u);
}

TEST(SystemMidiOutput, WithoutASequencerOnlyTheBuiltinSynthesizerIsListed)
{
    if (std::filesystem::exists("/dev/snd/seq"))
        GTEST_SKIP() << "an ALSA sequencer is present here";
    const std::unique_ptr<MidiOutput> output = createSystemMidiOutput();
    ASSERT_NE(output, nullptr);
    const unsigned count = output->deviceCount();
    EXPECT_LE(count, 1u);
    if (count == 1) {
        EXPECT_EQ(output->deviceName(0), std::string(kBuiltinSynthName));
    }
    EXPECT_FALSE(output->deviceName(count).has_value());
}
