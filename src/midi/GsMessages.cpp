#include "midi/GsMessages.h"

#include <algorithm>

namespace velmora::midi {
namespace {

constexpr std::array<std::uint8_t, 8> kTuningPrefix{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x40};
constexpr std::uint8_t kSysexEnd = 0xF7;
// The address 40 11 40 enters the checksum as this constant rather than being read back.
constexpr unsigned kAddressSum = 0x40 + 0x11 + 0x40;
constexpr std::array<int, 4> kDifficultySteps{1, 3, 5, 10};

// 0x40 + cents, wrapped to eight bits the way the byte store wraps it.
std::uint8_t detuneByte(std::int64_t cents)
{
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>(0x40 + cents) & 0xFF);
}

}  // namespace

std::uint8_t computeTuningChecksum(const TuningData& data)
{
    unsigned sum = kAddressSum;
    for (std::uint8_t byte : data)
        sum += byte;
    const unsigned remainder = sum % 128;
    return static_cast<std::uint8_t>(remainder == 0 ? 0 : 128 - remainder);
}

ScaleTuningMessage buildScaleTuningMsg(const TuningData& data)
{
    ScaleTuningMessage message{};
    std::copy(kTuningPrefix.begin(), kTuningPrefix.end(), message.begin());
    std::copy(data.begin(), data.end(), message.begin() + kTuningPrefix.size());
    message[20] = computeTuningChecksum(data);
    message[21] = kSysexEnd;
    return message;
}

std::optional<TuningData> sliderTuningData(const std::array<std::int32_t, 12>& answerOffsets,
                                           const std::array<int, 12>& sliderPositions,
                                           int difficultyIndex)
{
    if (difficultyIndex < 0 || difficultyIndex >= static_cast<int>(kDifficultySteps.size()))
        return std::nullopt;
    const std::int64_t step = kDifficultySteps[static_cast<std::size_t>(difficultyIndex)];
    TuningData data{};
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = detuneByte(std::int64_t{answerOffsets[i]} + std::int64_t{sliderPositions[i]} * step);
    return data;
}

TuningData exerciseTuningData(const std::array<std::int32_t, 12>& answerOffsets)
{
    TuningData data{};
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = detuneByte(answerOffsets[i]);
    return data;
}

bool isValidSysex(const ScaleTuningMessage& message)
{
    if (message.front() != 0xF0 || message.back() != kSysexEnd)
        return false;
    return std::all_of(message.begin() + 1, message.end() - 1, [](std::uint8_t b) { return b < 0x80; });
}

}  // namespace velmora::midi
