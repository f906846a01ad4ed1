#pragma once

#include "editions/Edition.h"

#include <cstdint>

namespace velmora {

// The Windows virtual-key code that the edition's home keyboard (Japanese JIS for the Japanese
// edition, US for the English one) reports for a key event, from the native X11/evdev key code
// (Linux key code + 8), falling back to the Qt key (Qt::Key value) when the native code is 0 or unknown.
// Returns 0 for keys without a code the program cares about.
//
// The native code names the key's place on the keyboard, so the piano keys stay where they are
// whatever layout the desktop has loaded; the Qt key, which follows the layout, is the fallback
// for platforms that give no native code.
int virtualKeyFor(Edition edition, std::uint32_t nativeScanCode, int qtKey);

// Linux evdev codes reach Qt as X11/xkb key codes, offset by 8.
inline constexpr std::uint32_t kEvdevToNativeOffset = 8;

}  // namespace velmora
