// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/StringList.h"

QString NameOfLine(const QString &line)
{
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QString() : line.left(eq);
}

QString ValueOfLine(const QString &line)
{
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QString() : line.mid(eq + 1);
}

qsizetype IndexOfName(const QStringList &list, const QString &name)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString &line = list.at(i);
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && QStringView(line).left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString ValueOfName(const QStringList &list, const QString &name)
{
    const qsizetype i = IndexOfName(list, name);
    return i < 0 ? QString() : ValueOfLine(list.at(i));
}
