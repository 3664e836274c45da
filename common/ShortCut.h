#pragma once

#include <QString>
#include <QtGlobal>

// A keyboard shortcut as the settings store it: bits 0-7 the Windows virtual-key code, 0x2000
// Shift, 0x4000 Ctrl, 0x8000 Alt.
using TShortCut = quint16;
inline constexpr TShortCut scShift = 0x2000;
inline constexpr TShortCut scCtrl = 0x4000;
inline constexpr TShortCut scAlt = 0x8000;

// The name of a virtual key as menus show it ("F1", "Enter", "A", ";"); empty when it has none.
QString VirtualKeyName(quint8 key);
// "Shift+", "Ctrl+" and "Alt+" for the bits that are set, then the key's name ("Shift+F1").
// Empty when the key has no name.
QString ShortCutToText(TShortCut code);
