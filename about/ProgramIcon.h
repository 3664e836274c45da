// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QString>

#include <array>

// The name of the program's icon in the desktop's icon theme (installed by desktop/).
inline const QString kProgramIconName = QStringLiteral("dirnote");
// The sizes of the icon built into the program, in pixels.
inline constexpr std::array<int, 6> kProgramIconSizes{16, 32, 48, 64, 128, 256};

// The program's icon: the icon theme's "dirnote" when the theme has one (so an installed copy,
// or a theme's own restyling, wins), else the copy built into the program.
QIcon ProgramIcon();
// The copy built into the program, whatever the theme holds.
QIcon BuiltInProgramIcon();
