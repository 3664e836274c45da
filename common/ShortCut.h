// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>
#include <qnamespace.h>

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

// The Windows virtual-key code of a key as Qt reports it, by the key's place on a US keyboard:
// letters, digits, the number pad (keypad set), F1 to F24, Enter, Backspace, Tab, Esc, Space, the
// arrows and navigation keys, Insert, Delete, the lock and modifier keys and the punctuation keys.
// A shifted symbol counts as its key ("!" is the 1 key). 0 for a key without a code.
quint8 VirtualKeyOfKey(int key, bool keypad);
// The code a key press builds: its virtual key plus the Shift, Ctrl and Alt bits (Backtab is
// Shift+Tab). 0 for a key without a virtual key, so that it matches no shortcut.
TShortCut ShortCutOfKeyPress(int key, Qt::KeyboardModifiers modifiers);
