// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a start of the program, or a path handed over by a second start, asks the window to show:
// a folder, and for a file path the file's row in that folder. A file manager's "Describe with
// DirNote" passes a folder or a file, and the user expects to land on the file they clicked.

#include <QByteArray>
#include <QByteArrayList>

struct TStartTarget {
    QByteArray Folder;   // the folder to list; empty when there is none
    QByteArray FileName; // a name of its file table for the cursor; empty: the listing's own row
    bool operator==(const TStartTarget &) const = default;
};

// The command line's arguments less the options: a first "--" ends them and is dropped, so that
// "dirnote -- --help" names a file called "--help".
QByteArrayList PathArguments(const QByteArrayList &arguments);
// Whether the command line asks for the help text ("--help" or "-h" as its first argument).
bool AsksForHelp(const QByteArrayList &arguments);
// The text "dirnote --help" prints.
QByteArray ProgramHelpText();

// The start's target from the path arguments (only the first counts), made absolute against the
// current directory: the folder of a "Folder.dnt" path (any letter case), an existing folder
// itself, the folder of any other existing entry with the cursor on it, else the current
// directory, else the program's folder.
TStartTarget StartTarget(const QByteArrayList &arguments, const QByteArray &currentDir, const QByteArray &programPath);
// The target of a handed-over text, which the sender made absolute: resolved as a start's, but
// a text naming nothing that exists gives its path part (the running window keeps its folder
// when that is no folder either).
TStartTarget HandedOverTarget(const QByteArray &text);
