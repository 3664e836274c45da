// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSupport.h"
#include "VersionTestFiles.h"

#include "about/ModuleResource.h"
#include "about/QorAboutVersion.h"
#include "about/QorMemoryStatus.h"
#include "about/VersionBlock.h"
#include "about/VersionSection.h"

#include "common/Exceptions.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <memory>

using namespace TestSupport;

namespace {

// A heap copy of exactly size bytes, so the address sanitizer sees any read past its end.
struct TExactCopy {
    explicit TExactCopy(QByteArrayView bytes, qsizetype size)
        : Data(new char[size_t(qMax<qsizetype>(size, 1))]), Size(size)
    {
        std::copy_n(bytes.data(), size, Data.get());
    }
    QByteArrayView View() const { return {Data.get(), Size}; }
    std::unique_ptr<char[]> Data;
    qsizetype Size;
};

QByteArray Utf16(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

// Runs the reader on a file carrying block the way the program carries its own.
QStringList ReadBlockThroughElf(const TTempDir &dir, const QByteArray &block)
{
    return ReadVersionInfo(QString::fromUtf8(dir.WriteFile("module", MakeElfWithSection(kVersionSectionName, block))));
}

} // namespace

TEST(VersionReader, FixturesYieldTheLinesTheirTextNames)
{
    TTempDir dir;
    for (const char *name : {"standard", "dupkeys", "varfirst"}) {
        SCOPED_TRACE(name);
        const QByteArray block = ReadFileBytes(VersionFixture(QByteArray(name) + ".bin"));
        ASSERT_FALSE(block.isEmpty());
        const QStringList expected = FixtureLines(VersionFixture(QByteArray(name) + ".txt"));
        if (expected.value(0).startsWith(u"error: ")) {
            try {
                ReadBlockThroughElf(dir, block);
                ADD_FAILURE() << "no error raised";
            } catch (const TException &e) {
                EXPECT_EQ(e.Message(), expected[0].mid(7));
            }
        } else {
            EXPECT_EQ(ReadBlockThroughElf(dir, block), expected);
        }
    }
    for (const char *name : {"tiny-with-version.exe", "tiny-without-version.exe"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadVersionInfo(QString::fromUtf8(VersionFixture(name))),
                  FixtureLines(VersionFixture(QByteArray(name) + ".txt")));
    }
}

TEST(VersionReader, BuilderLaysOutBlocksAsTheResourceCompilerDoes)
{
    // The fixtures' resource scripts, restated as version tables.
    const QString standard = QStringLiteral(
        "Fixed FileVersion=2.5.0.117\nFixed ProductVersion=2.5.0.0\nFixed FileFlagsMask=0x3f\nFixed FileOS=0x40004\n"
        "Fixed FileType=1\nTable 040904E4\nString CompanyName=Example Tools Ltd.\nString FileDescription=Sample "
        "utility\n"
        "String FileVersion=2.5.0.117\nString InternalName=sample\nString LegalCopyright=Copyright (C) 2026 Example "
        "Tools\n"
        "String LegalTrademarks=\nString OriginalFilename=sample.exe\nString ProductName=Sample\n"
        "String ProductVersion=2.5\nString Comments=Built for tests\nString Support=help@example.org\n"
        "Translation 0x409,1252\n");
    const QString dupkeys = QStringLiteral(
        "Fixed FileVersion=0.9.0.0\nFixed ProductVersion=0.9.0.0\nTable 040604E4\nString FileVersion=\n"
        "String HTTP=https://example.org/\nString http=https://second.example.org/\n"
        "String Developers=A. Person, B. Person\nString ProductName=Caf\u00e9 \u00a0 Tool\nTranslation 0x406,1252\n");
    EXPECT_EQ(BuildVersionBlock(ParseVersionTable(standard)), ReadFileBytes(VersionFixture("standard.bin")));
    EXPECT_EQ(BuildVersionBlock(ParseVersionTable(dupkeys)), ReadFileBytes(VersionFixture("dupkeys.bin")));
    EXPECT_THROW(ParseVersionTable(QStringLiteral("Fixed FileVersion=1.2\n")), TException);
}

TEST(VersionReader, ProgramCarriesItsOwnVersionResource)
{
    // This test program links the same generated object as the program.
    const QString self = QCoreApplication::applicationFilePath();
    EXPECT_EQ(ReadVersionInfo(self), OwnVersionLines());

    // Its fixed part: file and product version 1.1.3.18, a Win32 application.
    const auto block = LoadVersionResource(self);
    ASSERT_TRUE(block && block->size() > 80);
    auto u32 = [&](int at) {
        quint32 v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | uchar(block->at(at + i));
        return v;
    };
    EXPECT_EQ(std::vector<quint32>({u32(48), u32(52), u32(56), u32(60), u32(72), u32(76)}),
              std::vector<quint32>({0x00010001u, 0x00030012u, 0x00010001u, 0x00030012u, 0x00040004u, 1u}));
}

TEST(VersionReader, BuiltProgramCarriesTheTwelveLines)
{
    const QString program = QString::fromUtf8(ProgramPath());
    if (!QFile::exists(program))
        GTEST_SKIP() << "build/dirnote is not built";
    ASSERT_TRUE(LoadVersionResource(program)) << "no version resource in " << program.toStdString();
    EXPECT_EQ(ReadVersionInfo(program), OwnVersionLines());
}

TEST(VersionReader, NothingToReadGivesAnEmptyList)
{
    TTempDir dir;
    const QByteArray block = ReadFileBytes(VersionFixture("standard.bin"));
    QByteArray lowerRoot = block;
    lowerRoot.replace(6, 30, Utf16(QStringLiteral("vs_version_info")));
    const QByteArray otherSection = MakeElfWithSection(".data", block);

    EXPECT_TRUE(ReadVersionInfo(QString()).isEmpty());
    EXPECT_TRUE(ReadVersionInfo(QString::fromUtf8(dir.FilePath("missing"))).isEmpty());
    EXPECT_TRUE(ReadVersionInfo(QString::fromUtf8(dir.Path())).isEmpty());
    EXPECT_TRUE(ReadVersionInfo(QString::fromUtf8(dir.WriteFile("empty", QByteArray()))).isEmpty());
    EXPECT_TRUE(ReadVersionInfo(QString::fromUtf8(dir.WriteFile("text", "CompanyName=nobody\n"))).isEmpty());
    EXPECT_TRUE(ReadVersionInfo(QString::fromUtf8(dir.WriteFile("other", otherSection))).isEmpty());
    EXPECT_TRUE(ReadBlockThroughElf(dir, lowerRoot).isEmpty());
    EXPECT_TRUE(ReadBlockThroughElf(dir, {}).isEmpty());
}

TEST(VersionReader, OnlyTheFirstStringTableIsRead)
{
    TVersionTable table;
    table.StringTables = {{QStringLiteral("040604E4"), {{QStringLiteral("ProductName"), QStringLiteral("Dansk")}}},
                          {QStringLiteral("040904E4"),
                           {{QStringLiteral("ProductName"), QStringLiteral("English")},
                            {QStringLiteral("Extra"), QStringLiteral("only here")}}}};
    table.Translations = {{0x406, 1252}, {0x409, 1252}};
    TTempDir dir;
    EXPECT_EQ(ReadBlockThroughElf(dir, BuildVersionBlock(table)), QStringList{QStringLiteral("ProductName=Dansk")});

    // A block whose fixed part is missing puts the first child elsewhere: not understood.
    QByteArray noFixed = BuildVersionBlock(table);
    noFixed.remove(40, 52);
    EXPECT_THROW(ReadBlockThroughElf(dir, noFixed), TException);
}

TEST(VersionReader, ParseLeavesTheListAloneOnErrorAndReplacesItOtherwise)
{
    QStringList lines{QStringLiteral("old=line")};
    EXPECT_THROW(ParseVersionBlock(ReadFileBytes(VersionFixture("varfirst.bin")), lines), TException);
    EXPECT_EQ(lines, QStringList{QStringLiteral("old=line")});
    ParseVersionBlock(ReadFileBytes(VersionFixture("standard.bin")), lines);
    EXPECT_EQ(lines, FixtureLines(VersionFixture("standard.txt")));
}

TEST(VersionReader, TruncatedBlocksAreReadUpToTheirEnd)
{
    const QByteArray block = ReadFileBytes(VersionFixture("standard.bin"));
    const QStringList expected = FixtureLines(VersionFixture("standard.txt"));
    for (qsizetype size = 0; size <= block.size(); ++size) {
        SCOPED_TRACE(size);
        const TExactCopy copy(block, size);
        QStringList lines;
        if (size < 98 + 28) { // "StringFileInfo" not yet whole
            EXPECT_THROW(ParseVersionBlock(copy.View(), lines), TException);
            continue;
        }
        ASSERT_NO_THROW(ParseVersionBlock(copy.View(), lines));
        ASSERT_LE(lines.size(), expected.size());
        // Every entry but one cut by the end reads in full; the cut one is a prefix of itself.
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            EXPECT_EQ(lines[i], expected[i]);
        if (!lines.isEmpty()) {
            const QString &last = lines.last();
            const QString &full = expected[lines.size() - 1];
            EXPECT_TRUE(full.startsWith(last.section(u'=', 0, 0)) || last == u"=") << last.toStdString();
        }
    }
    QStringList lines;
    ParseVersionBlock(TExactCopy(block, block.size()).View(), lines);
    EXPECT_EQ(lines, expected);
}

TEST(VersionReader, DamagedLengthsNeverLeadOutsideTheBlock)
{
    const QByteArray block = ReadFileBytes(VersionFixture("standard.bin"));
    auto patched = [&](qsizetype at, quint16 value) {
        QByteArray b = block;
        b[at] = char(value & 0xFF);
        b[at + 1] = char(value >> 8);
        return b;
    };
    auto parse = [](const QByteArray &b) {
        const TExactCopy copy(b, b.size());
        QStringList lines;
        ParseVersionBlock(copy.View(), lines);
        return lines;
    };
    const QStringList expected = FixtureLines(VersionFixture("standard.txt"));
    // The third entry (FileVersion, at 0x128) with length 0: the walk stops there.
    EXPECT_EQ(parse(patched(0x128, 0)), expected.mid(0, 2));
    // A first entry claiming the whole 64 KiB: one line, then past the end.
    EXPECT_EQ(parse(patched(152, 0xFFFF)), expected.mid(0, 1));
    // A string table claiming more than there is: the walk ends with the copy.
    const QStringList overlong = parse(patched(128, 0xFFFF));
    EXPECT_EQ(overlong.mid(0, expected.size()), expected);
    // A value without its terminator is cut at the entry's end; so is a key.
    QByteArray unterminated = block;
    unterminated.replace(0xdc, 2, "X\0", 2); // CompanyName's value terminator
    EXPECT_EQ(parse(unterminated).value(0), QStringLiteral("CompanyName=Example Tools Ltd.X"));
    // Random damage everywhere in the table: never a crash, never a read outside (sanitizer).
    for (qsizetype at = 128; at + 1 < block.size(); at += 2)
        for (quint16 value : {quint16(0), quint16(1), quint16(5), quint16(0x7FFF), quint16(0xFFFF)})
            (void)parse(patched(at, value));
}

TEST(ModuleResource, DamagedElfFilesGiveNothing)
{
    const QByteArray block = ReadFileBytes(VersionFixture("standard.bin"));
    for (bool is64 : {true, false})
        for (bool big : {false, true}) {
            const QByteArray elf = MakeElfWithSection(kVersionSectionName, block, is64, big);
            EXPECT_EQ(FindElfSection(elf, kVersionSectionName), block) << is64 << big;
            for (qsizetype size = 0; size < elf.size(); ++size) {
                const TExactCopy copy(elf, size);
                EXPECT_FALSE(FindElfSection(copy.View(), kVersionSectionName)) << size;
            }
        }
    const QByteArray elf = MakeElfWithSection(kVersionSectionName, block);
    auto patched = [&](qsizetype at, int width, quint64 value) {
        QByteArray b = elf;
        for (int i = 0; i < width; ++i)
            b[at + i] = char((value >> (8 * i)) & 0xFF);
        const TExactCopy copy(b, b.size());
        return FindElfSection(copy.View(), kVersionSectionName);
    };
    const qsizetype shoff = qsizetype(uchar(elf[0x28]) | uchar(elf[0x29]) << 8);
    EXPECT_FALSE(patched(0x28, 8, ~quint64(0) - 8));     // section table beyond the end
    EXPECT_FALSE(patched(0x3C, 2, 0xFFFF));              // more sections than fit
    EXPECT_FALSE(patched(0x3E, 2, 7));                   // name table index out of range
    EXPECT_FALSE(patched(shoff + 64 + 24, 8, 1u << 30)); // the section's data beyond the end
    EXPECT_FALSE(patched(shoff + 64, 4, 0xFFFFFF));      // its name beyond the name table
    EXPECT_FALSE(patched(shoff + 128 + 32, 8, 3));       // name table cut inside the name
}

TEST(ModuleResource, DamagedPeFilesGiveNothing)
{
    const QByteArray exe = ReadFileBytes(VersionFixture("tiny-with-version.exe"));
    ASSERT_TRUE(FindPeResource(exe, kRtVersion, 1));
    EXPECT_FALSE(FindPeResource(exe, kRtVersion, 2));
    EXPECT_FALSE(FindPeResource(ReadFileBytes(VersionFixture("tiny-without-version.exe")), kRtVersion, 1));
    for (qsizetype size = 0; size < exe.size(); size += (size < 1024 ? 1 : 7)) {
        const TExactCopy copy(exe, size);
        const auto found = FindPeResource(copy.View(), kRtVersion, 1);
        if (found) {
            EXPECT_EQ(*found, ReadFileBytes(VersionFixture("standard.bin"))) << size;
        }
    }
    // Every 32-bit field overwritten with a large offset: found or not, never outside the file.
    for (qsizetype at = 0; at + 4 <= qMin<qsizetype>(exe.size(), 4096); at += 2) {
        QByteArray b = exe;
        b.replace(at, 4, "\xf0\xff\xff\x7f", 4);
        const TExactCopy copy(b, b.size());
        (void)FindPeResource(copy.View(), kRtVersion, 1);
    }
}

TEST(MemoryStatus, FiguresAreFull64BitCounts)
{
    const QByteArray meminfo = "MemTotal:       65842348 kB\nMemFree:         1000000 kB\n"
                               "MemAvailable:   48000000 kB\nSwapTotal:      8388604 kB\nSwapFree:        8388000 kB\n";
    const QByteArray status = "Name:\ttest\nVmSize:\t  2097152 kB\n";
    const TMemoryStatus s = MemoryStatusFrom(meminfo, status, quint64(1) << 47);
    EXPECT_EQ(s.TotalPhys, 65842348ull * 1024);
    EXPECT_EQ(s.AvailPhys, 48000000ull * 1024);
    EXPECT_EQ(s.AvailPageFile, 8388000ull * 1024);
    EXPECT_EQ(s.TotalVirtual, quint64(1) << 47);
    EXPECT_EQ(s.AvailVirtual, (quint64(1) << 47) - 2097152ull * 1024);

    // Without MemAvailable: free memory and caches.
    const TMemoryStatus old = MemoryStatusFrom("MemTotal: 100 kB\nMemFree: 10 kB\nBuffers: 5 kB\nCached: 20 kB\n", {},
                                               0);
    EXPECT_EQ(old.AvailPhys, 35u * 1024);
    EXPECT_EQ(old.AvailVirtual, 0u);

    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(FormatByteCount(2147483648ull, english), QStringLiteral("2,147,483,648"));
    EXPECT_EQ(FormatByteCount(67422564352ull, english), QStringLiteral("67,422,564,352"));
    EXPECT_EQ(FormatByteCount(1234567, QLocale::c()), QStringLiteral("1,234,567"));

    const TMemoryStatus live = GlobalMemoryStatus();
    EXPECT_GT(live.TotalPhys, 0u);
    EXPECT_LE(live.AvailPhys, live.TotalPhys);
    EXPECT_LT(live.AvailVirtual, live.TotalVirtual);
}
