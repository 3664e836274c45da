// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// Key=value string lists: the name of a line is the text before its first "=".
// Lookups return the first line whose name matches without regard to letter case.
qsizetype IndexOfName(const QStringList &list, const QString &name);
QString ValueOfName(const QStringList &list, const QString &name);
QString NameOfLine(const QString &line);
QString ValueOfLine(const QString &line);
