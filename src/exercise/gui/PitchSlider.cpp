#include "exercise/gui/PitchSlider.h"

#include <QAccessible>

namespace velmora {

PitchSlider::PitchSlider(CentsText centsText, QWidget* parent)
    : QScrollBar(Qt::Horizontal, parent), m_centsText(std::move(centsText))
{
}

void PitchSlider::setCentsPerStep(int cents)
{
    if (cents < 1 || cents == m_centsPerStep)
        return;
    m_centsPerStep = cents;
    // The position stays, its meaning changes: a reader has to hear of it.
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, this->cents());
        QAccessible::updateAccessibility(&event);
    }
}

}  // namespace velmora
