#pragma once

#include <array>
#include <compare>

namespace velmora::midi::synth {

inline constexpr int kChannels = 16;
inline constexpr int kDrumChannel = 9;
inline constexpr int kKeys = 128;
// General MIDI programs from here on are sound effects, without a pitch worth tuning.
inline constexpr int kFirstUnpitchedProgram = 112;

// Cents per key, 0 .. 127.
using KeyCents = std::array<double, kKeys>;

// A program as the synthesizer selects it: the bank (controller 0) and the program number.
struct PresetId {
    int bank = 0;
    int program = 0;

    auto operator<=>(const PresetId&) const = default;
};

// Whether the preset on a channel has a pitch that calibration should correct.
constexpr bool isCalibrated(int channel, PresetId preset)
{
    return channel != kDrumChannel && preset.bank < 128 && preset.program >= 0
        && preset.program < kFirstUnpitchedProgram;
}

// Absolute pitch of every key in cents (key 69 = 6900): equal temperament, moved by the key's
// calibration correction and by the scale tuning of its pitch class. The two simply add, so the
// scale tuning stays exact whatever the correction.
KeyCents keyPitches(const std::array<int, 12>& scaleCents, const KeyCents& calibration);

}  // namespace velmora::midi::synth
