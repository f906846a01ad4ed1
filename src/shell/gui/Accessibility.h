#pragma once

#include <vector>

class QMenu;
class QWidget;

namespace velmora {

// Registers, for the lifetime of this object, the accessible interfaces of the program's own
// controls and windows: the keys of the keyboard (buttons with a pressed state), the sliders of
// the adjustment window (values in cents), the windows (frames and dialogs with their captions)
// and what the results window lets readers see of itself.
class AccessibleInterfaces {
public:
    AccessibleInterfaces();
    ~AccessibleInterfaces();
    AccessibleInterfaces(const AccessibleInterfaces&) = delete;
    AccessibleInterfaces& operator=(const AccessibleInterfaces&) = delete;
};

// Disabled items of `menu` can be reached with the arrow keys (and are read as unavailable);
// they still do nothing when chosen.
void keepDisabledItemsReachable(QMenu& menu);

// `window` has just been shown and `renewed` have become readable with it. A reader that learnt
// of them while the window was hidden would keep them as not visible (Qt's bridge tells readers
// of "showing" but never of "visible"), so they are given new identities and readers are told of
// them as new children; the window's description is announced as changed.
void renewForReaders(QWidget& window, const std::vector<QWidget*>& renewed);
// Readers are told that `window`'s description changed.
void tellDescriptionChanged(QWidget& window);

}  // namespace velmora
