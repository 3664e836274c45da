// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/KeyMap.h"

const std::array<TKeyMap::TShortCutSetting, TKeyMap::CommandCount> TKeyMap::ShortCutSettings = {{
    {"sc_About", 0x2070, TKeyFocus::None},              // Shift+F1
    {"sc_Refresh", 0x0074, TKeyFocus::None},            // F5
    {"sc_FolderGoto", 0x400D, TKeyFocus::Folders},      // Ctrl+Enter
    {"sc_FolderGoBack", 0x4008, TKeyFocus::None},       // Ctrl+Backspace
    {"sc_FolderExplore", 0x800D, TKeyFocus::Folders},   // Alt+Enter
    {"sc_FolderDelete", 0x402E, TKeyFocus::Folders},    // Ctrl+Delete
    {"sc_FileExec", 0x400D, TKeyFocus::Files},          // Ctrl+Enter
    {"sc_FileDelete", 0x402E, TKeyFocus::Files},        // Ctrl+Delete
    {"sc_SwitchGrid", 0x4009, TKeyFocus::None},         // Ctrl+Tab
    {"sc_UndescribedOnly", 0x404E, TKeyFocus::None},    // Ctrl+N
    {"sc_Search", 0x4046, TKeyFocus::None},             // Ctrl+F
    {"sc_PrunedDescriptions", 0x4050, TKeyFocus::None}, // Ctrl+P
}};

TKeyMap::TCommand TKeyMap::KeyCommand(const TCodes &codes, TShortCut pressed, TKeyFocus focus)
{
    for (int row = 0; row < CommandCount; ++row) {
        const TKeyFocus needed = ShortCutSettings[size_t(row)].Focus;
        if (codes[size_t(row)] == pressed && (needed == TKeyFocus::None || needed == focus))
            return TCommand(row);
    }
    return CommandCount;
}

TShortCut TKeyMap::PressedCode(quint16 key, Qt::KeyboardModifiers shift)
{
    TShortCut pressed = key;
    if (shift & Qt::ShiftModifier)
        pressed += scShift;
    if (shift & Qt::ControlModifier)
        pressed += scCtrl;
    if (shift & Qt::AltModifier)
        pressed += scAlt;
    return pressed;
}
