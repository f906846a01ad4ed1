#include "shell/SettingsLocation.h"

#include "platform/SettingsFolders.h"
#include "shell/SettingsFile.h"

namespace velmora {

std::string_view userSettingsFolderName(Edition edition)
{
    return edition == Edition::English ? "velmora-english" : "velmora";
}

std::filesystem::path chooseSettingsPath(const std::filesystem::path& executable, Edition edition,
                                         SettingsFolders& folders)
{
    const std::filesystem::path beside = settingsPathFor(executable);
    if (folders.canCreateFilesIn(beside.parent_path()))
        return beside;
    const std::filesystem::path config = folders.userConfigFolder();
    if (config.empty())
        return beside;
    const std::filesystem::path folder = config / userSettingsFolderName(edition);
    // A folder that cannot be made shows up at shutdown, as the save fails with this path.
    folders.createFolder(folder);
    return folder / beside.filename();
}

}  // namespace velmora
