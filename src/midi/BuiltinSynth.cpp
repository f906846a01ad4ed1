#include "midi/BuiltinSynth.h"

#include "midi/RecordingMidiOutput.h"

namespace velmora::midi {

// Placeholder until the FluidSynth device lands: no built-in device is listed.
std::unique_ptr<MidiOutput> createBuiltinSynthOutput()
{
    return std::make_unique<RecordingMidiOutput>(std::vector<std::string>{});
}

}  // namespace velmora::midi
