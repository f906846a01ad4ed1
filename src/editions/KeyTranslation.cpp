#include "editions/KeyTranslation.h"

#include <QtCore/qnamespace.h>

#include <array>
#include <cstddef>
#include <utility>

namespace velmora {
namespace {

// Per evdev code: a virtual-key code, kNothing for a known key that gives the program nothing,
// kUnknown for a key that leaves the decision to the Qt key.
constexpr int kUnknown = -1;
constexpr int kNothing = 0;
constexpr std::size_t kEvdevCodes = 256;
using EvdevTable = std::array<int, kEvdevCodes>;

// Linux input event codes (linux/input-event-codes.h).
namespace evdev {
constexpr int Key1 = 2, Key0 = 11, Minus = 12, Equal = 13;
constexpr int Q = 16, W = 17, E = 18, R = 19, T = 20, Y = 21, U = 22, I = 23, O = 24, P = 25;
constexpr int LeftBrace = 26, RightBrace = 27;
constexpr int A = 30, S = 31, D = 32, F = 33, G = 34, H = 35, J = 36, K = 37, L = 38;
constexpr int Semicolon = 39, Apostrophe = 40, Grave = 41, Backslash = 43;
constexpr int Z = 44, X = 45, C = 46, V = 47, B = 48, N = 49, M = 50;
constexpr int Comma = 51, Dot = 52, Slash = 53, KeypadAsterisk = 55, Space = 57;
constexpr int Keypad7 = 71, Keypad8 = 72, Keypad9 = 73, KeypadMinus = 74, Keypad4 = 75, Keypad5 = 76,
              Keypad6 = 77, KeypadPlus = 78, Keypad1 = 79, Keypad2 = 80, Keypad3 = 81, Keypad0 = 82,
              KeypadDot = 83;
constexpr int Key102nd = 86, Ro = 89, KeypadJpComma = 95, KeypadSlash = 98, KeypadEqual = 117,
              KeypadComma = 121, Yen = 124;
}  // namespace evdev

// Letters, digits and the space bar sit in the same places on both keyboards.
constexpr void fillCommon(EvdevTable& t)
{
    constexpr std::array<std::pair<int, char>, 26> letters{{
        {evdev::A, 'A'}, {evdev::B, 'B'}, {evdev::C, 'C'}, {evdev::D, 'D'}, {evdev::E, 'E'},
        {evdev::F, 'F'}, {evdev::G, 'G'}, {evdev::H, 'H'}, {evdev::I, 'I'}, {evdev::J, 'J'},
        {evdev::K, 'K'}, {evdev::L, 'L'}, {evdev::M, 'M'}, {evdev::N, 'N'}, {evdev::O, 'O'},
        {evdev::P, 'P'}, {evdev::Q, 'Q'}, {evdev::R, 'R'}, {evdev::S, 'S'}, {evdev::T, 'T'},
        {evdev::U, 'U'}, {evdev::V, 'V'}, {evdev::W, 'W'}, {evdev::X, 'X'}, {evdev::Y, 'Y'},
        {evdev::Z, 'Z'},
    }};
    for (const auto& [code, letter] : letters)
        t[code] = letter;
    for (int digit = 1; digit <= 9; ++digit)
        t[evdev::Key1 + digit - 1] = '0' + digit;
    t[evdev::Key0] = '0';
    t[evdev::Space] = 0x20;
    t[evdev::Comma] = 0xBC;
    t[evdev::Dot] = 0xBE;
    t[evdev::Slash] = 0xBF;
    t[evdev::Minus] = 0xBD;
    t[evdev::Key102nd] = 0xE2;
    // The keypad types the same characters as some note keys; claiming its codes keeps the
    // Qt-key fallback from letting "+" or "*" on the keypad play a note.
    for (int code : {evdev::Keypad0, evdev::Keypad1, evdev::Keypad2, evdev::Keypad3, evdev::Keypad4,
                     evdev::Keypad5, evdev::Keypad6, evdev::Keypad7, evdev::Keypad8, evdev::Keypad9,
                     evdev::KeypadAsterisk, evdev::KeypadMinus, evdev::KeypadPlus, evdev::KeypadDot,
                     evdev::KeypadSlash, evdev::KeypadEqual, evdev::KeypadComma, evdev::KeypadJpComma})
        t[code] = kNothing;
}

constexpr EvdevTable makeJisTable()
{
    EvdevTable t{};
    for (int& vk : t)
        vk = kUnknown;
    fillCommon(t);
    t[evdev::Equal] = 0xDE;       // ^
    t[evdev::Yen] = 0xDC;         // ¥
    t[evdev::LeftBrace] = 0xC0;   // @
    t[evdev::RightBrace] = 0xDB;  // [
    t[evdev::Semicolon] = 0xBB;   // ;
    t[evdev::Apostrophe] = 0xBA;  // :
    t[evdev::Backslash] = 0xDD;   // ]
    t[evdev::Ro] = 0xE2;          // ろ
    t[evdev::Grave] = kNothing;   // 半角/全角
    return t;
}

constexpr EvdevTable makeUsTable()
{
    EvdevTable t{};
    for (int& vk : t)
        vk = kUnknown;
    fillCommon(t);
    t[evdev::Equal] = 0xBB;
    t[evdev::LeftBrace] = 0xDB;
    t[evdev::RightBrace] = 0xDD;
    t[evdev::Semicolon] = 0xBA;
    t[evdev::Apostrophe] = 0xDE;
    t[evdev::Backslash] = 0xDC;
    t[evdev::Grave] = 0xC0;
    // Keys a US keyboard lacks: nothing, rather than whatever the loaded layout types on them.
    t[evdev::Ro] = kNothing;
    t[evdev::Yen] = kNothing;
    return t;
}

constexpr EvdevTable kJisTable = makeJisTable();
constexpr EvdevTable kUsTable = makeUsTable();

// Characters of the punctuation keys, shifted and unshifted, on each keyboard.
struct QtKeyCode {
    int qtKey;
    int virtualKey;
};
constexpr auto kJisQtKeys = std::to_array<QtKeyCode>({
    {Qt::Key_Semicolon, 0xBB},  {Qt::Key_Plus, 0xBB},
    {Qt::Key_Colon, 0xBA},      {Qt::Key_Asterisk, 0xBA},
    {Qt::Key_At, 0xC0},         {Qt::Key_QuoteLeft, 0xC0},
    {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_BraceLeft, 0xDB},
    {Qt::Key_BracketRight, 0xDD}, {Qt::Key_BraceRight, 0xDD},
    {Qt::Key_Minus, 0xBD},      {Qt::Key_Equal, 0xBD},
    {Qt::Key_AsciiCircum, 0xDE}, {Qt::Key_AsciiTilde, 0xDE},
    {Qt::Key_yen, 0xDC},        {Qt::Key_Bar, 0xDC},
    {Qt::Key_Underscore, 0xE2}, {Qt::Key_Comma, 0xBC},
    {Qt::Key_Less, 0xBC},       {Qt::Key_Period, 0xBE},
    {Qt::Key_Greater, 0xBE},    {Qt::Key_Slash, 0xBF},
    {Qt::Key_Question, 0xBF},
});
constexpr auto kUsQtKeys = std::to_array<QtKeyCode>({
    {Qt::Key_Semicolon, 0xBA},  {Qt::Key_Colon, 0xBA},
    {Qt::Key_Apostrophe, 0xDE}, {Qt::Key_QuoteDbl, 0xDE},
    {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_BraceLeft, 0xDB},
    {Qt::Key_BracketRight, 0xDD}, {Qt::Key_BraceRight, 0xDD},
    {Qt::Key_Backslash, 0xDC},  {Qt::Key_Bar, 0xDC},
    {Qt::Key_QuoteLeft, 0xC0},  {Qt::Key_AsciiTilde, 0xC0},
    {Qt::Key_Minus, 0xBD},      {Qt::Key_Underscore, 0xBD},
    {Qt::Key_Equal, 0xBB},      {Qt::Key_Plus, 0xBB},
    {Qt::Key_Comma, 0xBC},      {Qt::Key_Less, 0xBC},
    {Qt::Key_Period, 0xBE},     {Qt::Key_Greater, 0xBE},
    {Qt::Key_Slash, 0xBF},      {Qt::Key_Question, 0xBF},
});

int fromQtKey(Edition edition, int qtKey)
{
    // Qt's codes for letters, digits and the space are the virtual-key codes themselves.
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) ||
        qtKey == Qt::Key_Space)
        return qtKey;
    auto lookUp = [qtKey](const auto& table) {
        for (const QtKeyCode& entry : table)
            if (entry.qtKey == qtKey)
                return entry.virtualKey;
        return kNothing;
    };
    return edition == Edition::Japanese ? lookUp(kJisQtKeys) : lookUp(kUsQtKeys);
}

}  // namespace

int virtualKeyFor(Edition edition, std::uint32_t nativeScanCode, int qtKey)
{
    if (nativeScanCode >= kEvdevToNativeOffset && nativeScanCode - kEvdevToNativeOffset < kEvdevCodes) {
        const EvdevTable& table = edition == Edition::Japanese ? kJisTable : kUsTable;
        const int virtualKey = table[nativeScanCode - kEvdevToNativeOffset];
        if (virtualKey != kUnknown)
            return virtualKey;
    }
    return fromQtKey(edition, qtKey);
}

}  // namespace velmora
