#include "editions/KeyTranslation.h"
#include "editions/NoteKeyMap.h"

#include <QtCore/qnamespace.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace velmora {
namespace {

constexpr Edition kJa = Edition::Japanese;
constexpr Edition kEn = Edition::English;

// Native codes as X11/xkb reports them: the Linux evdev code plus 8.
constexpr std::uint32_t native(int evdevCode)
{
    return static_cast<std::uint32_t>(evdevCode) + 8;
}

// Linux input event codes.
constexpr int KEY_1 = 2, KEY_0 = 11, KEY_MINUS = 12, KEY_EQUAL = 13, KEY_Q = 16, KEY_P = 25,
              KEY_LEFTBRACE = 26, KEY_RIGHTBRACE = 27, KEY_A = 30, KEY_L = 38, KEY_SEMICOLON = 39,
              KEY_APOSTROPHE = 40, KEY_GRAVE = 41, KEY_BACKSLASH = 43, KEY_COMMA = 51, KEY_DOT = 52,
              KEY_SLASH = 53, KEY_KPASTERISK = 55, KEY_SPACE = 57, KEY_F1 = 59, KEY_KPMINUS = 74,
              KEY_KPPLUS = 78, KEY_KP0 = 82, KEY_102ND = 86, KEY_RO = 89, KEY_YEN = 124;

const std::vector<std::pair<int, char>>& letterKeys()
{
    static const std::vector<std::pair<int, char>> keys{
        {30, 'A'}, {48, 'B'}, {46, 'C'}, {32, 'D'}, {18, 'E'}, {33, 'F'}, {34, 'G'}, {35, 'H'}, {23, 'I'},
        {36, 'J'}, {37, 'K'}, {38, 'L'}, {50, 'M'}, {49, 'N'}, {24, 'O'}, {25, 'P'}, {16, 'Q'}, {19, 'R'},
        {31, 'S'}, {20, 'T'}, {22, 'U'}, {47, 'V'}, {17, 'W'}, {45, 'X'}, {21, 'Y'}, {44, 'Z'},
    };
    return keys;
}

TEST(KeyTranslationNative, LettersDigitsAndSpaceInBothEditions)
{
    for (Edition edition : {kJa, kEn}) {
        for (const auto& [code, letter] : letterKeys())
            EXPECT_EQ(virtualKeyFor(edition, native(code), 0), letter) << "evdev " << code;
        for (int digit = 1; digit <= 9; ++digit)
            EXPECT_EQ(virtualKeyFor(edition, native(KEY_1 + digit - 1), 0), 0x30 + digit);
        EXPECT_EQ(virtualKeyFor(edition, native(KEY_0), 0), 0x30);
        EXPECT_EQ(virtualKeyFor(edition, native(KEY_SPACE), 0), 0x20);
    }
}

TEST(KeyTranslationNative, PunctuationOfAJisKeyboard)
{
    const std::map<int, int> expected{
        {KEY_SEMICOLON, 0xBB}, {KEY_APOSTROPHE, 0xBA}, {KEY_LEFTBRACE, 0xC0}, {KEY_RIGHTBRACE, 0xDB},
        {KEY_BACKSLASH, 0xDD}, {KEY_RO, 0xE2},         {KEY_YEN, 0xDC},       {KEY_MINUS, 0xBD},
        {KEY_EQUAL, 0xDE},     {KEY_COMMA, 0xBC},      {KEY_DOT, 0xBE},       {KEY_SLASH, 0xBF},
    };
    for (const auto& [code, vk] : expected)
        EXPECT_EQ(virtualKeyFor(kJa, native(code), 0), vk) << "evdev " << code;
    EXPECT_EQ(native(KEY_SEMICOLON), 47u);
    EXPECT_EQ(native(KEY_RO), 97u);
    EXPECT_EQ(native(KEY_YEN), 132u);
}

TEST(KeyTranslationNative, PunctuationOfAUsKeyboard)
{
    const std::map<int, int> expected{
        {KEY_SEMICOLON, 0xBA}, {KEY_APOSTROPHE, 0xDE}, {KEY_LEFTBRACE, 0xDB}, {KEY_RIGHTBRACE, 0xDD},
        {KEY_BACKSLASH, 0xDC}, {KEY_GRAVE, 0xC0},      {KEY_MINUS, 0xBD},     {KEY_EQUAL, 0xBB},
        {KEY_COMMA, 0xBC},     {KEY_DOT, 0xBE},        {KEY_SLASH, 0xBF},     {KEY_102ND, 0xE2},
    };
    for (const auto& [code, vk] : expected)
        EXPECT_EQ(virtualKeyFor(kEn, native(code), 0), vk) << "evdev " << code;
}

TEST(KeyTranslationNative, PlaceOnTheKeyboardWinsOverTheLoadedLayout)
{
    // A JIS keyboard under a US layout types ';' and '\'' right of L; the key still counts by place.
    EXPECT_EQ(virtualKeyFor(kJa, native(KEY_SEMICOLON), Qt::Key_Semicolon), 0xBB);
    EXPECT_EQ(virtualKeyFor(kJa, native(KEY_APOSTROPHE), Qt::Key_Apostrophe), 0xBA);
    // A French layout types 'A' on the key where US has Q.
    EXPECT_EQ(virtualKeyFor(kEn, native(KEY_Q), Qt::Key_A), 'Q');
    // Shift changes the character, not the key.
    EXPECT_EQ(virtualKeyFor(kEn, native(KEY_SEMICOLON), Qt::Key_Colon), 0xBA);
    EXPECT_EQ(virtualKeyFor(kJa, native(KEY_A), Qt::Key_A), 'A');
}

TEST(KeyTranslationNative, KeysThatTypeNoteCharactersElsewherePlayNothing)
{
    // Keypad '+' and '*' type what the JIS note keys type, and the half-width/full-width key of a
    // JIS keyboard types '`' under a US layout.
    EXPECT_EQ(virtualKeyFor(kJa, native(KEY_KPPLUS), Qt::Key_Plus), 0);
    EXPECT_EQ(virtualKeyFor(kJa, native(KEY_KPASTERISK), Qt::Key_Asterisk), 0);
    EXPECT_EQ(virtualKeyFor(kEn, native(KEY_KPMINUS), Qt::Key_Minus), 0);
    EXPECT_EQ(virtualKeyFor(kEn, native(KEY_KP0), Qt::Key_0), 0);
    EXPECT_EQ(virtualKeyFor(kJa, native(KEY_GRAVE), Qt::Key_QuoteLeft), 0);
    // Keys a US keyboard does not have.
    EXPECT_EQ(virtualKeyFor(kEn, native(KEY_RO), Qt::Key_Backslash), 0);
    EXPECT_EQ(virtualKeyFor(kEn, native(KEY_YEN), Qt::Key_Backslash), 0);
}

TEST(KeyTranslationNative, UnknownNativeCodeFallsBackToTheQtKey)
{
    EXPECT_EQ(virtualKeyFor(kJa, native(KEY_F1), Qt::Key_F1), 0);
    EXPECT_EQ(virtualKeyFor(kJa, native(KEY_F1), Qt::Key_A), 'A');  // a key remapped to type A
    for (std::uint32_t outOfRange : {1u, 7u, 264u, 600u, 0xFFFFFFFFu})
        EXPECT_EQ(virtualKeyFor(kEn, outOfRange, Qt::Key_Semicolon), 0xBA) << outOfRange;
}

TEST(KeyTranslationQt, LettersDigitsAndSpace)
{
    for (Edition edition : {kJa, kEn}) {
        for (int key = Qt::Key_A; key <= Qt::Key_Z; ++key)
            EXPECT_EQ(virtualKeyFor(edition, 0, key), 0x41 + key - Qt::Key_A);
        for (int key = Qt::Key_0; key <= Qt::Key_9; ++key)
            EXPECT_EQ(virtualKeyFor(edition, 0, key), 0x30 + key - Qt::Key_0);
        EXPECT_EQ(virtualKeyFor(edition, 0, Qt::Key_Space), 0x20);
    }
}

TEST(KeyTranslationQt, JisCharacters)
{
    const std::map<int, int> expected{
        {Qt::Key_Semicolon, 0xBB},    {Qt::Key_Plus, 0xBB},       {Qt::Key_Colon, 0xBA},
        {Qt::Key_Asterisk, 0xBA},     {Qt::Key_At, 0xC0},         {Qt::Key_QuoteLeft, 0xC0},
        {Qt::Key_BracketLeft, 0xDB},  {Qt::Key_BraceLeft, 0xDB},  {Qt::Key_BracketRight, 0xDD},
        {Qt::Key_BraceRight, 0xDD},   {Qt::Key_Minus, 0xBD},      {Qt::Key_AsciiCircum, 0xDE},
        {Qt::Key_yen, 0xDC},          {Qt::Key_Comma, 0xBC},      {Qt::Key_Period, 0xBE},
        {Qt::Key_Slash, 0xBF},        {Qt::Key_Apostrophe, 0},    {Qt::Key_QuoteDbl, 0},
    };
    for (const auto& [key, vk] : expected)
        EXPECT_EQ(virtualKeyFor(kJa, 0, key), vk) << "Qt key 0x" << std::hex << key;
}

TEST(KeyTranslationQt, UsCharacters)
{
    const std::map<int, int> expected{
        {Qt::Key_Semicolon, 0xBA},    {Qt::Key_Colon, 0xBA},       {Qt::Key_Apostrophe, 0xDE},
        {Qt::Key_QuoteDbl, 0xDE},     {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_BraceLeft, 0xDB},
        {Qt::Key_BracketRight, 0xDD}, {Qt::Key_BraceRight, 0xDD},  {Qt::Key_Backslash, 0xDC},
        {Qt::Key_QuoteLeft, 0xC0},    {Qt::Key_Minus, 0xBD},       {Qt::Key_Equal, 0xBB},
        {Qt::Key_Comma, 0xBC},        {Qt::Key_Period, 0xBE},      {Qt::Key_Slash, 0xBF},
        {Qt::Key_At, 0},              {Qt::Key_yen, 0},
    };
    for (const auto& [key, vk] : expected)
        EXPECT_EQ(virtualKeyFor(kEn, 0, key), vk) << "Qt key 0x" << std::hex << key;
}

TEST(KeyTranslationQt, KeysWithoutACodeGiveZero)
{
    for (Edition edition : {kJa, kEn})
        for (int key : {int(Qt::Key_Escape), int(Qt::Key_Shift), int(Qt::Key_F1), int(Qt::Key_Left),
                        int(Qt::Key_unknown), 0, -1, 0x7FFFFFFF, 0x61 /* 'a' is no Qt key */})
            EXPECT_EQ(virtualKeyFor(edition, 0, key), 0) << "Qt key 0x" << std::hex << key;
}

// ---------------------------------------------------------------------------------------------
// From the key pressed to the note played.

std::optional<int> noteOf(Edition edition, std::uint32_t nativeCode, int qtKey)
{
    const auto row = noteKeyRow(edition, virtualKeyFor(edition, nativeCode, qtKey));
    if (!row)
        return std::nullopt;
    return noteOfRow(*row);
}

constexpr int A4 = 69, As4 = 70, B4 = 71, C5 = 72;

TEST(KeyTranslationNotes, KeysRightOfLAndPOnAJisKeyboard)
{
    EXPECT_EQ(noteOf(kJa, native(KEY_SEMICOLON), 0), A4);   // 0xBB
    EXPECT_EQ(noteOf(kJa, native(KEY_APOSTROPHE), 0), B4);  // 0xBA
    EXPECT_EQ(noteOf(kJa, native(KEY_LEFTBRACE), 0), As4);  // 0xC0
    EXPECT_EQ(noteOf(kJa, native(KEY_BACKSLASH), 0), C5);   // 0xDD
    EXPECT_EQ(noteOf(kJa, native(KEY_RIGHTBRACE), 0), std::nullopt);
    EXPECT_EQ(noteOf(kJa, native(KEY_L), 0), 67);
    EXPECT_EQ(noteOf(kJa, native(KEY_P), 0), 68);
}

TEST(KeyTranslationNotes, KeysRightOfLAndPOnAUsKeyboard)
{
    EXPECT_EQ(noteOf(kEn, native(KEY_SEMICOLON), 0), A4);   // 0xBA
    EXPECT_EQ(noteOf(kEn, native(KEY_LEFTBRACE), 0), As4);  // 0xDB
    EXPECT_EQ(noteOf(kEn, native(KEY_APOSTROPHE), 0), B4);  // 0xDE
    EXPECT_EQ(noteOf(kEn, native(KEY_RIGHTBRACE), 0), C5);  // 0xDD
    EXPECT_EQ(noteOf(kEn, native(KEY_BACKSLASH), 0), std::nullopt);
    EXPECT_EQ(noteOf(kEn, native(KEY_EQUAL), 0), std::nullopt);  // 0xBB plays nothing here
}

TEST(KeyTranslationNotes, QtKeysWithoutNativeCode)
{
    EXPECT_EQ(noteOf(kJa, 0, Qt::Key_Semicolon), A4);
    EXPECT_EQ(noteOf(kJa, 0, Qt::Key_Plus), A4);
    EXPECT_EQ(noteOf(kJa, 0, Qt::Key_Colon), B4);
    EXPECT_EQ(noteOf(kJa, 0, Qt::Key_At), As4);
    EXPECT_EQ(noteOf(kJa, 0, Qt::Key_BracketRight), C5);
    EXPECT_EQ(noteOf(kEn, 0, Qt::Key_Semicolon), A4);
    EXPECT_EQ(noteOf(kEn, 0, Qt::Key_Colon), A4);
    EXPECT_EQ(noteOf(kEn, 0, Qt::Key_BracketLeft), As4);
    EXPECT_EQ(noteOf(kEn, 0, Qt::Key_Apostrophe), B4);
    EXPECT_EQ(noteOf(kEn, 0, Qt::Key_BracketRight), C5);
    EXPECT_EQ(noteOf(kJa, 0, Qt::Key_A), 53);
    EXPECT_EQ(noteOf(kEn, 0, Qt::Key_A), 53);
}

TEST(KeyTranslationNotes, TwentyKeysLieLikeAPianoOnEachHomeKeyboard)
{
    // White keys from A rightwards along the home row; each black key on the row above, up and
    // to the left of the next white key (W between A and S). The highest C is the key right of
    // the colon on a JIS keyboard and the right bracket on a US one.
    constexpr int kRowAbove = KEY_Q - KEY_A;
    const std::set<int> blackPitchClasses{1, 3, 6, 8, 10};
    for (Edition edition : {kJa, kEn}) {
        int nextWhite = KEY_A;
        for (int note = 53; note <= 72; ++note) {
            int key = 0;
            if (blackPitchClasses.count(note % 12))
                key = nextWhite + kRowAbove;
            else if (note == 72)
                key = edition == kJa ? KEY_BACKSLASH : KEY_RIGHTBRACE;
            else
                key = nextWhite++;
            EXPECT_EQ(noteOf(edition, native(key), 0), note) << "evdev " << key;
        }
        // Every other key plays nothing.
        int playing = 0;
        for (std::uint32_t code = 0; code < 300; ++code)
            playing += noteOf(edition, code, 0).has_value();
        EXPECT_EQ(playing, kNoteKeyCount);
    }
}

TEST(KeyTranslationNotes, SpaceIsTheDamperKeyInBothEditions)
{
    EXPECT_EQ(virtualKeyFor(kJa, native(KEY_SPACE), Qt::Key_Space), kVkSpace);
    EXPECT_EQ(virtualKeyFor(kEn, 0, Qt::Key_Space), kVkSpace);
}

}  // namespace
}  // namespace velmora
