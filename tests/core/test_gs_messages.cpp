#include "midi/GsMessages.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace velmora::midi;

namespace {

TuningData allAt(std::uint8_t value)
{
    TuningData data{};
    data.fill(value);
    return data;
}

}  // namespace

TEST(TuningChecksum, KnownMessages)
{
    EXPECT_EQ(computeTuningChecksum(allAt(0x40)), 0x6F);

    TuningData cFlat = allAt(0x40);
    cFlat[0] = 0x3C;  // C four cents flat
    EXPECT_EQ(computeTuningChecksum(cFlat), 0x73);

    // 0x91 + 0x2F + 11 * 0x40 = 896, a multiple of 128: the checksum is 0, never 128.
    cFlat[0] = 0x2F;
    EXPECT_EQ(computeTuningChecksum(cFlat), 0x00);
}

TEST(TuningChecksum, AddressDataAndChecksumSumToMultipleOf128)
{
    for (int seed = 0; seed < 200; ++seed) {
        TuningData data{};
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>((seed * 37 + int(i) * 11) % 128);
        const std::uint8_t checksum = computeTuningChecksum(data);
        const int sum = std::accumulate(data.begin(), data.end(), 0x40 + 0x11 + 0x40) + checksum;
        EXPECT_LT(checksum, 0x80) << "seed " << seed;
        EXPECT_EQ(sum % 128, 0) << "seed " << seed;
    }
}

TEST(ScaleTuningMessage, ZeroDetuneIsTheRestoreMessage)
{
    const ScaleTuningMessage expected{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x40, 0x40, 0x40, 0x40,
                                      0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x6F, 0xF7};
    EXPECT_EQ(buildScaleTuningMsg(allAt(0x40)), expected);
    EXPECT_TRUE(isValidSysex(expected));
}

TEST(ScaleTuningMessage, DataBytesInPitchClassOrderAndChecksumAtTwenty)
{
    TuningData data{};
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(0x30 + i);
    const ScaleTuningMessage message = buildScaleTuningMsg(data);
    for (std::size_t i = 0; i < data.size(); ++i)
        EXPECT_EQ(message[8 + i], data[i]);
    EXPECT_EQ(message[20], computeTuningChecksum(data));
    EXPECT_EQ(message[21], 0xF7);
}

TEST(GsReset, BytesAndChecksumFollowTheSameRule)
{
    const std::array<std::uint8_t, 11> expected{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    EXPECT_EQ(kGsResetMsg, expected);
    const int sum = 0x40 + 0x00 + 0x7F + 0x00 + kGsResetMsg[9];
    EXPECT_EQ(sum % 128, 0);
}

TEST(SliderTuningData, StepOfEachDifficulty)
{
    const std::array<std::int32_t, 12> noOffsets{};
    std::array<int, 12> positions{};
    positions[3] = 1;
    positions[7] = -2;
    const std::array<int, 4> steps{1, 3, 5, 10};
    for (int index = 0; index < 4; ++index) {
        const auto data = sliderTuningData(noOffsets, positions, index);
        ASSERT_TRUE(data.has_value()) << "index " << index;
        EXPECT_EQ((*data)[3], 0x40 + steps[index]);
        EXPECT_EQ((*data)[7], 0x40 - 2 * steps[index]);
        EXPECT_EQ((*data)[0], 0x40);
    }
}

TEST(SliderTuningData, CorrectSliderBringsPitchClassBackToNoDetune)
{
    std::array<std::int32_t, 12> offsets{};
    offsets[0] = -30;
    offsets[9] = 25;
    std::array<int, 12> positions{};
    positions[0] = 6;
    positions[9] = -5;
    const auto data = sliderTuningData(offsets, positions, 2);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ((*data)[0], 0x40);
    EXPECT_EQ((*data)[9], 0x40);
}

TEST(SliderTuningData, DifficultyOutsideTheFourLevelsGivesNothing)
{
    const std::array<std::int32_t, 12> offsets{};
    const std::array<int, 12> positions{};
    EXPECT_FALSE(sliderTuningData(offsets, positions, -1).has_value());
    EXPECT_FALSE(sliderTuningData(offsets, positions, 4).has_value());
}

TEST(SliderTuningData, WrapsInEightBitsAndSuchMessagesAreNotValidSysex)
{
    // A wider level's slider positions against a smaller level's offsets.
    std::array<std::int32_t, 12> offsets{};
    offsets[0] = 50;
    offsets[1] = -50;
    std::array<int, 12> positions{};
    positions[0] = 10;
    positions[1] = -10;
    const auto data = sliderTuningData(offsets, positions, 3);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ((*data)[0], 0xD6);  // 0x40 + 150
    EXPECT_EQ((*data)[1], 0xAA);  // 0x40 - 150 + 256
    EXPECT_FALSE(isValidSysex(buildScaleTuningMsg(*data)));
}

TEST(ExerciseTuningData, OffsetsAroundNoDetune)
{
    std::array<std::int32_t, 12> offsets{};
    for (std::size_t i = 0; i < offsets.size(); ++i)
        offsets[i] = static_cast<std::int32_t>(i) * 10 - 60;
    const TuningData data = exerciseTuningData(offsets);
    EXPECT_EQ(data[0], 0x04);
    EXPECT_EQ(data[6], 0x40);
    EXPECT_EQ(data[11], 0x72);
}

TEST(ValidSysex, RejectsHighDataBytesAndMissingFrame)
{
    ScaleTuningMessage message = buildScaleTuningMsg(allAt(0x7F));
    EXPECT_TRUE(isValidSysex(message));
    message[19] = 0x80;
    EXPECT_FALSE(isValidSysex(message));
    EXPECT_FALSE(isValidSysex(ScaleTuningMessage{}));  // the buffer before the first build
}
