// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

// The machine's memory figures in bytes, as full 64-bit counts: physical memory, the swap space
// standing in for the page file, and this process's address space.
struct TMemoryStatus {
    quint64 TotalPhys = 0;
    quint64 AvailPhys = 0;
    quint64 TotalPageFile = 0;
    quint64 AvailPageFile = 0;
    quint64 TotalVirtual = 0;
    quint64 AvailVirtual = 0;
};

// One snapshot from /proc/meminfo, /proc/self/status and the address-space limit.
TMemoryStatus GlobalMemoryStatus();

// The same from the texts of /proc/meminfo and /proc/self/status and the size of the user
// address space; figures missing from the texts are 0.
TMemoryStatus MemoryStatusFrom(const QByteArray &meminfo, const QByteArray &processStatus, quint64 addressSpace);

// The user-mode address space a process may use: the address-space limit when one is set, else
// what the architecture gives a process.
quint64 ProcessAddressSpace();

// A count as a whole number with the locale's thousands separator ("2,147,483,648").
QString FormatByteCount(quint64 count, const QLocale &locale = QLocale());
