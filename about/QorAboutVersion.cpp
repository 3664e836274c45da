// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/QorAboutVersion.h"

#include "about/ModuleResource.h"

#include "common/Exceptions.h"

namespace {

constexpr qsizetype kRootKeyPos = 6;
constexpr qsizetype kFirstChildKeyPos = 98;
constexpr qsizetype kTableLengthPos = 128;
constexpr qsizetype kFirstStringPos = 152;
constexpr qsizetype kStringHeaderSize = 6; // wLength, wValueLength, wType

qsizetype AlignUp4(qsizetype x)
{
    return (x + 3) & ~qsizetype(3);
}

// 0 when the field does not lie wholly inside the block.
quint16 U16At(QByteArrayView block, qsizetype pos)
{
    if (pos < 0 || pos + 2 > block.size())
        return 0;
    return quint16(uchar(block[pos]) | uchar(block[pos + 1]) << 8);
}

} // namespace

QString VersionBlockString(QByteArrayView block, qsizetype pos, qsizetype limit)
{
    limit = qMin(limit, block.size());
    QString text;
    for (qsizetype p = pos; p >= 0 && p + 2 <= limit; p += 2) {
        const quint16 c = U16At(block, p);
        if (c == 0)
            break;
        text.append(QChar(c));
    }
    // Through the program's 8-bit text, as the lines are used everywhere else: a lone surrogate
    // comes back as the replacement character rather than as broken text.
    return QString::fromUtf8(text.toUtf8());
}

void ParseVersionBlock(QByteArrayView block, QStringList &lines)
{
    if (VersionBlockString(block, kFirstChildKeyPos, block.size()) != u"StringFileInfo")
        throw TException(QStringLiteral("Unrecognised version block"));
    lines.clear();
    const qsizetype end = qMin(kTableLengthPos + U16At(block, kTableLengthPos), block.size());
    qsizetype p = kFirstStringPos;
    while (p < end) {
        const qsizetype length = U16At(block, p);
        // A length of 0 would never advance; one shorter than the header is no entry at all.
        if (length < kStringHeaderSize)
            break;
        const qsizetype entryEnd = qMin(p + length, block.size());
        const QString key = VersionBlockString(block, p + kStringHeaderSize, entryEnd);
        // The value position follows from the key as stored (UTF-16 units plus the terminator).
        qsizetype units = 0;
        while (p + kStringHeaderSize + 2 * units + 2 <= entryEnd
               && U16At(block, p + kStringHeaderSize + 2 * units) != 0)
            ++units;
        const qsizetype valuePos = AlignUp4(p + kStringHeaderSize + 2 * (units + 1));
        // An entry that stores no value (its value would start at or past its end) has an empty one.
        const QString value = valuePos < entryEnd ? VersionBlockString(block, valuePos, entryEnd) : QString();
        lines.append(key + u'=' + value);
        p = AlignUp4(p + length);
    }
}

QStringList ReadVersionInfo(const QString &fileName)
{
    QStringList lines;
    if (fileName.isEmpty())
        return lines;
    const std::optional<QByteArray> resource = LoadVersionResource(fileName);
    if (!resource)
        return lines;
    if (VersionBlockString(*resource, kRootKeyPos, resource->size()) != u"VS_VERSION_INFO")
        return lines;
    ParseVersionBlock(*resource, lines);
    return lines;
}
