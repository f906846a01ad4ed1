#pragma once

#include "midi/MidiOutput.h"

#include <memory>

namespace velmora::midi {

inline constexpr const char* kBuiltinSynthName = "Built-in GS synthesizer";

// The program's own GS software synthesizer as a MIDI output with one device, or with none when
// no General MIDI SoundFont is installed or the synthesizer cannot be created.
std::unique_ptr<MidiOutput> createBuiltinSynthOutput();

}  // namespace velmora::midi
