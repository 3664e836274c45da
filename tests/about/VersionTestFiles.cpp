// SPDX-License-Identifier: GPL-3.0-or-later
#include "VersionTestFiles.h"

#include "TestSupport.h"

namespace TestSupport {

namespace {
struct TWriter {
    QByteArray Out;
    bool Big = false;
    void Put(quint64 v, int width)
    {
        for (int i = 0; i < width; ++i) {
            const int shift = 8 * (Big ? width - 1 - i : i);
            Out.append(char((v >> shift) & 0xFF));
        }
    }
};
} // namespace

QByteArray MakeElfWithSection(const QByteArray &sectionName, const QByteArray &data, bool is64, bool bigEndian)
{
    const int headerSize = is64 ? 64 : 52;
    const int entrySize = is64 ? 64 : 40;
    const QByteArray names = QByteArray("\0", 1) + sectionName + '\0' + ".shstrtab" + '\0';
    const quint64 dataOffset = quint64(headerSize);
    const quint64 namesOffset = dataOffset + quint64(data.size());
    quint64 sectionsOffset = namesOffset + quint64(names.size());
    sectionsOffset = (sectionsOffset + 7) & ~quint64(7);

    TWriter w{{}, bigEndian};
    w.Out.append("\x7f"
                 "ELF",
                 4);
    w.Put(is64 ? 2 : 1, 1);
    w.Put(bigEndian ? 2 : 1, 1);
    w.Put(1, 1);
    w.Out.append(9, '\0');
    w.Put(1, 2);  // relocatable
    w.Put(62, 2); // machine, irrelevant here
    w.Put(1, 4);
    const int word = is64 ? 8 : 4;
    w.Put(0, word);              // entry
    w.Put(0, word);              // program headers
    w.Put(sectionsOffset, word); // section headers
    w.Put(0, 4);                 // flags
    w.Put(quint64(headerSize), 2);
    w.Put(0, 2);
    w.Put(0, 2);
    w.Put(quint64(entrySize), 2);
    w.Put(3, 2); // null, the section, the name table
    w.Put(2, 2);
    w.Out.append(data);
    w.Out.append(names);
    while (quint64(w.Out.size()) < sectionsOffset)
        w.Out.append('\0');
    auto section = [&](quint64 name, quint64 type, quint64 offset, quint64 size) {
        w.Put(name, 4);
        w.Put(type, 4);
        w.Put(0, word); // flags
        w.Put(0, word); // address
        w.Put(offset, word);
        w.Put(size, word);
        w.Put(0, 4); // link
        w.Put(0, 4); // info
        w.Put(1, word);
        w.Put(0, word);
    };
    section(0, 0, 0, 0);
    section(1, 1, dataOffset, quint64(data.size()));
    section(quint64(sectionName.size()) + 2, 3, namesOffset, quint64(names.size()));
    return w.Out;
}

QByteArray VersionFixture(const QByteArray &name)
{
    return FixturePath("version/" + name);
}

QStringList FixtureLines(const QByteArray &path)
{
    QString text = QString::fromUtf8(ReadFileBytes(path));
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

QStringList OwnVersionLines()
{
    return {
        QStringLiteral("CompanyName=KER-MOSS"),
        QStringLiteral("FileDescription=*.dnt file manager"),
        QStringLiteral("FileVersion=1.1.3.18"),
        QStringLiteral("InternalName=DirNote"),
        QStringLiteral("LegalCopyright=Copyright © 1999-2026 KER-MOSS"),
        QStringLiteral("LegalTrademarks="),
        QStringLiteral("OriginalFilename=DirNote.exe"),
        QStringLiteral("ProductName=DirNote"),
        QStringLiteral("ProductVersion=1.0.0.0"),
        QStringLiteral("Developers=The DirNote developers"),
        QStringLiteral("HTTP=https://dirnote.example.org/"),
        QStringLiteral("SMTP=dirnote@example.org"),
    };
}

} // namespace TestSupport
