#pragma once

#include "midi/synth/SoundFontLocator.h"

#include <cstdio>
#include <optional>
#include <string>

namespace velmora::bench {

// The font named with --soundfont, else the installed General MIDI font the program would play;
// nullopt (after saying so) when there is neither.
inline std::optional<std::string> soundFontToPlay(const std::string& named)
{
    if (!named.empty())
        return named;
    if (const auto found = midi::synth::findGeneralMidiSoundFont())
        return found->string();
    std::fprintf(stderr, "no General MIDI SoundFont installed\n");
    return std::nullopt;
}

}  // namespace velmora::bench
