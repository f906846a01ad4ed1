#pragma once

#include "exercise/Levels.h"
#include "exercise/gui/PitchSlider.h"

#include <QWidget>

#include <array>

class QLabel;
class QPushButton;
class QTimer;

namespace velmora {

class Application;
class KeyPreview;

// The adjustment window: one slider per pitch class, the score button and the closing run.
class TForm2 final : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(Application& app);

    void FormCreate();
    PitchSlider* ScrollBar(int number) const { return m_scrollBars.at(std::size_t(number - 1)); }
    QLabel* Label(int number) const { return m_labels.at(std::size_t(number - 1)); }
    QPushButton* Button1 = nullptr;
    QTimer* Timer1 = nullptr;

    // The handler of slider k (1..12), run on every change of its position.
    void ScrollBarChange(int number);
    // Scoring.
    void Button1Click();
    void Timer1Timer();

    // Sets every slider's range, maximum first, slider by slider; pulled sliders run their handler.
    void applySliderRange(int minimum, int maximum);
    // Sets the sliders back to 0 in order; each one moved runs its handler.
    void resetSlidersToZero();
    void setSlidersEnabled(bool enabled);
    // The cents of one slider step at the current level, for what readers say.
    void setCentsPerStep(int cents);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool previewKey(QWidget* target, QKeyEvent* event);

    Application& m_app;
    std::array<QLabel*, exercise::kPitchClasses> m_labels{};
    std::array<PitchSlider*, exercise::kPitchClasses> m_scrollBars{};
    KeyPreview* m_keyPreview = nullptr;
};

}  // namespace velmora
