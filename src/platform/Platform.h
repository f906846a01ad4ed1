#pragma once

#include "exercise/DateTimeFormat.h"
#include "shell/SettingsLocation.h"

#include <filesystem>

namespace velmora {
class Clock;
class RandomSource;
class MessageBoxes;
class Clipboard;
class WebShell;
class SoundClip;
class AdvertisingHook;
class SettingsFolders;
namespace midi {
class MidiOutput;
}

// Every operating-system service the program uses, handed in: the real ones in the program,
// recorders in the tests.
struct Platform {
    midi::MidiOutput& midi;
    Clock& clock;
    RandomSource& random;
    MessageBoxes& boxes;
    Clipboard& clipboard;
    WebShell& web;
    SoundClip& sound;
    AdvertisingHook& advertising;
    SettingsFolders& folders;
    SettingsLocation settingsLocation;
    DateTimeFormats dateTimeFormats;
};

}  // namespace velmora
