// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <stdexcept>

// Errors are exceptions carrying the message text the user is shown.
class TException : public std::runtime_error {
public:
    explicit TException(const QString &message) : std::runtime_error(message.toStdString()), FMessage(message) {}
    const QString &Message() const noexcept { return FMessage; }

private:
    QString FMessage;
};

// A failure of an operating-system call, formatted the way start-up and the hand-off report it:
// "System Error.  Code: N.\n<system text>".
class TOSError : public TException {
public:
    explicit TOSError(int code);
    int Code() const noexcept { return FCode; }

private:
    int FCode;
};
