#pragma once

#include "editions/Edition.h"

#include <filesystem>
#include <string_view>

namespace velmora {

class SettingsFile;
class SettingsFolders;

// The folder under the user's configuration folder that holds an edition's settings file. The
// editions get their own, as they do beside their programs, so that both can be installed.
std::string_view userSettingsFolderName(Edition edition);

// Where the settings are read at start and written at shutdown.
struct SettingsLocation {
    // The file read at start and written at shutdown.
    std::filesystem::path file;
    // Read for the start values while `file` does not exist yet: the file beside an installed
    // program, which an administrator may have put there. Empty in the portable layout.
    std::filesystem::path startValues;
    // Made, with its parents, when the settings are written and not before: the edition's folder
    // in the user's configuration folder. Empty in the portable layout.
    std::filesystem::path folderToMake;
};

// Beside the program, named after it, when new files can be made there: the portable layout.
// Otherwise (a program installed into a folder the user cannot write) the same file name in the
// edition's folder of the user's configuration folder, with the file beside the program, if
// any, as the start values. Nothing is created here.
SettingsLocation chooseSettingsLocation(const std::filesystem::path& executable, Edition edition,
                                        const SettingsFolders& folders);

// The settings at start: the file, or the start values while the file does not exist; empty
// when neither can be read.
SettingsFile loadSettings(const SettingsLocation& location);
// Makes the location's folder when it has one, then saves; false when either fails.
bool saveSettings(const SettingsFile& settings, const SettingsLocation& location, SettingsFolders& folders);

}  // namespace velmora
