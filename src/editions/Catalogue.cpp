#include "editions/Catalogue.h"

#include <array>

namespace velmora {
namespace {

struct Entry {
    TextKey key;
    std::string_view name;
    std::string_view japanese;
    std::string_view english;
    bool japaneseOnly = false;
    bool englishOnly = false;
    bool implementerEnglish = false;
};

constexpr std::string_view kLabel1 = "Velmora Version 1.34 (c) the Velmora developers";

// clang-format off
constexpr std::array<Entry, static_cast<std::size_t>(TextKey::Count)> kEntries{{
    {TextKey::Form1Caption, "Form1.Caption", "Velmora", "Velmora"},
    {TextKey::Form1Label1Caption, "Form1.Label1.Caption", kLabel1, kLabel1},
    {TextKey::Form1Button1Caption, "Form1.Button1.Caption", "A音", "A =440Hz"},
    {TextKey::Form1Button2Caption, "Form1.Button2.Caption", "ヒント(&C)", "Hint(&V)"},
    {TextKey::Form1N1Caption, "Form1.N1.Caption", "設定(&S)", "Setting(&C)"},
    {TextKey::Form1N2Caption, "Form1.N2.Caption", "難易度の設定(&N)", "Sensitivity(&S)"},
    {TextKey::Form1N3Caption, "Form1.N3.Caption", "楽器の設定(&G)", "Instrument(&I)"},
    {TextKey::StatusNoSynth, "StatusNoSynth", "", "ERROR:NO MIDI GENERATOR", false, true},

    {TextKey::Form2Caption, "Form2.Caption", "調整", "tuning"},
    {TextKey::Form2Button1Caption, "Form2.Button1.Caption", "答え合わせ", "Score"},

    {TextKey::Form3Caption, "Form3.Caption", "正解表示", "answer"},
    {TextKey::Form3Label1Caption, "Form3.Label1.Caption", "貴方の調律", "your tuning"},
    {TextKey::Form3Label2Caption, "Form3.Label2.Caption", "正解の調律", "master tuning"},
    {TextKey::Form3Label15Caption, "Form3.Label15.Caption", "点数は……", "score"},
    {TextKey::Form3Label16Caption, "Form3.Label16.Caption", "100", "100"},
    {TextKey::Form3Label17Caption, "Form3.Label17.Caption", "点", "point"},
    {TextKey::Form3StaticTextCaption, "Form3.StaticText.Caption", "0", "0"},
    {TextKey::Form3Button1Caption, "Form3.Button1.Caption", "終了", "End"},
    {TextKey::Form3Button2Caption, "Form3.Button2.Caption", "もう一度挑戦", "try again"},
    {TextKey::Form3Button3Caption, "Form3.Button3.Caption", "結果をクリップボードに出力", "Copy to clipboard"},
    {TextKey::Form3Button4Caption, "Form3.Button4.Caption", "結果報告掲示板へ", "go to result report BBS"},
    // The English edition keeps the Japanese tooltip.
    {TextKey::Form3Button4Hint, "Form3.Button4.Hint", "インターネットへの接続が伴います", "インターネットへの接続が伴います"},

    {TextKey::Form4Caption, "Form4.Caption", "ヒント", "Hint"},
    {TextKey::HintPictureTitleFirst, "HintPicture.TitleFirst", "平均律オクターブの調律", "Equal Temperament "},
    {TextKey::HintPictureTitleSecond, "HintPicture.TitleSecond", "「小循環」方式", "tuning steps"},
    {TextKey::HintPictureLegendTuned, "HintPicture.LegendTuned", "標準音高", "Tuning notes"},
    {TextKey::HintPictureLegendReference, "HintPicture.LegendReference", "比較音", "Reference notes"},
    {TextKey::HintPictureLegendOctave, "HintPicture.LegendOctave", "完全８度", "Pure Octave"},
    {TextKey::HintPictureLegendFourth, "HintPicture.LegendFourth", "広い４度", "Wide 4th"},
    {TextKey::HintPictureLegendFifth, "HintPicture.LegendFifth", "狭い５度", "Narrow 5th"},

    {TextKey::Form5Caption, "Form5.Caption", "難易度の設定", "Sensitivity"},
    {TextKey::Form5RadioGroup1Caption, "Form5.RadioGroup1.Caption", "難易度", "Sensitivity"},
    {TextKey::Form5Item0, "Form5.RadioGroup1.Items[0]", "特級（１セント単位）", "1 Cent"},
    {TextKey::Form5Item1, "Form5.RadioGroup1.Items[1]", "上級（３セント単位）", "3 Cent"},
    {TextKey::Form5Item2, "Form5.RadioGroup1.Items[2]", "中級（５セント単位）", "5 Cent"},
    {TextKey::Form5Item3, "Form5.RadioGroup1.Items[3]", "初級(１０セント単位)", "10 Cent"},

    {TextKey::Form6Caption, "Form6.Caption", "Form6", "Form6"},
    {TextKey::Form7Caption, "Form7.Caption", "楽器の設定", "instrument"},

    {TextKey::MsgNoSynth, "MsgNoSynth", "ＭＩＤＩ音源がないのでこのソフトは利用できません", "DO NOT FIND MIDI GENERATOR"},
    {TextKey::MsgOpenResult1, "MsgOpenResult1", "ERROR", "ERROR"},
    {TextKey::MsgOpenResult2, "MsgOpenResult2", "BADDEVICEID", "BADDEVICEID"},
    {TextKey::MsgOpenResult3, "MsgOpenResult3", "NOTENABLED", "NOTENABLED"},
    {TextKey::MsgOpenResult4, "MsgOpenResult4", "ALLOCATED", "ALLOCATED"},
    {TextKey::MsgOpenResult5, "MsgOpenResult5", "指定されたデバイス ハンドルが無効です。", "ERROR2"},
    {TextKey::MsgOpenResult6, "MsgOpenResult6", "NODRIVER", "NODRIVER"},
    {TextKey::MsgOpenResult7, "MsgOpenResult7", "メモリの割り当てまたはロックができません。", "ERROR3---"},
    {TextKey::MsgOpenResult8, "MsgOpenResult8", "NOTSUPPORTED", "NOTSUPPORTED"},
    {TextKey::MsgOpenResult9, "MsgOpenResult9", "BADERRNUM", "BADERRNUM"},
    {TextKey::MsgOpenResult10, "MsgOpenResult10", "INVALFLAG", "INVALFLAG"},
    {TextKey::MsgOpenResult11, "MsgOpenResult11", "INVALPARAM", "INVALPARAM"},
    {TextKey::MsgOpenResult12, "MsgOpenResult12", "HANDLEBUSY", "HANDLEBUSY"},
    {TextKey::MsgOpenResult13, "MsgOpenResult13", "INVALIDALIAS", "INVALIDALIAS"},
    {TextKey::MsgOpenResult20, "MsgOpenResult20", "LASTERROR", "LASTERROR"},
    {TextKey::MsgOpenFailed, "MsgOpenFailed", "ＭＩＤＩデバイスが開けません", "DO NOT OPEN MIDI GENERATOR"},
    {TextKey::MsgSendError1, "MsgSendError1", "error1", "error1"},
    {TextKey::MsgSendError2, "MsgSendError2", "error2", "error2"},
    {TextKey::MsgSendError2Close, "MsgSendError2Close", "error2", "error2--"},
    {TextKey::MsgSendError3, "MsgSendError3", "error3", "error3"},
    {TextKey::MsgSendError4, "MsgSendError4", "error4", "error4"},
    {TextKey::MsgClipboardCannotOpen, "MsgClipboardCannotOpen", "クリップボードを開くことができません", "Cannot open clipboard"},
    {TextKey::MsgSettingsNotSaved, "MsgSettingsNotSaved", "設定ファイルを保存できませんでした", "Could not save the settings file", false, false, true},

    {TextKey::RptRule, "RptRule", "---------------------------------", "---------------------------------"},
    {TextKey::RptHeading, "RptHeading", "音名　貴方の調律　正解の調律", "NOTE　YOUR TUNING　MASTER TUNING"},
    {TextKey::RptGap, "RptGap", "　　　　　　", "　　　　　　"},
    {TextKey::RptScore, "RptScore", "得点：", "SCORE:"},
    {TextKey::RptDevice, "RptDevice", "使用音源：", "SOUND GENERATOR:"},
    {TextKey::RptInstrument, "RptInstrument", "音色：", "INSTRUMENT:"},
    {TextKey::RptLevel, "RptLevel", "難易度：", "SENSITIVITY:", false, false, true},
    {TextKey::RptLevelName0, "RptLevelName0", "特級", "1 Cent", false, false, true},
    {TextKey::RptLevelName1, "RptLevelName1", "上級", "3 Cent", false, false, true},
    {TextKey::RptLevelName2, "RptLevelName2", "中級", "5 Cent", false, false, true},
    {TextKey::RptLevelName3, "RptLevelName3", "初級", "10 Cent", false, false, true},
    {TextKey::RptReference, "RptReference", "基準音の使用：", "REFERENCE TONE:", false, false, true},
    {TextKey::RptReferenceUsed, "RptReferenceUsed", "使用", "use", false, false, true},
    {TextKey::RptReferenceNotUsed, "RptReferenceNotUsed", "不使用", "disuse", false, false, true},
    {TextKey::RptStart, "RptStart", "調律開始時刻：", "START TUNING TIME : "},
    {TextKey::RptEnd, "RptEnd", "調律終了時刻：", "END TUNING TIME : "},
    {TextKey::RptDuration, "RptDuration", "所要時間：", "TIME REQUIRED : "},
    {TextKey::RptVersion, "RptVersion", "Velmora Version 1.34", "VELMORA VERSION 1.34"},

    // %1 is a signed number of cents ("+3", "0", "-12").
    {TextKey::A11yCents, "A11y.Cents", "%1セント", "%1 cents", false, false, true},
    {TextKey::A11yCentsOne, "A11y.CentsOne", "%1セント", "%1 cent", false, false, true},
    {TextKey::A11yDeviceList, "A11y.DeviceList", "MIDI出力デバイス", "MIDI output device", false, false, true},
    {TextKey::A11yInstrumentList, "A11y.InstrumentList", "楽器", "instrument", false, false, true},
    {TextKey::A11yPianoKey, "A11y.PianoKey", "鍵盤", "piano key", false, false, true},
    // %1 pitch class, %2 the user's correction, %3 the exact one (both as A11y.Cents).
    {TextKey::A11yResultsRow, "A11y.ResultsRow", "%1、貴方の調律 %2、正解の調律 %3",
     "%1: your tuning %2, master tuning %3", false, false, true},
    {TextKey::A11yScore, "A11y.Score", "点数は%1点", "score %1 points", false, false, true},
    // Readers drop "#" at common punctuation levels, so C and C# would sound alike: a sharp is said
    // as a word. %1 is the natural letter, %2 the octave.
    {TextKey::A11ySharp, "A11y.Sharp", "%1シャープ", "%1 sharp", false, false, true},
    {TextKey::A11ySharpNote, "A11y.SharpNote", "%1シャープ%2", "%1 sharp %2", false, false, true},
    // A slider's description: the unit of its value, which readers say as a bare number.
    {TextKey::A11ySliderUnit, "A11y.SliderUnit", "補正値（セント）", "correction in cents", false, false, true},
}};

constexpr std::array<std::string_view, 12> kPitchClasses{
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

constexpr std::array<std::string_view, 12> kRowPrefixes{
    "C 　　　", "C#　　　", "D 　　　", "D#　　　", "E 　　　", "F 　　　",
    "F#　　　", "G 　　　", "G#　　　", "A 　　　", "A#　　　", "B 　　　"};

constexpr std::array<std::string_view, 128> kInstruments{
    "piano 1", "piano 2", "piano 3", "Honky-tonk", "E.Piano 1", "E.Piano 2", "Harpsichord", "Clav.",
    "Celesta", "Glockenspl", "Music Box", "Vibraphone", "Marimba", "Xylophone", "Tubularbell", "Santur",
    "Organ 1", "Organ 2", "Organ 3", "Church Org 1", "Reed Organ", "Accordion", "Harmonica", "Bandoneon",
    "Nylon Gt.", "Steel Gt,", "Jazz Gt.", "Clean Gt.", "Muted Gt.", "Overdrive Gt.", "Distortion Gt.", "Gt.Hermonix",
    "Acoustic Bass", "Fingered Bass", "Picked Bass", "Fretless Bass", "Slap Bass 1", "Slap Bass 2", "Syn.Bass 1", "Syn.Bass 2",
    "Violin", "Viola", "Cello", "Contrabass", "Tremolo Str", "Pizzicato", "Harp", "Timpani",
    "Strings", "SlowStrings", "SynStrings 1", "SynStrings 2", "Choir Aahs", "Voice Oohs", "SynVox", "Orchest.Hit",
    "Trumpet", "Trombone", "Tuba", "Mute Trumpet", "French Horn", "Brass", "Syn Brass 1", "Syn Brass 2",
    "Soprano Sax", "Alto Sax", "Tenor Sax", "Baritone Sax", "Oboe", "EnglishHorn", "Bassoon", "Clarinet",
    "Piccolo", "Flute", "Recorder", "Pan Flute", "Bottle Blow", "Shakuhachi", "Whistle", "Ocarina",
    "Square Wave", "Saw Wave", "SynCalliope", "ChifferLead", "Charang", "Solo Vox", "5th Saw", "Bass & Lead",
    "Fantasla", "Warm Pad", "Polysynth", "Space Voice", "Bowed Glass", "Metal Pad", "Halo Pad", "Sweep Pad",
    "Ice Rain", "Soundtrack", "Crystal", "Atmosphere", "Brightness", "Goblin", "Echo Drops", "Star Theme",
    "Sitar", "Banjo", "Shamisen", "Koto", "Kalimba", "Bagpipe", "Fiddle", "Shanal",
    "Tinkle Bell", "Agogo", "Steel Drums", "WoodBlock", "Taiko", "Melo.Tam 1", "Synth Drum", "Reverse Cym",
    "Gt.FretNoiz", "Breath Noise", "Seashore", "Bird", "Telephone", "Helicopter", "Applause", "Gun Shot"};
// clang-format on

constexpr bool entriesInKeyOrder()
{
    for (std::size_t i = 0; i < kEntries.size(); ++i)
        if (static_cast<std::size_t>(kEntries[i].key) != i)
            return false;
    return true;
}
static_assert(entriesInKeyOrder(), "catalogue rows must follow the TextKey order");

const Entry& entry(TextKey key)
{
    return kEntries.at(static_cast<std::size_t>(key));
}

}  // namespace

std::string_view text(Edition edition, TextKey key)
{
    if (!hasText(edition, key))
        return {};
    const Entry& e = entry(key);
    return edition == Edition::Japanese ? e.japanese : e.english;
}

bool hasText(Edition edition, TextKey key)
{
    const Entry& e = entry(key);
    return edition == Edition::Japanese ? !e.englishOnly : !e.japaneseOnly;
}

bool isImplementerEnglishText(TextKey key)
{
    return entry(key).implementerEnglish;
}

std::string_view keyName(TextKey key)
{
    return entry(key).name;
}

std::string_view pitchClassLabel(int pitchClass)
{
    return kPitchClasses.at(static_cast<std::size_t>(pitchClass));
}

std::string_view reportRowPrefix(int pitchClass)
{
    return kRowPrefixes.at(static_cast<std::size_t>(pitchClass));
}

std::string_view instrumentName(int program)
{
    return kInstruments.at(static_cast<std::size_t>(program));
}

const std::vector<std::string_view>& hintText(Edition edition)
{
    static const std::vector<std::string_view> japanese{
        "これは参考程度のものです。",
        "この図を解説すると、まずＡ音（ラ）の音を合わせてそこから調律が始まります。",
        "まずは、完全８度下つまり一オクターブ下をあわせます。",
        "これはこのソフトでは合っていると思います。",
        "そこから完全５度上……というように左から右へ順を追ってあわせてゆくとよいです。",
        "ただ、平均律なので、完全な５度上ではなくやや狭い５度、やや広い４度となります。",
        "このため、いったんあわせた音を振り返って正しいかどうか調整しながらやっていくとよいでしょう。",
        "これ以外にも世の中にはさまざまな調律の方法があります。",
        "基本としては、完全５度、完全４度を使って調律を進めていくのですが、あくまでも平均律であり純正律ではないのでその純度は低い。",
        "そこが平均律で調律をする上で難しいところである。",
        "",
        "具体的方法の解説---------------------------------------",
        "",
        "１．Ａ音とラをあわせる。",
        "２．ラとミのうなりをなくしたらミ音を少し下げる",
        "３．ラとレのうなりをなくしたらレ音を少し上げる",
        "４．ミとシののうなりをなくしたらシ音を少し下げる",
        "",
        "ここまでで比較音などの基本音律ができます。",
        "",
        "５．そのシの音とファのシャープの音のうなりをなくしたらファのシャープ音を少し下げる",
        "このとき先ほどまでにあわせていたラとレの音を参考に調律する",
        "６．ファのシャープの音とレのフラットの音のうなりをとりレのフラットの音を少し下げる",
        "このときラの音を参考にする",
        "７．レのフラットとソのシャープのうなりをとりソのシャープの音を少し下げる",
        "このときシとミの音を参考にする",
        "８．ソのシャープとミのフラットのうなりをとりミの音を少し下げる",
        "このときシの音を参考にする",
        "９．ミのフラットの音とシフラットのうなりをとりシのフラットを少し下げる",
        "このときレの音を参考にする",
        "１０．シのフラットとファの音のうなりをとりファの音を少し下げる",
        "このときラとドのシャープの音を参考にする",
        "１１．ファの音とドの音のうなりをとりドの音を少し下げる",
        "このときミとラの音を参考にする",
        "１２．ドの音とソの音のうなりをとりその音を少し下げる",
        "このときシ音とレの音を参考にする",
        "",
    };
    static const std::vector<std::string_view> english{
        "There are many ways to tune Equal Temperament (ET). The steps described here is just an example. ",
        "",
        "Basically, after you set A4 at 440Hz, tune A3 octave below. From there, you start tuning other notes with 4th and 5th. In ET, 4th is ",
        "wider than pure 4th and 5th is narrower than pure 5th. ",
        "",
        "------------------------------Basic steps---------------------------------------",
        "1.  Set A4 at 440Hz and tune A3",
        "2.  Tune pure 4th (A4  -  E4), then slightly lower the lower note to make a wide 4th beating 1 beat per second",
        "3.  Tune pure 4th (A3  -  D4), then slightly lower the upper note to make a wide 4th beating 1 beat per second",
        "4.  Tune pure 4th (D4  -  B3), then slightly lower the lower note to make a wide 4th beating 1 beat per second",
        "5.  Tune pure 5th (B3  - F#4), then slightly lower the upper note to make a narrow 5th beating 1/2 beat per second",
        "6.  Tune pure 4th (F#4 - C#4), then slightly lower the lower note to make a wide 4th beating 1 beat per second",
        "7.  Tune pure 5th (C#4 - G#4), then slightly lower the upper note to make a narrow 5th beating 1/2 beat per second",
        "8.  Tune pure 4th (G#4 - D#4), then slightly lower the lower note to make a wide 4th beating 1 beat per second",
        "9.  Tune pure 4th (D#4 - A#3), then slightly lower the lower note to make a wide 4th beating 1 beat per second",
        "10. Tune pure 5th (A#3 -  F4), then slightly lower the upper note to make a narrow 5th beating 1/2 beat per second",
        "11. Tune pure 4th (F4  -  C4), then slightly lower the lower note to make a wide 4th beating 1 beat per second",
        "12. Tune pure 5th (C4  -  G4), then slightly lower the upper note to make a narrow 5th beating 1/2 beat per second",
    };
    return edition == Edition::Japanese ? japanese : english;
}

TextKey openResultMessage(unsigned result)
{
    if (result >= 1 && result <= 13)
        return static_cast<TextKey>(static_cast<int>(TextKey::MsgOpenResult1) + int(result) - 1);
    if (result == 20)
        return TextKey::MsgOpenResult20;
    return TextKey::MsgOpenFailed;
}

TextKey levelNameKey(int difficultyIndex)
{
    return static_cast<TextKey>(static_cast<int>(TextKey::RptLevelName0) + difficultyIndex);
}

TextKey difficultyItemKey(int difficultyIndex)
{
    return static_cast<TextKey>(static_cast<int>(TextKey::Form5Item0) + difficultyIndex);
}

}  // namespace velmora
