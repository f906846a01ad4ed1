#include "shell/SettingsFile.h"

#include "exercise/ResultsBoard.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>

#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace velmora {
namespace {

bool syncToDisk(int handle)
{
#ifdef Q_OS_WIN
    return handle >= 0 && _commit(handle) == 0;
#else
    return handle >= 0 && ::fsync(handle) == 0;
#endif
}

constexpr std::string_view kWhitespace = " \t\r\v\f";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(kWhitespace);
    return s.substr(first, last - first + 1);
}

char foldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Only ASCII letters fold: the names are ASCII, and folding bytes of a multi-byte text would
// make unrelated names equal.
bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
    return true;
}

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The toolkit's integer conversion: optional sign, decimal digits or hexadecimal after "$" or
// "0x". Hexadecimal takes any 32-bit pattern ("$FFFFFFFF" is -1); decimal must fit an int.
std::optional<int> parseInteger(std::string_view s)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == s.size())
        return std::nullopt;

    const std::uint64_t limit = base == 16 ? 0xFFFF'FFFFull : (negative ? 2'147'483'648ull : 2'147'483'647ull);
    std::uint64_t magnitude = 0;
    for (; i < s.size(); ++i) {
        const int digit = digitValue(s[i]);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (magnitude > limit)
            return std::nullopt;
    }
    const auto bits = static_cast<std::uint32_t>(magnitude);
    return static_cast<int>(negative ? 0u - bits : bits);
}

// A value holding a line break would split its line on the next load.
std::string singleLine(std::string_view value)
{
    std::string result(value);
    for (char& c : result)
        if (c == '\r' || c == '\n')
            c = ' ';
    return result;
}

bool isBlank(std::string_view line)
{
    return line.find_first_not_of(kWhitespace) == std::string_view::npos;
}

QString qtPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    const std::string& native = path.native();
    return QFile::decodeName(QByteArray(native.data(), static_cast<qsizetype>(native.size())));
#endif
}

}  // namespace

SettingsFile::Line SettingsFile::parseLine(std::string text)
{
    Line line;
    line.text = std::move(text);
    const std::string_view s = line.text;
    const auto first = s.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos || s[first] == ';')
        return line;

    if (s[first] == '[') {
        const auto close = s.find(']', first + 1);
        if (close == std::string_view::npos)
            return line;
        const std::string_view inner = s.substr(first + 1, close - first - 1);
        const std::string_view name = trim(inner);
        line.kind = LineKind::Section;
        line.nameBegin = name.empty() ? first + 1 : static_cast<std::size_t>(name.data() - s.data());
        line.nameLength = name.size();
        return line;
    }

    const auto equals = s.find('=', first);
    if (equals == std::string_view::npos)
        return line;
    const std::string_view key = trim(s.substr(first, equals - first));
    const std::string_view value = trim(s.substr(equals + 1));
    line.kind = LineKind::Entry;
    line.nameBegin = static_cast<std::size_t>(key.empty() ? first : key.data() - s.data());
    line.nameLength = key.size();
    line.valueBegin = value.empty() ? equals + 1 : static_cast<std::size_t>(value.data() - s.data());
    line.valueLength = value.size();
    return line;
}

SettingsFile SettingsFile::fromText(std::string_view text)
{
    SettingsFile file;
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        file.m_byteOrderMark = true;
        text.remove_prefix(kByteOrderMark.size());
    }
    std::size_t begin = 0;
    while (begin < text.size()) {
        auto end = text.find('\n', begin);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        file.m_lines.push_back(parseLine(std::string(line)));
        begin = end + 1;
    }
    return file;
}

SettingsFile SettingsFile::load(const std::filesystem::path& path)
{
    // Only a regular file: a device or a pipe under the settings name must not hang start-up.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::string content;
    std::array<char, 64 * 1024> buffer{};
    while (in.read(buffer.data(), buffer.size()) || in.gcount() > 0)
        content.append(buffer.data(), static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        return {};
    return fromText(content);
}

std::size_t SettingsFile::findSection(std::string_view section) const
{
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        if (m_lines[i].kind == LineKind::Section && equalsIgnoringCase(m_lines[i].name(), section))
            return i;
    return npos;
}

std::size_t SettingsFile::findEntry(std::size_t sectionLine, std::string_view key) const
{
    for (std::size_t i = sectionLine + 1; i < m_lines.size() && m_lines[i].kind != LineKind::Section; ++i)
        if (m_lines[i].kind == LineKind::Entry && equalsIgnoringCase(m_lines[i].name(), key))
            return i;
    return npos;
}

std::string SettingsFile::readString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const
{
    const std::size_t sectionLine = findSection(trim(section));
    if (sectionLine == npos)
        return std::string(defaultValue);
    const std::size_t entry = findEntry(sectionLine, trim(key));
    if (entry == npos)
        return std::string(defaultValue);
    return std::string(m_lines[entry].value());
}

int SettingsFile::readInteger(std::string_view section, std::string_view key, int defaultValue) const
{
    const std::size_t sectionLine = findSection(trim(section));
    if (sectionLine == npos)
        return defaultValue;
    const std::size_t entry = findEntry(sectionLine, trim(key));
    if (entry == npos)
        return defaultValue;
    return parseInteger(m_lines[entry].value()).value_or(defaultValue);
}

void SettingsFile::writeInteger(std::string_view section, std::string_view key, int value)
{
    writeString(section, key, std::to_string(value));
}

void SettingsFile::writeString(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string sectionName = singleLine(trim(section));
    const std::string keyName = singleLine(trim(key));
    Line entryLine = parseLine(keyName + "=" + singleLine(value));

    const std::size_t sectionLine = findSection(sectionName);
    if (sectionLine == npos) {
        if (!m_lines.empty() && !isBlank(m_lines.back().text))
            m_lines.push_back(parseLine({}));
        m_lines.push_back(parseLine("[" + sectionName + "]"));
        m_lines.push_back(std::move(entryLine));
        return;
    }

    const std::size_t existing = findEntry(sectionLine, keyName);
    if (existing != npos) {
        m_lines[existing] = std::move(entryLine);
        return;
    }

    // After the section's last non-blank line, so the blank line before the next section stays.
    std::size_t insertAt = sectionLine + 1;
    for (std::size_t i = sectionLine + 1; i < m_lines.size() && m_lines[i].kind != LineKind::Section; ++i)
        if (!isBlank(m_lines[i].text))
            insertAt = i + 1;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(entryLine));
}

std::string SettingsFile::toText() const
{
    std::size_t size = m_byteOrderMark ? kByteOrderMark.size() : 0;
    for (const Line& line : m_lines)
        size += line.text.size() + 2;
    std::string text;
    text.reserve(size);
    if (m_byteOrderMark)
        text += kByteOrderMark;
    for (const Line& line : m_lines) {
        text += line.text;
        text += "\r\n";
    }
    return text;
}

bool SettingsFile::save(const std::filesystem::path& path) const
{
    QSaveFile file(qtPath(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const std::string text = toText();
    // A text smaller than the file buffer is only written when flushed, and a full disk may show
    // only at the sync; the commit would rename the empty file over the old one without checking.
    if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())
        || !file.flush() || !syncToDisk(file.handle())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

std::filesystem::path settingsPathFor(const std::filesystem::path& executable)
{
    std::filesystem::path path = executable;
    path.replace_extension(".ini");
    return path;
}

StoredSettings readStoredSettings(const SettingsFile& file)
{
    const StoredSettings defaults;
    StoredSettings settings;
    settings.height = file.readInteger("window", "height", defaults.height);
    settings.width = file.readInteger("window", "width", defaults.width);
    settings.top = file.readInteger("window", "top", defaults.top);
    settings.left = file.readInteger("window", "left", defaults.left);
    settings.deviceNumber = file.readInteger("Dev", "Dev_num", defaults.deviceNumber);
    settings.deviceName = file.readString("dev", "gakki", defaults.deviceName);
    settings.map = file.readInteger("dev", "map", defaults.map);
    settings.boardAddress = file.readString("board", "address", "");
    if (settings.boardAddress.empty())
        settings.boardAddress = exercise::ResultsBoardAddress;
    return settings;
}

void writeStoredSettings(SettingsFile& file, const StoredSettings& settings)
{
    file.writeInteger("window", "Height", settings.height);
    file.writeInteger("window", "Width", settings.width);
    file.writeInteger("window", "Top", settings.top);
    file.writeInteger("window", "Left", settings.left);
    file.writeInteger("dev", "dev_num", settings.deviceNumber);
    file.writeString("dev", "gakki", settings.deviceName);
    file.writeInteger("dev", "map", settings.map);
}

}  // namespace velmora
