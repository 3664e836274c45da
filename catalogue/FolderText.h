// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The folder's own text: one key per line in the section "ThisFolder".

// The values of all the section's keys, in file order (whatever the keys are named, however many).
QList<QByteArray> ReadFolderText(const QByteArray &descPath);

// The logical lines of an edited text, separated by "\n" or a line separator (U+2028): a line
// break at the very end begins no further line. Lines the user left as they were keep their
// stored bytes, also when lines above them were added or removed, and a stored line holding a
// line separator stays one line; changed lines are stored as UTF-8.
QList<QByteArray> FolderTextLines(const QString &text, const QList<QByteArray> &original);

// Replaces the section with "Text0", "Text1", ... for the lines, in one write at the end of the
// file. Nothing is written for an empty list. Raises "Unable to write to <path>" when the file
// cannot be written; the file is then unchanged.
void WriteFolderText(const QByteArray &descPath, const QList<QByteArray> &lines);
