#pragma once

#include <QScrollBar>

#include <functional>

namespace velmora {

// A slider of the adjustment window. It behaves as a plain scroll bar; what it adds is for screen
// readers: its value is the correction in cents (position times the level's step), with its words.
// A new position is told by QAbstractSlider itself, as a value change: readers say the number.
// No word change goes with it: Qt 6.4 sends name and description changes with an object where
// readers expect the new text, and Orca 43 fails on them.
class PitchSlider final : public QScrollBar {
    Q_OBJECT
public:
    using CentsText = std::function<QString(int cents)>;

    PitchSlider(CentsText centsText, QWidget* parent);

    int centsPerStep() const { return m_centsPerStep; }
    // A new level changes what the same position means; readers are told.
    void setCentsPerStep(int cents);
    int cents() const { return value() * m_centsPerStep; }
    QString valueText() const { return m_centsText(cents()); }

private:
    CentsText m_centsText;
    int m_centsPerStep = 1;
};

}  // namespace velmora
