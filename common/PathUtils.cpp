// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/PathUtils.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

QByteArray ExtractFilePath(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray() : path.left(slash + 1);
}

QString ExtractFilePath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash + 1);
}

QByteArray ExtractFileName(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QString ExtractFileName(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QByteArray IncludeTrailingPathDelimiter(const QByteArray &path)
{
    if (path.isEmpty() || path.endsWith('/'))
        return path;
    return path + '/';
}

QByteArray AsciiUpper(const QByteArray &text)
{
    QByteArray result = text;
    for (char &c : result)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return result;
}

QByteArray UserBaseFolder(const char *xdgVariable, const char *fallbackInHome)
{
    const QByteArray base = qgetenv(xdgVariable);
    if (base.startsWith('/'))
        return base;
    QByteArray home = qgetenv("HOME");
    if (home.isEmpty())
        home = QFile::encodeName(QDir::homePath());
    return home + '/' + fallbackInHome;
}

bool DeleteFile(const QByteArray &path)
{
    // unlink, not remove: an empty folder that took the file's place meanwhile stays.
    return !path.isEmpty() && ::unlink(path.constData()) == 0;
}
