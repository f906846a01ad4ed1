#pragma once

class QWidget;

namespace velmora {

// Moves a top-level window, placed at its first position but not yet shown, onto the screen when
// that position would leave part of it off every screen (a large scale factor, a small screen).
// Its outer size is taken as its own area plus the frame the stored sizes count.
void keepOnScreen(QWidget& window);

}  // namespace velmora
