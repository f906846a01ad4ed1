#include "shell/gui/Application.h"

#include "editions/Catalogue.h"
#include "exercise/Scoring.h"
#include "exercise/gui/vostrelUnit2.h"
#include "exercise/gui/vostrelUnit3.h"
#include "exercise/gui/vostrelUnit6.h"
#include "midi/GsMessages.h"
#include "platform/RandomSource.h"
#include "shell/gui/KeyShape.h"
#include "shell/gui/vostrelUnit1.h"
#include "windows/gui/vostrelUnit4.h"
#include "windows/gui/vostrelUnit5.h"
#include "windows/gui/vostrelUnit7.h"

#include <QAction>
#include <QMenu>
#include <QScrollBar>

#include <algorithm>
#include <vector>

namespace velmora {

Application::Application(Edition edition, Platform& platform)
    : m_edition(edition),
      m_platform(platform),
      m_port(platform.midi, platform.clock, platform.boxes, edition),
      m_keyboard(edition, m_port)
{
    m_keyboard.setLightKey([this](int note, bool sounding) {
        if (m_form1)
            if (KeyShape* shape = m_form1->shapeForNote(note))
                shape->setSounding(sounding);
    });
}

Application::~Application()
{
    // The main window goes last: its destruction cleans up the advertising component.
    m_form7.reset();
    m_form6.reset();
    m_form5.reset();
    m_form4.reset();
    m_form3.reset();
    m_form2.reset();
    m_form1.reset();
}

std::string Application::text(TextKey key) const
{
    return std::string(velmora::text(m_edition, key));
}

bool Application::createWindows()
{
    m_form1 = std::make_unique<TForm1>(*this);
    if (!m_form1->FormCreate())
        return false;
    m_form2 = std::make_unique<TForm2>(*this);
    m_form2->FormCreate();
    m_form3 = std::make_unique<TForm3>(*this);
    m_form3->FormCreate();
    m_form4 = std::make_unique<TForm4>(*this);
    m_form5 = std::make_unique<TForm5>(*this);
    m_form5->FormCreate();
    m_form6 = std::make_unique<TForm6>(*this);
    m_form7 = std::make_unique<TForm7>(*this);
    return true;
}

int Application::difficultyIndex() const
{
    return m_form5 ? m_form5->itemIndex() : 0;
}

std::array<int, exercise::kPitchClasses> Application::sliderPositions() const
{
    std::array<int, exercise::kPitchClasses> positions{};
    if (m_form2)
        for (int i = 0; i < exercise::kPitchClasses; ++i)
            positions[std::size_t(i)] = m_form2->ScrollBar(i + 1)->value();
    return positions;
}

void Application::newExercise()
{
    if (!m_form2 || !m_form3)
        return;
    if (const exercise::Level* level = exercise::levelFor(difficultyIndex())) {
        m_form2->setCentsPerStep(level->step);
        // Sliders pulled into a smaller range run their handlers here, with the old offsets.
        m_form2->applySliderRange(level->minimum, level->maximum);
        m_platform.random.seedFromClock();
        for (auto& offset : m_exercise.answerOffsets)
            offset = level->offsetForDraw(m_platform.random.draw(level->drawRange));
        for (int i = 0; i < exercise::kPitchClasses; ++i)
            m_form3->setExactField(i, exercise::fieldText(-m_exercise.answerOffsets[std::size_t(i)]));
        m_port.sendTuning(midi::exerciseTuningData(m_exercise.answerOffsets), midi::TuningOccasion::NewExercise);
    }
    m_form2->resetSlidersToZero();
}

bool Application::activateNextWindow(const QWidget* from)
{
    std::vector<QWidget*> cycle{m_form1.get(), m_form2.get()};
    if (m_form3 && m_form3->isVisible())
        cycle.push_back(m_form3.get());
    const auto at = std::find(cycle.begin(), cycle.end(), from);
    if (at == cycle.end() || !*at)
        return false;
    QWidget* next = std::next(at) == cycle.end() ? cycle.front() : *std::next(at);
    if (!next)
        return false;
    next->show();
    next->raise();
    next->activateWindow();
    return true;
}

void Application::sendScaleTuning()
{
    m_port.sendScaleTuning(m_exercise.answerOffsets, sliderPositions(), difficultyIndex());
}

void Application::lockLevelAndInstrument()
{
    if (m_form5) {
        m_form5->setEnabled(false);
        m_form5->hide();
    }
    if (m_form1)
        m_form1->N2->setEnabled(false);
    if (m_form7) {
        m_form7->setEnabled(false);
        m_form7->hide();
    }
    if (m_form1)
        m_form1->N3->setEnabled(false);
}

void Application::enableLevelChoice()
{
    if (m_form5)
        m_form5->setEnabled(true);
    if (m_form1)
        m_form1->N2->setEnabled(true);
}

void Application::unlockLevelAndInstrument()
{
    if (m_form1) {
        m_form1->N1->setEnabled(true);
        m_form1->N2->setEnabled(true);
    }
    if (m_form5)
        m_form5->setEnabled(true);
    if (m_form1)
        m_form1->N3->setEnabled(true);
    if (m_form7)
        m_form7->setEnabled(true);
}

}  // namespace velmora
