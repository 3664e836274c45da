// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/ShortCut.h"

#include <Qt>

#include <array>

// The main window's keyboard commands: their stored codes' names and defaults, and which command
// a pressed key runs. Knows no widget, so the dispatch can be checked on its own.
struct TKeyMap {
    // The keyboard commands, in the order their codes are read and matched.
    enum TCommand {
        cmdAbout,
        cmdRefresh,
        cmdFolderGoto,
        cmdFolderGoBack,
        cmdFolderExplore,
        cmdFolderDelete,
        cmdFileExec,
        cmdFileDelete,
        cmdSwitchTable,
        cmdUndescribedOnly,
        cmdSearch,
        cmdPrunedDescriptions,
        CommandCount
    };
    // The table that itself holds the keyboard focus (its cell editor does not count).
    enum class TKeyFocus { None, Folders, Files };
    struct TShortCutSetting {
        const char *Name;
        TShortCut Default;
        // The table that must have the focus for the command to run; None: wherever it is.
        TKeyFocus Focus;
    };
    using TCodes = std::array<TShortCut, CommandCount>;
    static const std::array<TShortCutSetting, CommandCount> ShortCutSettings;
    // The command a pressed code runs: the first row whose code equals it and whose focus
    // condition holds; CommandCount when none does and the key goes on to the focused control.
    static TCommand KeyCommand(const TCodes &codes, TShortCut pressed, TKeyFocus focus);
    // The code of a virtual-key code pressed with these modifiers, as the stored codes spell it.
    static TShortCut PressedCode(quint16 key, Qt::KeyboardModifiers shift);
};
