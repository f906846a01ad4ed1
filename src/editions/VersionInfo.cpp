#include "editions/VersionInfo.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace velmora {

namespace {

std::string_view trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

std::optional<std::uint32_t> number(std::string_view text, int base)
{
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "0x0411" or "932".
std::optional<std::uint16_t> word(std::string_view text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::optional<std::uint32_t> value = number(hex ? text.substr(2) : text, hex ? 16 : 10);
    if (!value || *value > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

std::optional<VersionNumber> versionNumber(std::string_view text)
{
    VersionNumber version{};
    for (std::size_t i = 0; i < version.size(); ++i) {
        const std::size_t dot = i + 1 < version.size() ? text.find('.') : text.size();
        if (dot == std::string_view::npos)
            return std::nullopt;
        const std::optional<std::uint32_t> part = number(text.substr(0, dot), 10);
        if (!part || *part > 0xFFFF)
            return std::nullopt;
        version[i] = static_cast<std::uint16_t>(*part);
        text.remove_prefix(std::min(text.size(), dot + 1));
    }
    return version;
}

}  // namespace

std::optional<VersionInfo> parseVersionInfo(std::string_view iniText)
{
    constexpr std::string_view kBlockPrefix = "StringFileInfo\\";
    VersionInfo info;
    std::map<std::string, std::string, std::less<>> version;
    bool haveBlock = false;
    enum class Section { None, Version, Strings, Other } section = Section::None;

    while (!iniText.empty()) {
        const std::size_t end = iniText.find('\n');
        const std::string_view line = trimmed(iniText.substr(0, end));
        iniText.remove_prefix(end == std::string_view::npos ? iniText.size() : end + 1);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return std::nullopt;
            const std::string_view name = line.substr(1, line.size() - 2);
            if (name == "Version") {
                section = Section::Version;
            } else if (name.starts_with(kBlockPrefix)) {
                if (haveBlock)
                    return std::nullopt;
                section = Section::Strings;
                info.stringBlock = name.substr(kBlockPrefix.size());
                haveBlock = true;
            } else {
                section = Section::Other;
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        std::string key(trimmed(line.substr(0, equals)));
        std::string value(trimmed(line.substr(equals + 1)));
        if (section == Section::Version)
            version[std::move(key)] = std::move(value);
        else if (section == Section::Strings)
            info.strings[std::move(key)] = std::move(value);
    }

    auto field = [&](std::string_view key) -> std::string_view {
        const auto it = version.find(key);
        return it == version.end() ? std::string_view{} : std::string_view{it->second};
    };
    const auto fileVersion = versionNumber(field("FileVersion"));
    const auto productVersion = versionNumber(field("ProductVersion"));
    const auto language = word(field("Language"));
    const auto codePage = word(field("CodePage"));
    if (!fileVersion || !productVersion || !language || !codePage || !haveBlock)
        return std::nullopt;
    info.fileVersion = *fileVersion;
    info.productVersion = *productVersion;
    info.language = *language;
    info.codePage = *codePage;

    char expectedBlock[9];
    std::snprintf(expectedBlock, sizeof expectedBlock, "%04X%04X", unsigned{info.language}, unsigned{info.codePage});
    if (info.stringBlock != expectedBlock)
        return std::nullopt;
    return info;
}

std::string dottedVersion(const VersionNumber& version)
{
    return std::to_string(version[0]) + '.' + std::to_string(version[1]) + '.' + std::to_string(version[2]) + '.' +
           std::to_string(version[3]);
}

std::string shownVersion(const VersionNumber& version)
{
    return std::to_string(version[0]) + '.' + std::to_string(version[1]) + std::to_string(version[2]);
}

}  // namespace velmora
