#pragma once

#include "editions/Edition.h"

#include <string_view>
#include <vector>

namespace velmora {

// Every user-visible text of the program, by key. Texts are UTF-8.
enum class TextKey {
    Form1Caption,
    Form1Label1Caption,
    Form1Button1Caption,
    Form1Button2Caption,
    Form1N1Caption,
    Form1N2Caption,
    Form1N3Caption,
    StatusNoSynth,

    Form2Caption,
    Form2Button1Caption,

    Form3Caption,
    Form3Label1Caption,
    Form3Label2Caption,
    Form3Label15Caption,
    Form3Label16Caption,
    Form3Label17Caption,
    Form3StaticTextCaption,
    Form3Button1Caption,
    Form3Button2Caption,
    Form3Button3Caption,
    Form3Button4Caption,
    Form3Button4Hint,

    Form4Caption,
    HintPictureTitleFirst,   // the first part of the picture's title (green)
    HintPictureTitleSecond,  // its closing part (blue)
    HintPictureLegendTuned,
    HintPictureLegendReference,
    HintPictureLegendOctave,
    HintPictureLegendFourth,
    HintPictureLegendFifth,

    Form5Caption,
    Form5RadioGroup1Caption,
    Form5Item0,
    Form5Item1,
    Form5Item2,
    Form5Item3,

    Form6Caption,
    Form7Caption,

    MsgNoSynth,
    MsgOpenResult1,
    MsgOpenResult2,
    MsgOpenResult3,
    MsgOpenResult4,
    MsgOpenResult5,
    MsgOpenResult6,
    MsgOpenResult7,
    MsgOpenResult8,
    MsgOpenResult9,
    MsgOpenResult10,
    MsgOpenResult11,
    MsgOpenResult12,
    MsgOpenResult13,
    MsgOpenResult20,
    MsgOpenFailed,
    MsgSendError1,
    MsgSendError2,
    MsgSendError2Close,
    MsgSendError3,
    MsgSendError4,
    MsgClipboardCannotOpen,
    MsgSettingsNotSaved,

    RptRule,
    RptHeading,
    RptGap,
    RptScore,
    RptDevice,
    RptInstrument,
    RptLevel,
    RptLevelName0,
    RptLevelName1,
    RptLevelName2,
    RptLevelName3,
    RptReference,
    RptReferenceUsed,
    RptReferenceNotUsed,
    RptStart,
    RptEnd,
    RptDuration,
    RptVersion,

    // Accessible names and values: read by screen readers, never drawn.
    A11yCents,
    A11yCentsOne,
    A11yDeviceList,
    A11yInstrumentList,
    A11yPianoKey,
    A11yResultsRow,
    A11yScore,
    A11ySharp,
    A11ySharpNote,
    A11ySliderUnit,

    Count
};

// The text of a key in an edition. A key with no text of the edition yields "".
std::string_view text(Edition edition, TextKey key);
// False for the keys that exist only in the Japanese edition (StatusNoSynth is English-only).
bool hasText(Edition edition, TextKey key);
// Keys whose English text is the program's own choice, where the original English edition had none.
bool isImplementerEnglishText(TextKey key);
// The catalogue key's name, e.g. "Form1.Button2.Caption" (for tests and diagnostics).
std::string_view keyName(TextKey key);

// "C", "C#", .. "B": the same in both editions.
std::string_view pitchClassLabel(int pitchClass);
// "C 　　　", "C#　　　", ..: the report's row prefixes, the same in both editions.
std::string_view reportRowPrefix(int pitchClass);
// The 128 General MIDI program names as the instrument list shows them.
std::string_view instrumentName(int program);
// The hint window's text, line by line.
const std::vector<std::string_view>& hintText(Edition edition);
// The message for a start-up open result (non-zero), by the open-error table.
TextKey openResultMessage(unsigned result);
// Level names of the report and item texts of the difficulty window, by difficulty index 0..3.
TextKey levelNameKey(int difficultyIndex);
TextKey difficultyItemKey(int difficultyIndex);

}  // namespace velmora
