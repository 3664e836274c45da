#include "common/ShortCut.h"

#include <gtest/gtest.h>

TEST(ShortCutText, PrefixesInShiftCtrlAltOrderThenTheKeyName)
{
    const struct {
        TShortCut Code;
        const char *Text;
    } cases[] = {
        {0x2070, "Shift+F1"},       // the About default
        {0x0074, "F5"},             // Refresh
        {0x400D, "Ctrl+Enter"},     // go into a folder, open a file
        {0x4008, "Ctrl+BkSp"},      // parent folder
        {0x800D, "Alt+Enter"},
        {0x402E, "Ctrl+Del"},
        {0x4009, "Ctrl+Tab"},
        {0xE041, "Shift+Ctrl+Alt+A"},
        {0x0030, "0"},
        {0x005A, "Z"},
        {0x0060, "0"},              // number pad
        {0x0069, "9"},
        {0x0087, "F24"},
        {0x201B, "Shift+Esc"},
        {0x0020, "Space"},
        {0x0021, "PgUp"}, {0x0022, "PgDn"}, {0x0023, "End"}, {0x0024, "Home"},
        {0x0025, "Left"}, {0x0026, "Up"}, {0x0027, "Right"}, {0x0028, "Down"}, {0x002D, "Ins"},
        {0x40BA, "Ctrl+;"},         // a key named by the keyboard layout
    };
    for (const auto &c : cases)
        EXPECT_EQ(ShortCutToText(c.Code), QString::fromLatin1(c.Text)) << std::hex << c.Code;
}

TEST(ShortCutText, AKeyWithoutANameGivesNoTextAtAll)
{
    for (const TShortCut code : {0x0000, 0x2000, 0x4007, 0x80FF, 0x0088})
        EXPECT_EQ(ShortCutToText(code), QString()) << std::hex << code;
}
