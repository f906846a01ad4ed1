#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

using VersionNumber = std::array<std::uint16_t, 4>;

// An edition's version resource, as kept in resources/<edition>/version.ini:
//   [Version]                 FileVersion, ProductVersion (a.b.c.d), Language, CodePage
//   [StringFileInfo\LLLLCCCC] the string entries, LLLL and CCCC being Language and CodePage in hex
struct VersionInfo {
    VersionNumber fileVersion{};
    VersionNumber productVersion{};
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
    std::string stringBlock;
    std::map<std::string, std::string, std::less<>> strings;
};

// nullopt when a value is missing or malformed, or the string block does not name the language
// and code page given above it.
std::optional<VersionInfo> parseVersionInfo(std::string_view iniText);

// "1.3.4.19"
std::string dottedVersion(const VersionNumber& version);

// The version as the user sees it: major, a dot, then minor and release run together ("1.34").
std::string shownVersion(const VersionNumber& version);

}  // namespace velmora
