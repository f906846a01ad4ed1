#include "shell/PianoSetting.h"

#include "shell/SettingsFile.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace velmora {

midi::PianoSound readPianoSound(const SettingsFile& file)
{
    std::string value = file.readString("synth", "piano", "practice");
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return value == "sampled" ? midi::PianoSound::Sampled : midi::PianoSound::Practice;
}

}  // namespace velmora
