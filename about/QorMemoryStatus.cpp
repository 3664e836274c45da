// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/QorMemoryStatus.h"

#include <QFile>
#include <QList>

#include <optional>

#include <sys/resource.h>

namespace {

QByteArray ReadProcFile(const char *path)
{
    // /proc files report size 0: read until the end.
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// "Name:   1234 kB" lines; the value in bytes, or nothing when the line is missing.
std::optional<quint64> KiBField(const QByteArray &text, QByteArrayView name)
{
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || QByteArrayView(line).first(colon) != name)
            continue;
        const QList<QByteArray> parts = line.mid(colon + 1).simplified().split(' ');
        bool ok = false;
        const quint64 value = parts.value(0).toULongLong(&ok);
        if (!ok)
            return std::nullopt;
        const bool kib = parts.size() > 1 && parts[1] == "kB";
        return kib ? value * 1024 : value;
    }
    return std::nullopt;
}

} // namespace

TMemoryStatus MemoryStatusFrom(const QByteArray &meminfo, const QByteArray &processStatus, quint64 addressSpace)
{
    TMemoryStatus s;
    s.TotalPhys = KiBField(meminfo, "MemTotal").value_or(0);
    // Older kernels lack MemAvailable; free memory plus caches is their nearest figure.
    if (const auto available = KiBField(meminfo, "MemAvailable"))
        s.AvailPhys = *available;
    else
        s.AvailPhys = KiBField(meminfo, "MemFree").value_or(0) + KiBField(meminfo, "Buffers").value_or(0)
                      + KiBField(meminfo, "Cached").value_or(0);
    s.TotalPageFile = KiBField(meminfo, "SwapTotal").value_or(0);
    s.AvailPageFile = KiBField(meminfo, "SwapFree").value_or(0);
    s.TotalVirtual = addressSpace;
    const quint64 used = KiBField(processStatus, "VmSize").value_or(0);
    s.AvailVirtual = used < addressSpace ? addressSpace - used : 0;
    return s;
}

quint64 ProcessAddressSpace()
{
#if defined(__x86_64__)
    quint64 space = (quint64(1) << 47) - 4096; // 4-level paging, the last page kept back
#elif defined(__aarch64__)
    quint64 space = quint64(1) << 48;
#else
    quint64 space = sizeof(void *) == 4 ? quint64(3) << 30 : quint64(1) << 47;
#endif
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && quint64(limit.rlim_cur) < space)
        space = quint64(limit.rlim_cur);
    return space;
}

TMemoryStatus GlobalMemoryStatus()
{
    return MemoryStatusFrom(ReadProcFile("/proc/meminfo"), ReadProcFile("/proc/self/status"), ProcessAddressSpace());
}

QString FormatByteCount(quint64 count, const QLocale &locale)
{
    // The "C" locale omits group separators by default; the figures always carry them.
    QLocale grouped = locale;
    grouped.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(qulonglong(count));
}
