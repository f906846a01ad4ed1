#include "exercise/gui/vostrelUnit2.h"

#include "editions/AccessibleText.h"
#include "editions/Catalogue.h"
#include "editions/Layout.h"
#include "exercise/Scoring.h"
#include "exercise/gui/PitchSlider.h"
#include "exercise/gui/vostrelUnit3.h"
#include "platform/Clock.h"
#include "platform/RandomSource.h"
#include "shell/gui/Application.h"
#include "shell/gui/KeyPreview.h"
#include "shell/gui/ScreenPlacement.h"
#include "windows/gui/vostrelUnit5.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

namespace velmora {

TForm2::TForm2(Application& app) : QWidget(nullptr), m_app(app)
{
    setObjectName("Form2");
    setWindowTitle(QString::fromStdString(m_app.text(TextKey::Form2Caption)));
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(185 - kFrameWidth, 485 - kFrameHeight);
    move(175, 278);
    keepOnScreen(*this);

    for (int k = 0; k < exercise::kPitchClasses; ++k) {
        auto* label = new QLabel(QString::fromUtf8(pitchClassLabel(k).data(), int(pitchClassLabel(k).size())), this);
        label->setObjectName(QStringLiteral("Label%1").arg(k + 1));
        label->setGeometry(0, 24 + 32 * k, 22, 12);
        m_labels[std::size_t(k)] = label;

        const Edition edition = m_app.edition();
        auto* bar = new PitchSlider([edition](int cents) { return QString::fromStdString(centsText(edition, cents)); },
                                    this);
        bar->setObjectName(QStringLiteral("ScrollBar%1").arg(k + 1));
        bar->setGeometry(24, 24 + 32 * k, 137, 17);
        bar->setRange(-32, 31);
        bar->setValue(0);
        // A click on the track moves by one position, like the arrows.
        bar->setSingleStep(1);
        bar->setPageStep(1);
        // Qt's scroll bars invert the arrow keys by default; here the right arrow adds, as the
        // position grows to the right.
        bar->setInvertedControls(false);
        bar->setFocusPolicy(Qt::StrongFocus);
        // The label beside the slider names it for readers, a sharp said as a word ("C sharp").
        label->setBuddy(bar);
        const QString spoken = QString::fromStdString(spokenPitchClass(edition, k));
        label->setAccessibleName(spoken);
        bar->setAccessibleName(spoken);
        // Readers say a new value as a bare number: the unit is said with the slider.
        bar->setAccessibleDescription(QString::fromStdString(m_app.text(TextKey::A11ySliderUnit)));
        const int number = k + 1;
        connect(bar, &QScrollBar::valueChanged, this, [this, number] {
            ScrollBar(number)->setEnabled(true);
            ScrollBarChange(number);
        });
        m_scrollBars[std::size_t(k)] = bar;
    }

    Button1 = new QPushButton(QString::fromStdString(m_app.text(TextKey::Form2Button1Caption)), this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(40, 416, 105, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);

    for (int k = 1; k < exercise::kPitchClasses; ++k)
        setTabOrder(m_scrollBars[std::size_t(k - 1)], m_scrollBars[std::size_t(k)]);
    setTabOrder(m_scrollBars.back(), Button1);
    m_scrollBars.front()->setFocus();

    Timer1 = new QTimer(this);
    Timer1->setInterval(200);
    connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
    Timer1->start();

    m_keyPreview = new KeyPreview(this, [this](QWidget* target, QKeyEvent* event) { return previewKey(target, event); });
}

void TForm2::FormCreate()
{
    m_app.platform().random.seedFromClock();
    show();
    m_app.exercise().resultRunActive = false;
    m_app.exercise().resultRunNote = exercise::kRunFirstNote;
    // Without a MIDI device there is no exercise to score.
    if (m_app.noMidiDevice())
        Button1->setEnabled(false);
}

void TForm2::closeEvent(QCloseEvent* event)
{
    // The adjustment window stays for the whole run.
    event->ignore();
}

void TForm2::ScrollBarChange(int number)
{
    m_app.sendScaleTuning();
    if (const auto* level = exercise::levelFor(m_app.difficultyIndex())) {
        const int position = ScrollBar(number)->value();
        if (TForm3* form3 = m_app.form3())
            form3->setUserField(number - 1, exercise::fieldText(position * level->step));
    }
    m_app.lockLevelAndInstrument();
}

void TForm2::applySliderRange(int minimum, int maximum)
{
    for (PitchSlider* bar : m_scrollBars) {
        bar->setMaximum(maximum);
        bar->setMinimum(minimum);
    }
}

void TForm2::resetSlidersToZero()
{
    for (PitchSlider* bar : m_scrollBars)
        bar->setValue(0);
}

void TForm2::setSlidersEnabled(bool enabled)
{
    for (PitchSlider* bar : m_scrollBars)
        bar->setEnabled(enabled);
}

void TForm2::setCentsPerStep(int cents)
{
    for (PitchSlider* bar : m_scrollBars)
        bar->setCentsPerStep(cents);
}

void TForm2::Button1Click()
{
    TForm3* form3 = m_app.form3();
    std::array<int, exercise::kPitchClasses> user{};
    std::array<int, exercise::kPitchClasses> exact{};
    for (int i = 0; i < exercise::kPitchClasses; ++i) {
        user[std::size_t(i)] = exercise::parseFieldValue(form3->userField(i)).value_or(0);
        exact[std::size_t(i)] = exercise::parseFieldValue(form3->exactField(i)).value_or(0);
    }
    auto& state = m_app.exercise();
    state.score = exercise::computeScore(user, exact);
    form3->setScore(exercise::fieldText(state.score));
    form3->showAndRaise();
    m_app.enableLevelChoice();
    Button1->setEnabled(false);
    setSlidersEnabled(false);
    state.endTime = m_app.platform().clock.now();
    state.resultRunActive = true;
}

void TForm2::Timer1Timer()
{
    auto& state = m_app.exercise();
    if (!state.resultRunActive)
        return;
    const exercise::RunStep step = exercise::resultRunTick(state.resultRunNote);
    for (const auto& message : step.messages)
        m_app.port().sendShort(message[0], message[1], message[2]);
    ++state.resultRunNote;
    if (step.finished) {
        state.resultRunActive = false;
        state.resultRunNote = exercise::kRunFirstNote;
    }
}

bool TForm2::previewKey(QWidget*, QKeyEvent* event)
{
    if (event->type() == QEvent::KeyPress && event->key() == Qt::Key_F6) {
        if (!event->isAutoRepeat())
            m_app.activateNextWindow(this);
        return true;
    }
    const int vk = virtualKeyOf(m_app.edition(), event);
    if (event->type() == QEvent::KeyPress)
        m_app.keyboard().keyDown(vk);
    else if (!event->isAutoRepeat())
        m_app.keyboard().keyUp(vk);
    // Every key goes on to the focused control.
    return false;
}

}  // namespace velmora
