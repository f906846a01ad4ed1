#pragma once

#include "midi/MidiOutput.h"

#include <memory>

namespace velmora::midi {

namespace synth {
struct BuiltinSynthOptions;
}

inline constexpr const char* kBuiltinSynthName = "Built-in GS synthesizer";

// What program 0 ("Acoustic Grand Piano") sounds like: the practice piano the synthesizer
// generates, in tune with itself throughout every note, or the SoundFont's recorded piano.
enum class PianoSound { Practice, Sampled };

// The device's options as the program runs it.
synth::BuiltinSynthOptions builtinSynthOptions(PianoSound piano);

// The program's own GS software synthesizer as a MIDI output with one device, or with none when
// no General MIDI SoundFont is installed or the synthesizer cannot be created.
std::unique_ptr<MidiOutput> createBuiltinSynthOutput(PianoSound piano = PianoSound::Practice);

}  // namespace velmora::midi
