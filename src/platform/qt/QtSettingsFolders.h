#pragma once

#include "platform/SettingsFolders.h"

namespace velmora {

class QtSettingsFolders final : public SettingsFolders {
public:
    bool canCreateFilesIn(const std::filesystem::path& folder) const override;
    std::filesystem::path userConfigFolder() const override;
    bool createFolder(const std::filesystem::path& folder) override;
};

}  // namespace velmora
