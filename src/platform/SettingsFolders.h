#pragma once

#include <filesystem>

namespace velmora {

// What choosing the settings file's folder asks of the file system.
class SettingsFolders {
public:
    virtual ~SettingsFolders() = default;
    // True when new files can be made in the folder: the settings are saved through a temporary
    // file beside the target that is then renamed over it.
    virtual bool canCreateFilesIn(const std::filesystem::path& folder) const = 0;
    // The user's configuration folder ($XDG_CONFIG_HOME, else ~/.config); empty when unknown.
    virtual std::filesystem::path userConfigFolder() const = 0;
    // Creates the folder and its parents; false when that fails.
    virtual bool createFolder(const std::filesystem::path& folder) = 0;
};

}  // namespace velmora
