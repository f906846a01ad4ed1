#pragma once

#include "editions/Catalogue.h"
#include "editions/Edition.h"
#include "exercise/ExerciseState.h"
#include "exercise/ResultsBoard.h"
#include "midi/MidiPort.h"
#include "platform/Platform.h"
#include "shell/Keyboard.h"
#include "shell/SettingsFile.h"
#include "shell/gui/Accessibility.h"

#include <array>
#include <memory>
#include <string>
#include <utility>

class QWidget;

namespace velmora {

class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;

// The one application object: the platform seams, the port, the exercise and keyboard state and
// the seven windows, all living for the whole run.
class Application {
public:
    Application(Edition edition, Platform& platform);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Creates the seven windows in order, each creation running to its end before the next.
    // False when the program has to end at once (no MIDI output device in the Japanese edition).
    bool createWindows();

    Edition edition() const { return m_edition; }
    Platform& platform() { return m_platform; }
    midi::MidiPort& port() { return m_port; }
    Keyboard& keyboard() { return m_keyboard; }
    exercise::ExerciseState& exercise() { return m_exercise; }
    SettingsFile& settings() { return m_settings; }

    // English edition only: no MIDI output device was found at start-up.
    bool noMidiDevice() const { return m_noMidiDevice; }
    void setNoMidiDevice(bool value) { m_noMidiDevice = value; }
    int mapSetting() const { return m_mapSetting; }
    void setMapSetting(int value) { m_mapSetting = value; }
    // The results board's page, from the settings file.
    const std::string& boardAddress() const { return m_boardAddress; }
    void setBoardAddress(std::string address) { m_boardAddress = std::move(address); }

    // A catalogue text of this edition.
    std::string text(TextKey key) const;

    TForm1* form1() const { return m_form1.get(); }
    TForm2* form2() const { return m_form2.get(); }
    TForm3* form3() const { return m_form3.get(); }
    TForm4* form4() const { return m_form4.get(); }
    TForm5* form5() const { return m_form5.get(); }
    TForm6* form6() const { return m_form6.get(); }
    TForm7* form7() const { return m_form7.get(); }

    // The selected item of the difficulty window, 0 before it exists.
    int difficultyIndex() const;
    // Slider positions of the adjustment window, C first.
    std::array<int, exercise::kPitchClasses> sliderPositions() const;

    // F6: the keyboard's way between the main, adjustment and (when open) results windows, which
    // otherwise only the mouse or the window manager reaches. False when `from` is none of them.
    bool activateNextWindow(const QWidget* from);

    // Draws, shows and sends a new exercise for the selected level and sets the sliders back to 0.
    void newExercise();
    // Rebuilds the whole scale from the offsets, the sliders and the level, and sends it.
    void sendScaleTuning();

    // Disables and hides the difficulty and instrument windows and their menu items.
    void lockLevelAndInstrument();
    // Enables the difficulty window (left hidden) and its menu item N2.
    void enableLevelChoice();
    // Enables N1, N2, the difficulty window, N3 and the instrument window, in this order.
    void unlockLevelAndInstrument();

private:
    AccessibleInterfaces m_accessibleInterfaces;
    Edition m_edition;
    Platform& m_platform;
    midi::MidiPort m_port;
    Keyboard m_keyboard;
    exercise::ExerciseState m_exercise;
    SettingsFile m_settings;
    bool m_noMidiDevice = false;
    int m_mapSetting = 4;
    std::string m_boardAddress = exercise::ResultsBoardAddress;

    std::unique_ptr<TForm1> m_form1;
    std::unique_ptr<TForm2> m_form2;
    std::unique_ptr<TForm3> m_form3;
    std::unique_ptr<TForm4> m_form4;
    std::unique_ptr<TForm5> m_form5;
    std::unique_ptr<TForm6> m_form6;
    std::unique_ptr<TForm7> m_form7;
};

}  // namespace velmora
