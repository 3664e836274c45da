// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Text for a terminal, as UTF-8: control characters shown as "?", so that a name or text cannot
// move the cursor or break a line. The common case, printable ASCII or UTF-8, is passed through
// without decoding, so that a listing of many entries stays fast.

// A name of the file system, decoded as file names are.
QByteArray TerminalName(const QByteArray &name);
// A stored description, decoded as descriptions are (UTF-8, else Windows-1252).
QByteArray TerminalText(const QByteArray &text);
// Text of several lines (UTF-8, as dnt prints it), each line as TerminalText: the line ends
// ("\n", "\r\n") stay, every other control character is shown as "?".
QByteArray TerminalLines(const QByteArray &text);
// The number of columns the UTF-8 text takes in a terminal: wide East Asian characters take two,
// combining marks none.
int DisplayWidth(const QByteArray &text);
