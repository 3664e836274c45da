// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Where a module file keeps its version resource: this program carries it in an ELF section of
// its own; a Windows PE file carries it as resource type RT_VERSION, identifier 1. Every lookup
// checks each offset and size against the file, so damaged or hostile files give nothing rather
// than a read outside it.

inline constexpr quint32 kRtVersion = 16;

// The contents of the named section of an ELF file (32 or 64 bit, either byte order).
std::optional<QByteArray> FindElfSection(QByteArrayView file, QByteArrayView sectionName);
// The data of resource type/identifier (first language) in a PE file (PE32 or PE32+).
std::optional<QByteArray> FindPeResource(QByteArrayView file, quint32 type, quint32 id);
// The version resource of the file at fileName, whichever of the two kinds it is.
std::optional<QByteArray> LoadVersionResource(const QString &fileName);
