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
    announceValue();
}

void PitchSlider::sliderChange(SliderChange change)
{
    QScrollBar::sliderChange(change);
    if (change == SliderValueChange)
        announceValue();
}

void PitchSlider::announceValue()
{
    if (!QAccessible::isActive())
        return;
    // QAbstractSlider reports the position; readers are given the cents and their words.
    QAccessibleValueChangeEvent value(this, cents());
    QAccessible::updateAccessibility(&value);
    QAccessibleEvent description(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&description);
}

}  // namespace velmora
