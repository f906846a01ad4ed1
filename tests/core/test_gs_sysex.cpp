#include "midi/synth/GsSysex.h"
#include "midi/synth/KeyTuning.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <variant>
#include <vector>

using namespace velmora::midi::synth;

namespace {

// A GS data set with the Roland checksum over address and data.
std::vector<std::uint8_t> gsDataSet(std::uint8_t high, std::uint8_t mid, std::uint8_t low,
                                    const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> m{0xF0, 0x41, 0x10, 0x42, 0x12, high, mid, low};
    unsigned sum = high + mid + low;
    for (std::uint8_t b : data) {
        m.push_back(b);
        sum += b;
    }
    m.push_back(static_cast<std::uint8_t>((128 - sum % 128) % 128));
    m.push_back(0xF7);
    return m;
}

ScaleTuningChange tuningOf(const std::vector<std::uint8_t>& message)
{
    const SysexCommand command = parseSysex(message);
    EXPECT_TRUE(std::holds_alternative<ScaleTuningChange>(command));
    return std::holds_alternative<ScaleTuningChange>(command) ? std::get<ScaleTuningChange>(command)
                                                              : ScaleTuningChange{};
}

bool ignored(const std::vector<std::uint8_t>& message)
{
    return std::holds_alternative<IgnoredSysex>(parseSysex(message));
}

}  // namespace

TEST(GsSysex, ResetsAreRecognised)
{
    EXPECT_TRUE(std::holds_alternative<SystemReset>(
        parseSysex(std::vector<std::uint8_t>{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})));
    EXPECT_TRUE(std::holds_alternative<SystemReset>(
        parseSysex(std::vector<std::uint8_t>{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7})));
    // General MIDI System Off is not a reset; a GS reset with another data byte is no GS reset.
    EXPECT_TRUE(ignored({0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7}));
    EXPECT_TRUE(ignored(gsDataSet(0x40, 0x00, 0x7F, {0x01})));
}

TEST(GsSysex, WholeScaleOfPartOneGoesToChannelZero)
{
    // The message the program sends: C at -4 cents, A at +25, the rest untouched.
    std::vector<std::uint8_t> data(12, 0x40);
    data[0] = 0x3C;
    data[9] = 0x40 + 25;
    const auto message = gsDataSet(0x40, 0x11, 0x40, data);
    ASSERT_EQ(message.size(), 22u);
    EXPECT_EQ(message[20], 0x5A);

    const ScaleTuningChange change = tuningOf(message);
    EXPECT_EQ(change.channel, 0);
    EXPECT_EQ(change.firstPitchClass, 0);
    EXPECT_EQ(change.count, 12);
    EXPECT_EQ(change.cents[0], -4);
    EXPECT_EQ(change.cents[9], 25);
    EXPECT_EQ(change.cents[11], 0);
}

TEST(GsSysex, PartialRunsStartAnywhereInTheScale)
{
    const ScaleTuningChange a = tuningOf(gsDataSet(0x40, 0x11, 0x49, {0x40 - 30}));
    EXPECT_EQ(a.firstPitchClass, 9);
    EXPECT_EQ(a.count, 1);
    EXPECT_EQ(a.cents[0], -30);

    const ScaleTuningChange b = tuningOf(gsDataSet(0x40, 0x11, 0x4A, {0x00, 0x7F}));
    EXPECT_EQ(b.firstPitchClass, 10);
    EXPECT_EQ(b.count, 2);
    EXPECT_EQ(b.cents[0], -64);
    EXPECT_EQ(b.cents[1], 63);
}

TEST(GsSysex, PartBlocksMapToChannelsAsGsDoes)
{
    EXPECT_EQ(tuningOf(gsDataSet(0x40, 0x10, 0x40, {0x40})).channel, 9);
    EXPECT_EQ(tuningOf(gsDataSet(0x40, 0x12, 0x40, {0x40})).channel, 1);
    EXPECT_EQ(tuningOf(gsDataSet(0x40, 0x19, 0x40, {0x40})).channel, 8);
    EXPECT_EQ(tuningOf(gsDataSet(0x40, 0x1A, 0x40, {0x40})).channel, 10);
    EXPECT_EQ(tuningOf(gsDataSet(0x40, 0x1F, 0x40, {0x40})).channel, 15);
    for (int block = 0; block < 16; ++block)
        EXPECT_EQ(channelOfPartBlock(block), block == 0 ? 9 : block <= 9 ? block - 1 : block);
}

TEST(GsSysex, BrokenOrForeignMessagesAreIgnored)
{
    auto good = gsDataSet(0x40, 0x11, 0x40, std::vector<std::uint8_t>(12, 0x40));
    ASSERT_FALSE(ignored(good));

    auto badChecksum = good;
    badChecksum[20] ^= 0x01;
    EXPECT_TRUE(ignored(badChecksum));

    auto highData = gsDataSet(0x40, 0x11, 0x40, std::vector<std::uint8_t>(12, 0x40));
    highData[8] = 0x80;
    highData[20] = static_cast<std::uint8_t>((highData[20] + 0x80 - 0x40) & 0xFF);
    EXPECT_TRUE(ignored(highData));

    auto truncated = good;
    truncated.pop_back();
    EXPECT_TRUE(ignored(truncated));
    EXPECT_TRUE(ignored({0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0xF7}));
    EXPECT_TRUE(ignored({0xF0, 0xF7}));
    EXPECT_TRUE(ignored({}));

    EXPECT_TRUE(ignored(gsDataSet(0x40, 0x11, 0x4C, {0x40})));        // past B
    EXPECT_TRUE(ignored(gsDataSet(0x40, 0x11, 0x4A, {0x40, 0x40, 0x40})));  // runs past B
    EXPECT_TRUE(ignored(gsDataSet(0x40, 0x11, 0x00, {0x40})));        // another parameter
    EXPECT_TRUE(ignored(gsDataSet(0x40, 0x21, 0x40, {0x40})));        // another block
    EXPECT_TRUE(ignored(gsDataSet(0x41, 0x11, 0x40, {0x40})));        // another address space

    auto otherDevice = good;
    otherDevice[2] = 0x11;
    EXPECT_TRUE(ignored(otherDevice));
    auto otherModel = good;
    otherModel[3] = 0x45;
    EXPECT_TRUE(ignored(otherModel));
}

TEST(KeyTuning, ScaleTuningAndCorrectionAdd)
{
    std::array<int, 12> scale{};
    scale[9] = -30;
    KeyCents correction{};
    correction[69] = 1.37;
    correction[57] = -0.25;
    const KeyCents pitches = keyPitches(scale, correction);
    EXPECT_DOUBLE_EQ(pitches[69], 6900.0 - 30.0 + 1.37);
    EXPECT_DOUBLE_EQ(pitches[57], 5700.0 - 30.0 - 0.25);
    EXPECT_DOUBLE_EQ(pitches[81], 8100.0 - 30.0);
    EXPECT_DOUBLE_EQ(pitches[60], 6000.0);
}

TEST(KeyTuning, DrumsEffectsAndDrumKitsAreNotCalibrated)
{
    EXPECT_TRUE(isCalibrated(0, {0, 0}));
    EXPECT_TRUE(isCalibrated(1, {0, 111}));
    EXPECT_TRUE(isCalibrated(15, {8, 19}));
    EXPECT_FALSE(isCalibrated(9, {0, 0}));
    EXPECT_FALSE(isCalibrated(0, {0, 112}));
    EXPECT_FALSE(isCalibrated(0, {0, 127}));
    EXPECT_FALSE(isCalibrated(0, {128, 0}));
}
