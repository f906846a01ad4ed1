#pragma once

#include "editions/Edition.h"

#include <string>

namespace velmora {

// What a screen reader says for the program's controls, in the edition's words. No sighted user
// sees these texts; they are built here so that both editions say the same things.

// A correction in cents with its sign: "+3 cents", "0 cents", "-1 cent"; "+3セント".
std::string centsText(Edition edition, int cents);
// A pitch class as said: "C", "C sharp"; "Cシャープ". The captions keep "C#".
std::string spokenPitchClass(Edition edition, int pitchClass);
// A key of the keyboard by note and octave, MIDI note 60 being "C4": "F3", "A sharp 4"; "Aシャープ4".
std::string noteName(Edition edition, int note);
// One row of the results window: pitch class, the user's correction, the exact one.
std::string resultsRowText(Edition edition, int pitchClass, int user, int exact);
// The score as one sentence; `score` is the text the results window shows.
std::string scoreSentence(Edition edition, const std::string& score);

}  // namespace velmora
