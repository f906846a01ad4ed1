#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace velmora::midi::synth {

// The folders where distributions install General MIDI SoundFonts, most usual first.
std::vector<std::filesystem::path> standardSoundFontFolders();

// The General MIDI SoundFont the built-in synthesizer plays, by preference of the file name
// over all folders; nullopt when none of the known fonts is installed.
std::optional<std::filesystem::path> findGeneralMidiSoundFont(
    const std::vector<std::filesystem::path>& folders = standardSoundFontFolders());

}  // namespace velmora::midi::synth
