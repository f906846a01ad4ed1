#pragma once

#include "midi/BuiltinSynth.h"

namespace velmora {

class SettingsFile;

// The piano the built-in synthesizer plays for program 0: section "synth", key "piano", "sampled"
// for the SoundFont's recorded piano, anything else or nothing for the practice piano. The
// program never writes the key; the settings file keeps it across saves like any line it does
// not write.
midi::PianoSound readPianoSound(const SettingsFile& file);

}  // namespace velmora
