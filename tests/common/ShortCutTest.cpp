// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ShortCut.h"

#include <initializer_list>

#include <gtest/gtest.h>

TEST(ShortCutText, PrefixesInShiftCtrlAltOrderThenTheKeyName)
{
    const struct {
        TShortCut Code;
        const char *Text;
    } cases[] = {
        {0x2070, "Shift+F1"},   // the About default
        {0x0074, "F5"},         // Refresh
        {0x400D, "Ctrl+Enter"}, // go into a folder, open a file
        {0x4008, "Ctrl+BkSp"},  // parent folder
        {0x800D, "Alt+Enter"},  {0x402E, "Ctrl+Del"}, {0x4009, "Ctrl+Tab"},  {0xE041, "Shift+Ctrl+Alt+A"},
        {0x0030, "0"},          {0x005A, "Z"},        {0x0060, "0"}, // number pad
        {0x0069, "9"},          {0x0087, "F24"},      {0x201B, "Shift+Esc"}, {0x0020, "Space"},
        {0x0021, "PgUp"},       {0x0022, "PgDn"},     {0x0023, "End"},       {0x0024, "Home"},
        {0x0025, "Left"},       {0x0026, "Up"},       {0x0027, "Right"},     {0x0028, "Down"},
        {0x002D, "Ins"},        {0x40BA, "Ctrl+;"}, // a key named by the keyboard layout
    };
    for (const auto &c : cases)
        EXPECT_EQ(ShortCutToText(c.Code), QString::fromLatin1(c.Text)) << std::hex << c.Code;
}

TEST(ShortCutText, AKeyWithoutANameGivesNoTextAtAll)
{
    for (const TShortCut code : std::initializer_list<TShortCut>{0x0000, 0x2000, 0x4007, 0x80FF, 0x0088})
        EXPECT_EQ(ShortCutToText(code), QString()) << std::hex << code;
}

// A key press as Qt reports it gives the code the same key press gives on Windows.
TEST(ShortCutOfKeyPress, QtKeysGiveTheVirtualKeyCodesOfTheSameKeys)
{
    using M = Qt::KeyboardModifier;
    const struct {
        int Key;
        Qt::KeyboardModifiers Modifiers;
        TShortCut Code;
    } cases[] = {
        {Qt::Key_A, M::NoModifier, 0x41},
        {Qt::Key_Z, M::ShiftModifier | M::ControlModifier | M::AltModifier, 0xE05A},
        {Qt::Key_0, M::NoModifier, 0x30},
        {Qt::Key_9, M::ControlModifier, 0x4039},
        {Qt::Key_0, M::KeypadModifier, 0x60}, // the number pad's own digits
        {Qt::Key_7, M::KeypadModifier | M::ControlModifier, 0x4067},
        {Qt::Key_Asterisk, M::KeypadModifier, 0x6A},
        {Qt::Key_Plus, M::KeypadModifier, 0x6B},
        {Qt::Key_Minus, M::KeypadModifier, 0x6D},
        {Qt::Key_Period, M::KeypadModifier, 0x6E},
        {Qt::Key_Comma, M::KeypadModifier, 0x6E},
        {Qt::Key_Slash, M::KeypadModifier, 0x6F},
        {Qt::Key_Enter, M::KeypadModifier | M::ControlModifier, 0x400D}, // the pad's Enter is Enter
        {Qt::Key_Home, M::KeypadModifier, 0x24},                         // Num Lock off: the navigation key
        {Qt::Key_Clear, M::KeypadModifier, 0x0C},
        {Qt::Key_F1, M::ShiftModifier, 0x2070},
        {Qt::Key_F2, M::NoModifier, 0x71},
        {Qt::Key_F5, M::NoModifier, 0x74},
        {Qt::Key_F24, M::NoModifier, 0x87},
        {Qt::Key_Return, M::ControlModifier, 0x400D},
        {Qt::Key_Return, M::AltModifier, 0x800D},
        {Qt::Key_Backspace, M::ControlModifier, 0x4008},
        {Qt::Key_Tab, M::ControlModifier, 0x4009},
        {Qt::Key_Backtab, M::ShiftModifier, 0x2009}, // Shift+Tab
        {Qt::Key_Backtab, M::ShiftModifier | M::ControlModifier, 0x6009},
        {Qt::Key_Backtab, M::NoModifier, 0x2009}, // Backtab alone is still Shift+Tab
        {Qt::Key_Escape, M::NoModifier, 0x1B},
        {Qt::Key_Space, M::AltModifier, 0x8020},
        {Qt::Key_PageUp, M::NoModifier, 0x21},
        {Qt::Key_PageDown, M::NoModifier, 0x22},
        {Qt::Key_End, M::NoModifier, 0x23},
        {Qt::Key_Home, M::NoModifier, 0x24},
        {Qt::Key_Left, M::NoModifier, 0x25},
        {Qt::Key_Up, M::NoModifier, 0x26},
        {Qt::Key_Right, M::NoModifier, 0x27},
        {Qt::Key_Down, M::NoModifier, 0x28},
        {Qt::Key_Insert, M::NoModifier, 0x2D},
        {Qt::Key_Delete, M::ControlModifier, 0x402E},
        {Qt::Key_Semicolon, M::NoModifier, 0xBA},
        {Qt::Key_Colon, M::ShiftModifier, 0x20BA},
        {Qt::Key_Equal, M::NoModifier, 0xBB},
        {Qt::Key_Plus, M::ShiftModifier, 0x20BB},
        {Qt::Key_Comma, M::NoModifier, 0xBC},
        {Qt::Key_Less, M::ShiftModifier, 0x20BC},
        {Qt::Key_Minus, M::NoModifier, 0xBD},
        {Qt::Key_Underscore, M::ShiftModifier, 0x20BD},
        {Qt::Key_Period, M::NoModifier, 0xBE},
        {Qt::Key_Greater, M::ShiftModifier, 0x20BE},
        {Qt::Key_Slash, M::NoModifier, 0xBF},
        {Qt::Key_Question, M::ShiftModifier, 0x20BF},
        {Qt::Key_QuoteLeft, M::NoModifier, 0xC0},
        {Qt::Key_AsciiTilde, M::ShiftModifier, 0x20C0},
        {Qt::Key_BracketLeft, M::NoModifier, 0xDB},
        {Qt::Key_BraceLeft, M::ShiftModifier, 0x20DB},
        {Qt::Key_Backslash, M::NoModifier, 0xDC},
        {Qt::Key_Bar, M::ShiftModifier, 0x20DC},
        {Qt::Key_BracketRight, M::NoModifier, 0xDD},
        {Qt::Key_BraceRight, M::ShiftModifier, 0x20DD},
        {Qt::Key_Apostrophe, M::NoModifier, 0xDE},
        {Qt::Key_QuoteDbl, M::ShiftModifier, 0x20DE},
        // Shifted digits arrive as their symbols: still the digit keys.
        {Qt::Key_Exclam, M::ShiftModifier, 0x2031},
        {Qt::Key_At, M::ShiftModifier, 0x2032},
        {Qt::Key_NumberSign, M::ShiftModifier, 0x2033},
        {Qt::Key_Dollar, M::ShiftModifier, 0x2034},
        {Qt::Key_Percent, M::ShiftModifier, 0x2035},
        {Qt::Key_AsciiCircum, M::ShiftModifier, 0x2036},
        {Qt::Key_Ampersand, M::ShiftModifier, 0x2037},
        {Qt::Key_Asterisk, M::ShiftModifier, 0x2038},
        {Qt::Key_ParenLeft, M::ShiftModifier, 0x2039},
        {Qt::Key_ParenRight, M::ShiftModifier, 0x2030},
        {Qt::Key_Shift, M::ShiftModifier, 0x2010},
        {Qt::Key_Control, M::ControlModifier, 0x4011},
        {Qt::Key_Alt, M::AltModifier, 0x8012},
        {Qt::Key_Pause, M::NoModifier, 0x13},
        {Qt::Key_CapsLock, M::NoModifier, 0x14},
        {Qt::Key_Print, M::NoModifier, 0x2C},
        {Qt::Key_Menu, M::NoModifier, 0x5D},
        {Qt::Key_NumLock, M::NoModifier, 0x90},
        {Qt::Key_ScrollLock, M::NoModifier, 0x91},
        // Keys without a code match no shortcut, whatever modifiers are held.
        {Qt::Key_F25, M::NoModifier, 0},
        {Qt::Key_unknown, M::ControlModifier, 0},
        {Qt::Key_Adiaeresis, M::ControlModifier, 0},
        {Qt::Key_VolumeUp, M::NoModifier, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ShortCutOfKeyPress(c.Key, c.Modifiers), c.Code)
            << "key 0x" << std::hex << c.Key << " modifiers 0x" << c.Modifiers.toInt();
}

// The key text and the key press agree: the text of the code a press builds names that key.
TEST(ShortCutOfKeyPress, TheCodeOfAPressReadsAsThatKey)
{
    EXPECT_EQ(ShortCutToText(ShortCutOfKeyPress(Qt::Key_F1, Qt::ShiftModifier)), QStringLiteral("Shift+F1"));
    EXPECT_EQ(ShortCutToText(ShortCutOfKeyPress(Qt::Key_A, Qt::ControlModifier | Qt::AltModifier)),
              QStringLiteral("Ctrl+Alt+A"));
    EXPECT_EQ(ShortCutToText(ShortCutOfKeyPress(Qt::Key_Backspace, Qt::ControlModifier)), QStringLiteral("Ctrl+BkSp"));
    EXPECT_EQ(ShortCutToText(ShortCutOfKeyPress(Qt::Key_5, Qt::KeypadModifier)), QStringLiteral("5"));
}
