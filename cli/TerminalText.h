#pragma once

#include <QString>

// Text for a terminal: control characters shown as "?", so a name cannot move the cursor or
// break a line.
QString TerminalSafe(const QString &text);
// The number of columns the text takes in a terminal: wide East Asian characters take two,
// combining marks none.
int DisplayWidth(const QString &text);
