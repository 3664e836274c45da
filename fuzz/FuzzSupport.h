// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every fuzz target shares: a failed check ends the run the way a crash does, so libFuzzer
// keeps the input that caused it.

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <string>

inline void Require(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "Check failed: %s\n", what);
    std::abort();
}

// The same, showing the file before and after the operation that broke it.
inline void Require(bool condition, const char *what, const QByteArray &before, const QByteArray &after)
{
    if (condition)
        return;
    std::fprintf(stderr, "Before: \"%s\"\nAfter:  \"%s\"\n", before.toPercentEncoding(" =[]\\\";").constData(),
                 after.toPercentEncoding(" =[]\\\";").constData());
    Require(false, what);
}

inline QByteArray Bytes(const std::string &text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

inline qsizetype CommonPrefix(const QByteArray &a, const QByteArray &b)
{
    qsizetype n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n])
        ++n;
    return n;
}

inline qsizetype CommonSuffix(const QByteArray &a, const QByteArray &b)
{
    qsizetype n = 0;
    while (n < a.size() && n < b.size() && a[a.size() - 1 - n] == b[b.size() - 1 - n])
        ++n;
    return n;
}

// True when `after` is `before` with bytes inserted at one place, none changed or removed; then
// [first, last] holds every place the insertion may have been made (more than one when bytes repeat).
inline bool IsOneInsertion(const QByteArray &before, const QByteArray &after, qsizetype *first = nullptr,
                           qsizetype *last = nullptr)
{
    const qsizetype prefix = CommonPrefix(before, after);
    const qsizetype suffix = CommonSuffix(before, after);
    if (after.size() < before.size() || prefix + suffix < before.size())
        return false;
    if (first)
        *first = before.size() - suffix;
    if (last)
        *last = prefix;
    return true;
}
