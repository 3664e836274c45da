// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QStringList>

namespace TestSupport {

// A minimal ELF file (no program, only sections) carrying data in the named section, the way the
// program carries its version resource.
QByteArray MakeElfWithSection(const QByteArray &sectionName, const QByteArray &data, bool is64 = true,
                              bool bigEndian = false);

// The path of a version resource fixture (tests/data/version); throws with the path when missing.
QByteArray VersionFixture(const QByteArray &name);

// The lines of a fixture's .txt, one per line.
QStringList FixtureLines(const QByteArray &path);

// The twelve lines the program's own version resource yields, in resource order.
QStringList OwnVersionLines();

} // namespace TestSupport
