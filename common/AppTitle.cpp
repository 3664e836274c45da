// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/AppTitle.h"

#include "common/PathUtils.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <optional>

namespace {
std::optional<QString> &TitleSlot()
{
    static std::optional<QString> title;
    return title;
}

QString ExecutablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    // Before the application object exists the kernel still knows who we are.
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}
} // namespace

QString DefaultApplicationTitle(const QString &executablePath)
{
    QString name = ExtractFileName(executablePath);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString ApplicationTitle()
{
    if (!TitleSlot())
        TitleSlot() = DefaultApplicationTitle(ExecutablePath());
    return *TitleSlot();
}

void SetApplicationTitle(const QString &title)
{
    TitleSlot() = title;
    if (QCoreApplication::instance())
        QCoreApplication::setApplicationName(title);
}
