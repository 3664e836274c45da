// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <array>

// The values of a VS_VERSIONINFO block, as a resource script states them.
struct TVersionFixedInfo {
    std::array<quint16, 4> FileVersion{}; // major, minor, release, build
    std::array<quint16, 4> ProductVersion{};
    quint32 FileFlagsMask = 0;
    quint32 FileFlags = 0;
    quint32 FileOS = 0x40004; // VOS_NT_WINDOWS32
    quint32 FileType = 1;     // VFT_APP
    quint32 FileSubtype = 0;
    quint32 FileDateMS = 0;
    quint32 FileDateLS = 0;
};

struct TVersionStringTable {
    QString Code; // language and code page, e.g. "040604E4"
    QList<QPair<QString, QString>> Strings;
};

struct TVersionTable {
    TVersionFixedInfo Fixed;
    QList<TVersionStringTable> StringTables;
    QList<QPair<quint16, quint16>> Translations; // language, code page
};

// Reads the text form of a version table (see about/VersionResource.txt). Throws TException
// naming the line it cannot understand.
TVersionTable ParseVersionTable(const QString &text);

// The block exactly as a Windows resource compiler lays it out: every child 4-byte aligned from
// the block's start, lengths without trailing alignment, string values stored with their
// terminating zero. Throws TException when a part would outgrow its 16-bit length.
QByteArray BuildVersionBlock(const TVersionTable &table);
