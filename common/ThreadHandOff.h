// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Work handed to an object's thread through Qt's event queue. Qt orders the hand-off with atomics
// and locks of its own; built without the thread sanitizer, it keeps that order from the
// sanitizer, which then takes what the work reads for a race (a blocking call's return above all).
// Under the sanitizer the order is told to it here, so that only races of our own are reported;
// otherwise these cost nothing.

#include <QMetaObject>
#include <QObject>

#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
inline void HandOffRelease(const void *key)
{
    __tsan_release(const_cast<void *>(key));
}
inline void HandOffAcquire(const void *key)
{
    __tsan_acquire(const_cast<void *>(key));
}
#else
inline void HandOffRelease(const void *)
{
}
inline void HandOffAcquire(const void *)
{
}
#endif

// QMetaObject::invokeMethod(target, work, type): what the caller did before is seen by the work,
// and, for a blocking call, what the work did is seen by the caller after it.
template <typename Work> void InvokeOn(QObject *target, Work &&work, Qt::ConnectionType type = Qt::QueuedConnection)
{
    HandOffRelease(target);
    QMetaObject::invokeMethod(
        target,
        [target, work = std::forward<Work>(work)]() mutable {
            HandOffAcquire(target);
            work();
            HandOffRelease(target);
        },
        type);
    if (type == Qt::BlockingQueuedConnection)
        HandOffAcquire(target);
}
