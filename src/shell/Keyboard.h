#pragma once

#include "editions/Edition.h"
#include "editions/NoteKeyMap.h"

#include <array>
#include <functional>

namespace velmora::midi {
class MidiPort;
}

namespace velmora {

// The computer keyboard as a piano, shared by the main and the adjustment window: one set of
// held flags and one current note, so a key pressed in one window and released in the other
// still stops its note.
class Keyboard {
public:
    // Called with a note and whether its key on the main window now sounds (red) or rests.
    using LightKey = std::function<void(int note, bool sounding)>;

    Keyboard(Edition edition, midi::MidiPort& port);
    void setLightKey(LightKey lightKey) { m_lightKey = std::move(lightKey); }

    // A key down of a Windows virtual-key code, auto-repeats included.
    void keyDown(int virtualKey);
    // A key up; auto-repeat releases must not be passed in.
    void keyUp(int virtualKey);

    // Mouse on a key of the main window: no held flag is looked at or changed.
    void mouseDown(int note);
    void mouseUp(int note);

    int currentNote() const { return m_currentNote; }
    bool isHeld(int row) const { return m_held.at(std::size_t(row)); }
    bool referenceKeyHeld() const { return m_referenceKeyHeld; }
    void setReferenceKeyHeld(bool held) { m_referenceKeyHeld = held; }

private:
    void light(int note, bool sounding);

    Edition m_edition;
    midi::MidiPort& m_port;
    LightKey m_lightKey;
    int m_currentNote = 0;
    std::array<bool, kNoteKeyCount> m_held{};
    bool m_referenceKeyHeld = false;
};

}  // namespace velmora
