#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The settings file in memory: INI text kept line by line, so that whatever the program does not
// know (comments, foreign sections and keys, stray lines) goes back to disk as it came.
//
// Matching follows the Windows private-profile functions: section and key names compare without
// regard to ASCII case, names and values are trimmed, the first of duplicate keys counts and only
// the first section of a name is looked at. Lines are read with LF or CR LF ends and always written
// with CR LF. Bytes are passed through unchanged (the program stores UTF-8).
class SettingsFile {
public:
    SettingsFile() = default;
    static SettingsFile fromText(std::string_view text);
    static SettingsFile load(const std::filesystem::path& path);  // missing or unreadable file = empty

    int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
    std::string readString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    void writeInteger(std::string_view section, std::string_view key, int value);
    void writeString(std::string_view section, std::string_view key, std::string_view value);

    std::string toText() const;
    // Writes a temporary file beside the target and renames it over the target, so a crash never
    // leaves a half-written file; false when the file cannot be written.
    bool save(const std::filesystem::path& path) const;

private:
    enum class LineKind { Other, Section, Entry };
    struct Line {
        std::string text;
        LineKind kind = LineKind::Other;
        // Offsets into text: the section name, or the key and the value, trimmed.
        std::size_t nameBegin = 0;
        std::size_t nameLength = 0;
        std::size_t valueBegin = 0;
        std::size_t valueLength = 0;

        std::string_view name() const { return std::string_view(text).substr(nameBegin, nameLength); }
        std::string_view value() const { return std::string_view(text).substr(valueBegin, valueLength); }
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    static Line parseLine(std::string text);
    std::size_t findSection(std::string_view section) const;
    std::size_t findEntry(std::size_t sectionLine, std::string_view key) const;

    std::vector<Line> m_lines;
    bool m_byteOrderMark = false;
};

// The executable's full path with its extension replaced by ".ini" (no extension: ".ini" appended).
std::filesystem::path settingsPathFor(const std::filesystem::path& executable);

// What the program keeps between runs. The reader and the writer spell several names differently
// ("height" / "Height", "Dev" "Dev_num" / "dev" "dev_num"); both spellings belong to the format.
struct StoredSettings {
    int height = 246;
    int width = 345;
    int top = 159;
    int left = 193;
    int deviceNumber = 0;          // written as a device number, read back as a list position
    std::string deviceName = "none";
    int map = 4;                   // kept only to be written back
    // "board" address: the results board the results window opens. Never written by the program,
    // so a file without the line follows the default, and a line put there (by the user, or by an
    // administrator in the file beside an installed program) stays as it is.
    std::string boardAddress;
};
// `boardAddress` falls back to exercise::ResultsBoardAddress when the line is missing or empty.
StoredSettings readStoredSettings(const SettingsFile& file);
// Writes the keys in the program's order: "window" Height, Width, Top, Left; "dev" dev_num, gakki, map.
void writeStoredSettings(SettingsFile& file, const StoredSettings& settings);

}  // namespace velmora
