#pragma once

#include "editions/Edition.h"

#include <optional>

namespace velmora {

// The twenty computer keys that play notes 53..72, by Windows virtual-key code.
inline constexpr int kNoteKeyCount = 20;
inline constexpr int kFirstKeyNote = 53;
inline constexpr int kVkSpace = 0x20;

// Row 0..19 of the edition's table for a virtual-key code, or nullopt for a key that plays nothing.
std::optional<int> noteKeyRow(Edition edition, int virtualKey);
// Virtual-key code of a row of the edition's table.
int noteKeyCode(Edition edition, int row);
// The note a row plays: 53 + row.
inline constexpr int noteOfRow(int row) { return kFirstKeyNote + row; }

}  // namespace velmora
