// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QEvent>
#include <QString>
#include <QVariant>

// Named messages inside one process: the same name (letter case ignored) always gives the same
// event type for the life of the process.
QEvent::Type RegisterWindowMessage(const QString &name);

// The event that carries a registered message: two parameters, an optional payload and a result
// the receiver may set. "Sending" is QCoreApplication::sendEvent.
class TMessageEvent : public QEvent {
public:
    explicit TMessageEvent(QEvent::Type type, qintptr wParam = 0, qintptr lParam = 0, QVariant data = {})
        : QEvent(type), WParam(wParam), LParam(lParam), Data(std::move(data))
    {
    }
    qintptr WParam;
    qintptr LParam;
    QVariant Data;
    qintptr Result = 0;
};
