// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/ProgramIcon.h"

QIcon BuiltInProgramIcon()
{
    QIcon icon;
    for (const int size : kProgramIconSizes)
        icon.addFile(QStringLiteral(":/dirnote/%1/dirnote.png").arg(size), QSize(size, size));
    return icon;
}

QIcon ProgramIcon()
{
    if (QIcon::hasThemeIcon(kProgramIconName))
        return QIcon::fromTheme(kProgramIconName);
    return BuiltInProgramIcon();
}
