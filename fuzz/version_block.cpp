// SPDX-License-Identifier: GPL-3.0-or-later
// The version block reader: any bytes as the resource data of a module file.

#include "FuzzSupport.h"

#include "about/QorAboutVersion.h"
#include "common/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // libFuzzer's buffer has exactly this size, so a read past the block's end is caught.
    const QByteArrayView block(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)VersionBlockString(block, 6, block.size());
    QStringList lines{QStringLiteral("left over")};
    try {
        ParseVersionBlock(block, lines);
    } catch (const TException &) {
        Require(lines == QStringList{QStringLiteral("left over")}, "a refused block changed the lines");
        return 0;
    }
    // Each entry takes at least its 6-byte header, and each line is key=value.
    Require(lines.size() <= qsizetype(size) / 6, "more lines than the block can hold");
    for (const QString &line : lines)
        Require(line.contains(u'='), "a line without its '='");
    return 0;
}
