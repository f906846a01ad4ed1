#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace velmora::midi {

using ScaleTuningMessage = std::array<std::uint8_t, 22>;
using TuningData = std::array<std::uint8_t, 12>;  // C .. B, 0x40 = no detune

inline constexpr std::array<std::uint8_t, 11> kGsResetMsg{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40,
                                                          0x00, 0x7F, 0x00, 0x41, 0xF7};

// Roland checksum over the address 40 11 40 (counted as 0x91) and the twelve data bytes.
std::uint8_t computeTuningChecksum(const TuningData& data);

// F0 41 10 42 12 40 11 40, the data, the checksum, F7.
ScaleTuningMessage buildScaleTuningMsg(const TuningData& data);

// Data byte i = 0x40 + offsets[i] + positions[i] * step, in 8-bit arithmetic.
// nullopt for a difficulty index outside 0..3: the previous message's bytes stay.
std::optional<TuningData> sliderTuningData(const std::array<std::int32_t, 12>& answerOffsets,
                                           const std::array<int, 12>& sliderPositions,
                                           int difficultyIndex);

// Data byte i = 0x40 + offsets[i].
TuningData exerciseTuningData(const std::array<std::int32_t, 12>& answerOffsets);

// True when every byte between F0 and F7 is a data byte (below 0x80).
bool isValidSysex(const ScaleTuningMessage& message);

}  // namespace velmora::midi
