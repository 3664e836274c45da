// SPDX-License-Identifier: GPL-3.0-or-later
// Build-time tool: turns the version table into the program's version block, written as a C++
// source that places the bytes in their own ELF section, and as the raw block for inspection.
//   dn_makeversion <table.txt> <out.cpp> <out.bin>

#include "about/VersionBlock.h"
#include "about/VersionSection.h"

#include "common/Exceptions.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <cstdio>

namespace {
bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes);
    return file.commit();
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <table.txt> <out.cpp> <out.bin>\n", argv[0]);
        return 2;
    }
    QFile tableFile(QFile::decodeName(argv[1]));
    if (!tableFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    QByteArray block;
    try {
        block = BuildVersionBlock(ParseVersionTable(QString::fromUtf8(tableFile.readAll())));
    } catch (const TException &e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }

    QByteArray source;
    source += "// Generated at build time from about/VersionResource.txt: do not edit.\n";
    source += "// \"used\" (and \"retain\" where known) keep the bytes through compiler and linker.\n";
    source += "#if defined(__has_attribute)\n#if __has_attribute(retain)\n#define DN_RETAIN retain,\n#endif\n#endif\n";
    source += "#ifndef DN_RETAIN\n#define DN_RETAIN\n#endif\n";
    source += "extern const unsigned char DirNoteVersionResource[];\n";
    source += "__attribute__((section(\"" + QByteArray(kVersionSectionName) + "\"), DN_RETAIN used, aligned(4)))\n";
    source += "const unsigned char DirNoteVersionResource[" + QByteArray::number(block.size()) + "] = {";
    for (qsizetype i = 0; i < block.size(); ++i) {
        if (i % 16 == 0)
            source += "\n   ";
        source += " 0x" + QByteArray::number(uchar(block[i]), 16).rightJustified(2, '0') + ',';
    }
    source += "\n};\n";

    if (!WriteFile(QFile::decodeName(argv[2]), source) || !WriteFile(QFile::decodeName(argv[3]), block)) {
        std::fprintf(stderr, "%s: cannot write the outputs\n", argv[0]);
        return 1;
    }
    return 0;
}
