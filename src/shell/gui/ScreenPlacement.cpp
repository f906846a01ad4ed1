#include "shell/gui/ScreenPlacement.h"

#include "editions/Layout.h"
#include "shell/WindowGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <vector>

namespace velmora {

void keepOnScreen(QWidget& window)
{
    std::vector<ScreenRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect r = screen->availableGeometry();
        screens.push_back({r.x(), r.y(), r.width(), r.height()});
    }
    const QPoint first = window.pos();
    const ScreenRect placed = placedOnScreen(
        {first.x(), first.y(), window.width() + kFrameWidth, window.height() + kFrameHeight}, screens);
    if (placed.left != first.x() || placed.top != first.y())
        window.move(placed.left, placed.top);
}

}  // namespace velmora
