// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The program-wide title shown on the taskbar and in the About box's caption.
QString ApplicationTitle();
void SetApplicationTitle(const QString &title);
// The default title for an executable path: its file name up to the first ".",
// every letter after the first in lower case ("DirNote.exe" -> "Dirnote").
QString DefaultApplicationTitle(const QString &executablePath);
