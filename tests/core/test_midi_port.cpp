#include "midi/MidiPort.h"

#include "Fakes.h"
#include "midi/RecordingMidiOutput.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::midi;
using Call = RecordingMidiOutput::Call;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kOpenFailedJa = "ＭＩＤＩデバイスが開けません";

class MidiPortTest : public ::testing::Test {
protected:
    explicit MidiPortTest(Edition edition = Edition::Japanese) : port(output, clock, boxes, edition)
    {
        output.setDevices({"Synth A", "Synth B", "Synth C"});
        output.setTimeSource([this] { return clock.elapsedMilliseconds(); });
    }

    // The port open on device 0, the records and waits of opening it forgotten.
    void openFirstDevice()
    {
        port.fillDeviceList();
        port.setDeviceId(0);
        ASSERT_EQ(port.openMidiPort(), 0u);
        output.clearRecords();
        clock.clearSleeps();
    }

    std::vector<RecordingMidiOutput::Record> recordsOf(Call call) const
    {
        std::vector<RecordingMidiOutput::Record> out;
        for (const auto& r : output.records())
            if (r.call == call)
                out.push_back(r);
        return out;
    }

    std::vector<Call> calls() const
    {
        std::vector<Call> out;
        for (const auto& r : output.records())
            out.push_back(r.call);
        return out;
    }

    test::VirtualClock clock;
    RecordingMidiOutput output;
    test::RecordingMessageBoxes boxes;
    MidiPort port;
};

class EnglishMidiPortTest : public MidiPortTest {
protected:
    EnglishMidiPortTest() : MidiPortTest(Edition::English) {}
};

std::array<std::int32_t, 12> offsetsWithC(std::int32_t c)
{
    std::array<std::int32_t, 12> offsets{};
    offsets[0] = c;
    return offsets;
}

}  // namespace

// --- channel messages -------------------------------------------------------------------------

TEST_F(MidiPortTest, NotesOnTheInstrumentChannel)
{
    openFirstDevice();
    port.noteOn(60);
    port.noteOff(60);
    EXPECT_EQ(output.deliveredMessages(), (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x7F}}));
}

TEST_F(MidiPortTest, ReferenceADamperAndAllSoundOff)
{
    openFirstDevice();
    port.noteOn(62);
    port.referenceOn();
    port.referenceOff();
    port.damperOn();
    port.damperOff();
    port.allSoundOff(0);
    port.allSoundOff(9);
    EXPECT_EQ(output.deliveredMessages(), (std::vector<Bytes>{{0x90, 0x3E, 0x64},
                                                               {0x91, 0x45, 0x64},
                                                               {0x81, 0x45, 0x7F},
                                                               {0xB0, 0x40, 0x7F},
                                                               {0xB0, 0x40, 0x00},
                                                               {0xB0, 0x78, 0x00},
                                                               {0xB9, 0x78, 0x00}}));
}

TEST_F(MidiPortTest, InstrumentGoesToBothChannelsWithoutBankSelect)
{
    openFirstDevice();
    port.selectInstrument(5);
    EXPECT_EQ(output.deliveredMessages(), (std::vector<Bytes>{{0xC0, 0x05}, {0xC1, 0x05}}));
}

TEST_F(MidiPortTest, ShortMessagesGoToTheOpenHandle)
{
    openFirstDevice();
    port.noteOn(60);
    const auto sent = recordsOf(Call::ShortMsg);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].handle, port.handle());
    EXPECT_NE(port.handle(), kNoHandle);
}

// --- device list ------------------------------------------------------------------------------

TEST_F(MidiPortTest, DeviceWhoseNameCannotBeReadIsSkipped)
{
    output.failDeviceName(1);
    const auto names = port.fillDeviceList();
    EXPECT_EQ(names, (std::vector<std::string>{"Synth A", "Synth C"}));
    EXPECT_EQ(port.deviceIdAt(0), 0);
    EXPECT_EQ(port.deviceIdAt(1), 2);
}

TEST_F(MidiPortTest, DeviceCountIsAskedAnewButTheStoredCountStays)
{
    port.setDeviceCount(int(port.queryDeviceCount()));
    EXPECT_EQ(port.deviceCount(), 3);

    output.setDevices({"Synth A", "Synth B", "Synth C", "Synth D"});
    const auto names = port.fillDeviceList();
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(port.deviceCount(), 3);
    EXPECT_EQ(recordsOf(Call::GetNumDevs).size(), 2u);
}

TEST_F(MidiPortTest, AtMost129DevicesAreListed)
{
    std::vector<std::string> many;
    for (int i = 0; i < 140; ++i)
        many.push_back("Port " + std::to_string(i));
    output.setDevices(many);
    output.failDeviceName(0);
    const auto names = port.fillDeviceList();
    ASSERT_EQ(names.size(), 129u);
    EXPECT_EQ(names.front(), "Port 1");
    EXPECT_EQ(port.deviceIdAt(128), 129);
}

// --- opening ----------------------------------------------------------------------------------

TEST_F(MidiPortTest, OpenSucceedingAtOnceDoesNotWait)
{
    port.setDeviceId(2);
    EXPECT_EQ(port.openMidiPort(), 0u);
    EXPECT_EQ(calls(), std::vector<Call>{Call::Open});
    EXPECT_EQ(recordsOf(Call::Open)[0].device, 2u);
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_TRUE(output.isOpen(port.handle()));
}

TEST_F(MidiPortTest, FailingOpenIsTriedSixTimesWithFiveWaits)
{
    output.failOpen(1, mmresult::Allocated);
    port.setDeviceId(1);
    EXPECT_EQ(port.openMidiPort(), mmresult::Allocated);
    EXPECT_EQ(calls(), (std::vector<Call>{Call::Open, Call::Close, Call::Open, Call::Close, Call::Open, Call::Close,
                                          Call::Open, Call::Close, Call::Open, Call::Close, Call::Open}));
    EXPECT_EQ(clock.sleeps(), (std::vector<int>{500, 500, 500, 500, 500}));
    EXPECT_DOUBLE_EQ(recordsOf(Call::Open).back().atMilliseconds, 2500.0);
}

// --- tuning sends -----------------------------------------------------------------------------

TEST_F(MidiPortTest, NewExerciseSendWaits300Then1000WithHeaderSize64)
{
    openFirstDevice();
    port.sendTuning(exerciseTuningData(offsetsWithC(-4)), TuningOccasion::NewExercise);

    EXPECT_EQ(calls(), (std::vector<Call>{Call::PrepareHeader, Call::LongMsg}));
    const auto prepare = recordsOf(Call::PrepareHeader)[0];
    const auto send = recordsOf(Call::LongMsg)[0];
    EXPECT_EQ(prepare.headerSize, 64u);
    EXPECT_EQ(send.headerSize, 64u);
    EXPECT_DOUBLE_EQ(prepare.atMilliseconds, 0.0);
    EXPECT_DOUBLE_EQ(send.atMilliseconds, 300.0);
    EXPECT_EQ(clock.sleeps(), (std::vector<int>{300, 1000}));

    ASSERT_EQ(send.bytes.size(), 22u);
    EXPECT_EQ(send.bytes[8], 0x3C);
    EXPECT_EQ(send.bytes[20], 0x73);
    EXPECT_EQ(Bytes(port.scaleTuningMsg().begin(), port.scaleTuningMsg().end()), send.bytes);
    EXPECT_EQ(port.lastResult(), 0u);
    EXPECT_TRUE(boxes.messages.empty());
}

TEST_F(MidiPortTest, SliderSendWaits300Then10AndShutdown300Then1000)
{
    openFirstDevice();
    port.sendScaleTuning({}, {}, 0);
    EXPECT_EQ(clock.sleeps(), (std::vector<int>{300, 10}));

    clock.clearSleeps();
    output.clearRecords();
    TuningData zero{};
    zero.fill(0x40);
    port.sendTuning(zero, TuningOccasion::Shutdown);
    EXPECT_EQ(clock.sleeps(), (std::vector<int>{300, 1000}));
    ASSERT_EQ(output.deliveredMessages().size(), 1u);
    EXPECT_EQ(output.deliveredMessages()[0][20], 0x6F);
}

TEST_F(MidiPortTest, FailedSendIsReportedAfterTheSettleWaitByCode)
{
    openFirstDevice();
    struct Case {
        std::uint32_t code;
        std::vector<std::string> shown;
    };
    const std::vector<Case> cases{{67, {"error1"}}, {64, {"error2"}}, {5, {"error3"}}, {11, {"error4"}},
                                  {1, {}},          {6, {}},          {68, {}}};
    for (const Case& c : cases) {
        boxes.messages.clear();
        output.failLongMessages(c.code);
        port.sendScaleTuning({}, {}, 1);
        EXPECT_EQ(boxes.messages, c.shown) << "code " << c.code;
        EXPECT_EQ(port.lastResult(), c.code);
    }
}

TEST_F(MidiPortTest, SendOnAPortNeverOpenedReportsError3)
{
    port.sendTuning(exerciseTuningData({}), TuningOccasion::NewExercise);
    EXPECT_EQ(port.lastResult(), mmresult::InvalidHandle);
    EXPECT_EQ(boxes.messages, std::vector<std::string>{"error3"});
    EXPECT_EQ(clock.sleeps(), (std::vector<int>{300, 1000}));
}

TEST_F(MidiPortTest, UnpreparedAtShutdownIsStillError2InJapanese)
{
    openFirstDevice();
    output.failLongMessages(mmresult::MidiUnprepared);
    port.sendTuning(exerciseTuningData({}), TuningOccasion::Shutdown);
    EXPECT_EQ(boxes.messages, std::vector<std::string>{"error2"});
}

TEST_F(EnglishMidiPortTest, UnpreparedAtShutdownHasItsOwnEnglishText)
{
    openFirstDevice();
    output.failLongMessages(mmresult::MidiUnprepared);
    port.sendTuning(exerciseTuningData({}), TuningOccasion::Shutdown);
    port.sendTuning(exerciseTuningData({}), TuningOccasion::NewExercise);
    port.sendScaleTuning({}, {}, 0);
    EXPECT_EQ(boxes.messages, (std::vector<std::string>{"error2--", "error2", "error2"}));
}

TEST_F(MidiPortTest, DifficultyOutsideTheLevelsResendsThePreviousBytes)
{
    openFirstDevice();
    std::array<int, 12> positions{};
    positions[4] = 3;
    port.sendScaleTuning(offsetsWithC(-30), positions, 2);
    const ScaleTuningMessage first = port.scaleTuningMsg();
    EXPECT_EQ(first[8], 0x40 - 30);
    EXPECT_EQ(first[12], 0x40 + 15);

    positions[4] = -7;
    port.sendScaleTuning(offsetsWithC(10), positions, -1);
    EXPECT_EQ(port.scaleTuningMsg(), first);
    ASSERT_EQ(output.deliveredMessages().size(), 2u);
    EXPECT_EQ(output.deliveredMessages()[1], Bytes(first.begin(), first.end()));
}

TEST_F(MidiPortTest, MessageWithAByteOf0x80OrMoreIsBuiltButNotSent)
{
    openFirstDevice();
    port.sendScaleTuning(offsetsWithC(-20), {}, 3);
    ASSERT_EQ(output.deliveredMessages().size(), 1u);
    output.clearRecords();
    clock.clearSleeps();
    output.failLongMessages(mmresult::MidiNotReady);  // would be reported if anything went out

    // Sliders still at the wide level's positions while the offsets belong to a smaller one.
    std::array<int, 12> positions{};
    positions[0] = 9;
    port.sendScaleTuning(offsetsWithC(20), positions, 3);

    EXPECT_EQ(port.scaleTuningMsg()[8], 0x40 + 20 + 90);
    EXPECT_GE(port.scaleTuningMsg()[8], 0x80);
    EXPECT_TRUE(output.records().empty());
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_TRUE(boxes.messages.empty());
    EXPECT_EQ(port.lastResult(), 0u);

    // The slider pulled back into range: the next message goes out as usual.
    output.failLongMessages(0);
    positions[0] = 2;
    port.sendScaleTuning(offsetsWithC(20), positions, 3);
    ASSERT_EQ(output.deliveredMessages().size(), 1u);
    EXPECT_EQ(output.deliveredMessages()[0][8], 0x40 + 40);
    EXPECT_EQ(clock.sleeps(), (std::vector<int>{300, 10}));
}

// --- GS reset ---------------------------------------------------------------------------------

TEST_F(MidiPortTest, GsResetIsSentWithoutWaitBeforeAndLeavesTheResultAlone)
{
    openFirstDevice();
    output.failLongMessages(mmresult::InvalidHandle);
    port.sendScaleTuning({}, {}, 0);
    boxes.messages.clear();
    output.clearRecords();
    clock.clearSleeps();

    port.sendGsReset(100);

    EXPECT_EQ(calls(), (std::vector<Call>{Call::PrepareHeader, Call::LongMsg}));
    const auto send = recordsOf(Call::LongMsg)[0];
    EXPECT_EQ(send.bytes, (Bytes{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}));
    EXPECT_EQ(send.headerSize, 64u);
    EXPECT_EQ(recordsOf(Call::PrepareHeader)[0].headerSize, 64u);
    EXPECT_DOUBLE_EQ(send.atMilliseconds, recordsOf(Call::PrepareHeader)[0].atMilliseconds);
    EXPECT_EQ(clock.sleeps(), std::vector<int>{100});
    EXPECT_TRUE(boxes.messages.empty());
    EXPECT_EQ(port.lastResult(), mmresult::InvalidHandle);  // still the tuning send's
}

// --- device switch ----------------------------------------------------------------------------

TEST_F(MidiPortTest, SwitchSilencesClosesOpensResetsAndResendsInOrder)
{
    openFirstDevice();
    const Handle oldHandle = port.handle();
    std::array<int, 12> positions{};
    positions[0] = 6;

    port.switchDevice(1, [&] { port.sendScaleTuning(offsetsWithC(-30), positions, 2); });

    const Handle newHandle = port.handle();
    EXPECT_NE(newHandle, oldHandle);
    EXPECT_EQ(port.deviceId(), 1);
    EXPECT_EQ(port.lastResult(), 0u);
    EXPECT_TRUE(boxes.messages.empty());

    const auto& r = output.records();
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r[0].call, Call::ShortMsg);
    EXPECT_EQ(r[0].handle, oldHandle);
    EXPECT_EQ(r[0].bytes, (Bytes{0xB9, 0x78, 0x00}));
    EXPECT_EQ(r[0].result, 0u);  // reached the old device before the close
    EXPECT_EQ(r[1].call, Call::Close);
    EXPECT_EQ(r[1].handle, oldHandle);
    EXPECT_EQ(r[2].call, Call::Open);
    EXPECT_EQ(r[2].device, 1u);
    EXPECT_EQ(r[3].call, Call::Reset);
    EXPECT_EQ(r[3].handle, newHandle);
    EXPECT_EQ(r[4].call, Call::PrepareHeader);
    EXPECT_EQ(r[5].call, Call::LongMsg);
    EXPECT_EQ(r[5].handle, newHandle);
    EXPECT_EQ(r[5].bytes, Bytes(kGsResetMsg.begin(), kGsResetMsg.end()));
    EXPECT_EQ(r[6].call, Call::PrepareHeader);
    EXPECT_EQ(r[7].call, Call::LongMsg);
    EXPECT_EQ(r[7].handle, newHandle);
    ASSERT_EQ(r[7].bytes.size(), 22u);
    EXPECT_EQ(r[7].bytes[8], 0x40);
    EXPECT_DOUBLE_EQ(r[7].atMilliseconds, 500.0);  // 200 after the GS reset, 300 before the send

    EXPECT_EQ(clock.sleeps(), (std::vector<int>{200, 300, 10}));
}

TEST_F(MidiPortTest, SwitchToADeviceThatCannotBeOpened)
{
    openFirstDevice();
    output.failOpen(2, mmresult::Allocated);
    std::uint32_t resultBeforeResend = 0;
    std::size_t messagesBeforeResend = 0;

    port.switchDevice(2, [&] {
        resultBeforeResend = port.lastResult();
        messagesBeforeResend = boxes.messages.size();
        port.sendScaleTuning({}, {}, 0);
    });

    EXPECT_EQ(resultBeforeResend, mmresult::Allocated);
    EXPECT_EQ(messagesBeforeResend, 1u);
    EXPECT_EQ(boxes.messages, (std::vector<std::string>{kOpenFailedJa, "error3"}));
    EXPECT_EQ(port.lastResult(), mmresult::InvalidHandle);

    const auto opens = recordsOf(Call::Open);
    ASSERT_EQ(opens.size(), 6u);
    EXPECT_DOUBLE_EQ(opens.back().atMilliseconds, 2500.0);
    EXPECT_EQ(clock.sleeps(), (std::vector<int>{500, 500, 500, 500, 500, 200, 300, 10}));
    // Reset and GS reset still go to the unopened port.
    EXPECT_EQ(recordsOf(Call::Reset).size(), 1u);
    EXPECT_EQ(recordsOf(Call::Reset)[0].result, mmresult::InvalidHandle);
    EXPECT_TRUE(output.deliveredMessages().size() == 1);  // only the B9 78 00 to the old device
}

TEST_F(EnglishMidiPortTest, OpenFailureOfASwitchInEnglish)
{
    openFirstDevice();
    output.failAllOpens(mmresult::NoDriver);
    port.switchDevice(1, nullptr);
    EXPECT_EQ(boxes.messages, std::vector<std::string>{"DO NOT OPEN MIDI GENERATOR"});
}

TEST_F(MidiPortTest, SwitchUsesTheDeviceNumberOfTheListPosition)
{
    output.failDeviceName(1);
    openFirstDevice();
    port.switchDevice(1, nullptr);
    const auto opens = recordsOf(Call::Open);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].device, 2u);
    EXPECT_EQ(port.deviceId(), 2);
}
