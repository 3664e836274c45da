// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcessEnvironment>

#include <csignal>

#include <sys/resource.h>

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

// While it lives, no file of this process grows beyond `limit` bytes, as on a disk that is full:
// a write past it fails (EFBIG), also for the superuser, without a process of its own.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &FBefore);
        FSignal = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lower{limit, FBefore.rlim_max};
        Set = ::setrlimit(RLIMIT_FSIZE, &lower) == 0;
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &FBefore);
        std::signal(SIGXFSZ, FSignal);
    }
    TFileSizeLimit(const TFileSizeLimit &) = delete;
    TFileSizeLimit &operator=(const TFileSizeLimit &) = delete;
    bool Set = false;

private:
    rlimit FBefore{};
    void (*FSignal)(int) = SIG_DFL;
};

} // namespace TestSupport
