// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/ModuleResource.h"

#include "about/VersionSection.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Bounds-checked reads of little- or big-endian integers. A read outside the data yields 0 and
// clears Ok, so a parse can do a group of reads and check once.
struct TReader {
    QByteArrayView Data;
    bool BigEndian = false;
    bool Ok = true;

    bool Fits(quint64 offset, quint64 length) const
    {
        const auto size = quint64(Data.size());
        return offset <= size && length <= size - offset;
    }
    quint64 Read(quint64 offset, int width)
    {
        if (!Fits(offset, quint64(width))) {
            Ok = false;
            return 0;
        }
        quint64 v = 0;
        for (int i = 0; i < width; ++i) {
            const quint64 byte = uchar(Data[qsizetype(offset) + (BigEndian ? i : width - 1 - i)]);
            v = (v << 8) | byte;
        }
        return v;
    }
    quint64 U8(quint64 o) { return Read(o, 1); }
    quint64 U16(quint64 o) { return Read(o, 2); }
    quint64 U32(quint64 o) { return Read(o, 4); }
    quint64 U64(quint64 o) { return Read(o, 8); }
};

constexpr quint32 kShtNobits = 8;
constexpr quint32 kShnXindex = 0xFFFF;

} // namespace

std::optional<QByteArray> FindElfSection(QByteArrayView file, QByteArrayView sectionName)
{
    TReader r{file};
    if (file.size() < 16
        || !file.startsWith("\x7f"
                            "ELF"))
        return std::nullopt;
    const auto elfClass = r.U8(4);
    const auto dataEncoding = r.U8(5);
    if ((elfClass != 1 && elfClass != 2) || (dataEncoding != 1 && dataEncoding != 2))
        return std::nullopt;
    const bool is64 = elfClass == 2;
    r.BigEndian = dataEncoding == 2;

    const quint64 shoff = is64 ? r.U64(0x28) : r.U32(0x20);
    const quint64 shentsize = r.U16(is64 ? 0x3A : 0x2E);
    quint64 shnum = r.U16(is64 ? 0x3C : 0x30);
    quint64 shstrndx = r.U16(is64 ? 0x3E : 0x32);
    const quint64 minEntry = is64 ? 64 : 40;
    if (!r.Ok || shoff == 0 || shentsize < minEntry)
        return std::nullopt;

    struct TSection {
        quint64 Name, Type, Offset, Size, Link;
    };
    auto section = [&](quint64 index) {
        const quint64 at = shoff + index * shentsize; // index < shnum, checked to fit below
        TSection s{};
        s.Name = r.U32(at);
        s.Type = r.U32(at + 4);
        s.Offset = is64 ? r.U64(at + 24) : r.U32(at + 16);
        s.Size = is64 ? r.U64(at + 32) : r.U32(at + 20);
        s.Link = r.U32(at + (is64 ? 40 : 24));
        return s;
    };
    if (!r.Fits(shoff, shentsize))
        return std::nullopt;
    // Many sections: the real counts live in section 0.
    const TSection first = section(0);
    if (shnum == 0)
        shnum = first.Size;
    if (shstrndx == kShnXindex)
        shstrndx = first.Link;
    if (!r.Ok || shnum > (quint64(file.size()) - shoff) / shentsize || shstrndx >= shnum)
        return std::nullopt;

    const TSection names = section(shstrndx);
    if (!r.Ok || names.Type == kShtNobits || !r.Fits(names.Offset, names.Size))
        return std::nullopt;
    const QByteArrayView nameTable = file.sliced(qsizetype(names.Offset), qsizetype(names.Size));

    for (quint64 i = 1; i < shnum; ++i) {
        const TSection s = section(i);
        if (!r.Ok)
            return std::nullopt;
        if (s.Name >= quint64(nameTable.size()))
            continue;
        QByteArrayView name = nameTable.sliced(qsizetype(s.Name));
        const qsizetype end = name.indexOf('\0');
        if (end < 0)
            continue; // unterminated name at the end of the table
        name.truncate(end);
        if (name != sectionName)
            continue;
        if (s.Type == kShtNobits || !r.Fits(s.Offset, s.Size))
            return std::nullopt;
        return file.sliced(qsizetype(s.Offset), qsizetype(s.Size)).toByteArray();
    }
    return std::nullopt;
}

std::optional<QByteArray> FindPeResource(QByteArrayView file, quint32 type, quint32 id)
{
    TReader r{file};
    if (file.size() < 0x40 || !file.startsWith("MZ"))
        return std::nullopt;
    const quint64 pe = r.U32(0x3C);
    if (!r.Fits(pe, 4) || file.sliced(qsizetype(pe), 4) != QByteArrayView("PE\0\0", 4))
        return std::nullopt;
    const quint64 coff = pe + 4;
    const quint64 sectionCount = r.U16(coff + 2);
    const quint64 optionalSize = r.U16(coff + 16);
    const quint64 opt = coff + 20;
    const quint64 magic = r.U16(opt);
    if (!r.Ok || (magic != 0x10B && magic != 0x20B))
        return std::nullopt;
    const quint64 countAt = magic == 0x10B ? 92 : 108;
    const quint64 directories = magic == 0x10B ? 96 : 112;
    constexpr quint64 kResourceDirectory = 2;
    if (optionalSize < directories + 8 * (kResourceDirectory + 1) || r.U32(opt + countAt) <= kResourceDirectory)
        return std::nullopt;
    const quint64 resourceRva = r.U32(opt + directories + 8 * kResourceDirectory);
    if (!r.Ok || resourceRva == 0)
        return std::nullopt;

    // A relative virtual address to a file offset through the section table; length bytes from
    // there must lie in the section's raw data.
    const quint64 sections = opt + optionalSize;
    auto fileOffset = [&](quint64 rva, quint64 length) -> std::optional<std::pair<quint64, quint64>> {
        for (quint64 i = 0; i < sectionCount; ++i) {
            const quint64 at = sections + 40 * i;
            const quint64 va = r.U32(at + 12);
            const quint64 rawSize = r.U32(at + 16);
            const quint64 raw = r.U32(at + 20);
            if (!r.Ok)
                return std::nullopt;
            if (rva >= va && rva - va < rawSize && length <= rawSize - (rva - va)) {
                const quint64 offset = raw + (rva - va);
                // The rest of the section from there, for structures that follow.
                const quint64 rest = rawSize - (rva - va);
                if (!r.Fits(offset, length))
                    return std::nullopt;
                return std::pair{offset, qMin(rest, quint64(file.size()) - offset)};
            }
        }
        return std::nullopt;
    };

    const auto root = fileOffset(resourceRva, 16);
    if (!root)
        return std::nullopt;
    TReader dir{file.sliced(qsizetype(root->first), qsizetype(root->second))};

    // One directory level: the entry with the identifier (or the first one when id is empty);
    // yields its offset field.
    auto findEntry = [&](quint64 at, std::optional<quint32> wanted) -> std::optional<quint64> {
        const quint64 count = dir.U16(at + 12) + dir.U16(at + 14);
        for (quint64 i = 0; dir.Ok && i < count; ++i) {
            const quint64 nameField = dir.U32(at + 16 + 8 * i);
            const quint64 offsetField = dir.U32(at + 16 + 8 * i + 4);
            if (!dir.Ok)
                break;
            if (!wanted || ((nameField & 0x80000000u) == 0 && nameField == *wanted))
                return offsetField;
        }
        return std::nullopt;
    };
    constexpr quint64 kSubdirectory = 0x80000000u;
    const auto typeEntry = findEntry(0, type);
    if (!typeEntry || !(*typeEntry & kSubdirectory))
        return std::nullopt;
    const auto nameEntry = findEntry(*typeEntry & ~kSubdirectory, id);
    if (!nameEntry || !(*nameEntry & kSubdirectory))
        return std::nullopt;
    const auto languageEntry = findEntry(*nameEntry & ~kSubdirectory, std::nullopt);
    if (!languageEntry || (*languageEntry & kSubdirectory))
        return std::nullopt;
    const quint64 dataRva = dir.U32(*languageEntry);
    const quint64 dataSize = dir.U32(*languageEntry + 4);
    if (!dir.Ok)
        return std::nullopt;
    const auto data = fileOffset(dataRva, dataSize);
    if (!data)
        return std::nullopt;
    return file.sliced(qsizetype(data->first), qsizetype(dataSize)).toByteArray();
}

std::optional<QByteArray> LoadVersionResource(const QString &fileName)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
        return std::nullopt;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return std::nullopt;
    // Mapped, not read: the program's own file carries its debug information too.
    const uchar *mapped = file.map(0, file.size());
    if (!mapped)
        return std::nullopt;
    const QByteArrayView bytes(reinterpret_cast<const char *>(mapped), file.size());
    std::optional<QByteArray> result;
    if (bytes.startsWith("\x7f"
                         "ELF"))
        result = FindElfSection(bytes, kVersionSectionName);
    else if (bytes.startsWith("MZ"))
        result = FindPeResource(bytes, kRtVersion, 1);
    file.unmap(const_cast<uchar *>(mapped));
    return result;
}
