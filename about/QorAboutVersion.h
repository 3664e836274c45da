// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

class QWidget;

// The string table of a module file's version resource as key=value lines, one per String entry
// of the first table, in resource order (duplicates and empty values kept). Empty for an empty
// name, an unreadable file, a file without the resource, or a root key other than
// "VS_VERSION_INFO". Throws TException("Unrecognised version block") when the root's first child
// is not StringFileInfo.
QStringList ReadVersionInfo(const QString &fileName);

// The walk over a copy of the resource data. Checks the first child's key before touching
// lines, then empties lines and fills it. Never reads outside block: the walk stops at its end
// and at an entry too short to hold its own header; strings running past the end are cut there.
void ParseVersionBlock(QByteArrayView block, QStringList &lines);

// The UTF-16 key or value at position pos of a version block, up to its zero terminator or limit.
QString VersionBlockString(QByteArrayView block, qsizetype pos, qsizetype limit);

// The About box, modal over owner. extraLabels are "key=label" lines naming the row label of
// version keys outside the known ones; english switches every caption to English.
void ShowAboutBox(QWidget *owner, const QStringList &extraLabels, bool english);
