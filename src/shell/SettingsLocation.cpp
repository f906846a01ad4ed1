#include "shell/SettingsLocation.h"

#include "platform/SettingsFolders.h"
#include "shell/SettingsFile.h"

#include <system_error>

namespace velmora {

std::string_view userSettingsFolderName(Edition edition)
{
    return edition == Edition::English ? "velmora-english" : "velmora";
}

SettingsLocation chooseSettingsLocation(const std::filesystem::path& executable, Edition edition,
                                        const SettingsFolders& folders)
{
    const std::filesystem::path beside = settingsPathFor(executable);
    if (folders.canCreateFilesIn(beside.parent_path()))
        return {beside, {}, {}};
    const std::filesystem::path config = folders.userConfigFolder();
    if (config.empty())
        return {beside, {}, {}};
    const std::filesystem::path folder = config / userSettingsFolderName(edition);
    return {folder / beside.filename(), beside, folder};
}

SettingsFile loadSettings(const SettingsLocation& location)
{
    std::error_code error;
    if (location.startValues.empty() || std::filesystem::exists(location.file, error) || error)
        return SettingsFile::load(location.file);
    return SettingsFile::load(location.startValues);
}

bool saveSettings(const SettingsFile& settings, const SettingsLocation& location, SettingsFolders& folders)
{
    // A folder that cannot be made shows up as the failed save of this location's file.
    if (!location.folderToMake.empty() && !folders.createFolder(location.folderToMake))
        return false;
    return settings.save(location.file);
}

}  // namespace velmora
