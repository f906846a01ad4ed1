#pragma once

#include <QScrollBar>

#include <functional>

namespace velmora {

// A slider of the adjustment window. It behaves as a plain scroll bar; what it adds is for screen
// readers: its value is the correction in cents (position times the level's step), said in the
// edition's words.
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

protected:
    void sliderChange(SliderChange change) override;

private:
    void announceWords();

    CentsText m_centsText;
    int m_centsPerStep = 1;
};

}  // namespace velmora
