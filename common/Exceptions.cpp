// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Exceptions.h"

#include <cstring>

namespace {
QString OSErrorText(int code)
{
    if (code == 0)
        return QStringLiteral("A call to an OS function failed");
    return QStringLiteral("System Error.  Code: %1.\n%2").arg(code).arg(QString::fromLocal8Bit(std::strerror(code)));
}
} // namespace

TOSError::TOSError(int code) : TException(OSErrorText(code)), FCode(code)
{
}
