#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <variant>

namespace velmora::midi::synth {

// GS reset or General MIDI System On: programs, controllers and scale tunings back to defaults.
struct SystemReset {
    bool operator==(const SystemReset&) const = default;
};

// GS scale tuning of `count` consecutive pitch classes from `firstPitchClass` (0 = C) on one part.
struct ScaleTuningChange {
    int channel = 0;
    int firstPitchClass = 0;
    int count = 0;
    std::array<int, 12> cents{};  // the first `count` entries are used

    bool operator==(const ScaleTuningChange&) const = default;
};

// Anything the synthesizer does not act on: other addresses, bad checksums, broken messages.
struct IgnoredSysex {
    bool operator==(const IgnoredSysex&) const = default;
};

using SysexCommand = std::variant<IgnoredSysex, SystemReset, ScaleTuningChange>;

// Reads one complete system-exclusive message, F0 to F7.
SysexCommand parseSysex(std::span<const std::uint8_t> message);

// Channel index a GS part block of the address (40 1x ..) receives on: blocks 1..9 are parts 1..9
// on channels 0..8, block 0 is part 10 on channel 9 (the drums), blocks A..F are channels 10..15.
int channelOfPartBlock(int block);

}  // namespace velmora::midi::synth
