#include "shell/Keyboard.h"

#include "midi/MidiPort.h"

namespace velmora {

Keyboard::Keyboard(Edition edition, midi::MidiPort& port) : m_edition(edition), m_port(port) {}

void Keyboard::light(int note, bool sounding)
{
    if (m_lightKey)
        m_lightKey(note, sounding);
}

void Keyboard::keyDown(int virtualKey)
{
    if (const auto row = noteKeyRow(m_edition, virtualKey)) {
        m_currentNote = noteOfRow(*row);
        bool& held = m_held[std::size_t(*row)];
        if (!held) {
            held = true;
            m_port.noteOn(m_currentNote);
            light(m_currentNote, true);
        }
    } else if (virtualKey == kVkSpace) {
        m_port.damperOn();
    }
}

void Keyboard::keyUp(int virtualKey)
{
    if (const auto row = noteKeyRow(m_edition, virtualKey)) {
        m_currentNote = noteOfRow(*row);
        m_port.noteOff(m_currentNote);
        m_held[std::size_t(*row)] = false;
        light(m_currentNote, false);
    } else if (virtualKey == kVkSpace) {
        m_port.damperOff();
    }
}

void Keyboard::mouseDown(int note)
{
    m_currentNote = note;
    m_port.noteOn(m_currentNote);
    light(note, true);
}

void Keyboard::mouseUp(int note)
{
    m_currentNote = note;
    m_port.noteOff(m_currentNote);
    light(note, false);
}

}  // namespace velmora
