#pragma once

#include "editions/Edition.h"

#include <filesystem>
#include <string_view>

namespace velmora {

class SettingsFolders;

// The folder under the user's configuration folder that holds an edition's settings file. The
// editions get their own, as they do beside their programs, so that both can be installed.
std::string_view userSettingsFolderName(Edition edition);

// Where the settings file lives. Beside the program, named after it, when new files can be made
// there: the portable layout. Otherwise (a program installed into a folder the user cannot
// write) the same file name in the edition's folder of the user's configuration folder, which is
// created here; a file left beside such a program could never be saved and is not used.
std::filesystem::path chooseSettingsPath(const std::filesystem::path& executable, Edition edition,
                                         SettingsFolders& folders);

}  // namespace velmora
