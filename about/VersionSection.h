// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The ELF section in which the program carries its own version resource (the VS_VERSIONINFO
// bytes a Windows resource compiler would produce), generated at build time.
inline constexpr char kVersionSectionName[] = ".dirnote.version";
