#include "editions/NoteKeyMap.h"

#include <array>

namespace velmora {
namespace {

// Seventeen rows agree; A4, A#4 and B4 sit on the keys right of L and P of each home keyboard.
constexpr std::array<int, kNoteKeyCount> kJapanese{0x41, 0x57, 0x53, 0x45, 0x44, 0x52, 0x46,
                                                   0x47, 0x59, 0x48, 0x55, 0x4A, 0x4B, 0x4F,
                                                   0x4C, 0x50, 0xBB, 0xC0, 0xBA, 0xDD};
constexpr std::array<int, kNoteKeyCount> kEnglish{0x41, 0x57, 0x53, 0x45, 0x44, 0x52, 0x46,
                                                  0x47, 0x59, 0x48, 0x55, 0x4A, 0x4B, 0x4F,
                                                  0x4C, 0x50, 0xBA, 0xDB, 0xDE, 0xDD};

const std::array<int, kNoteKeyCount>& table(Edition edition)
{
    return edition == Edition::Japanese ? kJapanese : kEnglish;
}

}  // namespace

std::optional<int> noteKeyRow(Edition edition, int virtualKey)
{
    const auto& keys = table(edition);
    for (int row = 0; row < kNoteKeyCount; ++row)
        if (keys[static_cast<std::size_t>(row)] == virtualKey)
            return row;
    return std::nullopt;
}

int noteKeyCode(Edition edition, int row)
{
    return table(edition).at(static_cast<std::size_t>(row));
}

}  // namespace velmora
