// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/RegisteredMessages.h"

#include <QHash>
#include <QMutex>

QEvent::Type RegisterWindowMessage(const QString &name)
{
    static QMutex mutex;
    static QHash<QString, QEvent::Type> registered;
    const QMutexLocker lock(&mutex);
    const QString key = name.toCaseFolded();
    const auto it = registered.constFind(key);
    if (it != registered.constEnd())
        return *it;
    const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    registered.insert(key, type);
    return type;
}
