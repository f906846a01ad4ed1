#pragma once

#include <QEvent>

namespace velmora {

// A control that acts on press and on release, as the windows' MouseDown/MouseUp handlers do.
enum class MouseStep { None, Down, Up };

// Every press of any mouse button is a Down: the second press of a quick pair arrives as a
// double-click, and it must act all the same.
inline MouseStep mouseStep(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return MouseStep::Down;
    case QEvent::MouseButtonRelease:
        return MouseStep::Up;
    default:
        return MouseStep::None;
    }
}

}  // namespace velmora
