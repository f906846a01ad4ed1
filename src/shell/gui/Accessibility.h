#pragma once

namespace velmora {

// Registers, for the lifetime of this object, the accessible interfaces of the program's own
// controls and windows: the keys of the keyboard (buttons with a pressed state), the sliders of
// the adjustment window (values in cents) and the windows (frames and dialogs with their captions).
class AccessibleInterfaces {
public:
    AccessibleInterfaces();
    ~AccessibleInterfaces();
    AccessibleInterfaces(const AccessibleInterfaces&) = delete;
    AccessibleInterfaces& operator=(const AccessibleInterfaces&) = delete;
};

}  // namespace velmora
