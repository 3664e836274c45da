// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcessEnvironment>

namespace TestSupport {

// The environment of a child process whose disk looks full through the preloaded library
// built from FullDiskShim.cpp: full after `after` more bytes (nullptr: never), syncs failing
// when syncFails (and then every write synced, so that it meets the failure).
inline QProcessEnvironment FullDiskEnvironment(const QString &shim, const char *after, bool syncFails)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), shim);
    // The sanitizer's own library wants to come first; the shim needs nothing from it.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    if (after)
        env.insert(QStringLiteral("DN_FULL_DISK_AFTER"), QString::fromLatin1(after));
    if (syncFails) {
        env.insert(QStringLiteral("DN_FULL_DISK_SYNC"), QStringLiteral("1"));
        env.insert(QStringLiteral("DIRNOTE_SYNC_WRITES"), QStringLiteral("1"));
    }
    return env;
}

} // namespace TestSupport
