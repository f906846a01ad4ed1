#include "shell/gui/KeyShape.h"

#include <QAccessible>
#include <QMouseEvent>
#include <QPainter>

namespace velmora {

KeyShape::KeyShape(int note, bool black, QWidget* parent)
    : QWidget(parent), m_note(note), m_black(black), m_color(restColor())
{
    // A click on the keyboard must not take the focus from the list or the buttons.
    setFocusPolicy(Qt::NoFocus);
}

void KeyShape::setSounding(bool sounding)
{
    const QColor next = sounding ? QColor(255, 0, 0) : restColor();
    if (next != m_color) {
        m_color = next;
        update();
        if (QAccessible::isActive()) {
            QAccessible::State changed;
            changed.pressed = true;
            QAccessibleStateChangeEvent event(this, changed);
            QAccessible::updateAccessibility(&event);
        }
    }
}

void KeyShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_color);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void KeyShape::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    emit mouseDown(m_note);
}

void KeyShape::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    emit mouseUp(m_note);
}

}  // namespace velmora
